#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "grid/grid.hpp"
#include "timeint/timeint.hpp"

using namespace qel;

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();

std::unique_ptr<State> stretched_grid() {
  auto s = std::make_unique<State>();
  s->par.RWID = 1.5;
  s->par.HITE = 2.0;
  s->par.STR = 0.4;
  s->par.STZ = 1.3;
  maketrans(*s);
  return s;
}

}  // namespace

TEST(AdamsBashforth, WeightsAreTheClassicalOnesAndSumToOne) {
  auto s = std::make_unique<State>();
  const Array2<3, 3>& abc = s->adams.abc;
  abcoef(*s, 1.0, 2.0);
  EXPECT_EQ(abc(1, 1), 1.0);
  EXPECT_EQ(abc(2, 1), 0.0);
  EXPECT_EQ(abc(1, 2), 1.5);
  EXPECT_EQ(abc(2, 2), -0.5);
  EXPECT_EQ(abc(3, 2), 0.0);
  // Three or four roundings of values below 2 in magnitude.
  EXPECT_NEAR(abc(1, 3), 23.0 / 12.0, 8 * kEps);
  EXPECT_NEAR(abc(2, 3), -4.0 / 3.0, 8 * kEps);
  EXPECT_NEAR(abc(3, 3), 5.0 / 12.0, 8 * kEps);
  // A step twice the previous one extrapolates the line to t = 1.
  abcoef(*s, 0.5, 1.0);
  EXPECT_EQ(abc(1, 2), 2.0);
  EXPECT_EQ(abc(2, 2), -1.0);
  // The newest weight is the remainder: a column sums to one up to the
  // rounding of a three-term sum.
  for (const double r1 : {0.01, 0.5, 3.0, 7.0})
    for (const double gap : {0.04, 0.75, 13.0}) {
      abcoef(*s, r1, r1 + gap);
      for (int m = 1; m <= 3; ++m) {
        const double size = std::fabs(abc(1, m)) + std::fabs(abc(2, m)) + std::fabs(abc(3, m));
        EXPECT_NEAR(abc(1, m) + abc(2, m) + abc(3, m), 1.0, 4 * kEps * size) << r1 << " " << gap;
      }
    }
}

TEST(AdamsBashforth, HopIsEulerFirstThenExactForPolynomialTendencies) {
  // Tendency g(t) = a + b t + c t^2 at each point, known at t = 2, 1.3, 1.0;
  // F(t) = a t + b t^2/2 + c t^3/3 advanced by a step 0.45.
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Tend>();
  auto f = std::make_unique<Field>(), want = std::make_unique<Field>();
  const double times[3] = {2.0, 1.3, 1.0}, dt = 0.45;
  const int slots[3] = {2, 3, 1};  // knew, kold, kolder after some rotations
  for (int nlev = 1; nlev <= 3; ++nlev) {
    // One level integrates a constant, two a line, three a parabola.
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        const double a = 1.0 + 0.01 * i, b = nlev > 1 ? 0.5 - 0.002 * j : 0.0,
                     c = nlev > 2 ? 0.3 + 0.001 * (i - j) : 0.0;
        for (int k = 0; k < 3; ++k)
          slot(*t, slots[k])(i, j) = a + b * times[k] + c * times[k] * times[k];
        const auto antider = [&](double x) { return a * x + b * x * x / 2 + c * x * x * x / 3; };
        (*f)(i, j) = antider(times[0]);
        (*want)(i, j) = antider(times[0] + dt);
      }
    // Euler ignores the older levels, whatever the ratios.
    if (nlev == 1) slot(*t, slots[1]).fill(-3.0e5), slot(*t, slots[2]).fill(1.0e6);
    abcoef(*s, (times[0] - times[1]) / dt, (times[0] - times[2]) / dt);
    hop(*s, nlev, slots[0], slots[1], slots[2], dt, *t, *f);
    // Weights up to ~5 times tendencies up to ~3: a few roundings each.
    for (std::size_t n = 0; n < Field::size(); ++n)
      ASSERT_NEAR(f->a[n], want->a[n], 64 * kEps * std::fabs(want->a[n])) << nlev << " " << n;
  }
}

TEST(StepChoice, ReductionsFindTheLargestMagnitudeAnywhere) {
  auto s = stretched_grid();
  auto a = std::make_unique<Field>();
  for (const auto& p : {std::array{1, 1}, {1, 57}, {2, 30}, {91, 91}, {40, 1}, {63, 22}}) {
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) (*a)(i, j) = std::sin(0.1 * i + 0.37 * j);
    (*a)(p[0], p[1]) = -7.5;
    EXPECT_EQ(rm(*s, *a), 7.5) << p[0] << " " << p[1];
  }
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      s->fields.u(i, j) = 0.1 * std::cos(0.2 * i * j);
      s->fields.w(i, j) = 0.2 * std::sin(0.3 * i - 0.1 * j);
    }
  s->fields.u(1, 30) = -3.0;   // on the axis, where mr is largest
  s->fields.w(17, 91) = -4.0;  // on the top wall
  double cr = 0, cz = 0;
  adtime(*s, cr, cz);
  EXPECT_EQ(s->contra.ucon(5, 9), s->fields.u(5, 9) * s->basic.mr(5));
  EXPECT_EQ(s->contra.wcon(5, 9), s->fields.w(5, 9) * s->basic.mz(9));
  EXPECT_EQ(cr, 3.0 * s->basic.mr(1));
  EXPECT_EQ(cz, 4.0 * s->basic.mz(91));
}

TEST(StepChoice, StepIsTheSmallestOfTheLimits) {
  auto s = stretched_grid();
  Par& p = s->par;
  // At rest without viscosity: DTMAX, or else the floors, the diffusive one
  // being the single-precision 1.0E-15 widened, not the double 1e-15.
  p.CFL = 0.5, p.DIFF = 0.2, p.DTMAX = 0.01;
  EXPECT_EQ(stepsize(*s), 0.01);
  EXPECT_EQ(p.DT, 0.01);
  p.DTMAX = 1.0e300, p.CFL = 1.0e12;
  EXPECT_EQ(stepsize(*s), 0.2 / double(1.0e-15f));
  p.CFL = 1.0e-3;
  EXPECT_EQ(stepsize(*s), 1.0e-3 / 1.0e-6);
  p.CFL = 0.0;
  EXPECT_EQ(stepsize(*s), 0.0);

  // Doubling the viscosity doubles diffmax exactly and halves the limit,
  // up to the 1e-15 guard.
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s->fields.visc(i, j) = 1.0e-3 * (1.0 + 0.01 * j);
  p.CFL = 1.0, p.DTMAX = 1.0e9;
  const double dt1 = stepsize(*s);
  for (double& v : s->fields.visc.a) v *= 2.0;
  EXPECT_NEAR(stepsize(*s), dt1 / 2, 1.0e-12 * dt1);

  // Uniform spacing 0.1 (m = 20) and unit velocity both ways: ucon = wcon = 20,
  // CFL = 0.5 gives 0.025 (the directions are not added); diffmax is
  // K (1/dr^2 + 1/dz^2) = 200 K.
  s->basic.mr.fill(20.0);
  s->basic.mz.fill(20.0);
  s->fields.u.fill(1.0);
  s->fields.w.fill(1.0);
  s->fields.visc.fill(1.0e-3);
  adtime(*s, s->others.cflr, s->others.cflz);
  EXPECT_DOUBLE_EQ(diffmax(*s), 0.2);
  p.CFL = 0.5, p.DIFF = 0.25, p.DTMAX = 1.0;
  EXPECT_EQ(stepsize(*s), 0.025);
}
