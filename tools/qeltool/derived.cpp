// Derived fields and domain integrals of a dump, for the NetCDF export and
// qeltool info. All live at the grid points.
#include <cmath>
#include <memory>

#include "qeltool/qeltool.hpp"

namespace qel::tool {

// Control widths of the points along one axis: half the distance between
// the neighbours, half the first or last spacing at the two ends (the
// control volume stops at the wall or the axis).
void control_widths(const Array1<NR>& x, Array1<NR>& h) {
  constexpr int n = Array1<NR>::n;
  h(1) = (x(2) - x(1)) * 0.5;
  for (int k = 2; k <= n - 1; ++k) h(k) = (x(k + 1) - x(k - 1)) * 0.5;
  h(n) = (x(n) - x(n - 1)) * 0.5;
}

// The radius factor rc of the model's flux form at point i: the mean of the
// neighbouring radii, one-sided at the ends (r(2)/2 on the axis).
double radius_factor(const Array1<NR>& r, int i) {
  constexpr int n = Array1<NR>::n;
  if (i == 1) return (r(1) + r(2)) / 2.0;
  if (i == n) return (r(n - 1) + r(n)) / 2.0;
  return (r(i - 1) + r(i + 1)) / 2.0;
}

// Weights of the points: dr dz, times rc in axisymmetric geometry, the
// volume per radian of azimuth of each point's control volume, which the
// model's flux form conserves; in plane geometry the area. Only the dump's
// own r and z enter.
void control_weights(const State& s, Field& wgt) {
  Array1<NR> hr, hz;
  control_widths(s.basic.r, hr);
  control_widths(s.basic.z, hz);
  const bool axi = s.par.AXI != 0.0;
  for (int j = 1; j <= Field::ny; ++j)
    for (int i = 1; i <= Field::nx; ++i)
      wgt(i, j) = axi ? (radius_factor(s.basic.r, i) * hr(i)) * hz(j) : hr(i) * hz(j);
}

// psi(r, z) = integral from the axis of r w dr (of w dr in plane geometry),
// the trapezoidal rule between neighbouring points at each height: psi = 0 on
// the axis, and u = -psi_z/r, w = psi_r/r as in the vorticity core. A flow
// without divergence also has psi = 0 on the other walls.
void stream_function(const State& s, Field& psi) {
  const Array1<NR>& r = s.basic.r;
  const bool axi = s.par.AXI != 0.0;
  const Field& w = s.fields.w;
  for (int j = 1; j <= Field::ny; ++j) {
    psi(1, j) = 0.0;
    for (int i = 2; i <= Field::nx; ++i) {
      const double f0 = axi ? r(i - 1) * w(i - 1, j) : w(i - 1, j);
      const double f1 = axi ? r(i) * w(i, j) : w(i, j);
      psi(i, j) = psi(i - 1, j) + 0.5 * (r(i) - r(i - 1)) * (f0 + f1);
    }
  }
}

// zeta = w_r - u_z, the vorticity of the vorticity core (laplacian(psi) =
// zeta with u = -psi_z, w = psi_r), by centred differences at the interior
// points and one-sided differences on the axis and the walls, as the vorticity
// core differentiates psi for its velocities.
void vorticity(const State& s, Field& zeta) {
  constexpr int nr = Field::nx, nz = Field::ny;
  const Array1<NR>&r = s.basic.r, &z = s.basic.z;
  const Field &u = s.fields.u, &w = s.fields.w;
  for (int j = 1; j <= nz; ++j) {
    const int jm = j > 1 ? j - 1 : 1, jp = j < nz ? j + 1 : nz;
    for (int i = 1; i <= nr; ++i) {
      const int im = i > 1 ? i - 1 : 1, ip = i < nr ? i + 1 : nr;
      const double wr = (w(ip, j) - w(im, j)) / (r(ip) - r(im));
      const double uz = (u(i, jp) - u(i, jm)) / (z(jp) - z(jm));
      zeta(i, j) = wr - uz;
    }
  }
}

void kinetic_energy(const State& s, Field& ke) {
  const Fields& f = s.fields;
  for (std::size_t k = 0; k < Field::size(); ++k) {
    const double u = f.u.data()[k], v = f.v.data()[k], w = f.w.data()[k];
    ke.data()[k] = 0.5 * (u * u + v * v + w * w);
  }
}

void angular_momentum(const State& s, Field& rv) {
  for (int j = 1; j <= Field::ny; ++j)
    for (int i = 1; i <= Field::nx; ++i) rv(i, j) = s.basic.r(i) * s.fields.v(i, j);
}

// b minus its weighted mean along r at each height (the weights of
// control_weights: a mean over the horizontal section of the domain).
void buoyancy_anomaly(const State& s, Field& anomaly) {
  const auto wp = std::make_unique<Field>();
  const Field& wgt = *wp;
  control_weights(s, *wp);
  const Field& b = s.fields.b;
  for (int j = 1; j <= Field::ny; ++j) {
    double sum = 0.0, wsum = 0.0;
    for (int i = 1; i <= Field::nx; ++i) {
      sum += wgt(i, j) * b(i, j);
      wsum += wgt(i, j);
    }
    const double mean = sum / wsum;
    for (int i = 1; i <= Field::nx; ++i) anomaly(i, j) = b(i, j) - mean;
  }
}

// b minus the buoyancy of a fresh start with the dump's parameters,
// b0(z) = 1 / (1 + exp(BSMOOTH (BINTERFACE - z))).
void buoyancy_background_anomaly(const State& s, Field& anomaly) {
  for (int j = 1; j <= Field::ny; ++j) {
    const double b0 = 1.0 / (1.0 + std::exp(s.par.BSMOOTH * (s.par.BINTERFACE - s.basic.z(j))));
    for (int i = 1; i <= Field::nx; ++i) anomaly(i, j) = s.fields.b(i, j) - b0;
  }
}

// Sums in storage order (i fastest) of the weighted point values.
Integrals integrals(const State& s) {
  const auto wp = std::make_unique<Field>(), kp = std::make_unique<Field>();
  const Field &wgt = *wp, &ke = *kp;
  control_weights(s, *wp);
  kinetic_energy(s, *kp);
  Integrals t{0.0, 0.0, 0.0};
  for (int j = 1; j <= Field::ny; ++j)
    for (int i = 1; i <= Field::nx; ++i) {
      t.kinetic_energy += wgt(i, j) * ke(i, j);
      t.angular_momentum += wgt(i, j) * (s.basic.r(i) * s.fields.v(i, j));
      t.buoyancy += wgt(i, j) * s.fields.b(i, j);
    }
  return t;
}

}  // namespace qel::tool
