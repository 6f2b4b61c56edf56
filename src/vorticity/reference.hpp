// The straightforward forms of the vorticity-core operators: each formula
// written once per point as the discretisation reads. The operators of
// vorticity.hpp give the same bits, arranged for speed; these are their
// check.
#pragma once

#include "model/state.hpp"

namespace qel {

void velocity_reference(State& s);
void boundary_reference(State& s);
void arakawa_reference(State& s, Field& t, const Field& a);
void marat_reference(State& s, Field& t, const Field& a);
void stuff_reference(Field& a, double val);
void axi1_reference(State& s, Field& za, Field& va);
void axi2_reference(const State& s, Field& t1, Field& t2);
void rterm_reference(const State& s, Field& t, const Field& f);
void torque_reference(const State& s, Field& t, const Field& b);
void coriolis_reference(const State& s, Field& tz, Field& tv);
void strat_reference(const State& s, Field& tb);

}  // namespace qel
