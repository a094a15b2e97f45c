#!/usr/bin/env bash
# First README command: install what is missing, build, and run the quil
# tool against a demo registry whose log folder is inside the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default

demo="$PWD/build/demo"
mkdir -p "$demo/log"
cat > "$demo/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]
"LogLevel"=dword:00000002
"LogFolder"="$demo/log"
REG
export QUIL_REGISTRY="$demo/registry.reg"

echo "== quil version";      build/tools/quil version
echo "== quil status";       build/tools/quil status
echo "== quil error -3010";  build/tools/quil error -3010
echo "== trace lines in $demo/log"
tail -n 8 "$demo"/log/QUILSVC_*.log
