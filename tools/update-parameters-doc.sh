#!/usr/bin/env bash
# Regenerates the parameter table at the end of docs/parameters.md from the
# program's own table (`qeltool params --markdown`): everything up to the
# marker line is kept, the table after it replaced.
#   tools/update-parameters-doc.sh [QELTOOL]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
qeltool="${1:-$root/build/tools/qeltool}"
doc="$root/docs/parameters.md"
marker='<!-- The table below is the output of `qeltool params --markdown`; do not edit it by hand. -->'
grep -qxF "$marker" "$doc" || { echo "update-parameters-doc: no marker line in $doc" >&2; exit 2; }
tmp="$(mktemp "$doc.XXXXXX")"
trap 'rm -f "$tmp"' EXIT
{ awk -v m="$marker" '{ print } $0 == m { exit }' "$doc"; "$qeltool" params --markdown; } >"$tmp"
chmod --reference="$doc" "$tmp"
mv "$tmp" "$doc"
trap - EXIT
echo "updated $doc"
