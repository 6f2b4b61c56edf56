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

# What the panels show, from qelplot's own drawing routines, on the runs and
# on copies of the thermal's file changed where the test needs it.
"$py" - "$qelplot" "$tmp/exp.nc" "$tmp/prim.nc" "$tmp/prim.gif" "$tmp" <<'PY' || fail "panel checks"
import importlib.util, os, sys
import numpy as np
from netCDF4 import Dataset
found = importlib.util.spec_from_file_location("qelplot", sys.argv[1])
q = importlib.util.module_from_spec(found); found.loader.exec_module(q)
tmp = sys.argv[5]

def copy(src, dst, change, attrs={}):
    """dst: src with change(name, array) applied to every variable."""
    with Dataset(src) as a, Dataset(dst, "w") as b:
        for d in a.dimensions:
            b.createDimension(d, len(a.dimensions[d]))
        b.setncatts({k: attrs.get(k, a.getncattr(k)) for k in a.ncattrs()})
        for n, v in a.variables.items():
            b.createVariable(n, v.dtype, v.dimensions)[:] = change(n, np.array(v[:]))
    return dst

run = q.Run(sys.argv[2])
last = len(run.times) - 1
fig, drawn = q.draw_fields(run, last)
assert [k for k in drawn if k not in ("contours", "title")] == ["psi", "v", "b", "w"], drawn
assert drawn["v"]["cmap"] == "zero", drawn  # the thermal has no swirl
assert drawn["w"]["cmap"] == "RdBu_r" and drawn["b"]["cmap"] == "viridis", drawn
# The title gives the interval of the stream-function contours it draws.
lev = drawn["contours"]
step = lev[1] - lev[0]; e = int(np.floor(np.log10(step)))
assert ("every %.3ge%d," % (step / 10.0**e, e)) in drawn["title"], (drawn["title"], lev)
psi = np.array(Dataset(sys.argv[2])["psi"][:])
assert lev[-1] >= np.abs(psi[last]).max() > lev[-2], (lev, np.abs(psi[last]).max())

with Dataset(sys.argv[3]) as nc:
    times = len(nc.variables["time"][:])
prim = q.Run(sys.argv[3])
fig, drawn = q.draw_fields(prim, times - 1)
assert [k for k in drawn if k not in ("contours", "title")] == ["p_anomaly", "v", "b", "w"], drawn
assert drawn["v"]["cmap"] == "RdBu_r", drawn
# The v panel's colours are centred on zero.
lev = drawn["v"]["levels"]
assert lev[0] < 0 < lev[-1] and abs(lev[0] + lev[-1]) <= 1e-12 * abs(lev[0]), lev
assert "swirl" in fig.axes[1].get_title(), fig.axes[1].get_title()
from PIL import Image
frames = Image.open(sys.argv[4]).n_frames
assert frames == times, (frames, times)

# Rounding noise of 3e-17 in psi and w on the first time, where the run
# reaches 1e-2, is drawn as zero and said to be; a small but real 1e-9 of
# the run's scale on the second time is drawn. The movie keeps one set of
# colour levels and stream-function contours over all its frames.
big = np.abs(psi).max()
noise = np.sin(np.arange(91 * 91) * 1.7).reshape(91, 91)
def seeded(n, a):
    if n in ("psi", "w"):
        a[0] = 3e-17 * noise
        a[1] = 1e-9 * big * noise
    return a
r2 = q.Run(copy(sys.argv[2], tmp + "/noise.nc", seeded))
fig, d0 = q.draw_fields(r2, 0)
assert d0["psi"]["cmap"] == "zero" and "rounding" in d0["psi"]["note"], d0["psi"]
assert d0["w"]["cmap"] == "zero" and "rounding" in d0["w"]["note"], d0["w"]
assert d0["contours"] is None and "no stream-function contours" in d0["title"], d0
fig, d1 = q.draw_fields(r2, 1)
assert d1["psi"]["cmap"] == "RdBu_r" and d1["psi"]["note"] is None, d1["psi"]
out, movie = q.make_movie(r2, tmp + "/noise.gif", "gif")
assert len(movie) == len(r2.times) and movie[0]["psi"]["cmap"] == "zero", movie[0]
for m in movie[1:]:
    assert m["psi"]["levels"] == movie[-1]["psi"]["levels"], "psi levels change between frames"
    assert m["contours"] == movie[-1]["contours"], "contour levels change between frames"
    assert m["title"].split("(")[1] == movie[-1]["title"].split("(")[1], m["title"]
assert movie[-1]["psi"]["levels"][-1] >= big > movie[-1]["contours"][-2], (
    movie[-1]["psi"]["levels"][-1], movie[-1]["contours"][-1], big)

# A blown-up dump near the largest double is drawn, in units of 1e308.
def blown(n, a):
    if n in ("psi", "w"):
        a[-1] = np.where(noise > 0, 1.7e308, -1.6e308) * np.abs(noise)
    return a
r3 = q.Run(copy(sys.argv[2], tmp + "/blown.nc", blown))
fig, d = q.draw_fields(r3, last)
assert d["psi"]["exponent"] == 308 and np.isfinite(d["psi"]["levels"]).all(), d["psi"]
assert d["psi"]["levels"][-1] >= 1.7 and d["w"]["cmap"] == "RdBu_r", d

# Two runs in one picture: one row each, the same levels per field, rows
# titled with the parameters that differ (REI, SWIRL), not the shared ones.
r4 = q.Run(copy(sys.argv[2], tmp + "/other.nc", lambda n, a: 3 * a if n in ("psi", "w") else a,
                {"REI": 0.02, "SWIRL": 0.5}))
fig, rows = q.draw_runs([run, r4], [last, last])
assert len(rows) == 2 and rows[0]["w"]["levels"] == rows[1]["w"]["levels"], rows
assert rows[0]["w"]["levels"][-1] >= 3 * np.abs(np.array(Dataset(sys.argv[2])["w"][last])).max()
assert "REI = 0.001, SWIRL = 0" in rows[0]["title"] and "REI = 0.02, SWIRL = 0.5" in rows[1]["title"]
assert "CFL" not in rows[0]["title"], rows[0]["title"]
print("panels as expected;", frames, "movie frames")
PY
"$py" "$qelplot" "$tmp/exp.nc" "$tmp/other.nc" --index 1 -o "$tmp/two" >/dev/null
[ "$(size "$tmp/two-fields.png")" = 1600x1200 ] || fail "two-run picture is $(size "$tmp/two-fields.png")"
"$py" "$qelplot" "$tmp/blown.nc" -o "$tmp/blown" >/dev/null || fail "a blown-up dump was not drawn"

# Hostile inputs: one line on standard error naming the file, status 2,
# nothing written.
mkdir "$tmp/bad"
printf 'not a NetCDF file\n' >"$tmp/bad/text.nc"
"$py" -c 'import sys; from netCDF4 import Dataset; Dataset(sys.argv[1], "w").createDimension("x", 1)' "$tmp/bad/foreign.nc"
printf 'time,DT,min_u,max_v,max_w,pressure_deficit,divmax,column_pressure_contrast\n0.1,\xff\xfe,0,0,0,0,0,0\n' >"$tmp/bad/latin.csv"
printf 'time,DT,min_u,max_v,max_w,pressure_deficit,divmax,column_pressure_contrast\n0.1,0.01,0,0\n' >"$tmp/bad/short.csv"
before="$(ls -A "$tmp/bad")"
refused() {  # NAME-IN-MESSAGE ARGS...
  local want="$1"; shift
  local status=0
  "$py" "$qelplot" "$@" -o "$tmp/bad/out" >"$tmp/out.txt" 2>"$tmp/err.txt" || status=$?
  [ "$status" -eq 2 ] || fail "qelplot $* ended with status $status, not 2: $(cat "$tmp/err.txt")"
  [ "$(wc -l <"$tmp/err.txt")" -eq 1 ] || fail "qelplot $* explained in more than one line: $(cat "$tmp/err.txt")"
  grep -qF "$want" "$tmp/err.txt" || fail "qelplot $* does not name $want: $(cat "$tmp/err.txt")"
  [ "$(ls -A "$tmp/bad")" = "$before" ] || fail "qelplot $* wrote $(ls -A "$tmp/bad")"
}
refused "$tmp/bad/none.nc" "$tmp/bad/none.nc"
refused "$tmp/bad/text.nc" "$tmp/exp.nc" "$tmp/bad/text.nc"
refused "$tmp/bad/foreign.nc" "$tmp/bad/foreign.nc"
refused "$tmp/bad/none.csv" "$tmp/exp.nc" --hist "$tmp/bad/none.csv"
refused "$tmp/bad/latin.csv" "$tmp/exp.nc" --hist "$tmp/bad/latin.csv"
refused "line 2 has 4 cells" "$tmp/exp.nc" --hist "$tmp/bad/short.csv"
refused "$tmp/nodir/m.gif" "$tmp/exp.nc" --movie "$tmp/nodir/m.gif"
status=0; "$py" "$qelplot" "$tmp/exp.nc" -o "$tmp/nodir/x" 2>"$tmp/err.txt" || status=$?
[ "$status" -eq 2 ] && grep -q "nodir" "$tmp/err.txt" || fail "an output in a missing directory: status $status"
status=0; "$py" "$qelplot" "$tmp/exp.nc" --time nan -o "$tmp/bad/out" 2>/dev/null || status=$?
[ "$status" -eq 2 ] && [ "$(ls -A "$tmp/bad")" = "$before" ] || fail "--time nan: status $status"
echo "qelplot: pictures of the expected sizes and panels written, hostile inputs refused"
