#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "driver/console.hpp"

using namespace qel;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// The published table: what one double item adds to a record.
const std::vector<std::pair<double, const char*>> kTable = {
    {0.1, "  0.10000000000000001     "},         {1.0 / 3.0, "  0.33333333333333331     "},
    {1.0, "   1.0000000000000000     "},         {-2.5, "  -2.5000000000000000     "},
    {0.0, "   0.0000000000000000     "},         {-0.0, "  -0.0000000000000000     "},
    {91.0, "   91.000000000000000     "},        {123456789.123, "   123456789.12300000     "},
    {1e16, "   10000000000000000.     "},        {1e17, "   1.0000000000000000E+017"},
    {1e-2, "   1.0000000000000000E-002"},        {1e-7, "   9.9999999999999995E-008"},
    {0.09999999999999999, "   9.9999999999999992E-002"},
    {-1e-100, "  -1.0000000000000000E-100"},     {1e300, "   1.0000000000000001E+300"},
    {3.1415927410125732, "   3.1415927410125732     "},
    {9.999999974752427e-7, "   9.9999999747524271E-007"},
    {kNaN, "                       NaN"},        {kInf, "                  Infinity"},
    {-kInf, "                 -Infinity"},
    // Beyond the table: the decade boundaries and the ends of the range.
    {std::nextafter(1e17, 0.0), "   99999999999999984.     "},
    {-0.5, " -0.50000000000000000     "},
    {std::numeric_limits<double>::max(), "   1.7976931348623157E+308"},
    {std::numeric_limits<double>::denorm_min(), "   4.9406564584124654E-324"},
};

void expect_contains(const std::string& m, std::initializer_list<const char*> parts) {
  for (const char* p : parts) EXPECT_NE(m.find(p), std::string::npos) << "'" << p << "' in: " << m;
}

// The message of the status-2 qel::Stop that reading `text` must raise.
std::string stop_message(const std::string& text, const std::function<void(ListReader&)>& read) {
  std::istringstream in(text);
  ListReader rd(in, "answers.txt");
  try {
    read(rd);
  } catch (const Stop& e) {
    EXPECT_EQ(e.status, 2);
    return e.what();
  }
  ADD_FAILURE() << "no qel::Stop for: " << text;
  return "";
}

}  // namespace

TEST(ListOutput, DoubleItemsMatchThePublishedTable) {
  for (const auto& [x, item] : kTable)
    EXPECT_EQ((Record() << " x=" << x).str(), std::string("  x=") + item) << x;
}

TEST(ListOutput, RecordsSeparateItemsExceptConsecutiveText) {
  std::ostringstream out;
  write_record(out, Record() << " current parameters are:");
  write_record(out, Record() << "will write dump file " << "myexp/qel000000.dat");
  write_record(out, Record() << " time=" << 0.0 << " enter tstop,tdump,tdiag");
  write_record(out, Record() << " dt too small, dt=" << 1e-6);
  write_record(out, Record() << 0.0);  // a history header line
  write_record(out, Record() << std::int32_t{7} << std::int32_t{-1} << "a" << "b");
  EXPECT_EQ(out.str(),
            "  current parameters are:\n"
            " will write dump file myexp/qel000000.dat\n"
            "  time=   0.0000000000000000       enter tstop,tdump,tdiag\n"
            "  dt too small, dt=   9.9999999999999995E-007\n"
            "   0.0000000000000000     \n"
            "           7          -1 ab\n");
}

TEST(FixedField, RoundingSignWidthAndNonFiniteValues) {
  struct Case {
    double x;
    int width, decimals;
    const char* want;
  };
  const Case cases[] = {
      {1.235, 8, 3, "   1.235"},     // binary value just above 1.235
      {1.0005, 8, 3, "   1.000"},    // binary value just below 1.0005
      {0.125, 6, 2, "  0.12"},       // exact ties go to even
      {0.375, 6, 2, "  0.38"},       {2.5, 3, 0, "  2"},
      {0.001, 8, 5, " 0.00100"},     {1.0, 10, 6, "  1.000000"},
      {-1e-5, 10, 4, "   -0.0000"},  // negative rounding to zero keeps its sign
      {-0.0, 10, 4, "   -0.0000"},   {0.0, 10, 4, "    0.0000"},
      {-9999.0, 10, 4, "-9999.0000"},  // exactly fills the field
      {123456.0, 10, 4, "**********"}, {-99999.0, 10, 4, "**********"},
      {99.99996, 7, 4, "*******"},     // the rounding carry no longer fits
      {99.99994, 7, 4, "99.9999"},     {1e300, 10, 4, "**********"},
      {kNaN, 8, 3, "     NaN"},        {kInf, 8, 5, "Infinity"},
      {-kInf, 10, 4, " -Infinity"},    {-kInf, 8, 3, "    -Inf"},
      {kInf, 7, 3, "    Inf"},         {kNaN, 2, 0, "**"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(fixed_field(c.x, c.width, c.decimals), c.want) << c.x << " " << c.width;
}

TEST(RealInput, EveryConstantFormGivesTheNearestDouble) {
  const std::vector<std::pair<const char*, double>> forms = {
      {"1", 1.0},         {"1.", 1.0},        {".5", 0.5},        {"-.5", -0.5},
      {"+2", 2.0},        {"1.e2", 100.0},    {"1.5e-3", 1.5e-3}, {"1.5E-3", 1.5e-3},
      {"1.5d-3", 1.5e-3}, {"1.5D-3", 1.5e-3}, {"15D-4", 1.5e-3},  {"+1.5e-03", 1.5e-3},
      {"-0", -0.0},       {"Infinity", kInf}, {"-inf", -kInf},    {"0e999999999999", 0.0},
      {"-1e-400", -0.0},  // below the smallest subnormal: a zero of its sign
      // Halfway cases that need correct rounding of all digits.
      {"9007199254740993", 9007199254740992.0},
      {"9007199254740993.0000000000000000001", 9007199254740994.0},
  };
  for (const auto& [t, want] : forms) {
    double v = 0.0;
    EXPECT_EQ(parse_real(t, v), RealText::ok) << t;
    EXPECT_EQ(bits(v), bits(want)) << t;
  }
  double v = 0.0;
  EXPECT_EQ(parse_real("nan", v), RealText::ok);
  EXPECT_TRUE(std::isnan(v));

  v = 7.0;
  for (const char* t : {"", ".", "-", "e5", "1e", "1e+", "1.5x", "1..5", "--1", "1+5", "0x10",
                        "1.5q3", "nanx", "infinit", "1 5", "'1'", "d3"})
    EXPECT_EQ(parse_real(t, v), RealText::not_real) << t;
  EXPECT_EQ(parse_real("-123.4d307", v), RealText::too_large);
  EXPECT_EQ(v, 7.0);

  std::int32_t n = 5;
  for (const char* t : {"", "-", "+", "+-5", "1.", "1e3", "2147483648", "-2147483649", "99999999999999999999", "x"})
    EXPECT_FALSE(parse_integer(t, n)) << t;
  EXPECT_EQ(n, 5);
  EXPECT_TRUE(parse_integer("+007", n) && n == 7);
  EXPECT_TRUE(parse_integer("-2147483648", n) && n == std::numeric_limits<std::int32_t>::min());
}

TEST(RealInput, WrittenDoublesReadBackToTheLastBit) {
  std::vector<double> values;
  for (const auto& entry : kTable) values.push_back(entry.first);
  // Bit patterns spread over the whole range, subnormals included.
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (int k = 0; k < 20000; ++k) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    double x;
    std::memcpy(&x, &state, sizeof x);
    if (std::isfinite(x)) values.push_back(x);
  }
  for (double x : values) {
    std::istringstream in(list_real(x) + "\n");
    ListReader rd(in, "test");
    const double y = read_real(rd, "x");
    EXPECT_TRUE(std::isnan(x) ? std::isnan(y) : bits(y) == bits(x)) << list_real(x);
  }
}

TEST(ListInput, StatementsSpanLinesStopAtSlashesAndDiscardTheirLastLine) {
  std::istringstream in(
      "'my exp' \"it\"\"s\" 'don''t',plain/after\n"
      "  1.5,2\n\n  , 3d0 4 extra\n"
      "5 / 6\n"
      "run/1 x\n"
      "\t-7\r\n");
  ListReader rd(in, "standard input");
  std::string t[5] = {"", "", "", "", "unchanged"};
  rd.begin();
  for (int k = 0; k < 4; ++k) EXPECT_TRUE(rd.text(t[k], "t"));
  EXPECT_FALSE(rd.text(t[4], "t"));
  rd.end();
  EXPECT_EQ(t[0] + "|" + t[1] + "|" + t[2] + "|" + t[3] + "|" + t[4], "my exp|it\"s|don't|plain|unchanged");

  double a = 0, b = 0, c = 0;
  rd.begin();
  EXPECT_TRUE(rd.real(a, "tstop") && rd.real(b, "tdump") && rd.real(c, "tdiag"));
  rd.end();
  EXPECT_EQ(a + 10 * b + 100 * c, 1.5 + 20 + 300);
  EXPECT_EQ(rd.line_number(), 4);
  rd.begin();
  EXPECT_TRUE(rd.real(a, "tstop"));
  EXPECT_FALSE(rd.real(b, "tdump"));
  rd.end();
  EXPECT_EQ(a, 5.0);
  EXPECT_EQ(b, 2.0);
  EXPECT_EQ(read_text(rd, "the directory"), "run");
  EXPECT_EQ(read_integer(rd, "the stamp"), -7);
  std::string line;
  EXPECT_FALSE(rd.getline(line));
}

TEST(ListInput, BadInputStopsWithSourceLineTextAndExpectation) {
  auto answer = [](ListReader& rd) { read_integer(rd, "the answer"); };
  auto tstop = [](ListReader& rd) { read_real(rd, "tstop"); };
  auto three = [](ListReader& rd) {
    double a, b, c;
    rd.begin();
    rd.real(a, "tstop");
    rd.real(b, "tdump");
    rd.real(c, "tdiag");
  };
  auto directory = [](ListReader& rd) { read_text(rd, "the directory"); };

  expect_contains(stop_message("2\nyes\n", [&](ListReader& rd) { answer(rd), answer(rd); }),
                  {"answers.txt, line 2", "\"yes\"", "the answer", "an integer"});
  expect_contains(stop_message("1.5\n", answer), {"\"1.5\""});
  expect_contains(stop_message("1.5x\n", tstop), {"\"1.5x\"", "tstop", "a real number"});
  expect_contains(stop_message("1e999\n", tstop), {"\"1e999\"", "range"});
  expect_contains(stop_message("", answer), {"answers.txt: end of input", "the answer"});
  expect_contains(stop_message("\n  \n", answer), {"end of input after line 2"});
  expect_contains(stop_message("1 2\n", three), {"end of input after line 1", "tdiag"});
  expect_contains(stop_message(" / 3\n", answer), {"\"/\""});
  expect_contains(stop_message("1,,2\n", three), {"tdump", "\",\""});
  expect_contains(stop_message("'myexp\n", directory), {"\"'myexp\""});
  expect_contains(stop_message("'a'b\n", directory), {"\"'a'b\""});
}
