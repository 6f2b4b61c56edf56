// The row-by-row pressure sweeps and pressure force against their column-by-
// column oracles: the same bits in every geometry and wall setting, for any
// number of sweeps, the 1000 of a first step included.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "grid/grid.hpp"
#include "oracles/oracles.hpp"
#include "primitive/primitive.hpp"

using namespace qel;

namespace {

bool same(const Field& a, const Field& b) { return std::memcmp(a.data(), b.data(), sizeof a.a) == 0; }

// The pressure and the first-slot tendencies of two states agree to the bit.
bool same_state(State& a, State& b) {
  return same(a.fields.psi, b.fields.psi) && same(slot(a.tends.tzeta, 1), slot(b.tends.tzeta, 1)) &&
         same(slot(a.tends.tw, 1), slot(b.tends.tw, 1));
}

// A state on a stretched grid with r and z apart and every field the pressure touches
// drawn at random: velocities, tendencies (first slots) and the cell pressure.
std::unique_ptr<State> random_state(double axi, double slipb, double slips, unsigned seed) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.3, p.HITE = 0.9, p.STR = 0.8, p.STZ = 0.7, p.AXI = axi, p.DT = 0.013, p.RLX = 1.6;
  p.SLIPB = slipb, p.SLIPS = slips, p.TIME = 2.0;
  maketrans(*s);
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (Field* f : {&s->fields.u, &s->fields.w, &slot(s->tends.tzeta, 1), &slot(s->tends.tw, 1)})
    for (double& x : f->a) x = d(gen);
  for (int n = 0; n < NC * NC; ++n) s->fields.psi.data()[n] = 3.0 * d(gen);
  return s;
}

// incmp and its oracle on copies of base: the same pressure, tendencies, console text
// and divergence diagnostic (its bits, NaN included), which is returned.
double expect_same_incmp(const State& base, double time, double pit, const std::string& at) {
  std::ostringstream oa, ob;
  auto a = std::make_unique<State>(base), b = std::make_unique<State>(base);
  a->out = &oa, b->out = &ob;
  a->par.TIME = b->par.TIME = time, a->par.PIT = b->par.PIT = pit;
  double da = -1.0, db = -2.0;
  incmp(*a, slot(a->tends.tzeta, 1), slot(a->tends.tw, 1), da);
  incmp_oracle(*b, slot(b->tends.tzeta, 1), slot(b->tends.tw, 1), db);
  EXPECT_TRUE(same_state(*a, *b)) << at;
  EXPECT_EQ(std::memcmp(&da, &db, sizeof da), 0) << at;
  EXPECT_EQ(oa.str(), ob.str()) << at;
  // The pressure moved: the comparison is not of two idle routines.
  EXPECT_NE(a->fields.psi.a, base.fields.psi.a) << at;
  return da;
}

}  // namespace

TEST(PressureSweep, FastSweepsAndForceMatchTheOracleBitForBit) {
  unsigned seed = 1;
  for (double axi : {0.0, 1.0})
    for (double slipb : {0.0, 1.0})
      for (double slips : {0.0, 0.5}) {
        const auto base = random_state(axi, slipb, slips, seed++);
        const std::string at = "AXI " + std::to_string(axi) + " SLIPB " + std::to_string(slipb) +
                               " SLIPS " + std::to_string(slips);
        // The pressure force alone into other fields (the rows it leaves alone keep their
        // 5); in place it ends every incmp below.
        Field ra{}, za{}, rb{}, zb{};
        za.fill(5.0), zb.fill(5.0);
        pforce(*base, ra, slot(base->tends.tzeta, 1), za, slot(base->tends.tw, 1));
        pforce_oracle(*base, rb, slot(base->tends.tzeta, 1), zb, slot(base->tends.tw, 1));
        EXPECT_TRUE(same(ra, rb) && same(za, zb)) << at;
        // The sweeps and the final force, TIME = 0 taking 1000 sweeps.
        for (const auto& [time, pit] : {std::pair{2.0, 1.0}, {2.0, 2.0}, {2.0, 7.9}, {2.0, 20.0}, {0.0, 20.0}})
          expect_same_incmp(*base, time, pit, at + " PIT " + std::to_string(pit) + " TIME " + std::to_string(time));
      }
  // A NaN in the velocity: the divergence diagnostic keeps the same NaN.
  const auto base = random_state(1.0, 1.0, 1.0, 99);
  base->fields.w(40, 50) = std::nan(""), base->fields.u(70, 20) = -std::nan("");
  EXPECT_TRUE(std::isnan(expect_same_incmp(*base, 2.0, 3.0, "NaN")));
}
