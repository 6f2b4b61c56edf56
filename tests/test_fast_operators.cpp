// The operators arranged for speed against their plain-loop oracles:
// random fields on random grids, every geometry and option, the outputs
// compared bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "grid/grid.hpp"
#include "oracles/oracles.hpp"
#include "transport/transport.hpp"
#include "vorticity/vorticity.hpp"

using namespace qel;

namespace {

// A grid of random extent and stretching (r and z apart), random fields with both signs,
// exact zeros (+0 and -0) among the velocities and mass fluxes so that every branch of the
// upwind choices is taken, random slip switches, centred or upwind-biased faces (ORDER -1
// or -3) and on every third grid a reference density other than 1.
std::unique_ptr<State> random_state(unsigned seed, double axi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.0 + 0.5 * u(gen), p.HITE = 1.5 + 0.5 * u(gen), p.STR = 0.5 + 0.4 * u(gen);
  p.STZ = 0.8 + 0.4 * u(gen), p.AXI = axi, p.SLIPB = 0.5 + 0.5 * u(gen), p.SLIPT = 0.0, p.SLIPS = 1.0;
  p.SWIRL = u(gen), p.RAY = seed % 2 ? 0.0 : 2.0 + u(gen), p.ORDER = seed / 2 % 2 ? -3.0 : -1.0;
  maketrans(*s);
  for (int k = 1; seed % 3 == 0 && k <= NR; ++k) s->basic.rho(k) = s->basic.rhoc(k) = 1.0 + 0.2 * u(gen);
  for (int k = 1; seed % 3 == 0 && k <= NC; ++k) s->basic.rhoh(k) = 1.0 + 0.2 * u(gen);
  auto fill = [&](auto& f, bool zeros, double scale, double shift) {
    for (double& x : f.a) x = zeros && gen() % 7 == 0 ? (gen() % 2 ? 0.0 : -0.0) : scale * (shift + u(gen));
  };
  Fields& f = s->fields;
  for (Field* x : {&f.psi, &f.zeta, &f.v, &f.b, &f.u, &f.w, &s->foraxi.zadv}) fill(*x, false, 1.0, 0.0);
  for (Field* x : {&s->contra.ucon, &s->contra.wcon, &s->others.flr, &s->others.flz}) fill(*x, true, 1.0, 0.0);
  fill(f.visc, false, 1e-3, 1.5), fill(f.viscp, false, 1e-3, 1.5);
  for (Tend* t : {&s->tends.tzeta, &s->tends.tv, &s->tends.tb})
    for (Field& x : *t) fill(x, false, 1.0, 0.0);
  return s;
}

// Each fast operator and its oracle applied to the tendency they add to.
#define BOTH(op, t, f) \
  {#op, [](State& x) { op(x, x.t, x.f); }, [](State& x) { op##_oracle(x, x.t, x.f); }}
const struct { const char* name; void (*fast)(State&), (*plain)(State&); } kOps[] = {
    BOTH(advect3, tends.tv[1], fields.v), BOTH(advect5, tends.tv[1], fields.v),
    BOTH(diffuse, tends.tv[1], fields.v), BOTH(afdiff, tends.tv[1], fields.v),
    BOTH(arakawa, tends.tzeta[1], foraxi.zadv), BOTH(marat, tends.tzeta[1], foraxi.zadv)};

}  // namespace

TEST(FastOperators, TransportAndVorticityOperatorsMatchTheirOraclesBitForBit) {
  for (unsigned seed = 1; seed <= 6; ++seed)
    for (double axi : {0.0, 1.0, 2.0}) {
      const auto s = random_state(seed, axi);
      for (const auto& op : kOps) {
        auto a = std::make_unique<State>(*s), b = std::make_unique<State>(*s);
        op.fast(*a), op.plain(*b);
        for (Tend Tends::*t : {&Tends::tv, &Tends::tzeta})
          EXPECT_EQ(std::memcmp((a->tends.*t)[1].data(), (b->tends.*t)[1].data(), sizeof(Field::a)), 0)
              << op.name << " seed " << seed << " AXI " << axi;
      }
    }
}
