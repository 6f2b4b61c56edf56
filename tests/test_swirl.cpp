// The swirl v moves with the flow whether or not the frame rotates: a
// vortex set up with SWIRL = 0 evolves as with a vanishing SWIRL, in both
// cores; a run whose swirl is identically zero is not touched.
#include <gtest/gtest.h>

#include <cstdint>

#include "run_testing.hpp"

using namespace qel;
using namespace qel::testing;

namespace {

// Lamb-Oseen swirl of circulation g and core radius a: g/(2 pi r) (1 - exp(-r^2/a^2)).
double lamb_oseen(double g, double a, double r) {
  return r == 0.0 ? 0.0 : g / (2.0 * M_PI * r) * (1.0 - std::exp(-r * r / (a * a)));
}

double max_difference(const Field& a, const Field& b) {
  double d = 0.0;
  for (std::size_t k = 0; k < Field::size(); ++k) d = std::max(d, std::abs(a.a[k] - b.a[k]));
  return d;
}

// The last dump of a run to t = 1 from a Lamb-Oseen vortex (circulation 1,
// core radius 0.1) in the unit box with no-slip walls.
std::unique_ptr<State> vortex_run(bool primitive, const std::string& swirl) {
  Experiment e(unit_box(primitive, {{"SWIRL", swirl}, {"BACTIVE", "0"}}));
  auto s = e.initial_state();
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s->fields.v(i, j) = lamb_oseen(1.0, 0.1, s->basic.r(i));
  return e.advance(*s, "1 1 1");
}

// FNV-1a of a file's bytes.
std::uint64_t fnv1a(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace

TEST(Swirl, VortexWithoutRotationMovesAsWithAVanishingCoriolisParameter) {
  // The no-slip bottom and top stop the swirl there; the unbalanced
  // centrifugal force drives a secondary circulation that carries v. With
  // f = 1e-30 the Coriolis terms f u and f v_z are 30 orders below the
  // others, so the two runs may differ only by rounding, amplified over 100
  // steps: far below 1e-9 of the swirl. Without advection of v the
  // difference is of the size of the advection itself, tens of percent.
  for (const bool primitive : {false, true}) {
    SCOPED_TRACE(primitive ? "primitive core" : "vorticity core");
    const auto a = vortex_run(primitive, "0");
    const auto b = vortex_run(primitive, "1e-30");
    ASSERT_GT(a->par.TIME, 0.999);
    const double vmax = max_abs(b->fields.v);
    ASSERT_GT(vmax, 0.3);
    // The secondary flow is real: the test would see v left behind.
    ASSERT_GT(max_abs(b->fields.w), 1e-2);
    for (Field Fields::*f : {&Fields::v, &Fields::u, &Fields::w})
      EXPECT_LE(max_difference(a->fields.*f, b->fields.*f), 1e-9 * vmax);
  }
}

TEST(Swirl, RunsWithoutSwirlAreUnchangedToTheBit) {
  // A thermal with SWIRL = 0 and v = 0, run by the vorticity core to t = 0.5: the
  // swirl stays exactly zero, and the final dump has the bytes the model
  // wrote before the swirl was advected (FNV-1a of the whole file, from a
  // run of the same experiment by that model).
  Experiment e(unit_box(false, {{"SWIRL", "0"}, {"DTMAX", "0.01"}}));
  auto s = e.initial_state();
  add_thermal(*s, 0.5, 0.0, 0.4, 0.15);
  const auto last = e.advance(*s, "0.5 0.1 1");
  EXPECT_EQ(max_abs(last->fields.v), 0.0);
  EXPECT_GT(max_abs(last->fields.w), 1e-3);
  EXPECT_EQ(e.stamps().back(), 500);
  EXPECT_EQ(fnv1a(slurp(dump_name(e.dir(), e.stamps().back()))), 10756420756608967123ull);
}
