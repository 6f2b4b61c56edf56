// Upwind-biased advection in grid-index space: T -= vel * D F, where D is
// half an index-space first derivative (mr and mz carry the factor 2).
#include "transport/reference.hpp"

namespace qel {

namespace {

// The difference formulas: centred, and third- and fifth-order biased
// towards the upstream side for flow towards + (p) or towards - (m).
enum class Dif { C2, U3p, U3m, U5p, U5m };

// Half the first derivative of f at (i, j) along the direction (DI, DJ):
// the weighted sum in stencil order, then times the factor.
template <Dif D, int DI, int DJ>
inline double half_derivative(const Field& f, int i, int j) {
  const auto at = [&](int m) { return f(i + m * DI, j + m * DJ); };
  if constexpr (D == Dif::C2) {
    return (at(1) - at(-1)) * 0.25;
  } else if constexpr (D == Dif::U3p) {
    return (((at(-2) - 6.0 * at(-1)) + 3.0 * at(0)) + 2.0 * at(1)) * 0.08333333333333333;
  } else if constexpr (D == Dif::U3m) {
    return (((-2.0 * at(-1) - 3.0 * at(0)) + 6.0 * at(1)) - at(2)) * 0.08333333333333333;
  } else if constexpr (D == Dif::U5p) {
    return (((((-2.0 * at(-3) + 15.0 * at(-2)) - 60.0 * at(-1)) + 20.0 * at(0)) + 30.0 * at(1)) -
            3.0 * at(2)) *
           0.008333333333333333;
  } else {
    return (((((3.0 * at(-2) - 30.0 * at(-1)) - 20.0 * at(0)) + 60.0 * at(1)) - 15.0 * at(2)) +
            2.0 * at(3)) *
           0.008333333333333333;
  }
}

// A run of nodes First..Last along the sweep that use formula P where the
// velocity is positive, M where it is negative and Z where it is zero.
template <int First, int Last, Dif P, Dif M, Dif Z>
struct Seg {
  static constexpr int first = First;
  static constexpr int last = Last;
};

// The formula choice of one sweep: consecutive runs covering 2..90.
template <class... Segs>
struct Table {
  static constexpr bool covers_interior() {
    int next = 2;
    bool ok = true;
    ((ok = ok && Segs::first == next && Segs::last >= Segs::first, next = Segs::last + 1), ...);
    return ok && next == NR;
  }
  static_assert(covers_interior(), "a sweep table must cover nodes 2..90 once, in order");
};

// T(i, j) -= vel(i, j) * D F(i, j), D picked by the sign of the velocity:
// within a run the choice is a select on the sign, never a test of the index.
template <Dif P, Dif M, Dif Z, int DI, int DJ>
inline void subtract(Field& t, const Field& f, const Field& vel, int i, int j) {
  const double v = vel(i, j);
  const double dp = half_derivative<P, DI, DJ>(f, i, j);
  const double dm = half_derivative<M, DI, DJ>(f, i, j);
  const double dz = half_derivative<Z, DI, DJ>(f, i, j);
  const double d = v > 0.0 ? dp : (v < 0.0 ? dm : dz);
  t(i, j) = t(i, j) - d * v;
}

// Sweep along i: every column j = 1..91, nodes i of the run.
template <int First, int Last, Dif P, Dif M, Dif Z>
inline void sweep_i_run(Seg<First, Last, P, M, Z>, Field& t, const Field& f, const Field& ucon,
                        int j) {
  for (int i = First; i <= Last; ++i) subtract<P, M, Z, 1, 0>(t, f, ucon, i, j);
}

// Sweep along j: rows j of the run, every i = 1..91 (i innermost).
template <int First, int Last, Dif P, Dif M, Dif Z>
inline void sweep_j_run(Seg<First, Last, P, M, Z>, Field& t, const Field& f, const Field& wcon) {
  for (int j = First; j <= Last; ++j)
    for (int i = 1; i <= NR; ++i) subtract<P, M, Z, 0, 1>(t, f, wcon, i, j);
}

// The i-sweep is finished in every column before the j-sweep starts, so
// that each node subtracts its i-term first. Wall nodes get only the
// term along their wall; the corners get nothing.
template <class... SI, class... SJ>
void advect(const State& s, Field& t, const Field& f, Table<SI...>, Table<SJ...>) {
  const Field& ucon = s.contra.ucon;
  const Field& wcon = s.contra.wcon;
  for (int j = 1; j <= NR; ++j) (sweep_i_run(SI{}, t, f, ucon, j), ...);
  (sweep_j_run(SJ{}, t, f, wcon), ...);
}

using enum Dif;

// Third order: the biased formula wherever its points exist, else centred;
// the same along i and j.
using Advect3Table = Table<Seg<2, 2, C2, U3m, C2>,    //
                           Seg<3, 89, U3p, U3m, C2>,  //
                           Seg<90, 90, U3p, C2, C2>>;

// Fifth order, falling back to third and second order near the ends (zero
// velocity takes the negative-side formula). For positive flow node 89
// uses U5p along i but U3p along j.
using Advect5ITable = Table<Seg<2, 2, C2, U3m, U3m>,     //
                            Seg<3, 3, U3p, U5m, U5m>,    //
                            Seg<4, 88, U5p, U5m, U5m>,   //
                            Seg<89, 89, U5p, U3m, U3m>,  //
                            Seg<90, 90, U3p, C2, C2>>;
using Advect5JTable = Table<Seg<2, 2, C2, U3m, U3m>,     //
                            Seg<3, 3, U3p, U5m, U5m>,    //
                            Seg<4, 88, U5p, U5m, U5m>,   //
                            Seg<89, 89, U3p, U3m, U3m>,  //
                            Seg<90, 90, U3p, C2, C2>>;

}  // namespace

void advect3_reference(const State& s, Field& t, const Field& f) {
  advect(s, t, f, Advect3Table{}, Advect3Table{});
}

void advect5_reference(const State& s, Field& t, const Field& f) {
  advect(s, t, f, Advect5ITable{}, Advect5JTable{});
}

}  // namespace qel
