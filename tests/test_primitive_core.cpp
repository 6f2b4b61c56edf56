// Whole runs of the primitive-variable core: hydrostatic and stratified
// rest, the body-forced plume and its ramp, and a thermal compared with the
// vorticity core.
#include <gtest/gtest.h>

#include <limits>
#include <utility>

#include "elliptic/direct.hpp"
#include "primitive/primitive.hpp"
#include "run_testing.hpp"

using namespace qel;
using namespace qel::testing;

// Cell pressures in discrete hydrostatic balance with g b in every column:
// the pair-averaged difference across grid line l equals g b(k, l).
static void hydrostatic_pressure(State& s, double g) {
  CellView p = s.fields.p();
  for (int k = 1; k <= NC; ++k)
    for (int l = 1; l <= NC; ++l)
      p(k, l) = l == 1 ? 0.0 : p(k, l - 1) + g * s.fields.b(k, l) * (s.basic.z(l + 1) - s.basic.z(l - 1)) * 0.5;
}

// A fresh start's 1000 Jacobi sweeps from p = 0 leave much of the
// hydrostatic pressure of a stratification unbuilt (the gravest vertical
// mode decays by only about (pi/90)^2/2 a sweep) and the fluid then sloshes
// for hundreds of steps. So the run starts from the discrete balance, past
// TIME = 0, and must keep it: with no viscosity nothing moves b, the radial
// gradient is exactly zero and the vertical force is rounding alone.
TEST(PrimitiveCore, HydrostaticRestIsKeptForTwoHundredSteps) {
  const double froude = 2.0, T = 2.0;
  Experiment e(unit_box(true, {{"BACTIVE", "1"}, {"FROUDEINV", "2"}, {"BSMOOTH", "10"}, {"BINTERFACE", "0.4"},
                               {"REI", "0"}, {"REIT", "0"}, {"STZ", "0.8"}, {"SLIPS", "1"}}));
  auto s = e.initial_state();
  hydrostatic_pressure(*s, froude);
  s->par.TIME = 1.005;  // half a step off the dump times
  auto end = e.advance(*s, "3 1 1");
  ASSERT_NEAR(end->par.TIME, 3.005, 1e-9);  // 200 steps of DTMAX
  const ConstCellView p = end->fields.p();
  const double mz = std::ranges::max(end->basic.mz.a);
  const double pmax = max_abs(end->fields.psi);  // the pressure; the rest of psi stays zero
  // Each step leaves a residual force of a few roundings of p differenced
  // and scaled by mz/2; 64 of them acting over the whole run bound the speed,
  // and the imbalance of p_z against FROUDEINV b at every interior point.
  const double bound = 64.0 * std::numeric_limits<double>::epsilon() * pmax * mz;
  EXPECT_LT(max_abs(end->fields.u), T * bound);
  EXPECT_LT(max_abs(end->fields.w), T * bound);
  for (int l = 2; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k)
      ASSERT_NEAR((p(k, l) - p(k, l - 1)) * 2.0 / (end->basic.z(l + 1) - end->basic.z(l - 1)),
                  froude * end->fields.b(k, l), bound) << k << ' ' << l;
}

// A swirling plume from a fresh start: the body force centred on the axis at
// z = 0.4, ramped in over BDFTURNON, in a rotating box; no buoyancy, so that
// the fresh start's pressure of zero is the balanced one. The long first
// sweeps belong to the first step, from TIME = 0, alone: their message comes
// once, before the first dump. The force grows as TIME/BDFTURNON: none on
// that first step, and, while the flow responds linearly (the Coriolis force
// is linear too), half the response for twice the turn-on time; the
// departure is the advective acceleration, about U T/L of the response for
// speeds U over the forcing scale L = BDFRZ after a time T. Later, pushed up
// on the axis, the fluid is drawn in towards it from below: at r = BDFRX the
// radial velocity points inwards at every height up to the forcing height.
// Every dump holds the grid-point average of the cell pressure in zeta.
TEST(PrimitiveCore, BodyForceRampsInOverBdfturnonAndDrivesAPlumeUpTheAxis) {
  const auto plume = [](const char* turnon) {
    return Experiment(unit_box(true, {{"BDFZ", "0.4"}, {"BDFTURNON", turnon}, {"SWIRL", "0.5"}}));
  };
  const Experiment e = plume("0.2"), slow = plume("0.4");
  const RunResult r = e.run(-1, "0.6 0.1 0");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::size_t at = r.out.find(" first time in pressure solver, using pit=1000\n");
  EXPECT_TRUE(at != std::string::npos && at == r.out.rfind(" first time") && at < r.out.find("will write dump file"));
  auto first = e.dump(e.stamps().front());
  ASSERT_NEAR(first->par.TIME, 0.01, 1e-12);
  EXPECT_EQ(max_abs(first->fields.u) + max_abs(first->fields.w) + max_abs(first->fields.v), 0.0);
  // The same steps and dumps up to the dump at 0.1, with the ramp over 0.4.
  ASSERT_EQ(slow.run(-1, "0.1 0.1 1").status, 0);
  auto twice = slow.last_dump(), once = e.dump(slow.stamps().back());
  const double T = once->par.TIME;
  ASSERT_NEAR(T, 0.1, 0.011);
  ASSERT_EQ(twice->par.TIME, T);
  const double tol = max_abs(once->fields.w) * T / 0.2;
  for (const auto& [a, b] : {std::pair{&once->fields.u, &twice->fields.u}, {&once->fields.w, &twice->fields.w}}) {
    double d = 0.0;
    for (std::size_t n = 0; n < Field::size(); ++n) d = std::max(d, std::abs(a->a[n] - 2.0 * b->a[n]));
    EXPECT_GT(max_abs(*a), 1e-3);
    EXPECT_LT(d, tol * max_abs(*a));
  }
  auto s = e.last_dump();
  ASSERT_GT(s->par.TIME, 0.6);
  auto average = std::make_unique<Field>();
  ptou(*s, s->fields.p(), *average);
  EXPECT_TRUE(s->fields.p_point().a == average->a);
  // On the uniform grid z(j) = (j - 1)/90: rows 28 to 46 span z = 0.3 to
  // 0.5 around the forcing height, row 37 is z = 0.4; column 19 is r = 0.2.
  for (int j = 28; j <= 46; ++j) EXPECT_GT(s->fields.w(1, j), 0.1) << "z = " << s->basic.z(j);
  for (int j = 2; j <= 37; ++j) EXPECT_LT(s->fields.u(19, j), 0.0) << "z = " << s->basic.z(j);
}

// Both cores carry the buoyancy force b (RAY = 0, FROUDEINV = 1) and share
// the advection and diffusion of b, so a thermal rises alike in both. The
// flows differ by the second-order truncation of the two discretisations,
// (h/a)^2 ~ 1% for a thermal of radius a = 0.1 on spacings h = 1/90, a few
// times over, and by the residual divergence the primitive core leaves:
// allow 5% of the speed. b then differs by at most its largest gradient
// times the 5% of the distance the fluid travels, wmax T. Free-slip walls:
// the cores impose no-slip differently, and here only impermeability is
// common to both. The primitive core starts from the hydrostatic pressure of
// the uniform background b = 0.5 and finds that of the thermal in the
// first-time sweeps.
TEST(PrimitiveCore, ThermalRisesAlikeInBothCores) {
  const double amp = 0.5, a = 0.1, T = 0.5;
  std::unique_ptr<State> start, end[2];
  for (const bool prim : {false, true}) {
    Experiment e(unit_box(prim, {{"BACTIVE", "1"}, {"SLIPB", "1"}, {"SLIPT", "1"}, {"SLIPS", "1"}}));
    auto s = e.initial_state();
    if (prim) hydrostatic_pressure(*s, 1.0);
    add_thermal(*s, amp, 0.0, 0.3, a);
    end[prim] = e.advance(*s, "0.495 0.4999 1");
    if (!prim) start = std::move(s);
  }
  ASSERT_NEAR(end[0]->par.TIME, T, 1e-9);
  ASSERT_EQ(end[1]->par.TIME, end[0]->par.TIME);
  // amp sqrt(2) exp(-1/2)/a is the largest gradient of the Gaussian.
  const double tol = 0.05 * (amp * std::sqrt(2.0) * std::exp(-0.5) / a) * max_abs(end[0]->fields.w) * T;
  double moved = 0.0;
  for (std::size_t n = 0; n < Field::size(); ++n) {
    ASSERT_NEAR(end[1]->fields.b.a[n], end[0]->fields.b.a[n], tol) << n;
    moved = std::max(moved, std::abs(end[0]->fields.b.a[n] - start->fields.b.a[n]));
  }
  EXPECT_GT(moved, 5.0 * tol);  // the thermal has risen well beyond the tolerance
  EXPECT_EQ(max_abs(end[0]->fields.v) + max_abs(end[1]->fields.v), 0.0);
}

// The stratified rest of a fresh start (b a smoothed step in height, no
// body force in the domain) with the exact pressure: the hydrostatic
// pressure solves the discrete pressure equation, so nothing moves. 100
// steps on a uniform and a stretched grid, plane and axisymmetric, with
// no-slip and slip walls; the divergence the pressure step measures stays
// at rounding level.
TEST(PrimitiveCore, StratifiedRestStaysAtRestWithTheExactPressure) {
  for (const char* stretch : {"1", "0.6"})
    for (const char* axi : {"0", "1"})
      for (const char* slip : {"0", "1"}) {
        SCOPED_TRACE(::testing::Message() << "STR = STZ = " << stretch << " AXI " << axi << " slip " << slip);
        Experiment e({{"DT", "0.01"}, {"DTMAX", "0.01"}, {"CFL", "0.5"}, {"DIFF", "0.2"}, {"USEPRIM", "1"},
                      {"ORDER", "3"}, {"REI", "0.01"}, {"RWID", "2"}, {"HITE", "2"}, {"STR", stretch},
                      {"STZ", stretch}, {"RLX", "0.8"}, {"AXI", axi}, {"BDFZ", "-10"}, {"BDFRZ", "0.5"},
                      {"BDFRX", "0.5"}, {"BDFTURNON", "1"}, {"BUOYBOUND", "1"}, {"BACTIVE", "1"}, {"BSMOOTH", "5"},
                      {"BINTERFACE", "1"}, {"FROUDEINV", "1"}, {"PRN", "1"}, {"PIT", "0"}, {"SLIPB", slip},
                      {"SLIPS", slip}, {"SLIPT", slip}});
        auto s = e.initial_state();
        utop(s->fields.visc, s->fields.viscp);
        DirectSolvers direct;
        setup_direct(*s, direct);
        ASSERT_NE(s->solvers.pressure, nullptr);
        std::ostringstream out;
        s->out = &out;
        s->others.dtold1 = s->others.dtold2 = 1.0;
        double divmax = 0.0;
        for (int n = 0, k = 1; n < 100; ++n, k = (k + 1) % 3 + 1) {
          s->others.bdframp = std::min(1.0, s->par.TIME);
          prim(*s, k, k % 3 + 1, (k + 1) % 3 + 1, n);
          s->others.dtold2 = s->others.dtold1, s->others.dtold1 = s->par.DT, s->par.TIME += s->par.DT;
          divmax = std::max(divmax, s->others.divmax);
        }
        EXPECT_TRUE(out.str().empty()) << out.str();  // no first-time sweeps
        EXPECT_LE(max_abs(s->fields.u), 1e-12);
        EXPECT_LE(max_abs(s->fields.w), 1e-12);
        EXPECT_LT(divmax, 1e-10);
        EXPECT_GT(max_abs(s->fields.psi), 0.1);  // the hydrostatic pressure is there
      }
}
