// Whole runs of the program, driven in-process with scripted answers in a
// temporary experiment directory; no dynamics (USEPRIM < 0), so the time
// advances by the DT given and the fields stay as the start left them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/files.hpp"
#include "driver/qeln.hpp"
#include "files_testing.hpp"
#include "model/state.hpp"

namespace fs = std::filesystem;
using namespace qel;
using namespace qel::testing;

namespace {

constexpr auto npos = std::string::npos;

// The program with the given arguments, reading the answers given.
Result run_qeln(const std::string& answers, std::vector<const char*> args = {}) {
  args.insert(args.begin(), "qeln");
  std::istringstream in(answers);
  std::ostringstream out, err;
  const int status = run_command(int(args.size()), args.data(), in, out, err);
  return {status, out.str(), err.str()};
}

// Stores x in the 8 bytes at `at` of a record (host order, little-endian).
void set_double(std::string& b, std::size_t at, double x) { std::memcpy(b.data() + at, &x, 8); }

// A plane 2 x 1 box on a uniform grid, buoyancy 0 everywhere (the step lies
// above the top), no dynamics, with the changes given (a later assignment
// wins); in a directory whose path is well over 80 characters, so that a
// fixed-length name would have been cut.
struct Experiment {
  TempDir root;
  fs::path dir = root.path / "an experiment directory named at more than thirty characters";
  explicit Experiment(const std::string& changes = "") {
    fs::create_directory(dir);
    put(dir / "qel.input",
        "parameters of a test experiment\n &f\n  TIME = 7.25, DT = 0.5, USEPRIM = -1, REI = 1e-3,\n"
        "  RWID = 2, HITE = 1, STR = 1, STZ = 1, BSMOOTH = 1000, BINTERFACE = 2,\n  " + changes +
            "\n $end\n");
  }
  std::string path() const { return dir.string(); }
  // The directory answer (quoted: it holds slashes and blanks), then the rest.
  Result run(const std::string& answers) const { return run_qeln("'" + path() + "'\n" + answers); }
  std::string read(const std::string& name) const { return slurp(dir / name); }
  std::map<std::string, std::string> files() const {
    std::map<std::string, std::string> m;
    for (const auto& f : fs::directory_iterator(dir)) m[f.path().filename()] = slurp(f.path());
    return m;
  }
  // The names of the dumps in order, separated by blanks.
  std::string dumps() const {
    std::string names;
    for (const auto& [name, bytes] : files())
      if (name.ends_with(".dat")) names += (names.empty() ? "" : " ") + name;
    return names;
  }
};

}  // namespace

// The layout of the transcript and of the history at 91 x 91 is held by the
// output digests; here what they do not cover: a directory name longer than
// any fixed-length field, a negative stamp other than -1, TIME shown before
// its reset, an earlier history replaced and the summary on the error output.
TEST(FreshStart, TranscriptAndHistoryShowTheParametersAsReadAndTheWholeDirectory) {
  Experiment e;
  put(e.dir / "qel.hist", "an earlier history\n");
  // Any negative stamp starts fresh: six steps of 0.5 to time 3, dumps at
  // the first step and on crossing 1.5 and 3.0.
  const Result r = e.run("-5\n0\n3, 1.5, 0.75\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.starts_with("qeln: 6 steps to model time 3 in ")) << r.err;
  EXPECT_TRUE(r.err.ends_with(" steps per second), 3 dumps written\n") && std::ranges::count(r.err, '\n') == 1) << r.err;
  EXPECT_NE(r.out.find("&F\n TIME=  7.2500000000000000     ,\n"), npos);
  EXPECT_NE(r.out.find("enter tstop,tdump,tdiag\n will write dump file " + e.path() + "/qel000500.dat\n"), npos);
  EXPECT_NE(r.out.find(" will write dump file " + e.path() + "/qel003000.dat\n    3.000 0.50000 "), npos);
  // The history begins anew: 100 header lines, TIME first as read, then
  // lines at 1, 2 and 3 (more than 0.75 accumulated).
  const std::string h = e.read("qel.hist");
  EXPECT_TRUE(h.starts_with("   7.2500000000000000     \n")) << h.substr(0, 60);
  EXPECT_EQ(std::ranges::count(h, '\n'), 103);
}

// The fields a fresh start leaves, read from its first dump (no dynamics
// acts), on a grid stretched along both axes, with a viscous lid (REIT >
// REI) and the body force well inside the box.
TEST(FreshStart, FieldsFollowTheStepTheRaisedCosineAndTheViscousLid) {
  Experiment e("RWID = 1.5, HITE = 2, STR = 0.7, STZ = 0.6, AXI = 1, REI = 1e-3, REIT = 4e-3, FROUDEINV = 2,\n"
               "  BSMOOTH = 8, BINTERFACE = 0.9, BDFZ = 1.2, BDFRX = 0.6, BDFRZ = 0.5");
  ASSERT_EQ(e.run("-1\n0\n0 1 0\n").status, 0);
  auto s = std::make_unique<State>();
  read_dump(*s, e.path() + "/qel000500.dat");
  const Fields& f = s->fields;
  // b = 1/(1 + exp(BSMOOTH (BINTERFACE - z))), light below, heavy above;
  // bdf = 0.25 (1 + cos(pi rho))/BDFRZ inside the ellipse rho < 1,
  // rho^2 = (r/BDFRX)^2 + ((z - BDFZ)/BDFRZ)^2, pi in single precision;
  // visc = max(REI, 2 REIT (z + 0.5 - HITE)), rising to REIT at the top.
  const double pi_single = 3.1415927410125732;
  int lid = 0, forced = 0;
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double r = s->basic.r(i), z = s->basic.z(j);
      const double rho = std::hypot(r / 0.6, (z - 1.2) / 0.5);
      const double bdf = rho < 1.0 ? 0.25 * (1.0 + std::cos(pi_single * rho)) / 0.5 : 0.0;
      const double visc = std::max(1e-3, 2.0 * 4e-3 * (z + 0.5 - 2.0));
      ASSERT_NEAR(f.b(i, j), 1.0 / (1.0 + std::exp(8.0 * (0.9 - z))), 1e-15) << i << ' ' << j;
      ASSERT_NEAR(f.bdf(i, j), bdf, 1e-15) << i << ' ' << j;
      ASSERT_NEAR(f.visc(i, j), visc, 4e-18) << i << ' ' << j;
      ASSERT_TRUE(f.u(i, j) == 0 && f.v(i, j) == 0 && f.w(i, j) == 0 && f.psi(i, j) == 0 && f.zeta(i, j) == 0);
      lid += visc > 1e-3, forced += bdf > 0.0;
    }
  EXPECT_GT(lid, 5 * NR);
  EXPECT_GT(forced, 100);
}

TEST(Dumps, NamesAndScheduleFollowTheModelTimeAndRestartsReadTheStampsBack) {
  // A fresh start with tstop, tdump, tdiag, then a restart from a stamp if
  // one is given; the dumps and the number of diagnostic lines of both runs,
  // and the message of a model stop (exit status 1) if one is expected.
  const struct { const char *dt, *times, *restart, *dumps; int lines; const char* stop = ""; }
      cases[] = {
      // The first step always dumps; stamps are thousandths cut to hundredths;
      // tstop <= TIME runs one step.
      {"1.23456", "0 5 0", "", "qel001230.dat", 1},
      {"0.005", "-1 5 0", "0", "qel000000.dat qel000010.dat", 2},
      // A step landing exactly on 2.0 has crossed into the next interval.
      {"0.5", "2 1 0", "", "qel000500.dat qel001000.dat qel002000.dat", 4},
      // No meaningful interval: the first-step dump, and the final state.
      {"0.5", "2 0 0", "", "qel000500.dat qel002000.dat", 4},
      // Beyond model time 1000 the stamp grows past six digits.
      {"1234.5", "3000 1000 1e9", "3703500",
       "qel1234500.dat qel2469000.dat qel3703500.dat qel4938000.dat", 0},
      // Every step prints with tdiag = 0; once 0.25 must be strictly exceeded,
      // only every second step. The final state is dumped though no dump was due.
      {"0.25", "1 7 0", "", "qel000250.dat qel001000.dat", 4},
      {"0.25", "1 7 0.25", "", "qel000250.dat qel001000.dat", 2},
      // A time that cannot advance stops after the first step instead of
      // running for ever; a negative time stops before any dump is named after it.
      {"0", "5 1 1", "", "qel000000.dat", 0, "the model time does not advance"},
      {"-0.5", "5 1 1", "", "", 0, "the model time became -0.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("DT = ") + c.dt + ", times " + c.times);
    Experiment e("DT = " + std::string(c.dt));
    for (const std::string stamp : {"-1", c.restart}) {
      if (stamp.empty()) break;
      const Result r = e.run(stamp + "\n0\n" + c.times + "\n");
      ASSERT_EQ(r.status, *c.stop ? 1 : 0) << r.err;
      EXPECT_NE(r.err.find(c.stop), npos) << r.err;
    }
    // The history holds the diagnostic lines after its header of 100.
    EXPECT_EQ(std::ranges::count(e.read("qel.hist"), '\n'), 100 + c.lines);
    EXPECT_EQ(e.dumps(), c.dumps);
  }
}

// A dump is due when the time times the reciprocal of tdump passes an
// integer: from 17.879999999999995 in steps of 0.01 with tdump = 0.1, the
// step to 17.9 (179.0 by the reciprocal, 178.99999999999997 by a division)
// dumps, the step to 17.91 (179.1 either way) does not.
TEST(Dumps, ScheduleMultipliesByTheReciprocalOfTheInterval) {
  Experiment e("DT = 17.879999999999995");
  ASSERT_EQ(e.run("-1\n0\n0 1 0\n").status, 0);  // one step, to TIME = DT
  const Result r = e.run("17870\n1\n $f dt = 0.01 $end\n0\n18.005 0.1 1e9\n");
  ASSERT_EQ(r.status, 0) << r.err;
  // The first step, the steps to 17.9 (stamp 17890: 100 TIME = 1789.9999999999998)
  // and to 18.000000000000014, and the final state at 18.01.
  EXPECT_EQ(e.dumps(), "qel017870.dat qel017880.dat qel017890.dat qel018000.dat qel018010.dat");
}

TEST(Restart, RewritesExactlyWhatItReadWithTheExpectedChangesAndAppendsToTheHistory) {
  Experiment e("DT = 1.23456, RWID = 3, STR = 0.6, STZ = 0.8, AXI = 1");
  ASSERT_EQ(e.run("-1\n0\n0 1 0\n").status, 0);
  const std::string fresh = e.read("qel001230.dat");
  // Give every dumped field, the viscosity, r and z too, distinct values.
  std::string before = fresh;
  for (std::size_t at = 4 + 800; at < 4 + kDumpPayload; at += 8)
    set_double(before, at, 0.001 * double(at));
  put(e.dir / "qel001230.dat", before);
  const std::string hist_before = e.read("qel.hist");

  // Restart, change PRN without rewriting qel.input, run one step.
  const Result r = e.run("001230\n1\n $f prn=7 $end\n0\n0 1 0\n");
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(e.dumps(), "qel001230.dat qel002460.dat");
  // Expected: the record read, with the time advanced by DT, the edited
  // parameter, and the viscosity, r and z (contiguous at the end) recomputed
  // from the parameters as the fresh start computed them.
  std::string expect = before;
  set_double(expect, 4 + 0 * 8, 1.23456 + 1.23456);
  set_double(expect, 4 + 31 * 8, 7.0);
  expect.replace(4 + 464536, 67704, fresh, 4 + 464536, 67704);
  EXPECT_TRUE(e.read("qel002460.dat") == expect);
  // The history continues: no second header, the line printed last added.
  const std::string line = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
  EXPECT_EQ(line.substr(0, 18), "    2.469 1.23456 ");
  EXPECT_EQ(e.read("qel.hist"), hist_before + line);
  EXPECT_EQ(e.read("qel.input").find("PRN= "), npos);
}

TEST(Errors, BadArgumentsAnswersAndMissingFilesStopWithoutTouchingAnyFile) {
  Experiment e;
  ASSERT_EQ(e.run("-1\n0\n0 1 1\n").status, 0);  // a sound qel000500.dat and qel.hist
  put(e.dir / "plain", "not a directory");
  const std::string p = e.path(), dir = "'" + p + "'\n", rest = "\n-1\n0\n1 1 1\n", x300(300, 'x');
  const auto stops = [&](const std::string& answers, const std::string& message,
                         const std::vector<const char*>& args = {}) {
    const auto files = e.files();
    const Result r = run_qeln(answers, args);
    EXPECT_EQ(r.status, 2) << answers;
    EXPECT_NE(r.err.find(message), npos) << r.err;
    EXPECT_TRUE(e.files() == files) << answers;
  };
  stops("'" + p + "/missing'" + rest, "directory '" + p + "/missing' does not exist");
  stops("'" + p + "/plain'" + rest, "'" + p + "/plain' is not a directory");
  stops("''" + rest, "no directory was named");
  stops("'" + p + "/" + x300 + "'" + rest,
        "cannot use directory '" + p + "/" + x300 + "': File name too long");
  // Any argument other than --help or --version is a usage error.
  stops(dir + "-1\n0\n1 1 1\n", "usage: qeln [--help | --version]", {"-h"});
  stops(dir + "-1\n0\n1 1 1\n", "usage: qeln [--help | --version]", {"--help", "--version"});
  stops(dir, "standard input: end of input after line 1, expected the restart stamp");
  stops(dir + "1.5\n", "standard input, line 2: expected the restart stamp");
  stops(dir + "500\n0\n1 1\n", "standard input: end of input after line 4, expected the diagnostic");
  stops(dir + "700\n0\n5 1 1\n", "cannot open restart file " + p + "/qel000700.dat: No such file");
}

TEST(CommandLine, HelpAndVersionAreShown) {
  const Result help = run_qeln("", {"--help"}), version = run_qeln("", {"--version"});
  EXPECT_TRUE(help.status == 0 && help.out.starts_with("usage: qeln") && version.status == 0);
  // The version and the source revision it was built from ("unknown" only
  // for a copy of the sources that does not know it), and nothing on the
  // error output of either.
  EXPECT_EQ(help.err + version.err, "");
  const std::string head = std::string("qeln ") + QEL_VERSION + " (revision ";
  EXPECT_TRUE(version.out.starts_with(head) && version.out.ends_with(")\n")) << version.out;
  const std::string rev = version.out.substr(head.size(), version.out.size() - head.size() - 2);
  EXPECT_FALSE(rev.empty() || rev.find(' ') != npos) << rev;
  EXPECT_EQ(rev == "unknown", !source_revision_known()) << rev;
}
