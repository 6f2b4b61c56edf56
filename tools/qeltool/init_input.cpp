// The parameter file qeltool init writes into an experiment directory that
// has none: the thermal example's axisymmetric box, run by the vorticity
// core, with no body force.
#include <string>

#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

constexpr const char* kDefaultGroup =
    " &F\n"
    " TIME = 0, DT = 0, DTMAX = 0.01, CFL = 0.4, DIFF = 0.12,\n"
    " USEPRIM = 0, ORDER = 3, REI = 1.0e-3, REIT = 1.0e-3,\n"
    " RWID = 1.0, HITE = 2.0, STR = 0.7, STZ = 1.0, PIT = 0, RLX = 1,\n"
    " AXI = 1, SWIRL = 0, SLIPB = 0, SLIPT = 0, SLIPS = 0,\n"
    " BDFON = 0, BDFZ = 100, BDFRZ = 0.2, BDFRX = 0.2, BDFTURNON = 1,\n"
    " BUOYBOUND = 1, BACTIVE = 1, BSMOOTH = 0, BINTERFACE = 0,\n"
    " FROUDEINV = 1.0, RAY = 0, PRN = 1,\n"
    " EXTRA1 = 0, EXTRA2 = 0, EXTRA3 = 0, EXTRA4 = 0\n"
    " /\n";

}  // namespace

std::string default_input(const std::string& recipe) {
  return "Written by qeltool init for the recipe " + recipe +
         ": an axisymmetric cylinder of radius 1 and\n"
         "height 2 (grid refined towards the axis), no-slip walls, viscosity 1e-3,\n"
         "run by the stream-function/vorticity core with third-order upwind\n"
         "advection and the direct Poisson solver; uniform buoyancy (BSMOOTH = 0\n"
         "gives b = 0.5), no rotation, no body force (BDFZ far above the top).\n"
         "Change any value here or in the dialogue; docs/parameters.md and\n"
         "'qeltool params' describe every parameter.\n" +
         std::string(kDefaultGroup);
}

}  // namespace qel::tool
