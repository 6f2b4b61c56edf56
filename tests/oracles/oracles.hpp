// Plain loops kept beside the tests as oracles of the operators arranged
// for speed: one node, link, face or cell at a time, in the order the
// discretisation reads, through the same shared formulas. Where a fast
// operator reorders its loops (rows at a time, runs of one stencil, lanes of
// independent solves), these must give the same bits on any input.
#pragma once

#include <span>

#include "model/state.hpp"

namespace qel {

// transport.hpp
void advect3_oracle(const State& s, Field& t, const Field& f);
void advect5_oracle(const State& s, Field& t, const Field& f);
void diffuse_oracle(State& s, Field& t, const Field& f);
void afdiff_oracle(State& s, Field& t, const Field& f);

// vorticity.hpp
void arakawa_oracle(State& s, Field& t, const Field& a);
void marat_oracle(State& s, Field& t, const Field& a);

// primitive.hpp: incmp and pforce column by column through the index tables.
void incmp_oracle(State& s, Field& tu, Field& tw, double& dmax);
void pforce_oracle(State& s, Field& outr, const Field& inr, Field& outz, const Field& inz);

// blktri.hpp: the checks, the roots and the operator-by-operator solve
// blktr1 on every call, never the side-by-side lanes.
int blktri_oracle(Cblkt& cb, Value& val, int iflg, int np, int n, std::span<const float> an,
                  std::span<const float> bn, std::span<const float> cn, int mp, int m,
                  std::span<const float> am, std::span<const float> bm, std::span<const float> cm,
                  int idimy, std::span<float> y, std::span<float> w);

}  // namespace qel
