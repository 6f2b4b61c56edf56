// qeltool's subcommands, called in-process on real model output (runs
// without dynamics, USEPRIM < 0, and initial states) and on crafted dumps of
// both cores.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "driver/console.hpp"
#include "driver/files.hpp"
#include "driver/qeln.hpp"
#include "driver/start.hpp"
#include "driver/state.hpp"
#include "files_testing.hpp"
#include "grid/grid.hpp"
#include "qeltool/qeltool.hpp"

namespace fs = std::filesystem;
using namespace qel;
using qel::testing::put;
using qel::testing::slurp;
using qel::testing::TempDir;

namespace {

struct Result {
  int status;
  std::string out, err;
};

Result qeltool(const tool::Args& args) {
  std::ostringstream out, err;
  const int status = tool::qeltool(args, out, err);
  return {status, out.str(), err.str()};
}

Result run_by_hand(const std::string& answers) {
  std::istringstream in(answers);
  std::ostringstream out, err;
  const int status = run(in, out, err);
  return {status, out.str(), err.str()};
}

const std::string kRestInput = slurp(fs::path(QEL_SOURCE_DIR) / "examples/rest/qel.input");

// An experiment directory `name` under `root` with the rest example's
// parameters.
std::string experiment(const TempDir& root, const std::string& name = "exp") {
  const fs::path dir = root.path / name;
  fs::create_directories(dir);
  put(dir / "qel.input", kRestInput);
  return dir.string();
}

std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> m;
  for (const auto& e : fs::directory_iterator(dir))
    m[e.path().filename().string()] = slurp(e.path());
  return m;
}

std::unique_ptr<State> load(const std::string& name) {
  auto s = std::make_unique<State>();
  read_dump(*s, name);
  return s;
}

bool same_bits(const double* a, const double* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(double)) == 0;
}

// The grid-point fields of a dump in record order.
std::vector<const Field*> record_fields(const State& s) {
  const Fields& f = s.fields;
  return {&f.b, &f.bdf, &f.psi, &f.zeta, &f.u, &f.v, &f.w, &f.visc};
}

// A dump of either core with every field distinct and awkward values among
// them (NaN, -0, a subnormal, huge magnitudes) on the grid of its
// parameters.
std::unique_ptr<State> crafted(double useprim, double time, double seed) {
  auto s = std::make_unique<State>();
  Par& p = s->par;
  p.TIME = time, p.DT = 0.01 * seed, p.USEPRIM = useprim, p.REI = 1e-3, p.EXTRA3 = -7.25;
  p.RWID = 2.0, p.HITE = 1.5, p.STR = 0.6, p.STZ = 0.8, p.AXI = 1.0, p.fnr = p.fnz = 91.0;
  maketrans(*s);
  int n = 0;
  Fields& fl = s->fields;
  for (Field* pf : {&fl.b, &fl.bdf, &fl.psi, &fl.zeta, &fl.u, &fl.v, &fl.w, &fl.visc}) {
    Field& f = *pf;
    ++n;
    for (int j = 1; j <= NR; ++j)
      for (int i = 1; i <= NR; ++i) f(i, j) = std::sin(seed + 0.37 * i + 0.11 * j * n) * n;
    f(3, 4) = std::numeric_limits<double>::quiet_NaN();
    f(91, 1) = -0.0;
    f(1, 91) = std::numeric_limits<double>::denorm_min();
    f(50, 50) = -1.5e300;
  }
  return s;
}

std::string write_crafted(const TempDir& d, const std::string& name, const State& s) {
  const std::string path = d.file(name);
  write_dump(s, path);
  return path;
}

// The NetCDF file read back through the library.
struct Nc {
  int id = -1;
  explicit Nc(const std::string& path) {
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &id), NC_NOERR);
  }
  ~Nc() {
    if (id >= 0) nc_close(id);
  }
  bool has(const char* name) const {
    int v;
    return nc_inq_varid(id, name, &v) == NC_NOERR;
  }
  std::vector<double> var(const char* name) const {
    int v = -1, ndims = 0, dims[NC_MAX_VAR_DIMS];
    EXPECT_EQ(nc_inq_varid(id, name, &v), NC_NOERR) << name;
    nc_inq_varndims(id, v, &ndims);
    nc_inq_vardimid(id, v, dims);
    std::size_t n = 1;
    for (int k = 0; k < ndims; ++k) {
      std::size_t len = 0;
      nc_inq_dimlen(id, dims[k], &len);
      n *= len;
    }
    std::vector<double> x(n);
    EXPECT_EQ(nc_get_var_double(id, v, x.data()), NC_NOERR) << name;
    return x;
  }
  std::string text(const char* var, const char* att) const {
    int v = NC_GLOBAL;
    if (var != nullptr) nc_inq_varid(id, var, &v);
    std::size_t len = 0;
    if (nc_inq_attlen(id, v, att, &len) != NC_NOERR) return "<none>";
    std::string s(len, '\0');
    nc_get_att_text(id, v, att, s.data());
    return s;
  }
  double number(const char* att) const {
    double x = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(nc_get_att_double(id, NC_GLOBAL, att, &x), NC_NOERR) << att;
    return x;
  }
};

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

}  // namespace

// ---------------------------------------------------------------- init

TEST(Init, RestIsTheDriversFreshStart) {
  // The driver's first dump after one step without dynamics holds the
  // fresh-start fields unchanged, at TIME = DT.
  TempDir d;
  const std::string a = experiment(d, "driver"), b = experiment(d, "tool");
  ASSERT_EQ(run_by_hand("'" + a + "'\n-1\n0\n0 1 1\n").status, 0);
  const Result r = qeltool({"init", b, "0", "rest"});
  ASSERT_EQ(r.status, 0) << r.err;

  const auto ran = load(a + "/qel000030.dat"), init = load(b + "/qel000000.dat");
  EXPECT_EQ(init->par.TIME, 0.0);
  init->par.TIME = ran->par.TIME;
  EXPECT_EQ(std::memcmp(&init->par, &ran->par, sizeof(Par)), 0);
  for (std::size_t k = 0; k < record_fields(*ran).size(); ++k)
    EXPECT_TRUE(
        same_bits(record_fields(*init)[k]->data(), record_fields(*ran)[k]->data(), Field::size()))
        << "field " << k;
  EXPECT_TRUE(same_bits(init->basic.r.data(), ran->basic.r.data(), NR));
  EXPECT_TRUE(same_bits(init->basic.z.data(), ran->basic.z.data(), NR));
  // The history a restart continues: the header of a fresh start.
  EXPECT_EQ(slurp(b + "/qel.hist"), slurp(a + "/qel.hist").substr(0, 100 * 27));
}

TEST(Init, RecipesAddTheirFlowToTheFreshStart) {
  TempDir d;
  const std::string dir = experiment(d);
  ASSERT_EQ(qeltool({"init", dir, "0", "rest"}).status, 0);
  const auto rest = load(dir + "/qel000000.dat");
  const Array1<NR>& r = rest->basic.r;
  const Array1<NR>& z = rest->basic.z;

  // Lamb-Oseen: beyond the core (r > 6.1 a, where exp(-r^2/a^2) < 1e-16)
  // the circulation 2 pi r v is G to rounding; inside it the flow turns
  // solid-body, v = G r / (2 pi a^2) (1 - x/2 + x^2/6 - ...) with
  // x = r^2/a^2, the series cut after x^2 erring by less than x^3/24.
  ASSERT_EQ(qeltool({"init", dir, "10", "vortex", "radius=0.05", "circulation=2"}).status, 0);
  const auto vx = load(dir + "/qel000010.dat");
  for (int j : {1, 46, 91}) {
    EXPECT_EQ(vx->fields.v(1, j), 0.0);
    for (int i = 1; i <= NR; ++i) EXPECT_EQ(vx->fields.v(i, j), vx->fields.v(i, 1));
    for (int i = 1; i <= NR; ++i)
      if (r(i) > 6.1 * 0.05) {
        EXPECT_NEAR(2.0 * std::numbers::pi * r(i) * vx->fields.v(i, j), 2.0, 1e-14) << i;
      }
  }
  const double core = 2.0 * r(2) / (2.0 * std::numbers::pi * 0.05 * 0.05);
  const double x = r(2) * r(2) / (0.05 * 0.05);
  EXPECT_NEAR(vx->fields.v(2, 1) / core, 1.0 - x / 2.0 + x * x / 6.0, x * x * x / 24.0);
  EXPECT_TRUE(same_bits(vx->fields.b.data(), rest->fields.b.data(), Field::size()));

  // Solid-body rotation: one multiplication per point.
  ASSERT_EQ(qeltool({"init", dir, "20", "solidbody", "omega=-0.5"}).status, 0);
  const auto sb = load(dir + "/qel000020.dat");
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) ASSERT_EQ(sb->fields.v(i, j), -0.5 * r(i));

  // Thermal: the anomaly over the fresh start is A at the centre (a grid
  // point here: r0 = 0, z0 = z(46)), A/e one radius away along z, and
  // nothing else changes. Tolerance: the rounding of b + anomaly, b <= 1.
  const std::string z0 = tool::shortest(z(46));
  ASSERT_EQ(
      qeltool({"init", dir, "30", "thermal", "amplitude=0.3", "z0=" + z0, "radius=0.4"}).status, 0);
  const auto th = load(dir + "/qel000030.dat");
  auto anomaly = [&](int i, int j) { return th->fields.b(i, j) - rest->fields.b(i, j); };
  EXPECT_NEAR(anomaly(1, 46), 0.3, 4e-16);
  for (int j = 1; j <= NR; ++j)
    for (int i = 1; i <= NR; ++i) {
      const double d2 = r(i) * r(i) + (z(j) - z(46)) * (z(j) - z(46));
      ASSERT_NEAR(anomaly(i, j), 0.3 * std::exp(-d2 / 0.16), 4e-16) << i << ' ' << j;
    }
  EXPECT_TRUE(same_bits(th->fields.v.data(), rest->fields.v.data(), Field::size()));
  EXPECT_TRUE(same_bits(th->fields.bdf.data(), rest->fields.bdf.data(), Field::size()));
}

TEST(Init, BadArgumentsAreRefusedAndWriteNothing) {
  TempDir d;
  const std::string dir = experiment(d);
  const std::string empty = (d.path / "empty").string();
  fs::create_directory(empty);
  const std::vector<std::pair<tool::Args, std::string>> cases = {
      {{"init", dir, "0", "hurricane"}, "unknown recipe 'hurricane'"},
      {{"init", dir, "0", "vortex", "omega=1"}, "no key 'omega'; its keys are circulation radius"},
      {{"init", dir, "0", "vortex", "radius=wide"}, "'wide' of key radius is not a real constant"},
      {{"init", dir, "0", "vortex", "radius=0"}, "must be positive"},
      {{"init", dir, "0", "thermal", "amplitude=nan"}, "must be finite"},
      {{"init", dir, "0", "vortex", "radius=1", "radius=2"}, "given twice"},
      {{"init", dir, "-10", "rest"}, "not a non-negative integer"},
      {{"init", empty, "0", "rest"}, "qel.input"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = qeltool(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(files_in(dir).size(), 1u);
  EXPECT_EQ(files_in(empty).size(), 0u);

  // An experiment's dump is replaced only on request.
  ASSERT_EQ(qeltool({"init", dir, "0", "rest"}).status, 0);
  const auto before = files_in(dir);
  const Result again = qeltool({"init", dir, "0", "vortex"});
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("exists; remove it or pass --force"), std::string::npos);
  ASSERT_EQ(qeltool({"init", dir, "0", "vortex", "--force"}).status, 0);
  EXPECT_NE(files_in(dir)["qel000000.dat"], before.at("qel000000.dat"));
  // An existing history is continued, not replaced.
  put(dir + "/qel.hist", "the history of an earlier run\n");
  ASSERT_EQ(qeltool({"init", dir, "10", "rest"}).status, 0);
  EXPECT_EQ(files_in(dir)["qel.hist"], "the history of an earlier run\n");
}

TEST(Init, WrittenStateRestartsInTheModel) {
  TempDir d;
  const std::string dir = experiment(d);
  ASSERT_EQ(qeltool({"init", dir, "1230", "vortex"}).status, 0);
  const auto init = load(dir + "/qel001230.dat");
  // Restart, one step of DT = 0.03125 without dynamics: dump qel000030.dat.
  const Result r = run_by_hand("'" + dir + "'\n1230\n0\n0 1 0\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("will write dump file " + dir + "/qel000030.dat"), std::string::npos);
  const auto after = load(dir + "/qel000030.dat");
  EXPECT_TRUE(same_bits(after->fields.v.data(), init->fields.v.data(), Field::size()));
  // The history continues after the header init wrote.
  const std::string hist = slurp(dir + "/qel.hist");
  EXPECT_EQ(std::count(hist.begin(), hist.end(), '\n'), 101);
}

// ---------------------------------------------------------------- nc

TEST(Nc, DumpsOfBothCoresComeBackBitForBit) {
  for (const double useprim : {0.0, 1.0}) {
    SCOPED_TRACE(useprim);
    TempDir d;
    // Named out of time order: the file's time axis is sorted.
    const std::vector<std::unique_ptr<State>> dumps = [&] {
      std::vector<std::unique_ptr<State>> v;
      v.push_back(crafted(useprim, 0.5, 1.0));
      v.push_back(crafted(useprim, 0.25, 2.0));
      v.push_back(crafted(useprim, 1.0, 3.0));
      return v;
    }();
    std::vector<std::string> names;
    for (std::size_t k = 0; k < dumps.size(); ++k)
      names.push_back(write_crafted(d, "qel" + std::to_string(k) + ".dat", *dumps[k]));
    const std::string out = d.file("run.nc");
    const Result r = qeltool({"nc", out, names[0], names[1], names[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<const State*> order = {dumps[1].get(), dumps[0].get(), dumps[2].get()};

    Nc nc(out);
    EXPECT_EQ(nc.var("time"), (std::vector<double>{0.25, 0.5, 1.0}));
    EXPECT_EQ(nc.var("dt"), (std::vector<double>{0.02, 0.01, 0.03}));
    EXPECT_TRUE(same_bits(nc.var("r").data(), dumps[0]->basic.r.data(), NR));
    EXPECT_TRUE(same_bits(nc.var("z").data(), dumps[0]->basic.z.data(), NR));

    const bool primitive = useprim > 0.0;
    std::vector<std::pair<const char*, Field Fields::*>> fields = {
        {"b", &Fields::b}, {"v", &Fields::v},       {"u", &Fields::u},
        {"w", &Fields::w}, {"visc", &Fields::visc}, {"bdf", &Fields::bdf}};
    if (primitive)
      fields.push_back({"p_point", &Fields::zeta});
    else
      fields.insert(fields.end(), {{"psi", &Fields::psi}, {"zeta", &Fields::zeta}});
    for (const auto& [name, member] : fields) {
      const std::vector<double> x = nc.var(name);
      ASSERT_EQ(x.size(), 3 * Field::size()) << name;
      for (std::size_t t = 0; t < 3; ++t)
        EXPECT_TRUE(same_bits(x.data() + t * Field::size(), (order[t]->fields.*member).data(),
                              Field::size()))
            << name << " at time " << t;
      EXPECT_EQ(nc.text(name, "units"), "1") << name;
      EXPECT_NE(nc.text(name, "long_name"), "<none>") << name;
    }
    EXPECT_EQ(nc.has("psi"), !primitive);
    EXPECT_EQ(nc.has("zeta"), !primitive);
    EXPECT_EQ(nc.has("p_cell"), primitive);
    if (primitive) {
      // The cell pressure: the first 8100 values of psi, on the cell centres.
      const std::vector<double> p = nc.var("p_cell");
      ASSERT_EQ(p.size(), 3 * CellField::size());
      for (std::size_t t = 0; t < 3; ++t)
        EXPECT_TRUE(same_bits(p.data() + t * CellField::size(), order[t]->fields.psi.data(),
                              CellField::size()));
      const std::vector<double> rc = nc.var("r_cell"), zc = nc.var("z_cell");
      for (int k = 1; k <= NC; ++k) {
        EXPECT_EQ(rc[std::size_t(k - 1)], 0.5 * (dumps[0]->basic.r(k) + dumps[0]->basic.r(k + 1)));
        EXPECT_EQ(zc[std::size_t(k - 1)], 0.5 * (dumps[0]->basic.z(k) + dumps[0]->basic.z(k + 1)));
      }
    }

    EXPECT_EQ(nc.text(nullptr, "Conventions"), "CF-1.8");
    EXPECT_EQ(nc.text("time", "axis"), "T");
    EXPECT_EQ(nc.text("z", "positive"), "up");
    // The parameters of the run; TIME and DT those of the first time.
    for (std::size_t k = 0; k < kParNames.size(); ++k) {
      const double want = k == 0 ? 0.25 : k == 1 ? 0.02 : order[0]->par.*kParMembers[k];
      EXPECT_EQ(nc.number(std::string(kParNames[k]).c_str()), want) << kParNames[k];
    }
  }
}

TEST(Nc, NcdumpShowsTheCfAttributes) {
  TempDir d;
  const std::string dump = write_crafted(d, "qel000250.dat", *crafted(0.0, 0.25, 1.0));
  ASSERT_EQ(qeltool({"nc", d.file("a.nc"), dump}).status, 0);
  const std::string cmd = "ncdump -h '" + d.file("a.nc") + "' 2>&1";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string header;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) header.append(buf, n);
  ASSERT_EQ(::pclose(p), 0) << "ncdump (Debian package netcdf-bin) failed: " << header;
  for (const char* want :
       {":Conventions = \"CF-1.8\" ;", "double b(time, z, r) ;", "b:units = \"1\" ;",
        "b:long_name = \"buoyancy\" ;", "time:axis = \"T\" ;", "z:positive = \"up\" ;",
        "r:long_name = \"radius\" ;", ":REI = 0.001 ;", ":EXTRA3 = -7.25 ;", "time = 1 ;"})
    EXPECT_NE(header.find(want), std::string::npos) << want << "\n" << header;
}

TEST(Nc, DumpsOfDifferentRunsAndBadInputsAreRefused) {
  TempDir d;
  const std::string a = write_crafted(d, "a.dat", *crafted(0.0, 0.25, 1.0));
  const std::string same_time = write_crafted(d, "b.dat", *crafted(0.0, 0.25, 2.0));
  auto other = crafted(0.0, 0.5, 1.0);
  other->par.REI = 2e-3;
  const std::string other_run = write_crafted(d, "c.dat", *other);
  auto regrid = crafted(0.0, 0.5, 1.0);
  regrid->basic.z(40) += 1e-9;
  const std::string other_grid = write_crafted(d, "d.dat", *regrid);
  put(d.file("short.dat"), slurp(a).substr(0, 5000));
  put(d.file("old.nc"), "an earlier file");

  const std::string out = d.file("old.nc");
  const std::vector<std::pair<tool::Args, std::string>> cases = {
      {{"nc", out, a, other_run}, "not dumps of one run: parameter REI differs (0.001 and 0.002)"},
      {{"nc", out, a, other_grid}, "not dumps of one run: the grid differs"},
      {{"nc", out, a, same_time}, "hold the same model time 0.25"},
      {{"nc", out, a, d.file("short.dat")}, "is not a dump of this model"},
      {{"nc", a, other_run}, "must end in .nc"},
  };
  const auto before = files_in(d.path.string());
  for (const auto& [args, message] : cases) {
    const Result r = qeltool(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  // No file changed, none added (no partial output, no temporary left).
  EXPECT_EQ(files_in(d.path.string()), before);
}

// ---------------------------------------------------------------- info

TEST(Info, ShowsTimeParametersModeAndRanges) {
  TempDir d;
  const std::string dir = experiment(d);
  ASSERT_EQ(qeltool({"init", dir, "0", "solidbody", "omega=2"}).status, 0);
  const Result r = qeltool({"info", dir + "/qel000000.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" model time   0.0000000000000000     \n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" mode none (USEPRIM = -1)\n"), std::string::npos);
  EXPECT_NE(r.out.find("&F\n TIME=  0.0000000000000000     ,\n DT=  3.1250000000000000E-002,\n"),
            std::string::npos);
  // v = 2 r on 0 <= r <= 2; viscosity REI = 1e-3 up to REIT = 1e-2 at the top.
  EXPECT_NE(r.out.find("\n v       " + list_real(0.0) + " " + list_real(4.0) + "\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\n visc    " + list_real(1e-3) + " " + list_real(1e-2) + "\n"),
            std::string::npos);

  // Primitive mode: the cell pressure and its grid-point average; NaN counted.
  auto prim = crafted(1.0, 0.5, 1.0);
  for (int k = 1; k <= 8100; ++k) prim->fields.psi.data()[k - 1] = k == 7 ? NAN : k;
  prim->fields.psi.data()[8100] = -1e9;  // beyond the cells: not pressure
  const std::string name = write_crafted(d, "p.dat", *prim);
  const Result p = qeltool({"info", name});
  ASSERT_EQ(p.status, 0) << p.err;
  EXPECT_NE(p.out.find(" mode primitive (USEPRIM = 1)\n"), std::string::npos);
  EXPECT_NE(p.out.find("\n p_cell  " + list_real(1.0) + " " + list_real(8100.0) + "  (1 NaN)\n"),
            std::string::npos)
      << p.out;
  EXPECT_NE(p.out.find("\n p_point "), std::string::npos);
  EXPECT_EQ(p.out.find("\n psi"), std::string::npos);
}

TEST(Info, DamagedDumpsAreClearErrors) {
  TempDir d;
  const std::string good = write_crafted(d, "good.dat", *crafted(0.0, 0.25, 1.0));
  const std::string whole = slurp(good);
  put(d.file("truncated.dat"), whole.substr(0, whole.size() - 8));
  put(d.file("text.dat"), "&F\n TIME=1,\n /\n");
  for (const auto& [file, message] : std::vector<std::pair<std::string, std::string>>{
           {"truncated.dat", "holds 532240 bytes where a dump holds 532248"},
           {"text.dat", "is not a dump of this model"},
           {"missing.dat", "cannot open"}}) {
    const Result r = qeltool({"info", d.file(file)});
    EXPECT_EQ(r.status, 2) << file;
    EXPECT_EQ(r.out, "") << file;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
}

// ---------------------------------------------------------------- hist

TEST(Hist, RealHistoryBecomesOneRowPerDiagnosticLine) {
  TempDir d;
  const std::string dir = experiment(d);
  // A restart from a thermal, so that the column-pressure contrast is not 0.
  ASSERT_EQ(qeltool({"init", dir, "0", "thermal", "amplitude=0.5"}).status, 0);
  const Result run =
      run_by_hand("'" + dir + "'\n0\n1\n$f DT=0.25, FROUDEINV=-3 $end\n0\n2 1 0.3\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const Result r = qeltool({"hist", dir + "/qel.hist"});
  ASSERT_EQ(r.status, 0) << r.err;
  // Lines after 0.5, 1.0, 1.5, 2.0 (more than 0.3 accumulated each time).
  EXPECT_EQ(r.out,
            "time,dt,min_u,max_v,max_w,pressure_deficit,divmax,column_pressure_contrast\n"
            "0.500,0.25000,0.0000,0.0000,0.0000,0.0000,0.000000,0.5315\n"
            "1.000,0.25000,0.0000,0.0000,0.0000,0.0000,0.000000,0.5315\n"
            "1.500,0.25000,0.0000,0.0000,0.0000,0.0000,0.000000,0.5315\n"
            "2.000,0.25000,0.0000,0.0000,0.0000,0.0000,0.000000,0.5315\n");
}

TEST(Hist, AsterisksNanAndDamagedLinesNeverStopTheTable) {
  TempDir d;
  const std::string name = d.file("qel.hist");
  {
    History h;
    h.create(name, Par{});
    auto line = [&](std::initializer_list<double> v) {
      const int w[] = {8, 8, 10, 10, 10, 10, 10, 10}, dec[] = {3, 5, 4, 4, 4, 4, 6, 4};
      std::string s = " ";
      int k = 0;
      for (double x : v) s += fixed_field(x, w[k], dec[k]), ++k;
      h.line(s);
    };
    const double inf = std::numeric_limits<double>::infinity();
    line({1.5, 0.01, -1e9, NAN, inf, -inf, -0.0, 2.0});
    h.line(" 2.000 0.01000");                           // cut short
    h.line(std::string(77, 'x'));                       // not fields
    h.line(" 1.000e3 0.01000" + std::string(61, ' '));  // exponent form
    line({1e6, 1.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0});
  }
  const Result r = qeltool({"hist", name});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "time,dt,min_u,max_v,max_w,pressure_deficit,divmax,column_pressure_contrast\n"
            "1.500,0.01000,,NaN,inf,-inf,-0.000000,2.0000\n"
            ",1.00000,0.0000,0.0000,0.0000,0.0000,0.000000,0.0000\n");
  for (const char* where : {"line 102:", "line 103:", "line 104:"})
    EXPECT_NE(r.err.find(where), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("line 101:"), std::string::npos);

  put(d.file("empty"), "");
  const Result e = qeltool({"hist", d.file("empty")});
  EXPECT_EQ(e.status, 0);
  EXPECT_EQ(std::count(e.out.begin(), e.out.end(), '\n'), 1);
  EXPECT_EQ(qeltool({"hist", d.file("missing")}).status, 2);
}

// ---------------------------------------------------------------- run

TEST(Run, SameOutputAndFilesAsTheDialogueAnsweredByHand) {
  // Two copies of one experiment, same directory name under two roots.
  TempDir ta, tb;
  const std::string a = experiment(ta), b = experiment(tb);

  // Fresh start with changes for this run only.
  const Result byhand =
      run_by_hand("'" + b + "'\n-1\n1\n $f DT=0.1, BDFZ=0.4, $end\n0\n1 0.5 0.2\n");
  const Result bytool = qeltool({"run", a, "--until", "1", "--dump-every", "0.5", "--diag-every",
                                 "0.2", "DT=0.1", "bdfz=0.4"});
  ASSERT_EQ(byhand.status, 0) << byhand.err;
  ASSERT_EQ(bytool.status, 0) << bytool.err;
  EXPECT_EQ(replace_all(bytool.out, a, b), byhand.out);
  EXPECT_EQ(bytool.err, "");
  EXPECT_EQ(files_in(a), files_in(b));
  EXPECT_EQ(files_in(a)["qel.input"], kRestInput);
  EXPECT_NE(byhand.out.find(" BDFZ= 0.40000000000000002     ,"), std::string::npos);

  // Restart from a dump with a change saved into qel.input.
  const Result byhand2 = run_by_hand("'" + b + "'\n500\n2\n $f REI=2e-3, $end\n0\n1.5 0.5 0\n");
  const Result bytool2 = qeltool({"run", a, "--restart", "000500", "REI=2e-3", "--save-input",
                                  "--until", "1.5", "--dump-every", "0.5", "--diag-every", "0"});
  ASSERT_EQ(byhand2.status, 0) << byhand2.err;
  ASSERT_EQ(bytool2.status, 0) << bytool2.err;
  EXPECT_EQ(replace_all(bytool2.out, a, b), byhand2.out);
  EXPECT_EQ(files_in(a), files_in(b));
  EXPECT_NE(files_in(a)["qel.input"].find(" REI=  2.0000000000000000E-003,"), std::string::npos);

  // A failing run reports the model's own status and message.
  const Result missing = qeltool(
      {"run", a, "--restart", "7770", "--until", "1", "--dump-every", "1", "--diag-every", "1"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("qel007770.dat"), std::string::npos) << missing.err;
}

TEST(Run, BadNamesAndValuesAreRefusedBeforeTheRunStarts) {
  TempDir d;
  const std::string dir = experiment(d);
  const tool::Args times = {"--until", "1", "--dump-every", "0.5", "--diag-every", "0.2"};
  auto with = [&](tool::Args extra) {
    tool::Args a = {"run", dir};
    a.insert(a.end(), times.begin(), times.end());
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  };
  const std::vector<std::pair<tool::Args, std::string>> cases = {
      {with({"VISCOSITY=1"}), "'VISCOSITY' is not a parameter of group F"},
      {with({"DT=fast"}), "'fast' of DT is not a real constant"},
      {with({"DT=1,2"}), "'1,2' of DT is not a real constant"},
      {with({"--restart", "-5"}), "not a non-negative integer"},
      {with({"--fast"}), "unknown option --fast"},
      {{"run", dir, "--until", "1", "--dump-every", "0.5"}, "are all needed"},
      {{"run", dir, "--until", "1", "--dump-every", "0", "--diag-every", "0"}, "must be positive"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = qeltool(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.out, "") << "the dialogue must not have started: " << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_EQ(files_in(dir).size(), 1u);

  // A directory name with quotes and blanks reaches the model intact.
  const std::string odd = experiment(d, "it's a dir");
  const Result r = qeltool({"run", odd, "--until", "0", "--dump-every", "1", "--diag-every", "1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(odd + "/qel000030.dat"));
}

TEST(Help, EveryCommandDocumentsItselfAndInitItsKeys) {
  for (const char* cmd : {"init", "info", "nc", "hist", "run"})
    EXPECT_EQ(qeltool({cmd, "--help"}).out, tool::usage(cmd));
  for (const char* key : {"circulation=G [1]", "radius=a, core radius, > 0 [0.1]", "omega [1]",
                          "amplitude=A [0.1]", "r0 [0]", "z0 [0.5]", "radius, > 0 [0.2]"})
    EXPECT_NE(tool::usage("init").find(key), std::string::npos) << key;
  EXPECT_EQ(qeltool({"frobnicate"}).status, 2);
}
