// The straightforward forms of the transport operators: one formula per
// node, written as the discretisation reads. They give the same bits as the
// operators of transport.hpp, which are arranged for speed (whole rows at a
// time, branch-free upwind selection), and serve as their check.
#pragma once

#include "model/state.hpp"

namespace qel {

void advect3_reference(const State& s, Field& t, const Field& f);
void advect5_reference(const State& s, Field& t, const Field& f);
void diffuse_reference(State& s, Field& t, const Field& f);
void afdiff_reference(State& s, Field& t, const Field& f);

}  // namespace qel
