// blktri without its side-by-side plan: the checks, the roots on set-up and
// the operator-by-operator solve blktr1 on every solve.
#include "elliptic/blktri.hpp"
#include "oracles/oracles.hpp"

namespace qel {

int blktri_oracle(Cblkt& cb, Value& val, int iflg, int np, int n, std::span<const float> an,
                  std::span<const float> bn, std::span<const float> cn, int mp, int m,
                  std::span<const float> am, std::span<const float> bm, std::span<const float> cm,
                  int idimy, std::span<float> y, std::span<float> w) {
  BlkPartition p;
  int ierror = blktri_check(cb, iflg, np, n, an, bn, cn, m, am, bm, cm, idimy, y, w, p);
  if (ierror != 0) return ierror;
  if (iflg == 0) {
    compb(cb, val, n, ierror, an.data(), bn.data(), cn.data(), w.data() + 1, w.data() + p.iwah - 1,
          w.data() + p.iwbh - 1);
    return ierror;
  }
  blktr1(cb, m, an.data(), cn.data(), am.data(), bm.data(), cm.data(), idimy, y.data(), w.data() + 1,
         w.data() + p.iw1 - 1, mp != 0 ? prod : prodp, mp != 0 ? cprod : cprodp);
  return ierror;
}

}  // namespace qel
