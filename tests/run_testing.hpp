// Whole runs of the model for the validation tests of the dynamical cores:
// an experiment directory with a "qel.input", initial states written as
// restart dumps, runs through qel::run with scripted answers, dumps read back.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "driver/files.hpp"
#include "driver/namelist.hpp"
#include "driver/qeln.hpp"
#include "driver/start.hpp"
#include "files_testing.hpp"
#include "grid/grid.hpp"

namespace qel::testing {

using Params = std::map<std::string, std::string>;

// A unit box on a uniform grid, axisymmetric, third-order upwind advection,
// no-slip walls, the body force far above the top (so none acts); DT = DTMAX
// = 0.01 while the flow is slow. The fastest diffusive mode, REI (mr^2 +
// mz^2) DT = 0.32, lies inside the third-order Adams-Bashforth stability
// interval (-6/11, 0). The primitive core makes 20 Jacobi sweeps a step and
// carries no buoyancy; the vorticity core solves directly and carries it.
// The members in p override these.
inline Params unit_box(bool primitive, Params p = {}) {
  p.insert({{"USEPRIM", primitive ? "1" : "0"}, {"PIT", primitive ? "20" : "0"}, {"BACTIVE", primitive ? "0" : "1"},
            {"DTMAX", "0.01"}, {"CFL", "0.5"}, {"DIFF", "0.2"}, {"ORDER", "3"}, {"REI", "5e-4"}, {"REIT", "5e-4"},
            {"RWID", "1"}, {"HITE", "1"}, {"STR", "1"}, {"STZ", "1"}, {"RLX", "1"}, {"AXI", "1"}, {"BUOYBOUND", "1"},
            {"BSMOOTH", "0"}, {"FROUDEINV", "1"}, {"BDFZ", "100"}, {"BDFRZ", "0.2"}, {"BDFRX", "0.2"},
            {"BDFTURNON", "1"}});
  return p;
}

// The unit box widened to 1.5 and stretched differently along r and z, so
// that no radius equals the height of the same index.
inline Params stretched_box(bool primitive, Params p = {}) {
  p.insert({{"RWID", "1.5"}, {"STR", "0.8"}, {"STZ", "1.2"}});
  return unit_box(primitive, p);
}

struct RunResult { int status; std::string out, err; };

class Experiment {
 public:
  // qel.input holds exactly the members given (all others are zero).
  explicit Experiment(const Params& par) {
    std::string text = " &F\n";
    for (const auto& [k, v] : par) text += " " + k + " = " + v + ",\n";
    put(root_.path / "qel.input", text + " /\n");
  }
  std::string dir() const { return root_.path.string(); }

  // A run from dump `stamp` (-1: a fresh start), no parameter changes, and
  // the answer "tstop tdump tdiag" to the prompt for the times.
  RunResult run(std::int64_t stamp, const std::string& times) const {
    std::istringstream in("'" + dir() + "'\n" + std::to_string(stamp) + "\n0\n" + times + "\n");
    std::ostringstream out, err;
    const int status = qel::run(in, out, err);
    return {status, out.str(), err.str()};
  }
  // A restart from s, written as dump 0 with the history a restart appends to.
  RunResult restart_from(const State& s, const std::string& times) const {
    write_dump(s, dump_name(dir(), 0));
    History().create(history_name(dir()), s.par);
    return run(0, times);
  }
  // The last dump of a restart from s; a run that fails throws its message.
  std::unique_ptr<State> advance(const State& s, const std::string& times) const {
    const RunResult r = restart_from(s, times);
    if (r.status != 0) throw std::runtime_error("the run failed with: " + r.err);
    return last_dump();
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
    return s;
  }

  std::vector<std::int64_t> stamps() const {
    std::vector<std::int64_t> v;
    for (const auto& e : std::filesystem::directory_iterator(root_.path))
      if (const std::string n = e.path().filename().string(); n.starts_with("qel") && n.ends_with(".dat"))
        v.push_back(std::stoll(n.substr(3, n.size() - 7)));
    std::ranges::sort(v);
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
  TempDir root_;
};

// The volume integral of a field: each point weighted by its control volume
// (half widths at the walls), radius-weighted in axisymmetric geometry; the
// weights under which the flux-form operators conserve. f is a field or any
// function of the point indices (i, j).
inline double integral(const State& s, const auto& f) {
  const auto width = [](const Array1<NR>& x, int k) { return (x(std::min(k + 1, NR)) - x(std::max(k - 1, 1))) / 2.0; };
  double sum = 0.0;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) sum += f(i, j) * s.basic.rc(i) * width(s.basic.r, i) * width(s.basic.z, j);
  return sum;
}

// A Gaussian buoyancy anomaly b' = amp exp(-((r-r0)^2 + (z-z0)^2)/a^2).
inline void add_thermal(State& s, double amp, double r0, double z0, double a) {
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double dr = s.basic.r(i) - r0, dz = s.basic.z(j) - z0;
      s.fields.b(i, j) += amp * std::exp(-(dr * dr + dz * dz) / (a * a));
    }
}

// The eight values of each diagnostic line (77 characters) on standard output.
inline std::vector<std::vector<double>> diagnostic_lines(const std::string& out) {
  std::vector<std::vector<double>> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::vector<double> v(8);
    for (double& x : v) fields >> x;
    if (line.size() == 77 && fields && (fields >> std::ws).eof()) lines.push_back(v);
  }
  return lines;
}

// The largest divergence of the velocity of s over the cells: the net
// outflow of r u per unit cell area, each face value the mean of its two end
// points, r the radius factor rc of the points.
inline double largest_divergence(const State& s) {
  const Basic& g = s.basic;
  const Field &u = s.fields.u, &w = s.fields.w;
  double div = 0.0;
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k)
      div = std::max(div, std::abs((g.rc(k + 1) * (u(k + 1, l) + u(k + 1, l + 1)) - g.rc(k) * (u(k, l) + u(k, l + 1))) /
                                       (2.0 * (g.r(k + 1) - g.r(k))) +
                                   (g.rc(k) * (w(k, l + 1) - w(k, l)) + g.rc(k + 1) * (w(k + 1, l + 1) - w(k + 1, l))) /
                                       (2.0 * (g.z(l + 1) - g.z(l)))));
  return div;
}

inline double max_abs(const Field& f) {
  return std::abs(*std::ranges::max_element(f.a, {}, [](double x) { return std::abs(x); }));
}

}  // namespace qel::testing
