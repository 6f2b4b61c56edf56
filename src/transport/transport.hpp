// Transport operators shared by both cores. Each adds the tendency of the
// grid-point field F to the tendency array T.
//
// advect3/advect5: -(ucon dF/di + wcon dF/dj)/2 with third- and fifth-order
// upwind-biased differences, falling back to lower order near the walls.
// diffuse: div(visc grad F) in conservative form with cell viscosity viscp;
// afdiff: the axisymmetric vector Laplacian of an azimuthal component.
#pragma once

#include "model/state.hpp"

namespace qel {

void advect3(const State& s, Field& t, const Field& f);
void advect5(const State& s, Field& t, const Field& f);
void diffuse(State& s, Field& t, const Field& f);
void afdiff(State& s, Field& t, const Field& f);

}  // namespace qel
