// The schedule of one block-tridiagonal solve, built once with the roots.
//
// Within a level of the cyclic reduction the operators of different rows are
// mutually independent. They are run side by side in groups of 1, 2, 4, ..
// kBlkLanes lanes, vectors interleaved as v[j * lanes + lane]. Each operator is a
// fixed sequence of slots that depends only on its roots: an optional
// scaling y = s w, a shifted tridiagonal solve w = (A - rt)^-1 y, then
// y = y + t w, y = w or nothing. The elimination factors of each solve (the
// reciprocal pivots and the multipliers) depend only on rt and A and are
// stored per slot, interleaved like the vectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qel {

inline constexpr int kBlkLanes = 32; // most operators side by side

struct BlkGroup {
  int lanes = 0;         // 1, 2, 4, .. kBlkLanes
  int active = 0;        // operators in the group, lanes 0..active-1
  int slots = 0;         // slots of the longest operator
  std::size_t slot0 = 0; // first slot in BlkPlan::flags
  std::size_t ctl = 0;   // first entry of the lane controls (slot-major, lanes per slot)
  std::size_t fac = 0;   // first word of the factors (2 m lanes words per slot)
  std::array<std::int32_t, kBlkLanes> in{}, out{}; // vectors: see BlkPlan::vec
};

struct BlkPlan {
  bool ready = false;         // built by a successful set-up
  bool factors_valid = false; // fac matches am, bm, cm below
  int n = 0, m = 0, np = 0;
  // What the schedule was built from; a solve compares against them.
  std::vector<float> an, cn, roots, am, bm, cm;
  std::vector<BlkGroup> groups;
  // Group ranges [begin, end) per level l = 1..k: reduction inverses,
  // reduction left/right operators, back substitution left/right, inverses.
  std::vector<std::array<int, 8>> stages;
  std::vector<std::uint8_t> flags;             // per slot: 1 scale, 2 solve, 4 post
  std::vector<std::int32_t> root;              // per slot and lane: table position, -1 none
  std::vector<std::int32_t> scale, post, zero; // per slot and lane
  std::vector<float> s, t;                     // per slot and lane
  std::vector<float> fac;                      // reciprocal pivots, then multipliers
  // Factors of each distinct root (where: table position -> entry, -1 unused).
  std::vector<std::int32_t> where;
  std::vector<float> memo;
  std::vector<int> memo_zero;
  // Vector v >= 0 is column v + 1 of Y; -1 - v is row buffer v of scratch
  // (three buffers of m words per row of the second index).
  std::vector<float> scratch;
  std::vector<float> ybuf, wbuf; // interleaved lanes, kBlkLanes m words each
};

}  // namespace qel
