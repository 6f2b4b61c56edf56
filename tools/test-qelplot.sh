#!/usr/bin/env bash
# Test of tools/qelplot.py on real files: a thermal run a few hundred steps
# by the vorticity core, and a primitive-mode initial state, exported by
# qeltool nc and hist, drawn headless; the PNG files must have the sizes
# qelplot.py promises. Skipped (status 77) where Debian's python3 lacks
# matplotlib or netCDF4.
#   tools/test-qelplot.sh QELTOOL QELPLOT.PY QEL.INPUT
set -euo pipefail
qeltool="$1" qelplot="$2" input="$3"
py=/usr/bin/python3
if [ ! -x "$py" ] || ! "$py" -c 'import matplotlib, netCDF4' 2>/dev/null; then
  echo "SKIPPED: qelplot.py needs /usr/bin/python3 with matplotlib and netCDF4"
  echo "         (Debian: apt-get install python3-matplotlib python3-netcdf4)"
  exit 77
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# PNG width and height from the IHDR chunk.
size() { "$py" -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }

mkdir "$tmp/exp" "$tmp/prim"
sed 's/USEPRIM=.*/USEPRIM= 0.0,/' "$input" >"$tmp/exp/qel.input"
"$qeltool" init "$tmp/exp" 10 thermal amplitude=0.5 z0=0.4 >/dev/null
"$qeltool" run "$tmp/exp" --restart 10 --until 0.3 --dump-every 0.1 --diag-every 0.05 >/dev/null
"$qeltool" nc "$tmp/exp.nc" "$tmp/exp"/qel*.dat >/dev/null
"$qeltool" hist "$tmp/exp/qel.hist" >"$tmp/exp.csv"
"$py" "$qelplot" "$tmp/exp.nc" --time 0.1 --hist "$tmp/exp.csv" -o "$tmp/exp" >/dev/null
[ "$(size "$tmp/exp-fields.png")" = 1000x800 ] || fail "fields picture is $(size "$tmp/exp-fields.png")"
[ "$(size "$tmp/exp-history.png")" = 1000x1000 ] || fail "history picture is $(size "$tmp/exp-history.png")"

sed 's/USEPRIM=.*/USEPRIM= 1.0,/' "$input" >"$tmp/prim/qel.input"
"$qeltool" init "$tmp/prim" 0 vortex >/dev/null
"$qeltool" nc "$tmp/prim.nc" "$tmp/prim/qel000000.dat" >/dev/null
"$py" "$qelplot" "$tmp/prim.nc" >/dev/null
[ "$(size "$tmp/prim-fields.png")" = 1000x800 ] || fail "primitive-mode picture is $(size "$tmp/prim-fields.png")"
for f in "$tmp"/*.png; do [ -s "$f" ] || fail "$f is empty"; done
echo "qelplot: pictures of the expected sizes written"
