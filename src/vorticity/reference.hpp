// The straightforward forms of the vorticity-core operators that are
// rearranged for speed (Arakawa's Jacobian and the flux form): each formula
// written once per point as the discretisation reads. The operators of
// vorticity.hpp give the same bits; these are their check. The velocities,
// wall vorticity and forcing terms are plain loops already and have no copy.
#pragma once

#include "model/state.hpp"

namespace qel {

void arakawa_reference(State& s, Field& t, const Field& a);
void marat_reference(State& s, Field& t, const Field& a);

}  // namespace qel
