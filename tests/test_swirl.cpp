// The swirl v moves with the flow whether or not the frame rotates: a
// vortex set up with SWIRL = 0 evolves as with a vanishing SWIRL, in both
// cores.
#include <gtest/gtest.h>

#include "run_testing.hpp"

using namespace qel;
using namespace qel::testing;

namespace {

// The last dump of a run to t = 1 from a Lamb-Oseen vortex (circulation 1,
// core radius 0.1), g/(2 pi r) (1 - exp(-r^2/a^2)), with no-slip walls.
std::unique_ptr<State> vortex_run(bool primitive, const std::string& swirl) {
  Experiment e(stretched_box(primitive, {{"SWIRL", swirl}, {"BACTIVE", "0"}}));
  auto s = e.initial_state();
  for (int j = 1; j <= NR; ++j)
    for (int i = 2; i <= NR; ++i) {
      const double r = s->basic.r(i);
      s->fields.v(i, j) = 1.0 / (2.0 * M_PI * r) * (1.0 - std::exp(-r * r / 0.01));
    }
  return e.advance(*s, "1 1 1");
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
    ASSERT_GT(max_abs(b->fields.w), 1e-2);  // the secondary flow is real
    for (Field Fields::*f : {&Fields::v, &Fields::u, &Fields::w})
      for (std::size_t n = 0; n < Field::size(); ++n)
        ASSERT_NEAR((a->fields.*f).a[n], (b->fields.*f).a[n], 1e-9 * vmax);
  }
}
