// The solve of blktri with the independent operators of each level side by
// side. Every lane performs the floating-point operations of the product
// operators of reduction.cpp in their order: the elimination factors are
// the ones each solve would compute, computed once; only where the plain
// routine multiplies by a reciprocal pivot does the lane multiply by the
// stored one.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "elliptic/blktri.hpp"

namespace qel {

namespace {

constexpr std::uint8_t kScale = 1;
constexpr std::uint8_t kSolve = 2;
constexpr std::uint8_t kPost = 4;
constexpr int kUpdate = 1; // y = y + t w
constexpr int kCopy = 2;   // y = w

int pow2(int e) { return 1 << e; }

// One slot of one operator: y = s w (when scale), w = (A - root)^-1 y (when
// root >= 0), then the post operation.
struct LaneSlot {
  int scale = 0;
  float s = 0.0f;
  int root = -1;
  int post = 0;
  float t = 0.0f;
};

// One product operator: denominator, numerator and scalar lists (table
// positions of their first entries, counts), input and output vectors.
struct OpDesc {
  int nd, bd, nm1, bm1, nm2, bm2, na;
  const float* aa;
  std::int32_t in, out;
};

// The slots of the product operator: the branching of the plain routine,
// which depends only on the roots and the counts.
void program(const float* b, const OpDesc& op, std::vector<LaneSlot>& out) {
  out.clear();
  int id = op.nd;
  int ia = op.na;
  int m1 = op.nm1;
  int m2 = op.nm2;
  bool ibr = false;
  LaneSlot cur;
  for (;;) {
    if (ia > 0) {
      float rt = op.aa[ia - 1];
      if (op.nd == 0) rt = -rt;
      --ia;
      cur.scale = 1;
      cur.s = rt;
    }
    if (id <= 0) {
      if (cur.scale != 0) out.push_back(cur);
      return;
    }
    float rt = b[op.bd + id - 1];
    cur.root = op.bd + id - 1;
    --id;
    if (id == 0) ibr = true;
    if (op.na > 0) {
      out.push_back(cur);
      cur = {};
      continue;
    }
    int* count = nullptr;
    float beta = 0.0f;
    if (m1 > 0 && (m2 <= 0 || std::abs(b[op.bm1 + m1 - 1]) > std::abs(b[op.bm2 + m2 - 1]))) {
      count = &m1;
      beta = b[op.bm1 + m1 - 1];
    } else if (m2 > 0) {
      count = &m2;
      beta = b[op.bm2 + m2 - 1];
    }
    if (count != nullptr && (ibr || std::abs(beta - rt) <= std::abs(beta - b[op.bd + id - 1]))) {
      rt = rt - beta;
      --*count;
      cur.post = kUpdate;
      cur.t = rt;
    } else {
      cur.post = kCopy;
      ibr = true;
    }
    out.push_back(cur);
    cur = {};
  }
}

// The factors of the bottom-up elimination of (A - rt I): reciprocal pivots
// rcp and multipliers d, as the plain solve forms them; zero marks a
// vanishing first pivot (w(1) = 1 then).
void factors(int m, const float* a, const float* b, const float* c, float rt, float* rcp,
             float* d, int& zero) {
  float r = 1.0f / (b[m - 1] - rt);
  rcp[m - 1] = r;
  d[m - 1] = a[m - 1] * r;
  for (int j = m - 2; j >= 1; --j) {
    const float den = b[j] - rt - c[j] * d[j + 1];
    r = 1.0f / den;
    rcp[j] = r;
    d[j] = a[j] * r;
  }
  const float den = b[0] - rt - c[0] * d[1];
  zero = den == 0.0f ? 1 : 0;
  rcp[0] = zero != 0 ? 0.0f : 1.0f / den;
  d[0] = 0.0f;
}

void add_groups(BlkPlan& p, const float* b, const std::vector<OpDesc>& ops, int m) {
  constexpr std::size_t most = kBlkLanes;
  std::vector<std::vector<LaneSlot>> progs(most);
  for (std::size_t g0 = 0; g0 < ops.size(); g0 += most) {
    const int cnt = int(std::min(most, ops.size() - g0));
    BlkGroup g;
    g.lanes = 1;
    while (g.lanes < cnt) g.lanes *= 2;
    g.active = cnt;
    for (int l = 0; l < cnt; ++l) {
      program(b, ops[g0 + std::size_t(l)], progs[std::size_t(l)]);
      g.slots = std::max(g.slots, int(progs[std::size_t(l)].size()));
      g.in[std::size_t(l)] = ops[g0 + std::size_t(l)].in;
      g.out[std::size_t(l)] = ops[g0 + std::size_t(l)].out;
    }
    g.slot0 = p.flags.size();
    g.ctl = p.root.size();
    g.fac = p.fac.size();
    for (int s = 0; s < g.slots; ++s) {
      std::uint8_t flag = 0;
      for (int l = 0; l < g.lanes; ++l) {
        LaneSlot ls;
        if (l < cnt && s < int(progs[std::size_t(l)].size()))
          ls = progs[std::size_t(l)][std::size_t(s)];
        p.root.push_back(ls.root);
        p.scale.push_back(ls.scale);
        p.post.push_back(ls.post);
        p.zero.push_back(0);
        p.s.push_back(ls.s);
        p.t.push_back(ls.t);
        if (ls.scale != 0) flag |= kScale;
        if (ls.root >= 0) flag |= kSolve;
        if (ls.post != 0) flag |= kPost;
      }
      p.flags.push_back(flag);
    }
    p.fac.resize(p.fac.size() + std::size_t(g.slots) * 2 * std::size_t(m) * std::size_t(g.lanes),
                 0.0f);
    p.groups.push_back(g);
  }
}

// The schedule of blktr1 for the current cblkt, with the root table b.
void build_schedule(BlkPlan& p, const Cblkt& cb, const float* an, const float* cn,
                    const float* b, int m) {
  const int nm = cb.nm;
  const int k = cb.k;
  const int iff = pow2(k);
  auto col = [](int j) { return std::int32_t(j - 1); };
  // Buffers per row: 0 inverse (or sum of the back substitution), 1 left, 2 right.
  auto buf = [](int kind, int row) { return std::int32_t(-1 - (3 * (row - 1) + kind)); };
  auto first = [](RootIndex r) { return r.n > 0 ? r.idx - 1 : 0; };
  auto inverse = [&](int i, int ir, std::int32_t in, std::int32_t out) {
    const int i1 = pow2(ir) / 2;
    const RootIndex d = indxb(cb, i, ir), n1 = indxb(cb, i - i1, ir - 1),
                    n2 = indxb(cb, i + i1, ir - 1);
    return OpDesc{d.n, first(d), n1.n, first(n1), n2.n, first(n2), 0, nullptr, in, out};
  };
  auto outer = [&](RootIndex d, RootIndex sc, const float* s, std::int32_t in,
                   std::int32_t out) {
    return OpDesc{d.n, first(d), 0, 0, 0, 0, sc.n, sc.n > 0 ? s + (sc.idx - 1) : s, in, out};
  };
  auto left = [&](int i, int ir, std::int32_t in, std::int32_t out) {
    return outer(indxb(cb, i - pow2(ir) / 2, ir - 1), indxa(cb, i, ir), an, in, out);
  };
  auto right = [&](int i, int ir, std::int32_t in, std::int32_t out) {
    return outer(indxb(cb, i + pow2(ir) / 2, ir - 1), indxc(cb, i, ir), cn, in, out);
  };
  p.stages.assign(std::size_t(k + 1), {});
  std::vector<OpDesc> ops;
  auto stage = [&](int l, int which) {
    auto& st = p.stages[std::size_t(l)];
    st[std::size_t(2 * which)] = int(p.groups.size());
    add_groups(p, b, ops, m);
    st[std::size_t(2 * which + 1)] = int(p.groups.size());
    ops.clear();
  };
  for (int l = 1; l <= k - 1; ++l) {
    const int ir = l - 1;
    const int i2 = pow2(ir);
    const int i4 = i2 + i2;
    ops.push_back(inverse(i2, ir, col(i2), buf(0, i2)));
    for (int r = i2 + i4; r <= nm; r += i4) ops.push_back(inverse(r, ir, col(r), buf(0, r)));
    stage(l, 0);
    for (int i = i4; i <= nm && i < iff; i += i4) {
      ops.push_back(left(i, ir, buf(0, i - i2), buf(1, i)));
      if (i + i2 <= nm) ops.push_back(right(i, ir, buf(0, i + i2), buf(2, i)));
    }
    stage(l, 1);
  }
  for (int l = k; l >= 1; --l) {
    const int ir = l - 1;
    const int i2 = pow2(ir);
    const int i4 = i2 + i2;
    for (int i = i2; i <= iff - i2 && i <= nm; i += i4) {
      if (i > i2) ops.push_back(left(i, ir, col(i - i2), buf(1, i)));
      if (i + i2 <= nm) ops.push_back(right(i, ir, col(i + i2), buf(2, i)));
    }
    stage(l, 2);
    for (int i = i2; i <= iff - i2 && i <= nm; i += i4)
      ops.push_back(inverse(i, ir, buf(0, i), col(i)));
    stage(l, 3);
  }
}

// Factors of every slot from the coefficients of the first index; each
// distinct root is eliminated once, into the plan's own store (sized at
// set-up, so a refresh between solves allocates nothing).
void fill_factors(BlkPlan& p, const float* a, const float* b, const float* c) {
  const int m = p.m;
  const auto um = std::size_t(m);
  if (p.where.size() != p.roots.size()) {
    p.where.assign(p.roots.size(), -1);
    std::int32_t distinct = 0;
    for (const std::int32_t r : p.root)
      if (r >= 0 && p.where[std::size_t(r)] < 0) p.where[std::size_t(r)] = distinct++;
    p.memo.assign(2 * um * std::size_t(distinct), 0.0f);
    p.memo_zero.assign(std::size_t(distinct), 0);
  }
  std::vector<float>& memo = p.memo;
  const std::vector<std::int32_t>& where = p.where;
  for (std::size_t r = 0; r < where.size(); ++r) {
    if (where[r] < 0) continue;
    const auto u = std::size_t(where[r]);
    factors(m, a, b, c, p.roots[r], memo.data() + 2 * u * um, memo.data() + (2 * u + 1) * um,
            p.memo_zero[u]);
  }
  for (const BlkGroup& g : p.groups) {
    const auto lanes = std::size_t(g.lanes);
    for (std::size_t s = 0; s < std::size_t(g.slots); ++s)
      for (std::size_t l = 0; l < lanes; ++l) {
        const std::size_t q = g.ctl + s * lanes + l;
        const std::int32_t r = p.root[q];
        if (r < 0) continue;
        const std::size_t u = std::size_t(where[std::size_t(r)]);
        float* fr = p.fac.data() + g.fac + s * 2 * um * lanes;
        float* fd = fr + um * lanes;
        for (std::size_t j = 0; j < um; ++j) {
          fr[j * lanes + l] = memo[2 * u * um + j];
          fd[j * lanes + l] = memo[(2 * u + 1) * um + j];
        }
        p.zero[q] = p.memo_zero[u];
      }
  }
  p.factors_valid = true;
}

bool same(const std::vector<float>& v, const float* x) {
  return std::memcmp(v.data(), x, v.size() * sizeof(float)) == 0;
}

// W lanes in one register: GCC vector types, elementwise IEEE arithmetic
// like the scalar code (no contraction with -ffp-contract=off).
template <int W>
struct Pack;
template <>
struct Pack<1> {
  using V = float;
  using I = std::int32_t;
};
template <>
struct Pack<2> {
  typedef float V __attribute__((vector_size(8)));
  typedef std::int32_t I __attribute__((vector_size(8)));
};
template <>
struct Pack<4> {
  typedef float V __attribute__((vector_size(16)));
  typedef std::int32_t I __attribute__((vector_size(16)));
};
template <>
struct Pack<8> {
  typedef float V __attribute__((vector_size(32)));
  typedef std::int32_t I __attribute__((vector_size(32)));
};
static_assert(sizeof(Pack<8>::V) == 32 && sizeof(Pack<2>::I) == 8);

// Lanes per register: 8 with AVX, 4 with SSE.
#ifdef __AVX__
constexpr int kRegister = 8;
#else
constexpr int kRegister = 4;
#endif

template <class T>
__attribute__((always_inline)) inline T load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}
template <class T>
__attribute__((always_inline)) inline void put(void* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}

// The operators of one group, L lanes side by side in NV registers of W
// lanes: y and w hold the lanes interleaved (v[j L + lane]). Idle lanes run
// on zero factors and keep their y. Per slot, one downward pass applies the
// previous slot's post operation, this slot's scaling and the elimination;
// one upward pass the back substitution.
template <int L>
void run_group(BlkPlan& p, const BlkGroup& g, const float* __restrict c, float* yc,
               std::size_t idimy) {
  constexpr int W = L < kRegister ? L : kRegister;
  constexpr int NV = L / W;
  using V = typename Pack<W>::V;
  using I = typename Pack<W>::I;
  const int m = p.m;
  float* __restrict ys = p.ybuf.data();
  float* __restrict ws = p.wbuf.data();
  auto vec = [&](std::int32_t v) {
    return v >= 0 ? yc + idimy * std::size_t(v)
                  : p.scratch.data() + std::size_t(-1 - v) * std::size_t(m);
  };
  for (int l = 0; l < L; ++l) {
    if (l < g.active) {
      const float* src = vec(g.in[std::size_t(l)]);
      for (int j = 0; j < m; ++j) ys[j * L + l] = ws[j * L + l] = src[j];
    } else {
      for (int j = 0; j < m; ++j) ys[j * L + l] = ws[j * L + l] = 0.0f;
    }
  }
  // Post operation y = y + t w / y = w / y of slot q, per register.
  struct Post {
    I po[NV];
    V t[NV];
  };
  auto post_of = [&](int slot, Post& r) {
    const std::size_t q = g.ctl + std::size_t(slot) * L;
    for (int v = 0; v < NV; ++v) {
      r.po[v] = load<I>(p.post.data() + q + v * W);
      r.t[v] = load<V>(p.t.data() + q + v * W);
    }
  };
  auto apply_post = [](const Post& r, int v, V y, V w) __attribute__((always_inline)) -> V {
    return r.po[v] == kUpdate ? y + r.t[v] * w : (r.po[v] == kCopy ? w : y);
  };
  Post prev{};
  bool prev_post = false;
  for (int slot = 0; slot < g.slots; ++slot) {
    const std::uint8_t flag = p.flags[g.slot0 + std::size_t(slot)];
    const std::size_t q = g.ctl + std::size_t(slot) * L;
    const bool scale = (flag & kScale) != 0;
    I sc[NV];
    V sv[NV];
    for (int v = 0; v < NV; ++v) {
      sc[v] = load<I>(p.scale.data() + q + v * W);
      sv[v] = load<V>(p.s.data() + q + v * W);
    }
    auto prepare_y = [&](int j, int v) __attribute__((always_inline)) {
      V y = load<V>(ys + j * L + v * W);
      if (prev_post || scale) {
        const V w = load<V>(ws + j * L + v * W);
        if (prev_post) y = apply_post(prev, v, y, w);
        if (scale) y = sc[v] != 0 ? sv[v] * w : y;
        put(ys + j * L + v * W, y);
      }
      return y;
    };
    if ((flag & kSolve) != 0) {
      const float* __restrict fr =
          p.fac.data() + g.fac + std::size_t(slot) * 2 * std::size_t(m) * L;
      const float* __restrict fd = fr + std::size_t(m) * L;
      I zr[NV];
      for (int v = 0; v < NV; ++v) zr[v] = load<I>(p.zero.data() + q + v * W);
      V wn[NV];
      const int e = (m - 1) * L;
      for (int v = 0; v < NV; ++v) {
        wn[v] = prepare_y(m - 1, v) * load<V>(fr + e + v * W);
        put(ws + e + v * W, wn[v]);
      }
      for (int j = m - 2; j >= 1; --j) {
        const float cj = c[j];
        for (int v = 0; v < NV; ++v) {
          const V y = prepare_y(j, v);
          wn[v] = (y - cj * wn[v]) * load<V>(fr + j * L + v * W);
          put(ws + j * L + v * W, wn[v]);
        }
      }
      for (int v = 0; v < NV; ++v) {
        const V y = prepare_y(0, v);
        const V one = V{} + 1.0f;
        wn[v] = zr[v] != 0 ? one : (y - c[0] * wn[v]) * load<V>(fr + v * W);
        put(ws + v * W, wn[v]);
      }
      for (int j = 1; j < m; ++j)
        for (int v = 0; v < NV; ++v) {
          wn[v] = load<V>(ws + j * L + v * W) - load<V>(fd + j * L + v * W) * wn[v];
          put(ws + j * L + v * W, wn[v]);
        }
    } else if (prev_post || scale) {
      for (int j = m - 1; j >= 0; --j)
        for (int v = 0; v < NV; ++v) prepare_y(j, v);
    }
    prev_post = (flag & kPost) != 0;
    if (prev_post) post_of(slot, prev);
  }
  if (prev_post)
    for (int j = 0; j < m; ++j)
      for (int v = 0; v < NV; ++v)
        put(ys + j * L + v * W,
            apply_post(prev, v, load<V>(ys + j * L + v * W), load<V>(ws + j * L + v * W)));
  for (int l = 0; l < g.active; ++l) {
    float* dst = vec(g.out[std::size_t(l)]);
    for (int j = 0; j < m; ++j) dst[j] = ys[j * L + l];
  }
}

void run_stage(BlkPlan& p, int begin, int end, const float* cm, float* y, int idimy) {
  for (int gi = begin; gi < end; ++gi) {
    const BlkGroup& g = p.groups[std::size_t(gi)];
    const auto ld = std::size_t(idimy);
    switch (g.lanes) {
      case 1: run_group<1>(p, g, cm, y, ld); break;
      case 2: run_group<2>(p, g, cm, y, ld); break;
      case 4: run_group<4>(p, g, cm, y, ld); break;
      case 8: run_group<8>(p, g, cm, y, ld); break;
      case 16: run_group<16>(p, g, cm, y, ld); break;
      default: run_group<32>(p, g, cm, y, ld); break;
    }
  }
}

// blktr1 on the schedule of the plan (non-periodic first index).
void blktr1_lanes(const Cblkt& cb, BlkPlan& p, const float* an, const float* cn,
                  const float* am, const float* bm, const float* cm, int idimy, float* y,
                  const float* b, float* work) {
  const int m = p.m;
  const int nm = cb.nm;
  const int k = cb.k;
  const int iff = pow2(k);
  auto col = [&](int j) { return y + std::size_t(idimy) * std::size_t(j - 1); };
  auto buf = [&](int kind, int row) {
    return p.scratch.data() + std::size_t(3 * (row - 1) + kind) * std::size_t(m);
  };
  for (int l = 1; l <= k - 1; ++l) {
    const int i2 = pow2(l - 1);
    const int i4 = i2 + i2;
    const auto& st = p.stages[std::size_t(l)];
    run_stage(p, st[0], st[1], cm, y, idimy);
    run_stage(p, st[2], st[3], cm, y, idimy);
    for (int i = i4; i <= nm && i < iff; i += i4) {
      float* __restrict yi = col(i);
      const float* __restrict w1 = buf(1, i);
      if (i + i2 > nm) {
        for (int j = 0; j < m; ++j) yi[j] = w1[j] + 0.0f + yi[j];
      } else {
        const float* __restrict w2 = buf(2, i);
        for (int j = 0; j < m; ++j) yi[j] = w1[j] + w2[j] + yi[j];
      }
    }
  }
  if (cb.npp == 0) blktr1_capacitance(cb, m, an, cn, am, bm, cm, idimy, y, b, work, prod, cprod);
  for (int l = k; l >= 1; --l) {
    const int i2 = pow2(l - 1);
    const int i4 = i2 + i2;
    const auto& st = p.stages[std::size_t(l)];
    run_stage(p, st[4], st[5], cm, y, idimy);
    for (int i = i2; i <= iff - i2 && i <= nm; i += i4) {
      const float* __restrict yi = col(i);
      const float* __restrict w1 = buf(1, i);
      const float* __restrict w2 = buf(2, i);
      float* __restrict sum = buf(0, i);
      const bool has_left = i > i2;
      const bool has_right = i + i2 <= nm;
      for (int j = 0; j < m; ++j)
        sum[j] = yi[j] + (has_left ? w1[j] : 0.0f) + (has_right ? w2[j] : 0.0f);
    }
    run_stage(p, st[6], st[7], cm, y, idimy);
  }
}

}  // namespace

int blktri(Cblkt& cb, Value& val, int iflg, int np, int n, std::span<const float> an,
           std::span<const float> bn, std::span<const float> cn, int mp, int m,
           std::span<const float> am, std::span<const float> bm, std::span<const float> cm,
           int idimy, std::span<float> y, std::span<float> w, BlkPlan& plan) {
  BlkPartition p;
  int ierror = blktri_check(cb, iflg, np, n, an, bn, cn, m, am, bm, cm, idimy, y, w, p);
  if (ierror != 0) return ierror;
  const float* const b = w.data() + 1;
  const auto table = std::size_t(p.iwah - 2); // the root table W(2 .. IWAH-1)
  if (iflg == 0) {
    plan = BlkPlan{};
    compb(cb, val, n, ierror, an.data(), bn.data(), cn.data(), w.data() + 1,
          w.data() + p.iwah - 1, w.data() + p.iwbh - 1);
    if (ierror != 0) return ierror;
    plan.n = n;
    plan.m = m;
    plan.np = np;
    plan.an.assign(an.begin(), an.begin() + n);
    plan.cn.assign(cn.begin(), cn.begin() + n);
    plan.roots.assign(b, b + table);
    build_schedule(plan, cb, an.data(), cn.data(), b, m);
    const auto um = std::size_t(m);
    plan.scratch.assign(3 * std::size_t(cb.nm) * um, 0.0f);
    plan.ybuf.assign(kBlkLanes * um, 0.0f);
    plan.wbuf.assign(kBlkLanes * um, 0.0f);
    plan.am.assign(um, 0.0f);
    plan.bm.assign(um, 0.0f);
    plan.cm.assign(um, 0.0f);
    if (am.size() >= um && bm.size() >= um && cm.size() >= um) {
      std::copy_n(am.begin(), m, plan.am.begin());
      std::copy_n(bm.begin(), m, plan.bm.begin());
      std::copy_n(cm.begin(), m, plan.cm.begin());
      fill_factors(plan, am.data(), bm.data(), cm.data());
    }
    plan.ready = true;
    return ierror;
  }
  const bool usable = mp != 0 && plan.ready && plan.n == n && plan.m == m && plan.np == np &&
                      plan.roots.size() == table && same(plan.an, an.data()) &&
                      same(plan.cn, cn.data()) && same(plan.roots, b);
  if (!usable) {
    blktr1(cb, m, an.data(), cn.data(), am.data(), bm.data(), cm.data(), idimy, y.data(), b,
           w.data() + p.iw1 - 1, mp != 0 ? prod : prodp, mp != 0 ? cprod : cprodp);
    return ierror;
  }
  if (!plan.factors_valid || !same(plan.am, am.data()) || !same(plan.bm, bm.data()) ||
      !same(plan.cm, cm.data())) {
    std::copy_n(am.begin(), m, plan.am.begin());
    std::copy_n(bm.begin(), m, plan.bm.begin());
    std::copy_n(cm.begin(), m, plan.cm.begin());
    fill_factors(plan, am.data(), bm.data(), cm.data());
  }
  blktr1_lanes(cb, plan, an.data(), cn.data(), am.data(), bm.data(), cm.data(), idimy, y.data(),
               b, w.data() + p.iw1 - 1);
  return ierror;
}

}  // namespace qel
