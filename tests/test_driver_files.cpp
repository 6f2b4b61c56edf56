// Stamps, the dump schedule, the dump record and its checks, and the
// reductions of the diagnostic line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "driver/diagnostics.hpp"
#include "driver/files.hpp"
#include "files_testing.hpp"
#include "grid/grid.hpp"

using namespace qel;
using namespace qel::testing;

// Stamps and the dump test stay exact where a 32-bit count would overflow.
TEST(StampsAndSchedule, NeitherOverflowsNorDumpsForAMeaninglessInterval) {
  EXPECT_EQ(dump_stamp(3e7), 30000000000);
  // Saturated at the largest multiple of 10, not wrapped.
  EXPECT_EQ(dump_stamp(1e300), std::numeric_limits<std::int64_t>::max() / 10 * 10);
  EXPECT_EQ(dump_stamp(NAN), 0);
  EXPECT_TRUE(dump_crossed(1e10, 1e10 + 1.0, 1.0));
  for (double t : {0.0, -1.0, double(NAN), HUGE_VAL}) EXPECT_FALSE(dump_crossed(0.5, 7.5, t)) << t;
}

// The order and framing of the record written are in every dump of the
// output digests; here records of a foreign framing, refused by name without
// touching the state or the file.
TEST(DumpRecord, RefusesForeignFramingWithoutTouchingTheStateOrTheFile) {
  TempDir dir;
  const std::string name = dir.file("qel000500.dat");
  auto s = std::make_unique<State>();
  write_dump(*s, name);
  // Written through a temporary file: nothing else is left in the directory.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
  const std::string good = slurp(name);
  ASSERT_TRUE(good.size() == 532248u && good.starts_with(std::string("\x10\x1f\x08\x00", 4)));
  const std::pair<std::string, std::string> cases[] = {
      {"", "holds 0 bytes"}, {good.substr(0, 1000), "holds 1000 bytes"},
      {good + "x", "holds 532249 bytes"}, {"&F\n TIME=0.0,\n /\n", "leading length marker is"},
      {std::string("\0\x08\x1f\x10", 4) + good.substr(4), "big-endian"},
      {good.substr(0, 532244) + std::string("\x11\x1f\x08\0", 4), "trailing length marker"}};
  for (const auto& [bytes, found] : cases) {
    put(name, bytes);
    s->par.TIME = -7.0;
    try {
      read_dump(*s, name);
      ADD_FAILURE() << found << ": accepted";
    } catch (const Stop& e) {
      EXPECT_EQ(e.status, 2);
      EXPECT_NE(std::string(e.what()).find(name + " is not a dump"), std::string::npos);
      EXPECT_NE(std::string(e.what()).find(found), std::string::npos) << e.what();
    }
    EXPECT_EQ(s->par.TIME, -7.0) << found;  // nothing read
    EXPECT_EQ(slurp(name), bytes) << found;
  }
}

// Dumps and rewritten files are replaced as one step through a temporary
// beside them: a dump written over an earlier one keeps that file's
// permissions, one under a fresh name gets those of a new file (0666 less
// the umask), a symbolic link under a dump's name is replaced itself (the
// file it pointed to is left alone), while replace_file rewrites a link's
// target and keeps its mode; a failed write (a directory under the name)
// leaves the directory as it was.
TEST(AtomicWrite, ReplacesWholeKeepingPermissionsAndLeavesNothingOnFailure) {
  TempDir dir;
  auto s = std::make_unique<State>();
  s->fields.b.fill(0.25);
  const mode_t old_mask = ::umask(027);
  const std::string kept = dir.file("qel000100.dat"), fresh = dir.file("qel000200.dat");
  put(kept, "an earlier dump");
  ::chmod(kept.c_str(), 0604);
  write_dump(*s, kept);
  write_dump(*s, fresh);
  put(dir.file("elsewhere"), "not a dump");
  std::filesystem::create_symlink("elsewhere", dir.file("qel000300.dat"));
  write_dump(*s, dir.file("qel000300.dat"));
  put(dir.file("input.real"), "old");
  ::chmod(dir.file("input.real").c_str(), 0460);
  std::filesystem::create_symlink("input.real", dir.file("qel.input"));
  replace_file(dir.file("qel.input"), "new text");
  ::umask(old_mask);
  const auto mode = [&](const std::string& name) {
    struct stat st {};
    ::lstat(dir.file(name).c_str(), &st);
    return std::pair(st.st_mode & S_IFMT, st.st_mode & 07777);
  };
  EXPECT_EQ(mode("qel000100.dat"), std::pair(mode_t(S_IFREG), mode_t(0604)));
  EXPECT_EQ(mode("qel000200.dat"), std::pair(mode_t(S_IFREG), mode_t(0640)));
  EXPECT_EQ(mode("qel000300.dat"), std::pair(mode_t(S_IFREG), mode_t(0640)));
  EXPECT_EQ(mode("input.real"), std::pair(mode_t(S_IFREG), mode_t(0460)));
  EXPECT_EQ(mode("qel.input").first, mode_t(S_IFLNK));
  EXPECT_EQ(slurp(dir.file("elsewhere")), "not a dump");
  EXPECT_EQ(slurp(dir.file("input.real")), "new text");
  for (const char* name : {"qel000100.dat", "qel000200.dat", "qel000300.dat"})
    EXPECT_EQ(slurp(dir.file(name)).size(), kDumpFileSize) << name;

  std::filesystem::create_directory(dir.file("qel000400.dat"));
  const auto before = snapshot(dir.path);
  try {
    write_dump(*s, dir.file("qel000400.dat"));
    ADD_FAILURE() << "a dump replaced a directory";
  } catch (const Stop& e) {
    EXPECT_EQ(e.status, 2);
    EXPECT_EQ(std::string(e.what()), "cannot write dump file " + dir.file("qel000400.dat") + ": Is a directory");
  }
  EXPECT_EQ(snapshot(dir.path), before);
}

// rmax and rmin are signed, start from the first value and take a later equal
// one, so the last of several equal extremes wins (visible in the sign of
// zero) and a NaN counts only where the search starts. rmp reads the 90 x 90
// cell values over psi relative to p(90, 1).
TEST(Reductions, ExtremesAreSignedAndTheDeficitIsRelativeToTheOuterBottomCell) {
  auto s = std::make_unique<State>();
  Field& f = s->fields.psi;
  f.fill(-3.0);
  f(40, 60) = -5.0;
  EXPECT_EQ(std::pair(rmax(f), rmin(f)), std::pair(-3.0, -5.0));
  f.fill(0.0);
  f(91, 91) = -0.0;
  EXPECT_TRUE(std::signbit(rmax(f)) && std::signbit(rmin(f)));
  f.fill(1.0);
  f(2, 1) = NAN;
  EXPECT_EQ(std::pair(rmax(f), rmin(f)), std::pair(1.0, 1.0));
  f(1, 1) = NAN;
  EXPECT_TRUE(std::isnan(rmax(f)));

  f.fill(3.75);
  f(91, 91) = -100.0;  // beyond the 8100 cell values: ignored
  EXPECT_EQ(rmp(s->fields.p()), 0.0);
  CellView p = s->fields.p();
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) p(k, l) = k + 100.0 * l;
  EXPECT_EQ(rmp(p), (1.0 + 100.0) - (90.0 + 100.0));
}

TEST(Reductions, ColumnPressureContrastOfSimpleBuoyancy) {
  auto s = std::make_unique<State>();
  s->par.RWID = 2.0;
  s->par.HITE = 1.5;
  s->par.STR = s->par.STZ = 0.7;
  maketrans(*s);
  const Array1<NR>& r = s->basic.r;
  const int ilo = band_low(r), ihi = band_high(r);
  // The band: the last radius <= 0.5 and the first >= 1.
  EXPECT_TRUE(r(ilo) <= 0.5 && r(ilo + 1) > 0.5 && r(ihi) >= 1.0 && r(ihi - 1) < 1.0);
  EXPECT_EQ(bpres(*s, ilo, ihi), 0.0);
  // b = 1: every column integrates to -HITE. Each sum is 90 terms of a couple
  // of roundings each on values no larger than HITE: 4 ulps of HITE per term.
  const double tol = 90 * 4 * std::numeric_limits<double>::epsilon() * 1.5;
  s->fields.b.fill(1.0);
  EXPECT_NEAR(bpres(*s, ilo, ihi), 0.0, 2 * tol);
  for (int i = 1; i <= NR; ++i) EXPECT_NEAR(s->phyd(i), -1.5, tol);
  // b = r: phyd = -HITE r is linear in r, so the trapezoidal mean over the
  // band is exact and the contrast is HITE (r(ilo) + r(ihi)) / 2. Twice the
  // terms (90 in z, 90 in r) on values up to twice as large (HITE RWID).
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s->fields.b(i, j) = r(i);
  EXPECT_NEAR(bpres(*s, ilo, ihi), 1.5 * (r(ilo) + r(ihi)) / 2.0, 2 * 2 * tol);
  // A domain no wider than 0.5 has no band (0/0); a NaN width leaves no
  // radius <= 0.5 at all: the band is undefined and no value is read outside it.
  for (const double width : {0.5, double(NAN)}) {
    s->par.RWID = width;
    maketrans(*s);
    EXPECT_TRUE(std::isnan(bpres(*s, band_low(r), band_high(r)))) << width;
  }
}
