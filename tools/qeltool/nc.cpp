// qeltool nc: the dumps of one run as one NetCDF-4 file following the CF
// conventions.
#include <netcdf.h>
#include <netcdf_mem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "driver/files.hpp"
#include "driver/signals.hpp"
#include "model/version.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

// The 100 values of the parameter record.
std::array<double, 100> values_of(const Par& par) {
  std::array<double, 100> v;
  std::memcpy(v.data(), &par, sizeof(Par));
  return v;
}

std::string member_of_record(std::size_t k) {
  if (k < kParNames.size()) return std::string(kParNames[k]);
  if (k == 98) return "fnr";
  if (k == 99) return "fnz";
  return "pspare(" + std::to_string(k - 35) + ")";
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Why the dump `b` cannot share a file with the dump `a`, or "" when it
// can: one run keeps its grid, its geometry and its core; the other
// parameters may change at a restart and become variables along time.
std::string different_run(const State& a, const State& b) {
  const auto va = values_of(a.par), vb = values_of(b.par);
  for (std::size_t k = 0; k < va.size(); ++k) {
    const std::string name = member_of_record(k);
    const bool structural = k >= kParNames.size() || name == "RWID" || name == "HITE" ||
                            name == "STR" || name == "STZ" || name == "AXI";
    if (structural && !same_bits(va[k], vb[k]))
      return "parameter " + name + " differs (" + shortest(va[k]) + " and " + shortest(vb[k]) +
             ")";
  }
  if (mode_name(a.par) != mode_name(b.par))
    return std::string("the core differs (") + std::string(mode_name(a.par)) + " and " +
           std::string(mode_name(b.par)) + ")";
  for (int i = 1; i <= Field::nx; ++i)
    if (!same_bits(a.basic.r(i), b.basic.r(i))) return "the grid differs";
  for (int j = 1; j <= Field::ny; ++j)
    if (!same_bits(a.basic.z(j), b.basic.z(j))) return "the grid differs";
  return "";
}

// The run parameters that change between dumps (TIME and DT aside), in
// group order.
std::vector<std::size_t> varying(const std::vector<Par>& pars) {
  std::vector<std::size_t> v;
  for (std::size_t k = 2; k < kParNames.size(); ++k)
    for (const Par& p : pars)
      if (!same_bits(p.*kParMembers[k], pars.front().*kParMembers[k])) {
        v.push_back(k);
        break;
      }
  return v;
}

bool same_set(const Par& a, const Par& b, const std::vector<std::size_t>& keys) {
  for (std::size_t k : keys)
    if (!same_bits(a.*kParMembers[k], b.*kParMembers[k])) return false;
  return true;
}

std::string set_text(const Par& p, const std::vector<std::size_t>& keys) {
  std::string t;
  for (std::size_t k : keys)
    t += (t.empty() ? "" : ", ") + std::string(kParNames[k]) + " = " + shortest(p.*kParMembers[k]);
  return t;
}

// A NetCDF file under construction: built in memory and written to the
// target through a temporary file renamed over it when it is complete, so a
// failure (a full disc included) leaves no partial file and any earlier file
// whole, and the library never meets a failing write of its own.
class NcFile {
 public:
  NcFile(std::string target, bool compress) : target_(std::move(target)), compress_(compress) {
    check(nc_create_mem(target_.c_str(), NC_NETCDF4, 1 << 20, &id_), "create");
    int old = 0;
    check(nc_set_fill(id_, NC_NOFILL, &old), "set fill mode");
  }
  NcFile(const NcFile&) = delete;
  NcFile& operator=(const NcFile&) = delete;
  ~NcFile() {
    if (id_ >= 0) nc_abort(id_);
  }

  void check(int status, const std::string& what) const {
    if (status != NC_NOERR)
      throw Stop(2, "cannot write " + target_ + " (" + what + "): " + nc_strerror(status));
  }
  int dim(const char* name, std::size_t len) {
    int d = -1;
    check(nc_def_dim(id_, name, len, &d), std::string("dimension ") + name);
    return d;
  }
  // A double variable with its long name and units; compressed losslessly
  // (shuffle and deflate level 1) when asked.
  int var(const char* name, std::vector<int> dims, const std::string& long_name,
          const std::string& units = "1") {
    int v = -1;
    check(nc_def_var(id_, name, NC_DOUBLE, int(dims.size()), dims.data(), &v),
          std::string("variable ") + name);
    if (compress_ && dims.size() > 1)
      check(nc_def_var_deflate(id_, v, 1, 1, 1), std::string("compress ") + name);
    // One chunk per time level, so that each write compresses its own level
    // only and the time taken grows in proportion to the number of dumps.
    if (dims.size() == 3) {
      std::size_t chunk[3] = {1, 0, 0};
      for (int k = 1; k < 3; ++k) check(nc_inq_dimlen(id_, dims[std::size_t(k)], &chunk[k]), "chunks");
      check(nc_def_var_chunking(id_, v, NC_CHUNKED, chunk), std::string("chunk ") + name);
    }
    text(v, "long_name", long_name);
    text(v, "units", units);
    return v;
  }
  void text(int var, const char* name, const std::string& value) {
    check(nc_put_att_text(id_, var, name, value.size(), value.c_str()),
          std::string("attribute ") + name);
  }
  void number(int var, const char* name, double value) {
    check(nc_put_att_double(id_, var, name, NC_DOUBLE, 1, &value),
          std::string("attribute ") + name);
  }
  void end_definitions() { check(nc_enddef(id_), "definitions"); }
  void put(int var, const double* x) { check(nc_put_var_double(id_, var, x), "data"); }
  // One time level of a (time, y, x) variable.
  void put_at(int var, std::size_t t, std::size_t ny, std::size_t nx, const double* x) {
    const std::size_t start[3] = {t, 0, 0}, count[3] = {1, ny, nx};
    check(nc_put_vara_double(id_, var, start, count, x), "data");
  }
  void put_at(int var, std::size_t t, double x) {
    const std::size_t start[1] = {t};
    check(nc_put_var1_double(id_, var, start, &x), "data");
  }

  void finish() {
    const int id = id_;
    id_ = -1;
    NC_memio mem{};
    check(nc_close_memio(id, &mem), "close");
    const std::unique_ptr<void, void (*)(void*)> owned(mem.memory, std::free);
    replace_file(target_, std::string_view(static_cast<const char*>(mem.memory), mem.size));
  }

 private:
  std::string target_;
  bool compress_;
  int id_ = -1;
};

// The present time as ISO 8601 UTC, to the second.
std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The command that made the file, each argument quoted for a POSIX shell
// where it holds anything but plain characters.
std::string command_line(const std::string& command, const Args& args) {
  std::string line = "qeltool " + command;
  for (const std::string& a : args) {
    const bool plain = !a.empty() && a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN"
                                                         "OPQRSTUVWXYZ0123456789-_.,/=+:@%") ==
                                         std::string::npos;
    if (plain) {
      line += " " + a;
      continue;
    }
    line += " '";
    for (char c : a) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += "'";
  }
  return line;
}

struct Entry {
  std::string name;
  Par par;
};

}  // namespace

int nc(const Args& given, std::ostream& out, std::ostream&) {
  // --compress anywhere: deflate the fields (files about a third smaller,
  // the export about three times slower).
  Args args = given;
  const bool compress = take_flag(args, "--compress");
  if (args.size() < 2) throw Stop(2, "expected OUT.nc and at least one dump\n" + usage("nc"));
  const std::string& target = args[0];
  // Guards against a dump named first by mistake being written over.
  if (target.size() < 4 || target.substr(target.size() - 3) != ".nc")
    throw Stop(2, "the output file '" + target + "' must end in .nc (the dumps follow it)");

  // First pass: every dump is read and checked against the first.
  auto first = std::make_unique<State>();
  auto s = std::make_unique<State>();
  std::vector<Entry> entries;
  for (std::size_t n = 1; n < args.size(); ++n) {
    read_dump_file(n == 1 ? *first : *s, args[n]);
    const State& d = n == 1 ? *first : *s;
    if (!std::isfinite(d.par.TIME))
      throw Stop(2, args[n] + ": its model time TIME is " + shortest(d.par.TIME) +
                        ", not a finite time");
    if (n > 1) {
      const std::string why = different_run(*first, *s);
      if (!why.empty())
        throw Stop(2, args[1] + " and " + args[n] + " are not dumps of one run: " + why);
    }
    entries.push_back({args[n], d.par});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.par.TIME < b.par.TIME; });
  for (std::size_t n = 1; n < entries.size(); ++n)
    if (entries[n].par.TIME == entries[n - 1].par.TIME)
      throw Stop(2, entries[n - 1].name + " and " + entries[n].name + " hold the same model time " +
                        shortest(entries[n].par.TIME));

  // Parameters changed at restarts: in time order, each set of values holds
  // over one span of time. A set that comes back after another interleaves
  // two branches of a run restarted from one dump with different values.
  std::vector<Par> pars;
  for (const Entry& e : entries) pars.push_back(e.par);
  const std::vector<std::size_t> changing = varying(pars);
  for (std::size_t n = 1; n < entries.size(); ++n) {
    if (same_set(pars[n], pars[n - 1], changing)) continue;
    for (std::size_t m = 0; m + 1 < n; ++m)
      if (same_set(pars[m], pars[n], changing))
        throw Stop(2, "the dumps interleave in time two branches of a run with different "
                      "parameters: " + entries[m].name + " (" + set_text(pars[m], changing) +
                      ") is earlier and " + entries[n - 1].name + " (" +
                      set_text(pars[n - 1], changing) + ") between it and " + entries[n].name +
                      "; export each branch on its own");
  }

  const Par& par = first->par;
  const bool primitive = mode_name(par) == "primitive";
  const bool axi = par.AXI != 0.0;

  // An interrupt removes the temporary file of the output and says so.
  const RunSignals signals;
  note_interrupt("qeltool nc", target + " was not written");

  NcFile f(target, compress);
  f.text(NC_GLOBAL, "Conventions", "CF-1.8");
  f.text(NC_GLOBAL, "title", "qel model output");
  f.text(NC_GLOBAL, "source",
         "qel " + version_text() + ", " + std::string(mode_name(par)) + " mode, " +
             (axi ? "axisymmetric" : "plane") + " geometry");
  f.text(NC_GLOBAL, "qel_version", QEL_VERSION);
  f.text(NC_GLOBAL, "qel_revision", source_revision());
  // The command as given; a long list of dumps is shortened to its first and
  // last, since an attribute holds at most 64 KiB.
  std::string command = command_line("nc", given);
  if (command.size() > 4096) {
    Args brief = {args[0], args[1], "...", args.back()};
    if (compress) brief.insert(brief.begin(), "--compress");
    command = command_line("nc", brief) + " (" + std::to_string(args.size() - 1) + " dumps)";
  }
  f.text(NC_GLOBAL, "history", utc_now() + ": " + command);
  std::string names;
  for (std::size_t k : changing) names += (names.empty() ? "" : " ") + std::string(kParNames[k]);
  f.text(NC_GLOBAL, "comment",
         "All quantities are non-dimensional model units. The global attributes TIME to EXTRA4 "
         "are the run parameters (namelist group F); TIME and DT are those of the first time." +
             (changing.empty()
                  ? std::string()
                  : " The parameters " + names +
                        " change at restarts of the run: each is also a variable along time "
                        "of the same name, and its attribute is its value at the first time."));
  f.text(NC_GLOBAL, "varying_parameters", names);
  for (std::size_t k = 0; k < kParNames.size(); ++k)
    f.number(NC_GLOBAL, std::string(kParNames[k]).c_str(), entries.front().par.*kParMembers[k]);

  const int d_time = f.dim("time", entries.size());
  const int d_z = f.dim("z", std::size_t(Field::ny));
  const int d_r = f.dim("r", std::size_t(Field::nx));
  const int vtime = f.var("time", {d_time}, "model time");
  f.text(vtime, "axis", "T");
  const int vz = f.var("z", {d_z}, "height");
  f.text(vz, "axis", "Z");
  f.text(vz, "positive", "up");
  const int vr = f.var("r", {d_r}, axi ? "radius" : "distance across");
  f.text(vr, "axis", "X");
  const int vdt = f.var("dt", {d_time}, "time step that ended at this time");
  std::vector<int> vpar;
  for (std::size_t k : changing)
    vpar.push_back(f.var(std::string(kParNames[k]).c_str(), {d_time},
                         "run parameter " + std::string(kParNames[k]) +
                             " in effect at this time (it changes at restarts)"));

  struct Out {
    int var;
    const double* data;
    bool cell;
  };
  std::vector<Out> fields;
  int vzc = -1, vrc = -1;
  for (const DumpField& d : dump_fields(s->fields, primitive)) {
    if (d.cell) {
      // The cell-centred pressure lives on the cell centres.
      const int dzc = f.dim("z_cell", std::size_t(CellField::ny));
      const int drc = f.dim("r_cell", std::size_t(CellField::nx));
      vzc = f.var("z_cell", {dzc}, "height of the cell centres");
      f.text(vzc, "positive", "up");
      vrc = f.var("r_cell", {drc},
                  axi ? "radius of the cell centres" : "distance across of the cell centres");
      fields.push_back({f.var(d.name, {d_time, dzc, drc}, d.long_name), d.data, true});
    } else {
      fields.push_back({f.var(d.name, {d_time, d_z, d_r}, d.long_name), d.data, false});
    }
  }

  // Derived fields, computed from each dump as it is written; the comment
  // attribute says how.
  struct Derived {
    int var;
    void (*make)(const State&, Field&);
  };
  std::vector<Derived> derived;
  const auto field = [&](const char* name, const std::string& long_name, const std::string& how,
                         void (*make)(const State&, Field&)) {
    const int v = f.var(name, {d_time, d_z, d_r}, long_name);
    f.text(v, "comment", how);
    derived.push_back({v, make});
  };
  if (primitive) {
    field("psi_from_w", "stream function from the mass flux",
          std::string("psi = trapezoidal integral of ") + (axi ? "r w" : "w") +
              " dr along r from the axis (psi = 0) at each height, so that u = -psi_z" +
              (axi ? "/r, w = psi_r/r" : ", w = psi_r") +
              " as in the vorticity core; its value on the outer wall is the net vertical "
              "mass flux through that height (0 for a flow without divergence)",
          stream_function);
    field("zeta_from_uw", "azimuthal vorticity from u and w",
          "zeta = w_r - u_z (the vorticity core's zeta, whose laplacian(psi) = zeta): centred "
          "differences at the interior points, one-sided on the axis and the walls",
          vorticity);
  }
  field("ke", "kinetic energy density", "(u^2 + v^2 + w^2)/2 at each point", kinetic_energy);
  if (axi)
    field("rv", "angular momentum per unit mass", "r v at each point", angular_momentum);
  field("b_anomaly", "buoyancy anomaly against the horizontal mean",
        std::string("b minus its mean along r at the same height, each point weighted by its "
                    "control width") +
            (axi ? " times the radius factor rc (the weights of the domain integrals)" : ""),
        buoyancy_anomaly);
  field("b_anomaly_background", "buoyancy anomaly against the background of a fresh start",
        "b minus b0(z) = 1/(1 + exp(BSMOOTH (BINTERFACE - z))) with the dump's BSMOOTH and "
        "BINTERFACE (b0 = 0.5 for BSMOOTH = 0)",
        buoyancy_background_anomaly);

  // Integrals over the domain at each time, with the model's control volumes.
  const std::string how =
      axi ? "sum over the points of the value times rc dr dz: dr, dz the control widths "
            "(half the distance between the neighbours, half the spacing at the axis and the "
            "walls), rc the model's radius factor (the mean of the neighbouring radii, r(2)/2 "
            "on the axis); a volume integral per radian of azimuth"
          : "sum over the points of the value times dr dz: dr, dz the control widths (half "
            "the distance between the neighbours, half the spacing at the walls); an integral "
            "per unit length normal to the plane";
  const auto total = [&](const char* name, const std::string& long_name) {
    const int v = f.var(name, {d_time}, long_name);
    f.text(v, "comment", how);
    return v;
  };
  const int vke = total("ke_integral", "domain integral of the kinetic energy density");
  const int vrv = axi ? total("rv_integral", "domain integral of the angular momentum r v") : -1;
  const int vb = total("b_integral", "domain integral of the buoyancy");
  f.end_definitions();

  f.put(vz, first->basic.z.data());
  f.put(vr, first->basic.r.data());
  if (primitive) {
    Array1<NC> zc, rc;
    for (int k = 1; k <= CellField::ny; ++k) zc(k) = 0.5 * (first->basic.z(k) + first->basic.z(k + 1));
    for (int k = 1; k <= CellField::nx; ++k) rc(k) = 0.5 * (first->basic.r(k) + first->basic.r(k + 1));
    f.put(vzc, zc.data());
    f.put(vrc, rc.data());
  }

  // Second pass: the dumps in time order.
  const auto work = std::make_unique<Field>();
  for (std::size_t t = 0; t < entries.size(); ++t) {
    read_dump_file(*s, entries[t].name);
    if (!same_bits(s->par.TIME, entries[t].par.TIME) ||
        std::memcmp(&s->par, &entries[t].par, sizeof(Par)) != 0 ||
        !different_run(*first, *s).empty())
      throw Stop(2, entries[t].name + " changed while it was being read");
    f.put_at(vtime, t, s->par.TIME);
    f.put_at(vdt, t, s->par.DT);
    for (std::size_t k = 0; k < changing.size(); ++k)
      f.put_at(vpar[k], t, s->par.*kParMembers[changing[k]]);
    for (const Out& o : fields)
      if (o.cell)
        f.put_at(o.var, t, CellField::ny, CellField::nx, o.data);
      else
        f.put_at(o.var, t, Field::ny, Field::nx, o.data);
    for (const Derived& d : derived) {
      d.make(*s, *work);
      f.put_at(d.var, t, Field::ny, Field::nx, work->data());
    }
    const Integrals in = integrals(*s);
    f.put_at(vke, t, in.kinetic_energy);
    if (axi) f.put_at(vrv, t, in.angular_momentum);
    f.put_at(vb, t, in.buoyancy);
  }
  f.finish();
  out << "wrote " << target << ": " << entries.size() << " time(s) from "
      << shortest(entries.front().par.TIME) << " to " << shortest(entries.back().par.TIME) << ", "
      << mode_name(par) << " mode";
  if (!changing.empty()) out << "; parameters changing along time: " << names;
  out << '\n';
  return 0;
}

}  // namespace qel::tool
