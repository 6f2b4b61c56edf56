// The companion of a dump, "qelNNNNNN.lev": what the next step needs that the
// dump lacks, so that a restart continues a run exactly as if it had not
// stopped.
//
// Little-endian, one record: the 8 bytes "QELLEV01"; 64-bit words: the
// FNV-1a digest of the dump file it belongs to, the grid sizes nr and nz,
// the older tendency levels present (0, 1 or 2: the next step integrates
// over one more); doubles: the core (USEPRIM), dtold1, dtold2, the time
// accumulated since the last diagnostic line; then the two older levels of
// the tendencies of zeta (u), b, v and w, nr x nz doubles each, the newer
// first; last, the FNV-1a digest of everything before it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/state.hpp"

namespace qel {

// What the driver carries from step to step besides the model state.
struct StepCarry {
  int kold = 2, kolder = 3;      // slots of the two older tendency levels
  std::int32_t levels = 0;       // older levels present (the step count, capped at 2)
  double tacc = 0.0;             // time since the last diagnostic line
  double dtold1 = 1.0, dtold2 = 1.0;  // the last two steps
};

// dirnam + "/qel" + stamp_text(stamp) + ".lev".
std::string levels_name(std::string_view dirnam, std::int64_t stamp);

// Writes to `name` atomically the companion of the dump `dump` whose bytes
// have the digest `digest` (as write_dump returns it). Throws Stop (status
// 2) naming the file on failure.
void write_levels(const State& s, const StepCarry& c, std::uint64_t digest, const std::string& dump,
                  const std::string& name);

// Reads the companion `name` of dump `dump` (its bytes' digest as read_dump
// returns it) into the tendency slots 2 and 3
// of s and into c (kold = 2, kolder = 3). Returns "" when it was
// applied; otherwise, leaving s and c untouched, why it cannot be used, in
// a user's words ("missing" when there is no such file).
std::string read_levels(State& s, StepCarry& c, std::uint64_t digest, const std::string& dump,
                        const std::string& name);

}  // namespace qel
