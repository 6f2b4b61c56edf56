// Arakawa's Jacobian and the flux form as plain loops over the links, faces
// and points through the shared formulas: every link before any point sum,
// every face before any divergence.
#include <memory>

#include "oracles/oracles.hpp"
#include "vorticity/stencils.hpp"

namespace qel {

using namespace stencil;

void arakawa_oracle(State& s, Field& t, const Field& a) {
  const Field& psi = s.fields.psi;
  const Basic& g = s.basic;
  Field &fe = s.spare.arakawa.fe, &fn = s.spare.arakawa.fn, &fd1 = s.spare.arakawa.fd1, &fd2 = s.spare.arakawa.fd2;
  constexpr int N = NR;
  for (int j = 1; j <= N; ++j)
    for (int i = 1; i <= N - 1; ++i) {
      if (j == 1)
        fe(i, j) = link_e_bottom(psi(i, 2), psi(i + 1, 2), a(i, 1), a(i + 1, 1));
      else if (j == N)
        fe(i, j) = link_e_top(psi(i, N - 1), psi(i + 1, N - 1), a(i, N), a(i + 1, N));
      else
        fe(i, j) = link_e(psi(i, j - 1), psi(i + 1, j - 1), psi(i, j + 1), psi(i + 1, j + 1), a(i, j),
                          a(i + 1, j));
      if (j < N) fd1(i, j) = link_d(psi(i + 1, j), psi(i, j + 1), a(i, j), a(i + 1, j + 1));
      if (j > 1) fd2(i, j) = link_d(psi(i + 1, j), psi(i, j - 1), a(i, j), a(i + 1, j - 1));
    }
  for (int j = 1; j <= N - 1; ++j) {
    fn(1, j) = link_n_axis(psi(2, j), psi(2, j + 1), a(1, j), a(1, j + 1));
    for (int i = 2; i <= N - 1; ++i)
      fn(i, j) = link_n(psi(i + 1, j), psi(i + 1, j + 1), psi(i - 1, j), psi(i - 1, j + 1), a(i, j),
                        a(i, j + 1));
    fn(N, j) = link_n_outer(psi(N - 1, j), psi(N - 1, j + 1), a(N, j), a(N, j + 1));
  }
  for (int j = 2; j <= N - 1; ++j)
    for (int i = 2; i <= N - 1; ++i) {
      const double sum = arakawa_interior_sum(fe(i, j), fe(i - 1, j), fn(i, j), fn(i, j - 1), fd1(i, j),
                                              fd1(i - 1, j - 1), fd2(i - 1, j + 1), fd2(i, j));
      t(i, j) = arakawa_put(t(i, j), g.mr(i), g.mz(j), sum, g.rc(i), g.rhoc(j));
    }
  arakawa_walls(g, t, fe, fn, fd1, fd2);
}

void marat_oracle(State& s, Field& t, const Field& a) {
  const Basic& g = s.basic;
  const bool upwind = s.par.ORDER < -2.0;
  constexpr int N = NR, M = NC;
  // Face (k, j) of F between points (k, j) and (k+1, j); face (i, k) of G
  // between (i, k) and (i, k+1).
  auto F = std::make_unique<Array2<NC, NR>>();
  auto G = std::make_unique<Array2<NR, NC>>();
  auto face = [&](const double* p, const double* f, std::ptrdiff_t S, int k) {
    if (!upwind) return face_centred(p, f, S);
    if (k == 1) return face_upwind<Face::First>(p, f, S);
    if (k == M) return face_upwind<Face::Last>(p, f, S);
    return face_upwind<Face::Interior>(p, f, S);
  };
  for (int j = 1; j <= N; ++j)
    for (int k = 1; k <= M; ++k) (*F)(k, j) = face(&a(k, j), &s.others.flr(k, j), 1, k);
  for (int k = 1; k <= M; ++k)
    for (int i = 1; i <= N; ++i) (*G)(i, k) = face(&a(i, k), &s.others.flz(i, k), N, k);

  for (int j = 1; j <= N; ++j) {
    t(1, j) = face_divergence_first(t(1, j), (*F)(1, j), g.mr(1), g.rc(1) * g.rhoc(j));
    for (int i = 2; i <= N - 1; ++i)
      t(i, j) = face_divergence(t(i, j), (*F)(i - 1, j), (*F)(i, j), g.mr(i), g.rc(i) * g.rhoc(j));
    t(N, j) = face_divergence_last(t(N, j), (*F)(M, j), g.mr(N), g.rhoc(j) * g.rc(N));
  }
  for (int i = 1; i <= N; ++i) {
    t(i, 1) = face_divergence_first(t(i, 1), (*G)(i, 1), g.mz(1), g.rhoc(1) * g.rc(i));
    for (int j = 2; j <= N - 1; ++j)
      t(i, j) = face_divergence(t(i, j), (*G)(i, j - 1), (*G)(i, j), g.mz(j), g.rhoc(j) * g.rc(i));
    t(i, N) = face_divergence_last(t(i, N), (*G)(i, M), g.mz(N), g.rc(i) * g.rhoc(N));
  }
}

}  // namespace qel
