#!/usr/bin/env bash
# Runs the suite against each mutation of scripts/mutations.txt and prints
# which ones it catches: a mutation is caught when a test fails with it in
# place; one that does not build is reported unusable. Each one is
# applied to a scratch clone of the current commit, built there
# incrementally, tested with CTest, and undone.
#
#   scripts/mutation_sweep.sh [RESULT-FILE] [WORK-FOLDER]
#
# RESULT-FILE gets one line per mutation: "caught N what", "missed N what"
# or "unusable N what"
# (default mutation-results.txt); WORK-FOLDER holds the clone and its build
# (default /tmp/quil-mutations, reused between runs).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
results="$(realpath -m "${1:-mutation-results.txt}")"
work="${2:-/tmp/quil-mutations}"
list="$here/scripts/mutations.txt"

# A mutation may make a program write without end (a read position that
# never moves, a space account that never fills): no file may pass 2 GiB, no
# test may run past its timeout, and the sweep stops before the disk fills.
ulimit -f $((2 * 1024 * 1024))
enough_room() { [ "$(df -Pk "$work" | awk 'NR == 2 { print $4 }')" -gt $((10 * 1024 * 1024)) ]; }

mkdir -p "$work"
if [ ! -d "$work/src/.git" ]; then
  rm -rf "$work"
  git clone -q "$here" "$work/src"
fi
git -C "$work/src" fetch -q "$here" HEAD
git -C "$work/src" checkout -q --force FETCH_HEAD
# The list and this script come from the tree that runs them.
cp "$list" "$work/src/scripts/mutations.txt"
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIL_BUILD_BENCHMARKS=OFF >/dev/null
ninja -C "$work/build" >/dev/null
(cd "$work/build" && ctest -j2 --timeout 300 -E packages_test >/dev/null) || { echo "mutation_sweep: the suite fails unmutated" >&2; exit 1; }

: >"$results"
n=0
while IFS= read -r line; do
  [ -z "$line" ] && continue
  case "$line" in \#*) continue ;; esac
  n=$((n + 1))
  if ! enough_room; then
    echo "mutation_sweep: less than 10 GiB left on $work; stopping at mutation $n" >&2
    exit 1
  fi
  IFS=$'\t' read -r path old new what <<<"$line"
  file="$work/src/$path"
  if ! python3 - "$file" "$old" "$new" <<'PY'
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
  then
    echo "unusable $n $what ($path: the text is not there once)" | tee -a "$results"
    continue
  fi
  verdict=missed
  if ! ninja -C "$work/build" >/dev/null 2>&1; then
    verdict=unusable  # does not build: says nothing of the tests
  elif ! (cd "$work/build" && ctest -j2 --timeout 300 -E packages_test >/dev/null 2>&1); then
    verdict=caught
  fi
  rm -rf "$work/build/test-home/tmp" && mkdir -p "$work/build/test-home/tmp"
  echo "$verdict $n $what" | tee -a "$results"
  git -C "$work/src" checkout -q -- "$path"
done <"$list"
ninja -C "$work/build" >/dev/null
echo "caught $(grep -c '^caught' "$results") of $n ($results)"
