#include <iostream>

#include "driver/qeln.hpp"
#include "driver/state.hpp"

int main() {
  qel::set_flush_to_zero();
  return qel::run(std::cin, std::cout, std::cerr);
}
