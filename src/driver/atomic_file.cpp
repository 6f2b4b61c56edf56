// Whole files: reading a regular file, following links to the file a name
// stands for, and replacing a file atomically through a temporary beside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "driver/file_io.hpp"
#include "driver/files.hpp"
#include "driver/signals.hpp"

namespace qel {

using file_io::Fd;
using file_io::reason;

bool file_io::write_all(int fd, const unsigned char* buf, std::size_t n) {
  while (n > 0) {
    const ssize_t k = ::write(fd, buf, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    buf += k;
    n -= std::size_t(k);
  }
  return true;
}

bool file_io::read_all(int fd, unsigned char* buf, std::size_t n) {
  while (n > 0) {
    const ssize_t k = ::read(fd, buf, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (k == 0) {
      errno = 0;
      return false;
    }
    buf += k;
    n -= std::size_t(k);
  }
  return true;
}

std::string read_regular_file(const std::string& path, std::string_view what) {
  const std::string label = std::string(what) + " " + path;
  Fd f;
  f.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (f.fd < 0) throw Stop(2, "cannot open " + label + ": " + reason(errno));
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) throw Stop(2, "cannot read " + label + ": " + reason(errno));
  if (S_ISDIR(st.st_mode)) throw Stop(2, label + " is a directory, not a file");
  if (!S_ISREG(st.st_mode))
    throw Stop(2, label + " is not a regular file (a FIFO, device or socket is not read)");
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t k = ::read(f.fd, buf, sizeof buf);
    if (k < 0) {
      if (errno == EINTR) continue;
      throw Stop(2, "cannot read " + label + ": " + reason(errno));
    }
    if (k == 0) break;
    text.append(buf, std::size_t(k));
  }
  return text;
}

std::string link_target(const std::string& path) {
  std::string p = path;
  // The kernel's own limit on links followed in one path.
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    std::string to(std::size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(p.c_str(), to.data(), to.size());
    if (n < 0 || std::size_t(n) >= to.size()) return p;
    to.resize(std::size_t(n));
    if (to.starts_with('/')) {
      p = to;
    } else {
      const std::size_t slash = p.rfind('/');
      p = slash == std::string::npos ? to : p.substr(0, slash + 1) + to;
    }
  }
  return p;
}

int write_atomically(const std::string& target, std::string_view bytes, std::string_view label,
                     bool keep_open) {
  auto failure = [&](int err) {
    return Stop(2, "cannot write " + std::string(label) + ": " + reason(err));
  };
  // The permissions of the regular file replaced, else those of an ordinary
  // new file.
  struct stat st {};
  mode_t mode;
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  // The temporary's name is recorded for the interrupt handler until the
  // rename or its removal.
  std::string tmp = target + ".XXXXXX";
  Fd f;
  f.fd = make_temp(tmp);
  if (f.fd < 0) throw failure(errno);
  bool ok = file_io::write_all(f.fd, reinterpret_cast<const unsigned char*>(bytes.data()),
                               bytes.size()) &&
            ::fchmod(f.fd, mode) == 0 && ::fsync(f.fd) == 0;
  // Closed before the rename unless the caller goes on writing to it.
  if (ok && !keep_open) {
    const int fd = f.fd;
    f.fd = -1;
    ok = ::close(fd) == 0;
  }
  if (!ok || rename_temp(tmp, target) != 0) {
    const int err = errno;
    remove_temp(tmp);
    throw failure(err);
  }
  const int fd = f.fd;
  f.fd = -1;
  return fd;
}

namespace {

// Whether a temporary file can be made beside `target` (made and removed at
// once), and if not the reason.
int temporary_refused(const std::string& target) {
  std::string probe = target + ".XXXXXX";
  const int fd = make_temp(probe);
  if (fd < 0) return errno;
  ::close(fd);
  remove_temp(probe);
  return 0;
}

// The target of a link, rewritten where it stands: truncated and written
// whole, then synced. Not atomic, so only where its directory admits no
// temporary file.
int rewrite_in_place(const std::string& path, const std::string& target, std::string_view text,
                     bool keep_open, int refused) {
  Fd f;
  f.fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  const bool ok = f.fd >= 0 &&
                  file_io::write_all(f.fd, reinterpret_cast<const unsigned char*>(text.data()),
                                     text.size()) &&
                  ::fsync(f.fd) == 0;
  if (!ok)
    throw Stop(2, "cannot write " + path + ": the directory of its target " + target +
                      " refuses a temporary file (" + reason(refused) +
                      "), and the target cannot be rewritten in place either (" +
                      reason(errno) + ")");
  if (!keep_open) return -1;
  const int fd = f.fd;
  f.fd = -1;
  return fd;
}

}  // namespace

int replace_file(const std::string& path, std::string_view text, bool keep_open) {
  const std::string target = link_target(path);
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode))
    throw Stop(2, "cannot write " + path + ": " +
                      (target == path ? std::string("it") : "its target " + target) +
                      (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file"));
  // A link to a file the user may write, in a directory the user may not:
  // the target is rewritten where it stands.
  if (target != path && exists) {
    if (const int refused = temporary_refused(target); refused == EACCES || refused == EPERM)
      return rewrite_in_place(path, target, text, keep_open, refused);
  }
  return write_atomically(target, text, path, keep_open);
}

}  // namespace qel
