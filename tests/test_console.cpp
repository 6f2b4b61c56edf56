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
