#include <gtest/gtest.h>

#include <memory>

#include "grid/grid.hpp"

using namespace qel;

namespace {

std::unique_ptr<State> grid(double rwid, double hite, double str, double stz, double axi) {
  auto s = std::make_unique<State>();
  s->par.RWID = rwid;
  s->par.HITE = hite;
  s->par.STR = str;
  s->par.STZ = stz;
  s->par.AXI = axi;
  maketrans(*s);
  return s;
}

}  // namespace

TEST(Grid, UniformGridHasEqualSpacingAndFactors) {
  auto s = grid(2.0, 3.0, 1.0, 1.0, 0.0);
  const Basic& g = s->basic;
  // s_k is formed in single precision, so coordinates carry its rounding.
  const double tol = 3.0 * 1e-7;
  for (int j = 1; j <= NR; ++j) EXPECT_NEAR(g.z(j), 3.0 * (j - 1) / 90.0, tol) << j;
  for (int i = 1; i <= NR; ++i) EXPECT_NEAR(g.r(i), 2.0 * (i - 1) / 90.0, tol) << i;
  EXPECT_EQ(g.z(1), 0.0);
  EXPECT_EQ(g.z(NR), 3.0);
  EXPECT_EQ(g.r(NR), 2.0);
  // A spacing of 1/90 carries two single-precision roundings of s (6e-8
  // each): relative error below 1.2e-5 in every factor.
  const double rel = 1.2e-5;
  for (int k = 1; k <= NR; ++k) {
    EXPECT_NEAR(g.mz(k), 60.0, 60.0 * rel) << k;
    EXPECT_NEAR(g.mr(k), 90.0, 90.0 * rel) << k;
  }
  for (int k = 1; k <= NC; ++k) {
    EXPECT_NEAR(g.mzh(k), 60.0, 60.0 * rel) << k;
    EXPECT_NEAR(g.mrh(k), 90.0, 90.0 * rel) << k;
  }
}

TEST(Grid, StretchedGridIsMonotoneWithPredictedEndSpacings) {
  const double a = 0.3;
  auto s = grid(1.0, 2.0, a, a, 1.0);
  const Basic& g = s->basic;
  for (int k = 2; k <= NR; ++k) {
    EXPECT_GT(g.z(k), g.z(k - 1));
    EXPECT_GT(g.r(k), g.r(k - 1));
  }
  // dg/ds = a at s = 0 and 2 - a at s = 1: the end spacings are about
  // HITE*a/90 and HITE*(2-a)/90, to first order in the spacing.
  const double h = 1.0 / 90.0;
  EXPECT_NEAR((g.z(2) - g.z(1)) / (2.0 * a * h), 1.0, 0.01);
  EXPECT_NEAR((g.z(NR) - g.z(NR - 1)) / (2.0 * (2.0 - a) * h), 1.0, 0.02);
  EXPECT_NEAR((g.r(2) - g.r(1)) / (1.0 * a * h), 1.0, 0.01);
  // The one-sided end factors and the centred interior ones.
  EXPECT_EQ(g.mz(1), 2.0 / (g.z(2) - g.z(1)));
  EXPECT_EQ(g.mz(NR), 2.0 / (g.z(NR) - g.z(NR - 1)));
  EXPECT_EQ(g.mr(45), 4.0 / (g.r(46) - g.r(44)));
  EXPECT_EQ(g.mrh(1), 2.0 / (g.r(2) - g.r(1)));
}

TEST(Grid, RadiusFactorsDependOnGeometry) {
  auto plane = grid(1.0, 1.0, 0.5, 0.5, 0.0);
  for (int i = 1; i <= NR; ++i) {
    EXPECT_EQ(plane->basic.rc(i), 1.0);
    EXPECT_EQ(plane->basic.rho(i), 1.0);
    EXPECT_EQ(plane->basic.rhoc(i), 1.0);
  }
  for (int i = 1; i <= NC; ++i) {
    EXPECT_EQ(plane->basic.rh(i), 1.0);
    EXPECT_EQ(plane->basic.rhoh(i), 1.0);
  }
  for (double axi : {1.0, 2.0}) {
    auto s = grid(1.0, 1.0, 0.5, 0.5, axi);
    const Basic& g = s->basic;
    EXPECT_EQ(g.rc(1), g.r(2) / 2.0);
    EXPECT_EQ(g.rh(1), g.r(2) / 2.0);
    EXPECT_EQ(g.rc(50), (g.r(49) + g.r(51)) / 2.0);
    EXPECT_EQ(g.rc(NR), (g.r(NC) + g.r(NR)) / 2.0);
    EXPECT_EQ(g.rh(NC), (g.r(NC) + g.r(NR)) / 2.0);
    EXPECT_EQ(g.rhoc(1), 1.0);
  }
}

TEST(Grid, IndexTablesClampAtTheEdges) {
  auto s = grid(1.0, 1.0, 1.0, 1.0, 0.0);
  const Bnds& t = s->bnds;
  EXPECT_EQ(t.ip(91), 90);
  EXPECT_EQ(t.im(1), 1);
  EXPECT_EQ(t.ip(1), 1);
  EXPECT_EQ(t.im(91), 90);
  EXPECT_EQ(t.ip(40), 40);
  EXPECT_EQ(t.im(40), 39);
  EXPECT_EQ(t.jp(91), 90);
  EXPECT_EQ(t.jm(2), 1);
}

TEST(Averaging, ConstantAndLinearFieldsAreReproduced) {
  auto s = grid(1.0, 1.0, 1.0, 1.0, 0.0);
  auto fu = std::make_unique<Field>();
  auto fc = std::make_unique<CellField>();
  fu->fill(2.5);
  utop(*fu, *fc);
  for (double x : fc->a) EXPECT_EQ(x, 2.5);
  ptou(*s, cells(*fc), *fu);
  for (double x : fu->a) EXPECT_EQ(x, 2.5);

  // A field linear in i and j is returned at the cell centre.
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) (*fu)(i, j) = 3.0 * i - 2.0 * j;
  utop(*fu, *fc);
  for (int j = 1; j <= NC; ++j)
    for (int i = 1; i <= NC; ++i) EXPECT_EQ((*fc)(i, j), 3.0 * (i + 0.5) - 2.0 * (j + 0.5));
}

TEST(Averaging, PtouUsesThePresentSideAtEdgesAndCorners) {
  auto s = grid(1.0, 1.0, 1.0, 1.0, 0.0);
  auto fu = std::make_unique<Field>();
  auto fc = std::make_unique<CellField>();
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) (*fc)(k, l) = k * 1000.0 + l;
  ptou(*s, cells(*fc), *fu);
  EXPECT_EQ((*fu)(1, 1), (*fc)(1, 1));
  EXPECT_EQ((*fu)(91, 91), (*fc)(90, 90));
  EXPECT_EQ((*fu)(91, 1), (*fc)(90, 1));
  for (int j = 2; j <= NC; ++j) EXPECT_EQ((*fu)(1, j), ((*fc)(1, j - 1) + (*fc)(1, j)) / 2.0) << j;
  EXPECT_EQ((*fu)(40, 30),
            ((*fc)(39, 29) + (*fc)(39, 30) + (*fc)(40, 29) + (*fc)(40, 30)) * 0.25);

  // ptou reads the pressure through the 90 x 90 view over psi.
  auto st = grid(1.0, 1.0, 1.0, 1.0, 0.0);
  CellView p = st->fields.p();
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) p(k, l) = (*fc)(k, l);
  EXPECT_EQ(st->fields.psi.data()[8099], (*fc)(90, 90));
  ptou(*st, st->fields.p(), st->fields.zeta);
  for (std::size_t n = 0; n < Field::size(); ++n) EXPECT_EQ(st->fields.zeta.a[n], fu->a[n]);
}
