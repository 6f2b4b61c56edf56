// qeltool init: the fresh start of qeln with a chosen flow added, written as
// a restart dump.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>
#include <memory>
#include <numbers>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "driver/console.hpp"
#include "driver/files.hpp"
#include "driver/namelist.hpp"
#include "driver/signals.hpp"
#include "driver/start.hpp"
#include "grid/grid.hpp"
#include "model/ranges.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

struct Key {
  const char* name;
  double dflt;
  bool positive;  // the value must be > 0 (a length)
};

struct Recipe {
  const char* name;
  std::vector<Key> keys;
  // Adds the flow to the fresh-start fields; k holds the keys' values in
  // the order of `keys`.
  void (*add)(State& s, const std::vector<double>& k);
};

// Lamb-Oseen vortex: v = G / (2 pi r) (1 - exp(-r^2/a^2)), the swirl of a
// line vortex of circulation G diffused to core radius a; v -> 0 on the
// axis. 1 - exp(-x) is formed as -expm1(-x) so that it keeps its digits
// near the axis.
void add_vortex(State& s, const std::vector<double>& k) {
  const double circulation = k[0], a = k[1];
  for (int i = 1; i <= Field::nx; ++i) {
    const double r = s.basic.r(i);
    const double v =
        r > 0.0 ? circulation / (2.0 * std::numbers::pi * r) * -std::expm1(-(r * r) / (a * a))
                : 0.0;
    for (int j = 1; j <= Field::ny; ++j) s.fields.v(i, j) += v;
  }
}

// Solid-body rotation: v = omega r.
void add_solidbody(State& s, const std::vector<double>& k) {
  for (int j = 1; j <= Field::ny; ++j)
    for (int i = 1; i <= Field::nx; ++i) s.fields.v(i, j) += k[0] * s.basic.r(i);
}

// Gaussian buoyancy anomaly A exp(-((r - r0)^2 + (z - z0)^2) / radius^2).
void add_thermal(State& s, const std::vector<double>& k) {
  const double amplitude = k[0], r0 = k[1], z0 = k[2], radius = k[3];
  for (int j = 1; j <= Field::ny; ++j) {
    const double dz = s.basic.z(j) - z0;
    for (int i = 1; i <= Field::nx; ++i) {
      const double dr = s.basic.r(i) - r0;
      s.fields.b(i, j) += amplitude * std::exp(-(dr * dr + dz * dz) / (radius * radius));
    }
  }
}

const std::vector<Recipe>& recipes() {
  static const std::vector<Recipe> list = {
      {"rest", {}, [](State&, const std::vector<double>&) {}},
      {"vortex", {{"circulation", 1.0, false}, {"radius", 0.1, true}}, add_vortex},
      {"solidbody", {{"omega", 1.0, false}}, add_solidbody},
      {"thermal",
       {{"amplitude", 0.1, false}, {"r0", 0.0, false}, {"z0", 0.5, false}, {"radius", 0.2, true}},
       add_thermal},
  };
  return list;
}

std::string key_names(const Recipe& rc) {
  if (rc.keys.empty()) return "it takes no keys";
  std::string s = "its keys are";
  for (const Key& k : rc.keys) s += std::string(" ") + k.name;
  return s;
}

}  // namespace

int init(const Args& args, std::ostream& out, std::ostream& err) {
  Args pos = args;
  const bool force = take_flag(pos, "--force");
  if (pos.size() < 3) throw Stop(2, "expected DIR STAMP RECIPE [key=value ...]\n" + usage("init"));
  const std::string& dir = pos[0];
  const std::int64_t stamp = stamp_value(pos[1]);

  const Recipe* recipe = nullptr;
  for (const Recipe& rc : recipes())
    if (pos[2] == rc.name) recipe = &rc;
  if (recipe == nullptr)
    throw Stop(2,
               "unknown recipe '" + pos[2] + "'; the recipes are rest, vortex, solidbody, thermal");

  // The keys given, checked against the recipe; the others keep their defaults.
  std::vector<double> values;
  std::vector<bool> given(recipe->keys.size(), false);
  for (const Key& k : recipe->keys) values.push_back(k.dflt);
  // NAME=VALUE for a run parameter (a member of group F, any letter case)
  // changes it from qel.input's value for this initial state.
  std::vector<std::pair<std::size_t, double>> edits;
  for (std::size_t n = 3; n < pos.size(); ++n) {
    const Setting kv = setting(pos[n]);
    std::size_t m = 0;
    while (m < recipe->keys.size() && kv.key != recipe->keys[m].name) ++m;
    if (const ParRange* pr = par_range(kv.key); m == recipe->keys.size() && pr != nullptr) {
      const auto k = std::size_t(pr - par_ranges().data());
      edits.emplace_back(k, real_value(kv.value, std::string(pr->name)));
      continue;
    }
    if (m == recipe->keys.size())
      throw Stop(2, "recipe " + std::string(recipe->name) + " has no key '" + kv.key + "'; " +
                        key_names(*recipe) + " (or NAME=VALUE for a parameter of group F)");
    if (given[m]) throw Stop(2, "key " + kv.key + " is given twice");
    given[m] = true;
    values[m] = real_value(kv.value, "key " + kv.key);
    if (recipe->keys[m].positive && !(values[m] > 0.0))
      throw Stop(2, "key " + kv.key + " must be positive, found " + kv.value);
  }

  // Everything is read, built and checked before anything is written: a
  // refusal leaves no file and no directory behind.
  struct stat st {};
  const bool have_dir = ::stat(dir.c_str(), &st) == 0;
  if (have_dir && !S_ISDIR(st.st_mode)) throw Stop(2, "'" + dir + "' is not a directory");
  if (!have_dir && errno != ENOENT)
    throw Stop(2, "cannot use the experiment directory " + dir + ": " + std::strerror(errno));
  // Like a run, init works in the directory only while it holds it.
  DirLock lock;
  if (have_dir) lock.take(dir, err, "qeltool init");
  // An earlier dump of the experiment is replaced only on request.
  const std::string name = dump_name(dir, stamp);
  if (!force && have_dir && ::stat(name.c_str(), &st) == 0)
    throw Stop(2, name + " exists; remove it or pass --force to replace it");

  // The parameters: qel.input, or the default group for a directory without one.
  const std::string input = dir + "/qel.input";
  const bool new_input = !have_dir || (::stat(input.c_str(), &st) != 0 && errno == ENOENT);
  const std::string input_text =
      new_input ? default_input(recipe->name) : read_regular_file(input, "parameter file");
  auto s = std::make_unique<State>();
  std::istringstream file(input_text);
  ListReader rd(file, input);
  read_namelist(rd, s->par);
  if (const auto bad = par_out_of_range(s->par)) throw Stop(2, input + ": " + *bad);
  for (const auto& [k, v] : edits) s->par.*kParMembers[k] = v;
  if (const auto bad = par_out_of_range(s->par))
    throw Stop(2, "the parameters as changed on the command line: " + *bad);

  // The fresh start of the driver: the grid, the history header (TIME as
  // read), the fields, TIME reset, the viscosity; then the recipe's flow.
  maketrans(*s);
  s->par.fnr = double(Field::nx);
  s->par.fnz = double(Field::ny);
  const Par header = s->par;
  fresh_fields(*s);
  s->par.TIME = 0.0;
  viscosity_profile(*s);
  recipe->add(*s, values);
  // A state with a NaN or an infinity would only stop the restart.
  for (const DumpField& d : dump_fields(s->fields, false))
    for (int j = 1; j <= Field::ny; ++j)
      for (int i = 1; i <= Field::nx; ++i) {
        const double x = d.data[std::size_t(i - 1) + std::size_t(Field::nx) * std::size_t(j - 1)];
        if (!std::isfinite(x))
          throw Stop(2, "the recipe " + std::string(recipe->name) + " gives " + d.name + " = " +
                            (std::isnan(x) ? std::string("NaN") : shortest(x)) + " at r = " + shortest(s->basic.r(i)) +
                            ", z = " + shortest(s->basic.z(j)) +
                            "; choose values that keep every field finite");
      }

  // Writing: an interrupt removes the temporary file of the dump.
  const RunSignals signals;
  note_interrupt("qeltool init", name + " was not written");
  if (!have_dir) {
    if (::mkdir(dir.c_str(), 0777) != 0)
      throw Stop(2, "cannot make the experiment directory " + dir + ": " + std::strerror(errno));
    lock.take(dir, err, "qeltool init");
  }
  const std::string hist = history_name(dir);
  bool new_history = false;
  try {
    if (new_input) replace_file(input, input_text);
    write_dump(*s, name);
    // A restart continues the history of its run, so a directory without
    // one gets the history of this fresh start: the parameter header. An
    // existing history is left as it is; the restart appends to it.
    new_history = ::stat(hist.c_str(), &st) != 0;
    if (new_history) {
      History h;
      h.create(hist, header);
    }
  } catch (const Stop&) {
    // A failed write takes back what this call made.
    if (new_input) ::unlink(input.c_str());
    if (!have_dir) {
      ::unlink(name.c_str());
      ::unlink(hist.c_str());
      ::rmdir(dir.c_str());
    }
    throw;
  }

  out << "wrote " << name << ": " << recipe->name;
  for (std::size_t m = 0; m < values.size(); ++m)
    out << ' ' << recipe->keys[m].name << '=' << shortest(values[m]);
  if (new_history) out << "; wrote " << hist << " with the parameter header";
  if (new_input) out << "; wrote " << input << " with default parameters (none was there)";
  out << '\n';
  return 0;
}

}  // namespace qel::tool
