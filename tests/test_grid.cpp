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

TEST(Grid, UniformPlaneGridHasEqualSpacingEqualFactorsAndUnitRadiusFactors) {
  auto s = grid(1.0, 1.0, 0.0);
  const Basic& g = s->basic;
  // s_k is formed in single precision (relative rounding 6e-8), so the
  // coordinates lie within 3e-7 of HITE (k-1)/90; a spacing of 1/90 carries
  // two such roundings, a relative error below 1.2e-5 in each factor 2/spacing.
  for (int k = 1; k <= NR; ++k) {
    const int c = std::min(k, NC);
    EXPECT_NEAR(g.z(k), 3.0 * (k - 1) / 90.0, 3e-7) << k;
    EXPECT_NEAR(g.r(k), 2.0 * (k - 1) / 90.0, 3e-7) << k;
    for (double ratio : {g.mz(k) / 60.0, g.mr(k) / 90.0, g.mzh(c) / 60.0, g.mrh(c) / 90.0})
      EXPECT_NEAR(ratio, 1.0, 1.2e-5) << k;
    EXPECT_TRUE(g.rc(k) == 1 && g.rh(c) == 1 && g.rho(k) == 1 && g.rhoc(k) == 1 && g.rhoh(c) == 1) << k;
  }
  EXPECT_TRUE(g.z(1) == 0.0 && g.z(NR) == 3.0 && g.r(NR) == 2.0);
}

TEST(Grid, StretchedGridIsMonotoneWithPredictedEndSpacingsAndAxisymmetricRadii) {
  const double a = 0.3, b = 1.6, h = 1.0 / 90.0;
  auto s = grid(a, b, 1.0);
  const Basic& g = s->basic;
  for (int k = 2; k <= NR; ++k) EXPECT_TRUE(g.z(k) > g.z(k - 1) && g.r(k) > g.r(k - 1)) << k;
  // dg/ds = a at s = 0 and 2 - a at s = 1; the next term of the end spacing,
  // (2 - 2a) h^2/a at the axis and h g''/(2 g') at the wall, is 6e-4 and
  // 2.3e-3 for a = 0.3, 1e-4 at the bottom for b = 1.6: allow twice that.
  EXPECT_NEAR((g.r(2) - g.r(1)) / (2.0 * a * h), 1.0, 1.2e-3);
  EXPECT_NEAR((g.r(NR) - g.r(NC)) / (2.0 * (2.0 - a) * h), 1.0, 4.6e-3);
  EXPECT_NEAR((g.z(2) - g.z(1)) / (3.0 * b * h), 1.0, 2e-4);
  // One-sided factors at the ends, centred ones inside; the radius factor is
  // the mean of the neighbours, half the first spacing on the axis.
  EXPECT_EQ((std::array{g.mz(1), g.mz(NR), g.mr(45), g.mrh(1), g.rc(1), g.rh(1), g.rc(50), g.rc(NR), g.rh(NC)}),
            (std::array{2.0 / (g.z(2) - g.z(1)), 2.0 / (g.z(NR) - g.z(NC)), 4.0 / (g.r(46) - g.r(44)),
                        2.0 / (g.r(2) - g.r(1)), g.r(2) / 2.0, g.r(2) / 2.0, (g.r(49) + g.r(51)) / 2.0,
                        (g.r(NC) + g.r(NR)) / 2.0, (g.r(NC) + g.r(NR)) / 2.0}));
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
