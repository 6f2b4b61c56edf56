// qeltool's subcommands, called in-process on real model output (runs
// without dynamics, USEPRIM < 0, and initial states) and on crafted dumps of
// both cores.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "driver/console.hpp"
#include "driver/files.hpp"
#include "driver/namelist.hpp"
#include "driver/qeln.hpp"
#include "tool_testing.hpp"
#include "grid/grid.hpp"
#include "qeltool/qeltool.hpp"

namespace fs = std::filesystem;
using namespace qel;
using namespace qel::testing;
using Strings = std::vector<std::string>;

namespace {

void expect_all_in(const std::string& text, const Strings& parts) {
  for (const std::string& part : parts) EXPECT_NE(text.find(part), std::string::npos) << part;
}

std::ptrdiff_t count(const std::string& text, const std::string& part) {
  std::ptrdiff_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::unique_ptr<State> load(const std::string& name) {
  auto s = std::make_unique<State>();
  read_dump(*s, name);
  return s;
}

// All values of a variable of an open NetCDF file.
std::vector<double> nc_var(int id, const char* name) {
  int v = -1, ndims = 0, dims[NC_MAX_VAR_DIMS];
  std::size_t n = 1, len = 0;
  nc_inq_varid(id, name, &v);
  nc_inq_var(id, v, nullptr, nullptr, &ndims, dims, nullptr);
  for (int k = 0; k < ndims; ++k) n *= nc_inq_dimlen(id, dims[k], &len) == NC_NOERR ? len : 0;
  std::vector<double> x(n);
  EXPECT_EQ(nc_get_var_double(id, v, x.data()), NC_NOERR) << name;
  return x;
}

// The named variables of the NetCDF export of `dumps`.
std::map<std::string, std::vector<double>> exported(const TempDir& d, const Strings& dumps,
                                                    const Strings& names) {
  Strings args = {"nc", d.file("x.nc")};
  args.insert(args.end(), dumps.begin(), dumps.end());
  const Result r = call(args);
  EXPECT_EQ(r.status, 0) << r.err;
  int id = -1;
  EXPECT_EQ(nc_open(d.file("x.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  std::map<std::string, std::vector<double>> v;
  for (const std::string& n : names) v[n] = nc_var(id, n.c_str());
  nc_close(id);
  return v;
}

// A state at rest on a grid with r and z different (RWID 2, HITE 1.5,
// STR 0.6, STZ 0.8), slip walls.
std::unique_ptr<State> on_grid(double useprim, double axi, double time = 0.5) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.TIME = time, p.USEPRIM = useprim, p.AXI = axi, p.RWID = 2.0, p.HITE = 1.5, p.STR = 0.6;
  p.STZ = 0.8, p.SLIPB = p.SLIPT = p.SLIPS = 1.0, p.BSMOOTH = 4.0, p.BINTERFACE = 0.7;
  p.fnr = p.fnz = 91.0;
  maketrans(*s);
  return s;
}

std::string dump_at(const TempDir& d, const std::string& name, const State& s) {
  write_dump(s, d.file(name));
  return d.file(name);
}

// A dump file of either core with every field distinct and awkward values
// among them (NaN, -0, a subnormal, huge magnitudes; in psi the largest value
// the last of the pressure's cells and a larger one just beyond) on the grid
// above; `edit` changes the state before it is written.
std::string crafted(
    const TempDir& d, const std::string& name, double useprim, double time, double seed,
    void (*edit)(State&) = [](State&) {}) {
  auto s = on_grid(useprim, 1.0, time);
  s->par.DT = 0.01 * seed, s->par.REI = 1e-3, s->par.EXTRA3 = -7.25;
  int n = 0;
  Fields& fl = s->fields;
  for (Field* f : {&fl.b, &fl.bdf, &fl.psi, &fl.zeta, &fl.u, &fl.v, &fl.w, &fl.visc}) {
    ++n;
    for (std::size_t k = 0; k < Field::size(); ++k) f->data()[k] = std::sin(seed + 0.37 * k) * n;
    (*f)(3, 4) = NAN, (*f)(91, 1) = -0.0, (*f)(1, 91) = 5e-324, (*f)(50, 50) = -1.5e300;
  }
  fl.psi.data()[CellField::size() - 1] = 1e299, fl.psi.data()[CellField::size()] = 1e300;
  edit(*s);
  return dump_at(d, name, *s);
}

}  // namespace

TEST(Init, RecipesAddTheirFlowToTheFreshStartAndLeaveTheHistoryAlone) {
  TempDir d;
  const std::string dir = experiment(d, "exp");
  ASSERT_EQ(call({"init", dir, "0", "rest"}).status, 0);
  // The rest state restarted for one step without dynamics: a history
  // with a diagnostic line, which the later inits leave alone.
  ASSERT_EQ(call({}, "'" + dir + "'\n0\n0\n0 1 0\n").status, 0);
  const std::string hist = slurp(dir + "/qel.hist");
  ASSERT_GT(std::ranges::count(hist, '\n'), 100);
  ASSERT_EQ(call({"init", dir, "10", "vortex", "radius=0.05", "circulation=2"}).status, 0);
  ASSERT_EQ(call({"init", dir, "20", "solidbody", "omega=-0.5"}).status, 0);
  ASSERT_EQ(call({"init", dir, "40", "thermal", "amplitude=0.3"}).status, 0);
  EXPECT_EQ(slurp(dir + "/qel.hist"), hist);
  const auto rest = load(dir + "/qel000000.dat"), vx = load(dir + "/qel000010.dat"),
             sb = load(dir + "/qel000020.dat"), th = load(dir + "/qel000040.dat");
  const Array1<NR>&r = rest->basic.r, &z = rest->basic.z;
  // Lamb-Oseen: v independent of z, 0 on the axis; in the core
  // v = G r / (2 pi a^2) (1 - x/2 + x^2/6 - ...) with x = r^2/a^2, the
  // series cut after x^2 erring by less than x^3/24.
  const double x = r(2) * r(2) / 0.0025, core = 2.0 * r(2) / (2.0 * std::numbers::pi * 0.0025);
  EXPECT_NEAR(vx->fields.v(2, 1) / core, 1.0 - x / 2.0 + x * x / 6.0, x * x * x / 24.0);
  EXPECT_EQ(vx->fields.v(1, 1), 0.0);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      ASSERT_EQ(vx->fields.v(i, j), vx->fields.v(i, 1));
      ASSERT_EQ(sb->fields.v(i, j), -0.5 * r(i));  // one multiplication per point
      // Thermal: A exp(-d^2/R^2) over the fresh start, centre (0, 0.5) and
      // R = 0.2 by default, to the rounding of b + anomaly with |b| <= 1.
      const double d2 = r(i) * r(i) + (z(j) - 0.5) * (z(j) - 0.5);
      ASSERT_NEAR(th->fields.b(i, j) - rest->fields.b(i, j), 0.3 * std::exp(-d2 / 0.04), 4e-16) << i << ' ' << j;
    }
  // info: time, mode, parameters; v = -0.5 r on 0 <= r <= 2.
  expect_all_in(call({"info", dir + "/qel000020.dat"}).out,
                {" model time   0.0000000000000000     \n mode none (USEPRIM = -1)\n&F\n TIME=",
                 "\n v       " + list_real(-1.0) + " " + list_real(0.0) + "\n"});
}

TEST(Init, AFreshDirectoryGetsAParameterFileFitForTheRecipesAndKeepsIt) {
  TempDir d;
  const std::string dir = d.file("myexp");
  const Result r = call({"init", dir, "0", "vortex", "radius=0.2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("wrote " + dir + "/qel.input with default parameters"), std::string::npos) << r.out;
  // A group the model reads, for the vorticity core, axisymmetric, no body
  // force in the domain (BDFZ far above HITE).
  std::ifstream f(dir + "/qel.input");
  ListReader rd(f, "qel.input");
  Par p{};
  read_namelist(rd, p);
  EXPECT_EQ(std::tuple(p.USEPRIM, p.AXI), std::tuple(0.0, 1.0));
  EXPECT_TRUE(p.BDFZ - p.BDFRZ > p.HITE && p.DTMAX > 0.0);
  const std::string input = slurp(dir + "/qel.input");
  ASSERT_EQ(call({"init", dir, "5", "thermal"}).status, 0);
  EXPECT_EQ(slurp(dir + "/qel.input"), input);
}

TEST(Tool, BadInputsAreRefusedWithStatus2AndChangeNoFile) {
  TempDir d;
  const std::string dir = experiment(d, "exp"), nc = d.file("x.nc");
  put(dir + "/qel000000.dat", "an earlier dump");
  const std::string a = crafted(d, "a", 0.0, 0.25, 1.0), b = crafted(d, "b", 0.0, 0.25, 2.0);
  const std::string c = crafted(d, "c", 0.0, 0.5, 1.0, [](State& s) { s.par.HITE = 3.0; });
  const std::string inf = crafted(d, "inf", 0.0, INFINITY, 1.0);
  const std::string prim = crafted(d, "prim", 1.0, 0.75, 1.0);
  // Two branches from one dump, SWIRL 0 and 1, interleaved in time.
  const std::string b1 = crafted(d, "b1", 0.0, 0.5, 1.0, [](State& s) { s.par.SWIRL = 1.0; });
  const std::string b0 = crafted(d, "b0", 0.0, 0.75, 1.0);
  put(d.file("cut.dat"), slurp(a).substr(0, 532240));
  const auto before = snapshot(d.path.string());
  const std::vector<std::pair<Strings, std::string>> cases = {
      {{"init", dir, "5", "hurricane"}, "unknown recipe 'hurricane'"},
      {{"init", dir, "5", "vortex", "omega=1"}, "no key 'omega'; its keys are circulation radius"},
      {{"init", dir, "5", "vortex", "radius=0"}, "must be positive"},
      {{"init", dir, "0", "rest"}, "exists; remove it or pass --force"},
      {{"init", d.file("no/such"), "0", "rest"}, "cannot make the experiment directory"},
      {{"init", d.file("new"), "0", "thermal", "radius=1e-200", "z0=0"}, "gives b = NaN at r = 0"},
      {{"init", dir, "5", "solidbody", "omega=1e308"}, "gives v = inf at r = 1."},
      {{"init", d.file("new"), "0", "thermal", "STR=5"}, "as changed on the command line: STR"},
      {{"nc", nc, a, c}, "not dumps of one run: parameter HITE differs (1.5 and 3)"},
      {{"nc", nc, a, prim}, "not dumps of one run: the core differs (vorticity and primitive)"},
      {{"nc", nc, a, inf}, "its model time TIME is inf, not a finite time"},
      {{"nc", nc, a, b1, b0}, "interleave in time two branches"},
      {{"hist", a}, "is not a history file: it holds binary data"},
      {{"nc", nc, a, b}, "hold the same model time 0.25"},
      {{"nc", a, c}, "must end in .nc"},
      {{"info", d.file("cut.dat")}, "cut.dat is not a dump of this model: it holds 532240 bytes"},
      {{"run", dir, "VISCOSITY=1", "--until", "1", "--dump-every", "1", "--diag-every", "1"}, "'VISCOSITY' is not a"},
      {{"run", dir, "DT=1,2", "--until", "1", "--dump-every", "1", "--diag-every", "1"}, "'1,2' of DT is not a real"},
      {{"run", dir, "--until", "1", "--dump-every", "1"}, "are all needed"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = call(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.out, "") << message;  // for run: the dialogue never started
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("restart file"), std::string::npos) << r.err;  // a dump, here
  }
  // No file changed, none added (no partial output, no temporary left, no
  // directory made).
  EXPECT_EQ(snapshot(d.path.string()), before);
}

TEST(NcAndInfo, DumpsOfBothCoresComeBackBitForBitWithCfAttributes) {
  for (const bool prim : {false, true}) {
    SCOPED_TRACE(prim ? "primitive" : "vorticity");
    TempDir d;
    Strings names;  // given in falling time order: the file's time axis is sorted
    for (int s = 1; s <= 3; ++s) names.push_back(crafted(d, std::to_string(s), prim, 1.0 / s, s));
    // The primitive core's file deflated (--compress), the other not: the
    // same bits either way.
    const std::string out = d.file("run.nc");
    Strings args = {"nc", out, names[0], names[1], names[2]};
    if (prim) args.insert(args.begin() + 1, "--compress");
    ASSERT_EQ(call(args).status, 0);
    const std::unique_ptr<State> dumps[] = {load(names[2]), load(names[1]), load(names[0])};
    int id = -1, b = -1, shuffle = -1, deflate = -1, level = -1;
    ASSERT_EQ(nc_open(out.c_str(), NC_NOWRITE, &id), NC_NOERR);
    ASSERT_EQ(nc_inq_varid(id, "b", &b), NC_NOERR);
    ASSERT_EQ(nc_inq_var_deflate(id, b, &shuffle, &deflate, &level), NC_NOERR);
    EXPECT_EQ(deflate, prim ? 1 : 0);
    EXPECT_EQ(nc_var(id, "time"), (std::vector<double>{1.0 / 3.0, 0.5, 1.0}));
    // Bit for bit (memcmp over 8 bytes a double), the axes and each field
    // from its member; the pressure of the primitive core is the first 8100
    // values of psi, on the cell centres.
    EXPECT_EQ(std::memcmp(nc_var(id, "r").data(), dumps[0]->basic.r.data(), NR * 8), 0);
    EXPECT_EQ(std::memcmp(nc_var(id, "z").data(), dumps[0]->basic.z.data(), NR * 8), 0);
    const Strings vars = {"b", "v", "u", "w", "visc", "bdf", prim ? "p_point" : "zeta", prim ? "p_cell" : "psi"};
    Field Fields::*const members[] = {&Fields::b,    &Fields::v,   &Fields::u,    &Fields::w,
                                      &Fields::visc, &Fields::bdf, &Fields::zeta, &Fields::psi};
    for (std::size_t k = 0; k < vars.size(); ++k) {
      const std::size_t m = k == 7 && prim ? CellField::size() : Field::size();
      const std::vector<double> x = nc_var(id, vars[k].c_str());
      ASSERT_EQ(x.size(), 3 * m) << vars[k];
      for (std::size_t t = 0; t < 3; ++t)
        EXPECT_EQ(std::memcmp(x.data() + t * m, (dumps[t]->fields.*members[k]).data(), m * 8), 0)
            << vars[k];
    }
    // The cell centres midway between the points, heights from z and radii
    // from r (HITE 1.5 and RWID 2 tell them apart).
    if (prim) {
      const std::vector<double> zc = nc_var(id, "z_cell"), rc = nc_var(id, "r_cell");
      ASSERT_EQ(zc.size(), 90u);
      EXPECT_EQ(zc[89], 0.5 * (dumps[0]->basic.z(90) + 1.5));
      EXPECT_EQ(rc[89], 0.5 * (dumps[0]->basic.r(90) + 2.0));
      EXPECT_EQ(zc[0], 0.5 * dumps[0]->basic.z(2));
    }
    // The parameters of the run, TIME and DT those of the first time.
    for (std::size_t k = 0; k < kParNames.size(); ++k) {
      double x = NAN;
      nc_get_att_double(id, NC_GLOBAL, std::string(kParNames[k]).c_str(), &x);
      EXPECT_EQ(x, dumps[0]->par.*kParMembers[k]) << kParNames[k];
    }
    nc_close(id);
    // The CF attributes as ncdump (Debian package netcdf-bin) shows them.
    ASSERT_EQ(std::system(("ncdump -h '" + out + "' >'" + out + ".cdl'").c_str()), 0);
    Strings cf = {":Conventions = \"CF-1.8\" ;", "double b(time, z, r) ;", "time:axis = \"T\" ;",
                  "z:positive = \"up\" ;", ":EXTRA3 = -7.25 ;"};
    for (const std::string& v : vars) cf.push_back("\t\t" + v + ":units = \"1\" ;");
    // Provenance: the version, the source revision, and when and by which
    // command the file was made (ISO 8601 UTC date, the command line).
    cf.insert(cf.end(), {std::string(":qel_version = \"") + QEL_VERSION + "\" ;",
                         ":qel_revision = \"", ":history = \"20",
                         "Z: qeltool nc " + std::string(prim ? "--compress " : "") + out + " " + names[0] +
                             " " + names[1]});
    const std::string cdl = slurp(out + ".cdl");
    expect_all_in(cdl, cf);
    EXPECT_EQ(cdl.find(":qel_revision = \"unknown\"") == std::string::npos, source_revision_known());
    // Each variable with a long name: time, z, r, dt, eight fields, ke, rv,
    // two buoyancy anomalies, three integrals (and the cell axes, psi_from_w
    // and zeta_from_uw).
    EXPECT_EQ(count(cdl, "\tdouble "), prim ? 23 : 19);
    EXPECT_EQ(count(cdl, ":long_name = \""), prim ? 23 : 19);
    // info: the mode; the pressure over the cells only, NaN counted.
    expect_all_in(call({"info", names[0]}).out,
                  {prim ? " mode primitive (USEPRIM = 1)\n" : " mode vorticity (USEPRIM = 0)\n",
                   list_real(-1.5e300) + " " + list_real(prim ? 1e299 : 1e300) + "  (1 NaN)\n"});
  }
}

// A command too long for an attribute (64 KiB at most) is recorded with its
// first and last dump.
TEST(NcAndInfo, ALongListOfDumpsIsShortenedInTheHistory) {
  TempDir d;
  Strings args = {"nc", d.file("run.nc")};
  for (int s = 1; s <= 40; ++s) args.push_back(crafted(d, std::string(150, 'x') + std::to_string(s), 0.0, s, s));
  ASSERT_EQ(call(args).status, 0);
  int id = -1;
  std::size_t len = 0;
  ASSERT_EQ(nc_open(args[1].c_str(), NC_NOWRITE, &id), NC_NOERR);
  ASSERT_EQ(nc_inq_attlen(id, NC_GLOBAL, "history", &len), NC_NOERR);
  std::string history(len, '\0');
  ASSERT_EQ(nc_get_att_text(id, NC_GLOBAL, "history", history.data()), NC_NOERR);
  nc_close(id);
  EXPECT_TRUE(history.ends_with(": qeltool nc " + args[1] + " " + args[2] + " ... " + args[41] + " (40 dumps)"))
      << history;
}

TEST(Hist, AsterisksNanAndDamagedLinesNeverStopTheTable) {
  // Two lines as the model writes them (asterisks where a value is too
  // wide for its field) around three damaged ones.
  const int w[] = {8, 8, 10, 10, 10, 10, 10, 10}, dec[] = {3, 5, 4, 4, 4, 4, 6, 4};
  const double row[2][8] = {{1.5, 0.01, -1e9, NAN, INFINITY, -INFINITY, -0.0, 2.0}, {1e6, 1.0}};
  std::string line[2] = {" ", " "};
  for (int k = 0; k < 16; ++k) line[k / 8] += fixed_field(row[k / 8][k % 8], w[k % 8], dec[k % 8]);
  TempDir d;
  put(d.file("h"), line[0] + "\n 2.000 0.01000\n" + std::string(77, 'x') + "\n 1.000e3 0.01000" +
                       std::string(61, ' ') + "\n" + line[1] + "\n");
  const Result r = call({"hist", d.file("h")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "time,DT,min_u,max_v,max_w,pressure_deficit,divmax,column_pressure_contrast\n"
                   "1.500,0.01000,,NaN,inf,-inf,-0.000000,2.0000\n"
                   ",1.00000,0.0000,0.0000,0.0000,0.0000,0.000000,0.0000\n");
  expect_all_in(r.err, {"line 2:", "line 3:", "line 4:"});
}

// A restart with changes for this run only (qel.input untouched), into a
// directory whose name holds a quote and blanks that must reach the model
// intact.
TEST(Run, SameOutputAndFilesAsTheDialogueAnsweredByHand) {
  TempDir ta, tb;
  const std::string a = experiment(ta, "it's a dir"), b = experiment(tb, "exp");
  for (const std::string& dir : {a, b}) ASSERT_EQ(call({"init", dir, "0", "thermal", "amplitude=0.5"}).status, 0);
  Result t = run_to(a, "000", "2", "1", "0.3", {"DT=0.25", "froudeinv=-3"});
  Result h = call({}, "'" + b + "'\n0\n1\n $f DT=0.25, FROUDEINV=-3, $end\n0\n2 1 0.3\n");
  ASSERT_EQ(h.status, 0) << h.err;
  for (std::size_t at; (at = t.out.find(a)) != std::string::npos;) t.out.replace(at, a.size(), b);
  // The summaries of the two runs differ only in their wall times.
  for (Result* x : {&t, &h})
    if (const auto at = x->err.find(" in ", x->err.find("steps to model time")); at != std::string::npos)
      x->err.erase(at, x->err.find(" written", at) - at);
  EXPECT_EQ(std::tie(t.status, t.out, t.err), std::tie(h.status, h.out, h.err));
  EXPECT_EQ(snapshot(a), snapshot(b));
}

// The primitive core's derived fields, psi from w integrated out from the axis
// (w = psi_r / r^AXI) by the trapezoidal rule and zeta = w_r - u_z by centred
// differences, take exactly the flows for which r^AXI w is linear in r and u
// linear in z: axisymmetric w = 2 a z (psi = a z r^2), plane w = d r + 2 a z
// (psi = d r^2/2 + 2 a z r), u = c z in both (zeta = -c and d - c at every
// point, walls included), on a stretched grid with r and z apart.
TEST(NcDerived, PrimitiveStreamFunctionAndVorticityExactForLinearVelocities) {
  TempDir d;
  const double a = 0.7, c = -0.4, dd = 1.3;
  for (const double axi : {1.0, 0.0}) {
    SCOPED_TRACE(axi);
    auto s = on_grid(1.0, axi);
    for (int j = 1; j <= 91; ++j)
      for (int i = 1; i <= 91; ++i) {
        const double z = s->basic.z(j), r = s->basic.r(i);
        s->fields.w(i, j) = axi != 0.0 ? 2.0 * a * z : dd * r + 2.0 * a * z;
        s->fields.u(i, j) = c * z;
      }
    const auto e = exported(d, {dump_at(d, "e", *s)}, {"psi_from_w", "zeta_from_uw"});
    for (int j = 1; j <= 91; ++j)
      for (int i = 1; i <= 91; ++i) {
        const std::size_t n = std::size_t(i - 1) + 91 * std::size_t(j - 1);
        const double z = s->basic.z(j), r = s->basic.r(i);
        const double psi = axi != 0.0 ? a * z * r * r : dd * r * r / 2.0 + 2.0 * a * z * r;
        // Rounding of 90 trapezoids of size up to 3.6.
        ASSERT_NEAR(e.at("psi_from_w")[n], psi, 90 * 8 * 4e-16) << i << ' ' << j;
        // A difference of a linear field: rounding relative to its values
        // over the smallest spacing (1e-3).
        ASSERT_NEAR(e.at("zeta_from_uw")[n], axi != 0.0 ? -c : dd - c, 1e-11) << i << ' ' << j;
      }
  }
}

TEST(NcDerived, IntegralsAndAnomaliesAgainstSumsOverControlVolumes) {
  TempDir d;
  // u = 0.6, w = -0.8, v = r (ke = (1 + r^2)/2), b = 0.3 + 0.7 z^2 plus 1 on the axis.
  for (const double axi : {1.0, 0.0}) {
    SCOPED_TRACE(axi);
    auto s = on_grid(0.0, axi);
    const Array1<NR>&r = s->basic.r, &z = s->basic.z;
    for (int j = 1; j <= 91; ++j)
      for (int i = 1; i <= 91; ++i) {
        s->fields.u(i, j) = 0.6, s->fields.w(i, j) = -0.8, s->fields.v(i, j) = r(i);
        s->fields.b(i, j) = 0.3 + 0.7 * z(j) * z(j) + (i == 1 ? 1.0 : 0.0);
      }
    const std::string name = dump_at(d, "i", *s);
    Strings wanted = {"ke_integral", "b_integral", "b_anomaly", "b_anomaly_background", "b"};
    if (axi != 0.0) wanted.push_back("rv_integral");
    const auto x = exported(d, {name}, wanted);
    // Control widths: half the distance between the neighbours, half the
    // spacing at the ends; rc the mean of the neighbouring radii (r(2)/2 on
    // the axis). Sum over i of rc dr telescopes to the area R^2/2 (R plane):
    // sum (r(i+1)^2 - r(i-1)^2)/4.
    auto width = [](const Array1<NR>& x, int k) { return (x(std::min(k + 1, 91)) - x(std::max(k - 1, 1))) / 2.0; };
    auto rc = [&](int i) { return axi == 0.0 ? 1.0 : (r(std::max(i - 1, 1)) + r(std::min(i + 1, 91))) / 2.0; };
    double rv = 0.0, bz = 0.0;
    for (int i = 1; i <= 91; ++i) rv += rc(i) * width(r, i) * r(i) * r(i);
    for (int j = 1; j <= 91; ++j) bz += width(z, j) * (0.3 + 0.7 * z(j) * z(j));
    const double area = axi != 0.0 ? 2.0 * 2.0 / 2.0 : 2.0;
    EXPECT_NEAR(x.at("ke_integral")[0], 0.5 * (area + rv) * 1.5, 1e-14);
    const double axis = rc(1) * width(r, 1);  // the weight of the axis column
    EXPECT_NEAR(x.at("b_integral")[0], area * bz + axis * 1.5, 1e-14);
    // The anomaly against the horizontal mean: the axis excess spread over
    // the section; against the fresh start's b0 = 1/(1 + exp(4 (0.7 - z))).
    for (int j = 1; j <= 91; ++j)
      for (int i : {1, 2, 91}) {
        const std::size_t n = std::size_t(i - 1) + 91 * std::size_t(j - 1);
        EXPECT_NEAR(x.at("b_anomaly")[n], (i == 1 ? 1.0 : 0.0) - axis / area, 4e-15);
        EXPECT_NEAR(x.at("b_anomaly_background")[n], x.at("b")[n] - 1.0 / (1.0 + std::exp(4.0 * (0.7 - z(j)))), 1e-16);
      }
    // info: the same integrals; the angular momentum in axisymmetric runs
    // only, as in the export.
    const std::string info = call({"info", name}).out;
    const auto value = [&](const std::string& label) {
      const std::size_t at = info.find(label);
      return at == std::string::npos ? NAN : std::stod(info.substr(at + 18, 26));
    };
    EXPECT_NEAR(value(" kinetic energy   "), 0.5 * (area + rv) * 1.5, 1e-14) << info;
    const double am = value(" angular momentum "), rv_nc = axi != 0.0 ? x.at("rv_integral")[0] : NAN;
    EXPECT_TRUE(axi != 0.0 ? std::abs(am - rv * 1.5) <= 1e-13 && std::abs(rv_nc - rv * 1.5) <= 1e-13
                           : std::isnan(am)) << info << rv_nc;
  }
}

TEST(NcDerived, ARunRestartedWithAChangedParameterIsOneFile) {
  TempDir d;
  const std::string first = crafted(d, "1", 0.0, 0.25, 1.0), changed = crafted(d, "2", 0.0, 0.75, 1.0, [](State& s) {
    s.par.SWIRL = 0.5, s.par.REI = 2e-3;
  });
  const auto x = exported(d, {changed, first}, {"time", "SWIRL", "REI"});
  EXPECT_EQ(x.at("time"), (std::vector<double>{0.25, 0.75}));
  EXPECT_EQ(x.at("SWIRL"), (std::vector<double>{0.0, 0.5}));
  EXPECT_EQ(x.at("REI"), (std::vector<double>{1e-3, 2e-3}));
  int id = -1;
  char names[64] = {};
  ASSERT_EQ(nc_open(d.file("x.nc").c_str(), NC_NOWRITE, &id), NC_NOERR);
  EXPECT_EQ(nc_get_att_text(id, NC_GLOBAL, "varying_parameters", names), NC_NOERR);
  EXPECT_EQ(std::string(names), "REI SWIRL");
  nc_close(id);
}

TEST(NcDerived, AnInterruptWhileWritingLeavesNoTemporaryFile) {
  TempDir d;
  // Dumps of fields that hardly compress, so that the file takes a while to
  // write; the signal goes out as soon as the temporary file appears.
  Strings args = {"nc", d.file("out/run.nc")};
  fs::create_directory(d.path / "out");
  for (int t = 0; t < 24; ++t) args.push_back(crafted(d, std::to_string(t), 0.0, t, t + 1.0));
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(::open(d.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    ::_exit(call(args).status);
  }
  bool seen = false;
  while (!seen && ::waitpid(pid, nullptr, WNOHANG) == 0)
    for (const auto& f : fs::directory_iterator(d.path / "out"))
      if (f.path().filename().string().starts_with("run.nc.")) seen = true;
  if (seen) ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(seen) << "the export ended before its temporary file was seen";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
  EXPECT_TRUE(fs::is_empty(d.path / "out"));
  EXPECT_EQ(slurp(d.file("err")),
            "qeltool nc: stopped by SIGTERM; " + d.file("out/run.nc") + " was not written\n");
}
