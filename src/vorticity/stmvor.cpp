#include <string>

#include "model/render.hpp"
#include "elliptic/elliptic.hpp"
#include "timeint/timeint.hpp"
#include "transport/transport.hpp"
#include "vorticity/vorticity.hpp"

namespace qel {

namespace {

// Below this step the flow is taken to be blowing up: 1.0E-6 in single
// precision, widened.
constexpr double kDtFloor = 9.999999974752427E-7;

using Scheme = void (*)(State&, Field&, const Field&);

void upwind3(State& s, Field& t, const Field& a) { advect3(s, t, a); }
void upwind5(State& s, Field& t, const Field& a) { advect5(s, t, a); }

// The advection operator that ORDER selects; an invalid ORDER stops the run
// before anything is advected.
Scheme advection_scheme(double order) {
  if (order == 3.0) return upwind3;
  if (order == 5.0) return upwind5;
  if (order == 0.0) return arakawa;
  if (order < 0.0) return marat;
  throw Stop(1, "ORDER = " + real_text(order) +
                    " selects no advection scheme of the vorticity core; valid values are 3 or 5 "
                    "(upwind), 0 (Arakawa Jacobian) or any negative value (flux form: "
                    "-2 <= ORDER < 0 centred, ORDER < -2 upwind-biased)");
}

// Diffusion of vorticity and swirl: plane Laplacian, the axisymmetric vector
// Laplacian (AXI = 1), or the Laplacian with the -visc f/r^2 terms (AXI >= 2).
void diffuse_vorticity_and_swirl(State& s, Field& tz, Field& tv) {
  const Par& p = s.par;
  Fields& f = s.fields;
  if (p.AXI == 0.0) {
    if (p.REI > 0.0) diffuse(s, tv, f.v);
    if (p.REI > 0.0) diffuse(s, tz, f.zeta);
  } else if (p.AXI == 1.0) {
    afdiff(s, tv, f.v);
    afdiff(s, tz, f.zeta);
  } else if (p.AXI >= 2.0) {
    diffuse(s, tv, f.v);
    diffuse(s, tz, f.zeta);
    rterm(s, tz, f.zeta);
    rterm(s, tv, f.v);
  }
}

// The vorticity on all four edges comes only from the wall rules; the
// buoyancy tendency on the bottom and top rows is scaled by BUOYBOUND.
void mask_walls(State& s, Field& tz, Field& tb) {
  for (int i = 1; i <= NR; ++i) {
    tz(i, 1) = 0.0;
    tz(i, NR) = 0.0;
  }
  for (int j = 1; j <= NR; ++j) {
    tz(1, j) = 0.0;
    tz(NR, j) = 0.0;
  }
  const double bb = s.par.BUOYBOUND;
  for (int i = 1; i <= NR; ++i) {
    tb(i, 1) = tb(i, 1) * bb;
    tb(i, NR) = tb(i, NR) * bb;
  }
}

}  // namespace

bool swirl_moves(const State& s) {
  if (s.par.SWIRL != 0.0) return true;
  for (const double x : s.fields.v.a)
    if (x != 0.0) return true;
  return false;
}

// The steps, in order:
//  1. tendencies cleared; velocities and mass fluxes from psi, Courant
//     numbers and the quantities advected (zeta or zeta/r, v or r v);
//  2. the advection scheme ORDER selects; advection of zeta, a moving swirl
//     and an active b, and the axisymmetric terms;
//  3. diffusion of b, vorticity and swirl;
//  4. baroclinic torque, Coriolis and stratification terms;
//  5. wall masks on the tendencies;
//  6. the step DT from the Courant and diffusion limits (a stop below 1.0E-6);
//  7. Adams-Bashforth update of zeta, an active b and v;
//  8. the stream function from zeta (PIT selects the solver), then the wall
//     vorticity from it.
void stmvor(State& s, int knew, int kold, int kolder, int nstep) {
  Par& p = s.par;
  Fields& f = s.fields;
  Others& o = s.others;
  Field& tz = slot(s.tends.tzeta, knew);
  Field& tv = slot(s.tends.tv, knew);
  Field& tb = slot(s.tends.tb, knew);

  stuff(tb, 0.0);
  stuff(tv, 0.0);
  stuff(tz, 0.0);
  velocity(s);
  adtime(s, o.cflr, o.cflz);
  axi1(s, s.foraxi.zadv, s.foraxi.vadv);

  const Scheme advect = advection_scheme(p.ORDER);
  advect(s, tz, s.foraxi.zadv);
  if (swirl_moves(s)) advect(s, tv, s.foraxi.vadv);
  if (p.BACTIVE > 0.0) advect(s, tb, f.b);
  if (p.AXI != 0.0) axi2(s, tz, tv);

  if (p.REI > 0.0 && p.BACTIVE > 0.0) diffuse(s, tb, f.b);
  diffuse_vorticity_and_swirl(s, tz, tv);

  torque(s, tz, f.b);
  if (p.SWIRL != 0.0 || p.AXI > 0.0) coriolis(s, tz, tv);
  if (p.BACTIVE > 0.0 && p.RAY != 0.0) strat(s, tb);
  mask_walls(s, tz, tb);

  const double dt =
      checked_stepsize(s, kDtFloor, " dt too small, model is blowing up: now dt=", "vorticity");
  const double rdt = 1.0 / dt;
  abcoef(s, o.dtold1 * rdt, (o.dtold1 + o.dtold2) * rdt);

  const int nlev = adams_levels(nstep);
  hop(s, nlev, knew, kold, kolder, dt, s.tends.tzeta, f.zeta);
  if (p.BACTIVE > 0.0) hop(s, nlev, knew, kold, kolder, dt, s.tends.tb, f.b);
  hop(s, nlev, knew, kold, kolder, dt, s.tends.tv, f.v);

  // PIT = 0: single-precision cyclic reduction; PIT < 0: exact solve in
  // double precision; otherwise int(PIT) Jacobi iterations.
  if (p.PIT == 0.0)
    poiblk(s, f.zeta, f.psi, s.basic.r, s.basic.rho);
  else if (p.PIT < 0.0)
    solve_stream(s, f.zeta, f.psi, s.basic.r, s.basic.rho);
  else
    iterate(s, f.zeta, f.psi, s.basic.r, s.basic.rho);
  boundary(s);
}

}  // namespace qel
