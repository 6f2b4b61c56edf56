#!/usr/bin/env bash
# Test of the README's xarray example: the lines of its python block, taken
# from README.md as they stand, run on the NetCDF file of a short thermal
# run named myexp.nc, must write a PNG, and the time series, profile and
# kinetic energy they compute must match the file's values. Skipped (status 77) where Debian's
# python3 lacks xarray or matplotlib.
#   tools/test-xarray.sh QELTOOL README.md
set -euo pipefail
qeltool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" readme="$2"
py=/usr/bin/python3
if [ ! -x "$py" ] || ! "$py" -c 'import xarray, matplotlib, netCDF4' 2>/dev/null; then
  echo "SKIPPED: the xarray example needs /usr/bin/python3 with xarray, matplotlib and netCDF4"
  echo "         (Debian: apt-get install python3-xarray python3-matplotlib python3-netcdf4)"
  exit 77
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The fenced python block after the marker line.
awk '/<!-- xarray example/ { marked = 1; next }
     marked && /^```python$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$readme" >"$tmp/example.py"
[ "$(wc -l <"$tmp/example.py")" -eq 7 ] || fail "the README's xarray example is not seven lines: $(cat "$tmp/example.py")"

cd "$tmp"
"$qeltool" init myexp 0 thermal amplitude=0.5 z0=0.4 >/dev/null
"$qeltool" run myexp --restart 0 --until 0.1 --dump-every 0.05 --diag-every 0.05 >/dev/null 2>&1
"$qeltool" nc myexp.nc myexp/qel*.dat >/dev/null
# The example's results against the same quantities read with netCDF4 and
# summed here: the point and the profile at the nearest grid lines, the
# energy by the trapezoidal rule over r and then z.
cat example.py - >check.py <<'PY'
import numpy as np
from netCDF4 import Dataset
nc = Dataset("myexp.nc")
r, z = np.array(nc["r"][:]), np.array(nc["z"][:])
u, w = np.array(nc["u"][:]), np.array(nc["w"][:])
i, j = np.abs(r - 0.1).argmin(), np.abs(z - 0.5).argmin()
assert len(nc["time"][:]) >= 2 and np.abs(w).max() > 0
assert np.array_equal(w_point.values, w[:, j, i]), "w at a point"
assert np.array_equal(w_axis.values, w[-1, :, 0]), "w on the axis"
f = 0.5 * (u**2 + w**2) * r
fr = (0.5 * (f[:, :, 1:] + f[:, :, :-1]) * np.diff(r)).sum(axis=2)
e = (0.5 * (fr[:, 1:] + fr[:, :-1]) * np.diff(z)).sum(axis=1)
assert ke.dims == ("time",) and np.allclose(ke.values, e, rtol=1e-12, atol=0), (ke.values, e)
assert e[-1] > e[0], "the rising thermal gains kinetic energy"
PY
MPLBACKEND=Agg "$py" check.py || fail "the example failed or gave other values"
head -c 8 myexp-v.png | od -An -c | grep -q 'P   N   G' || fail "no PNG written"
echo "xarray: the README's lines wrote myexp-v.png and the expected series, profile and energy"
