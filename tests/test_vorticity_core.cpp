// Whole runs of the stream-function/vorticity core checked against exact
// properties of the equations: rest, an analytic viscous vortex,
// conservation of buoyancy, mirror symmetry, energy decay, and its stops.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "driver/progress.hpp"
#include "run_testing.hpp"

using namespace qel;
using namespace qel::testing;

namespace {

// A unit box on a uniform grid, axisymmetric, third-order upwind advection,
// direct Poisson solver, no-slip walls; DT = DTMAX = 0.01 while the flow is
// slow. The viscosity keeps the fastest diffusive mode, lambda dt =
// REI (mr^2 + mz^2) DT = 0.32, inside the third-order Adams-Bashforth
// stability interval (-6/11, 0).
Params core_parameters(const Params& changes = {}) {
  Params p = {{"DTMAX", "0.01"}, {"CFL", "0.5"},   {"DIFF", "0.2"},      {"USEPRIM", "0"},
              {"ORDER", "3"},    {"REI", "5e-4"},  {"REIT", "5e-4"},     {"RWID", "1"},
              {"HITE", "1"},     {"STR", "1"},     {"STZ", "1"},         {"PIT", "0"},
              {"AXI", "1"},      {"BACTIVE", "1"}, {"BUOYBOUND", "1"},   {"BSMOOTH", "0"},
              {"FROUDEINV", "1"}, {"BDFZ", "0.5"}, {"BDFRZ", "0.25"},    {"BDFRX", "0.25"},
              {"BDFTURNON", "1"}};
  for (const auto& [k, v] : changes) p[k] = v;
  return p;
}

// Lamb-Oseen swirl of circulation g and core radius a: g/(2 pi r) (1 - exp(-r^2/a^2)).
double lamb_oseen(double g, double a, double r) {
  if (r == 0.0) return 0.0;
  return g / (2.0 * M_PI * r) * (1.0 - std::exp(-r * r / (a * a)));
}

void add_vortex(State& s, double g, double a) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s.fields.v(i, j) = lamb_oseen(g, a, s.basic.r(i));
}

double kinetic_energy(const State& s) {
  auto e = std::make_unique<Field>();
  const Fields& f = s.fields;
  for (std::size_t n = 0; n < Field::size(); ++n)
    e->a[n] = 0.5 * (f.u.a[n] * f.u.a[n] + f.w.a[n] * f.w.a[n] + f.v.a[n] * f.v.a[n]);
  return integral(s, *e);
}

}  // namespace

TEST(VorticityCore, RestWithHeightOnlyBuoyancyStaysExactlyAtRest) {
  // No viscosity: diffusing b by the flux differences of the conservative
  // form leaves rounding-level radial gradients ((a + b) - a - b), whose
  // torque would set the fluid moving at the 1e-17 level.
  Experiment e(core_parameters(
      {{"BSMOOTH", "10"}, {"BINTERFACE", "0.5"}, {"REI", "0"}, {"REIT", "0"}}));
  // 200 steps of DT = DTMAX = 0.01.
  const RunResult r = e.fresh(1.995, 1.0, 0.5);
  ASSERT_EQ(r.status, 0) << r.err;
  auto s = e.last_dump();
  EXPECT_GT(s->par.TIME, 1.99);
  for (const Field* f : {&s->fields.u, &s->fields.w, &s->fields.v, &s->fields.zeta, &s->fields.psi})
    EXPECT_EQ(max_abs(*f), 0.0);
}

TEST(VorticityCore, ViscousVortexFollowsTheLambOseenSolution) {
  // Slip top and bottom keep the swirl independent of height: it then only
  // diffuses, v_t = nu (v_rr + v_r/r - v/r^2), whose solution from a
  // Lamb-Oseen vortex of radius a0 is the same vortex with a^2 = a0^2 + 4 nu T.
  const double nu = 5e-4, g = 1.0, a0 = 0.1, T = 2.5;
  Experiment e(core_parameters({{"SLIPB", "1"}, {"SLIPT", "1"}, {"BACTIVE", "0"}}));
  auto s = e.initial_state();
  add_vortex(*s, g, a0);
  e.write_state(*s, 0);
  const RunResult r = e.restart(0, T, 0.5, 1.0);
  ASSERT_EQ(r.status, 0) << r.err;
  auto end = e.last_dump();
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
  Experiment e(core_parameters({{"ORDER", "-3"}, {"RAY", "0"}, {"BUOYBOUND", "1"}}));
  auto s = e.initial_state();
  add_thermal(*s, 0.5, 0.0, 0.3, 0.15);
  const double before = integral(*s, s->fields.b);
  e.write_state(*s, 0);
  // About 500 steps; the step that reaches tstop = tdump writes the last dump.
  const RunResult r = e.restart(0, 5.0, 5.0, 1.0);
  ASSERT_EQ(r.status, 0) << r.err;
  auto end = e.last_dump();
  EXPECT_GE(end->par.TIME, 5.0);
  EXPECT_GT(max_abs(end->fields.w), 1e-3);  // the thermal has moved
  EXPECT_NEAR(integral(*end, end->fields.b), before, 1e-12 * std::abs(before));
}

TEST(VorticityCore, PlaneThermalAtMidWidthStaysMirrorSymmetric) {
  // Arakawa advection and the plane operators are exactly antisymmetric
  // under r -> RWID - r; only the single-precision Poisson solve breaks the
  // symmetry: its relative error, single-precision rounding amplified by the
  // conditioning of the 89 x 89 problem, is about 1e-5 of psi.
  Experiment e(core_parameters({{"AXI", "0"}, {"ORDER", "0"}, {"SLIPS", "1"}}));
  auto s = e.initial_state();
  add_thermal(*s, 0.5, 0.5, 0.3, 0.1);
  e.write_state(*s, 0);
  const RunResult r = e.restart(0, 1.0, 1.0, 1.0);
  ASSERT_EQ(r.status, 0) << r.err;
  auto end = e.last_dump();
  const Fields& f = end->fields;
  const double bmax = max_abs(f.b), psimax = max_abs(f.psi), zmax = max_abs(f.zeta);
  ASSERT_GT(psimax, 0.0);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= 45; ++i) {
      EXPECT_NEAR(f.b(i, j), f.b(NR + 1 - i, j), 1e-6 * bmax) << i << ' ' << j;
      EXPECT_NEAR(f.psi(i, j), -f.psi(NR + 1 - i, j), 1e-4 * psimax) << i << ' ' << j;
      EXPECT_NEAR(f.zeta(i, j), -f.zeta(NR + 1 - i, j), 1e-4 * zmax) << i << ' ' << j;
    }
}

TEST(VorticityCore, KineticEnergyOfAVortexNeverGrows) {
  // No buoyancy anomaly: nothing feeds energy in; viscosity, the no-slip
  // walls and the upwind scheme only take it out.
  Experiment e(core_parameters({{"SWIRL", "0.5"}, {"BACTIVE", "0"}}));
  auto s = e.initial_state();
  add_vortex(*s, 1.0, 0.15);
  e.write_state(*s, 0);
  const RunResult r = e.restart(0, 3.0, 0.25, 1.0);
  ASSERT_EQ(r.status, 0) << r.err;
  double previous = kinetic_energy(*s);
  const auto stamps = e.stamps();
  ASSERT_GT(stamps.size(), 10u);
  for (std::int64_t stamp : stamps) {
    auto d = e.dump(stamp);
    const double ke = kinetic_energy(*d);
    EXPECT_LE(ke, previous * (1.0 + 1e-14)) << "at t = " << d->par.TIME;
    previous = ke;
  }
  EXPECT_GT(max_abs(e.last_dump()->fields.w), 1e-4);  // the spin-down drives a meridional flow
}

TEST(VorticityCore, InvalidOrderAndVanishingStepStopTheRun) {
  for (const char* order : {"2", "4", "1.5", "6"}) {
    Experiment e(core_parameters({{"ORDER", order}}));
    const RunResult r = e.fresh(1.0, 1.0, 1.0);
    EXPECT_EQ(r.status, 1) << order;
    // Nothing after the prompt for the times: the stop prints nothing.
    EXPECT_TRUE(r.out.ends_with(" enter tstop,tdump,tdiag\n")) << order;
    EXPECT_NE(r.err.find("ORDER"), std::string::npos) << r.err;
  }
  Experiment e(core_parameters({{"CFL", "0"}}));
  const RunResult r = e.fresh(1.0, 1.0, 1.0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.find("tdiag\n") + 6),
            "  dt too small, model is blowing up: now dt=   0.0000000000000000     \n");
  EXPECT_FALSE(r.err.empty());
}

TEST(VorticityCore, DirectAndIterativePoissonSolvesAgreeOnASmoothFlow) {
  // Over a few steps the vorticity grows from the torque of the buoyancy,
  // almost independently of the still weak flow, so both solvers must give
  // nearly the same interior zeta and b; psi from the sweeps lags behind the
  // direct solution (and with it the wall vorticity) but has its sign and core.
  std::unique_ptr<State> end[2];
  const char* pit[2] = {"0", "20"};
  for (int k = 0; k < 2; ++k) {
    Experiment e(core_parameters({{"PIT", pit[k]}}));
    auto s = e.initial_state();
    add_thermal(*s, 0.5, 0.0, 0.3, 0.1);
    e.write_state(*s, 0);
    const RunResult r = e.restart(0, 0.05, 1.0, 1.0);
    ASSERT_EQ(r.status, 0) << r.err;
    end[k] = e.last_dump();
  }
  const Fields &d = end[0]->fields, &it = end[1]->fields;
  const double zmax = max_abs(d.zeta), bmax = max_abs(d.b), psimax = max_abs(d.psi);
  ASSERT_GT(zmax, 0.0);
  double dot = 0.0, nd = 0.0, ni = 0.0;
  for (int j = 2; j <= NR - 1; ++j)
    for (int i = 2; i <= NR - 1; ++i) EXPECT_NEAR(it.zeta(i, j), d.zeta(i, j), 1e-3 * zmax);
  for (std::size_t n = 0; n < Field::size(); ++n) {
    EXPECT_NEAR(it.b.a[n], d.b.a[n], 1e-4 * bmax);
    dot += it.psi.a[n] * d.psi.a[n];
    nd += d.psi.a[n] * d.psi.a[n];
    ni += it.psi.a[n] * it.psi.a[n];
  }
  EXPECT_GT(psimax, 0.0);
  // Jacobi sweeps damp the largest scales slowest (by cos(pi/90) a sweep),
  // so 200 sweeps recover the compact core of psi, not its far field.
  EXPECT_GT(dot / std::sqrt(nd * ni), 0.5);
}

TEST(VorticityCore, FailedSolverSetUpStopsBeforeTheFirstStep) {
  // STZ = 2.5 folds the grid back on itself: the Poisson coefficients change
  // sign and the cyclic reduction has no real roots.
  Experiment e(core_parameters({{"STZ", "2.5"}}));
  const RunResult r = e.fresh(1.0, 1.0, 1.0);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error code 5"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.ends_with(" enter tstop,tdump,tdiag\n"));
  EXPECT_TRUE(e.stamps().empty());
}

TEST(VorticityCore, FieldsTurnedNaNEndTheRunWithAModelStopStatus) {
  Experiment e(core_parameters());
  auto s = e.initial_state();
  s->fields.b(45, 45) = std::nan("");
  e.write_state(*s, 0);
  const RunResult r = e.restart(0, 0.1, 0.05, 0.02);
  EXPECT_EQ(r.status, 1);
  // Every output of the run is still written, NaN included.
  EXPECT_NE(r.out.find("NaN"), std::string::npos);
  EXPECT_GE(e.stamps().size(), 2u);
  EXPECT_NE(r.err.find("NaN since model time"), std::string::npos) << r.err;
}

TEST(Progress, ShownOnlyWhenAskedRefreshedAtMostFourTimesASecondAndCleared) {
  std::ostringstream quiet, shown;
  Progress off(quiet, false), on(shown, true);
  on.step(0.1, 1.0, 10, "");
  EXPECT_EQ(shown.str(), "");  // nothing before the first refresh interval
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (Progress* p : {&off, &on}) p->step(0.5, 1.0, 50, ", NaN since t = 0.4");
  on.step(0.6, 1.0, 60, "");  // within the interval: not shown
  off.clear();
  on.clear();
  EXPECT_EQ(quiet.str(), "");
  const std::string text = shown.str();
  EXPECT_EQ(text.find("0.6"), std::string::npos);
  EXPECT_TRUE(text.starts_with("\rqeln: t = 0.5 of 1,")) << text;
  EXPECT_NE(text.find("steps/s"), std::string::npos);
  EXPECT_NE(text.find("NaN since t = 0.4"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\r\033[K")) << text;
}
