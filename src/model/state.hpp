// The model state: every datum of a run in one plain struct.
//
// Grid: 91 x 91 points, i = 1..91 along r (across), j = 1..91 along z (up);
// 90 x 90 cell centres, cell (k, l) between points k, k+1 and l, l+1; 89 x 89
// interior unknowns of the Poisson problem. All indices are one-based and
// every two-dimensional array is stored with i varying fastest.
#pragma once

#include <array>
#include <cassert>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "model/blkplan.hpp"

namespace qel {

class DirectPressure;
class DirectStream;

inline constexpr int NR = 91;  // grid points along each axis
inline constexpr int NC = 90;  // cell centres along each axis
inline constexpr int NI = 89;  // interior unknowns along each axis

#ifdef QEL_BOUNDS_CHECK
#define QEL_INDEX_CHECK(cond) ((cond) ? void(0) : throw std::out_of_range("array index outside its extent"))
#else
#define QEL_INDEX_CHECK(cond) void(0)
#endif

// Fixed-size column-major array with one-based indices: a(i, j).
template <int NX, int NY, class T = double>
struct Array2 {
  static constexpr int nx = NX;
  static constexpr int ny = NY;
  std::array<T, std::size_t(NX) * NY> a{};

  T& operator()(int i, int j) {
    QEL_INDEX_CHECK(i >= 1 && i <= NX && j >= 1 && j <= NY);
    return a[std::size_t(i - 1) + std::size_t(NX) * std::size_t(j - 1)];
  }
  const T& operator()(int i, int j) const {
    QEL_INDEX_CHECK(i >= 1 && i <= NX && j >= 1 && j <= NY);
    return a[std::size_t(i - 1) + std::size_t(NX) * std::size_t(j - 1)];
  }
  T* data() { return a.data(); }
  const T* data() const { return a.data(); }
  static constexpr std::size_t size() { return std::size_t(NX) * NY; }
  void fill(T v) { a.fill(v); }
};

// Fixed-size one-dimensional profile with one-based index: p(i).
template <int N, class T = double>
struct Array1 {
  static constexpr int n = N;
  std::array<T, N> a{};

  T& operator()(int i) {
    QEL_INDEX_CHECK(i >= 1 && i <= N);
    return a[std::size_t(i - 1)];
  }
  const T& operator()(int i) const {
    QEL_INDEX_CHECK(i >= 1 && i <= N);
    return a[std::size_t(i - 1)];
  }
  T* data() { return a.data(); }
  const T* data() const { return a.data(); }
  static constexpr std::size_t size() { return N; }
  void fill(T v) { a.fill(v); }
};

using Field = Array2<NR, NR>;      // values at the grid points
using CellField = Array2<NC, NC>;  // values at the cell centres
using Tend = std::array<Field, 3>; // tendencies at three time-level slots

// Tendency slot by its one-based level number (knew, kold, kolder).
inline Field& slot(Tend& t, int k) { return t[std::size_t(k - 1)]; }
inline const Field& slot(const Tend& t, int k) { return t[std::size_t(k - 1)]; }

// Non-owning 90 x 90 view (leading dimension 90) over the first 8100 values
// of a 91 x 91 array: the cell pressure of the primitive core lives in psi.
template <class T>
struct CellViewT {
  T* p;
  T& operator()(int k, int l) const {
    QEL_INDEX_CHECK(k >= 1 && k <= NC && l >= 1 && l <= NC);
    return p[std::size_t(k - 1) + std::size_t(NC) * std::size_t(l - 1)];
  }
  operator CellViewT<const T>() const
    requires(!std::is_const_v<T>)
  {
    return {p};
  }
};
using CellView = CellViewT<double>;
using ConstCellView = CellViewT<const double>;

inline CellView cells(Field& f) { return CellView{f.data()}; }
inline ConstCellView cells(const Field& f) { return ConstCellView{f.data()}; }
inline CellView cells(CellField& f) { return CellView{f.data()}; }
inline ConstCellView cells(const CellField& f) { return ConstCellView{f.data()}; }

// The 100 run parameters. Members 1-36 are namelist group F in group order;
// the layout is stored whole in dumps and in the history header.
struct Par {
  double TIME, DT, DTMAX, CFL, DIFF, USEPRIM, ORDER, REI, REIT, RWID, HITE, STR,
      STZ, PIT, RLX, AXI, SWIRL, SLIPB, SLIPT, SLIPS, BDFON, BDFZ, BDFRZ, BDFRX,
      BDFTURNON, BUOYBOUND, BACTIVE, BSMOOTH, BINTERFACE, FROUDEINV, RAY, PRN,
      EXTRA1, EXTRA2, EXTRA3, EXTRA4;
  double pspare[62];
  double fnr, fnz;  // grid sizes as reals, 91.0 each
};
static_assert(std::is_standard_layout_v<Par> && std::is_trivially_copyable_v<Par>);
static_assert(sizeof(Par) == 800, "the parameter record is 100 doubles");
static_assert(offsetof(Par, EXTRA4) == 35 * sizeof(double));
static_assert(offsetof(Par, pspare) == 36 * sizeof(double));
static_assert(offsetof(Par, fnr) == 98 * sizeof(double));
static_assert(offsetof(Par, fnz) == 99 * sizeof(double));

inline constexpr int kNamelistSize = 36;

// Namelist names and members of group F, in group order.
inline constexpr std::array<std::string_view, kNamelistSize> kParNames = {
    "TIME",      "DT",        "DTMAX",  "CFL",        "DIFF",    "USEPRIM",
    "ORDER",     "REI",       "REIT",   "RWID",       "HITE",    "STR",
    "STZ",       "PIT",       "RLX",    "AXI",        "SWIRL",   "SLIPB",
    "SLIPT",     "SLIPS",     "BDFON",  "BDFZ",       "BDFRZ",   "BDFRX",
    "BDFTURNON", "BUOYBOUND", "BACTIVE", "BSMOOTH",   "BINTERFACE", "FROUDEINV",
    "RAY",       "PRN",       "EXTRA1", "EXTRA2",     "EXTRA3",  "EXTRA4"};

inline constexpr std::array<double Par::*, kNamelistSize> kParMembers = {
    &Par::TIME,      &Par::DT,        &Par::DTMAX,   &Par::CFL,        &Par::DIFF,
    &Par::USEPRIM,   &Par::ORDER,     &Par::REI,     &Par::REIT,       &Par::RWID,
    &Par::HITE,      &Par::STR,       &Par::STZ,     &Par::PIT,        &Par::RLX,
    &Par::AXI,       &Par::SWIRL,     &Par::SLIPB,   &Par::SLIPT,      &Par::SLIPS,
    &Par::BDFON,     &Par::BDFZ,      &Par::BDFRZ,   &Par::BDFRX,      &Par::BDFTURNON,
    &Par::BUOYBOUND, &Par::BACTIVE,   &Par::BSMOOTH, &Par::BINTERFACE, &Par::FROUDEINV,
    &Par::RAY,       &Par::PRN,       &Par::EXTRA1,  &Par::EXTRA2,     &Par::EXTRA3,
    &Par::EXTRA4};

// Grid coordinates and metric factors (written by maketrans).
struct Basic {
  Array1<NR> z, r;     // heights of rows j, radii of columns i
  Array1<NR> mr, mz;   // twice the reciprocal local spacing at the points
  Array1<NC> mrh, mzh; // twice the reciprocal cell widths
  Array1<NR> rc;       // radius factor at the points (1.0 in plane geometry)
  Array1<NC> rh;       // radius factor at the cell centres
  Array1<NR> rho, rhoc; // reference density along z and its point form (1.0)
  Array1<NC> rhoh;     // reference density at the cell centres (1.0)
};

// The model fields, in storage order.
struct Fields {
  Field b;       // buoyancy
  Field zeta;    // vorticity; in primitive mode the grid-point pressure before a dump
  Field psi;     // stream function; in primitive mode its first 8100 values are p
  Field u, w;    // velocities along i (radial) and j (vertical)
  Field visc;    // viscosity at the grid points
  CellField viscp; // viscosity at the cell centres
  Field v;       // swirl velocity
  Field bdf;     // body-force shape

  // The 90 x 90 cell pressure of the primitive core, stored in psi.
  CellView p() { return cells(psi); }
  ConstCellView p() const { return cells(psi); }
  // The primitive core's pressure averaged to the grid points before each
  // dump (that core has no vorticity), stored in zeta.
  Field& p_point() { return zeta; }
  const Field& p_point() const { return zeta; }
};

struct Others {
  Field flr, flz;        // mass fluxes r*rho*u and r*rho*w
  double dtold1 = 0, dtold2 = 0; // DT of the last two completed steps
  double cflr = 0, cflz = 0;     // largest |u*mr| and |w*mz|
  double divmax = 0;     // largest divergence left by the pressure iteration
  double bdframp = 0;    // body-force ramp factor
};

// Index tables from grid lines to the neighbouring cells (written by maketrans).
struct Bnds {
  Array1<NR, std::int32_t> ip, im, jp, jm;
};

struct Tends {
  Tend tzeta; // tendencies of zeta (vorticity core) or of u (primitive core)
  Tend tb;    // tendencies of b
  Tend tv;    // tendencies of v
  Tend tw;    // tendencies of w (primitive core)

  // The tendencies of u in the primitive core, which has no vorticity:
  // they occupy the slots of tzeta.
  Tend& tu() { return tzeta; }
  const Tend& tu() const { return tzeta; }
};

struct Foraxi {
  Field zadv; // quantity advected for the vorticity: zeta or zeta/r
  Field vadv; // quantity advected for the swirl: v or r*v
};

struct Contra {
  Field ucon, wcon; // velocities in grid units: u*mr and w*mz
};

struct Adams {
  Array2<3, 3> abc; // abc(k, m): weight of the k-th newest level in an m-level step
};

// The Poisson problem handed to the block-tridiagonal solver (single precision).
struct Blks {
  Array1<NI, float> am, bm, cm; // coefficients along i
  Array1<NI, float> an, bn, cn; // coefficients along j
  std::array<float, 8381> wblk{}; // solver work space; keeps the roots
  Array2<NI, NI, float> yblk;   // right-hand side in, solution out
  BlkPlan plan;                 // schedule and factors of the solve (set-up)
};

// Sizes and constants shared by the solver routines.
struct Cblkt {
  std::int32_t npp = 0, k = 0;
  float eps = 0, cnv = 0;
  std::int32_t nm = 0, ncmplx = 0, ik = 0;
};

struct Value {
  float vstore = 0; // used by the machine-epsilon search
};

// Scratch storage: each routine owns its own; nothing carries meaning from
// one call to the next.
struct Spare {
  struct {
    CellField flxr, flxz; // cell fluxes
    Field fovr;           // afdiff only
    Array1<NC> rh3;
    Array1<NR> rc3;
  } diffuse;
  struct {
    Field scr1, scr2;
    CellField pcoef, pdiv;
    CellField rhs; // right-hand side of the exact pressure equation
  } incmp;
  struct {
    Field scr1, scr2;
  } iterate;
  struct {
    Field scr1; // local diffusion numbers
  } diffmax;
  struct {
    Field fe, fn, fd1, fd2; // link fluxes, one array per link direction
  } arakawa;
  struct {
    Array2<NC, NR> F; // i-face fluxes
    Array2<NR, NC> G; // j-face fluxes
  } marat;
  struct {
    Array2<NC, NR> fr; // i-face fluxes of the primitive core's flux form
    Array2<NR, NC> fz; // j-face fluxes
  } flux_form;
};

// Arrays that single routines keep between their calls.
struct Saved {
  Array1<NR> H;          // rm: per-column running maxima
  Field DRDT, DQDT;      // incmp: trial tendencies of u and w
};

struct State {
  Par par{};
  Basic basic;
  Fields fields;
  Others others;
  Array1<NR> phyd;  // hydrostatic pressure of each column relative to its top
  Bnds bnds;
  Tends tends;
  Foraxi foraxi;
  Contra contra;
  Adams adams;
  Blks blks;
  Cblkt cblkt;
  Value value;
  Spare spare;
  Saved saved;

  std::string dirnam; // the working directory typed at start-up

  // The exact double-precision solvers of the run (elliptic/direct.hpp),
  // set up once and owned by whoever runs the model; null when unused.
  struct {
    DirectPressure* pressure = nullptr;
    DirectStream* stream = nullptr;
  } solvers;

  // Where the records that the model itself prints go (standard output in
  // the program; a string stream in tests).
  std::ostream* out = &std::cout;
};

// A model stop or an input/output error, caught in main. status: 1 for a
// model stop, 2 for an input or file error. The message is for standard error.
struct Stop : std::runtime_error {
  int status;
  Stop(int st, const std::string& message) : std::runtime_error(message), status(st) {}
};

// Double to int32 as the model counts sweeps and steps: truncate toward zero,
// saturate at the int32 range, NaN gives 0.
inline std::int32_t to_int(double x) {
  if (std::isnan(x)) return 0;
  const double t = std::trunc(x);
  if (t >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (t <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(t);
}

// Flush subnormal results to zero and read subnormal operands as zero; set
// once at start-up by the program and by the test main.
void set_flush_to_zero();

}  // namespace qel
