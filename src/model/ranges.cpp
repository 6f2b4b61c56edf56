#include "model/ranges.hpp"

#include <bit>
#include <cstdint>

#include "model/render.hpp"

namespace qel {

namespace {

// Members that no computation reads take any value, NaN included.
bool any(double) { return true; }
bool finite(double x) { return std::isfinite(x); }
// The model time: stamps and the dump schedule need a finite, non-negative time.
bool time_ok(double x) { return std::isfinite(x) && x >= 0.0; }
// A length of the domain.
bool positive(double x) { return std::isfinite(x) && x > 0.0; }
// Stretching g(s; a) = (s^3 (2 - a) + a s) / (s^2 + 1) is increasing, with
// positive end spacings a and 2 - a, only for 0 < a < 2.
bool stretch(double x) { return x > 0.0 && x < 2.0; }
// The sweep count is truncated to int32; between 0 and 1 it truncates to no sweep.
bool sweeps(double x) { return std::isfinite(x) && x <= 2147483647.0 && !(x > 0.0 && x < 1.0); }
// 0 plane; 1 or >= 2 the two forms of the axisymmetric viscous terms. Other
// values would keep the axisymmetric geometry with no viscous term of zeta and v.
bool geometry(double x) { return x == 0.0 || x == 1.0 || (std::isfinite(x) && x >= 2.0); }

constexpr const char* kFinite = "any finite value";
constexpr const char* kAny = "any value (not used by the model)";

constexpr ParRange kRanges[kNamelistSize] = {
    {"TIME", "0 <= TIME, finite", time_ok},
    {"DT", kFinite, finite},
    {"DTMAX", kFinite, finite},
    {"CFL", kFinite, finite},
    {"DIFF", kFinite, finite},
    {"USEPRIM", kFinite, finite},
    {"ORDER", kFinite, finite},
    {"REI", kFinite, finite},
    {"REIT", kFinite, finite},
    {"RWID", "0 < RWID, finite", positive},
    {"HITE", "0 < HITE, finite", positive},
    {"STR", "0 < STR < 2", stretch},
    {"STZ", "0 < STZ < 2", stretch},
    {"PIT", "PIT <= 2147483647, finite, not strictly between 0 and 1", sweeps},
    {"RLX", kFinite, finite},
    {"AXI", "AXI = 0, AXI = 1 or AXI >= 2 (finite)", geometry},
    {"SWIRL", kFinite, finite},
    {"SLIPB", kFinite, finite},
    {"SLIPT", kFinite, finite},
    {"SLIPS", kFinite, finite},
    {"BDFON", kAny, any},
    {"BDFZ", kFinite, finite},
    {"BDFRZ", kFinite, finite},
    {"BDFRX", kFinite, finite},
    {"BDFTURNON", kFinite, finite},
    {"BUOYBOUND", kFinite, finite},
    {"BACTIVE", kFinite, finite},
    {"BSMOOTH", kFinite, finite},
    {"BINTERFACE", kFinite, finite},
    {"FROUDEINV", kFinite, finite},
    {"RAY", kFinite, finite},
    {"PRN", kAny, any},
    {"EXTRA1", kAny, any},
    {"EXTRA2", kAny, any},
    {"EXTRA3", kAny, any},
    {"EXTRA4", kAny, any}};

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const auto up = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    if (up(a[k]) != up(b[k])) return false;
  }
  return true;
}

}  // namespace

std::span<const ParRange> par_ranges() { return kRanges; }

const ParRange* par_range(std::string_view name) {
  for (const ParRange& r : kRanges)
    if (same_name(r.name, name)) return &r;
  return nullptr;
}

std::string par_range_message(const ParRange& r, double v) {
  return std::string(r.name) + " = " + real_text(v) + " is outside its valid range: " +
         std::string(r.valid) + subnormal_note(v);
}

// Told by its bits: with denormals read as zero, a subnormal compares equal
// to 0 and fpclassify may call it zero.
std::string subnormal_note(double v) {
  const auto bits = std::bit_cast<std::uint64_t>(v);
  const bool subnormal = (bits & 0x7ff0000000000000ull) == 0 && (bits & 0x000fffffffffffffull) != 0;
  return subnormal ? " (a subnormal number, which the model reads as 0)" : "";
}

std::optional<std::string> par_out_of_range(const Par& p) {
  for (int k = 0; k < kNamelistSize; ++k) {
    const double v = p.*kParMembers[std::size_t(k)];
    if (!kRanges[k].ok(v)) return par_range_message(kRanges[k], v);
  }
  return std::nullopt;
}

}  // namespace qel
