#!/usr/bin/env bash
# Runs one experiment of examples/ without a dialogue.
#
#   tools/run-example.sh NAME [OUTDIR]
#
# Builds qeln and qeltool if needed, makes a fresh output directory (default
# out/NAME-<date>-<time>), copies the example's qel.input into it and runs
# qeln with the example's answers piped in (everything after the directory,
# which this script answers). An example with a file `init` first gets its
# initial state from `qeltool init OUTDIR <the words of init>`. The console transcript is kept in the output
# directory as console.txt, beside qel.hist and the dumps qelNNNNNN.dat.
set -euo pipefail

usage="usage: tools/run-example.sh NAME [OUTDIR]"
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "$usage" >&2; exit 2; }
root="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"
example="$root/examples/$name"
if [ ! -f "$example/qel.input" ] || [ ! -f "$example/answers" ]; then
  echo "run-example: no example '$name' (examples/$name needs qel.input and answers)" >&2
  echo "available: $(ls "$root/examples" | tr '\n' ' ')" >&2
  exit 2
fi

if [ $# -eq 2 ]; then
  outdir="$2"
  if [ -e "$outdir" ] && [ -n "$(ls -A "$outdir")" ]; then
    echo "run-example: $outdir exists and is not empty; name a fresh directory" >&2
    exit 2
  fi
else
  outdir="$root/out/$name-$(date +%Y%m%d-%H%M%S)"
  n=1
  while [ -e "$outdir" ]; do outdir="$root/out/$name-$(date +%Y%m%d-%H%M%S)-$n"; n=$((n + 1)); done
fi

cd "$root"
[ -f build/CMakeCache.txt ] || cmake --preset default >&2
targets=(qeln qeltool)
cmake --build build -j2 --target "${targets[@]}" >&2

mkdir -p "$outdir"
outdir="$(cd "$outdir" && pwd)"
cp "$example/qel.input" "$outdir/"
if [ -f "$example/init" ]; then
  read -r -a init_args < "$example/init"
  build/tools/qeltool init "$outdir" "${init_args[@]}"
fi
# The directory answer is quoted so that the path may hold slashes and blanks;
# a quote inside it is doubled.
quoted="'${outdir//\'/\'\'}'"
status=0
{ printf '%s\n' "$quoted"; cat "$example/answers"; } | build/src/qeln | tee "$outdir/console.txt" || status=$?
if [ "$status" -ne 0 ]; then
  echo "run-example: qeln ended with status $status; see above and $outdir" >&2
  exit "$status"
fi
echo
echo "results in $outdir:"
echo "  qel.hist        parameters, then one diagnostic line per interval"
echo "  qelNNNNNN.dat   restart dumps (NNNNNN = model time in thousandths, rounded down to a hundredth)"
echo "  qelNNNNNN.lev   their companions, with which a restart continues the run exactly"
echo "  console.txt     the console transcript"
