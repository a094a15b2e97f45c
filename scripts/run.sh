#!/usr/bin/env bash
# First README command: install what is missing, build, and run a real
# session: a fresh emulated disc in a temporary folder, opened as drive E:,
# a clip and a user-data file recorded and read back through the exports,
# then the operation-log lines the session produced.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default

demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo/log" "$demo/drives"
cat > "$demo/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]
"LogLevel"=dword:00000002
"LogFolder"="$demo/log"
REG
export QUIL_REGISTRY="$demo/registry.reg"
export QUIL_DRIVES="$demo/drives"

disc="$(mktemp -d)/disc"
build/emulator/quil-mkdisc "$disc" --label DEMO
ln -s "$disc" "$demo/drives/e:"

echo "== quil version";  build/tools/quil version
echo "== quil session E: (disc in $disc)"
build/tools/quil session E:
echo "== operation-log lines in $demo/log"
grep -h '^\[[123]\]' "$demo"/log/QUILSVC_*.log
echo "== the volume opening as traced"
grep -h 'createVolume\|CreateVolume' "$demo"/log/QUILSVC_*.log | head -n 6 | cut -c1-160
rm -rf "$(dirname "$disc")"
