#include <iostream>

#include "driver/qeln.hpp"
#include "model/state.hpp"

#include <signal.h>

int main(int argc, char** argv) {
  // A closed pipe or a file-size limit is an ordinary write error.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  qel::set_flush_to_zero();
  return qel::run_command(argc, argv, std::cin, std::cout, std::cerr);
}
