// The Poisson problem at the model's size, 89 x 89 interior unknowns on a
// stretched axisymmetric grid: the one-time root set-up, one direct solve,
// and one Jacobi iteration (two half-sweeps).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "elliptic/elliptic.hpp"
#include "grid/grid.hpp"

namespace {

std::unique_ptr<qel::State> poisson_state() {
  auto s = std::make_unique<qel::State>();
  s->par.RWID = 1.5;
  s->par.HITE = 1.0;
  s->par.STR = 0.5;
  s->par.STZ = 0.5;
  s->par.AXI = 1.0;
  qel::maketrans(*s);
  qel::prepare(*s);
  for (int j = 1; j <= qel::NR; ++j)
    for (int i = 1; i <= qel::NR; ++i)
      s->fields.zeta(i, j) = std::sin(0.1 * i) * std::cos(0.05 * j);
  return s;
}

void BM_PoissonSetup(benchmark::State& state) {
  auto s = poisson_state();
  for (auto _ : state) benchmark::DoNotOptimize(qel::poisson_setup(*s));
}
BENCHMARK(BM_PoissonSetup);

void BM_PoiblkSolve(benchmark::State& state) {
  auto s = poisson_state();
  qel::poisson_setup(*s);
  for (auto _ : state) {
    qel::poiblk(*s, s->fields.zeta, s->fields.psi, s->basic.r, s->basic.rho);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PoiblkSolve);

void BM_IterateOneSweep(benchmark::State& state) {
  auto s = poisson_state();
  s->par.PIT = 1.0;
  for (auto _ : state) {
    qel::iterate(*s, s->fields.zeta, s->fields.psi, s->basic.r, s->basic.rho);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_IterateOneSweep);

}  // namespace
