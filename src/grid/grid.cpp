#include "grid/grid.hpp"

namespace qel {

namespace {

// Stretching function g(s; a) = (s^3 (2 - a) + a s) / (s^2 + 1).
double stretch(double s, double a) {
  return (s * s * s * (2.0 - a) + a * s) / (s * s + 1.0);
}

// s_k = k h - h evaluated in single precision, h = 1/90 rounded to single.
double unit_coordinate(int k) {
  const float h = 1.0f / 90.0f;
  const float s = float(k) * h - h;
  return double(s);
}

// Point factors 2/(x(2)-x(1)), 4/(x(k+1)-x(k-1)), 2/(x(N)-x(N-1)).
void point_factors(const Array1<NR>& x, Array1<NR>& m) {
  m(1) = 2.0 / (x(2) - x(1));
  for (int k = 2; k <= NR - 1; ++k) m(k) = 4.0 / (x(k + 1) - x(k - 1));
  m(NR) = 2.0 / (x(NR) - x(NR - 1));
}

// Cell factors 2/(x(k+1)-x(k)).
void cell_factors(const Array1<NR>& x, Array1<NC>& m) {
  for (int k = 1; k <= NC; ++k) m(k) = 2.0 / (x(k + 1) - x(k));
}

// x at the points in the form of rc: the mean of the neighbours, one-sided
// at the ends, so that the axis value is half the first spacing.
void point_means(const Array1<NR>& x, Array1<NR>& xc) {
  xc(1) = (x(1) + x(2)) / 2.0;
  for (int k = 2; k <= NR - 1; ++k) xc(k) = (x(k - 1) + x(k + 1)) / 2.0;
  xc(NR) = (x(NR - 1) + x(NR)) / 2.0;
}

void cell_means(const Array1<NR>& x, Array1<NC>& xh) {
  for (int k = 1; k <= NC; ++k) xh(k) = (x(k) + x(k + 1)) / 2.0;
}

}  // namespace

void maketrans(State& s) {
  Basic& g = s.basic;
  Bnds& t = s.bnds;
  for (int k = 1; k <= NR; ++k) {
    t.ip(k) = k < NC ? k : NC;
    t.im(k) = k - 1 > 1 ? k - 1 : 1;
    t.jp(k) = t.ip(k);
    t.jm(k) = t.im(k);
  }
  for (int j = 1; j <= NR; ++j) g.z(j) = s.par.HITE * stretch(unit_coordinate(j), s.par.STZ);
  for (int i = 1; i <= NR; ++i) g.r(i) = s.par.RWID * stretch(unit_coordinate(i), s.par.STR);
  if (s.par.AXI == 0.0) {
    g.rc.fill(1.0);
    g.rh.fill(1.0);
  } else {
    point_means(g.r, g.rc);
    cell_means(g.r, g.rh);
  }
  g.rho.fill(1.0);
  point_means(g.rho, g.rhoc);
  cell_means(g.rho, g.rhoh);
  point_factors(g.r, g.mr);
  point_factors(g.z, g.mz);
  cell_factors(g.r, g.mrh);
  cell_factors(g.z, g.mzh);
}

void utop(const Field& fu, CellField& fc) {
  for (int j = 1; j <= NC; ++j)
    for (int i = 1; i <= NC; ++i)
      fc(i, j) = ((fu(i, j) + fu(i, j + 1)) + (fu(i + 1, j) + fu(i + 1, j + 1))) * 0.25;
}

void ptou(const State& s, ConstCellView fc, Field& fu) {
  const Bnds& t = s.bnds;
  for (int i = 1; i <= NR; ++i)
    for (int j = 1; j <= NR; ++j)
      fu(i, j) = (fc(t.im(i), t.jp(j)) + fc(t.im(i), t.jm(j)) + fc(t.ip(i), t.jp(j)) +
                  fc(t.ip(i), t.jm(j))) * 0.25;
}

}  // namespace qel
