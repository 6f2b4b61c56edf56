#include "driver/diagnostics.hpp"

#include <cmath>
#include <limits>

namespace qel {

double rmax(const Field& a) {
  double m = a(1, 1);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i)
      if (a(i, j) >= m) m = a(i, j);
  return m;
}

double rmin(const Field& a) {
  double m = a(1, 1);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i)
      if (a(i, j) <= m) m = a(i, j);
  return m;
}

double rmp(ConstCellView p) {
  const double p0 = p(NC, 1);
  double m = p(1, 1) - p0;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k)
      if (p(k, l) - p0 <= m) m = p(k, l) - p0;
  return m;
}

double bpres(State& s, int ilo, int ihi) {
  const Field& b = s.fields.b;
  const Array1<NR>& z = s.basic.z;
  const Array1<NR>& r = s.basic.r;
  // Hydrostatic pressure at the bottom of each column relative to its top.
  for (int i = 1; i <= NR; ++i) {
    double sum = 0.0;
    for (int j = 1; j <= NC; ++j) sum += 0.5 * (b(i, j) + b(i, j + 1)) * (z(j) - z(j + 1));
    s.phyd(i) = sum;
  }
  // Without a radius <= 0.5 on the grid (a NaN grid) the band is undefined.
  if (ilo < 1 || ihi > NR) return std::numeric_limits<double>::quiet_NaN();
  double band = 0.0;
  if (ilo < ihi)
    for (int m = ilo + 1; m <= ihi; ++m) band += 0.5 * (s.phyd(m) + s.phyd(m - 1)) * (r(m) - r(m - 1));
  return band / (r(ilo) - r(ihi)) + s.phyd(1);
}

int band_low(const Array1<NR>& r) {
  int ilo = 0;
  for (int i = 1; i <= NR; ++i)
    if (r(i) <= 0.5) ilo = i;
  return ilo;
}

int band_high(const Array1<NR>& r) {
  for (int i = 1; i <= NR; ++i)
    if (r(i) >= 1.0) return i;
  return NR;
}

bool holds_nan(const State& s) {
  const Fields& f = s.fields;
  for (const Field* a : {&f.b, &f.zeta, &f.psi, &f.u, &f.v, &f.w})
    for (double x : a->a)
      if (std::isnan(x)) return true;
  return false;
}

}  // namespace qel
