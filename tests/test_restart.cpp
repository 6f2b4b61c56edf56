// Runs that are never lost and continue exactly: a fresh start leaves an
// earlier run alone, the final state is dumped, a restart says where
// qel.input disagrees with its dump, and a run split at its dumps writes
// the same bytes as the run that went through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "tool_testing.hpp"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;
constexpr auto npos = std::string::npos;

// The thermal example with its initial state qel000000.dat from qeltool
// init (`edits` applied to both); the plume example starts fresh.
std::string experiment_of(const TempDir& root, const std::string& sub, const std::string& example,
                          const Args& edits = {}) {
  const std::string dir = experiment(root, sub, example);
  Args init = {"init", dir, "0", "thermal", "amplitude=0.5", "z0=0.4", "radius=0.15"};
  init.insert(init.end(), edits.begin(), edits.end());
  if (example == "thermal") {
    EXPECT_EQ(call(init).status, 0);
  }
  return dir;
}

std::string stamp_of(const std::string& dump) { return dump.substr(3, dump.size() - 7); }

TEST(Runs, EndWithTheirFinalStateDumpedAndAFreshStartNeverOverwritesThem) {
  TempDir root;
  const std::string dir = experiment_of(root, "exp", "thermal");
  const Result r = run_to(dir, "0", "0.33", "0.5", "0.1");
  ASSERT_EQ(r.status, 0) << r.err;
  // The dump it started from, kept, and the final one with its companion:
  // the stop time was never a dump time.
  const auto d = dumps(dir);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_GE(std::stod(stamp_of(d[1])), 330.0);
  EXPECT_NE(r.out.rfind("will write dump file " + dir + "/" + d[1]), npos);
  EXPECT_NE(r.err.find("1 dump written"), npos) << r.err;
  EXPECT_TRUE(fs::exists(fs::path(dir) / ("qel" + stamp_of(d[1]) + ".lev")));
  // A fresh start in the directory is refused and touches nothing.
  const auto before = snapshot(dir);
  const Result fresh = run_to(dir, "", "0.05", "0.05", "0.02");
  EXPECT_EQ(fresh.status, 2);
  for (const std::string& part : {std::string("holds an earlier run (qel.hist with"),
                                  "dumps qel000000.dat ... " + d[1], std::string("another directory")})
    EXPECT_NE(fresh.err.find(part), npos) << fresh.err;
  EXPECT_EQ(snapshot(dir), before);
  EXPECT_EQ(run_to(dir, stamp_of(d[1]), "0.4", "0.5", "0.1").status, 0);
  // A history holding only its header is no run: the fresh start goes ahead.
  const std::string empty = experiment(root, "new", "plume");
  EXPECT_EQ(run_to(empty, "", "0.05", "1", "1").status, 0);
  for (const char* f : {"qel000000.dat", "qel000050.dat"}) fs::remove(fs::path(empty) / f);
  fs::resize_file(fs::path(empty) / "qel.hist", 0);
  EXPECT_EQ(run_to(empty, "", "0.05", "1", "1").status, 0);
}

TEST(Restart, ListsTheParametersOfQelInputThatDifferFromTheDumpAndWarnsOfDiff) {
  TempDir root;
  const std::string dir = experiment_of(root, "exp", "thermal", {"DIFF=0.14"});
  std::string input = slurp(fs::path(dir) / "qel.input");
  input.replace(input.find("SWIRL = 0,"), 10, "SWIRL = 7.0,");
  input.replace(input.find("REI = 1.0e-3"), 12, "REI = 2.0e-3");
  put(fs::path(dir) / "qel.input", input);
  // A diffusion number beyond the stability limit is warned of once; one
  // just within it not at all.
  const Result r = run_to(dir, "0", "0.02", "1", "1", {"DIFF=0.14"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* part : {"runs with the dump's values unless they are edited", "  REI = ",
                           "  SWIRL = 0.0000000000000000 in the dump, 7.0000000000000000 in qel.input\n"})
    EXPECT_NE(r.err.find(part), npos) << r.err;
  EXPECT_EQ(r.err.find("TIME ="), npos) << r.err;
  const auto at = r.err.find("warning: DIFF = 0.14");
  ASSERT_NE(at, npos) << r.err;
  EXPECT_EQ(r.err.find("warning", at + 1), npos);
  EXPECT_EQ(run_to(dir, "0", "0.02", "1", "1", {"DIFF=0.136"}).err.find("warning"), npos);
  // Without a readable qel.input the restart goes on after a one-line note.
  fs::remove(fs::path(dir) / "qel.input");
  fs::create_directory(fs::path(dir) / "qel.input");
  const Result again = run_to(dir, "0", "0.02", "1", "1");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("note: qel.input not compared with the dump"), npos) << again.err;
}

// A run split at one dump, and at two successive ones, against the run that
// went through: every dump both wrote and the whole history byte for byte;
// the vorticity core at both advection forms, both cores with both
// elliptic paths.
TEST(Restart, SplitRunsEqualTheRunThatWentThrough) {
  const std::vector<std::pair<std::string, Args>> cases = {
      {"thermal", {"ORDER=3", "PIT=0"}}, {"thermal", {"ORDER=-1", "PIT=0"}}, {"thermal", {"ORDER=3", "PIT=20"}},
      {"thermal", {"ORDER=-1", "PIT=20"}}, {"plume", {"PIT=0"}}, {"plume", {"PIT=20"}}};
  for (const auto& [example, edits] : cases) {
    TempDir root;
    const bool thermal = example == "thermal";
    const std::string start = thermal ? "0" : "", until = thermal ? "0.5" : "0.6", diag = thermal ? "0.03" : "0.07";
    const std::string through = experiment_of(root, "through", example, edits);
    ASSERT_EQ(run_to(through, start, until, "0.1", diag, edits).status, 0);
    const auto all = dumps(through);
    ASSERT_GE(all.size(), 4u);
    for (int splits : {1, 2}) {
      SCOPED_TRACE(example + " " + edits.back() + " split " + std::to_string(splits) + " times");
      const std::string dir = experiment_of(root, "split" + std::to_string(splits), example, edits);
      std::string from = start;
      for (int k = 1; k <= splits; from = stamp_of(all[k++]))  // stop at dump k, restart from it
        ASSERT_EQ(run_to(dir, from, std::to_string(std::stod(stamp_of(all[k])) / 1000.0), "0.1", diag, edits).status, 0);
      const Result r = run_to(dir, from, until, "0.1", diag, edits);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err.find("exactly"), npos) << r.err;
      for (const std::string& d : all) EXPECT_EQ(slurp(fs::path(dir) / d), slurp(fs::path(through) / d)) << d;
      EXPECT_EQ(slurp(fs::path(dir) / "qel.hist"), slurp(fs::path(through) / "qel.hist"));
    }
  }
}

TEST(Restart, ABranchStartsItsHistoryAndACompanionNotMatchingItsDumpIsSetAside) {
  TempDir root;
  const std::string dir = experiment_of(root, "exp", "thermal");
  ASSERT_EQ(run_to(dir, "0", "0.3", "0.1", "0.05").status, 0);
  const fs::path branch = root.path / "branch";
  fs::create_directory(branch);
  for (const char* f : {"qel000100.dat", "qel000100.lev"}) fs::copy_file(fs::path(dir) / f, branch / f);
  const Result r = run_to(branch.string(), "100", "0.3", "0.1", "0.05");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("qel.hist did not exist: started it with the parameter header"), npos) << r.err;
  // A header and the diagnostic lines of the branch, which continued
  // exactly: the original's last lines.
  const std::string hist = slurp(branch / "qel.hist");
  const auto lines = std::count(hist.begin(), hist.end(), '\n');
  ASSERT_GT(lines, 100);
  EXPECT_TRUE(slurp(fs::path(dir) / "qel.hist").ends_with(hist.substr(hist.size() - std::size_t(lines - 100) * 78)));
  // A damaged companion, one of another dump and one of the other core:
  // each said, and the run goes on from the dump alone.
  const fs::path lev = fs::path(dir) / "qel000200.lev";
  const std::string kept = slurp(lev), flipped = std::string(kept).replace(100, 1, 1, char(kept[100] ^ 1));
  const std::vector<std::tuple<std::string, Args, std::string>> cases = {
      {flipped, {}, "cannot continue the run exactly: " + lev.string() + " is damaged"},
      {slurp(fs::path(dir) / "qel000100.lev"), {}, "cannot continue the run exactly: " + lev.string() +
                                                       " belongs to another dump"},
      {kept, {"USEPRIM=1", "PIT=20"}, "holds the tendencies of the vorticity core, and this run uses another"}};
  for (const auto& [companion, edits, message] : cases) {
    put(lev, companion);
    const Result c = run_to(dir, "200", "0.21", "1", "1", edits);
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_NE(c.err.find(message), npos) << c.err;
  }
}

// A build from `git archive` knows its revision: the archive's
// cmake/archive-revision.txt holds the commit, which revision.cmake reads.
TEST(Revision, ASourceArchiveKnowsItsCommit) {
  const std::string src = QEL_SOURCE_DIR;
  if (std::system(("git -C '" + src + "' rev-parse --git-dir >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "not a git checkout: no archive to make";
  TempDir t;
  const std::string d = t.path.string(), git = "git -C '" + src + "' ";
  ASSERT_EQ(std::system((git + "archive HEAD cmake | tar -x -C '" + d + "' && " + git + "rev-parse --short HEAD >'" +
                         d + "/head' && cmake -DSRC='" + d + "' -DOUT='" + d + "/rev.hpp' -P '" + d +
                         "/cmake/revision.cmake'").c_str()), 0);
  const std::string head = slurp(t.path / "head");
  EXPECT_EQ(slurp(t.path / "rev.hpp"), "#define QEL_REVISION \"" + head.substr(0, head.size() - 1) + "\"\n");
}

}  // namespace
}  // namespace qel::testing
