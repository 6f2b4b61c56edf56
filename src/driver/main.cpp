#include <iostream>

#include "driver/qeln.hpp"
#include "model/state.hpp"

int main(int argc, char** argv) {
  qel::set_flush_to_zero();
  return qel::run_command(argc, argv, std::cin, std::cout, std::cerr);
}
