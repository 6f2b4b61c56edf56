#include "model/ranges.hpp"

#include <cmath>

#include "model/render.hpp"

namespace qel {

namespace {

bool any(double) { return true; }

// Placeholder table: every member accepts every value until the checks of
// the reading paths are filled in.
constexpr ParRange kRanges[kNamelistSize] = {
    {"TIME", "any value", any},      {"DT", "any value", any},
    {"DTMAX", "any value", any},     {"CFL", "any value", any},
    {"DIFF", "any value", any},      {"USEPRIM", "any value", any},
    {"ORDER", "any value", any},     {"REI", "any value", any},
    {"REIT", "any value", any},      {"RWID", "any value", any},
    {"HITE", "any value", any},      {"STR", "any value", any},
    {"STZ", "any value", any},       {"PIT", "any value", any},
    {"RLX", "any value", any},       {"AXI", "any value", any},
    {"SWIRL", "any value", any},     {"SLIPB", "any value", any},
    {"SLIPT", "any value", any},     {"SLIPS", "any value", any},
    {"BDFON", "any value", any},     {"BDFZ", "any value", any},
    {"BDFRZ", "any value", any},     {"BDFRX", "any value", any},
    {"BDFTURNON", "any value", any}, {"BUOYBOUND", "any value", any},
    {"BACTIVE", "any value", any},   {"BSMOOTH", "any value", any},
    {"BINTERFACE", "any value", any}, {"FROUDEINV", "any value", any},
    {"RAY", "any value", any},       {"PRN", "any value", any},
    {"EXTRA1", "any value", any},    {"EXTRA2", "any value", any},
    {"EXTRA3", "any value", any},    {"EXTRA4", "any value", any}};

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

std::optional<std::string> par_out_of_range(const Par& p) {
  for (int k = 0; k < kNamelistSize; ++k) {
    const double v = p.*kParMembers[std::size_t(k)];
    if (!kRanges[k].ok(v))
      return std::string(kRanges[k].name) + " = " + real_text(v) + " is outside its valid range: " +
             std::string(kRanges[k].valid);
  }
  return std::nullopt;
}

}  // namespace qel
