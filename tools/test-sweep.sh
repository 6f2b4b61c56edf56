#!/usr/bin/env bash
# Test of examples/sweep/sweep.sh: a two-member sweep of the thermal example
# (its default base, whose members start from qeltool init's thermal) runs
# to completion, each member with its own value saved in qel.input and in
# its initial state, and the two members differ; bad arguments are refused
# before anything is made.
#   tools/test-sweep.sh QELTOOL
set -euo pipefail
qeltool="$1"
root="$(cd "$(dirname "$0")/.." && pwd)"
command -v parallel >/dev/null || { echo "FAIL: GNU parallel is missing (apt-get install parallel)"; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

bash "$root/examples/sweep/sweep.sh" --qeltool "$qeltool" \
  --out "$tmp/a sweep" --until 0.5 --dump-every 0.25 --diag-every 0.1 REI 1e-3 2d-2 ||
  fail "sweep.sh ended with status $?"

[ "$(wc -l <"$tmp/a sweep/joblog")" -eq 3 ] || fail "the job log does not list two members"
for v in 1e-3 2d-2; do
  d="$tmp/a sweep/REI-$v"
  [ -f "$d/qel.hist" ] || fail "$d has no qel.hist"
  # 100 header lines, then the diagnostic lines up to time 0.5.
  lines=$(wc -l <"$d/qel.hist")
  [ "$lines" -gt 100 ] || fail "$d/qel.hist has no diagnostic line"
  [ "$(grep -c 'will write dump file' "$d/console.txt")" -ge 2 ] || fail "$d/console.txt shows no dumps"
  ls "$d"/qel*.dat >/dev/null || fail "$d holds no dump"
done
grep -q '^ REI=  1.0000000000000000E-003,$' "$tmp/a sweep/REI-1e-3/qel.input" || fail "REI=1e-3 not saved"
grep -q '^ REI=  2.0000000000000000E-002,$' "$tmp/a sweep/REI-2d-2/qel.input" || fail "REI=2d-2 not saved"
# Each member started from its own initial state (history header line 8
# is REI) and the flows differ: the more viscous thermal rises slower.
[ "$(sed -n 8p "$tmp/a sweep/REI-2d-2/qel.hist")" = "   2.0000000000000000E-002" ] || fail "REI-2d-2 header"
[ "$(sed -n 8p "$tmp/a sweep/REI-1e-3/qel.hist")" = "   1.0000000000000000E-003" ] || fail "REI-1e-3 header"
w1=$(tail -1 "$tmp/a sweep/REI-1e-3/qel.hist" | cut -c38-47)
w2=$(tail -1 "$tmp/a sweep/REI-2d-2/qel.hist" | cut -c38-47)
awk -v a="$w1" -v b="$w2" 'BEGIN { exit !(a > b && b > 0) }' || fail "largest w $w1 (REI 1e-3) and $w2 (REI 2e-2)"

# A member that exists already is refused before anything runs.
if bash "$root/examples/sweep/sweep.sh" --qeltool "$qeltool" --out "$tmp/a sweep" REI 1e-3 2>/dev/null; then
  fail "a second sweep into the same members was not refused"
fi
# Bad arguments are refused with status 2 before anything is made, so the
# corrected sweep can follow: a value given twice (also as another spelling
# of the same number), a value that is not a number, an unknown parameter,
# a non-positive end time.
for args in "REI 1e-3 1e-3" "REI 1e-3 0.001" "REI 1e-3 x" "REIX 1e-3" "--until 0 REI 1e-3"; do
  status=0
  # shellcheck disable=SC2086
  bash "$root/examples/sweep/sweep.sh" --qeltool "$qeltool" --out "$tmp/refused" $args \
    2>"$tmp/err.txt" >/dev/null || status=$?
  [ "$status" -eq 2 ] || fail "sweep $args ended with status $status, not 2"
  [ -s "$tmp/err.txt" ] || fail "sweep $args said nothing on standard error"
  [ ! -e "$tmp/refused" ] || fail "sweep $args left $(ls -R "$tmp/refused")"
done
echo "sweep: two members completed, bad arguments refused"
