// Cost of the vorticity-core operators on the 91 x 91 grid.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "grid/grid.hpp"
#include "vorticity/vorticity.hpp"

using namespace qel;

namespace {

// A stretched axisymmetric grid with a smooth cellular stream function and
// advected field, the velocities derived from psi.
std::unique_ptr<State> flow(double order) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.0;
  p.HITE = 1.0;
  p.STR = 0.6;
  p.STZ = 0.6;
  p.AXI = 1.0;
  p.ORDER = order;
  maketrans(*s);
  const Basic& g = s->basic;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      s->fields.psi(i, j) = std::sin(3.0 * g.r(i)) * std::sin(3.14159 * g.z(j)) * g.r(i);
      s->foraxi.zadv(i, j) = std::cos(5.0 * g.r(i) + 2.0 * g.z(j));
    }
  velocity(*s);
  return s;
}

void BM_arakawa(benchmark::State& state) {
  auto s = flow(0.0);
  Field& t = slot(s->tends.tzeta, 1);
  // The model hands every scheme a cleared slot; the clear is timed too.
  for (auto _ : state) {
    stuff(t, 0.0);
    arakawa(*s, t, s->foraxi.zadv);
    benchmark::DoNotOptimize(t.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_arakawa);

void BM_marat(benchmark::State& state) {
  auto s = flow(state.range(0) == 0 ? -1.0 : -3.0);
  Field& t = slot(s->tends.tzeta, 1);
  for (auto _ : state) {
    stuff(t, 0.0);
    marat(*s, t, s->foraxi.zadv);
    benchmark::DoNotOptimize(t.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(state.range(0) == 0 ? "centred" : "upwind");
}
BENCHMARK(BM_marat)->Arg(0)->Arg(1);

void BM_stuff(benchmark::State& state) {
  auto s = flow(0.0);
  Field& t = slot(s->tends.tzeta, 1);
  for (auto _ : state) {
    stuff(t, 0.0);
    benchmark::DoNotOptimize(t.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_stuff);

void BM_velocity(benchmark::State& state) {
  auto s = flow(0.0);
  for (auto _ : state) {
    velocity(*s);
    benchmark::DoNotOptimize(s->fields.u.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_velocity);

}  // namespace

namespace {

void BM_boundary(benchmark::State& state) {
  auto s = flow(0.0);
  s->par.SLIPB = s->par.SLIPT = s->par.SLIPS = 0.0;
  for (auto _ : state) {
    boundary(*s);
    benchmark::DoNotOptimize(s->fields.zeta.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_boundary);

// The forcing terms of one axisymmetric step with swirl: the advected forms
// and back, the -visc f/r^2 term, torque, rotation and stratification.
void BM_forcing(benchmark::State& state) {
  auto s = flow(0.0);
  s->par.SWIRL = 1.0;
  Field& tz = slot(s->tends.tzeta, 1);
  Field& tv = slot(s->tends.tv, 1);
  Field& tb = slot(s->tends.tb, 1);
  for (auto _ : state) {
    axi1(*s, s->foraxi.zadv, s->foraxi.vadv);
    axi2(*s, tz, tv);
    rterm(*s, tv, s->fields.v);
    torque(*s, tz, s->fields.b);
    coriolis(*s, tz, tv);
    strat(*s, tb);
    benchmark::DoNotOptimize(tz.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_forcing);

}  // namespace
