#include "driver/files.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <vector>

#include "driver/console.hpp"
#include "driver/signals.hpp"

namespace qel {

namespace {

std::string reason(int err) { return std::strerror(err); }

// Little-endian encoding of the record, independent of the host byte order.
void put_u32(unsigned char* at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) at[k] = static_cast<unsigned char>(v >> (8 * k));
}

std::uint32_t get_u32(const unsigned char* at) {
  std::uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= std::uint32_t(at[k]) << (8 * k);
  return v;
}

unsigned char* put_doubles(unsigned char* at, const double* x, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, x, n * sizeof(double));
  } else {
    for (std::size_t m = 0; m < n; ++m) {
      const auto bits = std::bit_cast<std::uint64_t>(x[m]);
      for (int k = 0; k < 8; ++k) at[8 * m + k] = static_cast<unsigned char>(bits >> (8 * k));
    }
  }
  return at + n * sizeof(double);
}

const unsigned char* get_doubles(const unsigned char* at, double* x, std::size_t n) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(x, at, n * sizeof(double));
  } else {
    for (std::size_t m = 0; m < n; ++m) {
      std::uint64_t bits = 0;
      for (int k = 0; k < 8; ++k) bits |= std::uint64_t(at[8 * m + k]) << (8 * k);
      x[m] = std::bit_cast<double>(bits);
    }
  }
  return at + n * sizeof(double);
}

// The parameter record as its 100 doubles.
std::array<double, 100> par_values(const Par& par) {
  std::array<double, 100> x;
  static_assert(sizeof(x) == sizeof(Par));
  std::memcpy(x.data(), &par, sizeof(Par));
  return x;
}

// The fields of the record after the parameters, in their order; the same
// list serves writing (const state) and reading.
template <class S, class F>
void for_each_field(S& s, F&& item) {
  for (auto* f : {&s.fields.b, &s.fields.bdf, &s.fields.psi, &s.fields.zeta, &s.fields.u,
                  &s.fields.v, &s.fields.w, &s.fields.visc})
    item(f->data(), Field::size());
  item(s.basic.r.data(), Array1<NR>::size());
  item(s.basic.z.data(), Array1<NR>::size());
}

// Writes all of buf to fd, resuming after partial writes and interrupts.
bool write_all(int fd, const unsigned char* buf, std::size_t n) {
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

// Reads exactly n bytes; false with errno set on failure, errno 0 when the
// file ended first.
bool read_all(int fd, unsigned char* buf, std::size_t n) {
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

// Closes the descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::int64_t dump_stamp(double time) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / 10;
  const double h = std::trunc(100.0 * time);
  if (std::isnan(h)) return 0;
  if (h >= double(kMax)) return 10 * kMax;
  if (h <= -double(kMax)) return -10 * kMax;
  return 10 * static_cast<std::int64_t>(h);
}

std::string stamp_text(std::int64_t stamp) {
  // Magnitude as unsigned so that the most negative value is safe too.
  const std::uint64_t mag = stamp < 0 ? 0 - std::uint64_t(stamp) : std::uint64_t(stamp);
  std::string digits = std::to_string(mag);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return stamp < 0 ? "-" + digits : digits;
}

std::string dump_name(std::string_view dirnam, std::int64_t stamp) {
  return std::string(dirnam) + "/qel" + stamp_text(stamp) + ".dat";
}

std::string history_name(std::string_view dirnam) { return std::string(dirnam) + "/qel.hist"; }

bool dump_crossed(double t0, double t, double tdump) {
  if (!(tdump > 0.0)) return false;
  const double rdump = 1.0 / tdump;
  return std::trunc(t * rdump) > std::trunc(t0 * rdump);
}

void write_dump(const State& s, const std::string& name) {
  std::vector<unsigned char> rec(kDumpFileSize);
  put_u32(rec.data(), kDumpPayload);
  const std::array<double, 100> pv = par_values(s.par);
  unsigned char* at = put_doubles(rec.data() + 4, pv.data(), pv.size());
  for_each_field(s, [&](const double* x, std::size_t n) { at = put_doubles(at, x, n); });
  put_u32(at, kDumpPayload);

  auto failure = [&](int err) {
    return Stop(2, "cannot write dump file " + name + ": " + reason(err));
  };
  std::string tmp = name + ".XXXXXX";
  Fd f;
  f.fd = make_temp(tmp);
  if (f.fd < 0) throw failure(errno);
  // The temporary file gets the permissions of an ordinary new file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  bool ok = ::fchmod(f.fd, 0666 & ~mask) == 0 && write_all(f.fd, rec.data(), rec.size()) &&
            ::fsync(f.fd) == 0;
  if (ok) {
    const int fd = f.fd;
    f.fd = -1;
    ok = ::close(fd) == 0 && rename_temp(tmp, name) == 0;
  }
  if (!ok) {
    const int err = errno;
    remove_temp(tmp);
    throw failure(err);
  }
}

void read_dump(State& s, const std::string& name) {
  Fd f;
  // Without blocking, so that a FIFO under the name cannot hang the program.
  f.fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (f.fd < 0) throw Stop(2, "cannot open restart file " + name + ": " + reason(errno));
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) throw Stop(2, "cannot read restart file " + name + ": " + reason(errno));
  if (!S_ISREG(st.st_mode))
    throw Stop(2, "restart file " + name + " is not a regular file" +
                      (S_ISDIR(st.st_mode) ? " (it is a directory)" : ""));

  const auto size = static_cast<std::uint64_t>(st.st_size);
  std::vector<unsigned char> rec(size == kDumpFileSize ? kDumpFileSize : (size < 4 ? size : 4));
  if (!read_all(f.fd, rec.data(), rec.size())) {
    const int err = errno;
    throw Stop(2, "cannot read restart file " + name + ": " +
                      (err != 0 ? reason(err) : std::string("it ended early")));
  }

  // What the file holds, against the framing of a dump.
  std::string found;
  auto note = [&](const std::string& what) { found += (found.empty() ? "" : "; ") + what; };
  if (size != kDumpFileSize)
    note("it holds " + std::to_string(size) + " bytes where a dump holds " +
         std::to_string(kDumpFileSize));
  if (size >= 4) {
    const std::uint32_t lead = get_u32(rec.data());
    if (lead == __builtin_bswap32(kDumpPayload))
      note("its length marker is in big-endian byte order (dumps are little-endian)");
    else if (lead != kDumpPayload)
      note("its leading length marker is " + std::to_string(lead) + " where " +
           std::to_string(kDumpPayload) + " was expected");
  }
  if (size == kDumpFileSize) {
    const std::uint32_t trail = get_u32(rec.data() + 4 + kDumpPayload);
    if (trail != kDumpPayload && get_u32(rec.data()) == kDumpPayload)
      note("its trailing length marker is " + std::to_string(trail) + " where " +
           std::to_string(kDumpPayload) + " was expected");
  }
  if (!found.empty()) throw Stop(2, "restart file " + name + " is not a dump of this model: " + found);

  std::array<double, 100> pv;
  const unsigned char* at = get_doubles(rec.data() + 4, pv.data(), pv.size());
  std::memcpy(&s.par, pv.data(), sizeof(Par));
  for_each_field(s, [&](double* x, std::size_t n) { at = get_doubles(at, x, n); });
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

int replace_file(const std::string& path, std::string_view text, bool keep_open) {
  const std::string target = link_target(path);
  auto fail = [&](int err) { return Stop(2, "cannot write " + path + ": " + reason(err)); };
  struct stat st {};
  mode_t mode;
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode))
      throw Stop(2, "cannot write " + path + ": " +
                        (target == path ? std::string("it") : "its target " + target) +
                        (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file"));
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::string tmp = target + ".XXXXXX";
  Fd f;
  f.fd = make_temp(tmp);
  if (f.fd < 0) throw fail(errno);
  bool ok = ::fchmod(f.fd, mode) == 0 &&
            write_all(f.fd, reinterpret_cast<const unsigned char*>(text.data()), text.size()) &&
            ::fsync(f.fd) == 0;
  // Closed before the rename unless the caller goes on writing to it.
  if (ok && !keep_open) {
    const int fd = f.fd;
    f.fd = -1;
    ok = ::close(fd) == 0;
  }
  if (!ok || rename_temp(tmp, target) != 0) {
    const int err = errno;
    remove_temp(tmp);
    throw fail(err);
  }
  const int fd = f.fd;
  f.fd = -1;
  return fd;
}

DirLock::~DirLock() {
  if (fd_ >= 0) ::close(fd_);
}

void DirLock::take(const std::string& dir, std::ostream& err, std::string_view program) {
  fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) throw Stop(2, "cannot use directory '" + dir + "': " + reason(errno));
  if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
  const int e = errno;
  if (e == EWOULDBLOCK)
    throw Stop(2, "directory '" + dir +
                      "' is in use by another run (qeln, qeltool run or qeltool init); wait "
                      "for it to end or use another directory");
  // Some network file systems cannot lock: run, but say that nothing guards
  // the directory.
  err << program << ": warning: cannot lock directory '" << dir << "' (" << reason(e)
      << "); nothing stops a second run from writing there at the same time\n";
}

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
  for (const double x : par_values(par)) text += " " + list_real(x) + "\n";
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

std::string History::repair() {
  if (size_ == 0) return "";
  // Back from the end to the last line end.
  std::int64_t end = size_;
  unsigned char buf[4096];
  while (end > 0) {
    const std::int64_t from = end > std::int64_t(sizeof buf) ? end - std::int64_t(sizeof buf) : 0;
    const std::size_t n = std::size_t(end - from);
    if (::pread(fd_, buf, n, off_t(from)) != ssize_t(n)) fail("read");
    std::size_t k = n;
    while (k > 0 && buf[k - 1] != '\n') --k;
    if (k > 0) {
      end = from + std::int64_t(k);
      break;
    }
    end = from;
  }
  if (end == size_) return "";
  const std::int64_t cut = size_ - end;
  if (::ftruncate(fd_, off_t(end)) != 0) fail("repair");
  size_ = end;
  return "history file " + name_ + " ended in an incomplete line of " + std::to_string(cut) +
         " characters (a write cut short); it was cut back to its last whole line";
}

void History::line(std::string_view text) {
  std::string buf(text);
  buf += '\n';
  if (!write_all(fd_, reinterpret_cast<const unsigned char*>(buf.data()), buf.size())) {
    const int err = errno;
    // Not a partial line: back to the end of the last whole one.
    if (::ftruncate(fd_, off_t(size_)) == 0) ::lseek(fd_, off_t(size_), SEEK_SET);
    errno = err;
    fail("write");
  }
  size_ += std::int64_t(buf.size());
}

}  // namespace qel
