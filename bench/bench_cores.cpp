// One time step of each dynamical core on the 91 x 91 grid, for the
// advection schemes, Poisson solvers and geometries a run can choose.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <cmath>
#include <memory>
#include <sstream>

#include "driver/qeln.hpp"
#include "driver/start.hpp"
#include "model/state.hpp"
#include "elliptic/direct.hpp"
#include "elliptic/elliptic.hpp"
#include "grid/grid.hpp"
#include "primitive/primitive.hpp"
#include "qeltool/qeltool.hpp"
#include "vorticity/vorticity.hpp"

namespace {

using namespace qel;

// A rising thermal a few steps into its life: a unit box, stretched grid,
// viscosity 1e-3, a Gaussian buoyancy anomaly above the axis.
std::unique_ptr<State> thermal(double useprim, double order, double pit, double axi) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.DTMAX = 0.01;
  p.CFL = 0.5;
  p.DIFF = 0.2;
  p.USEPRIM = useprim;
  p.ORDER = order;
  p.REI = 1e-3;
  p.REIT = 1e-2;
  p.RWID = 1.0;
  p.HITE = 1.5;
  p.STR = 0.8;
  p.STZ = 0.8;
  p.PIT = pit;
  p.RLX = 0.8;
  p.AXI = axi;
  p.SWIRL = 0.1;
  p.BACTIVE = 1.0;
  p.BUOYBOUND = 1.0;
  p.FROUDEINV = 1.0;
  p.TIME = 1.0;  // past the first-time pressure sweeps of the primitive core
  maketrans(*s);
  fresh_fields(*s);
  viscosity_profile(*s);
  utop(s->fields.visc, s->fields.viscp);
  prepare(*s);
  poisson_setup(*s);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double r = s->basic.r(i), z = s->basic.z(j) - 0.3;
      s->fields.b(i, j) += 0.5 * std::exp(-(r * r + z * z) / 0.02);
    }
  s->others.dtold1 = s->others.dtold2 = 0.01;
  return s;
}

// Steps with rotating slots, as the driver takes them (third order).
template <void (*Core)(State&, int, int, int, int)>
void steps(benchmark::State& bs, State& s) {
  std::ostringstream sink;
  s.out = &sink;
  int k[3] = {1, 2, 3};
  for (auto _ : bs) {
    Core(s, k[0], k[1], k[2], 2);
    const int newest = k[2];
    k[2] = k[1];
    k[1] = k[0];
    k[0] = newest;
  }
}

// PIT = -1 solves the stream function exactly in double precision.
void BM_stmvor(benchmark::State& bs) {
  auto s = thermal(0.0, double(bs.range(0)), double(bs.range(1)), double(bs.range(2)));
  DirectSolvers direct;
  setup_direct(*s, direct);
  steps<stmvor>(bs, *s);
}
BENCHMARK(BM_stmvor)
    ->ArgNames({"ORDER", "PIT", "AXI"})
    ->ArgsProduct({{3, 5, 0, -3}, {0, 20, -1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// PIT = 0 solves the pressure equation exactly.
void BM_prim(benchmark::State& bs) {
  auto s = thermal(1.0, double(bs.range(0)), double(bs.range(1)), double(bs.range(2)));
  DirectSolvers direct;
  setup_direct(*s, direct);
  steps<prim>(bs, *s);
}
BENCHMARK(BM_prim)
    ->ArgNames({"ORDER", "PIT", "AXI"})
    ->ArgsProduct({{3, -3}, {0, 20, 100}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The first step of a fresh run: TIME = 0 makes the pressure iteration take
// its 1000 sweeps from a pressure of zero, and the step is an Euler step.
void BM_prim_first_step(benchmark::State& bs) {
  auto s = thermal(1.0, 3.0, 20.0, double(bs.range(0)));
  s->par.TIME = 0.0;
  s->others.dtold1 = s->others.dtold2 = 1.0;
  std::ostringstream sink;
  s->out = &sink;
  const auto start = std::make_unique<Fields>(s->fields);
  for (auto _ : bs) {
    prim(*s, 1, 2, 3, 0);
    bs.PauseTiming();
    s->fields = *start;
    sink.str("");
    bs.ResumeTiming();
  }
}
BENCHMARK(BM_prim_first_step)->ArgName("AXI")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The whole thermal example: its initial state from qeltool init, then the
// run answered from its answers file, in a fresh directory each time.
void BM_thermal_example(benchmark::State& bs) {
  namespace fs = std::filesystem;
  const fs::path example = fs::path(QEL_SOURCE_DIR) / "examples" / "thermal";
  std::ifstream af(example / "answers"), inf(example / "init");
  const std::string answers{std::istreambuf_iterator<char>(af), {}};
  tool::Args init_args;
  for (std::string w; inf >> w;) init_args.push_back(w);
  const fs::path dir = fs::temp_directory_path() / "qel-bench-thermal";
  for (auto _ : bs) {
    bs.PauseTiming();
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(example / "qel.input", dir / "qel.input");
    std::ostringstream sink, err;
    tool::Args args{dir.string()};
    args.insert(args.end(), init_args.begin(), init_args.end());
    if (tool::init(args, sink, err) != 0) bs.SkipWithError(err.str().c_str());
    std::istringstream in("'" + dir.string() + "'\n" + answers);
    bs.ResumeTiming();
    if (qel::run(in, sink, err) != 0) bs.SkipWithError(err.str().c_str());
  }
  fs::remove_all(dir);
}
BENCHMARK(BM_thermal_example)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
