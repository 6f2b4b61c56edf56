// Whole runs of the program, driven in-process with scripted answers in a
// temporary experiment directory; no dynamics (USEPRIM < 0), so the time
// advances by the DT given and the fields stay as the start left them.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver/files.hpp"
#include "driver/qeln.hpp"
#include "driver/state.hpp"
#include "files_testing.hpp"

namespace fs = std::filesystem;
using namespace qel;
using qel::testing::put;
using qel::testing::slurp;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// The diagnostic lines of a transcript: 77 characters, all fixed fields.
std::vector<std::string> diagnostic_lines(const std::string& text) {
  std::vector<std::string> d;
  for (const std::string& l : lines_of(text))
    if (l.size() == 77 && l.find('=') == std::string::npos && l.find("dump") == std::string::npos)
      d.push_back(l);
  return d;
}

struct Result {
  int status;
  std::string out, err;
};

Result run_qeln(const std::string& answers) {
  std::istringstream in(answers);
  std::ostringstream out, err;
  const int status = run(in, out, err);
  return {status, out.str(), err.str()};
}

// The parameters of the test experiments: a plane 2 x 1 box on a uniform
// grid, buoyancy 0 everywhere (the step lies above the top), no dynamics.
std::map<std::string, std::string> base_parameters() {
  return {{"TIME", "7.25"},  {"DT", "0.5"},       {"USEPRIM", "-1"},   {"ORDER", "3"},
          {"REI", "1e-3"},   {"REIT", "1.d-2"},   {"RWID", "2"},       {"HITE", "1"},
          {"STR", "1"},      {"STZ", "1"},        {"BDFZ", "0.5"},     {"BDFRZ", "0.25"},
          {"BDFRX", ".25"},  {"BDFTURNON", "1"},  {"BSMOOTH", "1000"}, {"BINTERFACE", "2"},
          {"FROUDEINV", "1"}};
}

using Params = std::map<std::string, std::string>;

// An experiment directory whose path is well over 80 characters, so that
// every file name would have been cut by a fixed-length name.
struct Experiment {
  qel::testing::TempDir root;
  fs::path dir = root.path / "an experiment directory named at more than thirty characters";
  explicit Experiment(const Params& changes = {}) {
    fs::create_directory(dir);
    auto par = base_parameters();
    for (const auto& [k, v] : changes) par[k] = v;
    std::string text = "parameters of a test experiment\n &f\n";
    for (const auto& [k, v] : par) text += "  " + k + " = " + v + ",\n";
    put(dir / "qel.input", text + " $end\n");
  }

  std::string path() const { return dir.string(); }
  // The directory answer (quoted: it holds slashes and blanks), then the rest.
  Result run(const std::string& answers) const { return run_qeln("'" + path() + "'\n" + answers); }

  std::vector<std::string> dumps() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().extension() == ".dat") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::map<std::string, std::string> files() const {
    std::map<std::string, std::string> m;
    for (const auto& e : fs::directory_iterator(dir)) m[e.path().filename().string()] = slurp(e.path());
    return m;
  }
  std::string read(const std::string& name) const { return slurp(dir / name); }
};

const std::string kQuiet = "    0.0000    0.0000    0.0000    0.0000  0.000000    0.0000";

}  // namespace

TEST(FreshStart, TranscriptIsExact) {
  Experiment e;
  const Result r = e.run("-5\n0\n1.0, 0.5, 0\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string d = e.path();
  EXPECT_EQ(r.out,
            "  enter directory for input/output of files (e.g. 'myexp'):\n"
            " enter restart timestamp\n"
            " or enter -1 to start fresh\n"
            "  current parameters are:\n"
            "&F\n"
            " TIME=  7.2500000000000000     ,\n"
            " DT= 0.50000000000000000     ,\n"
            " DTMAX=  0.0000000000000000     ,\n"
            " CFL=  0.0000000000000000     ,\n"
            " DIFF=  0.0000000000000000     ,\n"
            " USEPRIM= -1.0000000000000000     ,\n"
            " ORDER=  3.0000000000000000     ,\n"
            " REI=  1.0000000000000000E-003,\n"
            " REIT=  1.0000000000000000E-002,\n"
            " RWID=  2.0000000000000000     ,\n"
            " HITE=  1.0000000000000000     ,\n"
            " STR=  1.0000000000000000     ,\n"
            " STZ=  1.0000000000000000     ,\n"
            " PIT=  0.0000000000000000     ,\n"
            " RLX=  0.0000000000000000     ,\n"
            " AXI=  0.0000000000000000     ,\n"
            " SWIRL=  0.0000000000000000     ,\n"
            " SLIPB=  0.0000000000000000     ,\n"
            " SLIPT=  0.0000000000000000     ,\n"
            " SLIPS=  0.0000000000000000     ,\n"
            " BDFON=  0.0000000000000000     ,\n"
            " BDFZ= 0.50000000000000000     ,\n"
            " BDFRZ= 0.25000000000000000     ,\n"
            " BDFRX= 0.25000000000000000     ,\n"
            " BDFTURNON=  1.0000000000000000     ,\n"
            " BUOYBOUND=  0.0000000000000000     ,\n"
            " BACTIVE=  0.0000000000000000     ,\n"
            " BSMOOTH=  1000.0000000000000     ,\n"
            " BINTERFACE=  2.0000000000000000     ,\n"
            " FROUDEINV=  1.0000000000000000     ,\n"
            " RAY=  0.0000000000000000     ,\n"
            " PRN=  0.0000000000000000     ,\n"
            " EXTRA1=  0.0000000000000000     ,\n"
            " EXTRA2=  0.0000000000000000     ,\n"
            " EXTRA3=  0.0000000000000000     ,\n"
            " EXTRA4=  0.0000000000000000     ,\n"
            " /\n"
            "  do you want to change any parameters?\n"
            "  for 'yes, and rewrite qel.input': 2 , 'yes, but do not rewrite qel.input:' 1, 'no:' 0\n"
            "  time=   0.0000000000000000       enter tstop,tdump,tdiag\n"
            " will write dump file " + d + "/qel000500.dat\n"
            "    0.500 0.50000" + kQuiet + "\n"
            " will write dump file " + d + "/qel001000.dat\n"
            "    1.000 0.50000" + kQuiet + "\n");
  EXPECT_EQ(e.dumps(), (std::vector<std::string>{"qel000500.dat", "qel001000.dat"}));
}

TEST(FreshStart, HistoryIsReplacedByTheHeaderAndTheDiagnosticLines) {
  Experiment e(Params{{"PRN", "-2.5"}});
  put(e.dir / "qel.hist", "an earlier history\n");
  // Lines when more than 0.75 has accumulated: after 1.0, 2.0 and 3.0.
  const Result r = e.run("-1\n0\n3 10 0.75\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> hist = lines_of(e.read("qel.hist"));
  ASSERT_EQ(hist.size(), 103u);
  // The header shows TIME as the parameter file gave it, before the reset.
  EXPECT_EQ(hist[0], "   7.2500000000000000     ");
  EXPECT_EQ(hist[1], "  0.50000000000000000     ");
  EXPECT_EQ(hist[5], "  -1.0000000000000000     ");
  EXPECT_EQ(hist[7], "   1.0000000000000000E-003");
  EXPECT_EQ(hist[31], "  -2.5000000000000000     ");
  for (int m = 36; m < 98; ++m) EXPECT_EQ(hist[m], "   0.0000000000000000     ") << m;
  EXPECT_EQ(hist[98], "   91.000000000000000     ");
  EXPECT_EQ(hist[99], "   91.000000000000000     ");
  const std::vector<std::string> lines{"    1.000 0.50000" + kQuiet, "    2.000 0.50000" + kQuiet,
                                       "    3.000 0.50000" + kQuiet};
  EXPECT_EQ(std::vector<std::string>(hist.begin() + 100, hist.end()), lines);
  EXPECT_EQ(diagnostic_lines(r.out), lines);
}

TEST(FreshStart, DumpNamesAndTheScheduleFollowTheModelTime) {
  struct Case {
    const char* dt;
    const char* times;  // tstop, tdump, tdiag
    std::vector<std::string> dumps;
    int lines;
  } cases[] = {
      // The first step always dumps; stamps are thousandths cut to hundredths.
      {"1.23456", "0 5 0", {"qel001230.dat"}, 1},
      {"0.005", "-1 5 0", {"qel000000.dat"}, 1},
      // A step landing exactly on 2.0 has crossed into the next interval.
      {"0.5", "2 1 0", {"qel000500.dat", "qel001000.dat", "qel002000.dat"}, 4},
      // No meaningful interval: the first-step dump only.
      {"0.5", "2 0 0", {"qel000500.dat"}, 4},
      {"0.5", "2 -1 0", {"qel000500.dat"}, 4},
      // Beyond model time 1000 the stamp grows past six digits.
      {"1234.5", "3000 1000 1e9", {"qel1234500.dat", "qel2469000.dat", "qel3703500.dat"}, 0},
      // Every step prints with tdiag = 0; after 0.25 accumulates strictly past
      // 0.25 only every second step.
      {"0.25", "1 7 0", {"qel000250.dat"}, 4},
      {"0.25", "1 7 0.25", {"qel000250.dat"}, 2},
  };
  for (const Case& c : cases) {
    Experiment e(Params{{"DT", c.dt}});
    const Result r = e.run("-1\n0\n" + std::string(c.times) + "\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(e.dumps(), c.dumps) << c.dt << " / " << c.times;
    for (const std::string& name : c.dumps) {
      EXPECT_NE(r.out.find(" will write dump file " + e.path() + "/" + name + "\n"), std::string::npos)
          << name;
      EXPECT_EQ(e.read(name).size(), kDumpFileSize);
    }
    EXPECT_EQ(int(diagnostic_lines(r.out).size()), c.lines) << c.dt << " / " << c.times;
  }
}

TEST(Restart, RewritesExactlyWhatItReadWithTheExpectedChanges) {
  Experiment e(Params{{"DT", "1.23456"}, {"RWID", "3"}, {"STR", "0.6"}, {"STZ", "0.8"}, {"AXI", "1"}});
  ASSERT_EQ(e.run("-1\n0\n0 1 0\n").status, 0);
  const std::string fresh = e.read("qel001230.dat");

  // Give every dumped item distinct values, the grid and viscosity too.
  auto s = std::make_unique<State>();
  read_dump(*s, e.path() + "/qel001230.dat");
  double v = 0.0;
  for (Field* f : {&s->fields.b, &s->fields.bdf, &s->fields.psi, &s->fields.zeta, &s->fields.u,
                   &s->fields.v, &s->fields.w, &s->fields.visc})
    for (double& x : f->a) x = (v += 0.001);
  for (double& x : s->basic.r.a) x = -(v += 1.0);
  for (double& x : s->basic.z.a) x = -(v += 1.0);
  write_dump(*s, e.path() + "/qel001230.dat");
  const std::string before = e.read("qel001230.dat");
  const std::string hist_before = e.read("qel.hist");

  // Restart, change PRN without rewriting qel.input, run one step.
  const Result r = e.run("001230\n1\n $f prn=7 $end\n0\n0 1 0\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("  time=   1.2345600000000001       enter"), std::string::npos) << r.out;
  ASSERT_EQ(e.dumps(), (std::vector<std::string>{"qel001230.dat", "qel002460.dat"}));
  EXPECT_EQ(e.read("qel001230.dat"), before);

  // Expected: the record read, with the time advanced by DT, the edited
  // parameter, and the grid and viscosity recomputed from the parameters
  // (the same as the fresh start computed them).
  std::string expect = before;
  const double time = 1.23456 + 1.23456, prn = 7.0;
  std::memcpy(expect.data() + 4 + 0 * 8, &time, 8);
  std::memcpy(expect.data() + 4 + 31 * 8, &prn, 8);
  const std::size_t visc = 4 + 464536, grid = 4 + 530784;
  expect.replace(visc, 66248, fresh, visc, 66248);
  expect.replace(grid, 1456, fresh, grid, 1456);
  const std::string after = e.read("qel002460.dat");
  ASSERT_EQ(after.size(), expect.size());
  EXPECT_TRUE(after == expect) << "first difference at byte "
                               << std::mismatch(after.begin(), after.end(), expect.begin()).first -
                                      after.begin();

  // The history continues: no second header, one more line.
  const std::string hist = e.read("qel.hist");
  ASSERT_EQ(hist.substr(0, hist_before.size()), hist_before);
  const std::string added = hist.substr(hist_before.size());
  EXPECT_EQ(added.substr(0, 18), "    2.469 1.23456 ");
  EXPECT_EQ(lines_of(added).size(), 1u);
  EXPECT_EQ(diagnostic_lines(r.out), lines_of(added));
  // qel.input was not rewritten.
  EXPECT_EQ(e.read("qel.input").find("PRN= "), std::string::npos);
}

TEST(Restart, StampsZeroAndBeyondSixDigitsReadBack) {
  Experiment e(Params{{"DT", "0.005"}});
  ASSERT_EQ(e.run("-1\n0\n0 1 1\n").status, 0);
  const Result zero = e.run("0\n0\n0 1 1\n");
  ASSERT_EQ(zero.status, 0) << zero.err;
  EXPECT_EQ(e.dumps(), (std::vector<std::string>{"qel000000.dat", "qel000010.dat"}));

  Experiment big(Params{{"DT", "1234.5"}});
  ASSERT_EQ(big.run("-1\n0\n0 1 1\n").status, 0);
  const Result r = big.run("1234500\n0\n0 1 1\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(big.dumps(), (std::vector<std::string>{"qel1234500.dat", "qel2469000.dat"}));
}

TEST(Errors, DirectoryThatCannotBeUsedIsNamed) {
  Experiment e;
  put(e.dir / "plain", "not a directory");
  const auto files = e.files();
  const std::string missing = e.path() + "/missing";
  const std::string toolong = e.path() + "/" + std::string(300, 'x');
  struct Case {
    std::string answer, message;
  } cases[] = {
      {"'" + missing + "'", "directory '" + missing + "' does not exist"},
      {"'" + e.path() + "/plain'", "'" + e.path() + "/plain' is not a directory"},
      {"''", "no directory was named"},
      {"'" + toolong + "'", "cannot use directory '" + toolong + "': File name too long"},
  };
  for (const Case& c : cases) {
    const Result r = run_qeln(c.answer + "\n-1\n0\n1 1 1\n");
    EXPECT_EQ(r.status, 2) << c.answer;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "  enter directory for input/output of files (e.g. 'myexp'):\n");
  }
  EXPECT_EQ(e.files(), files);
  EXPECT_FALSE(fs::exists(missing));
}

TEST(Errors, UnreadableAnswersStopWithoutTouchingAnyFile) {
  Experiment e;
  put(e.dir / "qel.hist", "an earlier history\n");
  put(e.dir / "qel000500.dat", "an earlier dump");
  const auto files = e.files();
  const std::string dir = "'" + e.path() + "'\n";
  struct Case {
    std::string answers, message;
  } cases[] = {
      {"", "end of input, expected the experiment directory"},
      {dir, "end of input after line 1, expected the restart stamp"},
      {dir + "abc\n", "line 2: expected the restart stamp"},
      {dir + "1.5\n", "line 2: expected the restart stamp"},
      {dir + "-1\n", "end of input after line 2"},
      {dir + "-1\n0\n", "end of input after line 3, expected the stop time"},
      {dir + "-1\n0\n1 1\n", "end of input after line 4, expected the diagnostic interval"},
      {dir + "-1\n0\nsoon 1 1\n", "line 4: expected the stop time"},
      {dir + "-1\n0\n1 1 x\n", "line 4: expected the diagnostic interval"},
  };
  for (const Case& c : cases) {
    const Result r = run_qeln(c.answers);
    EXPECT_EQ(r.status, 2) << c.answers;
    EXPECT_NE(r.err.find("standard input"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("will write"), std::string::npos);
    EXPECT_EQ(e.files(), files) << c.answers;
  }
}

TEST(Errors, RestartWithoutItsDumpOrHistoryChangesNothing) {
  Experiment e;
  ASSERT_EQ(e.run("-1\n0\n0 1 1\n").status, 0);
  const std::string dump = e.read("qel000500.dat");
  const auto files = e.files();
  Result r = e.run("700\n0\n5 1 1\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot open restart file " + e.path() + "/qel000700.dat: No such file"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(e.files(), files);

  // A restart continues a history; without one it stops before any change.
  fs::remove(e.dir / "qel.hist");
  r = e.run("500\n0\n5 1 1\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot open history file " + e.path() + "/qel.hist: No such file"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(e.dir / "qel.hist"));
  EXPECT_EQ(e.read("qel000500.dat"), dump);
}

TEST(Errors, FailedDumpWriteStopsTheRunAndKeepsTheEarlierDump) {
  Experiment e;
  // A directory where the dump belongs: the record cannot take its place.
  fs::create_directory(e.dir / "qel000500.dat");
  Result r = e.run("-1\n0\n5 1 1\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot write dump file " + e.path() + "/qel000500.dat: Is a directory"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::is_directory(e.dir / "qel000500.dat"));
  fs::remove(e.dir / "qel000500.dat");

  // A disc that fills up: files may grow to 64 kB only, so the record cannot
  // be written; the earlier dump of the same name survives whole.
  put(e.dir / "qel000500.dat", "an earlier dump");
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 65536;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  r = e.run("-1\n0\n5 1 1\n");
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot write dump file " + e.path() + "/qel000500.dat: File too large"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find(" will write dump file " + e.path() + "/qel000500.dat\n"), std::string::npos);
  EXPECT_EQ(e.read("qel000500.dat"), "an earlier dump");
  std::vector<std::string> names;
  for (const auto& [name, bytes] : e.files()) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"qel.hist", "qel.input", "qel000500.dat"}));
}

TEST(CommandLine, HelpVersionAndUsageErrors) {
  auto call = [](std::vector<const char*> args) {
    args.insert(args.begin(), "qeln");
    std::istringstream in;
    std::ostringstream out, err;
    const int status = run_command(int(args.size()), args.data(), in, out, err);
    return Result{status, out.str(), err.str()};
  };
  Result r = call({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("usage: qeln", 0), 0u);
  for (const char* word : {"qel.input", "qel.hist"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  EXPECT_EQ(r.err, "");

  r = call({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("qeln ") + QEL_VERSION + "\n");

  const std::vector<std::vector<const char*>> wrong = {{"-h"}, {"myexp"}, {"--help", "--version"}};
  for (const auto& args : wrong) {
    r = call(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: qeln [--help | --version]"), std::string::npos);
  }
  // Without arguments the dialogue starts (and here meets the end of input).
  r = call({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out.rfind("  enter directory", 0), 0u);
}

TEST(Errors, ATimeThatCannotAdvanceStopsInsteadOfRunningForEver) {
  for (const char* dt : {"0", "-0.5"}) {
    Experiment e(Params{{"DT", dt}});
    const Result r = e.run("-1\n0\n5 1 1\n");
    EXPECT_EQ(r.status, 1) << dt;
    EXPECT_NE(r.err.find("the model time does not advance"), std::string::npos) << r.err;
    EXPECT_EQ(e.dumps().size(), 1u);
  }
}
