#include <gtest/gtest.h>

#include <cctype>
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

std::string stop_message(const std::string& text, Par& p, const std::string& source = "qel.input") {
  std::istringstream in(text);
  ListReader rd(in, source);
  try {
    read_namelist(rd, p);
  } catch (const Stop& e) {
    EXPECT_EQ(e.status, 2);
    return e.what();
  }
  ADD_FAILURE() << "no qel::Stop for: " << text;
  return "";
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
  std::istringstream lines(s);
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    if (n >= 1 && n <= kNamelistSize) {
      const std::string name(kParNames[std::size_t(n - 1)]);
      EXPECT_EQ(line.substr(0, name.size() + 2), " " + name + "=");
      EXPECT_EQ(line.size(), name.size() + 2 + 25 + 1) << line;
      EXPECT_EQ(line.back(), ',');
    }
    ++n;
  }
  EXPECT_EQ(n, kNamelistSize + 2);
}

TEST(NamelistInput, WrittenGroupReadsBackEveryMemberToTheLastBit) {
  const double values[] = {1.0 / 3.0, -0.0, 1e-300, std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::max(), kNaN, kInf, -kInf, 0.1, 1e17,
                           std::nextafter(1e17, 0.0), -2.5, 9.999999974752427e-7, 3.1415927410125732};
  Par p = distinct_par();
  for (int k = 0; k < kNamelistSize; ++k) {
    const std::size_t v = std::size_t(k) % std::size(values);
    member(p, k) = values[v] * (k < int(std::size(values)) ? 1.0 : 7.0);
  }
  std::ostringstream out;
  write_namelist(out, p);

  Par q{};  // all members differ from p, tail too: only members 1-36 come back
  for (int k = 0; k < kNamelistSize; ++k) member(q, k) = 55.0;
  Par r = read_from(out.str(), q);
  for (int k = 0; k < kNamelistSize; ++k) {
    if (std::isnan(member(p, k)))
      EXPECT_TRUE(std::isnan(member(r, k))) << kParNames[std::size_t(k)];
    else
      EXPECT_EQ(bits(member(r, k)), bits(member(p, k))) << kParNames[std::size_t(k)];
  }
  for (double x : r.pspare) EXPECT_EQ(x, 0.0);
  EXPECT_EQ(r.fnr, 0.0);
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

  // Every name in any letter case.
  std::string all = "&f\n";
  Par every = base;
  for (int k = 0; k < kNamelistSize; ++k) {
    std::string name(kParNames[std::size_t(k)]);
    for (std::size_t c = 0; c < name.size(); c += 2) name[c] = char(std::tolower(name[c]));
    all += " " + name + "=-" + std::to_string(k) + ",\n";
    member(every, k) = -double(k);
  }
  expect_same(read_from(all + "/\n", base), every);
}

TEST(NamelistInput, ReadingStopsAtTheEndOfTheGroupLine) {
  std::istringstream in("$f dt=1 $end  trailing text\n0\n");
  ListReader rd(in, "standard input");
  Par p{};
  read_namelist(rd, p);
  EXPECT_EQ(p.DT, 1.0);
  EXPECT_EQ(read_integer(rd, "the answer"), 0);
}

TEST(NamelistInput, FaultyGroupsStopWithSourceLineAndTextAndChangeNothing) {
  const Par base = distinct_par();
  Par p = base;

  std::string m = stop_message("&F\n dt=1,\n dtt=2 /\n", p);
  EXPECT_NE(m.find("qel.input, line 3"), std::string::npos) << m;
  EXPECT_NE(m.find("\"dtt\""), std::string::npos) << m;
  EXPECT_NE(m.find("TIME, DT, DTMAX, CFL"), std::string::npos) << m;
  EXPECT_NE(m.find("EXTRA3, EXTRA4"), std::string::npos) << m;

  m = stop_message("$f dt=abc $end\n", p);
  EXPECT_NE(m.find("line 1"), std::string::npos) << m;
  EXPECT_NE(m.find("\"abc\""), std::string::npos) << m;
  EXPECT_NE(m.find("real constant"), std::string::npos) << m;
  m = stop_message("$f dt=1e999 $end\n", p);
  EXPECT_NE(m.find("\"1e999\""), std::string::npos) << m;
  m = stop_message("$f dt=, cfl=1 $end\n", p);
  EXPECT_NE(m.find("for dt, found \",\""), std::string::npos) << m;
  m = stop_message("$f dt 1 $end\n", p);
  EXPECT_NE(m.find("expected = after dt"), std::string::npos) << m;
  m = stop_message("$f dt=1 = 2 $end\n", p);
  EXPECT_NE(m.find("\"="), std::string::npos) << m;
  m = stop_message("$f dt=1 $stop\n", p);
  EXPECT_NE(m.find("\"$stop\""), std::string::npos) << m;

  // End of input inside the group and before it.
  m = stop_message("$f dt=1,\n cfl=2\n", p);
  EXPECT_NE(m.find("end of input after line 2 inside group F"), std::string::npos) << m;
  m = stop_message("$f dt=\n", p);
  EXPECT_NE(m.find("inside group F"), std::string::npos) << m;
  m = stop_message("", p);
  EXPECT_EQ(m, "qel.input holds no group F: end of input before $F or &F");
  m = stop_message("dt=1 /\n&FX dt=2 /\n", p, "standard input");
  EXPECT_NE(m.find("standard input holds no group F"), std::string::npos) << m;

  expect_same(p, base);
}

namespace {

namespace fs = std::filesystem;

const std::string kPrompt =
    "  do you want to change any parameters?\n"
    "  for 'yes, and rewrite qel.input': 2 , 'yes, but do not rewrite qel.input:' 1, 'no:' 0\n";
const std::string kEnter = "  enter changes with: (space)$f example=1.0, etc=2. $end\n";

std::string shown(const Par& p) {
  std::ostringstream out;
  out << "  current parameters are:\n";
  write_namelist(out, p);
  return out.str() + kPrompt;
}

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

  // Runs the dialogue on `answers`; returns the console text.
  std::string talk(int iread, const std::string& answers) {
    std::istringstream in(answers);
    ListReader rd(in, "standard input");
    std::ostringstream out;
    change(*s_, iread, rd, out);
    return out.str();
  }
  std::string stop_message(int iread, const std::string& answers) {
    try {
      talk(iread, answers);
    } catch (const Stop& e) {
      EXPECT_EQ(e.status, 2);
      return e.what();
    }
    ADD_FAILURE() << "no qel::Stop";
    return "";
  }
  int files_in_dir() const {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++n;
    return n;
  }

  fs::path dir_;
  std::unique_ptr<State> s_;
};

}  // namespace

TEST_F(Dialogue, FreshStartReadsTheFileAndAnswerZeroReturnsAtOnce) {
  write_input("parameters of the test run\n $f DT=0.01 dtmax=0.5 hite=2 $end\n");
  const std::string before = slurp(input());
  std::istringstream in("0\nnext answer\n");
  ListReader rd(in, "standard input");
  std::ostringstream out;
  change(*s_, 1, rd, out);
  Par want{};
  want.DT = 0.01;
  want.DTMAX = 0.5;
  want.HITE = 2.0;
  expect_same(s_->par, want);
  EXPECT_EQ(out.str(), shown(want));
  EXPECT_EQ(read_text(rd, "the rest"), "next");
  EXPECT_EQ(slurp(input()), before);
}

TEST_F(Dialogue, AnswerOneEditsWithoutTouchingTheFile) {
  write_input("&F DT=0.01 /\n");
  const std::string before = slurp(input());
  const std::string out = talk(1, "1\n $f cfl=0.4 $end\n0\n");
  Par first{};
  first.DT = 0.01;
  Par edited = first;
  edited.CFL = 0.4;
  EXPECT_EQ(out, shown(first) + kEnter + shown(edited));
  expect_same(s_->par, edited);
  EXPECT_EQ(slurp(input()), before);
  EXPECT_EQ(files_in_dir(), 1);
}

TEST_F(Dialogue, AnswerTwoTwiceLeavesOnlyTheSecondSetInTheFile) {
  write_input("&F DT=0.01, RWID=1 /\n");
  fs::permissions(input(), fs::perms(0640));
  talk(1, "2\n$f rwid=3 $end\n2\n$f rwid=4, str=0.5 $end\n0\n");
  EXPECT_EQ(s_->par.RWID, 4.0);
  std::ostringstream want;
  write_namelist(want, s_->par);
  EXPECT_EQ(slurp(input()), want.str());
  // The rewritten file is what the next fresh start reads, nothing is left
  // beside it, and it keeps its permissions.
  auto fresh = std::make_unique<State>();
  fresh->dirnam = s_->dirnam;
  std::istringstream in("0\n");
  ListReader rd(in, "standard input");
  std::ostringstream out;
  change(*fresh, 1, rd, out);
  expect_same(fresh->par, s_->par);
  EXPECT_EQ(files_in_dir(), 1);
  EXPECT_EQ(fs::status(input()).permissions() & fs::perms::all, fs::perms(0640));
}

TEST_F(Dialogue, RestartShowsTheStateAndDoesNotReadTheFile) {
  s_->par.TIME = 12.5;
  const Par dump = s_->par;
  talk(0, "0\n");
  expect_same(s_->par, dump);
  EXPECT_FALSE(fs::exists(input()));
  // Answer 2 on a restart writes the dump's parameters as edited.
  talk(0, "2\n$f dt=1 $end\n0\n");
  Par from_file{};
  std::ifstream f(input());
  ListReader rd(f, input().string());
  read_namelist(rd, from_file);
  EXPECT_EQ(from_file.TIME, 12.5);
  EXPECT_EQ(from_file.DT, 1.0);
}

TEST_F(Dialogue, MissingOrEmptyParameterFileStopsWithoutCreatingOne) {
  std::string m = stop_message(1, "0\n");
  EXPECT_NE(m.find(input().string() + " holds no group F"), std::string::npos) << m;
  EXPECT_NE(m.find("No such file"), std::string::npos) << m;
  EXPECT_FALSE(fs::exists(input()));

  write_input("");
  m = stop_message(1, "0\n");
  EXPECT_EQ(m, input().string() + " holds no group F: end of input before $F or &F");

  write_input("&F DT=1\n");
  m = stop_message(1, "0\n");
  EXPECT_NE(m.find(input().string() + ": end of input after line 1 inside group F"), std::string::npos)
      << m;
}

TEST_F(Dialogue, BadAnswersAndEndOfInputStopInsteadOfLooping) {
  std::string m = stop_message(0, "yes\n");
  EXPECT_NE(m.find("standard input, line 1"), std::string::npos) << m;
  EXPECT_NE(m.find("\"yes\""), std::string::npos) << m;
  m = stop_message(0, "");
  EXPECT_NE(m.find("end of input"), std::string::npos) << m;
  m = stop_message(0, "1\n$f dt=1 $end\n");
  EXPECT_NE(m.find("end of input after line 2"), std::string::npos) << m;
  m = stop_message(0, "2\n");
  EXPECT_NE(m.find("standard input holds no group F"), std::string::npos) << m;
  m = stop_message(0, "1\n$f dtx=1 $end\n0\n");
  EXPECT_NE(m.find("\"dtx\""), std::string::npos) << m;
  EXPECT_FALSE(fs::exists(input()));
}

TEST_F(Dialogue, FailedRewriteNamesTheFileAndKeepsThePreviousOne) {
  // The target is a directory: the rename over it fails after the temporary
  // file was written, which must then be removed.
  fs::create_directory(input());
  std::string m = stop_message(0, "2\n$f dt=1 $end\n");
  EXPECT_EQ(m, "cannot write " + input().string() + ": Is a directory");
  EXPECT_TRUE(fs::is_directory(input()));
  EXPECT_EQ(files_in_dir(), 1);

  s_->dirnam = (dir_ / "absent").string();
  m = stop_message(0, "2\n$f dt=1 $end\n");
  EXPECT_EQ(m, "cannot write " + (dir_ / "absent" / "qel.input").string() +
                   ": No such file or directory");
}
