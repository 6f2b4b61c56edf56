// The main of every benchmark program: the model runs with subnormals
// flushed to zero, so its benchmarks do too.
#include <benchmark/benchmark.h>

#include "model/state.hpp"

int main(int argc, char** argv) {
  qel::set_flush_to_zero();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
