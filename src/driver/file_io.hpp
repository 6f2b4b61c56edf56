// The plain descriptor input and output the files of an experiment share
// (internal to the driver's file routines).
#pragma once

#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "model/state.hpp"

namespace qel::file_io {

inline std::string reason(int err) { return std::strerror(err); }

// FNV-1a 64-bit digest of n bytes: ties a dump's companion to the dump.
inline std::uint64_t fnv1a(const unsigned char* p, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull;
  for (std::size_t k = 0; k < n; ++k) {
    h ^= p[k];
    h *= 1099511628211ull;
  }
  return h;
}

// Writes all of buf to fd, resuming after partial writes and interrupts.
bool write_all(int fd, const unsigned char* buf, std::size_t n);

// Reads exactly n bytes; false with errno set on failure, errno 0 when the
// file ended first.
bool read_all(int fd, unsigned char* buf, std::size_t n);

// Closes the descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// The parameter record as its 100 doubles.
inline std::array<double, 100> par_values(const Par& par) {
  std::array<double, 100> x;
  static_assert(sizeof(x) == sizeof(Par));
  std::memcpy(x.data(), &par, sizeof(Par));
  return x;
}

}  // namespace qel::file_io
