#include <iostream>

#include "model/state.hpp"
#include "qeltool/qeltool.hpp"

int main(int argc, char** argv) {
  // The same floating-point environment as qeln, for the runs of `run`.
  qel::set_flush_to_zero();
  return qel::tool::qeltool(qel::tool::Args(argv + 1, argv + argc), std::cout, std::cerr);
}
