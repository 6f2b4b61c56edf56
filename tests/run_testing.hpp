// Whole runs of the model for the validation tests of the dynamical cores:
// an experiment directory with a "qel.input", initial states written as
// restart dumps, runs through qel::run with scripted answers, dumps read back.
#pragma once

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/console.hpp"
#include "driver/files.hpp"
#include "driver/namelist.hpp"
#include "driver/qeln.hpp"
#include "driver/start.hpp"
#include "driver/state.hpp"
#include "files_testing.hpp"
#include "grid/grid.hpp"

namespace qel::testing {

using Params = std::map<std::string, std::string>;

struct RunResult {
  int status;
  std::string out, err;
};

class Experiment {
 public:
  // qel.input holds exactly the members given (all others are zero).
  explicit Experiment(const Params& par) {
    std::string text = " &F\n";
    for (const auto& [k, v] : par) text += " " + k + " = " + v + ",\n";
    put(root_.path / "qel.input", text + " /\n");
  }

  std::string dir() const { return root_.path.string(); }

  RunResult run(const std::string& answers_after_directory) const {
    std::istringstream in("'" + dir() + "'\n" + answers_after_directory);
    std::ostringstream out, err;
    const int status = qel::run(in, out, err);
    return {status, out.str(), err.str()};
  }
  RunResult fresh(double tstop, double tdump, double tdiag) const {
    return run("-1\n0\n" + times(tstop, tdump, tdiag));
  }
  RunResult restart(std::int64_t stamp, double tstop, double tdump, double tdiag) const {
    return run(std::to_string(stamp) + "\n0\n" + times(tstop, tdump, tdiag));
  }

  // The state a fresh start builds from qel.input, at TIME = 0.
  std::unique_ptr<State> initial_state() const {
    auto s = std::make_unique<State>();
    std::ifstream f(root_.path / "qel.input");
    ListReader in(f, "qel.input");
    read_namelist(in, s->par);
    s->par.fnr = s->par.fnz = double(NR);
    maketrans(*s);
    fresh_fields(*s);
    viscosity_profile(*s);
    s->par.TIME = 0.0;
    return s;
  }
  // A restart dump, and the history a restart appends to.
  void write_state(const State& s, std::int64_t stamp) const {
    write_dump(s, dump_name(dir(), stamp));
    if (!std::filesystem::exists(history_name(dir()))) History().create(history_name(dir()), s.par);
  }

  std::vector<std::int64_t> stamps() const {
    std::vector<std::int64_t> v;
    for (const auto& e : std::filesystem::directory_iterator(root_.path)) {
      const std::string n = e.path().filename().string();
      if (n.size() > 7 && n.rfind("qel", 0) == 0 && e.path().extension() == ".dat")
        v.push_back(std::stoll(n.substr(3, n.size() - 7)));
    }
    std::sort(v.begin(), v.end());
    return v;
  }
  std::unique_ptr<State> dump(std::int64_t stamp) const {
    auto s = std::make_unique<State>();
    read_dump(*s, dump_name(dir(), stamp));
    maketrans(*s);  // the metric factors a dump does not hold
    return s;
  }
  std::unique_ptr<State> last_dump() const { return dump(stamps().back()); }

 private:
  static std::string times(double tstop, double tdump, double tdiag) {
    std::ostringstream t;
    t.precision(17);
    t << tstop << ' ' << tdump << ' ' << tdiag << '\n';
    return t.str();
  }
  TempDir root_;
};

// Widths of the control volume around each grid point (half widths at the
// walls): the weights under which the flux-form operators conserve.
inline double width(const Array1<NR>& x, int k) {
  if (k == 1) return (x(2) - x(1)) / 2.0;
  if (k == NR) return (x(NR) - x(NR - 1)) / 2.0;
  return (x(k + 1) - x(k - 1)) / 2.0;
}

// The volume integral of a field, radius-weighted in axisymmetric geometry.
inline double integral(const State& s, const Field& f) {
  double sum = 0.0;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i)
      sum += f(i, j) * s.basic.rc(i) * width(s.basic.r, i) * width(s.basic.z, j);
  return sum;
}

inline double max_abs(const Field& f) {
  double m = 0.0;
  for (double x : f.a) m = std::max(m, std::abs(x));
  return m;
}

}  // namespace qel::testing
