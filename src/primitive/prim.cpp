#include <string>

#include "model/render.hpp"
#include "primitive/primitive.hpp"
#include "timeint/timeint.hpp"
#include "transport/transport.hpp"
#include "vorticity/vorticity.hpp"

namespace qel {

namespace {

// 1.0E-5 in single precision, widened: the smallest step this core takes.
constexpr double kDtFloor = 9.999999747378752E-6;

using Scheme = void (*)(State&, Field&, const Field&);

void upwind3(State& s, Field& t, const Field& f) { advect3(s, t, f); }
void upwind5(State& s, Field& t, const Field& f) { advect5(s, t, f); }

// The advection operator ORDER selects: 3 and 5 upwind, negative flux form.
// The Arakawa Jacobian (0) needs a stream function and is not available
// here; an ORDER without a scheme stops the run before anything is done.
Scheme advection_scheme(double order) {
  if (order == 3.0) return upwind3;
  if (order == 5.0) return upwind5;
  if (order < 0.0) return flux_form;
  throw Stop(1, "ORDER = " + real_text(order) +
                    " has no advection scheme in the primitive-variable core: use 3 (third-order "
                    "upwind), 5 (fifth-order upwind) or a negative value (flux form)");
}

// T += -(u.grad)F for u, w, the swirl (carried as r v in axisymmetric
// geometry, whenever it can be non-zero) and an active b; then the
// axisymmetric swirl terms.
void advect_all(State& s, Scheme advect, bool swirl, Field& tu, Field& tw, Field& tv, Field& tb) {
  const Fields& f = s.fields;
  advect(s, tu, f.u);
  advect(s, tw, f.w);
  if (swirl) advect(s, tv, s.foraxi.vadv);
  if (s.par.BACTIVE > 0.0) advect(s, tb, f.b);
  if (s.par.AXI != 0.0) axi2(s, s.foraxi.zadv, tv);
}

// Viscous terms of the velocities: the plane Laplacian (AXI = 0), the exact
// axisymmetric vector Laplacian of v and u with the plane one of w (AXI = 1),
// or the plane Laplacian with -visc f/r^2 added for u and v (AXI >= 2).
void diffuse_momentum(State& s, Field& tu, Field& tw, Field& tv) {
  const double axi = s.par.AXI;
  const Fields& f = s.fields;
  if (axi == 0.0) {
    diffuse(s, tv, f.v);
    diffuse(s, tu, f.u);
    diffuse(s, tw, f.w);
  } else if (axi == 1.0) {
    afdiff(s, tv, f.v);
    afdiff(s, tu, f.u);
    diffuse(s, tw, f.w);
  } else if (axi >= 2.0) {
    diffuse(s, tv, f.v);
    diffuse(s, tu, f.u);
    diffuse(s, tw, f.w);
    rterm(s, tu, f.u);
    rterm(s, tv, f.v);
  }
}

// The body force every step (ramped by bdframp), the buoyancy force of an
// active b, the rotating frame and the background stratification.
void add_forces(State& s, Field& tu, Field& tw, Field& tv, Field& tb) {
  const Par& p = s.par;
  buoyant(s, tw, s.fields.bdf, s.others.bdframp);
  if (p.BACTIVE > 0.0) buoyant(s, tw, s.fields.b, p.FROUDEINV);
  if (p.SWIRL != 0.0 || p.AXI > 0.0) coriprim(s, tu, tv);
  if (p.BACTIVE > 0.0 && p.RAY != 0.0) strat(s, tb);
}

// The walls, on the tendencies (and, for no-slip, the velocities):
// - bottom (j = 1) and top (j = 91) are impermeable: no w; b's tendency
//   there is scaled by BUOYBOUND (0 holds b fixed on them);
// - the axis (i = 1) and the outer wall (i = 91) are impermeable: no u;
// - a no-slip bottom (SLIPB = 0) grips the fluid: neither u nor the swirl v;
// - a no-slip outer wall (SLIPS = 0) lets no fluid slide along it: no w.
void apply_wall_conditions(State& s, Field& tu, Field& tw, Field& tv, Field& tb) {
  const Par& p = s.par;
  Fields& f = s.fields;
  for (int i = 1; i <= NR; ++i) {
    tw(i, 1) = 0.0;
    tw(i, NR) = 0.0;
  }
  for (int i = 1; i <= NR; ++i) {
    tb(i, 1) = tb(i, 1) * p.BUOYBOUND;
    tb(i, NR) = tb(i, NR) * p.BUOYBOUND;
  }
  for (int j = 1; j <= NR; ++j) {
    tu(1, j) = 0.0;
    tu(NR, j) = 0.0;
  }
  if (p.SLIPB == 0.0) {
    for (int i = 1; i <= NR; ++i) {
      tu(i, 1) = 0.0;
      f.u(i, 1) = 0.0;
      tv(i, 1) = 0.0;
      f.v(i, 1) = 0.0;
    }
  }
  if (p.SLIPS == 0.0) {
    for (int j = 1; j <= NR; ++j) {
      tw(NR, j) = 0.0;
      f.w(NR, j) = 0.0;
    }
  }
}

}  // namespace

// The steps, in order:
//  1. the advection scheme ORDER selects, and whether the swirl moves;
//  2. tendencies cleared; mass fluxes, Courant numbers and the quantities
//     advected for the swirl;
//  3. advection of u, w, v and b, and the axisymmetric swirl terms;
//  4. diffusion of b and the viscous terms of the velocities;
//  5. body, buoyancy, Coriolis and stratification forces;
//  6. wall conditions on the tendencies;
//  7. the step DT from the Courant and diffusion limits (a stop below 1.0E-5);
//  8. pressure correction of the u and w tendencies;
//  9. Adams-Bashforth update of u, w, an active b and a moving swirl.
void prim(State& s, int knew, int kold, int kolder, int nstep) {
  const Par& par = s.par;
  Fields& fl = s.fields;
  Tends& td = s.tends;
  Field& tu = slot(td.tu(), knew);
  Field& tw = slot(td.tw, knew);
  Field& tv = slot(td.tv, knew);
  Field& tb = slot(td.tb, knew);

  const Scheme advect = advection_scheme(par.ORDER);
  const bool swirl = swirl_moves(s);

  stuff(tb, 0.0);
  stuff(tv, 0.0);
  stuff(tu, 0.0);
  stuff(tw, 0.0);
  pvelo(s);
  adtime(s, s.others.cflr, s.others.cflz);
  axi1(s, s.foraxi.zadv, s.foraxi.vadv);

  advect_all(s, advect, swirl, tu, tw, tv, tb);

  if (par.BACTIVE > 0.0) diffuse(s, tb, fl.b);
  diffuse_momentum(s, tu, tw, tv);

  add_forces(s, tu, tw, tv, tb);
  apply_wall_conditions(s, tu, tw, tv, tb);

  const double dt = checked_stepsize(s, kDtFloor, " dt too small, dt=", "primitive");

  incmp(s, tu, tw, s.others.divmax);

  abcoef(s, s.others.dtold1 * (1.0 / dt), (s.others.dtold1 + s.others.dtold2) * (1.0 / dt));
  const int nlev = adams_levels(nstep);
  hop(s, nlev, knew, kold, kolder, dt, td.tu(), fl.u);
  hop(s, nlev, knew, kold, kolder, dt, td.tw, fl.w);
  if (par.BACTIVE > 0.0) hop(s, nlev, knew, kold, kolder, dt, td.tb, fl.b);
  if (swirl) hop(s, nlev, knew, kold, kolder, dt, td.tv, fl.v);
}

}  // namespace qel
