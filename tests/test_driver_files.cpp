// Stamps, the dump schedule, the dump record and its checks, and the
// reductions of the diagnostic line.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "driver/diagnostics.hpp"
#include "driver/files.hpp"
#include "driver/state.hpp"
#include "files_testing.hpp"
#include "grid/grid.hpp"

using namespace qel;
using qel::testing::put;
using qel::testing::slurp;
using qel::testing::TempDir;

namespace {

double as_double(const std::string& bytes, std::size_t at) {
  double x;
  std::memcpy(&x, bytes.data() + at, sizeof x);
  return x;
}

std::uint32_t as_u32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= std::uint32_t(static_cast<unsigned char>(bytes[at + k])) << (8 * k);
  return v;
}

// A state whose every dumped value is distinct, so that a misplaced item shows.
std::unique_ptr<State> patterned_state() {
  auto s = std::make_unique<State>();
  std::array<double, 100> par;
  for (int m = 0; m < 100; ++m) par[std::size_t(m)] = 1000.0 + m;
  std::memcpy(&s->par, par.data(), sizeof(Par));
  Field* fields[] = {&s->fields.b, &s->fields.bdf, &s->fields.psi, &s->fields.zeta,
                     &s->fields.u, &s->fields.v,   &s->fields.w,   &s->fields.visc};
  double item = 1.0;
  for (Field* f : fields) {
    for (std::size_t k = 0; k < Field::size(); ++k) f->a[k] = item + 1e-6 * double(k);
    item += 1.0;
  }
  for (int i = 1; i <= NR; ++i) {
    s->basic.r(i) = 100.0 + i;
    s->basic.z(i) = 200.0 + i;
  }
  return s;
}

}  // namespace

TEST(Stamps, AreTimeInThousandthsTruncatedToHundredths) {
  EXPECT_EQ(dump_stamp(1.23456), 1230);
  EXPECT_EQ(dump_stamp(0.005), 0);
  EXPECT_EQ(dump_stamp(1234.5), 1234500);
  EXPECT_EQ(dump_stamp(-1.5), -1500);
  EXPECT_EQ(dump_stamp(std::nan("")), 0);
  // Far beyond the 32-bit range the stamp saturates instead of wrapping.
  const std::int64_t top = std::numeric_limits<std::int64_t>::max() / 10 * 10;
  EXPECT_EQ(dump_stamp(1e300), top);
  EXPECT_EQ(dump_stamp(-1e300), -top);
  EXPECT_EQ(dump_stamp(3e7), 30000000000LL);

  EXPECT_EQ(stamp_text(0), "000000");
  EXPECT_EQ(stamp_text(1230), "001230");
  EXPECT_EQ(stamp_text(1234500), "1234500");
  EXPECT_EQ(stamp_text(-1500), "-001500");
  EXPECT_EQ(stamp_text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(dump_name("exp", 1230), "exp/qel001230.dat");
}

TEST(DumpSchedule, DueWhenAMultipleOfTheIntervalIsCrossed) {
  EXPECT_TRUE(dump_crossed(0.9, 1.1, 1.0));
  EXPECT_FALSE(dump_crossed(1.1, 1.9, 1.0));
  // Landing exactly on a multiple dumps; leaving it does not dump again.
  EXPECT_TRUE(dump_crossed(1.5, 2.0, 1.0));
  EXPECT_FALSE(dump_crossed(2.0, 2.5, 1.0));
  // No interval, or a meaningless one: never due.
  for (double tdump : {0.0, -1.0, std::nan(""), HUGE_VAL}) EXPECT_FALSE(dump_crossed(0.5, 7.5, tdump));
  // Beyond the 32-bit range the count keeps advancing.
  EXPECT_TRUE(dump_crossed(1e10, 1e10 + 1.0, 1.0));
  EXPECT_TRUE(dump_crossed(4e9, 4e9 + 1e-3 * 4096, 1e-3));
  EXPECT_FALSE(dump_crossed(std::nan(""), std::nan(""), 1.0));
}

TEST(DumpRecord, HoldsEveryItemAtItsOffsetLittleEndian) {
  TempDir dir;
  auto s = patterned_state();
  const std::string name = dir.file("qel000000.dat");
  write_dump(*s, name);
  const std::string bytes = slurp(name);
  ASSERT_EQ(bytes.size(), 532248u);
  EXPECT_EQ(as_u32(bytes, 0), 532240u);
  EXPECT_EQ(as_u32(bytes, 532244), 532240u);
  // Payload offsets of the items (payload starts after the 4-byte marker).
  const std::size_t p = 4;
  EXPECT_EQ(as_double(bytes, p + 0), 1000.0);
  EXPECT_EQ(as_double(bytes, p + 99 * 8), 1099.0);
  const std::size_t offsets[] = {800, 67048, 133296, 199544, 265792, 332040, 398288, 464536};
  // b, bdf, psi, zeta, u, v, w, visc carry 1..8 in their first element.
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(as_double(bytes, p + offsets[k]), 1.0 + k) << "item " << k + 2;
    EXPECT_EQ(as_double(bytes, p + offsets[k] + 8 * 8280), 1.0 + k + 1e-6 * 8280) << "item " << k + 2;
  }
  EXPECT_EQ(as_double(bytes, p + 530784), 101.0);
  EXPECT_EQ(as_double(bytes, p + 531512), 201.0);
  EXPECT_EQ(as_double(bytes, p + 531512 + 90 * 8), 291.0);

  // Written through a temporary file: nothing else is left in the directory.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path),
                          std::filesystem::directory_iterator()), 1);
}

TEST(DumpRecord, ForeignFramingIsRefusedWithoutTouchingTheState) {
  TempDir dir;
  const std::string good_name = dir.file("good.dat");
  write_dump(*patterned_state(), good_name);
  const std::string good = slurp(good_name);

  std::string swapped = good;
  std::swap(swapped[0], swapped[3]);
  std::swap(swapped[1], swapped[2]);
  std::string bad_trailer = good;
  bad_trailer[532244] = 0x11;
  struct Case {
    const char* label;
    std::string bytes;
    const char* found;
  } cases[] = {
      {"empty", "", "holds 0 bytes"},
      {"short", good.substr(0, 1000), "holds 1000 bytes"},
      {"long", good + "x", "holds 532249 bytes"},
      {"big-endian", swapped, "big-endian"},
      {"trailer", bad_trailer, "trailing length marker is"},
      {"text", "&F\n TIME=0.0,\n /\n", "leading length marker is"},
  };
  for (const Case& c : cases) {
    const std::string name = dir.file(std::string(c.label) + ".dat");
    put(name, c.bytes);
    auto s = std::make_unique<State>();
    s->par.TIME = -7.0;
    s->fields.u(5, 5) = 3.0;
    try {
      read_dump(*s, name);
      ADD_FAILURE() << c.label << ": accepted";
    } catch (const Stop& e) {
      EXPECT_EQ(e.status, 2) << c.label;
      const std::string msg = e.what();
      EXPECT_NE(msg.find(name), std::string::npos) << msg;
      EXPECT_NE(msg.find(c.found), std::string::npos) << msg;
    }
    EXPECT_EQ(s->par.TIME, -7.0) << c.label;
    EXPECT_EQ(s->fields.u(5, 5), 3.0) << c.label;
    EXPECT_EQ(slurp(name), c.bytes) << c.label;
  }

  try {
    read_dump(*std::make_unique<State>(), dir.file("qel000500.dat"));
    ADD_FAILURE() << "missing file accepted";
  } catch (const Stop& e) {
    EXPECT_EQ(e.status, 2);
    EXPECT_NE(std::string(e.what()).find("qel000500.dat: No such file"), std::string::npos) << e.what();
  }
}

// rmax and rmin keep the sign and replace the running value by equal ones,
// so the last of several equal extremes wins (visible in the sign of zero).
TEST(Reductions, ExtremesAreSignedAndTheLastEqualOneWins) {
  auto f = std::make_unique<Field>();
  (*f)(40, 60) = -5.0;
  EXPECT_EQ(rmax(*f), 0.0);
  EXPECT_EQ(rmin(*f), -5.0);
  (*f)(40, 60) = 0.0;
  (*f)(1, 1) = -5.0;
  EXPECT_EQ(rmax(*f), 0.0);
  EXPECT_EQ(rmin(*f), -5.0);
  (*f)(91, 91) = 2.0;
  EXPECT_EQ(rmax(*f), 2.0);

  f->fill(0.0);
  (*f)(91, 91) = -0.0;
  EXPECT_TRUE(std::signbit(rmax(*f)));
  EXPECT_TRUE(std::signbit(rmin(*f)));

  // A NaN counts only where the search starts.
  f->fill(1.0);
  (*f)(2, 1) = std::nan("");
  EXPECT_EQ(rmax(*f), 1.0);
  EXPECT_EQ(rmin(*f), 1.0);
  (*f)(1, 1) = std::nan("");
  EXPECT_TRUE(std::isnan(rmax(*f)));
}

TEST(Reductions, PressureDeficitIsRelativeToTheOuterBottomCell) {
  auto s = std::make_unique<State>();
  CellView p = s->fields.p();
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) p(k, l) = 3.75;
  s->fields.psi(91, 91) = -100.0;  // beyond the 8100 cell values: ignored
  EXPECT_EQ(rmp(s->fields.p()), 0.0);
  for (int l = 1; l <= NC; ++l)
    for (int k = 1; k <= NC; ++k) p(k, l) = k + 100.0 * l;
  EXPECT_EQ(rmp(s->fields.p()), (1.0 + 100.0) - (90.0 + 100.0));
}

TEST(Reductions, ColumnPressureContrastOfSimpleBuoyancy) {
  auto s = std::make_unique<State>();
  s->par.RWID = 2.0;
  s->par.HITE = 1.5;
  s->par.STR = 0.7;
  s->par.STZ = 0.4;
  maketrans(*s);
  const int ilo = band_low(s->basic.r), ihi = band_high(s->basic.r);
  ASSERT_LE(s->basic.r(ilo), 0.5);
  ASSERT_GT(s->basic.r(ilo + 1), 0.5);
  ASSERT_GE(s->basic.r(ihi), 1.0);
  ASSERT_LT(s->basic.r(ihi - 1), 1.0);

  EXPECT_EQ(bpres(*s, ilo, ihi), 0.0);
  for (int i = 1; i <= NR; ++i) EXPECT_EQ(s->phyd(i), 0.0);

  // b = 1: every column integrates to -HITE. Each sum is 90 terms of a
  // couple of roundings each on values no larger than HITE; allow 4 ulps of
  // HITE per term.
  const double eps = std::numeric_limits<double>::epsilon();
  s->fields.b.fill(1.0);
  const double uniform = bpres(*s, ilo, ihi);
  for (int i = 1; i <= NR; ++i) EXPECT_NEAR(s->phyd(i), -1.5, 90 * 4 * eps * 1.5);
  EXPECT_NEAR(uniform, 0.0, 2 * 90 * 4 * eps * 1.5);

  // b = r: phyd = -HITE r, linear in r, so the trapezoidal mean over the band
  // is exact: the contrast is HITE (r(ilo) + r(ihi)) / 2. Up to 90 terms in z
  // and 90 in r, magnitudes no larger than HITE RWID = 3.
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) s->fields.b(i, j) = s->basic.r(i);
  const double expect = 1.5 * (s->basic.r(ilo) + s->basic.r(ihi)) / 2.0;
  EXPECT_NEAR(bpres(*s, ilo, ihi), expect, (90 + 90) * 4 * eps * 3.0);

  // A domain no wider than 0.5 has no band: 0/0 on every line.
  s->par.RWID = 0.5;
  maketrans(*s);
  EXPECT_EQ(band_low(s->basic.r), NR);
  EXPECT_EQ(band_high(s->basic.r), NR);
  EXPECT_TRUE(std::isnan(bpres(*s, NR, NR)));
  // A NaN width leaves no radius <= 0.5 at all; the band is undefined.
  s->par.RWID = std::nan("");
  maketrans(*s);
  EXPECT_EQ(band_low(s->basic.r), 0);
  EXPECT_TRUE(std::isnan(bpres(*s, 0, band_high(s->basic.r))));
}
