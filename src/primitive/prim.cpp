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

// The advection scheme ORDER selects: 3 and 5 upwind, negative flux form.
// The Arakawa Jacobian (0) needs a stream function and is not available here.
void advect(State& s, Field& t, const Field& f) {
  const double order = s.par.ORDER;
  if (order == 3.0) {
    advect3(s, t, f);
  } else if (order == 5.0) {
    advect5(s, t, f);
  } else if (order < 0.0) {
    flux_form(s, t, f);
  } else {
    throw Stop(1, "ORDER = " + real_text(order) +
                      " has no advection scheme in the primitive-variable core: use 3 (third-order "
                      "upwind), 5 (fifth-order upwind) or a negative value (flux form)");
  }
}

}  // namespace

void prim(State& s, int knew, int kold, int kolder, int nstep) {
  const Par& par = s.par;
  Fields& fl = s.fields;
  Tends& td = s.tends;
  Field& tu = slot(td.tzeta, knew);  // the u tendency in this core
  Field& tw = slot(td.tw, knew);
  Field& tv = slot(td.tv, knew);
  Field& tb = slot(td.tb, knew);

  stuff(tb, 0.0);
  stuff(tv, 0.0);
  stuff(tu, 0.0);
  stuff(tw, 0.0);

  pvelo(s);
  adtime(s, s.others.cflr, s.others.cflz);
  axi1(s, s.foraxi.zadv, s.foraxi.vadv);

  // Advection; the swirl is carried as r v in axisymmetric geometry, and is
  // advected and advanced whenever it can be non-zero.
  const bool swirl = swirl_moves(s);
  advect(s, tu, fl.u);
  advect(s, tw, fl.w);
  if (swirl) advect(s, tv, s.foraxi.vadv);
  if (par.BACTIVE > 0.0) advect(s, tb, fl.b);
  if (par.AXI != 0.0) axi2(s, s.foraxi.zadv, tv);

  if (par.BACTIVE > 0.0) diffuse(s, tb, fl.b);
  // Viscous terms: plane, exact axisymmetric vector Laplacian (AXI = 1), or
  // the plane operator with the -visc f/r^2 correction (AXI >= 2).
  if (par.AXI == 0.0) {
    diffuse(s, tv, fl.v);
    diffuse(s, tu, fl.u);
    diffuse(s, tw, fl.w);
  }
  if (par.AXI == 1.0) {
    afdiff(s, tv, fl.v);
    afdiff(s, tu, fl.u);
    diffuse(s, tw, fl.w);
  }
  if (par.AXI >= 2.0) {
    diffuse(s, tv, fl.v);
    diffuse(s, tu, fl.u);
    diffuse(s, tw, fl.w);
    rterm(s, tu, fl.u);
    rterm(s, tv, fl.v);
  }

  // Body force, every step; buoyancy force when b is active.
  buoyant(s, tw, fl.bdf, s.others.bdframp);
  if (par.BACTIVE > 0.0) buoyant(s, tw, fl.b, par.FROUDEINV);
  if (par.SWIRL != 0.0 || par.AXI > 0.0) coriprim(s, tu, tv);
  if (par.BACTIVE > 0.0 && par.RAY != 0.0) strat(s, tb);

  // Impermeable walls: no flow through the bottom and top, the axis and the
  // outer wall; BUOYBOUND scales b's tendency on the bottom and top (0 holds
  // b fixed there).
  for (int i = 1; i <= NR; ++i) {
    tw(i, 1) = 0.0;
    tw(i, NR) = 0.0;
  }
  for (int i = 1; i <= NR; ++i) {
    tb(i, 1) = tb(i, 1) * par.BUOYBOUND;
    tb(i, NR) = tb(i, NR) * par.BUOYBOUND;
  }
  for (int j = 1; j <= NR; ++j) {
    tu(1, j) = 0.0;
    tu(NR, j) = 0.0;
  }
  // No-slip bottom: no tangential or swirl velocity on j = 1.
  if (par.SLIPB == 0.0) {
    for (int i = 1; i <= NR; ++i) {
      tu(i, 1) = 0.0;
      fl.u(i, 1) = 0.0;
      tv(i, 1) = 0.0;
      fl.v(i, 1) = 0.0;
    }
  }
  // No-slip outer wall: no vertical velocity on i = 91.
  if (par.SLIPS == 0.0) {
    for (int j = 1; j <= NR; ++j) {
      tw(NR, j) = 0.0;
      fl.w(NR, j) = 0.0;
    }
  }

  const double dt = checked_stepsize(s, kDtFloor, " dt too small, dt=", "primitive");

  incmp(s, tu, tw, s.others.divmax);

  abcoef(s, s.others.dtold1 * (1.0 / dt), (s.others.dtold1 + s.others.dtold2) * (1.0 / dt));
  // Euler on the first step of a run, then two and three levels.
  const int nlev = nstep >= 2 ? 3 : (nstep >= 1 ? 2 : 1);
  hop(s, nlev, knew, kold, kolder, dt, td.tzeta, fl.u);
  hop(s, nlev, knew, kold, kolder, dt, td.tw, fl.w);
  if (par.BACTIVE > 0.0) hop(s, nlev, knew, kold, kolder, dt, td.tb, fl.b);
  if (swirl) hop(s, nlev, knew, kold, kolder, dt, td.tv, fl.v);
}

}  // namespace qel
