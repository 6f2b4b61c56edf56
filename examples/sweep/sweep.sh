#!/usr/bin/env bash
# A parameter sweep: one experiment directory per value of one parameter,
# all run with GNU parallel on the cores of this machine.
#
#   examples/sweep/sweep.sh [options] NAME VALUE...
#
#   --base DIR      experiment whose qel.input every member starts from
#                   (default examples/thermal, a rising thermal); when DIR
#                   holds a file `init` (qeltool init's STAMP RECIPE
#                   [key=value ...]), each member starts from that initial
#                   state, made with its own value, and restarts from it
#   --out DIR       where the members go (default out/sweep-NAME); a member
#                   directory that exists already is refused
#   --until T       model time to stop at (default 2)
#   --dump-every X  dump interval (default 0.5)
#   --diag-every Y  diagnostic interval (default 0.25)
#   --jobs N        members run at once (default: one per core)
#   --qeltool PATH  the qeltool program (default build/tools/qeltool, built
#                   when missing)
#
# Member OUT/NAME-VALUE gets the base qel.input, is run (fresh, or from
# its initial state) by `qeltool run ... NAME=VALUE --save-input` (so its
# qel.input records the value) and keeps its dumps, qel.hist and
# console.txt. GNU parallel's job
# log is OUT/joblog. Exit status: 0 when every member completed, else the
# number of members that failed (see their console.txt), 2 for bad usage
# (an unknown parameter, a value that is not a number or is given twice, a
# member directory that exists), refused before anything is made.
# Example: examples/sweep/sweep.sh REI 1e-3 2e-3 5e-3 1e-2
set -euo pipefail

script="$(cd "$(dirname "$0")" && pwd)/$(basename "$0")"
root="$(cd "$(dirname "$0")/../.." && pwd)"

# One member, run by parallel: the settings come in the environment.
if [ "${1:-}" = "--member" ]; then
  dir="$SWEEP_OUT/$SWEEP_NAME-$2"
  start=()
  if [ -f "$SWEEP_BASE/init" ]; then
    read -r -a init_args <"$SWEEP_BASE/init"
    "$SWEEP_QELTOOL" init "$dir" "${init_args[@]}" "$SWEEP_NAME=$2" >"$dir/console.txt" 2>&1
    start=(--restart "${init_args[0]}")
  fi
  exec "$SWEEP_QELTOOL" run "$dir" "${start[@]}" --until "$SWEEP_UNTIL" --dump-every "$SWEEP_DUMP" \
    --diag-every "$SWEEP_DIAG" "$SWEEP_NAME=$2" --save-input >>"$dir/console.txt" 2>&1
fi

die() { echo "sweep: $*" >&2; exit 2; }
base="$root/examples/thermal" out="" until=2 dump=0.5 diag=0.25 jobs=100% qeltool=""
while [ $# -gt 0 ]; do
  case "$1" in
    --base|--out|--until|--dump-every|--diag-every|--jobs|--qeltool)
      [ $# -ge 2 ] || die "$1 needs a value"
      case "$1" in
        --base) base="$2" ;; --out) out="$2" ;; --until) until="$2" ;;
        --dump-every) dump="$2" ;; --diag-every) diag="$2" ;; --jobs) jobs="$2" ;;
        --qeltool) qeltool="$2" ;;
      esac
      shift 2 ;;
    -h|--help) sed -n '2,/^set -e/p' "$script" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) die "unknown option $1 (see --help)" ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] || die "usage: examples/sweep/sweep.sh [options] NAME VALUE... (see --help)"
name="$1"; shift

# Everything is checked before anything is made: a refused sweep leaves
# nothing behind that would block the corrected one.
number='^[+-]?([0-9]+[.]?[0-9]*|[.][0-9]+)([eEdD][+-]?[0-9]+)?$'
positive() {  # OPTION VALUE: a finite number above zero
  [[ "$2" =~ $number ]] && awk -v x="${2//[dD]/e}" 'BEGIN { exit !(x + 0 > 0) }' ||
    die "$1 needs a positive number, found '$2'"
}
positive --until "$until"
positive --dump-every "$dump"
positive --diag-every "$diag"
[[ "$jobs" =~ ^[1-9][0-9]*%?$ ]] || die "--jobs needs a positive whole number of members or a percentage of the cores, found '$jobs'"
[ -f "$base/qel.input" ] || die "no qel.input in $base"
[ -z "$out" ] || [ ! -e "$out" ] || [ -d "$out" ] || die "$out exists and is not a directory"
# Values: numbers as the namelist reads them (a d exponent too), each once;
# 1e-3 and 0.001 are the same run.
seen=()
for v in "$@"; do
  [[ "$v" =~ $number ]] || die "'$v' is not a number (a value of $name for one member)"
  same=$(awk -v x="${v//[dD]/e}" 'BEGIN { printf "%.17g", x + 0 }')
  for s in "${seen[@]}"; do
    [ "${s%% *}" != "$same" ] || die "$name ${s#* } and $v are the same value; give each value once"
  done
  seen+=("$same $v")
done
command -v parallel >/dev/null || die "GNU parallel is needed (Debian: apt-get install parallel)"
if [ -z "$qeltool" ]; then
  qeltool="$root/build/tools/qeltool"
  if [ ! -x "$qeltool" ]; then
    (cd "$root" && { [ -f build/CMakeCache.txt ] || cmake --preset default; } &&
      cmake --build build -j2 --target qeltool) >&2
  fi
fi
[ -x "$qeltool" ] || die "$qeltool is not a program"
qeltool="$(cd "$(dirname "$qeltool")" && pwd)/$(basename "$qeltool")"
"$qeltool" params "$name" >/dev/null 2>&1 ||
  die "'$name' is not a run parameter ('$qeltool params' lists them)"
out="${out:-$root/out/sweep-$name}"
for v in "$@"; do
  [ ! -e "$out/$name-$v" ] || die "$out/$name-$v exists already"
done

# The member directories, each with the base parameters.
mkdir -p "$out" || die "cannot make $out"
out="$(cd "$out" && pwd)"
for v in "$@"; do
  mkdir "$out/$name-$v" && cp "$base/qel.input" "$out/$name-$v/" || die "cannot make $out/$name-$v"
done

base="$(cd "$base" && pwd)"
export SWEEP_BASE="$base" SWEEP_OUT="$out" SWEEP_NAME="$name" SWEEP_UNTIL="$until" SWEEP_DUMP="$dump" \
  SWEEP_DIAG="$diag" SWEEP_QELTOOL="$qeltool"
status=0
parallel --will-cite --jobs "$jobs" --halt never --joblog "$out/joblog" \
  "$(printf '%q ' bash "$script" --member)" {} ::: "$@" || status=$?

echo "sweep of $name over $# value(s): results in $out"
[ "$status" -eq 0 ] || echo "sweep: $status member(s) failed; see console.txt in their directories and $out/joblog" >&2
exit "$status"
