#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>

#include "grid/grid.hpp"

using namespace qel;

// A grid of width 2 and height 3 with stretchings str along r, stz along z.
static std::unique_ptr<State> grid(double str, double stz, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = 2.0;
  s->par.HITE = 3.0;
  s->par.STR = str;
  s->par.STZ = stz;
  s->par.AXI = axi;
  maketrans(*s);
  return s;
}

// x(k) = L g(s_k; a), g(s; a) = (s^3 (2 - a) + a s)/(s^2 + 1), with s_k =
// k h - h formed in single precision from h = 1/90 in single: uniform for a = 1.
TEST(Grid, CoordinatesFollowTheStretchingAndFactorsTheSpacings) {
  const auto coordinate = [](int k, double length, double a) {
    const float h = 1.0f / 90.0f, sk = float(k) * h - h;
    const double x = sk;
    return length * (x * x * x * (2.0 - a) + a * x) / (x * x + 1.0);
  };
  for (const auto& [str, stz] : {std::pair{1.0, 1.0}, {0.3, 1.6}}) {
    auto s = grid(str, stz, str == 1.0 ? 0.0 : 1.0);
    for (int k = 1; k <= NR; ++k) {
      EXPECT_NEAR(s->basic.r(k), coordinate(k, 2.0, str), 2e-15) << k;
      EXPECT_NEAR(s->basic.z(k), coordinate(k, 3.0, stz), 3e-15) << k;
    }
  }
  // Plane and uniform: factors 2/spacing within the two single-precision
  // roundings of a spacing (1.2e-5), every radius factor 1.
  auto s = grid(1.0, 1.0, 0.0);
  const Basic& g = s->basic;
  for (int k = 1; k <= NR; ++k) {
    const int c = std::min(k, NC);
    for (double ratio : {g.mz(k) / 60.0, g.mr(k) / 90.0, g.mzh(c) / 60.0, g.mrh(c) / 90.0})
      EXPECT_NEAR(ratio, 1.0, 1.2e-5) << k;
    EXPECT_TRUE(g.rc(k) == 1 && g.rh(c) == 1 && g.rho(k) == 1 && g.rhoc(k) == 1 && g.rhoh(c) == 1) << k;
  }
  // Stretched and axisymmetric: one-sided factors at the ends, centred ones
  // inside; the radius factor is the mean of the neighbours, half the first
  // spacing on the axis.
  const auto t = grid(0.3, 1.6, 1.0);
  const Basic& q = t->basic;
  EXPECT_EQ((std::array{q.mz(1), q.mz(NR), q.mr(45), q.mrh(1), q.rc(1), q.rh(1), q.rc(50), q.rc(NR), q.rh(NC)}),
            (std::array{2.0 / (q.z(2) - q.z(1)), 2.0 / (q.z(NR) - q.z(NC)), 4.0 / (q.r(46) - q.r(44)),
                        2.0 / (q.r(2) - q.r(1)), q.r(2) / 2.0, q.r(2) / 2.0, (q.r(49) + q.r(51)) / 2.0,
                        (q.r(NC) + q.r(NR)) / 2.0, (q.r(NC) + q.r(NR)) / 2.0}));
}

TEST(Averaging, LinearFieldsAreReproducedAndEdgesTakeThePresentSide) {
  auto s = grid(0.5, 1.5, 1.0);
  const Bnds& t = s->bnds;
  EXPECT_EQ((std::array{t.ip(1), t.im(1), t.ip(40), t.im(40), t.jp(91), t.jm(91)}), (std::array{1, 1, 40, 39, 90, 90}));
  // Point values linear in i and j average to their cell-centre values;
  // integers and quarters, so exactly.
  auto fu = std::make_unique<Field>();
  auto fc = std::make_unique<CellField>();
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) (*fu)(i, j) = 3.0 * i - 2.0 * j + 0.25;
  utop(*fu, *fc);
  for (int j = 1; j <= NC; ++j)
    for (int i = 1; i <= NC; ++i) EXPECT_EQ((*fc)(i, j), 3.0 * (i + 0.5) - 2.0 * (j + 0.5) + 0.25) << i << " " << j;

  // Back at the points, held as the pressure in the first 8100 values of psi:
  // a point inside takes the mean of its four cells, linear again; at edges
  // and corners the missing side is replaced by the present one.
  CellView p = s->fields.p();
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) p(k, l) = 1000.0 * k + l;
  EXPECT_EQ(s->fields.psi.data()[8099], 90090.0);
  ptou(*s, p, *fu);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i)
      EXPECT_EQ((*fu)(i, j), 1000.0 * std::clamp(i - 0.5, 1.0, 90.0) + std::clamp(j - 0.5, 1.0, 90.0)) << i << " " << j;
}
