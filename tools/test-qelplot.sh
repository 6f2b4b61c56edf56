#!/usr/bin/env bash
# Test of tools/qelplot.py on real runs of both cores: a thermal run by the
# vorticity core and a vortex run by the primitive core, exported by qeltool
# nc and hist, drawn headless. The PNG files must have the sizes qelplot.py
# promises; the swirl panel must use a diverging colour map centred on zero
# (and say so when v is zero everywhere); the primitive core's first panel is
# the pressure's departure from its horizontal mean; a GIF movie holds one
# frame per stored time. Skipped (status 77) where Debian's python3 lacks
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
"$qeltool" run "$tmp/exp" --restart 10 --until 0.3 --dump-every 0.1 --diag-every 0.05 >/dev/null 2>&1
"$qeltool" nc "$tmp/exp.nc" "$tmp/exp"/qel*.dat >/dev/null
"$qeltool" hist "$tmp/exp/qel.hist" >"$tmp/exp.csv"
"$py" "$qelplot" "$tmp/exp.nc" --time 0.1 --hist "$tmp/exp.csv" -o "$tmp/exp" >/dev/null
[ "$(size "$tmp/exp-fields.png")" = 1000x800 ] || fail "fields picture is $(size "$tmp/exp-fields.png")"
[ "$(size "$tmp/exp-history.png")" = 1000x1000 ] || fail "history picture is $(size "$tmp/exp-history.png")"

# The primitive core from a Lamb-Oseen vortex (SWIRL = 0: the swirl still
# moves with the flow), a few steps.
sed 's/USEPRIM=.*/USEPRIM= 1.0,/' "$input" >"$tmp/prim/qel.input"
"$qeltool" init "$tmp/prim" 0 vortex >/dev/null
"$qeltool" run "$tmp/prim" --restart 0 --until 0.1 --dump-every 0.05 --diag-every 0.02 >/dev/null 2>&1
"$qeltool" nc "$tmp/prim.nc" "$tmp/prim"/qel*.dat >/dev/null
"$qeltool" hist "$tmp/prim/qel.hist" >"$tmp/prim.csv"
"$py" "$qelplot" "$tmp/prim.nc" --hist "$tmp/prim.csv" --movie "$tmp/prim.gif" >/dev/null
[ "$(size "$tmp/prim-fields.png")" = 1000x800 ] || fail "primitive-mode picture is $(size "$tmp/prim-fields.png")"
[ "$(size "$tmp/prim-history.png")" = 1000x1000 ] || fail "primitive history is $(size "$tmp/prim-history.png")"
for f in "$tmp"/*.png "$tmp/prim.gif"; do [ -s "$f" ] || fail "$f is empty"; done

# What the panels show, from qelplot's own drawing routine.
"$py" - "$qelplot" "$tmp/exp.nc" "$tmp/prim.nc" "$tmp/prim.gif" <<'PY' || fail "panel checks"
import importlib.util, sys
from netCDF4 import Dataset
found = importlib.util.spec_from_file_location("qelplot", sys.argv[1])
q = importlib.util.module_from_spec(found); found.loader.exec_module(q)
with Dataset(sys.argv[2]) as nc:
    fig, drawn = q.draw_fields(nc, len(nc.variables["time"][:]) - 1)
    assert list(drawn) == ["psi", "v", "b", "w"], drawn
    assert drawn["v"]["cmap"] == "zero", drawn  # the thermal has no swirl
    assert drawn["w"]["cmap"] == "RdBu_r" and drawn["b"]["cmap"] == "viridis", drawn
with Dataset(sys.argv[3]) as nc:
    fig, drawn = q.draw_fields(nc, len(nc.variables["time"][:]) - 1)
    assert list(drawn) == ["p_anomaly", "v", "b", "w"], drawn
    assert drawn["v"]["cmap"] == "RdBu_r", drawn
    # The v panel's colours are centred on zero.
    lev = drawn["v"]["levels"]
    assert lev[0] < 0 < lev[-1] and abs(lev[0] + lev[-1]) <= 1e-12 * abs(lev[0]), lev
    assert "swirl" in fig.axes[1].get_title(), fig.axes[1].get_title()
    times = len(nc.variables["time"][:])
from PIL import Image
frames = Image.open(sys.argv[4]).n_frames
assert frames == times, (frames, times)
print("panels as expected;", frames, "movie frames")
PY
echo "qelplot: pictures of the expected sizes and panels written"
