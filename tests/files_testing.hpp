// Temporary directories and whole-file reads and writes for the tests of
// the driver's files.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace qel::testing {

// A fresh directory under the system's temporary directory, removed with
// everything in it at the end of the test.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "qel-test-XXXXXX").string();
    if (::mkdtemp(t.data()) == nullptr) throw std::runtime_error("cannot make a temporary directory");
    path = t;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string file(const std::string& name) const { return (path / name).string(); }
};

inline std::string slurp(const std::filesystem::path& name) {
  std::ifstream f(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

inline void put(const std::filesystem::path& name, const std::string& bytes) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << bytes;
}

}  // namespace qel::testing
