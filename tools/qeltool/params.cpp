// qeltool params: the reference of the 36 run parameters of group F, the one
// table from which docs/parameters.md is made. Each entry says what the
// member means, where it enters the equations, which core reads it, what
// non-dimensional group it is, typical values; the valid range comes from
// the range table the reading checks use.
#include <ostream>
#include <string>
#include <string_view>

#include "model/ranges.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

struct ParDoc {
  std::string_view name;
  std::string_view meaning;  // what the member is
  std::string_view enters;   // the equation and term it enters
  std::string_view core;     // who reads it: vorticity, primitive, both, driver, grid, none
  std::string_view group;    // the non-dimensional group it is
  std::string_view typical;  // values of the examples and of common studies
  bool used;                 // whether any computation reads it
};

// Group order. The model has no units: lengths are in units of a length
// scale L, velocities of U, times of L/U.
constexpr ParDoc kDocs[kNamelistSize] = {
    {"TIME", "model time; reset to 0 on a fresh start, advanced by DT every step",
     "t: the body-force ramp min(1, t/BDFTURNON); the dump stamp", "driver, both",
     "time in units of L/U", "0 (fresh start); the dump's time on a restart", true},
    {"DT", "time step; each core sets it every step from its limits before using it",
     "Adams-Bashforth update f += DT (a1 T1 + a2 T2 + a3 T3); with USEPRIM < 0 the step taken",
     "both", "time in units of L/U", "output only (set by the core); 0.01-0.05 with USEPRIM < 0",
     true},
    {"DTMAX", "upper limit of the time step", "DT = min(CFL/max(cflr, cflz, 1e-6), DIFF/diffmax, DTMAX)",
     "both", "time in units of L/U", "0.01-0.05", true},
    {"CFL", "Courant number of the advective step limit", "DT <= CFL / max(abs(u) mr, abs(w) mz)",
     "both", "Courant number", "0.4-0.5", true},
    {"DIFF", "diffusion number of the viscous step limit",
     "DT <= DIFF / max(visc (1/dr^2 + 1/dz^2)); stable below about 0.13 with third-order steps",
     "both", "diffusion number nu DT / dx^2", "0.1-0.12", true},
    {"USEPRIM", "dynamical core", "0 vorticity/stream-function core, > 0 primitive core, < 0 no dynamics",
     "driver", "switch", "0 or 1", true},
    {"ORDER", "advection scheme",
     "-(u.grad)f: 3 or 5 upwind of that order, 0 Arakawa Jacobian (vorticity core only), < 0 "
     "flux form (-2 <= ORDER < 0 centred, below -2 upwind-biased)",
     "both", "switch", "3", true},
    {"REI", "viscosity of the fluid (also the diffusivity of b)",
     "visc = max(REI, 2 REIT (z + 0.5 - HITE)) in the diffusion of zeta, v, u, w and b",
     "both", "inverse Reynolds number 1/Re = nu/(U L)", "1e-3-5e-3", true},
    {"REIT", "viscosity reached at the top (a sponge lid)",
     "visc rises linearly over the top half unit of height to REIT at z = HITE when REIT > REI",
     "both", "inverse Reynolds number at the lid", "equal to REI (no lid) or 2-10 REI", true},
    {"RWID", "radius (width) of the domain", "r(91) = RWID", "grid", "length in units of L",
     "1-2", true},
    {"HITE", "height of the domain", "z(91) = HITE; the lid of the viscosity profile", "grid",
     "length in units of L", "1-2", true},
    {"STR", "grid stretching along r",
     "r = RWID g(s; STR), g = (s^3 (2 - a) + a s)/(s^2 + 1): first spacing about STR RWID/90",
     "grid", "slope of the grid map at the axis", "0.5-1 (1 uniform, < 1 refined at the axis)",
     true},
    {"STZ", "grid stretching along z", "z = HITE g(s; STZ): first spacing about STZ HITE/90",
     "grid", "slope of the grid map at the bottom", "0.5-1 (1 uniform, < 1 refined at the bottom)",
     true},
    {"PIT", "elliptic solve of each step",
     "vorticity core: 0 single-precision cyclic reduction, < 0 double-precision direct solve, > 0 "
     "that many pairs of Jacobi sweeps for psi; primitive core: <= 0 double-precision direct "
     "pressure solve, > 0 that many pressure sweeps",
     "both", "switch / sweep count", "0", true},
    {"RLX", "relaxation factor of the pressure sweeps",
     "p += RLX (div target - div) / ((mzh^2 + mrh^2) rh) per sweep", "primitive (PIT > 0)",
     "relaxation factor", "0.8-1.5", true},
    {"AXI", "geometry",
     "0 plane; 1 axisymmetric with the exact vector Laplacian of zeta, v, u; >= 2 axisymmetric "
     "with the plane Laplacian and -visc f/r^2",
     "both, grid", "switch", "1", true},
    {"SWIRL", "Coriolis parameter f of a frame rotating about the axis",
     "-f v_z in the vorticity equation (+f v in the u equation), -f u in the swirl equation",
     "both", "inverse Rossby number f L/U", "0-1", true},
    {"SLIPB", "wall condition at the bottom (j = 1)",
     "0 no-slip (u = v = 0, wall vorticity from psi); otherwise slip, the value scaling the "
     "tangential flux in the vorticity core",
     "both", "switch", "0", true},
    {"SLIPT", "wall condition at the top (j = 91)",
     "0 no-slip (wall vorticity from psi, v = 0); otherwise slip, the value scaling the tangential "
     "flux",
     "vorticity", "switch", "0", true},
    {"SLIPS", "wall condition at the outer side wall (i = 91)",
     "0 no-slip (w = 0, and in the vorticity core wall vorticity from psi, v = 0); otherwise slip",
     "both", "switch", "0", true},
    {"BDFON", "not used by any computation (the body force acts whenever its shape is non-zero)",
     "-", "none", "-", "any", false},
    {"BDFZ", "height of the centre of the body force",
     "w equation: + G bdf ramp, bdf = 0.25 (1 + cos(pi rho))/BDFRZ inside rho < 1, "
     "rho^2 = (r/BDFRX)^2 + ((z - BDFZ)/BDFRZ)^2",
     "primitive", "length in units of L", "0.3-0.5 (far above HITE: no force)", true},
    {"BDFRZ", "vertical semi-axis of the body force; its peak is 0.5/BDFRZ",
     "bdf shape (see BDFZ)", "primitive", "length in units of L", "0.2-0.25", true},
    {"BDFRX", "radial semi-axis of the body force", "bdf shape (see BDFZ)", "primitive",
     "length in units of L", "0.15-0.25", true},
    {"BDFTURNON", "time over which the body force is ramped up linearly from 0",
     "ramp = min(1, TIME/BDFTURNON) multiplying bdf", "primitive", "time in units of L/U",
     "1", true},
    {"BUOYBOUND", "factor on the buoyancy tendency at the bottom and top rows",
     "b_t on j = 1 and j = 91 multiplied by BUOYBOUND: 1 free, 0 held fixed", "both", "switch",
     "0 or 1", true},
    {"BACTIVE", "whether the buoyancy is a prognostic field",
     "> 0: b advected, diffused, stratified and advanced; the buoyancy force of the primitive "
     "core",
     "both", "switch", "1", true},
    {"BSMOOTH", "steepness of the initial buoyancy step",
     "fresh start: b = 1/(1 + exp(BSMOOTH (BINTERFACE - z))); 0 gives b = 0.5", "driver",
     "inverse length in units of 1/L", "0-10", true},
    {"BINTERFACE", "height of the initial buoyancy step", "fresh start: see BSMOOTH", "driver",
     "length in units of L", "1-1.2", true},
    {"FROUDEINV", "scale of the buoyancy force in the primitive core",
     "w equation: + G FROUDEINV b; column 8 of the diagnostic line (FROUDEINV times the column "
     "pressure contrast)",
     "primitive, driver", "inverse Froude number g' L/U^2", "1", true},
    {"RAY", "buoyancy coefficient",
     "0: buoyancy force unscaled (G = 1); otherwise G = pi RAY on the torque b_r (vorticity core) "
     "and on the body and buoyancy forces (primitive core), and b_t gains w/pi (background "
     "stratification)",
     "both", "buoyancy (Rayleigh-like) coefficient", "0", true},
    {"PRN", "not used by any computation (b diffuses with the viscosity: Prandtl number 1)", "-",
     "none", "-", "1", false},
    {"EXTRA1", "not used by any computation", "-", "none", "-", "0", false},
    {"EXTRA2", "not used by any computation", "-", "none", "-", "0", false},
    {"EXTRA3", "not used by any computation", "-", "none", "-", "0", false},
    {"EXTRA4", "not used by any computation", "-", "none", "-", "0", false},
};

std::string valid_of(std::string_view name) {
  const ParRange* r = par_range(name);
  return r ? std::string(r->valid) : std::string("any value");
}

void entry(std::ostream& out, int k) {
  const ParDoc& d = kDocs[k];
  out << d.name << " (member " << k + 1 << " of group F)\n"
      << "  meaning:   " << d.meaning << '\n'
      << "  enters:    " << d.enters << '\n'
      << "  read by:   " << d.core << '\n'
      << "  group:     " << d.group << '\n'
      << "  typical:   " << d.typical << '\n'
      << "  valid:     " << valid_of(d.name) << '\n'
      << "  used:      " << (d.used ? "yes" : "no: read, shown, written and stored only") << '\n';
}

// The markdown table of docs/parameters.md, with '|' kept out of the cells.
void markdown(std::ostream& out) {
  out << "| # | Name | Meaning | Equation and term | Read by | Non-dimensional group | Typical | "
         "Valid range | Used |\n"
      << "|---|---|---|---|---|---|---|---|---|\n";
  for (int k = 0; k < kNamelistSize; ++k) {
    const ParDoc& d = kDocs[k];
    out << "| " << k + 1 << " | `" << d.name << "` | " << d.meaning << " | " << d.enters << " | "
        << d.core << " | " << d.group << " | " << d.typical << " | " << valid_of(d.name) << " | "
        << (d.used ? "yes" : "no") << " |\n";
  }
}

}  // namespace

int params(const Args& args, std::ostream& out, std::ostream&) {
  if (args.size() > 1) throw Stop(2, "expected at most one NAME or --markdown\n" + usage("params"));
  if (args.size() == 1 && args[0] == "--markdown") {
    markdown(out);
    return 0;
  }
  if (args.size() == 1) {
    const ParRange* r = par_range(args[0]);
    if (r == nullptr)
      throw Stop(2, "'" + args[0] + "' is not a parameter of group F; 'qeltool params' lists all 36");
    for (int k = 0; k < kNamelistSize; ++k)
      if (kDocs[k].name == r->name) entry(out, k);
    return 0;
  }
  out << "The 36 run parameters of group F (qel.input, the dialogue, dumps). All quantities\n"
         "are non-dimensional: lengths in units of L, velocities of U, times of L/U.\n"
         "Details and the equations: docs/parameters.md.\n\n";
  for (int k = 0; k < kNamelistSize; ++k) {
    entry(out, k);
    out << '\n';
  }
  return 0;
}

}  // namespace qel::tool
