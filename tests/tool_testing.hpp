// The two programs called in-process, for the tests that link qeltool.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "driver/qeln.hpp"
#include "files_testing.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::testing {

// qeltool with `args`, or with `answers` qeln's dialogue answered by hand.
inline Result call(const std::vector<std::string>& args, const std::string& answers = "") {
  std::istringstream in(answers);
  std::ostringstream out, err;
  const int status = answers.empty() ? tool::qeltool(args, out, err) : run(in, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace qel::testing
