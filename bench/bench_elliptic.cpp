// The Poisson problem at the model's size, 89 x 89 interior unknowns on a
// stretched axisymmetric grid: the one-time root set-up, one direct solve,
// and one Jacobi iteration (two half-sweeps).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "elliptic/direct.hpp"
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

// The exact double-precision solves: the stream function on the same grid,
// and the primitive core's pressure (no-slip walls) from a smooth
// divergence; one-time set-up of each.
void BM_DirectStreamSolve(benchmark::State& state) {
  auto s = poisson_state();
  qel::DirectStream d(*s);
  for (auto _ : state) {
    d.solve(*s, s->fields.zeta, s->fields.psi, s->basic.r, s->basic.rho);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DirectStreamSolve);

void BM_DirectPressureSolve(benchmark::State& state) {
  auto s = poisson_state();
  qel::DirectPressure d(*s);
  auto rhs = std::make_unique<qel::CellField>();
  for (int l = 1; l <= qel::NC; ++l)
    for (int k = 1; k <= qel::NC; ++k) (*rhs)(k, l) = std::sin(0.1 * k) * std::cos(0.07 * l);
  for (auto _ : state) {
    d.solve(*rhs, s->fields.psi.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DirectPressureSolve);

void BM_DirectSetup(benchmark::State& state) {
  auto s = poisson_state();
  for (auto _ : state) {
    qel::DirectPressure p(*s);
    qel::DirectStream d(*s);
    benchmark::DoNotOptimize(&p);
    benchmark::DoNotOptimize(&d);
  }
}
BENCHMARK(BM_DirectSetup)->Unit(benchmark::kMillisecond);

}  // namespace
