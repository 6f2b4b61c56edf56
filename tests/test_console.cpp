#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

#include "driver/console.hpp"

using namespace qel;

static std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// The separators of a record are in every line of a run's transcript (the
// output digests); here the items a normal run never shows.
TEST(ListOutput, ItemsAtTheDecadeBoundariesAndEndsOfTheRangeReadBackToTheLastBit) {
  // What one double item adds to a record at the decade boundaries, the
  // ends of the range and the non-finite values.
  const std::pair<double, const char*> table[] = {
      {0.1, "  0.10000000000000001     "}, {0.09999999999999999, "   9.9999999999999992E-002"},
      {1.0, "   1.0000000000000000     "}, {-0.5, " -0.50000000000000000     "}, {-0.0, "  -0.0000000000000000     "},
      {99999999999999984.0, "   99999999999999984.     "}, {1e17, "   1.0000000000000000E+017"},
      {-1e-100, "  -1.0000000000000000E-100"}, {1.7976931348623157e308, "   1.7976931348623157E+308"},
      {4.9406564584124654e-324, "   4.9406564584124654E-324"}, {NAN, "                       NaN"},
      {HUGE_VAL, "                  Infinity"}, {-HUGE_VAL, "                 -Infinity"}};
  // Each value written as a line and read back as one statement.
  std::stringstream io;
  ListReader rd(io, "test");
  const auto reread = [&](double x) { io << list_real(x) << "\n"; return read_real(rd, "x"); };
  for (const auto& [x, item] : table)
    EXPECT_TRUE((Record() << " x=" << x).str() == "  x=" + std::string(item) && bits(reread(x)) == bits(x)) << item;
  // A Weyl sequence of bit patterns over the whole range, subnormals included.
  for (std::uint64_t k = 1; k <= 20000; ++k) {
    const double x = std::bit_cast<double>(k * 0x9E3779B97F4A7C15u);
    EXPECT_TRUE(!std::isfinite(x) || bits(reread(x)) == bits(x)) << list_real(x);
  }

}

TEST(FixedField, RoundingSignWidthAndNonFiniteValues) {
  // 1.235 and 1.0005 lie just above and below their decimal values; 0.125,
  // 0.375 and 2.5 are exact ties (to even); a negative value rounding to zero
  // keeps its sign; -9999 just fills its field, 99.99996 overflows only by
  // the rounding carry; infinities shorten to fit.
  const struct { double x; int width, decimals; const char* want; } cases[] = {
      {1.235, 8, 3, "   1.235"}, {1.0005, 8, 3, "   1.000"}, {0.125, 6, 2, "  0.12"}, {0.375, 6, 2, "  0.38"},
      {2.5, 3, 0, "  2"}, {-1e-5, 10, 4, "   -0.0000"}, {-0.0, 10, 4, "   -0.0000"}, {-9999.0, 10, 4, "-9999.0000"},
      {-99999.0, 10, 4, "**********"}, {99.99996, 7, 4, "*******"}, {99.99994, 7, 4, "99.9999"},
      {1e300, 10, 4, "**********"}, {NAN, 8, 3, "     NaN"}, {HUGE_VAL, 8, 5, "Infinity"},
      {-HUGE_VAL, 10, 4, " -Infinity"}, {-HUGE_VAL, 8, 3, "    -Inf"}, {NAN, 2, 0, "**"}};
  for (const auto& c : cases) EXPECT_EQ(fixed_field(c.x, c.width, c.decimals), c.want) << c.x << " " << c.width;
}

TEST(RealInput, EveryConstantFormGivesTheNearestDoubleAndNothingElseIsTaken) {
  // Halfway cases at 2^53 need correct rounding of all the digits; below the
  // smallest subnormal a value reads as a zero of its sign.
  const std::pair<const char*, double> forms[] = {
      {"1.", 1.0}, {"-.5", -0.5}, {"+2", 2.0}, {"1.e2", 100.0}, {"1.5E-3", 1.5e-3}, {"15D-4", 1.5e-3},
      {"+1.5d-03", 1.5e-3}, {"-0", -0.0},
      {"Infinity", HUGE_VAL}, {"-inf", -HUGE_VAL}, {"nan", NAN}, {"0e999999999999", 0.0}, {"-1e-400", -0.0},
      {"9007199254740993", 9007199254740992.0}, {"9007199254740993.0000000000000000001", 9007199254740994.0}};
  double v = 0.0;
  for (const auto& [t, want] : forms) EXPECT_TRUE(parse_real(t, v) == RealText::ok && bits(v) == bits(want)) << t;
  // Refused texts leave the value as it was.
  for (const char* t : {"", ".", "-", "e5", "1e", "1e+", "1.5x", "1..5", "--1", "1+5", "0x10", "nanx", "infinit", "'1'"})
    EXPECT_EQ(parse_real(t, v), RealText::not_real) << t;
  EXPECT_TRUE(parse_real("-123.4d307", v) == RealText::too_large && v == 9007199254740994.0);
  std::int32_t n = 5;
  for (const char* t : {"", "-", "+", "+-5", "1.", "1e3", "2147483648", "-2147483649", "99999999999999999999", "x"})
    EXPECT_FALSE(parse_integer(t, n)) << t;
  EXPECT_TRUE(n == 5 && parse_integer("+007", n) && n == 7 && parse_integer("-2147483648", n) && n == INT32_MIN);
  // Stamps are 64-bit: both ends of the range, and one beyond each refused.
  std::int64_t m = 5;
  for (const char* t : {"9223372036854775808", "-9223372036854775809", "1e3"}) EXPECT_FALSE(parse_integer(t, m)) << t;
  EXPECT_TRUE(m == 5 && parse_integer("9223372036854775807", m) && m == INT64_MAX);
  EXPECT_TRUE(parse_integer("-9223372036854775808", m) && m == INT64_MIN);
}

// Unquoted, a path ends at a blank or comma only; quoted, as any text. A
// slash ends a statement and leaves the item as it was; the rest of the
// statement's last line is discarded; lines have a limit.
TEST(ListInput, PathsRunOverSlashesStatementsSpanLinesAndLinesHaveALimit) {
  std::istringstream in("runs/exp1/ rest\n/abs/path,x\n'a b/c'\n'my exp' \"it\"\"s\" 'don''t',plain/after\n"
                        "  1.5,2\n\n  , 3d0 4 extra\n5 / 6\nrun/1 x\n\t-7\r\n" + std::string(kMaxLine, 'x') + "\n" +
                        std::string(kMaxLine + 1, 'y'));
  ListReader rd(in, "standard input");
  EXPECT_EQ(read_path(rd, "the directory"), "runs/exp1/");
  EXPECT_EQ(read_path(rd, "the directory"), "/abs/path");
  EXPECT_EQ(read_path(rd, "the directory"), "a b/c");
  std::string all, t = "unchanged";
  rd.begin();
  while (rd.text(t, "t")) all += t + "|";
  rd.end();
  EXPECT_EQ(all + t, "my exp|it\"s|don't|plain|plain");
  double a = 0, b = 0, c = 0;
  rd.begin();
  EXPECT_TRUE(rd.real(a, "tstop") && rd.real(b, "tdump") && rd.real(c, "tdiag") && a == 1.5 && b == 2 && c == 3);
  rd.end();
  EXPECT_EQ(rd.line_number(), 7);
  EXPECT_EQ(read_real(rd, "tstop"), 5.0);
  EXPECT_EQ(read_text(rd, "the directory"), "run");
  EXPECT_EQ(read_integer(rd, "the stamp"), -7);
  EXPECT_EQ(read_text(rd, "x").size(), kMaxLine);  // the longest line allowed
  try {
    read_text(rd, "y");
    ADD_FAILURE() << "a line beyond the limit was read";
  } catch (const Stop& e) {
    EXPECT_EQ(std::string(e.what()), "standard input, line 12: longer than 1048576 characters; no answer is that long");
  }
  EXPECT_FALSE(rd.getline(t));
}

TEST(ListInput, BadInputStopsWithSourceLineTextAndExpectation) {
  // The message of the qel::Stop with status 2 that reading `text` must raise.
  const auto stop = [](const char* text, auto read) -> std::string {
    std::istringstream in(text);
    ListReader rd(in, "answers.txt");
    try { read(rd); } catch (const Stop& e) { return e.status == 2 ? e.what() : "status 2 wanted"; }
    return "no qel::Stop";
  };
  const auto answers = [](ListReader& rd) { read_integer(rd, "the answer"); read_integer(rd, "the answer"); };
  const auto dir = [](ListReader& rd) { read_text(rd, "the directory"); };
  const auto times = [](ListReader& rd) { double t; rd.begin(); rd.real(t, "t1"); rd.real(t, "t2"); rd.real(t, "t3"); };
  const std::string at1 = "answers.txt, line 1: expected ";
  EXPECT_EQ(stop("2\nyes\n", answers), "answers.txt, line 2: expected the answer (an integer), found \"yes\"");
  EXPECT_EQ(stop("1.5x\n", times), at1 + "t1 (a real number), found \"1.5x\"");
  EXPECT_EQ(stop("1e999\n", times), at1 + "t1 (a real number within the range of a double), found \"1e999\"");
  EXPECT_EQ(stop("\n  \n", answers), "answers.txt: end of input after line 2, expected the answer");
  EXPECT_EQ(stop("1 2\n", times), "answers.txt: end of input after line 1, expected t3");
  EXPECT_EQ(stop(" / 3\n", answers), at1 + "the answer, found \"/\"");
  EXPECT_EQ(stop("1,,2\n", times), at1 + "t2 (an item before the comma), found \",\"");
  EXPECT_EQ(stop("'myexp\n", dir), at1 + "the directory (a text closed by its quote on the same line), found \"'myexp\"");
  EXPECT_EQ(stop("'a'b\n", dir), at1 + "the directory (a blank, comma or slash after the closing quote), found \"'a'b\"");
}
