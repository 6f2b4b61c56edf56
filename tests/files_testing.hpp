// Temporary directories and whole-file reads and writes for the tests of
// the driver's files.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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

// The exit status and the two output streams of one call of a program.
struct Result {
  int status;
  std::string out, err;
};

// Every entry under a directory by its relative name: kind, mode, size and
// content (a link's target); equal snapshots mean nothing changed.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    std::string v = std::to_string(st.st_mode) + " ";
    if (S_ISREG(st.st_mode)) v += std::to_string(st.st_size) + " " + slurp(e.path());
    if (S_ISLNK(st.st_mode)) v += std::filesystem::read_symlink(e.path()).string();
    m[std::filesystem::relative(e.path(), dir).string()] = v;
  }
  return m;
}

// Whether the source tree the tests were built from knows its revision: a
// git checkout, or an archive whose cmake/archive-revision.txt git filled in
// (a plain copy holds the placeholder and builds as "unknown").
#ifdef QEL_SOURCE_DIR
inline bool source_revision_known() {
  const std::filesystem::path src(QEL_SOURCE_DIR);
  return std::filesystem::exists(src / ".git") ||
         !slurp(src / "cmake/archive-revision.txt").starts_with("$Format");
}
#endif

}  // namespace qel::testing
