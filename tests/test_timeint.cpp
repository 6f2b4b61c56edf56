#include <gtest/gtest.h>

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

TEST(AdamsBashforth, EqualAndDoubledStepsGiveTheClassicalWeights) {
  auto s = std::make_unique<State>();
  const Array2<3, 3>& abc = s->adams.abc;
  abcoef(*s, 1.0, 2.0);
  EXPECT_EQ(abc(1, 1), 1.0);
  EXPECT_EQ(abc(2, 1), 0.0);
  EXPECT_EQ(abc(3, 1), 0.0);
  EXPECT_EQ(abc(1, 2), 1.5);
  EXPECT_EQ(abc(2, 2), -0.5);
  EXPECT_EQ(abc(3, 2), 0.0);
  // Three or four roundings of values below 2 in magnitude.
  EXPECT_NEAR(abc(1, 3), 23.0 / 12.0, 8 * kEps);
  EXPECT_NEAR(abc(2, 3), -4.0 / 3.0, 8 * kEps);
  EXPECT_NEAR(abc(3, 3), 5.0 / 12.0, 8 * kEps);

  // A step twice the previous one: r1 = 1/2, the line extrapolated to t = 1.
  abcoef(*s, 0.5, 1.0);
  EXPECT_EQ(abc(1, 2), 2.0);
  EXPECT_EQ(abc(2, 2), -1.0);
}

TEST(AdamsBashforth, EveryColumnSumsToOne) {
  auto s = std::make_unique<State>();
  const Array2<3, 3>& abc = s->adams.abc;
  const double ratios[][2] = {{1.0, 2.0}, {0.5, 1.25}, {3.0, 3.5}, {0.01, 0.05}, {7.0, 20.0}};
  for (const auto& r : ratios) {
    abcoef(*s, r[0], r[1]);
    for (int m = 1; m <= 3; ++m) {
      const double sum = abc(1, m) + abc(2, m) + abc(3, m);
      // The newest weight is the remainder, so only the rounding of the
      // three-term sum of weights of size up to |abc| remains.
      const double size = std::fabs(abc(1, m)) + std::fabs(abc(2, m)) + std::fabs(abc(3, m));
      EXPECT_NEAR(sum, 1.0, 4 * kEps * size) << r[0] << " " << r[1] << " column " << m;
    }
  }
}

TEST(AdamsBashforth, FirstStepIsForwardEulerWhateverTheRatios) {
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Tend>();
  auto f = std::make_unique<Field>();
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      (*f)(i, j) = i - 0.5 * j;
      slot(*t, 3)(i, j) = 0.25 * i * j;
      slot(*t, 1)(i, j) = 1.0e6;  // older levels: finite but irrelevant
      slot(*t, 2)(i, j) = -3.0e5;
    }
  abcoef(*s, 0.37, 5.1);
  const double dt = 0.125;
  hop(*s, 1, 3, 1, 2, dt, *t, *f);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) ASSERT_EQ((*f)(i, j), (i - 0.5 * j) + dt * (0.25 * i * j));
}

TEST(AdamsBashforth, StepsIntegratePolynomialTendenciesExactlyOverVariableSteps) {
  // Tendency g(t) = a + b t + c t^2 per point; the two-level step is exact
  // for c = 0 and the three-level step for any c.
  auto s = std::make_unique<State>();
  auto t = std::make_unique<Tend>();
  auto f = std::make_unique<Field>();
  const double dt2 = 0.3, dt1 = 0.7, dt = 0.45;  // older, previous, new step
  const double tn = 2.0;
  const double times[3] = {tn, tn - dt1, tn - dt1 - dt2};
  const int slots[3] = {2, 3, 1};  // knew, kold, kolder after some rotations
  auto coef = [](int i, int j, double& a, double& b, double& c) {
    a = 1.0 + 0.01 * i;
    b = 0.5 - 0.002 * j;
    c = 0.3 + 0.001 * (i - j);
  };
  // F(t) = a t + b t^2/2 + c t^3/3, F' = g.
  auto antider = [](double a, double b, double c, double x) {
    return a * x + b * x * x / 2 + c * x * x * x / 3;
  };
  for (int nlev : {2, 3}) {
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        double a, b, c;
        coef(i, j, a, b, c);
        if (nlev == 2) c = 0.0;
        for (int k = 0; k < 3; ++k) slot(*t, slots[k])(i, j) = a + b * times[k] + c * times[k] * times[k];
        (*f)(i, j) = antider(a, b, c, tn);
      }
    abcoef(*s, dt1 / dt, (dt1 + dt2) / dt);
    hop(*s, nlev, slots[0], slots[1], slots[2], dt, *t, *f);
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) {
        double a, b, c;
        coef(i, j, a, b, c);
        if (nlev == 2) c = 0.0;
        const double want = antider(a, b, c, tn + dt);
        // Weights of size ~5 times tendencies of size ~3, a few roundings.
        ASSERT_NEAR((*f)(i, j), want, 64 * kEps * std::fabs(want)) << nlev << " " << i << " " << j;
      }
  }
}

TEST(StepChoice, RmAndAdtimeFindTheLargestMagnitudeAnywhere) {
  auto s = stretched_grid();
  auto a = std::make_unique<Field>();
  const int spots[][2] = {{1, 1}, {1, 57}, {91, 91}, {40, 1}, {63, 22}};
  for (const auto& p : spots) {
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) (*a)(i, j) = std::sin(0.1 * i + 0.37 * j);
    (*a)(p[0], p[1]) = -7.5;
    EXPECT_EQ(rm(*s, *a), 7.5) << p[0] << " " << p[1];
  }

  // adtime: grid-unit velocities, the largest magnitude of each over the grid.
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      s->fields.u(i, j) = 0.1 * std::cos(0.2 * i * j);
      s->fields.w(i, j) = 0.2 * std::sin(0.3 * i - 0.1 * j);
    }
  s->fields.u(1, 30) = -3.0;  // on the axis, where mr is largest
  s->fields.w(17, 91) = -4.0; // on the top wall
  double cr = 0, cz = 0;
  adtime(*s, cr, cz);
  EXPECT_EQ(s->contra.ucon(5, 9), s->fields.u(5, 9) * s->basic.mr(5));
  EXPECT_EQ(s->contra.wcon(5, 9), s->fields.w(5, 9) * s->basic.mz(9));
  EXPECT_EQ(cr, 3.0 * s->basic.mr(1));
  EXPECT_EQ(cz, 4.0 * s->basic.mz(91));
}

TEST(StepChoice, FlowAtRestWithoutViscosityTakesDtmaxOrTheFloors) {
  auto s = stretched_grid();
  s->par.CFL = 0.5;
  s->par.DIFF = 0.2;
  s->par.DTMAX = 0.01;
  EXPECT_EQ(stepsize(*s), 0.01);
  EXPECT_EQ(s->par.DT, 0.01);
  // Without a ceiling the diffusive floor decides; it is the single-precision
  // 1.0E-15 widened, not the double 1e-15.
  s->par.DTMAX = 1.0e300;
  s->par.CFL = 1.0e12;
  EXPECT_EQ(stepsize(*s), 0.2 / double(1.0e-15f));
  // ...and with a small CFL the speed floor 1e-6 gives CFL/1e-6.
  s->par.CFL = 1.0e-3;
  EXPECT_EQ(stepsize(*s), 1.0e-3 / 1.0e-6);
}

TEST(StepChoice, ZeroCflGivesZeroStep) {
  auto s = stretched_grid();
  s->fields.u.fill(0.3);
  s->fields.visc.fill(0.01);
  double cr, cz;
  adtime(*s, cr, cz);
  s->others.cflr = cr;
  s->others.cflz = cz;
  s->par.CFL = 0.0;
  s->par.DIFF = 0.2;
  s->par.DTMAX = 1.0;
  EXPECT_EQ(stepsize(*s), 0.0);
  EXPECT_EQ(s->par.DT, 0.0);
}

TEST(StepChoice, DiffusiveLimitIsInverseToTheViscosity) {
  auto s = stretched_grid();
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s->fields.visc(i, j) = 1.0e-3 * (1.0 + 0.01 * j);
  s->par.CFL = 1.0;
  s->par.DIFF = 0.25;
  s->par.DTMAX = 1.0e9;
  const double dt1 = stepsize(*s);
  for (double& v : s->fields.visc.a) v *= 2.0;
  const double dt2 = stepsize(*s);
  // diffmax doubles exactly; the 1e-15 guard moves the ratio by ~1e-15/D.
  EXPECT_NEAR(dt2, dt1 / 2, 1.0e-12 * dt1);

  // On a uniform grid D = max visc (1/dr^2 + 1/dz^2) = K_max (90^2 + 45^2).
  s->par.RWID = 1.0;
  s->par.HITE = 2.0;
  s->par.STR = s->par.STZ = 1.0;
  maketrans(*s);
  // Spacings carry the single-precision rounding of s (relative 1.2e-5 in m).
  EXPECT_NEAR(diffmax(*s), 2.0e-3 * 1.91 * (8100.0 + 2025.0), 2.0e-3 * 1.91 * 10125.0 * 5.0e-5);
}

TEST(StepChoice, UniformGridExampleGivesTheCourantLimit) {
  // Spacing 0.1 (m = 20), unit velocity both ways: ucon = wcon = 20 and with
  // CFL = 0.5 the step is 0.5/20 = 0.025; the two directions are not added.
  auto s = std::make_unique<State>();
  s->basic.mr.fill(20.0);
  s->basic.mz.fill(20.0);
  s->fields.u.fill(1.0);
  s->fields.w.fill(1.0);
  adtime(*s, s->others.cflr, s->others.cflz);
  EXPECT_EQ(s->others.cflr, 20.0);
  EXPECT_EQ(s->others.cflz, 20.0);
  s->par.CFL = 0.5;
  s->par.DIFF = 0.25;
  s->par.DTMAX = 1.0;
  EXPECT_EQ(stepsize(*s), 0.025);
}
