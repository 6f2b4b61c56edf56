// The operators arranged for speed against their plain-loop oracles:
// random fields on random grids, every geometry and option, the outputs
// compared bit for bit.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "grid/grid.hpp"
#include "oracles/oracles.hpp"
#include "transport/transport.hpp"
#include "vorticity/vorticity.hpp"

using namespace qel;

namespace {

// A grid of random extent and stretching, random fields with both signs,
// exact zeros (+0 and -0) among the velocities and mass fluxes so that every branch of the
// upwind choices is taken, and random slip switches.
std::unique_ptr<State> random_state(unsigned seed, double axi) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.RWID = 1.0 + 0.5 * u(gen), p.HITE = 1.5 + 0.5 * u(gen);
  p.STR = 0.5 + 0.4 * u(gen), p.STZ = 0.8 + 0.4 * u(gen), p.AXI = axi;
  p.SLIPB = 0.5 + 0.5 * u(gen), p.SLIPT = 0.0, p.SLIPS = 1.0;
  p.SWIRL = u(gen), p.RAY = seed % 2 ? 0.0 : 2.0 + u(gen);
  maketrans(*s);
  // A reference density other than 1 on every third grid.
  for (int k = 1; seed % 3 == 0 && k <= NR; ++k) s->basic.rho(k) = s->basic.rhoc(k) = 1.0 + 0.2 * u(gen);
  for (int k = 1; seed % 3 == 0 && k <= NC; ++k) s->basic.rhoh(k) = 1.0 + 0.2 * u(gen);
  auto fill = [&](Field& f, bool zeros) {
    for (double& x : f.a) {
      x = u(gen);
      if (zeros && gen() % 7 == 0) x = gen() % 2 ? 0.0 : -0.0;
    }
  };
  Fields& f = s->fields;
  for (Field* x : {&f.psi, &f.zeta, &f.v, &f.b, &f.u, &f.w, &s->foraxi.zadv}) fill(*x, false);
  for (Field* x : {&s->contra.ucon, &s->contra.wcon, &s->others.flr, &s->others.flz}) fill(*x, true);
  fill(f.visc, false);
  for (double& x : f.visc.a) x = 1e-3 * (1.5 + x);
  for (double& x : f.viscp.a) x = 1e-3 * (1.5 + u(gen));
  for (Tend* t : {&s->tends.tzeta, &s->tends.tv, &s->tends.tb})
    for (Field& x : *t) fill(x, false);
  return s;
}

bool same_bits(const Field& a, const Field& b) { return std::memcmp(a.data(), b.data(), sizeof(a.a)) == 0; }

// The output of Op and Ref on a copy of the same state, compared field by
// field.
template <class Op, class Ref, class Out>
void expect_same(const State& s0, Op op, Ref ref, Out outputs, const std::string& what) {
  auto a = std::make_unique<State>(s0);
  auto b = std::make_unique<State>(s0);
  op(*a);
  ref(*b);
  const auto xs = outputs(*a), ys = outputs(*b);
  for (std::size_t n = 0; n < xs.size(); ++n)
    EXPECT_TRUE(same_bits(*xs[n], *ys[n])) << what << ", output " << n + 1;
}

using Fs = std::vector<Field*>;

// The fast form of `op` and its _oracle form on the arguments given (the
// state being x), outputs compared; `at` names the case.
#define EXPECT_SAME(state, op, outputs, at, ...)                \
  expect_same(state, [](State& x) { op(x, __VA_ARGS__); },     \
              [](State& x) { op##_oracle(x, __VA_ARGS__); }, outputs, #op " " + (at))

}  // namespace

TEST(FastOperators, TransportMatchesTheStraightforwardFormsBitForBit) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    for (double axi : {0.0, 1.0, 2.0}) {
      const auto s = random_state(seed, axi);
      const std::string at = "seed " + std::to_string(seed) + " AXI " + std::to_string(axi);
      auto tv = [](State& x) { return Fs{&x.tends.tv[1]}; };
      EXPECT_SAME(*s, advect3, tv, at, x.tends.tv[1], x.fields.v);
      EXPECT_SAME(*s, advect5, tv, at, x.tends.tv[1], x.fields.v);
      EXPECT_SAME(*s, diffuse, tv, at, x.tends.tv[1], x.fields.v);
      EXPECT_SAME(*s, afdiff, tv, at, x.tends.tv[1], x.fields.v);
    }
  }
}

TEST(FastOperators, VorticityOperatorsMatchTheirOraclesBitForBit) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    for (double axi : {0.0, 1.0, 2.0}) {
      const auto s = random_state(seed, axi);
      const std::string at = "seed " + std::to_string(seed) + " AXI " + std::to_string(axi);
      auto tz = [](State& x) { return Fs{&x.tends.tzeta[1]}; };
      for (double order : {0.0, -1.0, -3.0, -5.0}) {
        auto s1 = std::make_unique<State>(*s);
        s1->par.ORDER = order;
        const std::string o = "ORDER " + std::to_string(order) + " " + at;
        EXPECT_SAME(*s1, arakawa, tz, o, x.tends.tzeta[1], x.foraxi.zadv);
        EXPECT_SAME(*s1, marat, tz, o, x.tends.tzeta[1], x.foraxi.zadv);
      }
    }
  }
}
