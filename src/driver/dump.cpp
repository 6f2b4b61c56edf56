// The dump record: its stamp and name, writing it whole and reading it back
// after checking its framing.
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "driver/file_io.hpp"
#include "driver/files.hpp"

namespace qel {

using file_io::Fd;
using file_io::reason;

namespace {

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

bool dump_crossed(double t0, double t, double tdump) {
  if (!(tdump > 0.0)) return false;
  const double rdump = 1.0 / tdump;
  return std::trunc(t * rdump) > std::trunc(t0 * rdump);
}

bool stamped_name(std::string_view name, std::string_view ext) {
  if (name.size() < 3 + ext.size() || !name.starts_with("qel") || !name.ends_with(ext)) return false;
  const std::string_view stamp = name.substr(3, name.size() - 3 - ext.size());
  const std::size_t sign = stamp.starts_with('-') ? 1 : 0;
  return stamp.size() > sign && stamp.find_first_not_of("0123456789", sign) == std::string_view::npos;
}

std::uint64_t write_dump(const State& s, const std::string& name) {
  std::vector<unsigned char> rec(kDumpFileSize);
  put_u32(rec.data(), kDumpPayload);
  const std::array<double, 100> pv = file_io::par_values(s.par);
  unsigned char* at = put_doubles(rec.data() + 4, pv.data(), pv.size());
  for_each_field(s, [&](const double* x, std::size_t n) { at = put_doubles(at, x, n); });
  put_u32(at, kDumpPayload);
  write_atomically(name, std::string_view(reinterpret_cast<const char*>(rec.data()), rec.size()),
                   "dump file " + name);
  return file_io::fnv1a(rec.data(), rec.size());
}

std::uint64_t read_dump(State& s, const std::string& name) {
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
  if (!file_io::read_all(f.fd, rec.data(), rec.size())) {
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
  return file_io::fnv1a(rec.data(), rec.size());
}

}  // namespace qel
