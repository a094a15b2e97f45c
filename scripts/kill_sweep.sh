#!/usr/bin/env bash
# The whole kill sweep: a session killed at every one of its sibling calls
# (CI runs every third), with the time it took.
#   scripts/kill_sweep.sh [BUILD-DIR]
set -euo pipefail
build="${1:-build}"
start=$(date +%s)
QUIL_KILL_SWEEP_ALL=1 QUIL_TEST_TMP="${TMPDIR:-/tmp}" "$build/tests/kill_sweep_test"
echo "kill sweep: $(( $(date +%s) - start )) s"
