#include <charconv>
#include <cmath>
#include <ostream>
#include <string>

#include "driver/console.hpp"
#include "driver/files.hpp"
#include "model/version.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

constexpr const char* kOverview =
    "usage: qeltool COMMAND ARGUMENTS...\n"
    "\n"
    "Works on the files of a qel experiment directory.\n"
    "\n"
    "  init DIR STAMP RECIPE [key=value ...]  write an initial state DIR/qelSTAMP.dat\n"
    "  info DUMP                              model time, parameters, field ranges\n"
    "  nc [--compress] OUT.nc DUMP...         dumps of one run as one NetCDF-4 file\n"
    "  hist qel.hist                          the history as CSV\n"
    "  run DIR --until T --dump-every X --diag-every Y [NAME=VALUE ...]\n"
    "                                         a run of qeln without the dialogue\n"
    "  params [NAME | --markdown]             what the run parameters mean (docs/parameters.md)\n"
    "  help [COMMAND]                         this text, or the details of a command\n"
    "\n"
    "'qeltool COMMAND --help' shows the details of a command.\n"
    "Exit status: 0 done, 1 model stop (run), 2 usage, input or file error.\n";

constexpr const char* kInit =
    "usage: qeltool init DIR STAMP RECIPE [key=value ...] [NAME=VALUE ...] [--force]\n"
    "\n"
    "Reads DIR/qel.input, builds the grid and the fields of a fresh start as qeln\n"
    "does (buoyancy step, fluid at rest, body force, viscosity profile, TIME = 0),\n"
    "adds the recipe and writes the restart dump DIR/qelSTAMP.dat (STAMP as six\n"
    "digits); an existing dump is only replaced with --force. A directory\n"
    "without a history gets DIR/qel.hist with the parameter header of a fresh\n"
    "start (a restart appends to the history). Restart from the dump by\n"
    "answering STAMP to qeln's restart prompt, or with\n"
    "'qeltool run DIR --restart STAMP ...'; its first step writes a dump too,\n"
    "but never over the dump the run started from (STAMP 0 and DT < 0.01: the\n"
    "same hundredth of a time unit), so the restart can be repeated. r is the\n"
    "radius (the distance across in plane geometry), z the height, both in\n"
    "model units.\n"
    "\n"
    "Recipes and their keys (defaults in brackets):\n"
    "  rest       nothing added: the fresh start itself\n"
    "  vortex     Lamb-Oseen swirl v = G / (2 pi r) (1 - exp(-r^2 / a^2))\n"
    "               circulation=G [1]   radius=a, core radius, > 0 [0.1]\n"
    "  solidbody  swirl of solid-body rotation v = omega r\n"
    "               omega [1]\n"
    "  thermal    Gaussian buoyancy anomaly added to b:\n"
    "             b += A exp(-((r - r0)^2 + (z - z0)^2) / radius^2)\n"
    "               amplitude=A [0.1]   r0 [0]   z0 [0.5]   radius, > 0 [0.2]\n"
    "\n"
    "NAME=VALUE changes a run parameter of group F (any letter case) from its\n"
    "value in qel.input for this initial state (qel.input itself is kept).\n"
    "Values are real constants (1, 0.5, 2e-3, 2d-3); every value must be finite.\n"
    "The parameters and the resulting fields are checked before anything is\n"
    "written: a field that is not finite (a NaN or an infinity) is refused,\n"
    "leaving no file and no directory behind.\n"
    "A DIR that does not exist is made, and a DIR without qel.input gets one\n"
    "with default parameters: an axisymmetric cylinder of radius 1 and height\n"
    "2, no-slip walls, viscosity 1e-3, the vorticity core, no rotation, no body\n"
    "force (see docs/parameters.md and 'qeltool params').\n"
    "Example: qeltool init myexp 0 vortex circulation=2 radius=0.05\n";

constexpr const char* kInfo =
    "usage: qeltool info DUMP\n"
    "\n"
    "Shows the model time of a dump, its 36 parameters in namelist form, the mode\n"
    "(vorticity core USEPRIM = 0, primitive core USEPRIM > 0, none USEPRIM < 0)\n"
    "and the smallest and largest value of every field and of the grid. NaN\n"
    "values are left out of the range and counted. In primitive mode p_cell is\n"
    "the cell-centred pressure and p_point the pressure at the grid points.\n"
    "Then the integrals over the domain of the kinetic energy density, of the\n"
    "angular momentum r v (axisymmetric runs) and of b, each point weighted by\n"
    "its control volume (those of 'qeltool nc').\n";

constexpr const char* kNc =
    "usage: qeltool nc [--compress] OUT.nc DUMP...\n"
    "\n"
    "Writes the dumps of one run into one NetCDF-4 file following the CF-1.8\n"
    "conventions: dimensions time, z, r (and z_cell, r_cell for the cell\n"
    "pressure); coordinates from the dump's grid; time from TIME, in increasing\n"
    "order; the time step dt(time); the fields b, v, u, w, visc, bdf, and psi and\n"
    "zeta (vorticity mode or no dynamics) or p_cell (cell-centred pressure) and\n"
    "p_point (pressure at the grid points) in primitive mode. Derived fields:\n"
    "psi_from_w and zeta_from_uw (primitive mode: the stream function from the\n"
    "mass flux and the vorticity w_r - u_z), ke (kinetic energy density), rv\n"
    "(angular momentum, axisymmetric runs), b_anomaly (b minus its horizontal\n"
    "mean) and b_anomaly_background (b minus a fresh start's profile); the\n"
    "domain integrals ke_integral, rv_integral and b_integral along time. The 36\n"
    "parameters are global attributes (those of the first time); a parameter\n"
    "changed at a restart is also a variable along time of its name, listed in\n"
    "the attribute varying_parameters. Dumps that are not of one run (another\n"
    "grid, geometry or core), two dumps of the same time, branches of a run\n"
    "interleaved in time and a TIME that is not finite are refused. OUT must\n"
    "end in .nc; it is replaced only when the whole file has been written, and\n"
    "an interrupt leaves no temporary file. Each time level is one chunk; with\n"
    "--compress the fields are deflated losslessly (shuffle, level 1): the file\n"
    "is about a third smaller and the export about three times slower.\n";

constexpr const char* kHist =
    "usage: qeltool hist qel.hist\n"
    "\n"
    "Writes the diagnostic lines of a history file as CSV on standard output:\n"
    "a header with the eight column names, then one row per line. The 100-line\n"
    "parameter header of a fresh start is skipped. A field the model filled\n"
    "with asterisks (too wide) is an empty cell, NaN stays NaN and infinities are\n"
    "inf and -inf. A line that is not a diagnostic line is reported on standard\n"
    "error with its number and left out; the exit status is then 2. A file that\n"
    "holds binary data, or no parameter or diagnostic line at all, is refused\n"
    "(status 2, no output).\n";

constexpr const char* kRun =
    "usage: qeltool run DIR [--restart STAMP] --until T --dump-every X --diag-every Y\n"
    "                   [NAME=VALUE ...] [--save-input]\n"
    "\n"
    "Runs qeln in DIR answering the dialogue itself and prints the same console\n"
    "output: a fresh start from DIR/qel.input, or with --restart STAMP a restart\n"
    "from DIR/qelSTAMP.dat; T is the model time to stop at, X the dump interval\n"
    "(> 0), Y the diagnostic interval (>= 0, 0 for a line every step). NAME=VALUE\n"
    "changes a parameter of group F for this run only; with --save-input the\n"
    "parameters of the run, as changed, are written to DIR/qel.input. Names and\n"
    "values are checked before the run starts.\n"
    "Example: qeltool run myexp --until 2 --dump-every 0.5 --diag-every 0.25 REI=2e-3\n";

constexpr const char* kParams =
    "usage: qeltool params [NAME | --markdown]\n"
    "\n"
    "Describes the 36 run parameters of group F: meaning, the equation and term\n"
    "each enters, the core that reads it, its non-dimensional group, typical\n"
    "values, its valid range and whether any computation uses it. NAME (any\n"
    "letter case) shows one parameter; --markdown prints the table of\n"
    "docs/parameters.md, which is made from this output.\n";

}  // namespace

std::string usage(std::string_view command) {
  if (command == "init") return kInit;
  if (command == "info") return kInfo;
  if (command == "nc") return kNc;
  if (command == "hist") return kHist;
  if (command == "run") return kRun;
  if (command == "params") return kParams;
  return kOverview;
}

Setting setting(const std::string& arg) {
  const std::size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0) throw Stop(2, "expected key=value, found '" + arg + "'");
  return {arg.substr(0, eq), arg.substr(eq + 1)};
}

double real_value(const std::string& text, std::string_view what, bool finite) {
  double v = 0.0;
  const RealText r = parse_real(text, v);
  if (r == RealText::not_real)
    throw Stop(2, "the value '" + text + "' of " + std::string(what) +
                      " is not a real constant (such as 1, 0.5, 2e-3, 2d-3)");
  if (r == RealText::too_large || (finite && !std::isfinite(v)))
    throw Stop(2, "the value '" + text + "' of " + std::string(what) + " must be finite");
  return v;
}

std::int64_t stamp_value(const std::string& text) {
  std::int64_t v = 0;
  if (!parse_integer(text, v) || v < 0)
    throw Stop(2, "the stamp '" + text + "' is not a non-negative integer (such as 0 or 1230)");
  return v;
}

std::string shortest(double x) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, res.ptr);
}

std::string_view mode_name(const Par& par) {
  if (par.USEPRIM == 0.0) return "vorticity";
  if (par.USEPRIM > 0.0) return "primitive";
  return "none";
}

std::vector<DumpField> dump_fields(const Fields& f, bool primitive) {
  std::vector<DumpField> v = {
      {"b", "buoyancy", f.b.data(), false},
      {"v", "swirl (azimuthal) velocity", f.v.data(), false},
      {"u", "radial velocity", f.u.data(), false},
      {"w", "vertical velocity", f.w.data(), false},
      {"visc", "viscosity", f.visc.data(), false},
      {"bdf", "body-force shape", f.bdf.data(), false}};
  if (primitive) {
    v.push_back({"p_cell", "pressure at the cell centres", f.psi.data(), true});
    v.push_back({"p_point", "pressure averaged to the grid points", f.p_point().data(), false});
  } else {
    v.push_back({"psi", "stream function", f.psi.data(), false});
    v.push_back({"zeta", "azimuthal vorticity", f.zeta.data(), false});
  }
  return v;
}

void read_dump_file(State& s, const std::string& name) {
  try {
    read_dump(s, name);
  } catch (const Stop& e) {
    // The reader is the model's restart; here the file is simply a dump.
    std::string m = e.what();
    for (std::size_t at; (at = m.find("restart file ")) != std::string::npos;)
      m.replace(at, 13, "dump ");
    if (m.starts_with("dump " + name + " is not a dump")) m.erase(0, 5);
    throw Stop(e.status, m);
  }
}

int qeltool(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kOverview;
    return 2;
  }
  const std::string& cmd = args[0];
  const Args rest(args.begin() + 1, args.end());
  if (cmd == "help" || cmd == "--help" || cmd == "-h") {
    if (rest.size() > 1 || (rest.size() == 1 && usage(rest[0]) == kOverview)) {
      err << "qeltool help: no command '" << (rest.empty() ? "" : rest[0]) << "'\n" << kOverview;
      return 2;
    }
    out << usage(rest.empty() ? "" : rest[0]);
    return 0;
  }
  if (cmd == "--version") {
    out << "qeltool " << version_text() << '\n';
    return 0;
  }

  int (*command)(const Args&, std::ostream&, std::ostream&) = nullptr;
  if (cmd == "init") command = init;
  if (cmd == "info") command = info;
  if (cmd == "nc") command = nc;
  if (cmd == "hist") command = hist;
  if (cmd == "run") command = run;
  if (cmd == "params") command = params;
  if (command == nullptr) {
    err << "qeltool: unknown command '" << cmd << "'\n" << kOverview;
    return 2;
  }
  for (const std::string& a : rest)
    if (a == "--help" || a == "-h") {
      out << usage(cmd);
      return 0;
    }
  try {
    const int status = command(rest, out, err);
    // A full disc or a closed pipe under standard output is a failure too.
    out.flush();
    if (!out.good()) throw Stop(2, "cannot write to standard output");
    return status;
  } catch (const Stop& e) {
    out.flush();
    err << "qeltool " << cmd << ": " << e.what() << '\n';
    return e.status;
  }
}

}  // namespace qel::tool
