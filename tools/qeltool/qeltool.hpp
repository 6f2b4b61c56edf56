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

// The whole command line after the program name: the subcommand and its
// arguments, or help.
int qeltool(const Args& args, std::ostream& out, std::ostream& err);

int init(const Args& args, std::ostream& out, std::ostream& err);
int info(const Args& args, std::ostream& out, std::ostream& err);
int nc(const Args& args, std::ostream& out, std::ostream& err);
int hist(const Args& args, std::ostream& out, std::ostream& err);
int run(const Args& args, std::ostream& out, std::ostream& err);
int params(const Args& args, std::ostream& out, std::ostream& err);

// qeltool init's preparation of DIR: ensure_directory makes the directory
// when it does not exist; ensure_input writes a parameter file DIR/qel.input
// suitable for the recipes when there is none, true when it wrote one. Both
// throw Stop (status 2).
void ensure_directory(const std::string& dir);
bool ensure_input(const std::string& dir, const std::string& recipe);

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

}  // namespace qel::tool
