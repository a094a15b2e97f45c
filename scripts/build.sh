#!/usr/bin/env bash
# Configures (once) and builds one preset: default, asan or tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
dir="build"
[ "$preset" = default ] || dir="build-$preset"
if [ ! -f "$dir/build.ninja" ]; then
  cmake --preset "$preset" >/dev/null
fi
cmake --build --preset "$preset"
