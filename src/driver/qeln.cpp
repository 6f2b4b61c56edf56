#include "driver/qeln.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <istream>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "driver/console.hpp"
#include "driver/diagnostics.hpp"
#include "driver/files.hpp"
#include "driver/levels.hpp"
#include "driver/namelist.hpp"
#include "driver/progress.hpp"
#include "driver/signals.hpp"
#include "driver/start.hpp"
#include "model/ranges.hpp"
#include "model/state.hpp"
#include "model/version.hpp"
#include "elliptic/elliptic.hpp"
#include "elliptic/direct.hpp"
#include "grid/grid.hpp"
#include "primitive/primitive.hpp"
#include "vorticity/vorticity.hpp"

namespace qel {

namespace {

// What the driver keeps beside the model state for one run.
struct Run {
  Run(State& st, ListReader& in, std::ostream& o, std::ostream& e)
      : s(st), con(in), out(o), err(e) {}

  State& s;
  ListReader& con;
  std::ostream& out;
  std::ostream& err;
  DirLock lock;
  std::string access;  // the path through which the run reaches its directory

  bool fresh = true;
  bool new_history = false;  // a restart in a directory without qel.hist
  std::int64_t istamp = -1;
  Par header{};  // the parameter record the header of a new history shows

  double tstop = 0.0, tdump = 0.0, tdiag = 0.0;
  int knew = 1, kold = 2, kolder = 3;
  std::int32_t nstep = 0;  // steps of this run
  double tacc = 0.0;
  // Older tendency levels a restart took from the companion of its dump
  // (0 without one: the first step is then a forward step).
  std::int32_t prior = 0;
  StepCarry carry;
  int ilo = 0, ihi = NR;
  History hist;
  DirectSolvers direct;  // the exact solvers PIT <= 0 (primitive) or < 0 (vorticity) calls for

  // The model time of the first diagnostic line or dump at which the fields
  // held a NaN; the run then ends with a model-stop status.
  bool nan_seen = false;
  double nan_since = 0.0;

  int dumps = 0;  // dump files written by this run
  bool dumped_last = false;  // the last step wrote (or kept) its dump
};

// The directory exactly as typed (a quoted name keeps its blanks); it must
// exist, the program creates none.
std::string experiment_directory(const std::string& name) {
  if (name.empty()) throw Stop(2, "no directory was named: the experiment directory is needed");
  if (name.find('\0') != std::string::npos)
    throw Stop(2, "the directory name '" + name + "' holds a NUL character and cannot be used");
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) {
    if (errno != ENOENT) throw Stop(2, "cannot use directory '" + name + "': " + std::strerror(errno));
    std::string trimmed = name;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
    throw Stop(2, "directory '" + name + "' does not exist (the program creates none)" +
                      (trimmed != name && !trimmed.empty() && ::stat(trimmed.c_str(), &st) == 0
                           ? "; the name ends in a blank, and '" + trimmed +
                                 "' is another directory"
                           : ""));
  }
  if (!S_ISDIR(st.st_mode)) throw Stop(2, "'" + name + "' is not a directory");
  return name;
}

// Temporary files of atomic writes (a dump, its companion, qel.input or
// qel.hist followed by a dot and six characters) that a run killed outright
// left behind. Only the run holding the directory's lock removes them, and
// only these.
void remove_stale_temporaries(const std::string& dir, std::ostream& err) {
  // The name of a file an atomic write replaces, a dot, six letters or digits.
  const auto temporary = [](const std::string& n) {
    if (n.size() < 7 || n[n.size() - 7] != '.') return false;
    for (std::size_t k = n.size() - 6; k < n.size(); ++k)
      if (!std::isalnum(static_cast<unsigned char>(n[k]))) return false;
    const std::string base = n.substr(0, n.size() - 7);
    return base == "qel.input" || base == "qel.hist" || stamped_name(base, ".dat") ||
           stamped_name(base, ".lev");
  };
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    const std::string n = e.path().filename().string();
    if (!temporary(n) || !e.is_regular_file(ec)) continue;
    if (std::filesystem::remove(e.path(), ec))
      err << "qeln: removed " << n << ", a temporary file left by an interrupted write\n";
  }
}

// The files of an earlier run in dir that a fresh start would replace or
// leave mixed with its own: dumps, and a history with diagnostic lines
// beyond its 100-line header. "" when there are none.
std::string earlier_run(const std::string& dir) {
  std::vector<std::string> dumps;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    const std::string n = e.path().filename().string();
    if (stamped_name(n, ".dat")) dumps.push_back(n);
  }
  std::ranges::sort(dumps);
  std::string found;
  std::ifstream hist(history_name(dir), std::ios::binary);
  std::int64_t lines = 0;
  for (std::string l; std::getline(hist, l);) ++lines;
  if (lines > 100)
    found = "qel.hist with " + std::to_string(lines - 100) + " diagnostic line" +
            (lines == 101 ? "" : "s");
  if (!dumps.empty())
    found += (found.empty() ? "" : " and ") + std::to_string(dumps.size()) +
             (dumps.size() == 1 ? " dump " + dumps[0]
                                : " dumps " + dumps.front() + " ... " + dumps.back());
  return found;
}

// Standard output is checked where the run writes to it, so that a full disc
// or a closed pipe ends the run instead of passing unnoticed.
void check_output(std::ostream& out) {
  if (!out.good())
    throw Stop(2, "cannot write to standard output (a full disc, a closed pipe or another write "
                  "error)");
}

// Start-up dialogue: the directory, locked for the whole run, and the
// restart stamp; a negative stamp starts fresh.
void start_dialogue(Run& run) {
  write_record(run.out, Record() << " enter directory for input/output of files (e.g. 'myexp'):");
  run.out.flush();
  run.s.dirnam = experiment_directory(read_path(run.con, "the experiment directory"));
  run.lock.take(run.s.dirnam, run.err, "qeln");
  // The files the run writes go to the directory it locked, through its
  // descriptor, even if the directory is renamed or replaced meanwhile.
  run.access = run.s.dirnam;
  struct stat st {};
  if (const std::string fd = "/proc/self/fd/" + std::to_string(run.lock.fd());
      run.lock.fd() >= 0 && ::stat(fd.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    run.access = fd;
  remove_stale_temporaries(run.s.dirnam, run.err);
  write_record(run.out, Record() << "enter restart timestamp");
  write_record(run.out, Record() << "or enter -1 to start fresh");
  run.out.flush();
  check_output(run.out);
  run.istamp = read_integer64(run.con, "the restart stamp");
  run.fresh = run.istamp < 0;
  if (run.fresh) {
    if (const std::string found = earlier_run(run.s.dirnam); !found.empty())
      throw Stop(2, "directory '" + run.s.dirnam + "' holds an earlier run (" + found +
                        "); a fresh start there would replace or mix with it. Start fresh in "
                        "another directory, move those files away first, or continue the run "
                        "with the stamp of one of its dumps");
  }
}

// Fresh start: parameters from "qel.input" and the dialogue, the grid, the
// initial fields: a smoothed buoyancy step in height, fluid at rest, and a
// raised-cosine body force centred on the axis at height BDFZ.
void fresh_start(Run& run) {
  State& s = run.s;
  Par& par = s.par;
  change(s, 1, run.con, run.out);
  maketrans(s);
  par.fnr = double(NR);
  par.fnz = double(NR);
  // The header records TIME as given, before it is reset below.
  run.header = par;

  fresh_fields(s);
  par.TIME = 0.0;
}

// A restart runs with the parameters of its dump. Those of qel.input that
// differ are listed on err, so that an edit of the file meant for this run
// is not silently ignored; TIME always differs and is left out, as is DT
// unless it is the step of a run without dynamics. The file is only
// compared: any trouble reading it gets a one-line note.
void report_input_differences(const State& s, std::ostream& err) {
  const std::string path = s.dirnam + "/qel.input";
  Par input = s.par;
  try {
    std::istringstream file(read_regular_file(path, "parameter file"));
    ListReader rd(file, path);
    read_namelist(rd, input);
  } catch (const Stop& e) {
    err << "qeln: note: qel.input not compared with the dump: " << e.what() << '\n';
    return;
  }
  std::string list;
  for (std::size_t k = 0; k < kParMembers.size(); ++k) {
    const double a = s.par.*kParMembers[k], b = input.*kParMembers[k];
    if (kParNames[k] == "TIME" || (kParNames[k] == "DT" && s.par.USEPRIM >= 0.0)) continue;
    if (a == b || (std::isnan(a) && std::isnan(b))) continue;
    list += "  " + std::string(kParNames[k]) + " = " + real_text(a) + " in the dump, " +
            real_text(b) + " in qel.input\n";
  }
  if (!list.empty())
    err << "qeln: qel.input differs from the dump; the restart runs with the dump's values "
           "unless they are edited in the dialogue:\n"
        << list;
}

// Restart: the state of a dump, the history continued, the parameters offered for
// editing, the grid rebuilt from them.
void restart(Run& run) {
  State& s = run.s;
  const std::string name = dump_name(s.dirnam, run.istamp);
  const std::uint64_t digest = read_dump(s, name);
  note_dump(name, false);
  report_input_differences(s, run.err);
  // A run branched into a new directory has no history yet: it gets one
  // with the header of this restart's parameters once the run goes ahead.
  struct stat st {};
  run.new_history = ::lstat(history_name(s.dirnam).c_str(), &st) != 0 && errno == ENOENT;
  if (!run.new_history) run.hist.open_existing(history_name(s.dirnam));
  change(s, 0, run.con, run.out);
  // Checked after the dialogue, so that a dump of an earlier version holding
  // a value now out of range can be brought into range by an edit.
  if (const auto bad = par_out_of_range(s.par))
    throw Stop(2, "restart file " + name + ": " + *bad + " (change it in the dialogue to go on)");
  maketrans(s);
  run.header = s.par;
  // The older time levels, when the dump's companion matches it and the
  // dialogue kept its core.
  const std::string why = read_levels(s, run.carry, digest, name, levels_name(s.dirnam, run.istamp));
  if (why.empty()) run.prior = run.carry.levels;
  if (why != "missing" && !why.empty())
    run.err << "qeln: this restart cannot continue the run exactly: " << why
            << "; it starts from the dump alone, with a forward first step\n";
}

// The fastest diffusive mode of a step at the viscous limit has |lambda DT|
// = 4 DIFF, and the third-order Adams-Bashforth step is stable for
// |lambda DT| < 6/11: DIFF above 6/44 amplifies noise wherever the viscous
// limit decides the step. The run goes ahead; the user is told once.
void warn_unstable_diffusion(const Par& par, std::ostream& err) {
  if (par.USEPRIM >= 0.0 && par.DIFF > 6.0 / 44.0)
    err << "qeln: warning: DIFF = " << real_text(par.DIFF)
        << " is above 6/44 (about 0.136), the diffusive stability limit of the third-order "
           "Adams-Bashforth step: wherever the viscous limit sets DT the run amplifies "
           "noise (0.12 is safe)\n";
}

// A run that cannot finish is refused before anything is written; one whose
// cost is extreme is announced. Without dynamics every step is DT; with
// them no step exceeds DTMAX, so (tstop - TIME)/DTMAX is the fewest steps.
void check_run_length(const Par& par, double tstop, std::ostream& err) {
  const double span = tstop - par.TIME;
  if (!(span > 0.0)) return;
  if (par.USEPRIM < 0.0) {
    if (par.DT > 0.0 && span / par.DT > 1e15)
      throw Stop(2, "the run from TIME = " + real_text(par.TIME) + " to tstop = " +
                        real_text(tstop) + " would take " + real_text(span / par.DT) +
                        " steps of DT = " + real_text(par.DT) +
                        ", more than 1e15: it cannot finish; choose a larger DT or an earlier "
                        "tstop");
    return;
  }
  if (par.DTMAX > 0.0 && span / par.DTMAX > 1e9)
    err << "qeln: warning: this run needs at least " << real_text(span / par.DTMAX)
        << " steps (from TIME = " << real_text(par.TIME) << " to tstop = " << real_text(tstop)
        << " with steps of at most DTMAX = " << real_text(par.DTMAX)
        << "): it may never finish\n";
  const bool sweeps = par.PIT > 0.0;
  const double per_step = par.USEPRIM > 0.0 ? std::trunc(par.PIT) : 2.0 * std::trunc(par.PIT);
  if (sweeps && per_step > 1e6)
    err << "qeln: warning: PIT = " << real_text(par.PIT) << " makes " << real_text(per_step)
        << " relaxation sweeps every step: each step may take hours (PIT <= 0 solves exactly)\n";
}

// Set-up common to both starts: viscosity, the run's end time and
// intervals, cell viscosity, solver set-up, counters.
void common_setup(Run& run) {
  State& s = run.s;
  Par& par = s.par;
  viscosity_profile(s);

  write_record(run.out, Record() << " time=" << par.TIME << " enter tstop,tdump,tdiag");
  run.con.begin();
  if (run.con.real(run.tstop, "the stop time tstop") &&
      run.con.real(run.tdump, "the dump interval tdump"))
    run.con.real(run.tdiag, "the diagnostic interval tdiag");
  run.con.end();
  if (!std::isfinite(run.tstop))
    throw Stop(2, "the stop time tstop = " + real_text(run.tstop) +
                      " must be finite (a model time to stop at)");
  check_run_length(par, run.tstop, run.err);

  // A fresh start replaces the history, and a restart mends a line cut short,
  // only now that the run goes ahead, so that abandoning the dialogue leaves
  // the history as it was.
  if (run.fresh) {
    run.hist.create(history_name(s.dirnam), run.header);
  } else if (run.new_history) {
    run.hist.create(history_name(s.dirnam), run.header);
    run.err << "qeln: " << history_name(s.dirnam)
            << " did not exist: started it with the parameter header of this restart\n";
  } else if (const std::string note = run.hist.repair(); !note.empty()) {
    run.err << "qeln: " << note << '\n';
  }

  utop(s.fields.visc, s.fields.viscp);
  warn_unstable_diffusion(par, run.err);

  // Poisson set-up from the grid, once per run, and the roots of the
  // cyclic reduction; the vorticity core must not solve without its roots.
  prepare(s);
  if (const int code = poisson_setup(s); code != 0 && par.USEPRIM == 0.0)
    throw Stop(1, "the set-up of the Poisson solver failed with error code " +
                      std::to_string(code) + ": " + solver_error_text(code));

  // The exact double-precision solvers, diagonalised once for the run.
  setup_direct(s, run.direct);

  run.ilo = band_low(s.basic.r);
  run.ihi = band_high(s.basic.r);
  run.knew = 1;
  run.kold = 2;
  run.kolder = 3;
  run.nstep = 0;
  run.tacc = 0.0;
  s.others.dtold1 = 1.0;
  s.others.dtold2 = 1.0;
  s.others.cflr = 0.0;
  s.others.cflz = 0.0;
  if (run.prior > 0) {
    run.kold = run.carry.kold;
    run.kolder = run.carry.kolder;
    run.knew = 6 - run.kold - run.kolder;
    run.tacc = run.carry.tacc;
    s.others.dtold1 = run.carry.dtold1;
    s.others.dtold2 = run.carry.dtold2;
  }
}

// One step of the dynamics that USEPRIM selects: 0 the stream-function/
// vorticity core, > 0 the primitive-variable core, < 0 none (the time then
// advances by the DT given).
void step_core(State& s, int knew, int kold, int kolder, std::int32_t nstep) {
  if (s.par.USEPRIM == 0.0) stmvor(s, knew, kold, kolder, nstep);
  if (s.par.USEPRIM > 0.0) prim(s, knew, kold, kolder, nstep);
}

// The dump of the present state and, for a core, its companion: what the
// next step needs besides the dump (the two older tendency levels, the last
// two steps, the time since the last diagnostic line as it stands after
// this step's line).
void write_dump_files(Run& run, std::int64_t stamp) {
  State& s = run.s;
  const std::uint64_t digest = write_dump(s, dump_name(run.access, stamp));
  if (s.par.USEPRIM < 0.0) return;
  const StepCarry carry{run.kold, run.kolder, std::min(run.nstep + run.prior, 2),
                        run.tacc > run.tdiag ? 0.0 : run.tacc, s.others.dtold1, s.others.dtold2};
  write_levels(s, carry, digest, dump_name(run.access, stamp), levels_name(run.access, stamp));
}

void write_dump_now(Run& run) {
  State& s = run.s;
  // The primitive core's dump holds the pressure at the grid points in zeta.
  if (s.par.USEPRIM > 0.0) ptou(s, s.fields.p(), s.fields.p_point());
  const std::int64_t stamp = dump_stamp(s.par.TIME);
  const std::string name = dump_name(s.dirnam, stamp);
  // The dump a restart started from is never replaced, so that the restart
  // can be repeated.
  if (!run.fresh && stamp == run.istamp) {
    write_record(run.out, Record() << "keeping dump file " << name << ": the run started from it");
    return;
  }
  write_record(run.out, Record() << "will write dump file " << name);
  try {
    write_dump_files(run, stamp);
  } catch (const Stop& e) {
    // Messages name the directory as the user typed it.
    std::string m = e.what();
    for (std::size_t at; run.access != s.dirnam && (at = m.find(run.access)) != std::string::npos;)
      m.replace(at, run.access.size(), s.dirnam);
    throw Stop(e.status, m);
  }
  ++run.dumps;
  note_dump(name, true);
}

// Time, step, smallest u, largest v and w, pressure deficit, largest
// divergence, column-pressure contrast.
void write_diagnostic(Run& run) {
  State& s = run.s;
  const Par& par = s.par;
  if (par.USEPRIM == 0.0) s.others.divmax = 0.0;
  const double deficit = par.USEPRIM == 0.0 ? 0.0 : rmp(s.fields.p());
  const std::string line = " " + fixed_field(par.TIME, 8, 3) + fixed_field(par.DT, 8, 5) +
                           fixed_field(rmin(s.fields.u), 10, 4) +
                           fixed_field(rmax(s.fields.v), 10, 4) +
                           fixed_field(rmax(s.fields.w), 10, 4) + fixed_field(deficit, 10, 4) +
                           fixed_field(s.others.divmax, 10, 6) +
                           fixed_field(par.FROUDEINV * bpres(s, run.ilo, run.ihi), 10, 4);
  run.out << line << '\n';
  run.hist.line(line);
}

// The time loop: steps until the model time reaches tstop; at least one.
void time_loop(Run& run, Progress& progress) {
  State& s = run.s;
  Par& par = s.par;
  do {
    s.others.bdframp = par.TIME >= par.BDFTURNON ? 1.0 : par.TIME / par.BDFTURNON;
    step_core(s, run.knew, run.kold, run.kolder, std::min(run.nstep, 2) + run.prior);

    run.tacc += par.DT;
    s.others.dtold2 = s.others.dtold1;
    s.others.dtold1 = par.DT;
    const double t0 = par.TIME;
    par.TIME = par.TIME + par.DT;
    // No dump may be named after such a time (and none could be restarted).
    if (!std::isfinite(par.TIME) || par.TIME < 0.0)
      throw Stop(1, "the model time became " + real_text(par.TIME) + " after a step DT = " +
                        real_text(par.DT) + " from TIME = " + real_text(t0) +
                        "; the run stops without a dump of it");
    const bool first = run.nstep == 0;
    if (run.nstep < std::numeric_limits<std::int32_t>::max()) ++run.nstep;
    const int newest = run.kolder;
    run.kolder = run.kold;
    run.kold = run.knew;
    run.knew = newest;

    const bool dump = first || dump_crossed(t0, par.TIME, run.tdump);
    run.dumped_last = dump;
    if (dump) write_dump_now(run);
    const bool diagnose = run.tacc > run.tdiag;
    if (diagnose) {
      write_diagnostic(run);
      run.tacc = 0.0;
    }
    if (dump || diagnose) check_output(run.out);
    // Checked only when something is written, so that the step stays cheap.
    if ((dump || diagnose) && !run.nan_seen && holds_nan(s)) {
      run.nan_seen = true;
      run.nan_since = par.TIME;
    }
    progress.step(par.TIME, run.tstop, run.nstep,
                  run.nan_seen ? ", NaN since t = " + real_text(run.nan_since) : "");
    // A step that does not advance the time (DT <= 0 without a core, or a
    // time too large for DT to change it) would repeat for ever.
    if (!(par.TIME > t0) && par.TIME < run.tstop)
      throw Stop(1, "the model time does not advance (TIME = " + real_text(par.TIME) +
                        " after a step DT = " + real_text(par.DT) +
                        "), so tstop = " + real_text(run.tstop) + " cannot be reached");
    // The run ends at tstop, and at once when the comparison is unordered.
  } while (par.TIME < run.tstop);
}

constexpr const char* kUsage =
    "usage: qeln [--help | --version]\n"
    "\n"
    "Runs one experiment of the qel flow model. qeln takes no arguments; it asks\n"
    "on standard input for\n"
    "  1. the experiment directory (it must exist),\n"
    "  2. a restart stamp, or a negative number to start fresh,\n"
    "  3. changes to the parameters, in the form  $f NAME=value, ... $end\n"
    "     (answer 0 to run with them as shown),\n"
    "  4. the model time to stop at and the dump and diagnostic intervals.\n"
    "\n"
    "In the directory it reads the parameters from qel.input (and rewrites that\n"
    "file on request), writes the restart dumps qelNNNNNN.dat, NNNNNN being the\n"
    "model time in thousandths rounded down to a whole hundredth (t = 0.03125\n"
    "gives qel000030.dat), and reads one at a restart; it writes qel.hist, the\n"
    "100 values of the parameter record followed by one diagnostic line per\n"
    "interval (time, DT, min u, max v, max w, pressure deficit, max divergence,\n"
    "column-pressure contrast), which a restart appends to. The diagnostic\n"
    "lines also go to standard output.\n"
    "\n"
    "The 36 parameters of qel.input (their meaning, the equation each enters,\n"
    "valid ranges) are described in docs/parameters.md and by 'qeltool params'.\n"
    "\n"
    "At the end of a run a summary (steps, model time, wall time, dumps) goes to\n"
    "standard error.\n"
    "Exit status: 0 run completed, 1 model stop, 2 input or file error.\n";

// One line on the explanations' stream at the end of a run; the standard
// output stays exactly the model's.
void summary(std::ostream& err, const Run& run, double seconds) {
  const double rate = seconds > 0.0 ? double(run.nstep) / seconds : 0.0;
  char text[96];
  std::snprintf(text, sizeof text, "%.6g in %.3g s wall time (%.0f steps per second)",
                run.s.par.TIME, seconds, rate);
  err << "qeln: " << run.nstep << " steps to model time " << text << ", " << run.dumps
      << (run.dumps == 1 ? " dump" : " dumps") << " written\n";
}

}  // namespace

int run(std::istream& in, std::ostream& out, std::ostream& err, bool progress) {
  Progress indicator(err, progress);
  const RunSignals signals;
  try {
    auto s = std::make_unique<State>();
    s->out = &out;
    ListReader con(in, "standard input");
    Run run{*s, con, out, err};
    start_dialogue(run);
    if (run.fresh)
      fresh_start(run);
    else
      restart(run);
    common_setup(run);
    const auto started = std::chrono::steady_clock::now();
    time_loop(run, indicator);
    // The final state is always in a dump, so that the run can be continued
    // (a run whose fields turned NaN has nothing worth continuing).
    if (!run.dumped_last && !run.nan_seen) {
      write_dump_now(run);
      check_output(out);
    }
    out.flush();
    check_output(out);
    indicator.clear();
    summary(err, run,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    if (run.nan_seen) {
      err << "qeln: the fields hold NaN since model time " << real_text(run.nan_since)
          << " (the first diagnostic line or dump that showed it); the flow blew up, so the"
             " results from then on are not usable\n";
      return 1;
    }
    return 0;
  } catch (const Stop& e) {
    out.flush();
    indicator.clear();
    if (*e.what() != '\0') err << "qeln: " << e.what() << '\n';
    return e.status;
  }
}

int run_command(int argc, const char* const argv[], std::istream& in, std::ostream& out,
                std::ostream& err) {
  if (argc <= 1) return run(in, out, err, ::isatty(STDERR_FILENO) == 1);
  const std::string arg = argv[1];
  if (argc == 2 && arg == "--help") {
    out << kUsage;
    return 0;
  }
  if (argc == 2 && arg == "--version") {
    out << "qeln " << version_text() << '\n';
    return 0;
  }
  const bool known = arg == "--help" || arg == "--version";
  err << "qeln: unexpected argument '" << (known ? argv[2] : argv[1]) << "'\n"
      << "usage: qeln [--help | --version]\n";
  return 2;
}

}  // namespace qel
