#!/usr/bin/env bash
# Second README command: install what is missing, build, run every test.
# With an argument (asan, tsan) it runs that sanitizer preset instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
preset="${1:-default}"
scripts/build.sh "$preset"
ctest --preset "$preset"
