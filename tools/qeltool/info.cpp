// qeltool info: what a dump holds, in a form a person can read.
#include <cmath>
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>

#include "driver/console.hpp"
#include "driver/files.hpp"
#include "driver/namelist.hpp"
#include "qeltool/qeltool.hpp"

namespace qel::tool {

namespace {

// One line of the range table: the smallest and largest value that is not a
// NaN, and the number of NaN values when there are any.
void range_line(std::ostream& out, std::string_view name, const double* x, std::size_t n) {
  double lo = NAN, hi = NAN;
  std::size_t nans = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (std::isnan(x[k])) {
      ++nans;
      continue;
    }
    if (!(x[k] >= lo)) lo = x[k];
    if (!(x[k] <= hi)) hi = x[k];
  }
  std::string label(name);
  label.resize(8, ' ');
  out << ' ' << label << list_real(lo) << ' ' << list_real(hi);
  if (nans > 0) out << "  (" << nans << " NaN)";
  out << '\n';
}

}  // namespace

int info(const Args& args, std::ostream& out, std::ostream&) {
  if (args.size() != 1) throw Stop(2, "expected one dump file\n" + usage("info"));
  auto s = std::make_unique<State>();
  read_dump_file(*s, args[0]);
  const Par& par = s->par;
  const Fields& f = s->fields;

  out << " dump " << args[0] << '\n';
  out << " model time " << list_real(par.TIME) << '\n';
  out << " mode " << mode_name(par) << " (USEPRIM = " << shortest(par.USEPRIM) << ")\n";
  write_namelist(out, par);
  out << " field   " << std::string(18, ' ') << "minimum" << std::string(19, ' ') << "maximum\n";
  const bool primitive = mode_name(par) == "primitive";
  for (const DumpField& d : dump_fields(f, primitive))
    range_line(out, d.name, d.data, d.cell ? CellField::size() : Field::size());
  range_line(out, "r", s->basic.r.data(), std::size_t(Field::nx));
  range_line(out, "z", s->basic.z.data(), std::size_t(Field::ny));
  // The domain integrals of the NetCDF file (ke_integral, rv_integral,
  // b_integral).
  const Integrals in = integrals(*s);
  const bool axi = par.AXI != 0.0;
  out << " integrals over the domain, "
      << (axi ? "per radian (weights rc dr dz)" : "per unit length (weights dr dz)") << '\n';
  out << " kinetic energy   " << list_real(in.kinetic_energy) << '\n';
  if (axi) out << " angular momentum " << list_real(in.angular_momentum) << '\n';
  out << " buoyancy         " << list_real(in.buoyancy) << '\n';
  return 0;
}

}  // namespace qel::tool
