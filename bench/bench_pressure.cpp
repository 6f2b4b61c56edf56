// The pressure iteration of the primitive core on the 91 x 91 grid: one
// sweep, the whole correction with 1 and 21 sweeps (their difference over
// 20 is the cost of a sweep inside incmp) and the pressure force.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "grid/grid.hpp"
#include "model/state.hpp"
#include "primitive/primitive.hpp"

namespace {

using namespace qel;

// An axisymmetric box with smooth velocities, tendencies and pressure.
std::unique_ptr<State> pressure_state(double axi) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.0, p.HITE = 1.5, p.STR = 0.8, p.STZ = 0.8, p.AXI = axi, p.DT = 0.01, p.RLX = 0.8;
  p.TIME = 1.0, p.SLIPB = 0.0, p.SLIPS = 0.0;
  maketrans(*s);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double r = s->basic.r(i), z = s->basic.z(j);
      s->fields.u(i, j) = 0.1 * std::sin(3.0 * r) * std::cos(2.0 * z);
      s->fields.w(i, j) = 0.1 * std::cos(2.0 * r) * std::sin(3.0 * z);
      slot(s->tends.tzeta, 1)(i, j) = std::sin(r + z);
      slot(s->tends.tw, 1)(i, j) = std::cos(r - 2.0 * z);
    }
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) s->fields.p()(k, l) = 0.01 * (k - l);
  return s;
}

using Incmp = void (*)(State&, Field&, Field&, double&);

template <Incmp Correct>
void correction(benchmark::State& bs) {
  auto base = pressure_state(double(bs.range(1)));
  base->par.PIT = double(bs.range(0));
  auto s = std::make_unique<State>(*base);
  std::ostringstream sink;
  s->out = &sink;
  for (auto _ : bs) {
    Correct(*s, slot(s->tends.tzeta, 1), slot(s->tends.tw, 1), s->others.divmax);
    // The tendencies corrected in place each time; restore them untimed.
    bs.PauseTiming();
    slot(s->tends.tzeta, 1) = slot(base->tends.tzeta, 1);
    slot(s->tends.tw, 1) = slot(base->tends.tw, 1);
    bs.ResumeTiming();
  }
}

void BM_incmp(benchmark::State& bs) { correction<incmp>(bs); }
BENCHMARK(BM_incmp)->ArgNames({"PIT", "AXI"})->ArgsProduct({{1, 21}, {1}})->Unit(benchmark::kMicrosecond);

void BM_pressure_sweep(benchmark::State& bs) {
  auto s = pressure_state(double(bs.range(0)));
  s->par.PIT = 1.0;
  incmp(*s, slot(s->tends.tzeta, 1), slot(s->tends.tw, 1), s->others.divmax);  // pcoef and pdiv
  for (auto _ : bs) pressure_sweep(*s, slot(s->tends.tzeta, 1), slot(s->tends.tw, 1));
}
BENCHMARK(BM_pressure_sweep)->ArgName("AXI")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

template <void (*Force)(State&, Field&, const Field&, Field&, const Field&)>
void force(benchmark::State& bs) {
  auto s = pressure_state(1.0);
  Field outr{}, outz{};
  for (auto _ : bs) {
    Force(*s, outr, slot(s->tends.tzeta, 1), outz, slot(s->tends.tw, 1));
    benchmark::DoNotOptimize(outr.a.data());
  }
}
void BM_pforce(benchmark::State& bs) { force<pforce>(bs); }
BENCHMARK(BM_pforce)->Unit(benchmark::kMicrosecond);

}  // namespace
