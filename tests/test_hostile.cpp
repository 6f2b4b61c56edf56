// Hostile inputs and hostile surroundings: parameters out of range, files
// that are not regular files, endless lines, interrupts, full discs, broken
// output, two runs on one directory. Each case checks the exit status, the
// cause named on standard error, and every file of the experiment directory
// (content, size, mode, kind; no stray file) unchanged or changed only as
// described. The runs that involve other processes, signals and size limits
// run the real programs as child processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/files.hpp"
#include "driver/qeln.hpp"
#include "tool_testing.hpp"
#include "model/ranges.hpp"
#include "qeltool/qeltool.hpp"

namespace fs = std::filesystem;
using namespace qel;
using namespace qel::testing;
using Strings = std::vector<std::string>;

namespace {

constexpr auto npos = std::string::npos;
const std::string kQeln = QEL_BINARY_DIR "/src/qeln", kTool = QEL_BINARY_DIR "/tools/qeltool";

// A plane 2 x 1 box, no dynamics (the time advances by DT), with changes.
struct Exp {
  TempDir root;
  fs::path dir = root.path / "exp";
  explicit Exp(const std::string& changes = "") {
    fs::create_directory(dir);
    put(dir / "qel.input", " &f USEPRIM = -1, DT = 0.5, REI = 1e-3, RWID = 2, HITE = 1, STR = 1, STZ = 1,\n" +
                               changes + " /\n");
  }
  std::string path() const { return dir.string(); }
  std::string file(const std::string& name) const { return (dir / name).string(); }
  // qeln in-process, the directory quoted before the answers.
  Result run(const std::string& answers) const { return call({}, "'" + path() + "'\n" + answers); }
};

// A dump of the experiment's fresh start at model time t, under `stamp`.
void make_dump(const Exp& e, double t, std::int64_t stamp, double dt = 0.5) {
  auto s = std::make_unique<State>();
  s->par.USEPRIM = -1, s->par.DT = dt, s->par.RWID = 2, s->par.HITE = s->par.STR = s->par.STZ = 1;
  s->par.TIME = t;
  write_dump(*s, dump_name(e.path(), stamp));
}

// A child process running `argv` with standard input from `input`; standard
// output to `out_fd` (a pipe's write end, a file) and standard error to a
// file; with `fsize` > 0 files are limited to that many bytes.
pid_t spawn(const Strings& argv, const std::string& input, int out_fd, const std::string& err_file,
            rlim_t fsize = 0) {
  const std::string in_file = err_file + ".in";
  put(in_file, input);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open(in_file.c_str(), O_RDONLY), err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(in, 0), ::dup2(out_fd, 1), ::dup2(err, 2);
    if (fsize > 0) {
      const struct rlimit lim {fsize, fsize};
      ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    std::vector<char*> a;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    ::execv(a[0], a.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for the child: its exit status, or 1000 + the signal that killed it.
int wait_for(pid_t pid) {
  int ws = 0;
  ::waitpid(pid, &ws, 0);
  return WIFEXITED(ws) ? WEXITSTATUS(ws) : 1000 + WTERMSIG(ws);
}

// A child run of a program to its end, standard output to a file.
Result child(const Strings& argv, const std::string& input, const TempDir& t, rlim_t fsize = 0,
             const char* out_file = nullptr) {
  const std::string out = out_file ? out_file : t.file("out");
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int status = wait_for(spawn(argv, input, fd, t.file("err"), fsize));
  ::close(fd);
  return {status, out_file ? "" : slurp(out), slurp(t.file("err"))};
}

// The invariants of a directory after any ending: no temporary file, every
// dump whole (its size and both length markers), every history line whole.
void expect_sound(const Exp& e) {
  const std::string marker("\x10\x1f\x08\x00", 4);
  for (const auto& f : fs::directory_iterator(e.dir)) {
    const std::string name = f.path().filename(), bytes = slurp(f.path());
    if (name == "qel.input") continue;
    if (name == "qel.hist") {
      EXPECT_TRUE(bytes.empty() || bytes.ends_with('\n')) << "a cut history line";
      continue;
    }
    EXPECT_TRUE(name.starts_with("qel") && name.ends_with(".dat")) << "stray file " << name;
    EXPECT_EQ(bytes.size(), kDumpFileSize) << name;
    EXPECT_TRUE(bytes.starts_with(marker) && bytes.ends_with(marker)) << name;
  }
}

}  // namespace

// The edges of the valid ranges, and NaN and infinities refused for every
// member a computation reads (all but BDFON, PRN and EXTRA1 to EXTRA4).
TEST(Hostile, RangesHaveTheirEdgesWhereTheModelBreaks) {
  const std::string unused = " BDFON PRN EXTRA1 EXTRA2 EXTRA3 EXTRA4 ";
  ASSERT_EQ(par_ranges().size(), 36u);
  for (std::size_t k = 0; k < 36; ++k) {
    const ParRange& r = par_ranges()[k];
    EXPECT_EQ(r.name, kParNames[k]);
    EXPECT_EQ(par_range(r.name), &r);
    const bool any = unused.find(" " + std::string(r.name) + " ") != npos;
    for (const double x : {double(NAN), HUGE_VAL, -HUGE_VAL}) EXPECT_EQ(r.ok(x), any) << r.name << ' ' << x;
  }
  EXPECT_EQ(par_range("str"), par_range("STR"));
  EXPECT_EQ(par_range("VISC"), nullptr);
  const struct { const char* name; std::vector<double> good, bad; } edges[] = {
      {"TIME", {0.0, 1e300}, {-1e-300}},
      {"STR", {1e-300, 1.0, 1.9999999999999998}, {0.0, 2.0, -0.5, 3.0}},
      {"RWID", {1e-300, 1e300}, {0.0, -1.0}}, {"HITE", {1e-300}, {0.0}},
      {"PIT", {-5.0, 0.0, 1.0, 2147483647.0}, {0.5, 0.9999999999999999, 2147483647.5, 1e300}},
      {"AXI", {0.0, 1.0, 2.0, 7.5}, {0.5, 1.5, 1.9999999999999998, -1.0, -2.0}},
      {"DT", {-1.0, 0.0, 1e300}, {}},
  };
  for (const auto& e : edges) {
    for (const double x : e.good) EXPECT_TRUE(par_range(e.name)->ok(x)) << e.name << ' ' << x;
    for (const double x : e.bad) EXPECT_FALSE(par_range(e.name)->ok(x)) << e.name << ' ' << x;
  }
}

TEST(Hostile, RefusedInputsNameTheirCauseAndChangeNoFile) {
  // Each case: changes to qel.input, a preparation of the directory, the
  // answers after the directory (or qeltool's arguments, "@" standing for
  // the directory), the message expected on standard error. All exit 2.
  const std::string times = "0\n1 1 1\n", big = std::to_string(3000000000LL);
  const auto held = [](const Exp& e) { ::flock(::open(e.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), LOCK_EX); };
  const struct Case {
    std::string changes;
    std::function<void(const Exp&)> prepare;
    std::string answers;
    Strings tool;
    std::string message;
  } cases[] = {
      // Parameters out of range, from qel.input, from a dump, from an edit
      // (answer 2 must not rewrite qel.input with them); each range's edges
      // are checked above.
      {"STR = 3", {}, "-1\n" + times, {}, "qel.input: STR = 3.0000000000000000 is outside its valid range: 0 < STR < 2"},
      {"RWID = 4.94e-324", {}, "-1\n" + times, {}, "0 < RWID, finite (a subnormal number, which the model reads as 0)"},
      // A run without dynamics that could never reach its stop time.
      {"DT = 1e-300", {}, "-1\n0\n1 1 1\n", {}, "steps of DT = 1.0000000000000000E-300, more than 1e15: it cannot finish"},
      {"DT = NaN", {}, "-1\n" + times, {}, "DT = NaN"},
      {"", {}, "-1\n2\n $f str=0 $end\n" + times, {}, "standard input, line 4: STR = 0.0000000000000000 is"},
      {"", [](const Exp& e) { make_dump(e, NAN, 0); }, "0\n" + times, {}, "qel000000.dat: TIME = NaN"},
      // A stop time that is no time.
      {"", {}, "-1\n0\nInf 1 1\n", {}, "the stop time tstop = Infinity must be finite"},
      // Files that are not regular files: refused without blocking.
      {"", [](const Exp& e) { fs::remove(e.dir / "qel.input"); fs::create_directory(e.dir / "qel.input"); },
       "-1\n" + times, {}, "qel.input is a directory, not a file"},
      {"", [](const Exp& e) { fs::remove(e.dir / "qel.input"); ::mkfifo(e.file("qel.input").c_str(), 0600); },
       "-1\n" + times, {}, "qel.input is not a regular file"},
      {"", [](const Exp& e) { ::mkfifo(e.file("qel000000.dat").c_str(), 0600); }, "0\n" + times, {},
       "restart file " + std::string("@/qel000000.dat is not a regular file")},
      {"", [](const Exp& e) { ::mkfifo(e.file("fifo").c_str(), 0600); }, "", {"nc", "@/x.nc", "@/fifo"},
       "not a regular file"},
      // A line without end, longer than any answer.
      {"", {}, std::string(std::size_t(3) << 20, ' '), {}, "line 2: longer than 1048576 characters"},
      // A 64-bit stamp is read whole (no such dump here).
      {"", {}, big + "\n" + times, {}, "cannot open restart file @/qel" + big + ".dat"},
      // qeltool refuses the same values before anything is written.
      {"", {}, "", {"run", "@", "STR=2.5", "--until", "1", "--dump-every", "1", "--diag-every", "1"}, "0 < STR < 2"},
      {"", {}, "", {"run", "@", "--until", "1", "--dump-every", "1e-320", "--diag-every", "1"},
       "must be positive, found 1e-320 (a subnormal number, which the model reads as 0)"},
      {"", {}, "", {"run", "@", "DT=NaN", "--save-input", "--until", "1", "--dump-every", "1", "--diag-every", "1"},
       "DT = NaN"},
      {"AXI = 0.5", {}, "", {"init", "@", "0", "rest"}, "qel.input: AXI = 0.50000000000000000 is outside"},
      // A directory that another run holds: refused to the dialogue, run and init.
      {"", held, "-1\n" + times, {}, "directory '@' is in use by another run"},
      {"", held, "", {"run", "@", "--until", "1", "--dump-every", "1", "--diag-every", "1"}, "'@' is in use"},
      {"", held, "", {"init", "@", "7", "rest"}, "'@' is in use"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Exp e(c.changes);
    if (c.prepare) c.prepare(e);
    const auto before = snapshot(e.dir);
    Strings args = c.tool;
    for (std::string& a : args)
      if (a.starts_with('@')) a.replace(0, 1, e.path());
    const Result r = args.empty() ? e.run(c.answers) : call(args);
    EXPECT_EQ(r.status, 2);
    std::string message = c.message;
    if (const auto at = message.find('@'); at != npos) message.replace(at, 1, e.path());
    EXPECT_NE(r.err.find(message), npos) << r.err;
    EXPECT_EQ(snapshot(e.dir), before);
  }
  // The members no computation reads take any value; the edges of the ranges run.
  Exp ok("EXTRA1 = NaN, PRN = -Inf, BDFON = Inf, PIT = 1, AXI = 2.5, STR = 1e-3, STZ = 1.999");
  EXPECT_EQ(ok.run("-1\n" + times).status, 0);
}

TEST(Hostile, RestartsKeepTheirDumpAndRepairACutHistory) {
  // A first-step dump in the same hundredth as the dump a run started from.
  Exp e("DT = 0.004");
  ASSERT_EQ(e.run("-1\n0\n0 1 1\n").status, 0);
  const std::string start = slurp(e.dir / "qel000000.dat"), hist = slurp(e.dir / "qel.hist");
  // The history ends in a line cut short: repaired with a note.
  put(e.dir / "qel.hist", hist + "   0.010 0.00500");
  // Repeated, the restart starts from the same state: the same transcript.
  const Result first = e.run("0\n0\n0.01 1 0\n"), again = e.run("0\n0\n0.01 1 0\n");
  ASSERT_EQ(first.status + again.status, 0) << first.err << again.err;
  EXPECT_EQ(slurp(e.dir / "qel000000.dat"), start);
  EXPECT_NE(first.out.find(" keeping dump file " + e.path() + "/qel000000.dat: the run started from it\n"), npos);
  EXPECT_NE(first.err.find("history file " + e.path() + "/qel.hist ended in an incomplete line of 16 characters"),
            npos) << first.err;
  EXPECT_EQ(again.out, first.out);
  // Whole lines: the header, then two steps' lines (0.008, 0.012) per restart.
  const std::string h = slurp(e.dir / "qel.hist");
  EXPECT_EQ(h.substr(0, hist.size()), hist);
  EXPECT_EQ(h.size(), hist.size() + 4 * 78);

  // A stamp beyond the int32 range restarts.
  const std::int64_t big = 3000000010LL;
  make_dump(e, 30000000.1, big);
  const Result r = e.run(std::to_string(big) + "\n0\n0 1 1\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("time=   30000000.100000001"), npos);
  expect_sound(e);

  // A time that overflows in the run is a model stop; no dump is named after it.
  Exp o("DT = 1.5e308");
  const Result inf = o.run("-1\n0\n1.7e308 1e308 1\n");
  EXPECT_EQ(inf.status, 1);
  EXPECT_NE(inf.err.find("the model time became Infinity"), npos) << inf.err;
  EXPECT_EQ(inf.out.find("will write dump file"), inf.out.rfind("will write dump file"));
  EXPECT_EQ(std::distance(fs::directory_iterator(o.dir), {}), 3);  // qel.input, qel.hist, the first dump
}

// Each run writes only into the directory named, exactly as typed, and
// cleans only the temporary files of its own writes there.
TEST(Hostile, RunsWriteOnlyIntoTheDirectoryNamedExactly) {
  Exp e;
  const fs::path blank = e.root.path / "exp ";
  fs::create_directory(blank);
  fs::copy_file(e.dir / "qel.input", blank / "qel.input");
  const auto before = snapshot(e.dir);
  ASSERT_EQ(call({"run", blank.string(), "--until", "0.5", "--dump-every", "1", "--diag-every", "1"}).status, 0);
  EXPECT_EQ(snapshot(e.dir), before);
  EXPECT_TRUE(fs::exists(blank / "qel000500.dat"));
  fs::remove_all(blank);
  const Result gone = call({}, "'" + blank.string() + "'\n-1\n0\n1 1 1\n");
  EXPECT_EQ(gone.status, 2);
  EXPECT_NE(gone.err.find("the name ends in a blank, and '" + e.path() + "' is another directory"), npos) << gone.err;
  // An unquoted directory with slashes is taken whole: exp/sub, not exp.
  fs::create_directory(e.dir / "sub");
  fs::copy_file(e.dir / "qel.input", e.dir / "sub/qel.input");
  ASSERT_EQ(call({}, e.path() + "/sub\n-1\n0\n0 1 1\n").status, 0);
  EXPECT_TRUE(fs::exists(e.dir / "sub/qel000500.dat") && !fs::exists(e.dir / "qel.hist"));

  // Temporary files that a killed write left: its own patterns only.
  for (const char* f : {"qel000500.dat.Ab12Cd", "qel.input.Zz9999", "qel001000.lev.x0x0x0", "notes.Ab12Cd",
                        "qel000500.dat.Ab12"})
    put(e.dir / f, "left");
  const Result r = e.run("-1\n0\n0.5 1 1\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("removed qel000500.dat.Ab12Cd, a temporary file left by an interrupted write"), npos);
  for (const char* f : {"qel000500.dat.Ab12Cd", "qel.input.Zz9999", "qel001000.lev.x0x0x0"})
    EXPECT_FALSE(fs::exists(e.dir / f)) << f;
  for (const char* f : {"notes.Ab12Cd", "qel000500.dat.Ab12"}) EXPECT_TRUE(fs::exists(e.dir / f)) << f;
}

// Old dumps, damaged histories, odd line ends and extreme costs: rescued or
// announced instead of refused or silently run.
TEST(Hostile, OldFilesAreRescuedAndExtremeRunsAnnounced) {
  Exp e;
  // A dump of an earlier version holding PIT = 0.5, now out of range: an
  // edit in the dialogue brings it into range; without one it is refused.
  make_dump(e, 0.5, 500);
  std::string dump = slurp(e.dir / "qel000500.dat");
  const double half = 0.5;
  std::memcpy(dump.data() + 4 + 13 * 8, &half, 8);
  put(e.dir / "qel000500.dat", dump);
  put(e.dir / "qel.hist", "");
  const Result refused = e.run("500\n0\n1 1 1\n");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("PIT = 0.50000000000000000 is outside its valid range"), npos) << refused.err;
  EXPECT_NE(refused.err.find("(change it in the dialogue to go on)"), npos) << refused.err;
  const std::string edited = "500\n1\n $f pit=0 $end\n0\n1 1 0\n";
  ASSERT_EQ(e.run(edited).status, 0);

  // A history whose last whole line lost only its line end gets one; a
  // header line likewise.
  const std::string line = slurp(e.dir / "qel.hist");
  ASSERT_EQ(line.size(), 78u);
  for (const std::string& h : {line + line.substr(0, 77), std::string("   91.000000000000000     ")}) {
    put(e.dir / "qel.hist", h);
    const Result r = e.run(edited);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ended without the line end of its last line; it was added"), npos) << r.err;
    EXPECT_EQ(slurp(e.dir / "qel.hist"), h + "\n" + line);
  }

  // qel.input with carriage-return line ends, as old Mac files have.
  Exp cr;
  std::string input = slurp(cr.dir / "qel.input");
  std::ranges::replace(input, '\n', '\r');
  put(cr.dir / "qel.input", "a description\r" + input);
  EXPECT_EQ(cr.run("-1\n0\n0.5 1 1\n").status, 0);

  // More than 1e9 steps of DTMAX and 2^31 sweeps a step: said before the run
  // (which then stops at once, its step below the core's floor).
  Exp big("USEPRIM = 1, ORDER = 3, PIT = 2147483647, DTMAX = 1e-12");
  const Result slow = big.run("-1\n0\n1 1 1\n");
  EXPECT_EQ(slow.status, 1);
  EXPECT_NE(slow.err.find("warning: this run needs at least 1000000000000.0000 steps"), npos) << slow.err;
  EXPECT_NE(slow.err.find("warning: PIT = 2147483647.0000000 makes 2147483647.0000000 relaxation sweeps"), npos)
      << slow.err;
}

// qel.input and qel.hist as links, relative and absolute, into a directory
// the user may not write: answer 2 and the fresh history are written
// through to the targets in place, the links and the targets' modes kept.
// Run as an unprivileged user (nobody, when the tests run as root).
TEST(Hostile, LinkedFilesInAReadOnlyDirectoryAreWrittenThroughInPlace) {
  Exp e;
  const fs::path store = e.root.path / "store";
  fs::create_directory(store);
  fs::rename(e.dir / "qel.input", store / "input");
  put(store / "hist", "old");
  fs::create_symlink("../store/input", e.dir / "qel.input");
  fs::create_symlink(store / "hist", e.dir / "qel.hist");
  fs::permissions(store / "input", fs::perms(0646));
  fs::permissions(store / "hist", fs::perms(0606));
  fs::permissions(store, fs::perms(0555));
  fs::permissions(e.dir, fs::perms(0777));
  fs::permissions(e.root.path, fs::perms(0755));
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(e.run("-1\n2\n $f prn=3 $end\n0\n0 1 0\n").status);
  }
  EXPECT_EQ(wait_for(pid), 0);
  EXPECT_TRUE(fs::is_symlink(e.dir / "qel.input") && fs::is_symlink(e.dir / "qel.hist"));
  EXPECT_NE(slurp(store / "input").find(" PRN=  3.0000000000000000     ,"), npos);
  EXPECT_EQ(slurp(store / "hist").size(), 100 * 27 + 78u);
  EXPECT_EQ(fs::status(store / "input").permissions(), fs::perms(0646));
  EXPECT_EQ(fs::status(store / "hist").permissions(), fs::perms(0606));
  EXPECT_EQ(std::distance(fs::directory_iterator(store), {}), 2);
  fs::permissions(store, fs::perms(0755));
}

// The real program: a second run on a directory in use is refused at once;
// the first goes on until it is interrupted, leaving whole files.
TEST(HostileProcesses, TwoRunsOnOneDirectoryAndInterruptsAnywhere) {
  std::mt19937 rng(12345);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int n = 0; n < 6; ++n) {
    const int sig = signals[n % 3];
    SCOPED_TRACE("signal " + std::to_string(sig) + ", try " + std::to_string(n));
    Exp e("DT = 0.0025");
    TempDir t;
    // Dumps at every step, four to a name: writes and renames all the time.
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    const pid_t pid = spawn({kQeln}, e.path() + "\n-1\n0\n1e9 0.0025 1\n", p[1], t.file("err"));
    ::close(p[1]);
    std::string out;
    char buf[4096];
    // Two notices: the dump of the first is complete.
    while (out.find("will write dump file") == out.rfind("will write dump file")) {
      const ssize_t k = ::read(p[0], buf, sizeof buf);
      if (k <= 0) break;
      out.append(buf, std::size_t(k));
    }
    ASSERT_NE(out.find("will write dump file"), out.rfind("will write dump file")) << slurp(t.file("err"));
    if (n == 0) {
      const Result r = child({kQeln}, e.path() + "\n-1\n0\n1 1 1\n", t);
      EXPECT_EQ(r.status, 2);
      EXPECT_NE(r.err.find("directory '" + e.path() + "' is in use by another run"), npos) << r.err;
    }
    ::usleep(std::uniform_int_distribution<int>(0, 30000)(rng));
    ::kill(pid, sig);
    while (::read(p[0], buf, sizeof buf) > 0) {
    }
    ::close(p[0]);
    EXPECT_EQ(wait_for(pid), 128 + sig);
    const std::string err = slurp(t.file("err"));
    // The last complete dump is named, and it is whole.
    const std::string key = "; the last complete dump is ";
    const auto at = err.find(key);
    ASSERT_NE(at, npos) << err;
    EXPECT_NE(err.find("qeln: stopped by SIG"), npos) << err;
    const std::string last = err.substr(at + key.size(), err.find('\n', at) - at - key.size());
    EXPECT_EQ(fs::file_size(last), kDumpFileSize);
    expect_sound(e);
  }
}

// A directory renamed while the run goes on keeps receiving its dumps and
// history; a new directory under the old name gets nothing.
TEST(HostileProcesses, ARenamedDirectoryKeepsReceivingTheRun) {
  Exp e;
  TempDir t;
  const int null = ::open("/dev/null", O_WRONLY);
  const pid_t pid = spawn({kQeln}, e.path() + "\n-1\n0\n5e7 1e7 1e7\n", null, t.file("err"));
  ::close(null);
  // Renamed once the first step's dump is there.
  for (int n = 0; n < 10000 && !fs::exists(e.dir / "qel000500.dat"); ++n) ::usleep(1000);
  const fs::path moved = e.root.path / "moved";
  fs::rename(e.dir, moved);
  fs::create_directory(e.dir);
  // The run was still going on (its 1e8 steps take seconds).
  const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  EXPECT_NE(stat.substr(stat.rfind(')') + 2, 1), "Z");
  ASSERT_EQ(wait_for(pid), 0) << slurp(t.file("err"));
  EXPECT_EQ(std::distance(fs::directory_iterator(e.dir), {}), 0);
  EXPECT_EQ(std::ranges::count(slurp(moved / "qel.hist"), '\n'), 100 + 4);
  for (const char* f : {"qel000500.dat", "qel10000000000.dat", "qel50000000000.dat"}) EXPECT_TRUE(fs::exists(moved / f)) << f;
}

TEST(HostileProcesses, FullDiscsAndBrokenOutputAreWriteErrors) {
  TempDir t;
  {
    // A file-size limit under the first dump: no dump, no temporary file.
    Exp e;
    const Result r = child({kQeln}, e.path() + "\n-1\n0\n5 1 1\n", t, 300000);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write dump file " + e.path() + "/qel000500.dat: File too large"), npos) << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(e.dir), {}), 2);
    expect_sound(e);
  }
  {
    // A limit that the history reaches in mid-line: cut back to whole lines.
    Exp e("DT = 0.01");
    // Standard output to a device, which the limit does not reach.
    const Result r = child({kQeln}, e.path() + "\n-1\n0\n1e6 1e9 0\n", t, kDumpFileSize + 100, "/dev/null");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write history file " + e.path() + "/qel.hist: File too large"), npos) << r.err;
    const std::string h = slurp(e.dir / "qel.hist");
    EXPECT_EQ((h.size() - 2700) % 78, 0u);
    EXPECT_GT(h.size(), kDumpFileSize + 100 - 78);
    expect_sound(e);
  }
  {
    // qeltool nc: status 2, no partial file, no crash.
    Exp e;
    ASSERT_EQ(e.run("-1\n0\n3 0.5 1\n").status, 0);
    const auto before = snapshot(e.dir);
    const Result r = child({kTool, "nc", e.file("run.nc"), e.file("qel000500.dat"), e.file("qel001000.dat"),
                            e.file("qel001500.dat")}, "", t, 4096);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot write " + e.file("run.nc") + ": File too large"), npos) << r.err;
    EXPECT_EQ(snapshot(e.dir), before);
  }
  {
    // Standard output on a full device, or a pipe nobody reads: status 2
    // (not a death by SIGPIPE), the cause said, no file touched.
    Exp e;
    const auto before = snapshot(e.dir);
    const Result full = child({kQeln}, e.path() + "\n-1\n0\n5 1 1\n", t, 0, "/dev/full");
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    ::close(p[0]);
    const int piped = wait_for(spawn({kQeln}, e.path() + "\n-1\n0\n5 1 1\n", p[1], t.file("err")));
    ::close(p[1]);
    for (const auto& [status, err] : {std::pair{full.status, full.err}, {piped, slurp(t.file("err"))}}) {
      EXPECT_EQ(status, 2);
      EXPECT_NE(err.find("cannot write to standard output"), npos) << err;
    }
    EXPECT_EQ(snapshot(e.dir), before);
  }
}
