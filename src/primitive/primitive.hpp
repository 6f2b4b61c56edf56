// The primitive-variable core: u, w, v and b advanced directly, the
// velocity tendencies corrected each step by a cell-centred pressure from a
// fixed number of relaxation sweeps of the continuity constraint.
#pragma once

#include "driver/state.hpp"

namespace qel {

// One step of the core; leaves divmax.
void prim(State& s, int knew, int kold, int kolder, int nstep);

// Pressure iteration on the tendencies of u (tu) and w (tw).
void incmp(State& s, Field& tu, Field& tw, double& dmax);

// outr = inr - dp/dr at every point, outz = inz - dp/dz for j = 2..90.
// outr may be inr and outz may be inz.
void pforce(State& s, Field& outr, const Field& inr, Field& outz, const Field& inz);

void buoyant(const State& s, Field& t, const Field& b);
void coriprim(const State& s, Field& tu, Field& tv);
void pvelo(State& s);

}  // namespace qel
