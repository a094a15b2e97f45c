#!/usr/bin/env bash
# System calls per operation through the exports on a name that exists, in
# folders of 100 and 10,000 files (goal for GetFileAttributes: at most 5),
# counted with strace over 100 calls of each. Needs a built tree and strace.
# Usage: bench/lookup_calls.sh [BUILD-DIR]
set -euo pipefail
build="${1:-build}"
command -v strace >/dev/null || { echo "lookup_calls: strace is missing" >&2; exit 2; }
trace="$(mktemp)"
trap 'rm -f "$trace"' EXIT
strace -f -qq -s 64 -o "$trace" "$build/bench/lookup_bench" --count-calls
# Between "quil-count NAME" and "quil-count end": every call but the markers.
awk '
  /write\(-1, "quil-count end"/ { if (name != "") printf "  %-24s %5.1f system calls per call\n", name, count / 100; name = ""; next }
  match($0, /write\(-1, "quil-count [^"]*"/) { name = substr($0, RSTART + 22, RLENGTH - 23); count = 0; next }
  name != "" && $2 !~ /^(<\.\.\.|\+\+\+|---)/ { count++ }
' "$trace"
