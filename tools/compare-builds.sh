#!/usr/bin/env bash
# Proves that two builds of the model give the same bytes: runs the thermal
# example with PIT = 0 and PIT = 20 and the plume example with PIT = 20 with
# each build and compares every dump and qel.hist with cmp.
#
#   tools/compare-builds.sh [BUILD_A BUILD_B]
#
# Without arguments the default build (build/, -O3 for this machine) and the
# portable one (build-portable/) are configured and built from their presets
# first; with two build directories those are used as they are (each must
# hold tools/qeltool). The runs go to a fresh temporary directory, removed
# afterwards unless KEEP=1. Exit status 0 when every file matches, 1 when
# one differs, 2 on a usage or run failure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if [ $# -eq 0 ]; then
  cmake --preset default >/dev/null && cmake --build --preset default --target qeltool >&2
  cmake --preset portable >/dev/null && cmake --build --preset portable --target qeltool >&2
  builds=("$root/build" "$root/build-portable")
elif [ $# -eq 2 ]; then
  builds=("$(cd "$1" && pwd)" "$(cd "$2" && pwd)")
else
  echo "usage: tools/compare-builds.sh [BUILD_A BUILD_B]" >&2
  exit 2
fi
for b in "${builds[@]}"; do
  [ -x "$b/tools/qeltool" ] || { echo "compare-builds: no $b/tools/qeltool" >&2; exit 2; }
done

work=$(mktemp -d)
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT

# CASE EXAMPLE STAMP UNTIL DUMP DIAG OVERRIDES...: the example's own run
# times (see its answers file), with the overrides given explicitly; STAMP
# "fresh" starts from qel.input alone.
cases=(
  "thermal-pit0 thermal 0 4.0 0.5 0.1 PIT=0"
  "thermal-pit20 thermal 0 4.0 0.5 0.1 PIT=20"
  "plume-pit20 plume fresh 6.0 1.0 0.25 PIT=20"
)

status=0
for c in "${cases[@]}"; do
  read -r name example stamp until dump diag overrides <<<"$c"
  for n in 0 1; do
    b=${builds[$n]}
    dir="$work/$name-$n"
    mkdir -p "$dir"
    cp "examples/$example/qel.input" "$dir/"
    if [ -f "examples/$example/init" ]; then
      read -r -a init_args < "examples/$example/init"
      "$b/tools/qeltool" init "$dir" "${init_args[@]}" >/dev/null
    fi
    restart=()
    [ "$stamp" = fresh ] || restart=(--restart "$stamp")
    # shellcheck disable=SC2086
    if ! "$b/tools/qeltool" run "$dir" "${restart[@]}" --until "$until" \
        --dump-every "$dump" --diag-every "$diag" $overrides >"$dir/console.txt" 2>"$dir/stderr.txt"; then
      echo "compare-builds: $name failed with $b (see $dir/stderr.txt)" >&2
      cat "$dir/stderr.txt" >&2
      exit 2
    fi
  done
  files=$(cd "$work/$name-0" && ls qel.hist qel*.dat)
  [ "$files" = "$(cd "$work/$name-1" && ls qel.hist qel*.dat)" ] || {
    echo "compare-builds: $name: the two builds wrote different sets of files" >&2; status=1; }
  count=0
  for f in $files; do
    if cmp "$work/$name-0/$f" "$work/$name-1/$f"; then count=$((count + 1)); else status=1; fi
  done
  echo "compare-builds: $name: $count files identical"
done
if [ "$status" -eq 0 ]; then echo "compare-builds: the two builds agree byte for byte"; fi
exit "$status"
