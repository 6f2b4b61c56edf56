#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "timeint/timeint.hpp"

using namespace qel;

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
