// The time loop of whole runs with dynamics: the Adams-Bashforth weights
// over steps of changing length in both cores, and the diagnostic line
// against the dumps written at the same step.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

#include "run_testing.hpp"

using namespace qel;
using namespace qel::testing;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

// Weights of the k newest tendency levels (k = 1..nlev) in a step of length
// 1: the integrals over [0, 1] of the Lagrange polynomials through the
// level times 0, -r1 and -r2.
std::array<double, 3> ab_weights(int nlev, double r1, double r2) {
  if (nlev == 1) return {1.0, 0.0, 0.0};
  if (nlev == 2) return {(0.5 + r1) / r1, -0.5 / r1, 0.0};
  return {(1.0 / 3 + (r1 + r2) / 2 + r1 * r2) / (r1 * r2), -(1.0 / 3 + r2 / 2) / (r1 * (r2 - r1)),
          (1.0 / 3 + r1 / 2) / (r2 * (r2 - r1))};
}

// The column-pressure contrast of the diagnostic line: phyd(i) = -integral
// of b dz up column i by the trapezoidal rule, on the axis minus its
// trapezoidal r-mean over the band from the last r <= 0.5 to the first r >= 1.
double column_contrast(const State& s) {
  const Array1<NR>&r = s.basic.r, &z = s.basic.z;
  std::array<double, NR + 1> phyd{};
  for (int i = 1; i <= NR; ++i)
    for (int j = 1; j < NR; ++j) phyd[i] -= 0.5 * (s.fields.b(i, j) + s.fields.b(i, j + 1)) * (z(j + 1) - z(j));
  int lo = 1, hi = NR;
  while (lo < NR && r(lo + 1) <= 0.5) ++lo;
  while (hi > 1 && r(hi - 1) >= 1.0) --hi;
  double mean = 0.0;
  for (int m = lo + 1; m <= hi; ++m) mean += 0.5 * (phyd[m] + phyd[m - 1]) * (r(m) - r(m - 1));
  return phyd[1] - mean / (r(hi) - r(lo));
}

}  // namespace

// A thermal already rising, in each core: every step is Courant-limited and
// differs in length from the one before. Each step advances the prognostic
// fields by DT times the weighted tendencies of the three newest levels.
// The first step of any run is an Euler step, so a one-step run from the
// dump of step n gives DT_n times the tendency of level n; the weights for
// the steps actually taken, with the two previous step lengths carried from
// step to step by the loop below, must then rebuild every dump of the whole
// run from the one before.
TEST(TimeLoop, AdamsBashforthWeightsFollowTheUnequalStepsTaken) {
  for (const bool prim : {false, true}) {
    SCOPED_TRACE(prim ? "primitive core" : "vorticity core");
    const auto params = [prim](const char* dtmax) {
      return stretched_box(prim, {{"BACTIVE", "1"}, {"REI", "1e-5"}, {"REIT", "1e-5"}, {"DTMAX", dtmax}});
    };
    std::unique_ptr<State> start;
    {
      Experiment warm(params("0.01"));
      auto s = warm.initial_state();
      add_thermal(*s, 0.3, 0.0, 0.3, 0.15);
      start = warm.advance(*s, "1 1 1");
    }
    start->par.DTMAX = 1.0;
    Experiment e(params("1"));
    // A dump after every step; steps longer than 0.01 keep their names apart.
    const RunResult run = e.restart_from(*start, std::to_string(start->par.TIME + 0.1) + " 1e-9 1e9");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::unique_ptr<State>> d;  // d[n]: the state after n steps
    for (std::int64_t stamp : e.stamps()) d.push_back(e.dump(stamp));
    const std::size_t steps = d.size() - 1;
    ASSERT_GE(steps, 6u);
    for (std::size_t n = 2; n <= steps; ++n)
      EXPECT_TRUE(std::abs(d[n]->par.DT / d[n - 1]->par.DT - 1.0) > 1e-3 && d[n]->par.DT > 0.01) << n;
    EXPECT_LT(d[1]->par.DT, 1.0);  // Courant-limited from the first step

    // The fields a step advances and where: the wall vorticity comes from
    // the wall rules; the primitive core holds u on the no-slip bottom and
    // w on the no-slip outer wall at zero before it steps.
    const std::vector<Field Fields::*> fields = prim ? std::vector{&Fields::u, &Fields::w, &Fields::b}
                                                      : std::vector{&Fields::zeta, &Fields::b};
    const int edge = !prim;
    const auto at_start = [&](const State& x, Field Fields::*f, int i, int j) {
      const bool held = prim && ((f == &Fields::u && j == 1) || (f == &Fields::w && i == NR));
      return held ? 0.0 : (x.fields.*f)(i, j);
    };
    // dx[n]: DT_n times the tendencies of the state after n steps.
    std::vector<std::unique_ptr<State>> dx(steps);
    for (std::size_t n = 0; n < steps; ++n) {
      Experiment once(params("1"));
      dx[n] = once.advance(*d[n], "0 1 1");
      ASSERT_EQ(dx[n]->par.DT, d[n + 1]->par.DT) << n;  // the same state chooses the same step
      for (Field Fields::*f : fields)
        for (int j = 1; j <= NR; ++j)
          for (int i = 1; i <= NR; ++i) (dx[n]->fields.*f)(i, j) -= at_start(*d[n], f, i, j);
    }
    double dtold1 = 1.0, dtold2 = 1.0;
    for (std::size_t n = 0; n < steps; ++n) {
      const double dt = d[n + 1]->par.DT;
      const int nlev = int(std::min<std::size_t>(n + 1, 3));
      const auto a = ab_weights(nlev, dtold1 / dt, (dtold1 + dtold2) / dt);
      for (Field Fields::*f : fields) {
        const Field& next = d[n + 1]->fields.*f;
        const double tol = 16 * kEps * max_abs(next);
        for (int j = 1 + edge; j <= NR - edge; ++j)
          for (int i = 1 + edge; i <= NR - edge; ++i) {
            double sum = 0.0;
            for (int k = 0; k < nlev; ++k) sum += a[k] * (dx[n - k]->fields.*f)(i, j) * (dt / d[n - k + 1]->par.DT);
            ASSERT_NEAR(next(i, j), at_start(*d[n], f, i, j) + sum, tol) << "step " << n + 1 << " at " << i << ' ' << j;
          }
      }
      dtold2 = std::exchange(dtold1, dt);
    }
  }
}

// A thermal beside a swirling vortex in the primitive core, buoyancy felt
// through FROUDEINV, a dump and a diagnostic line after every step. Each
// column of the line shows the dump of the same step to its decimals: the
// time, the step, the smallest u, the largest v and w, the pressure deficit
// and the column-pressure contrast; the divergence is that of the velocity
// the step started from, u on the no-slip bottom and w on the no-slip outer
// wall set to zero as the core sets them before it measures.
TEST(TimeLoop, DiagnosticLineShowsTheDumpsOfTheSameStep) {
  Experiment e(stretched_box(true, {{"BACTIVE", "1"}, {"FROUDEINV", "2"}, {"SWIRL", "0.5"}}));
  auto s = e.initial_state();
  add_thermal(*s, 0.5, 0.0, 0.3, 0.1);
  add_thermal(*s, 0.3, 0.8, 0.5, 0.2);  // a band mean that depends on where the band ends
  for (int j = 2; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s->fields.v(i, j) = 3.0 * s->basic.r(i) * std::exp(-std::pow(s->basic.r(i) / 0.2, 2));
  s->par.TIME = 0.505;  // not a fresh start: the pressure takes PIT sweeps
  const RunResult r = e.restart_from(*s, "0.6 1e-9 0");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = diagnostic_lines(r.out);
  const auto stamps = e.stamps();  // the start, then one dump a step
  ASSERT_EQ(lines.size(), 10u);
  ASSERT_EQ(stamps.size(), lines.size() + 1);
  std::unique_ptr<State> before;
  for (std::size_t n = 0; n <= lines.size(); ++n) {
    auto d = e.dump(stamps[n]);
    const Fields& f = d->fields;
    double deficit = 0.0;
    for (int l = 1; l <= NC; ++l)
      for (int k = 1; k <= NC; ++k) deficit = std::min(deficit, f.p()(k, l) - f.p()(NC, 1));
    const double want[8] = {d->par.TIME, d->par.DT, std::ranges::min(f.u.a), std::ranges::max(f.v.a),
                            std::ranges::max(f.w.a), deficit, n ? largest_divergence(*before) : 0.0,
                            2.0 * column_contrast(*d)};
    const int decimals[8] = {3, 5, 4, 4, 4, 4, 6, 4};
    for (int c = 0; n && c < 8; ++c)
      EXPECT_NEAR(lines[n - 1][c], want[c], 0.5001 * std::pow(10.0, -decimals[c])) << "step " << n << ", column " << c + 1;
    before = std::move(d);
    for (int k = 1; k <= NR; ++k) before->fields.u(k, 1) = before->fields.w(NR, k) = 0.0;
  }
  // The columns differ enough for a swap or a wrong extreme to show.
  const auto& last = lines.back();
  EXPECT_GT(std::ranges::max(before->fields.u.a) - last[2], 1e-3);
  EXPECT_GT(std::abs(last[3] - last[4]), 1e-3);
}
