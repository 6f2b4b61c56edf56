#include <iostream>

#include "model/state.hpp"
#include "qeltool/qeltool.hpp"

#include <signal.h>

int main(int argc, char** argv) {
  // A closed pipe or a file-size limit is an ordinary write error.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  // The same floating-point environment as qeln, for the runs of `run`.
  qel::set_flush_to_zero();
  return qel::tool::qeltool(qel::tool::Args(argv + 1, argv + argc), std::cout, std::cerr);
}
