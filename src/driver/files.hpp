// The files of an experiment directory besides "qel.input": the dumps and the
// history.
//
// Dump "qel" + stamp + ".dat": one length-framed record, a 4-byte
// little-endian length 532240, the payload, the same length again. Payload,
// little-endian doubles, arrays column-major: par (100 values), b, bdf, psi,
// zeta, u, v, w, visc (91 x 91 each), r, z (91 each).
// History "qel.hist": on a fresh start 100 header lines (one list-directed
// double each: the parameter record), then one diagnostic line per interval.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "model/state.hpp"

namespace qel {

inline constexpr std::uint32_t kDumpPayload = 532240;
inline constexpr std::size_t kDumpFileSize = kDumpPayload + 8;

// The stamp of a dump written at model time t: 10 * int(100 t), the model
// time in thousandths truncated to whole hundredths. Truncation toward zero
// in double precision, saturated at the 64-bit range; NaN gives 0.
std::int64_t dump_stamp(double time);

// The stamp as it appears in a file name: six digits with leading zeros, as
// many digits as needed beyond 999999; a negative stamp keeps its sign.
std::string stamp_text(std::int64_t stamp);

// dirnam + "/qel" + stamp_text(stamp) + ".dat".
std::string dump_name(std::string_view dirnam, std::int64_t stamp);

// dirnam + "/qel.hist".
std::string history_name(std::string_view dirnam);

// A dump is due when the step from t0 to t crossed a multiple of tdump:
// int(t / tdump) > int(t0 / tdump) with the reciprocal formed first. Never
// due for tdump <= 0 or NaN (the first-step dump is the caller's).
bool dump_crossed(double t0, double t, double tdump);

// Writes the dump record of s to `name` through a temporary file in the same
// directory renamed over it, so that a failure leaves any earlier file of
// that name intact. Throws Stop (status 2) naming the file and the reason.
void write_dump(const State& s, const std::string& name);

// Reads a dump into s (par, b, bdf, psi, zeta, u, v, w, visc, r, z) after
// checking its size and both length markers; on any failure throws Stop
// (status 2) naming the file and what was found, and leaves s untouched.
void read_dump(State& s, const std::string& name);

// The history file, open for writing until the end of the run.
class History {
 public:
  History() = default;
  History(const History&) = delete;
  History& operator=(const History&) = delete;
  ~History();

  // Fresh start: creates or empties the file and writes the header of 100
  // list-directed lines, the members of `par` in order.
  void create(const std::string& name, const Par& par);
  // Restart: opens the existing file for appending (no header). A missing
  // file is an error.
  void append_to(const std::string& name);
  // Writes one line and pushes it to the file at once.
  void line(std::string_view text);
  bool is_open() const { return f_ != nullptr; }

 private:
  void fail(const char* what);
  std::FILE* f_ = nullptr;
  std::string name_;
};

}  // namespace qel
