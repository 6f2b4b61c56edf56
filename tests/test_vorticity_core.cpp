// Whole runs of the stream-function/vorticity core checked against exact
// properties of the equations: rest, an analytic viscous vortex,
// conservation of buoyancy, mirror symmetry, and its stops.
#include <gtest/gtest.h>

#include <tuple>

#include "run_testing.hpp"

using namespace qel;
using namespace qel::testing;

namespace {

// Lamb-Oseen swirl of circulation g and core radius a: g/(2 pi r) (1 - exp(-r^2/a^2)).
double lamb_oseen(double g, double a, double r) {
  return r == 0.0 ? 0.0 : g / (2.0 * M_PI * r) * (1.0 - std::exp(-r * r / (a * a)));
}

}  // namespace

TEST(VorticityCore, RestWithHeightOnlyBuoyancyStaysExactlyAtRest) {
  // No viscosity: diffusing b by the flux differences of the conservative
  // form leaves rounding-level radial gradients ((a + b) - a - b), whose
  // torque would set the fluid moving at the 1e-17 level.
  Experiment e(stretched_box(false, {{"BSMOOTH", "10"}, {"BINTERFACE", "0.5"}, {"REI", "0"}, {"REIT", "0"}}));
  // 200 steps of DT = DTMAX = 0.01.
  const RunResult r = e.run(-1, "1.995 1 0.5");
  ASSERT_EQ(r.status, 0) << r.err;
  auto s = e.last_dump();
  EXPECT_GT(s->par.TIME, 1.99);
  const Fields& f = s->fields;
  EXPECT_EQ(max_abs(f.u) + max_abs(f.w) + max_abs(f.v) + max_abs(f.zeta) + max_abs(f.psi), 0.0);
}

TEST(VorticityCore, ViscousVortexFollowsTheLambOseenSolution) {
  // Slip top and bottom keep the swirl independent of height: it then only
  // diffuses, v_t = nu (v_rr + v_r/r - v/r^2), whose solution from a
  // Lamb-Oseen vortex of radius a0 is the same vortex with a^2 = a0^2 + 4 nu T.
  const double nu = 5e-4, g = 1.0, a0 = 0.1, T = 2.5;
  Experiment e(stretched_box(false, {{"SLIPB", "1"}, {"SLIPT", "1"}, {"BACTIVE", "0"}}));
  auto s = e.initial_state();
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s->fields.v(i, j) = lamb_oseen(g, a0, s->basic.r(i));
  auto end = e.advance(*s, "2.5 0.5 1");
  const double t = end->par.TIME;
  ASSERT_NEAR(t, T, 0.011);
  const double a = std::sqrt(a0 * a0 + 4.0 * nu * t);
  // Second-order truncation error of the vector Laplacian, (h^2/12) v'''',
  // with v'''' ~ 10 vmax/a^4, accumulated over nu T: relative to the peak
  // about nu T h^2/a^4 ~ 3e-3 for h = 1/90, a >= 0.1; the outer no-slip wall
  // acts only within a few sqrt(nu T) = 0.05 of r = 1. Allow 1% of the peak.
  const double vmax = lamb_oseen(g, a, 1.1209 * a);
  for (int j : {2, 46, 90})
    for (int i = 2; end->basic.r(i) <= 1.0 / 3.0; ++i)
      EXPECT_NEAR(end->fields.v(i, j), lamb_oseen(g, a, end->basic.r(i)), 0.01 * vmax)
          << "r = " << end->basic.r(i) << ", j = " << j;
}

TEST(VorticityCore, FluxFormConservesTheBuoyancyIntegral) {
  // With flux-form advection and conservative diffusion, no flux through any
  // wall and nothing else acting on b, the radius-weighted integral of b is
  // exact up to rounding.
  Experiment e(stretched_box(false, {{"ORDER", "-3"}, {"RAY", "0"}, {"BUOYBOUND", "1"}}));
  auto s = e.initial_state();
  add_thermal(*s, 0.5, 0.0, 0.3, 0.15);
  const double before = integral(*s, s->fields.b);
  // About 500 steps; the step that reaches tstop = tdump writes the last dump.
  auto end = e.advance(*s, "5 5 1");
  EXPECT_GE(end->par.TIME, 5.0);
  EXPECT_GT(max_abs(end->fields.w), 1e-3);  // the thermal has moved
  EXPECT_NEAR(integral(*end, end->fields.b), before, 1e-12 * std::abs(before));
}

TEST(VorticityCore, PlaneThermalAtMidWidthStaysMirrorSymmetric) {
  // Arakawa advection and the plane operators are exactly antisymmetric
  // under r -> RWID - r on a grid uniform along r: b is mirrored, psi and
  // zeta change sign. Only the single-precision Poisson solve breaks the
  // symmetry: its relative error, single-precision rounding amplified by the
  // conditioning of the 89 x 89 problem, is about 1e-5 of psi.
  Experiment e(stretched_box(false, {{"AXI", "0"}, {"ORDER", "0"}, {"SLIPS", "1"}, {"STR", "1"}}));
  auto s = e.initial_state();
  add_thermal(*s, 0.5, 0.75, 0.3, 0.1);
  auto end = e.advance(*s, "1 1 1");
  const Fields& f = end->fields;
  for (const auto& [x, sign, tol] : {std::tuple{&f.b, 1.0, 1e-6}, {&f.psi, -1.0, 1e-4}, {&f.zeta, -1.0, 1e-4}}) {
    const double m = max_abs(*x);
    ASSERT_GT(m, 0.0);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= 45; ++i) ASSERT_NEAR((*x)(i, j), sign * (*x)(NR + 1 - i, j), tol * m) << i << ' ' << j;
  }
}

// An ORDER without a scheme stops before the first step, with nothing on
// standard output after the prompt for the times and the reason on standard
// error. CFL = 0 gives a zero step, which prints its record and stops. None
// of them writes a dump.
TEST(VorticityCore, InvalidOrderAndVanishingStepAreModelStopsBeforeAnyDump) {
  const struct { Params change; std::string err, out; } cases[] = {
      {{{"ORDER", "2"}}, "ORDER", ""}, {{{"ORDER", "1.5"}}, "ORDER", ""},
      {{{"CFL", "0"}}, "the time step", "  dt too small, model is blowing up: now dt=   0.0000000000000000     \n"}};
  for (const auto& c : cases) {
    Experiment e(unit_box(false, c.change));
    const RunResult r = e.run(-1, "1 1 1");
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.out.substr(r.out.find(" enter tstop,tdump,tdiag\n") + 25), c.out) << c.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_TRUE(e.stamps().empty()) << c.err;
  }
}

TEST(VorticityCore, FieldsTurnedNaNEndTheRunWithAModelStopStatus) {
  Experiment e(unit_box(false));
  auto s = e.initial_state();
  s->fields.b(45, 45) = std::nan("");
  const RunResult r = e.restart_from(*s, "0.1 0.05 0.02");
  EXPECT_EQ(r.status, 1);
  // Every output of the run is still written, NaN included; the report names
  // the first output that showed it, the dump after the first step.
  EXPECT_NE(r.out.find("NaN"), std::string::npos);
  EXPECT_GE(e.stamps().size(), 3u);
  EXPECT_NE(r.err.find("NaN since model time 1.0000000000000000E-002"), std::string::npos) << r.err;
}
