// Runs that are never lost and continue exactly: a fresh start leaves an
// earlier run alone, the final state is dumped, a restart says where
// qel.input disagrees with its dump, and a run split at its dumps writes
// the same bytes as the run that went through.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tool_testing.hpp"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
constexpr auto npos = std::string::npos;

// An example experiment copied into a fresh directory `sub` of root; the
// thermal gets its initial state qel000000.dat from qeltool init.
std::string experiment(const TempDir& root, const std::string& sub, const std::string& example,
                       const Args& edits = {}) {
  const fs::path dir = root.path / sub;
  fs::create_directories(dir);
  fs::copy_file(fs::path(QEL_SOURCE_DIR) / "examples" / example / "qel.input", dir / "qel.input");
  if (example == "thermal") {
    Args init = {"init", dir.string(), "0", "thermal", "amplitude=0.5", "z0=0.4", "radius=0.15"};
    init.insert(init.end(), edits.begin(), edits.end());
    EXPECT_EQ(call(init).status, 0);
  }
  return dir.string();
}

// qeltool run in dir from `stamp` ("" starts fresh) to `until`.
Result run_to(const std::string& dir, const std::string& stamp, const std::string& until,
              const std::string& dump, const std::string& diag, const Args& edits = {}) {
  Args a = {"run", dir};
  if (!stamp.empty()) a.insert(a.end(), {"--restart", stamp});
  a.insert(a.end(), {"--until", until, "--dump-every", dump, "--diag-every", diag});
  a.insert(a.end(), edits.begin(), edits.end());
  return call(a);
}

std::vector<std::string> dumps(const std::string& dir) {
  std::vector<std::string> v;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".dat") v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

std::string stamp_of(const std::string& dump) { return dump.substr(3, dump.size() - 7); }

TEST(FreshStart, RefusesADirectoryHoldingAnEarlierRunAndTouchesNothing) {
  TempDir root;
  const std::string dir = experiment(root, "exp", "thermal");
  ASSERT_EQ(run_to(dir, "0", "0.1", "0.05", "0.02").status, 0);
  const auto before = snapshot(dir);
  const Result r = run_to(dir, "", "0.05", "0.05", "0.02");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("holds an earlier run (qel.hist with"), npos) << r.err;
  EXPECT_NE(r.err.find("dumps qel000000.dat ... qel000100.dat"), npos) << r.err;
  EXPECT_NE(r.err.find("another directory"), npos) << r.err;
  EXPECT_EQ(snapshot(dir), before);
  // A history holding only its header is no run: the fresh start goes ahead.
  const std::string empty = experiment(root, "new", "plume");
  EXPECT_EQ(run_to(empty, "", "0.05", "1", "1").status, 0);
  fs::remove(fs::path(empty) / "qel000000.dat");
  fs::remove(fs::path(empty) / "qel000050.dat");
  fs::resize_file(fs::path(empty) / "qel.hist", 0);
  EXPECT_EQ(run_to(empty, "", "0.05", "1", "1").status, 0);
}

TEST(FinalState, IsDumpedAtAStopTimeBetweenDumpsAndContinues) {
  TempDir root;
  const std::string dir = experiment(root, "exp", "thermal");
  const Result r = run_to(dir, "0", "0.33", "0.5", "0.1");
  ASSERT_EQ(r.status, 0) << r.err;
  // The dump it started from, kept, and the final one: the stop time was
  // never a dump time.
  const auto d = dumps(dir);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_GE(std::stod(stamp_of(d[1])), 330.0);
  EXPECT_NE(r.out.rfind("will write dump file " + dir + "/" + d[1]), npos);
  EXPECT_NE(r.err.find("1 dump written"), npos) << r.err;
  EXPECT_TRUE(fs::exists(fs::path(dir) / (d[1].substr(0, d[1].size() - 4) + ".lev")));
  EXPECT_EQ(run_to(dir, stamp_of(d[1]), "0.4", "0.5", "0.1").status, 0);
}

TEST(Restart, ListsTheParametersOfQelInputThatDifferFromTheDump) {
  TempDir root;
  const std::string dir = experiment(root, "exp", "thermal");
  std::string input = slurp(fs::path(dir) / "qel.input");
  input.replace(input.find("SWIRL = 0,"), 10, "SWIRL = 7.0,");
  input.replace(input.find("REI = 1.0e-3"), 12, "REI = 2.0e-3");
  put(fs::path(dir) / "qel.input", input);
  const Result r = run_to(dir, "0", "0.02", "1", "1");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("runs with the dump's values unless they are edited"), npos) << r.err;
  EXPECT_NE(r.err.find("  SWIRL = 0.0000000000000000 in the dump, 7.0000000000000000 in qel.input\n"),
            npos) << r.err;
  EXPECT_NE(r.err.find("  REI = "), npos) << r.err;
  EXPECT_EQ(r.err.find("TIME ="), npos) << r.err;
  // Without a readable qel.input the restart goes on after a one-line note.
  fs::remove(fs::path(dir) / "qel.input");
  fs::create_directory(fs::path(dir) / "qel.input");
  const Result again = run_to(dir, "0", "0.02", "1", "1");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("note: qel.input not compared with the dump"), npos) << again.err;
}

TEST(Restart, WarnsOnceOfADiffusionNumberBeyondTheStabilityLimit) {
  TempDir root;
  const std::string dir = experiment(root, "exp", "thermal", {"DIFF=0.14"});
  const Result r = run_to(dir, "0", "0.02", "1", "1", {"DIFF=0.14"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto at = r.err.find("warning: DIFF = 0.14");
  ASSERT_NE(at, npos) << r.err;
  EXPECT_EQ(r.err.find("warning", at + 1), npos);
  EXPECT_EQ(run_to(dir, "0", "0.02", "1", "1", {"DIFF=0.136"}).err.find("warning"), npos);
}

// A run split at one dump, and at two successive ones, against the run that
// went through: every dump both wrote and the whole history byte for byte.
void expect_split_equals_through(const std::string& example, const Args& edits,
                                 const std::string& until, const std::string& dump,
                                 const std::string& diag) {
  TempDir root;
  const std::string through = experiment(root, "through", example, edits);
  const std::string start = example == "thermal" ? "0" : "";
  ASSERT_EQ(run_to(through, start, until, dump, diag, edits).status, 0);
  const auto all = dumps(through);
  ASSERT_GE(all.size(), 4u);
  for (int splits : {1, 2}) {
    SCOPED_TRACE(example + " split " + std::to_string(splits) + " times");
    const std::string dir = experiment(root, "split" + std::to_string(splits), example, edits);
    std::string from = start;
    for (int k = 1; k <= splits; ++k) {
      const std::string stop = std::to_string(std::stod(stamp_of(all[k])) / 1000.0);
      const Result r = run_to(dir, from, stop, dump, diag, edits);
      ASSERT_EQ(r.status, 0) << r.err;
      from = stamp_of(all[k]);
    }
    const Result r = run_to(dir, from, until, dump, diag, edits);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("exactly"), npos) << r.err;
    for (const std::string& d : all) EXPECT_EQ(slurp(fs::path(dir) / d), slurp(fs::path(through) / d)) << d;
    EXPECT_EQ(slurp(fs::path(dir) / "qel.hist"), slurp(fs::path(through) / "qel.hist"));
  }
}

TEST(Restart, SplitRunsOfTheVorticityCoreEqualTheRunThatWentThrough) {
  for (const Args& e : {Args{"ORDER=3", "PIT=0"}, Args{"ORDER=-1", "PIT=0"}, Args{"ORDER=3", "PIT=20"},
                        Args{"ORDER=-1", "PIT=20"}})
    expect_split_equals_through("thermal", e, "0.5", "0.1", "0.03");
}

TEST(Restart, SplitRunsOfThePrimitiveCoreEqualTheRunThatWentThrough) {
  for (const Args& e : {Args{"PIT=0"}, Args{"PIT=20"}}) expect_split_equals_through("plume", e, "0.6", "0.1", "0.07");
}

TEST(Restart, ACompanionThatDoesNotMatchItsDumpIsSaidAndSetAside) {
  TempDir root;
  const std::string dir = experiment(root, "exp", "thermal");
  ASSERT_EQ(run_to(dir, "0", "0.3", "0.1", "0.1").status, 0);
  const fs::path p(dir);
  const auto cases = {
      std::pair<std::string, std::string>{"damaged", "is damaged"},
      {"other dump", "belongs to another dump"},
      {"other core", "primitive core, and this run uses another"},
  };
  for (const auto& [what, expect] : cases) {
    SCOPED_TRACE(what);
    fs::copy_file(p / "qel000200.lev", p / "keep.lev", fs::copy_options::overwrite_existing);
    Args edits;
    if (what == "damaged") {
      std::string b = slurp(p / "qel000200.lev");
      b[100] ^= 1;
      put(p / "qel000200.lev", b);
    } else if (what == "other dump") {
      fs::copy_file(p / "qel000100.lev", p / "qel000200.lev", fs::copy_options::overwrite_existing);
    } else {
      edits = {"USEPRIM=1", "PIT=20"};
    }
    const Result r = run_to(dir, "200", "0.21", "1", "1", edits);
    EXPECT_EQ(r.status, 0) << r.err;
    if (what == "other core") {
      EXPECT_NE(r.err.find("holds the tendencies of the vorticity core"), npos) << r.err;
    } else {
      EXPECT_NE(r.err.find("cannot continue the run exactly: " + dir + "/qel000200.lev " + expect),
                npos) << r.err;
    }
    fs::rename(p / "keep.lev", p / "qel000200.lev");
  }
}

TEST(Restart, ABranchIntoANewDirectoryStartsItsHistory) {
  TempDir root;
  const std::string dir = experiment(root, "exp", "thermal");
  ASSERT_EQ(run_to(dir, "0", "0.2", "0.1", "0.05").status, 0);
  const fs::path branch = root.path / "branch";
  fs::create_directory(branch);
  for (const char* f : {"qel000100.dat", "qel000100.lev"}) fs::copy_file(fs::path(dir) / f, branch / f);
  const Result r = run_to(branch.string(), "100", "0.2", "0.1", "0.05");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("qel.hist did not exist: started it with the parameter header"), npos) << r.err;
  // A header and the diagnostic lines of the branch, which continued
  // exactly: the original's last lines.
  const std::string hist = slurp(branch / "qel.hist");
  const auto lines = std::count(hist.begin(), hist.end(), '\n');
  ASSERT_GT(lines, 100);
  const std::string tail = hist.substr(hist.size() - std::size_t(lines - 100) * 78);
  EXPECT_TRUE(slurp(fs::path(dir) / "qel.hist").ends_with(tail)) << hist;
}

// A build from `git archive` knows its revision: the archive's
// cmake/archive-revision.txt holds the commit, which revision.cmake reads.
TEST(Revision, ASourceArchiveKnowsItsCommit) {
  const std::string src = QEL_SOURCE_DIR;
  if (std::system(("git -C '" + src + "' rev-parse --git-dir >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "not a git checkout: no archive to make";
  TempDir t;
  const std::string d = t.path.string();
  ASSERT_EQ(std::system(("git -C '" + src + "' archive HEAD cmake | tar -x -C '" + d + "' && git -C '" +
                         src + "' rev-parse --short HEAD >'" + d + "/head' && cmake -DSRC='" + d +
                         "' -DOUT='" + d + "/rev.hpp' -P '" + d + "/cmake/revision.cmake'")
                            .c_str()),
            0);
  std::string head = slurp(t.path / "head");
  head.pop_back();
  EXPECT_EQ(slurp(t.path / "rev.hpp"), "#define QEL_REVISION \"" + head + "\"\n");
}

}  // namespace
}  // namespace qel::testing
