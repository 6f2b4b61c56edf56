// Whole runs of the primitive-variable core: hydrostatic rest, the decay of
// divergence, the body-forced plume and its ramp, a thermal compared with
// the vorticity core, the first-time pressure sweeps, walls and dumps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_testing.hpp"

using namespace qel;
using namespace qel::testing;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// A unit box on a uniform grid, axisymmetric, third-order upwind advection,
// 20 Jacobi sweeps a step, no-slip walls, no buoyancy and the body force far
// above the top (so none acts); DT = DTMAX = 0.01 while the flow is slow.
// The fastest diffusive mode, REI (mr^2 + mz^2) DT = 0.32, lies inside the
// third-order Adams-Bashforth stability interval (-6/11, 0).
Params prim_parameters(const Params& changes = {}) {
  Params p = {{"DTMAX", "0.01"},    {"CFL", "0.5"},     {"DIFF", "0.2"},     {"USEPRIM", "1"},
              {"ORDER", "3"},       {"REI", "5e-4"},    {"REIT", "5e-4"},    {"RWID", "1"},
              {"HITE", "1"},        {"STR", "1"},       {"STZ", "1"},        {"PIT", "20"},
              {"RLX", "1"},         {"AXI", "1"},       {"BACTIVE", "0"},    {"BUOYBOUND", "1"},
              {"BSMOOTH", "0"},     {"FROUDEINV", "1"}, {"BDFZ", "100"},     {"BDFRZ", "0.2"},
              {"BDFRX", "0.2"},     {"BDFTURNON", "1"}};
  for (const auto& [k, v] : changes) p[k] = v;
  return p;
}

// Cell pressures in discrete hydrostatic balance with g b in every column:
// the pair-averaged difference across grid line l equals g b(k, l).
void hydrostatic_pressure(State& s, double g) {
  CellView p = s.fields.p();
  const Array1<NR>& z = s.basic.z;
  for (int k = 1; k <= NC; ++k) {
    p(k, 1) = 0.0;
    for (int l = 2; l <= NC; ++l) p(k, l) = p(k, l - 1) + g * s.fields.b(k, l) * (z(l + 1) - z(l - 1)) * 0.5;
  }
}

// The eight values of each diagnostic line on standard output.
std::vector<std::vector<double>> diagnostic_lines(const std::string& out) {
  std::vector<std::vector<double>> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.size() != 77 || line.find("dump") != std::string::npos) continue;
    std::istringstream fields(line);
    std::vector<double> v(8);
    for (double& x : v) fields >> x;
    if (fields && (fields >> std::ws).eof()) lines.push_back(v);
  }
  return lines;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// A fresh start's 1000 Jacobi sweeps from p = 0 leave much of the
// hydrostatic pressure of a stratification unbuilt (the gravest vertical
// mode decays by only about (pi/90)^2/2 a sweep) and the fluid then sloshes
// for hundreds of steps. So the run starts from the discrete balance, past
// TIME = 0, and must keep it: with no viscosity nothing moves b, the radial
// gradient is exactly zero and the vertical force is rounding alone. The
// outer wall is free-slip: under no-slip the core zeroes w there before the
// pressure correction, so after every step the wall holds -DT p_z (-0.02 at
// most here) and stirs the fluid next to it.
TEST(PrimitiveCore, HydrostaticRestIsKeptForTwoHundredSteps) {
  const double froude = 2.0, T = 2.0;
  Experiment e(prim_parameters({{"BACTIVE", "1"}, {"FROUDEINV", "2"}, {"BSMOOTH", "10"},
                                {"BINTERFACE", "0.4"}, {"REI", "0"}, {"REIT", "0"}, {"STZ", "0.8"}, {"SLIPS", "1"}}));
  auto s = e.initial_state();
  hydrostatic_pressure(*s, froude);
  s->par.TIME = 1.005;  // half a step off the dump times
  e.write_state(*s, 1000);
  const RunResult r = e.restart(1000, 3.0, 1.0, 1.0);
  ASSERT_EQ(r.status, 0) << r.err;
  auto end = e.last_dump();
  ASSERT_NEAR(end->par.TIME, 3.005, 1e-9);  // 200 steps of DTMAX
  double mz = 0.0, pmax = 0.0;
  for (int j = 1; j <= NR; ++j) mz = std::max(mz, end->basic.mz(j));
  for (std::size_t n = 0; n < CellField::size(); ++n) pmax = std::max(pmax, std::abs(end->fields.psi.a[n]));
  // Each step leaves a residual force of a few roundings of p differenced
  // and scaled by mz/2; 64 of them acting over the whole run bound the speed.
  const double bound = T * 64.0 * kEps * pmax * mz;
  EXPECT_LT(max_abs(end->fields.u), bound);
  EXPECT_LT(max_abs(end->fields.w), bound);
  // p_z = FROUDEINV b at every interior point of every column.
  const ConstCellView p = end->fields.p();
  for (int l = 2; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) {
      const double pz = (p(k, l) - p(k, l - 1)) * 2.0 / (end->basic.z(l + 1) - end->basic.z(l - 1));
      ASSERT_NEAR(pz, froude * end->fields.b(k, l), 64.0 * kEps * pmax * mz) << k << ' ' << l;
    }
}

// Each step's pressure aims to take a quarter of the divergence of the
// present velocity out of it (with the three-level scheme the divergence
// then decays as 0.775^n, the dominant root of 48 x^3 - 25 x^2 - 16 x + 5),
// whereas viscosity alone would only leave it to spread. Twenty sweeps a
// step from p = 0 lag behind at first and on the large scales; the
// divergence they leave travels off as waves of the only nearly
// incompressible system. So divmax falls at every one of the first ten
// steps, to less than a quarter of its start (exact pressures: 8%; no
// pressure, viscous decay alone: over 90%), and does not climb back above
// that.
TEST(PrimitiveCore, DivergenceOfADivergentStartFallsStepByStep) {
  Experiment e(prim_parameters());
  auto s = e.initial_state();
  // A weak potential flow u = grad phi, phi = A exp(-|x - x0|^2/a^2): its
  // divergence is the Laplacian of phi, compact, and so is the pressure that
  // removes it.
  const double A = 1.2e-3, a = 0.1;
  for (int j = 2; j < NR; ++j)
    for (int i = 2; i < NR; ++i) {
      const double dr = s->basic.r(i) - 0.5, dz = s->basic.z(j) - 0.5;
      const double phi = A * std::exp(-(dr * dr + dz * dz) / (a * a));
      s->fields.u(i, j) = -2.0 * dr / (a * a) * phi;
      s->fields.w(i, j) = -2.0 * dz / (a * a) * phi;
    }
  s->par.TIME = 0.505;
  e.write_state(*s, 500);
  // 40 steps, a diagnostic line after each; column 7 is divmax at its start.
  const RunResult r = e.restart(500, 0.9, 1.0, 0.0);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = diagnostic_lines(r.out);
  ASSERT_EQ(lines.size(), 40u);
  // divmax is the largest net outflow of r u per unit cell area, each face
  // value the mean of its two end points: here that of the crafted field.
  const Basic& g = s->basic;
  const Field &u = s->fields.u, &w = s->fields.w;
  double div = 0.0;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) {
      const double radial = (g.rc(k + 1) * (u(k + 1, l) + u(k + 1, l + 1)) - g.rc(k) * (u(k, l) + u(k, l + 1))) /
                            (2.0 * (g.r(k + 1) - g.r(k)));
      const double axial = (g.rc(k) * (w(k, l + 1) - w(k, l)) + g.rc(k + 1) * (w(k + 1, l + 1) - w(k + 1, l))) /
                           (2.0 * (g.z(l + 1) - g.z(l)));
      div = std::max(div, std::abs(radial + axial));
    }
  const double start = lines[0][6];
  EXPECT_NEAR(start, div, 5e-7);  // the line's six decimals
  EXPECT_GT(start, 0.1);
  for (std::size_t n = 1; n <= 10; ++n) EXPECT_LT(lines[n][6], lines[n - 1][6]) << n;
  for (std::size_t n = 10; n < lines.size(); ++n) EXPECT_LT(lines[n][6], 0.25 * start) << n;
}

namespace {

// A swirling plume from a fresh start: the body force centred on the axis
// at z = 0.4, ramped in over 0.2, in a rotating box. No buoyancy, so that
// the fresh start's pressure of zero is the balanced one.
class Plume : public ::testing::Test {
 protected:
  static constexpr double kBdfz = 0.4, kBdfr = 0.2;

  static void SetUpTestSuite() {
    experiment_ = new Experiment(prim_parameters({{"BDFZ", "0.4"}, {"BDFTURNON", "0.2"}, {"SWIRL", "0.5"}}));
    result_ = new RunResult(experiment_->fresh(0.6, 0.1, 0.0));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete experiment_;
  }
  static Experiment* experiment_;
  static RunResult* result_;
};
Experiment* Plume::experiment_ = nullptr;
RunResult* Plume::result_ = nullptr;

}  // namespace

// Pushed up on the axis, the fluid is drawn in towards it from below: at
// the edge of the forced region, r = BDFRX, the radial velocity points
// inwards at every height from above the bottom up to the forcing height.
TEST_F(Plume, BodyForceDrivesFlowUpTheAxisAndInwardsBelow) {
  ASSERT_EQ(result_->status, 0) << result_->err;
  auto s = experiment_->last_dump();
  ASSERT_GT(s->par.TIME, 0.6);
  const Fields& f = s->fields;
  for (int j = 2; s->basic.z(j) <= kBdfz + 0.5 * kBdfr; ++j) {
    if (s->basic.z(j) >= kBdfz - 0.5 * kBdfr) {
      EXPECT_GT(f.w(1, j), 0.1) << "z = " << s->basic.z(j);
    }
  }
  int edge = 1;
  while (s->basic.r(edge) < kBdfr) ++edge;
  for (int j = 2; s->basic.z(j) <= kBdfz; ++j) EXPECT_LT(f.u(edge, j), 0.0) << "z = " << s->basic.z(j);
}

// Walls are impermeable: w on the bottom and top and u on the axis and the
// outer wall stay at their initial zero through the whole run, in every dump.
TEST_F(Plume, WallNormalVelocitiesStayZero) {
  ASSERT_EQ(result_->status, 0) << result_->err;
  const auto stamps = experiment_->stamps();
  ASSERT_GE(stamps.size(), 6u);
  for (std::int64_t stamp : stamps) {
    auto s = experiment_->dump(stamp);
    const Fields& f = s->fields;
    for (int k = 1; k <= NR; ++k)
      ASSERT_TRUE(f.w(k, 1) == 0.0 && f.w(k, NR) == 0.0 && f.u(1, k) == 0.0 && f.u(NR, k) == 0.0)
          << "stamp " << stamp << ", k = " << k;
  }
}

// A dump holds the cell pressure as a 90 x 90 array in the first 8100
// values of psi and its point average in zeta, and its pressure deficit is
// the one the diagnostic line of the same step shows.
TEST_F(Plume, DumpsHoldTheCellPressureAndItsPointAverage) {
  ASSERT_EQ(result_->status, 0) << result_->err;
  const auto lines = diagnostic_lines(result_->out);
  for (std::int64_t stamp : experiment_->stamps()) {
    auto s = experiment_->dump(stamp);
    const ConstCellView p = s->fields.p();
    double pmax = 0.0, deficit = std::numeric_limits<double>::infinity();
    for (int l = 1; l <= NC; ++l)
      for (int k = 1; k <= NC; ++k) {
        pmax = std::max(pmax, std::abs(p(k, l)));
        deficit = std::min(deficit, p(k, l) - p(NC, 1));
      }
    // The mean of the cells around each point, the missing side of an
    // edge replaced by the present one; three roundings of values <= pmax.
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const int k0 = std::max(i - 1, 1), k1 = std::min(i, NC), l0 = std::max(j - 1, 1), l1 = std::min(j, NC);
        const double mean = 0.25 * ((p(k0, l0) + p(k1, l0)) + (p(k0, l1) + p(k1, l1)));
        ASSERT_NEAR(s->fields.zeta(i, j), mean, 4.0 * kEps * pmax) << stamp << ": " << i << ' ' << j;
      }
    // Column 6 of the line written after the same step, to its 4 decimals.
    const double t = s->par.TIME;
    const auto line = std::find_if(lines.begin(), lines.end(),
                                   [t](const std::vector<double>& v) { return std::abs(v[0] - t) < 5e-4; });
    ASSERT_NE(line, lines.end()) << "no diagnostic line at t = " << t;
    EXPECT_NEAR((*line)[5], deficit, 5e-5) << "t = " << t;
  }
}

// The long first sweeps and their message belong to TIME = 0 alone: once on
// a fresh start, before its first dump; never on a restart at a later time.
TEST_F(Plume, FirstTimeSweepsOnlyAtTimeZero) {
  ASSERT_EQ(result_->status, 0) << result_->err;
  const std::string message = " first time in pressure solver, using pit=1000\n";
  EXPECT_EQ(count(result_->out, message), 1u);
  EXPECT_LT(result_->out.find(message), result_->out.find("will write dump file"));
  const auto stamps = experiment_->stamps();
  auto last = experiment_->dump(stamps.back());
  const RunResult r = experiment_->restart(stamps.back(), last->par.TIME + 0.01, 1.0, 1.0);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(count(r.out, "first time"), 0u);
}

// The body force grows as TIME/BDFTURNON: none on the first step from
// TIME = 0, and, while the flow is weak enough to respond linearly, half the
// response for twice the turn-on time. The departure from linearity is the
// advective acceleration against the force, about U T/L of the response for
// speeds U over the forcing scale L = BDFRZ after a time T.
TEST(PrimitiveCore, BodyForceRampsInOverBdfturnon) {
  const char* turnon[2] = {"0.2", "0.4"};
  std::unique_ptr<State> end[2];
  for (int k = 0; k < 2; ++k) {
    Experiment e(prim_parameters({{"BDFZ", "0.4"}, {"BDFTURNON", turnon[k]}}));
    // Ten steps of 0.01, dumped after the first and the last.
    const RunResult r = e.fresh(0.095, 0.0999, 1.0);
    ASSERT_EQ(r.status, 0) << r.err;
    auto first = e.dump(e.stamps().front());
    EXPECT_EQ(max_abs(first->fields.u) + max_abs(first->fields.w), 0.0) << turnon[k];
    end[k] = e.last_dump();
  }
  const double T = end[0]->par.TIME;
  ASSERT_NEAR(T, 0.1, 1e-9);
  ASSERT_EQ(end[1]->par.TIME, T);
  const Fields &fast = end[0]->fields, &slow = end[1]->fields;
  const double bdfrz = 0.2;
  const double tol = max_abs(fast.w) * T / bdfrz;
  for (const auto& [a, b] : {std::pair{&fast.u, &slow.u}, std::pair{&fast.w, &slow.w}}) {
    double d = 0.0;
    for (std::size_t n = 0; n < Field::size(); ++n) d = std::max(d, std::abs(a->a[n] - 2.0 * b->a[n]));
    EXPECT_GT(max_abs(*a), 1e-3);
    EXPECT_LT(d, tol * max_abs(*a));
  }
}

// Both cores carry the buoyancy force b (RAY = 0, FROUDEINV = 1) and share
// the advection and diffusion of b, so a thermal rises alike in both. The
// flows differ by the second-order truncation of the two discretisations,
// (h/a)^2 ~ 1% for a thermal of radius a = 0.1 on spacings h = 1/90, a few
// times over, and by the residual divergence the primitive core leaves:
// allow 5% of the speed. b then differs by at most its largest gradient
// times the 5% of the distance the fluid travels, wmax T. Free-slip walls:
// the cores impose no-slip differently, and here only impermeability is
// common to both.
TEST(PrimitiveCore, ThermalRisesAlikeInBothCores) {
  const double amp = 0.5, a = 0.1, T = 0.5;
  std::unique_ptr<State> start, end[2];
  for (int prim = 0; prim < 2; ++prim) {
    // The vorticity core solves for psi directly (PIT = 0).
    Experiment e(prim_parameters({{"USEPRIM", prim ? "1" : "0"}, {"PIT", prim ? "20" : "0"}, {"BACTIVE", "1"},
                                  {"SLIPB", "1"}, {"SLIPT", "1"}, {"SLIPS", "1"}}));
    auto s = e.initial_state();
    // The primitive core starts from the hydrostatic pressure of the
    // uniform background b = 0.5 and finds that of the thermal itself in
    // the first-time sweeps.
    if (prim) hydrostatic_pressure(*s, 1.0);
    add_thermal(*s, amp, 0.0, 0.3, a);
    e.write_state(*s, 0);
    const RunResult r = e.restart(0, T - 0.005, T - 1e-4, 1.0);
    ASSERT_EQ(r.status, 0) << r.err;
    end[prim] = e.last_dump();
    if (!prim) start = std::move(s);
  }
  ASSERT_NEAR(end[0]->par.TIME, T, 1e-9);
  ASSERT_EQ(end[1]->par.TIME, end[0]->par.TIME);
  const double gradient = amp * std::sqrt(2.0) * std::exp(-0.5) / a;
  const double tol = 0.05 * gradient * max_abs(end[0]->fields.w) * T;
  double moved = 0.0;
  for (std::size_t n = 0; n < Field::size(); ++n) {
    ASSERT_NEAR(end[1]->fields.b.a[n], end[0]->fields.b.a[n], tol) << n;
    moved = std::max(moved, std::abs(end[0]->fields.b.a[n] - start->fields.b.a[n]));
  }
  EXPECT_GT(moved, 5.0 * tol);  // the thermal has risen well beyond the tolerance
  for (int prim = 0; prim < 2; ++prim) EXPECT_EQ(max_abs(end[prim]->fields.v), 0.0);
}
