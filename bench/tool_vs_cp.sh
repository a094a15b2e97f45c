#!/usr/bin/env bash
# quil get of a user-data file and quil record of a host file into a clip,
# against cp of the same host file on the same file system, in one run.
# Usage: bench/tool_vs_cp.sh [SIZE_MIB] (default 1024). Needs a built tree.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib="${1:-1024}"
quil="$PWD/build/tools/quil"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QUIL_REGISTRY="$work/registry.reg"   # LogLevel 1 in the work folder
cat > "$QUIL_REGISTRY" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Merrow Corporation\\TALVO Drive\\quilsvc]
"LogLevel"=dword:00000001
"LogFolder"="$work/log"
REG
"$quil" mkdisc "$work/disc" --capacity 64G
head -c "$((size_mib << 20))" /dev/urandom > "$work/source.bin"
"$quil" --root "$work/disc" put --no-progress "$work/source.bin" /USERDATA/big.bin

# Each timing starts with no dirty pages of the one before: otherwise the
# later commands pay for the earlier ones' writeback.
seconds() { local s e; sync; s=$(date +%s.%N); "$@" > /dev/null; e=$(date +%s.%N); awk -v s="$s" -v e="$e" 'BEGIN { print e - s }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
cp_s=$(seconds cp "$work/source.bin" "$work/copy.bin")
get_s=$(seconds "$quil" --root "$work/disc" get --no-progress /USERDATA/big.bin "$work/got.bin")
rec_s=$(seconds "$quil" --root "$work/disc" record --no-progress "$work/source.bin" /CLIP/C0001.MXF)
cmp "$work/source.bin" "$work/got.bin"
printf '%-12s %8.3f s\n' "cp" "$cp_s" "quil get" "$get_s" "quil record" "$rec_s"
echo "ratio quil get vs cp     $(ratio "$cp_s" "$get_s")x (goal at least 0.9x)"
echo "ratio quil record vs cp  $(ratio "$cp_s" "$rec_s")x (goal at least 0.9x)"
