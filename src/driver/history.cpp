// The history file: its header of parameters and its diagnostic lines,
// each written whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "driver/console.hpp"
#include "driver/file_io.hpp"
#include "driver/files.hpp"

namespace qel {

using file_io::reason;

std::string history_name(std::string_view dirnam) { return std::string(dirnam) + "/qel.hist"; }

History::~History() {
  if (fd_ >= 0) ::close(fd_);
}

void History::fail(const char* what) {
  const int err = errno;
  throw Stop(2, std::string("cannot ") + what + " history file " + name_ + ": " + reason(err));
}

void History::create(const std::string& name, const Par& par) {
  name_ = name;
  // One double per line, in the rendering of a record that holds only it.
  std::string text;
  for (const double x : file_io::par_values(par)) text += " " + list_real(x) + "\n";
  fd_ = replace_file(name, text, true);
  size_ = std::int64_t(text.size());
}

void History::open_existing(const std::string& name) {
  name_ = name;
  fd_ = ::open(name.c_str(), O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) fail("open");
  struct stat st {};
  if (::fstat(fd_, &st) != 0) fail("read");
  if (!S_ISREG(st.st_mode))
    throw Stop(2, "history file " + name + " is not a regular file" +
                      (S_ISDIR(st.st_mode) ? " (it is a directory)" : ""));
  size_ = std::int64_t(st.st_size);
}

namespace {

// Whether a history's last line, which lost only its line end, is whole: a
// header value (26 characters holding one number) or a diagnostic line (77
// characters holding eight).
bool whole_line(const std::string& text) {
  if (text.size() != 26 && text.size() != 77) return false;
  std::istringstream in(text);
  int values = 0;
  for (double x; in >> x;) ++values;
  return in.eof() && values == (text.size() == 26 ? 1 : 8);
}

}  // namespace

std::string History::repair() {
  if (size_ == 0) return "";
  std::string all(std::size_t(size_), '\0');
  if (::pread(fd_, all.data(), all.size(), 0) != ssize_t(all.size())) fail("read");
  // The end of the last whole line.
  const std::size_t last = all.rfind('\n');
  const std::int64_t end = last == std::string::npos ? 0 : std::int64_t(last + 1);
  if (end == size_) return "";
  const std::string tail = all.substr(std::size_t(end));
  if (whole_line(tail)) {
    // Only the line end was lost: it is added.
    if (!file_io::write_all(fd_, reinterpret_cast<const unsigned char*>("\n"), 1)) fail("repair");
    size_ += 1;
    return "history file " + name_ + " ended without the line end of its last line; it was added";
  }
  if (::ftruncate(fd_, off_t(end)) != 0) fail("repair");
  size_ = end;
  return "history file " + name_ + " ended in an incomplete line of " +
         std::to_string(tail.size()) +
         " characters (a write cut short); it was cut back to its last whole line";
}

void History::line(std::string_view text) {
  std::string buf(text);
  buf += '\n';
  if (!file_io::write_all(fd_, reinterpret_cast<const unsigned char*>(buf.data()), buf.size())) {
    const int err = errno;
    // Not a partial line: back to the end of the last whole one.
    if (::ftruncate(fd_, off_t(size_)) == 0) ::lseek(fd_, off_t(size_), SEEK_SET);
    errno = err;
    fail("write");
  }
  size_ += std::int64_t(buf.size());
}

}  // namespace qel
