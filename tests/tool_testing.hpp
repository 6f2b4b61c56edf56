// The two programs called in-process, and the experiment directories and
// runs of qeltool the tests of its subcommands and of restarts share.
#pragma once

#include <algorithm>
#include <filesystem>
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

// A directory `sub` of root holding the qel.input of examples/`example`.
inline std::string experiment(const TempDir& root, const std::string& sub, const std::string& example = "rest") {
  const std::filesystem::path dir = root.path / sub;
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(std::filesystem::path(QEL_SOURCE_DIR) / "examples" / example / "qel.input",
                             dir / "qel.input");
  return dir.string();
}

// qeltool run in dir from dump `stamp` ("" starts fresh) to `until`, with
// the dump and diagnostic intervals and then `more` (parameter changes).
inline Result run_to(const std::string& dir, const std::string& stamp, const std::string& until,
                     const std::string& dump, const std::string& diag, const std::vector<std::string>& more = {}) {
  std::vector<std::string> a = {"run", dir};
  if (!stamp.empty()) a.insert(a.end(), {"--restart", stamp});
  a.insert(a.end(), {"--until", until, "--dump-every", dump, "--diag-every", diag});
  a.insert(a.end(), more.begin(), more.end());
  return call(a);
}

// The names of the dumps in dir, in order of their stamps.
inline std::vector<std::string> dumps(const std::string& dir) {
  std::vector<std::string> v;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".dat") v.push_back(e.path().filename().string());
  std::ranges::sort(v);
  return v;
}

}  // namespace qel::testing
