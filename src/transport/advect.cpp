// Upwind-biased advection in grid-index space: T -= vel * D F, where D is
// half an index-space first derivative (mr and mz carry the factor 2). The
// stencils and the tables that choose them are in transport/stencils.hpp;
// here they are applied a run of nodes at a time.
#include <cstddef>

#include "transport/stencils.hpp"
#include "transport/transport.hpp"

namespace qel {

namespace {

using namespace stencil;

// T[k] -= vel[k] * D F[k] for k = 0..n-1 along lines of stride S; the
// selection by the sign of the velocity is branch-free, so the loop
// vectorises along k.
template <Dif P, Dif M, Dif Z>
inline void subtract_run(double* __restrict t, const double* __restrict f,
                         const double* __restrict vel, int n, std::ptrdiff_t S) {
  for (int k = 0; k < n; ++k) t[k] = advected<P, M, Z>(t[k], f + k, vel[k], S);
}

// Sweep along i: the nodes i of the run in column j, contiguous.
template <int First, int Last, Dif P, Dif M, Dif Z>
inline void sweep_i_run(Seg<First, Last, P, M, Z>, Field& t, const Field& f, const Field& ucon,
                        int j) {
  subtract_run<P, M, Z>(&t(First, j), &f(First, j), &ucon(First, j), Last - First + 1, 1);
}

// Sweep along j: rows j of the run, every i = 1..91 (i innermost).
template <int First, int Last, Dif P, Dif M, Dif Z>
inline void sweep_j_run(Seg<First, Last, P, M, Z>, Field& t, const Field& f, const Field& wcon) {
  for (int j = First; j <= Last; ++j) subtract_run<P, M, Z>(&t(1, j), &f(1, j), &wcon(1, j), NR, NR);
}

// The i-sweep is finished in every column before the j-sweep starts, so
// that each node subtracts its i-term first. Wall nodes get only the
// term along their wall; the corners get nothing.
template <class... SI, class... SJ>
void advect(const State& s, Field& t, const Field& f, Table<SI...>, Table<SJ...>) {
  const Field& ucon = s.contra.ucon;
  const Field& wcon = s.contra.wcon;
  for (int j = 1; j <= NR; ++j) (sweep_i_run(SI{}, t, f, ucon, j), ...);
  (sweep_j_run(SJ{}, t, f, wcon), ...);
}

}  // namespace

void advect3(const State& s, Field& t, const Field& f) {
  advect(s, t, f, Advect3Table{}, Advect3Table{});
}

void advect5(const State& s, Field& t, const Field& f) {
  advect(s, t, f, Advect5ITable{}, Advect5JTable{});
}

}  // namespace qel
