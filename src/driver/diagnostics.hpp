// The reductions behind the diagnostic line. Elements are visited in storage
// order (i fastest); a running extreme is replaced by a candidate equal to it,
// so a NaN counts only when it is the starting element.
#pragma once

#include "model/state.hpp"

namespace qel {

// Largest and smallest of the 91 x 91 values, signed.
double rmax(const Field& a);
double rmin(const Field& a);

// Pressure deficit: the smallest p(k, l) - p(90, 1) over the 90 x 90 cells,
// relative to the cell at the outer wall next to the bottom.
double rmp(ConstCellView p);

// Column-pressure contrast. Fills s.phyd(i) = -integral of b dz up column i
// (trapezoidal rule) and returns phyd(1) minus the trapezoidal r-mean of phyd
// over r(ilo) <= r <= r(ihi). NaN when ilo < 1 (no radius <= 0.5 on the grid).
double bpres(State& s, int ilo, int ihi);

// The band of bpres: ilo the largest i with r(i) <= 0.5 (0 if none), ihi the
// smallest i with r(i) >= 1 (91 if none).
int band_low(const Array1<NR>& r);
int band_high(const Array1<NR>& r);

// True when any prognostic or diagnosed field (b, zeta, psi, u, v, w) holds a NaN.
bool holds_nan(const State& s);

}  // namespace qel
