// The files of an experiment directory: the dumps (dump.cpp), the history
// (history.cpp), the atomic replacement of a file that holds a user's work,
// "qel.input" among them (atomic_file.cpp), and the directory's lock
// (dir_lock.cpp).
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
#include <iosfwd>
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

// Whether a file name is "qel" + a stamp (digits, a leading minus allowed)
// + ext: a dump (".dat") or its companion (".lev").
bool stamped_name(std::string_view name, std::string_view ext);

// dirnam + "/qel.hist".
std::string history_name(std::string_view dirnam);

// A dump is due when the step from t0 to t crossed a multiple of tdump:
// int(t / tdump) > int(t0 / tdump) with the reciprocal formed first. Never
// due for tdump <= 0 or NaN (the first-step dump is the caller's).
bool dump_crossed(double t0, double t, double tdump);

// Writes the dump record of s to `name` with write_atomically, so that a
// failure leaves any earlier file of that name intact. Throws Stop (status 2)
// naming the file ("dump file NAME") and the reason.
// Returns the FNV-1a digest of the file's bytes.
std::uint64_t write_dump(const State& s, const std::string& name);

// Reads a dump into s (par, b, bdf, psi, zeta, u, v, w, visc, r, z) after
// checking its size and both length markers; on any failure throws Stop
// (status 2) naming the file and what was found, and leaves s untouched.
// Returns the FNV-1a digest of the file's bytes.
std::uint64_t read_dump(State& s, const std::string& name);

// The whole contents of a regular file, opened without blocking: a
// directory, FIFO, device or socket is refused, as is a missing or
// unreadable file. `what` names the file in messages ("parameter file").
// Throws Stop (status 2).
std::string read_regular_file(const std::string& path, std::string_view what);

// The file a name stands for: symbolic links followed to their final target
// (which need not exist yet), relative targets taken from the link's directory.
std::string link_target(const std::string& path);

// Replaces `target` by `bytes` as one step: written to a temporary file
// target + ".XXXXXX" in the same directory (its name held for the interrupt
// handler, which removes it), written whole, given the permissions of the
// regular file it replaces (of an ordinary new file when there is none),
// synced to disc and renamed over the target. A failure at any stage removes the
// temporary and leaves the previous file whole; it throws Stop (status 2)
// "cannot write LABEL: reason". With `keep_open` the descriptor of the new
// file is returned, positioned at its end; otherwise -1. A symbolic link at
// `target` is replaced itself, not followed.
int write_atomically(const std::string& target, std::string_view bytes, std::string_view label,
                     bool keep_open = false);

// Replaces the file at `path` (through symbolic links, at their target) with
// `text` by write_atomically, the new file keeping the mode of the old one.
// An existing target that is not a regular file is refused. With `keep_open`
// the descriptor of the new file is returned, positioned at its end;
// otherwise -1. Throws Stop (status 2) naming `path` and the reason.
int replace_file(const std::string& path, std::string_view text, bool keep_open = false);

// An advisory lock (flock) on the experiment directory itself, held while the
// object lives, so that two runs never write into one directory. A directory
// locked by another process is refused at once (Stop, status 2); where the
// file system cannot lock, a warning goes to `err` and the run goes ahead.
class DirLock {
 public:
  DirLock() = default;
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;
  ~DirLock();
  void take(const std::string& dir, std::ostream& err, std::string_view program);
  // The descriptor of the directory, open while the lock is held (-1 before).
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// The history file, open for writing until the end of the run. Lines are
// written whole or not at all: a failed write is cut back to the last whole line.
class History {
 public:
  History() = default;
  History(const History&) = delete;
  History& operator=(const History&) = delete;
  ~History();

  // Fresh start: replaces the file (atomically, through links) by the header
  // of 100 list-directed lines, the members of `par` in order.
  void create(const std::string& name, const Par& par);
  // Restart: opens the existing regular file (no header). A missing file is
  // an error. Nothing is written yet.
  void open_existing(const std::string& name);
  // Restart, once the run goes ahead: a last line without its line end (a
  // write cut short) is cut off. Returns a note saying so, or "".
  std::string repair();
  // Writes one line and its line end to the file at once.
  void line(std::string_view text);
  bool is_open() const { return fd_ >= 0; }

 private:
  [[noreturn]] void fail(const char* what);
  int fd_ = -1;
  std::int64_t size_ = 0;  // the end of the last whole line
  std::string name_;
};

}  // namespace qel
