// Cost of the per-step operators on the 91 x 91 grid: the transport
// operators and the time-integration passes, one call per iteration.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "grid/grid.hpp"
#include "timeint/timeint.hpp"
#include "transport/transport.hpp"

using namespace qel;

namespace {

// A stretched axisymmetric grid with a smooth flow whose velocities change
// sign across the domain, so both upwind branches are taken.
std::unique_ptr<State> flow_state() {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.0;
  p.HITE = 1.0;
  p.STR = 0.5;
  p.STZ = 0.7;
  p.AXI = 1.0;
  p.CFL = 0.5;
  p.DIFF = 0.2;
  p.DTMAX = 0.01;
  maketrans(*s);
  Fields& f = s->fields;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double r = s->basic.r(i), z = s->basic.z(j);
      f.u(i, j) = std::sin(6.0 * r) * std::cos(5.0 * z);
      f.w(i, j) = -std::cos(6.0 * r) * std::sin(5.0 * z);
      f.b(i, j) = std::exp(-4.0 * ((r - 0.3) * (r - 0.3) + (z - 0.5) * (z - 0.5)));
      f.v(i, j) = r * std::exp(-r * r);
      f.visc(i, j) = 1.0e-3 * (1.0 + z);
    }
  utop(f.visc, f.viscp);
  double cr, cz;
  adtime(*s, cr, cz);
  for (Field& t : s->tends.tb) t.fill(1.0e-3);
  abcoef(*s, 1.0, 2.0);
  return s;
}

template <void (*Op)(const State&, Field&, const Field&)>
void BM_advect(benchmark::State& st) {
  auto s = flow_state();
  for (auto _ : st) {
    Op(*s, slot(s->tends.tb, 1), s->fields.b);
    benchmark::DoNotOptimize(s->tends.tb[0].data());
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * NR * NR);
}

template <void (*Op)(State&, Field&, const Field&)>
void BM_diffusion(benchmark::State& st) {
  auto s = flow_state();
  for (auto _ : st) {
    Op(*s, slot(s->tends.tv, 1), s->fields.v);
    benchmark::DoNotOptimize(s->tends.tv[0].data());
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * NR * NR);
}

void BM_hop(benchmark::State& st) {
  auto s = flow_state();
  for (auto _ : st) {
    hop(*s, 3, 1, 2, 3, 1.0e-9, s->tends.tb, s->fields.b);
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * NR * NR);
}

void BM_adtime(benchmark::State& st) {
  auto s = flow_state();
  for (auto _ : st) {
    adtime(*s, s->others.cflr, s->others.cflz);
    benchmark::ClobberMemory();
  }
  st.SetItemsProcessed(st.iterations() * NR * NR);
}

void BM_stepsize(benchmark::State& st) {
  auto s = flow_state();
  for (auto _ : st) benchmark::DoNotOptimize(stepsize(*s));
  st.SetItemsProcessed(st.iterations() * NR * NR);
}

}  // namespace

BENCHMARK(BM_advect<advect3>)->Name("advect3");
BENCHMARK(BM_advect<advect5>)->Name("advect5");
BENCHMARK(BM_diffusion<diffuse>)->Name("diffuse");
BENCHMARK(BM_diffusion<afdiff>)->Name("afdiff");
BENCHMARK(BM_hop)->Name("hop");
BENCHMARK(BM_adtime)->Name("adtime");
BENCHMARK(BM_stepsize)->Name("stepsize");
