// The stretched grid and averaging between grid points and cell centres.
//
// r(i) = RWID * g(s_i; STR), z(j) = HITE * g(s_j; STZ) with s_k = (k-1)/90
// and g(s; a) = (s^3 (2 - a) + a s) / (s^2 + 1): g(0) = 0, g(1) = 1, slope a
// at s = 0 and 2 - a at s = 1, so a < 1 refines the grid near the axis (r) or
// the bottom (z). mr, mz are twice the reciprocal local spacing at the points
// (one-sided at the ends), mrh, mzh twice the reciprocal cell widths.
#pragma once

#include "model/state.hpp"

namespace qel {

// Fills s.basic and s.bnds from RWID, HITE, STR, STZ and AXI.
void maketrans(State& s);

// Cell-centre average of a grid-point field: the mean of the four corners.
void utop(const Field& fu, CellField& fc);

// Grid-point average of a cell field (the mean of the cells around the point,
// the missing side replaced by the present one at edges and corners).
// Needs the index tables of maketrans.
void ptou(const State& s, ConstCellView fc, Field& fu);

}  // namespace qel
