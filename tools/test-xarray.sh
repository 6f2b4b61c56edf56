#!/usr/bin/env bash
# Test of the README's xarray example: the lines of its python block, taken
# from README.md as they stand, run on the NetCDF file of a short thermal
# run named myexp.nc, must write a PNG. Skipped (status 77) where Debian's
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
[ "$(wc -l <"$tmp/example.py")" -eq 3 ] || fail "the README's xarray example is not three lines: $(cat "$tmp/example.py")"

cd "$tmp"
"$qeltool" init myexp 0 thermal amplitude=0.5 z0=0.4 >/dev/null
"$qeltool" run myexp --restart 0 --until 0.1 --dump-every 0.05 --diag-every 0.05 >/dev/null 2>&1
"$qeltool" nc myexp.nc myexp/qel*.dat >/dev/null
MPLBACKEND=Agg "$py" example.py || fail "the example failed"
head -c 8 myexp-v.png | od -An -c | grep -q 'P   N   G' || fail "no PNG written"
echo "xarray: the README's three lines wrote myexp-v.png"
