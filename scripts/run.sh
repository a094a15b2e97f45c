#!/usr/bin/env bash
# First README command: install what is missing, build, and run `quil demo`:
# a fresh emulated disc, its volume opened through the exports, a clip and a
# user-data file recorded, listed, read back and verified, a file renamed
# and deleted, the label set, and the operation-log lines of the session.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default

demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo/log"
cat > "$demo/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]
"LogLevel"=dword:00000002
"LogFolder"="$demo/log"
REG
export QUIL_REGISTRY="$demo/registry.reg"

build/tools/quil version
build/tools/quil demo --root "$demo/session"
echo "== the disc stays in $demo/session/disc; every trace line is in $demo/log"
