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
// can: every parameter but TIME and DT, and the grid, must be the same.
std::string different_run(const State& a, const State& b) {
  const auto va = values_of(a.par), vb = values_of(b.par);
  for (std::size_t k = 2; k < va.size(); ++k)
    if (!same_bits(va[k], vb[k]))
      return "parameter " + member_of_record(k) + " differs (" + shortest(va[k]) + " and " +
             shortest(vb[k]) + ")";
  for (int i = 1; i <= NR; ++i)
    if (!same_bits(a.basic.r(i), b.basic.r(i)) || !same_bits(a.basic.z(i), b.basic.z(i)))
      return "the grid differs";
  return "";
}

// A NetCDF file under construction: built in memory and written to the
// target through a temporary file renamed over it when it is complete, so a
// failure (a full disc included) leaves no partial file and any earlier file
// whole, and the library never meets a failing write of its own.
class NcFile {
 public:
  explicit NcFile(std::string target) : target_(std::move(target)) {
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
  // A double variable with its long name and units, compressed losslessly.
  int var(const char* name, std::vector<int> dims, const std::string& long_name) {
    int v = -1;
    check(nc_def_var(id_, name, NC_DOUBLE, int(dims.size()), dims.data(), &v),
          std::string("variable ") + name);
    if (dims.size() > 1)
      check(nc_def_var_deflate(id_, v, 1, 1, 4), std::string("compress ") + name);
    text(v, "long_name", long_name);
    text(v, "units", "1");
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
  double time, dt;
};

}  // namespace

int nc(const Args& args, std::ostream& out, std::ostream&) {
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
    read_dump(n == 1 ? *first : *s, args[n]);
    const State& d = n == 1 ? *first : *s;
    if (std::isnan(d.par.TIME)) throw Stop(2, args[n] + ": its model time TIME is NaN");
    if (n > 1) {
      const std::string why = different_run(*first, *s);
      if (!why.empty())
        throw Stop(2, args[1] + " and " + args[n] + " are not dumps of one run: " + why);
    }
    entries.push_back({args[n], d.par.TIME, d.par.DT});
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.time < b.time; });
  for (std::size_t n = 1; n < entries.size(); ++n)
    if (entries[n].time == entries[n - 1].time)
      throw Stop(2, entries[n - 1].name + " and " + entries[n].name + " hold the same model time " +
                        shortest(entries[n].time));

  const Par& par = first->par;
  const bool primitive = mode_name(par) == "primitive";
  const bool axi = par.AXI != 0.0;

  NcFile f(target);
  f.text(NC_GLOBAL, "Conventions", "CF-1.8");
  f.text(NC_GLOBAL, "title", "qel model output");
  f.text(NC_GLOBAL, "source",
         "qel " + version_text() + ", " + std::string(mode_name(par)) + " mode, " +
             (axi ? "axisymmetric" : "plane") + " geometry");
  f.text(NC_GLOBAL, "qel_version", QEL_VERSION);
  f.text(NC_GLOBAL, "qel_revision", source_revision());
  f.text(NC_GLOBAL, "history", utc_now() + ": " + command_line("nc", args));
  f.text(NC_GLOBAL, "comment",
         "All quantities are non-dimensional model units. The global attributes TIME to EXTRA4 "
         "are the run parameters (namelist group F); TIME and DT are those of the first time.");
  Par shown = par;
  shown.TIME = entries.front().time;
  shown.DT = entries.front().dt;
  for (std::size_t k = 0; k < kParNames.size(); ++k)
    f.number(NC_GLOBAL, std::string(kParNames[k]).c_str(), shown.*kParMembers[k]);

  const int d_time = f.dim("time", entries.size());
  const int d_z = f.dim("z", NR);
  const int d_r = f.dim("r", NR);
  const int vtime = f.var("time", {d_time}, "model time");
  f.text(vtime, "axis", "T");
  const int vz = f.var("z", {d_z}, "height");
  f.text(vz, "axis", "Z");
  f.text(vz, "positive", "up");
  const int vr = f.var("r", {d_r}, axi ? "radius" : "distance across");
  f.text(vr, "axis", "X");
  const int vdt = f.var("dt", {d_time}, "time step that ended at this time");

  struct Out {
    int var;
    const double* data;
    bool cell;
  };
  std::vector<Out> fields;
  int vzc = -1, vrc = -1;
  for (const DumpField& d : dump_fields(s->fields, primitive)) {
    if (d.cell) {
      // The cell-centred pressure lives on the 90 x 90 cell centres.
      const int dzc = f.dim("z_cell", NC);
      const int drc = f.dim("r_cell", NC);
      vzc = f.var("z_cell", {dzc}, "height of the cell centres");
      f.text(vzc, "positive", "up");
      vrc = f.var("r_cell", {drc},
                  axi ? "radius of the cell centres" : "distance across of the cell centres");
      fields.push_back({f.var(d.name, {d_time, dzc, drc}, d.long_name), d.data, true});
    } else {
      fields.push_back({f.var(d.name, {d_time, d_z, d_r}, d.long_name), d.data, false});
    }
  }
  f.end_definitions();

  f.put(vz, first->basic.z.data());
  f.put(vr, first->basic.r.data());
  if (primitive) {
    Array1<NC> zc, rc;
    for (int k = 1; k <= NC; ++k) {
      zc(k) = 0.5 * (first->basic.z(k) + first->basic.z(k + 1));
      rc(k) = 0.5 * (first->basic.r(k) + first->basic.r(k + 1));
    }
    f.put(vzc, zc.data());
    f.put(vrc, rc.data());
  }

  // Second pass: the dumps in time order.
  for (std::size_t t = 0; t < entries.size(); ++t) {
    read_dump(*s, entries[t].name);
    if (!same_bits(s->par.TIME, entries[t].time) || !different_run(*first, *s).empty())
      throw Stop(2, entries[t].name + " changed while it was being read");
    f.put_at(vtime, t, s->par.TIME);
    f.put_at(vdt, t, s->par.DT);
    for (const Out& o : fields) f.put_at(o.var, t, o.cell ? NC : NR, o.cell ? NC : NR, o.data);
  }
  f.finish();
  out << "wrote " << target << ": " << entries.size() << " time(s) from "
      << shortest(entries.front().time) << " to " << shortest(entries.back().time) << ", "
      << mode_name(par) << " mode\n";
  return 0;
}

}  // namespace qel::tool
