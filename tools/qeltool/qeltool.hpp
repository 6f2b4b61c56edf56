// qeltool: programs that work on the files of an experiment directory
// (initial states, dump summaries, NetCDF export, history tables, runs
// without a dialogue).
//
// Every subcommand takes its arguments without the program and subcommand
// names, writes its results on `out` and explanations of failures on `err`,
// and returns the exit status: 0 done, 1 a model stop in `run`, 2 a usage,
// input or file error.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "model/state.hpp"

namespace qel::tool {

using Args = std::vector<std::string>;

// Removes every `flag` from args; whether there was one.
inline bool take_flag(Args& args, const std::string& flag) {
  return std::erase(args, flag) > 0;
}

// The whole command line after the program name: the subcommand and its
// arguments, or help.
int qeltool(const Args& args, std::ostream& out, std::ostream& err);

int init(const Args& args, std::ostream& out, std::ostream& err);
int info(const Args& args, std::ostream& out, std::ostream& err);
int nc(const Args& args, std::ostream& out, std::ostream& err);
int hist(const Args& args, std::ostream& out, std::ostream& err);
int run(const Args& args, std::ostream& out, std::ostream& err);
int params(const Args& args, std::ostream& out, std::ostream& err);

// The parameter file qeltool init writes into a directory that has none,
// suitable for the recipes (named in its opening text).
std::string default_input(const std::string& recipe);

// The usage text of one subcommand ("" for the overview of all).
std::string usage(std::string_view command);

// Shared by the subcommands.

// "key=value" split at the first '='; throws Stop (status 2) when there is
// no '=' or the key is empty.
struct Setting {
  std::string key, value;
};
Setting setting(const std::string& arg);

// A real constant in any list-directed form (1, .5, 1.5d-3, ...); throws
// Stop (status 2) naming `what` when the text is not one, or when it is not
// finite and `finite` is asked for.
double real_value(const std::string& text, std::string_view what, bool finite = true);

// A dump stamp: a non-negative 64-bit integer with or without leading zeros.
std::int64_t stamp_value(const std::string& text);

// The shortest text that reads back as x (as std::to_chars writes it).
std::string shortest(double x);

// "vorticity" (USEPRIM = 0), "primitive" (USEPRIM > 0) or "none" (no
// dynamics, USEPRIM < 0 or NaN).
std::string_view mode_name(const Par& par);

// The fields of a dump in the order the tools show them: b, v, u, w, visc,
// bdf, then psi and zeta, or in primitive mode the cell pressure (the first
// 8100 values of psi, on the 90 x 90 cell centres) and its grid-point average.
struct DumpField {
  const char* name;
  const char* long_name;
  const double* data;
  bool cell;  // on the cell centres
};
std::vector<DumpField> dump_fields(const Fields& f, bool primitive);

// read_dump, its messages calling the file a dump.
void read_dump_file(State& s, const std::string& name);

// Derived fields at the grid points (derived.cpp). The weight of a point is
// its control volume: dr dz with half widths at the axis and the walls,
// times the model's radius factor rc in axisymmetric geometry (a volume per
// radian of azimuth; an area in plane geometry).
void control_weights(const State& s, Field& wgt);
// psi = integral of r w dr from the axis at each height (w dr in plane
// geometry), trapezoidal rule.
void stream_function(const State& s, Field& psi);
// zeta = w_r - u_z by centred differences, one-sided at the edges.
void vorticity(const State& s, Field& zeta);
// (1/2)(u^2 + v^2 + w^2).
void kinetic_energy(const State& s, Field& ke);
// r v.
void angular_momentum(const State& s, Field& rv);
// b minus its weighted horizontal mean at each height.
void buoyancy_anomaly(const State& s, Field& anomaly);
// b minus the fresh start's b0(z) = 1 / (1 + exp(BSMOOTH (BINTERFACE - z))).
void buoyancy_background_anomaly(const State& s, Field& anomaly);

// Weighted sums over the domain of (1/2)(u^2 + v^2 + w^2), r v and b.
struct Integrals {
  double kinetic_energy, angular_momentum, buoyancy;
};
Integrals integrals(const State& s);

}  // namespace qel::tool
