#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "driver/console.hpp"

using namespace qel;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Rendering {
  double value;
  const char* item;  // what one double item adds to a record: blank + 25
};

// The published rendering table of double items.
const std::vector<Rendering> kTable = {
    {0.1, "  0.10000000000000001     "},
    {1.0 / 3.0, "  0.33333333333333331     "},
    {1.0, "   1.0000000000000000     "},
    {-2.5, "  -2.5000000000000000     "},
    {0.0, "   0.0000000000000000     "},
    {-0.0, "  -0.0000000000000000     "},
    {91.0, "   91.000000000000000     "},
    {123456789.123, "   123456789.12300000     "},
    {1e16, "   10000000000000000.     "},
    {1e17, "   1.0000000000000000E+017"},
    {1e-2, "   1.0000000000000000E-002"},
    {1e-7, "   9.9999999999999995E-008"},
    {0.09999999999999999, "   9.9999999999999992E-002"},
    {-1e-100, "  -1.0000000000000000E-100"},
    {1e300, "   1.0000000000000001E+300"},
    {3.1415927410125732, "   3.1415927410125732     "},
    {9.999999974752427e-7, "   9.9999999747524271E-007"},
    {kNaN, "                       NaN"},
    {kInf, "                  Infinity"},
    {-kInf, "                 -Infinity"},
};

}  // namespace

TEST(ListOutput, DoubleItemsMatchThePublishedTable) {
  for (const auto& r : kTable) {
    EXPECT_EQ(list_real(r.value).size(), 25u) << r.item;
    EXPECT_EQ(" " + list_real(r.value), r.item) << r.value;
    // A double after another item adds the separator blank and its field.
    EXPECT_EQ((Record() << " x=" << r.value).str(), std::string("  x=") + r.item) << r.value;
  }
}

TEST(ListOutput, FormChangesAtTheRoundedDecadeBoundaries) {
  // Largest double below 0.1 and below 1e17, and the extremes of the range.
  const double below_tenth = std::nextafter(0.1, 0.0);
  EXPECT_EQ(list_real(below_tenth), "  9.9999999999999992E-002");
  EXPECT_EQ(list_real(std::nextafter(1e17, 0.0)), "  99999999999999984.     ");
  EXPECT_EQ(list_real(-99999999999999984.0), " -99999999999999984.     ");
  // The widest fixed item: a negative value below one takes all 20 places.
  EXPECT_EQ(list_real(-0.5), "-0.50000000000000000     ");
  EXPECT_EQ(list_real(std::numeric_limits<double>::max()), "  1.7976931348623157E+308");
  EXPECT_EQ(list_real(std::numeric_limits<double>::denorm_min()), "  4.9406564584124654E-324");
  EXPECT_EQ(list_real(-kNaN), "                      NaN");
}

TEST(ListOutput, IntegerItemsAndRecords) {
  EXPECT_EQ(list_int(7), "          7");
  EXPECT_EQ(list_int(-1), "         -1");
  EXPECT_EQ(list_int(std::numeric_limits<std::int32_t>::min()), "-2147483648");
  EXPECT_EQ((Record() << "n" << std::int32_t{7}).str(), " n           7");

  // The record opens with one blank; a separator blank goes between items
  // except between two text items.
  std::ostringstream out;
  write_record(out, Record() << " current parameters are:");
  write_record(out, Record() << "will write dump file " << "myexp/qel000000.dat");
  write_record(out, Record() << " time=" << 0.0 << " enter tstop,tdump,tdiag");
  write_record(out, Record() << " dt too small, model is blowing up: now dt=" << 1e-7);
  write_record(out, Record() << "first time in pressure solver, using pit=1000");
  write_record(out, Record() << 0.0);
  write_record(out, Record() << std::int32_t{-1} << 2.0 << "a" << "b");
  write_record(out, Record());
  EXPECT_EQ(out.str(),
            "  current parameters are:\n"
            " will write dump file myexp/qel000000.dat\n"
            "  time=   0.0000000000000000       enter tstop,tdump,tdiag\n"
            "  dt too small, model is blowing up: now dt=   9.9999999999999995E-008\n"
            " first time in pressure solver, using pit=1000\n"
            "   0.0000000000000000     \n"
            "          -1   2.0000000000000000      ab\n"
            " \n");
}

TEST(FixedField, RoundsTheExactBinaryValueToNearestEven) {
  EXPECT_EQ(fixed_field(1.235, 8, 3), "   1.235");  // 1.2350000000000000977
  EXPECT_EQ(fixed_field(1.0005, 8, 3), "   1.000");  // 1.0004999999999999449
  EXPECT_EQ(fixed_field(0.125, 6, 2), "  0.12");     // exact tie: to even
  EXPECT_EQ(fixed_field(0.375, 6, 2), "  0.38");
  EXPECT_EQ(fixed_field(2.5, 3, 0), "  2");
  EXPECT_EQ(fixed_field(0.001, 8, 5), " 0.00100");
  EXPECT_EQ(fixed_field(0.5, 10, 4), "    0.5000");
  EXPECT_EQ(fixed_field(1.0, 10, 6), "  1.000000");
  EXPECT_EQ(fixed_field(-2.0, 10, 4), "   -2.0000");
  // Negative values that round to zero keep their sign.
  EXPECT_EQ(fixed_field(-1e-5, 10, 4), "   -0.0000");
  EXPECT_EQ(fixed_field(-0.0, 10, 4), "   -0.0000");
  EXPECT_EQ(fixed_field(0.0, 10, 4), "    0.0000");
}

TEST(FixedField, OverwideValuesBecomeAsterisks) {
  EXPECT_EQ(fixed_field(123456.0, 10, 4), "**********");
  EXPECT_EQ(fixed_field(-99999.0, 10, 4), "**********");
  EXPECT_EQ(fixed_field(-9999.0, 10, 4), "-9999.0000");  // exactly fills
  // Rounding can carry into a new digit that no longer fits.
  EXPECT_EQ(fixed_field(99.99996, 7, 4), "*******");
  EXPECT_EQ(fixed_field(99.99994, 7, 4), "99.9999");
  EXPECT_EQ(fixed_field(1e300, 10, 4), "**********");
}

TEST(FixedField, NaNAndInfinitiesFollowTheWidth) {
  EXPECT_EQ(fixed_field(kNaN, 8, 3), "     NaN");
  EXPECT_EQ(fixed_field(kInf, 8, 5), "Infinity");
  EXPECT_EQ(fixed_field(-kInf, 10, 4), " -Infinity");
  EXPECT_EQ(fixed_field(-kInf, 8, 3), "    -Inf");
  EXPECT_EQ(fixed_field(kInf, 7, 3), "    Inf");
  EXPECT_EQ(fixed_field(kNaN, 2, 0), "**");
}

TEST(FixedField, DiagnosticLineOfEightFields) {
  const int width[8] = {8, 8, 10, 10, 10, 10, 10, 10};
  const int dec[8] = {3, 5, 4, 4, 4, 4, 6, 4};
  const double v[8] = {kNaN, kInf, -kInf, 0.0, 0.0, 0.0, 0.0, 0.0};
  std::string line = " ";
  for (int k = 0; k < 8; ++k) line += fixed_field(v[k], width[k], dec[k]);
  EXPECT_EQ(line, "      NaNInfinity -Infinity    0.0000    0.0000    0.0000  0.000000    0.0000");
  EXPECT_EQ(line.size(), 77u);
}

namespace {

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

double parsed(std::string_view t) {
  double v = -999.0;
  EXPECT_EQ(parse_real(t, v), RealText::ok) << t;
  return v;
}

// Runs `body` and returns the message of the qel::Stop it must throw with
// status 2.
template <class F>
std::string stop_message(F body) {
  try {
    body();
  } catch (const Stop& e) {
    EXPECT_EQ(e.status, 2);
    return e.what();
  }
  ADD_FAILURE() << "no qel::Stop thrown";
  return "";
}

}  // namespace

TEST(RealInput, EveryConstantFormGivesTheNearestDouble) {
  EXPECT_EQ(parsed("1"), 1.0);
  EXPECT_EQ(parsed("1."), 1.0);
  EXPECT_EQ(parsed(".5"), 0.5);
  EXPECT_EQ(parsed("-.5"), -0.5);
  EXPECT_EQ(parsed("+2"), 2.0);
  EXPECT_EQ(parsed("1.e2"), 100.0);
  for (const char* t : {"1.5e-3", "1.5E-3", "1.5d-3", "1.5D-3", "15D-4", ".0015", "+1.5e-03"})
    EXPECT_EQ(bits(parsed(t)), bits(1.5e-3)) << t;
  EXPECT_EQ(bits(parsed("-0")), bits(-0.0));
  EXPECT_EQ(bits(parsed("0.1")), bits(0.1));
  // Halfway between two doubles after many digits: correct rounding needed.
  EXPECT_EQ(parsed("9007199254740993"), 9007199254740992.0);
  EXPECT_EQ(parsed("9007199254740993.0000000000000000001"), 9007199254740994.0);
  EXPECT_TRUE(std::isnan(parsed("NaN")));
  EXPECT_TRUE(std::isnan(parsed("nan")));
  EXPECT_EQ(parsed("Infinity"), kInf);
  EXPECT_EQ(parsed("-Infinity"), -kInf);
  EXPECT_EQ(parsed("-inf"), -kInf);
  // Below the smallest subnormal: a zero of the constant's sign.
  EXPECT_EQ(bits(parsed("-1e-400")), bits(-0.0));
  EXPECT_EQ(parsed("0e999999999999"), 0.0);
}

TEST(RealInput, MalformedOrOverflowingConstantsAreRefused) {
  double v = 7.0;
  for (const char* t : {"", ".", "-", "e5", "1e", "1e+", "1.5x", "1..5", "--1", "1+5", "0x10",
                        "1.5q3", "nanx", "infinit", "1 5", "'1'", "d3"})
    EXPECT_EQ(parse_real(t, v), RealText::not_real) << t;
  EXPECT_EQ(parse_real("1e309", v), RealText::too_large);
  EXPECT_EQ(parse_real("-123.4d307", v), RealText::too_large);
  EXPECT_EQ(v, 7.0);

  std::int32_t n = 5;
  for (const char* t : {"", "-", "+", "1.", "1e3", "2147483648", "-2147483649", "1 2", "x"})
    EXPECT_FALSE(parse_integer(t, n)) << t;
  EXPECT_EQ(n, 5);
  EXPECT_TRUE(parse_integer("+007", n));
  EXPECT_EQ(n, 7);
  EXPECT_TRUE(parse_integer("-2147483648", n));
  EXPECT_EQ(n, std::numeric_limits<std::int32_t>::min());
}

TEST(RealInput, WrittenDoublesReadBackToTheLastBit) {
  std::vector<double> values;
  for (const auto& r : kTable) values.push_back(r.value);
  values.insert(values.end(), {std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                               std::numeric_limits<double>::denorm_min(), -5e-324,
                               std::nextafter(1e17, 0.0), std::nextafter(0.1, 1.0)});
  // Bit patterns spread over the whole range of finite doubles.
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (int k = 0; k < 20000; ++k) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    double x;
    std::memcpy(&x, &state, sizeof x);
    if (std::isfinite(x)) values.push_back(x);
  }
  for (double x : values) {
    const std::string field = list_real(x);
    const std::size_t a = field.find_first_not_of(' '), b = field.find_last_not_of(' ');
    double y = 0.0;
    ASSERT_EQ(parse_real(field.substr(a, b + 1 - a), y), RealText::ok) << field;
    if (std::isnan(x))
      EXPECT_TRUE(std::isnan(y));
    else
      EXPECT_EQ(bits(y), bits(x)) << list_real(x);
  }
}

TEST(ListInput, ItemsSpanBlanksCommasAndLinesAndEachStatementStartsAnew) {
  std::istringstream in(
      "myexp  ignored rest\n"
      "  1.5,2\n"
      "\n"
      "  , 3d0 4 extra\n"
      "-1\n"
      "\t7\r\n");
  ListReader rd(in, "standard input");
  EXPECT_EQ(read_text(rd, "the directory"), "myexp");
  double a = 0, b = 0, c = 0;
  rd.begin();
  EXPECT_TRUE(rd.real(a, "tstop"));
  EXPECT_TRUE(rd.real(b, "tdump"));
  EXPECT_TRUE(rd.real(c, "tdiag"));
  rd.end();
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(c, 3.0);
  EXPECT_EQ(rd.line_number(), 4);
  EXPECT_EQ(read_integer(rd, "the restart stamp"), -1);
  EXPECT_EQ(read_integer(rd, "the answer"), 7);
  std::string line;
  EXPECT_FALSE(rd.getline(line));
}

TEST(ListInput, SlashEndsTheStatementAndLeavesTheRestUnchanged) {
  std::istringstream in("5 / 6\n1,2/\n9\n");
  ListReader rd(in, "standard input");
  double a = -1, b = -1, c = -1;
  rd.begin();
  EXPECT_TRUE(rd.real(a, "tstop"));
  EXPECT_FALSE(rd.real(b, "tdump"));
  EXPECT_FALSE(rd.real(c, "tdiag"));
  rd.end();
  EXPECT_EQ(a, 5.0);
  EXPECT_EQ(b, -1.0);
  EXPECT_EQ(c, -1.0);
  rd.begin();
  EXPECT_TRUE(rd.real(a, "tstop"));
  EXPECT_TRUE(rd.real(b, "tdump"));
  EXPECT_FALSE(rd.real(c, "tdiag"));
  rd.end();
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(c, -1.0);
  EXPECT_EQ(read_real(rd, "tstop"), 9.0);
}

TEST(ListInput, QuotedAndUnquotedText) {
  std::istringstream in(
      "'my exp' \"it\"\"s\" 'don''t',plain/after\n"
      "''\n"
      "a,b\n"
      "run/1\n");
  ListReader rd(in, "standard input");
  std::string s[5];
  rd.begin();
  for (auto& x : s) x = "unchanged";
  EXPECT_TRUE(rd.text(s[0], "t"));
  EXPECT_TRUE(rd.text(s[1], "t"));
  EXPECT_TRUE(rd.text(s[2], "t"));
  EXPECT_TRUE(rd.text(s[3], "t"));
  EXPECT_FALSE(rd.text(s[4], "t"));
  rd.end();
  EXPECT_EQ(s[0], "my exp");
  EXPECT_EQ(s[1], "it\"s");
  EXPECT_EQ(s[2], "don't");
  EXPECT_EQ(s[3], "plain");
  EXPECT_EQ(s[4], "unchanged");
  EXPECT_EQ(read_text(rd, "t"), "");
  EXPECT_EQ(read_text(rd, "t"), "a");
  // Unquoted text stops at a slash, which ends the statement.
  EXPECT_EQ(read_text(rd, "t"), "run");
}

TEST(ListInput, BadInputStopsWithSourceLineTextAndExpectation) {
  auto fails = [](const std::string& text, auto read) {
    std::istringstream in(text);
    ListReader rd(in, "answers.txt");
    return stop_message([&] { read(rd); });
  };
  const auto integer = [](ListReader& rd) { read_integer(rd, "the answer 0, 1 or 2"); };
  const auto real = [](ListReader& rd) { read_real(rd, "tstop"); };

  std::string m = fails("2\nyes\n", [&](ListReader& rd) { read_integer(rd, "x"); integer(rd); });
  EXPECT_NE(m.find("answers.txt, line 2"), std::string::npos) << m;
  EXPECT_NE(m.find("\"yes\""), std::string::npos) << m;
  EXPECT_NE(m.find("the answer 0, 1 or 2"), std::string::npos) << m;
  EXPECT_NE(m.find("an integer"), std::string::npos) << m;

  m = fails("1.5\n", integer);
  EXPECT_NE(m.find("\"1.5\""), std::string::npos) << m;
  m = fails("1.5x\n", real);
  EXPECT_NE(m.find("\"1.5x\""), std::string::npos) << m;
  EXPECT_NE(m.find("tstop"), std::string::npos) << m;
  m = fails("1e999\n", real);
  EXPECT_NE(m.find("range"), std::string::npos) << m;

  // End of input: at once, after blank lines, and in the middle of a statement.
  m = fails("", integer);
  EXPECT_NE(m.find("answers.txt"), std::string::npos) << m;
  EXPECT_NE(m.find("end of input"), std::string::npos) << m;
  EXPECT_NE(m.find("the answer 0, 1 or 2"), std::string::npos) << m;
  m = fails("\n  \n", integer);
  EXPECT_NE(m.find("end of input after line 2"), std::string::npos) << m;
  m = fails("1 2\n", [](ListReader& rd) {
    double a, b, c;
    rd.begin();
    rd.real(a, "tstop");
    rd.real(b, "tdump");
    rd.real(c, "tdiag");
  });
  EXPECT_NE(m.find("tdiag"), std::string::npos) << m;

  // A statement that ends at a slash before its only item, an empty item
  // between two commas, a quote never closed.
  m = fails(" / 3\n", integer);
  EXPECT_NE(m.find("\"/\""), std::string::npos) << m;
  m = fails("1,,2\n", [](ListReader& rd) {
    double a, b;
    rd.begin();
    rd.real(a, "tstop");
    rd.real(b, "tdump");
  });
  EXPECT_NE(m.find("tdump"), std::string::npos) << m;
  EXPECT_NE(m.find("\",\""), std::string::npos) << m;
  m = fails("'myexp\n", [](ListReader& rd) { read_text(rd, "the directory"); });
  EXPECT_NE(m.find("'myexp"), std::string::npos) << m;
  m = fails("'a'b\n", [](ListReader& rd) { read_text(rd, "the directory"); });
  EXPECT_NE(m.find("'a'b"), std::string::npos) << m;
}
