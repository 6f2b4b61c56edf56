#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <sstream>
#include <tuple>

#include "driver/namelist.hpp"
#include "files_testing.hpp"

using namespace qel;
namespace fs = std::filesystem;

namespace {

// The parameter record as 100 bit patterns: equal words are equal to the last bit.
std::array<std::uint64_t, 100> words(const Par& p) { return std::bit_cast<std::array<std::uint64_t, 100>>(p); }
double& member(Par& p, int k) { return p.*kParMembers[std::size_t(k)]; }

// Every member and the grid sizes in the record's tail set to distinct values.
const Par kBase = [] {
  Par p{};
  for (int k = 0; k < kNamelistSize; ++k) member(p, k) = 100.0 + k;
  p.fnr = p.fnz = 91.0;
  return p;
}();

const Par kUnit = [] {
  Par p{};
  p.RWID = p.HITE = p.STR = p.STZ = 1.0;
  return p;
}();

std::string written(const Par& p) {
  std::ostringstream out;
  write_namelist(out, p);
  return out.str();
}

// A working directory of its own for each test; `talk` runs the dialogue on
// `answers` and returns its console text, or the message of the qel::Stop
// with status 2 that ended it.
struct Dialogue : ::testing::Test {
  qel::testing::TempDir dir;
  const std::string input = dir.file("qel.input");
  std::unique_ptr<State> s = std::make_unique<State>();
  // A domain of unit size on a uniform grid, the least a valid record needs.
  Dialogue() {
    s->dirnam = dir.path.string();
    s->par = kUnit;
  }
  long files_in_dir() const { return std::distance(fs::directory_iterator(dir.path), {}); }
  std::string talk(int iread, const std::string& answers) {
    std::istringstream in(answers);
    std::ostringstream out;
    ListReader rd(in, "standard input");
    try { change(*s, iread, rd, out); } catch (const Stop& e) { return e.status == 2 ? e.what() : "status 2 wanted"; }
    return out.str();
  }
};

}  // namespace

TEST_F(Dialogue, WrittenGroupReadsBackToTheLastBitAndAnyFormChangesOnlyTheNamedMembers) {
  // Signed zeros and infinities, both ends of the range, NaN, decade edges.
  const double values[] = {0.0, 1e-2, 0.5, 1.0 / 3.0, -0.0, -HUGE_VAL, 4.9406564584124654e-324, 1.7976931348623157e308,
                           NAN, HUGE_VAL, 0.1, 1e17, std::nextafter(1e17, 0.0), -1e-300, 9.999999974752427e-7};
  Par p = kBase;
  // Scaled copies fill the rest (no scaling of the subnormal: it would flush to zero).
  for (int k = 0; k < kNamelistSize; ++k) member(p, k) = k < 15 ? values[k] : values[k % 15] * (1 + k / 15);
  // (The layout of the written group is in every run's transcript: the output digests.)
  const std::string text = written(p);

  Par want = kBase;
  want.DT = 1.5e-3;
  want.CFL = 0.5;
  // Read into a record whose members all differ beforehand (its tail must
  // stay): the written group, then mixed case, d exponents, several lines,
  // text and other groups before the group, closings next to a value, and a
  // later assignment of a member winning.
  const std::pair<std::string, const Par&> reads[] = {
      {text, p}, {" $f dt=9, dt=1.5d-3, Cfl=0.5 $end\n", want}, {"$F DT=1.5e-3 CFL=.5/\n", want},
      {"&f\n  cfl = 5D-1 ,\n\n   dT\n =\n  15E-4\n&End\n", want}, {"&F cfl=0.5,dt=1.5e-3$end\n", want},
      {"any text\n &FOO dt=9 /\n see below: $F dt=1.5e-3 cfl=0.5 /\n", want}};
  for (const auto& [group, result] : reads) {
    s->par = kBase;
    std::istringstream in(group);
    ListReader rd(in, "the group");
    read_namelist(rd, s->par);
    EXPECT_EQ(words(s->par), words(result)) << group;
  }
}

TEST_F(Dialogue, AnswerOneEditsAnswerTwoRewritesTheFileAndAnswerZeroReturnsAtOnce) {
  const std::string file = "parameters of the test run\n $f dtmax=0.5 rwid=1 hite=1 str=1 stz=1 $end\n";
  qel::testing::put(input, file);
  fs::permissions(input, fs::perms(0640));
  Par edited = kUnit;
  edited.DTMAX = 0.5;
  edited.CFL = 0.4;
  // Each statement ends with its line: the 2 after $end is not read (it
  // would ask for a group), and the final 0 ends the dialogue after a second
  // listing, before the end of input.
  const std::string said = talk(1, "1\n $f cfl=0.4 $end 2\n0\n");
  EXPECT_EQ(std::ranges::count(said, '&'), 2) << said;
  EXPECT_EQ(words(s->par), words(edited));
  EXPECT_EQ(qel::testing::slurp(input), file);
  // A restart does not read the file; answer 2 writes the state as edited,
  // through a temporary file that keeps the mode and leaves no trace.
  talk(0, "2\n$f rwid=3 hite=2 $end\n2\n$f rwid=4, str=0.5 $end\n0\n");
  EXPECT_TRUE(s->par.CFL == 0.4 && s->par.RWID == 4.0 && s->par.HITE == 2.0 && s->par.STR == 0.5);
  EXPECT_EQ(qel::testing::slurp(input), written(s->par));
  EXPECT_EQ(files_in_dir(), 1);
  EXPECT_EQ(fs::status(input).permissions() & fs::perms::all, fs::perms(0640));
}

TEST_F(Dialogue, FaultsStopWithSourceLineAndTextAndChangeNothing) {
  // Faults of the group (a restart reads it from standard input after answer
  // 1 or 2), answers that are not integers, the end of input at a prompt; a
  // fresh start without its parameter file (none is created).
  const std::tuple<int, std::string, std::string> cases[] = {
      {0, "1\n&F\n dt=1,\n dtt=2 /\n", "standard input, line 4: unknown name \"dtt\" in group F; the names are TIME, DT,"},
      {0, "2\n$f dt=abc $end\n", "standard input, line 2: expected a real constant for dt, found \"abc\""},
      {0, "1\n$f dt=1e999 $end\n", "within the range of a double for dt, found \"1e999\""},
      {0, "1\n$f dt=, cfl=1 $end\n", "for dt, found \",\""},
      {0, "1\n$f dt 1 $end\n", "expected = after dt, found \"1\""},
      {0, "1\n$f dt=1 = 2 $end\n", "found \"=\""},
      {0, "1\n$f dt=1 $stop\n", "to close group F, found \"$stop\""},
      {0, "1\n$f dt=1,\n cfl=2\n", "standard input: end of input after line 3 inside group F"},
      {0, "1\ndt=1 /\n&FX dt=2 /\n", "standard input holds no group F"},
      {0, "yes\n", "standard input, line 1: expected the answer 2, 1 or 0 (an integer), found \"yes\""},
      {0, "", "standard input: end of input"},
      {1, "0\n", "cannot open parameter file " + input + ": No such file"},
  };
  for (const auto& [iread, answers, part] : cases) {
    EXPECT_NE(talk(iread, answers).find(part), std::string::npos) << part << " in: " << talk(iread, answers);
    EXPECT_EQ(words(s->par), words(kUnit)) << answers;
  }
  EXPECT_EQ(files_in_dir(), 0);
  qel::testing::put(input, "");
  EXPECT_EQ(talk(1, "0\n"), input + " holds no group F: end of input before $F or &F");
  // A failed rewrite names the file and the reason and leaves nothing beside the old file.
  fs::remove(input);
  fs::create_directory(input);
  EXPECT_EQ(talk(0, "2\n$f dt=1 $end\n"), "cannot write " + input + ": it is a directory");
  EXPECT_EQ(files_in_dir(), 1);
}
