#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "timeint/timeint.hpp"

using namespace qel;

constexpr double kEps = std::numeric_limits<double>::epsilon();

TEST(AdamsBashforth, WeightsAreClassicalSumToOneAndIntegratePolynomialsExactly) {
  // Tendency g(t) = a + b t + c t^2 at point n, F(t) = a t + b t^2/2 + c t^3/3.
  // One level integrates a constant, two a line, three a parabola.
  const auto poly = [](int nlev, std::size_t n, double x, bool integral) {
    const double a = 1.0 + 1.0e-4 * n, b = (nlev > 1) * (0.5 - 3.0e-5 * n), c = (nlev > 2) * (0.3 + 2.0e-5 * n);
    return integral ? a * x + b * x * x / 2 + c * x * x * x / 3 : a + b * x + c * x * x;
  };
  auto s = std::make_unique<State>();
  Tend& t = s->tends.tb;
  Field& f = s->fields.b;
  const Array2<3, 3>& abc = s->adams.abc;
  // Equal steps, a step twice the previous two, then uneven steps (levels at
  // t = 2, 1.3, 1.0, step 0.45). In the first two cases the weights of Euler,
  // AB2 and AB3 by columns, upper triangle: ratios of small integers.
  const double ratios[3][3] = {{0, 1.0, 2.0}, {0, 0.5, 1.0}, {0, 0.7 / 0.45, 1.0 / 0.45}}, t0 = 2.0, dt = 0.45;
  const double w[2][6] = {{1.0, 1.5, -0.5, 23.0 / 12, -4.0 / 3, 5.0 / 12},
                         {1.0, 2.0, -1.0, 19.0 / 6, -10.0 / 3, 7.0 / 6}};
  for (int c = 0; c < 3; ++c) {
    abcoef(*s, ratios[c][1], ratios[c][2]);
    // A column of weights below 4 sums to one up to the rounding of a
    // three-term sum; the known weights to a few roundings of values below 4.
    for (int m = 1, n = 0; m <= 3; ++m) {
      EXPECT_NEAR(abc(1, m) + abc(2, m) + abc(3, m), 1.0, 32 * kEps) << c << " " << m;
      for (int k = 1; k <= m && c < 2; ++k, ++n) EXPECT_NEAR(abc(k, m), w[c][n], 16 * kEps) << c << k << m;
    }
    for (int nlev = 1; nlev <= 3; ++nlev) {
      // knew, kold, kolder are slots 2, 3, 1, as after some rotations.
      for (std::size_t n = 0; n < Field::size(); ++n) {
        for (int k = 0; k < 3; ++k) slot(t, (k + 1) % 3 + 1).a[n] = poly(nlev, n, t0 - ratios[c][k] * dt, false);
        f.a[n] = poly(nlev, n, t0, true);
      }
      // Euler ignores the older levels, whatever they hold.
      if (nlev == 1) slot(t, 3).fill(-3.0e5), slot(t, 1).fill(1.0e6);
      hop(*s, nlev, 2, 3, 1, dt, t, f);
      // dt times weights below 8 times tendencies below 4, against F >= 2:
      // a few roundings of F each.
      for (std::size_t n = 0; n < Field::size(); ++n)
        ASSERT_NEAR(f.a[n], poly(nlev, n, t0 + dt, true), 64 * kEps * f.a[n]) << c << " " << nlev << " " << n;
    }
  }
}

TEST(StepChoice, StepIsTheSmallestOfTheLimits) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  // At rest without viscosity: DTMAX, or else the diffusive floor, the
  // single-precision 1.0E-15 widened, not the double 1e-15; CFL = 0 gives 0.
  p.CFL = 0.5, p.DIFF = 0.2, p.DTMAX = 0.01;
  EXPECT_TRUE(stepsize(*s) == 0.01 && p.DT == 0.01);
  p.DTMAX = 1.0e300, p.CFL = 1.0e12;
  EXPECT_EQ(stepsize(*s), 0.2 / double(1.0e-15f));
  p.CFL = 0.0;
  EXPECT_EQ(stepsize(*s), 0.0);
  // Uniform spacings 0.1 along r and 0.05 along z (m = 20, 40) and unit
  // velocity both ways: ucon = 20, wcon = 40, CFL = 0.5 gives 0.0125 (the
  // directions are not added); diffmax is K (1/dr^2 + 1/dz^2) = 500 K.
  s->basic.mr.fill(20.0), s->basic.mz.fill(40.0), s->fields.visc.fill(1.0e-3);
  s->fields.u.fill(1.0), s->fields.w.fill(1.0);
  adtime(*s, s->others.cflr, s->others.cflz);
  EXPECT_DOUBLE_EQ(diffmax(*s), 0.5);
  p.CFL = 0.5, p.DIFF = 0.25, p.DTMAX = 1.0;
  EXPECT_EQ(stepsize(*s), 0.0125);
  // The Courant numbers are the largest magnitudes anywhere: peaks on the
  // axis and in the top outer corner.
  s->fields.u(1, 30) = -3.0, s->fields.w(NR, NR) = -4.0;
  adtime(*s, s->others.cflr, s->others.cflz);
  EXPECT_TRUE(s->others.cflr == 60.0 && s->others.cflz == 160.0);
  // Doubling the viscosity halves the now binding diffusive limit (0.5), up
  // to the 1e-15 guard.
  p.CFL = 1.0e3, p.DTMAX = 1.0e9;
  const double dt1 = stepsize(*s);
  for (double& v : s->fields.visc.a) v *= 2.0;
  EXPECT_NEAR(stepsize(*s), dt1 / 2, 1.0e-12 * dt1);
}
