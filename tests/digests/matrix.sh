#!/usr/bin/env bash
# Output digests of a matrix of short runs at 91 x 91: every dump, qel.hist
# and the console output of each run, by SHA-256. The runs cover both cores,
# every advection scheme, each geometry, both elliptic paths, slip and
# no-slip walls, BUOYBOUND, RAY, SWIRL, REIT, the body force and the thermal
# and plume examples. Runs that solve exactly with Eigen (PIT < 0 in the
# vorticity core, PIT <= 0 in the primitive core) may round differently
# between builds: their console, history and a summary of each dump are
# compared with a recorded run to a tolerance instead (compare.py).
#
#   tests/digests/matrix.sh QELTOOL check    compare with the recorded values
#   tests/digests/matrix.sh QELTOOL record   record them anew
#
# Record only where a change decides a new result, and name the runs.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
qeltool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
mode="${2:-check}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# NAME CORE UNTIL DUMP DIAG OVERRIDES...; CORE v or p starts from a thermal
# made by qeltool init on the base input of that core; thermal and plume
# run the examples as their answers do (the plume to a shorter time).
base_v="USEPRIM=0 ORDER=3 AXI=1 PIT=0 DTMAX=0.01 CFL=0.4 DIFF=0.12 REI=2e-3 REIT=2e-3 RWID=1.5 HITE=1 STR=0.6 STZ=1.3 SLIPB=0 SLIPT=0 SLIPS=0 SWIRL=0.5 BUOYBOUND=1 BACTIVE=1 RAY=0 FROUDEINV=1 BDFZ=100"
base_p="USEPRIM=1 ORDER=3 AXI=1 PIT=20 RLX=1.5 DTMAX=0.01 CFL=0.4 DIFF=0.12 REI=2e-3 REIT=2e-3 RWID=1.5 HITE=1 STR=0.6 STZ=1.3 SLIPB=0 SLIPT=0 SLIPS=0 SWIRL=0.5 BUOYBOUND=1 BACTIVE=1 RAY=0 FROUDEINV=1 BDFZ=100 BDFRZ=0.2 BDFRX=0.15 BDFTURNON=0.5"
cases=(
  "v-base v 0.3 0.1 0.05"
  "v-order5 v 0.3 0.1 0.05 ORDER=5"
  "v-arakawa v 0.3 0.1 0.05 ORDER=0"
  "v-flux-centred v 0.3 0.1 0.05 ORDER=-1"
  "v-flux-upwind v 0.3 0.1 0.05 ORDER=-3"
  "v-plane v 0.3 0.1 0.05 AXI=0"
  "v-axi2 v 0.3 0.1 0.05 AXI=2"
  "v-jacobi v 0.3 0.1 0.05 PIT=20"
  "v-slip v 0.3 0.1 0.05 SLIPB=1 SLIPT=0.5 SLIPS=1"
  "v-buoybound v 0.3 0.1 0.05 BUOYBOUND=0.5"
  "v-ray v 0.3 0.1 0.05 RAY=1"
  "v-swirl v 0.3 0.1 0.05 SWIRL=2"
  "v-reit v 0.3 0.1 0.05 HITE=2 REIT=1e-2"
  "v-square v 0.3 0.1 0.05 RWID=1 HITE=1 STR=1 STZ=1"
  "v-exact v 0.3 0.1 0.05 PIT=-1"
  "p-base p 0.3 0.1 0.05"
  "p-order5 p 0.3 0.1 0.05 ORDER=5"
  "p-flux-centred p 0.3 0.1 0.05 ORDER=-1"
  "p-flux-upwind p 0.3 0.1 0.05 ORDER=-3"
  "p-plane p 0.3 0.1 0.05 AXI=0"
  "p-axi2 p 0.3 0.1 0.05 AXI=2"
  "p-slip p 0.3 0.1 0.05 SLIPB=1 SLIPT=1 SLIPS=1"
  "p-buoybound p 0.3 0.1 0.05 BUOYBOUND=0"
  "p-ray p 0.3 0.1 0.05 RAY=1"
  "p-swirl p 0.3 0.1 0.05 SWIRL=2"
  "p-reit p 0.3 0.1 0.05 HITE=2 REIT=1e-2"
  "p-bodyforce p 0.3 0.1 0.05 BDFZ=0.3"
  "p-exact p 0.3 0.1 0.05 PIT=0"
  "thermal thermal 4.0 0.5 0.1"
  "thermal-jacobi thermal 1.0 0.5 0.1 PIT=20"
  "plume plume 2.0 1.0 0.25"
  "plume-jacobi plume 2.0 1.0 0.25 PIT=20"
)

# True when a run solves exactly in double precision with Eigen.
exact() {
  local core=$1 pit=$2
  if [ "$core" = 1 ]; then awk -v p="$pit" 'BEGIN { exit !(p <= 0) }'
  else awk -v p="$pit" 'BEGIN { exit !(p < 0) }'; fi
}

cd "$work"
digests="$work/digests.sha256"
: >"$digests"
mkdir -p "$work/tolerance"
for c in "${cases[@]}"; do
  read -r name kind until dump diag overrides <<<"$c"
  # A relative directory, so that the console text names the same dumps in
  # every run of the matrix.
  dir="$name"
  mkdir -p "$dir"
  case $kind in
    v|p)
      [ "$kind" = v ] && base=$base_v || base=$base_p
      cp "$root/examples/thermal/qel.input" "$dir/"
      # shellcheck disable=SC2086
      "$qeltool" init "$dir" 0 thermal amplitude=0.5 z0=0.4 radius=0.15 $base $overrides >/dev/null
      restart=(--restart 0)
      # shellcheck disable=SC2086
      set -- $base $overrides ;;
    thermal)
      cp "$root/examples/thermal/qel.input" "$dir/"
      read -r -a init_args <"$root/examples/thermal/init"
      "$qeltool" init "$dir" "${init_args[@]}" >/dev/null
      restart=(--restart 0)
      # shellcheck disable=SC2086
      set -- $overrides ;;
    plume)
      cp "$root/examples/plume/qel.input" "$dir/"
      restart=()
      # shellcheck disable=SC2086
      set -- $overrides ;;
  esac
  if ! "$qeltool" run "$dir" "${restart[@]}" --until "$until" --dump-every "$dump" \
      --diag-every "$diag" "$@" >"$dir/console.txt" 2>"$dir/stderr.txt"; then
    echo "digests: the run $name failed:" >&2
    cat "$dir/stderr.txt" >&2
    exit 2
  fi
  core=$(awk '/&F/ { f = 1 } f && /USEPRIM *=/ { sub(/.*USEPRIM *= */, ""); print ($1 + 0 > 0) ? 1 : 0; exit }' "$dir/qel.input")
  pit=$(awk '/&F/ { f = 1 } f && /[ ,]PIT *=/ { sub(/.*PIT *= */, ""); sub(/,.*/, ""); print; exit }' "$dir/qel.input")
  for kv in "$@"; do
    case $kv in USEPRIM=*) core=$(awk -v u="${kv#*=}" 'BEGIN { print (u > 0) ? 1 : 0 }') ;; PIT=*) pit=${kv#*=} ;; esac
  done
  if exact "$core" "$pit"; then
    mkdir -p "$work/tolerance/$name"
    cp "$dir/console.txt" "$dir/qel.hist" "$work/tolerance/$name/"
    python3 "$here/compare.py" summary "$dir"/qel*.dat >"$work/tolerance/$name/dumps.txt"
  else
    (cd "$dir" && sha256sum console.txt qel.hist qel*.dat) | sed "s|  |  $name/|" >>"$digests"
  fi
done

if [ "$mode" = record ]; then
  cp "$digests" "$here/expected.sha256"
  rm -rf "$here/tolerance"
  cp -r "$work/tolerance" "$here/tolerance"
  echo "digests: recorded $(wc -l <"$digests") digests and $(ls "$work/tolerance" | wc -l) runs held to a tolerance"
  exit 0
fi
status=0
if ! diff -u "$here/expected.sha256" "$digests" >&2; then
  echo "digests: the files above differ from the recorded ones (- recorded, + now)" >&2
  status=1
fi
python3 "$here/compare.py" compare "$here/tolerance" "$work/tolerance" || status=1
n=$(wc -l <"$digests")
[ "$status" = 0 ] && echo "digests: $n files identical, $(ls "$work/tolerance" | wc -l) exact-solver runs within tolerance"
exit "$status"
