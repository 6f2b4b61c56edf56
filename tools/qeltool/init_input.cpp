// The parameter file qeltool init writes into an experiment directory that
// has none: the thermal example's axisymmetric box, run by the vorticity
// core, with no body force.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
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

void ensure_directory(const std::string& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT || ::mkdir(dir.c_str(), 0777) != 0)
      throw Stop(2, "cannot make the experiment directory " + dir + ": " + std::strerror(errno));
  } else if (!S_ISDIR(st.st_mode)) {
    throw Stop(2, "'" + dir + "' is not a directory");
  }
}

bool ensure_input(const std::string& dir, const std::string& recipe) {
  struct stat st {};
  const std::string input = dir + "/qel.input";
  if (::stat(input.c_str(), &st) == 0 || errno != ENOENT) return false;

  const std::string text =
      "Written by qeltool init for the recipe " + recipe +
      ": an axisymmetric cylinder of radius 1 and\n"
      "height 2 (grid refined towards the axis), no-slip walls, viscosity 1e-3,\n"
      "run by the stream-function/vorticity core with third-order upwind\n"
      "advection and the direct Poisson solver; uniform buoyancy (BSMOOTH = 0\n"
      "gives b = 0.5), no rotation, no body force (BDFZ far above the top).\n"
      "Change any value here or in the dialogue; docs/parameters.md and\n"
      "'qeltool params' describe every parameter.\n" +
      std::string(kDefaultGroup);
  std::string tmp = input + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) throw Stop(2, "cannot write " + input + ": " + std::strerror(errno));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), input.c_str()) != 0) {
    const int e = errno;
    ::unlink(tmp.c_str());
    throw Stop(2, "cannot write " + input + ": " + std::strerror(e));
  }
  return true;
}

}  // namespace qel::tool
