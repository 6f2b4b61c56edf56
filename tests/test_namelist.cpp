#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "driver/namelist.hpp"

using namespace qel;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

double& member(Par& p, int k) { return p.*kParMembers[std::size_t(k)]; }

// Every member and the record's tail set to distinct values.
Par distinct_par() {
  Par p{};
  for (int k = 0; k < kNamelistSize; ++k) member(p, k) = 100.0 + k;
  for (double& x : p.pspare) x = -1.0;
  p.fnr = p.fnz = 91.0;
  return p;
}

// Bitwise equality of the whole parameter record, NaNs compared as NaNs.
void expect_same(const Par& a, const Par& b) {
  const double* x = &a.TIME;
  const double* y = &b.TIME;
  for (int k = 0; k < 100; ++k) {
    if (std::isnan(x[k]) && std::isnan(y[k])) continue;
    EXPECT_EQ(bits(x[k]), bits(y[k])) << "member " << k + 1;
  }
}

Par read_from(const std::string& text, Par p) {
  std::istringstream in(text);
  ListReader rd(in, "standard input");
  read_namelist(rd, p);
  return p;
}

// The message of the status-2 qel::Stop that `body` must raise.
template <class F>
std::string stop_message(F body) {
  try {
    body();
  } catch (const Stop& e) {
    EXPECT_EQ(e.status, 2);
    return e.what();
  }
  ADD_FAILURE() << "no qel::Stop";
  return "";
}

void expect_contains(const std::string& m, std::initializer_list<std::string> parts) {
  for (const auto& p : parts) EXPECT_NE(m.find(p), std::string::npos) << "'" << p << "' in: " << m;
}

}  // namespace

TEST(NamelistOutput, GroupHasOneLinePerMemberInGroupOrder) {
  Par p{};
  p.DT = 1e-2;
  p.DTMAX = 0.5;
  p.EXTRA4 = -kInf;
  std::ostringstream out;
  write_namelist(out, p);
  const std::string s = out.str();
  const std::string head =
      "&F\n"
      " TIME=  0.0000000000000000     ,\n"
      " DT=  1.0000000000000000E-002,\n"
      " DTMAX= 0.50000000000000000     ,\n";
  EXPECT_EQ(s.substr(0, head.size()), head);
  const std::string tail = " EXTRA4=                -Infinity,\n /\n";
  EXPECT_EQ(s.substr(s.size() - tail.size()), tail);
  EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), kNamelistSize + 2);
}

TEST(NamelistInput, WrittenGroupReadsBackEveryMemberToTheLastBit) {
  const double values[] = {1.0 / 3.0, -0.0, 1e-300, std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::max(), kNaN, kInf, -kInf, 0.1, 1e17,
                           std::nextafter(1e17, 0.0), -2.5, 9.999999974752427e-7};
  Par p = distinct_par();
  for (int k = 0; k < kNamelistSize; ++k)
    member(p, k) = values[std::size_t(k) % std::size(values)] * (1 + k / int(std::size(values)));
  std::ostringstream out;
  write_namelist(out, p);
  // Every member of the target differs beforehand; the record's tail stays.
  expect_same(read_from(out.str(), distinct_par()), p);
}

TEST(NamelistInput, AllGroupFormsChangeOnlyTheNamedMembers) {
  const Par base = distinct_par();

  Par want = base;
  want.DT = 1.5e-3;
  want.CFL = 0.5;
  expect_same(read_from(" $f dt=1.5d-3, Cfl=0.5 $end\n", base), want);
  expect_same(read_from("$F DT=1.5e-3 CFL=.5/\n", base), want);
  expect_same(read_from("&f\n  cfl = 5D-1 ,\n\n   dT\n =\n  15E-4\n&End\n", base), want);
  expect_same(read_from("&F CFL=0.5 DT=1.5e-3 &END\n", base), want);
  expect_same(read_from("&F cfl=0.5,dt=1.5e-3$end\n", base), want);

  // Text before the group, including other groups' openings, is skipped.
  expect_same(read_from("any text\n &FOO dt=9 /\n see below: $F dt=1.5e-3 cfl=0.5 /\n", base),
              want);

  // Only dt, in any case; a later assignment of a member wins.
  Par dt_only = base;
  dt_only.DT = 2.0;
  expect_same(read_from("$f dt=1 DT=2 $end\n", base), dt_only);
  expect_same(read_from("&F /\n", base), base);

}

TEST(NamelistInput, FaultyGroupsStopWithSourceLineAndTextAndChangeNothing) {
  const Par base = distinct_par();
  Par p = base;
  auto fails = [&](const std::string& text, const std::string& source = "qel.input") {
    std::istringstream in(text);
    ListReader rd(in, source);
    return stop_message([&] { read_namelist(rd, p); });
  };
  expect_contains(fails("&F\n dt=1,\n dtt=2 /\n"),
                  {"qel.input, line 3", "\"dtt\"", "TIME, DT, DTMAX, CFL", "EXTRA3, EXTRA4"});
  expect_contains(fails("$f dt=abc $end\n"), {"line 1", "real constant for dt", "\"abc\""});
  expect_contains(fails("$f dt=1e999 $end\n"), {"\"1e999\""});
  expect_contains(fails("$f dt=, cfl=1 $end\n"), {"for dt, found \",\""});
  expect_contains(fails("$f dt 1 $end\n"), {"expected = after dt"});
  expect_contains(fails("$f dt=1 = 2 $end\n"), {"\"="});
  expect_contains(fails("$f dt=1 $stop\n"), {"\"$stop\""});
  expect_contains(fails("$f dt=1,\n cfl=2\n"), {"end of input after line 2 inside group F"});
  expect_contains(fails("$f dt=\n"), {"inside group F"});
  EXPECT_EQ(fails(""), "qel.input holds no group F: end of input before $F or &F");
  expect_contains(fails("dt=1 /\n&FX dt=2 /\n", "standard input"), {"standard input holds no group F"});
  expect_same(p, base);
}

namespace {

namespace fs = std::filesystem;

// The console text of one round of the dialogue showing `p`.
std::string shown(const Par& p) {
  std::ostringstream out;
  out << "  current parameters are:\n";
  write_namelist(out, p);
  return out.str() +
         "  do you want to change any parameters?\n"
         "  for 'yes, and rewrite qel.input': 2 , 'yes, but do not rewrite qel.input:' 1, 'no:' 0\n";
}
const std::string kEnter = "  enter changes with: (space)$f example=1.0, etc=2. $end\n";

std::string slurp(const fs::path& f) {
  std::ifstream in(f, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A working directory of its own for each test, removed afterwards.
class Dialogue : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qel_dialogue_" + std::to_string(getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    s_ = std::make_unique<State>();
    s_->dirnam = dir_.string() + "   ";  // typed names carry trailing blanks
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path input() const { return dir_ / "qel.input"; }
  void write_input(const std::string& text) { std::ofstream(input()) << text; }
  int files_in_dir() const {
    return int(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  // Runs the dialogue on `answers`, returns the console text; `rest` gets the
  // line that follows the dialogue.
  std::string talk(int iread, const std::string& answers, std::string* rest = nullptr) {
    std::istringstream in(answers);
    ListReader rd(in, "standard input");
    std::ostringstream out;
    change(*s_, iread, rd, out);
    if (rest) rd.getline(*rest);
    return out.str();
  }
  std::string fails(int iread, const std::string& answers) {
    return stop_message([&] { talk(iread, answers); });
  }

  fs::path dir_;
  std::unique_ptr<State> s_;
};

}  // namespace

TEST_F(Dialogue, AnswerZeroReturnsAtOnceAndAnswerOneLeavesTheFileAsItWas) {
  write_input("parameters of the test run\n $f DT=0.01 dtmax=0.5 $end\n");
  const std::string before = slurp(input());
  Par from_file{};
  from_file.DT = 0.01;
  from_file.DTMAX = 0.5;
  std::string rest;
  EXPECT_EQ(talk(1, "0\nnext line\n", &rest), shown(from_file));
  EXPECT_EQ(rest, "next line");
  expect_same(s_->par, from_file);

  // Each statement ends with its line: the text after $end is not read.
  Par edited = from_file;
  edited.CFL = 0.4;
  EXPECT_EQ(talk(1, "1\n $f cfl=0.4 $end 0\n0\n"), shown(from_file) + kEnter + shown(edited));
  expect_same(s_->par, edited);
  EXPECT_EQ(slurp(input()), before);
  EXPECT_EQ(files_in_dir(), 1);
}

TEST_F(Dialogue, AnswerTwoTwiceLeavesOnlyTheSecondSetInTheFile) {
  write_input("&F DT=0.01, RWID=1 /\n");
  fs::permissions(input(), fs::perms(0640));
  talk(1, "2\n$f rwid=3 hite=2 $end\n2\n$f rwid=4, str=0.5 $end\n0\n");
  EXPECT_EQ(s_->par.RWID, 4.0);
  std::ostringstream want;
  write_namelist(want, s_->par);
  EXPECT_EQ(slurp(input()), want.str());
  // Nothing is left beside the file, and it keeps its permissions.
  EXPECT_EQ(files_in_dir(), 1);
  EXPECT_EQ(fs::status(input()).permissions() & fs::perms::all, fs::perms(0640));

  // A restart does not read the file; answer 2 writes its state as edited.
  s_->par = Par{};
  s_->par.TIME = 12.5;
  talk(0, "2\n$f dt=1 $end\n0\n");
  Par restart{};
  restart.TIME = 12.5;
  restart.DT = 1.0;
  s_->par = Par{};
  talk(1, "0\n");
  expect_same(s_->par, restart);
}

TEST_F(Dialogue, MissingOrEmptyParameterFileStopsWithoutCreatingOne) {
  const std::string name = input().string();
  expect_contains(fails(1, "0\n"), {name + " holds no group F", "No such file"});
  EXPECT_FALSE(fs::exists(input()));
  talk(0, "0\n");
  EXPECT_FALSE(fs::exists(input()));
  write_input("");
  EXPECT_EQ(fails(1, "0\n"), name + " holds no group F: end of input before $F or &F");
  write_input("&F DT=1\n");
  expect_contains(fails(1, "0\n"), {name + ": end of input after line 1 inside group F"});
}

TEST_F(Dialogue, BadAnswersAndEndOfInputStopInsteadOfLooping) {
  expect_contains(fails(0, "yes\n"), {"standard input, line 1", "\"yes\""});
  expect_contains(fails(0, ""), {"standard input: end of input"});
  expect_contains(fails(0, "1\n$f dt=1 $end\n"), {"end of input after line 2"});
  expect_contains(fails(0, "2\n"), {"standard input holds no group F"});
  expect_contains(fails(0, "2\n$f dtx=1 $end\n0\n"), {"\"dtx\""});
  EXPECT_FALSE(fs::exists(input()));
}

TEST_F(Dialogue, FailedRewriteNamesTheFileAndKeepsThePreviousOne) {
  // The target is a directory: the rename fails after the temporary file was
  // written, which must then be removed.
  fs::create_directory(input());
  EXPECT_EQ(fails(0, "2\n$f dt=1 $end\n"), "cannot write " + input().string() + ": Is a directory");
  EXPECT_TRUE(fs::is_directory(input()));
  EXPECT_EQ(files_in_dir(), 1);

  s_->dirnam = (dir_ / "absent").string();
  EXPECT_EQ(fails(0, "2\n$f dt=1 $end\n"),
            "cannot write " + (dir_ / "absent" / "qel.input").string() + ": No such file or directory");
}
