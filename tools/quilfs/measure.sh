#!/usr/bin/env bash
# Figures for quilfs, each against its baseline in the same run:
#   1. fio, sequential 1 MiB writes then reads of SIZE (default 256M), through
#      the mount and on a host folder beside the disc (same file system), best
#      of 3 each; the mount's reads twice: with the pages the kernel kept of
#      the file written through the mount, and with the mount's pages dropped
#      at each open (--invalidate=1: every byte from the library);
#   2. copying a user-data file of BIG (default 1G) out of a fresh mount with
#      cp, against `quil get` of the same file, best of 3;
#   3. metadata: create (4 KiB written), stat and unlink of 250, 2,000 and
#      4,000 small files in one folder through the mount, against bindfs (a
#      plain FUSE pass-through) of a host folder beside the disc, best of 3.
# The host's page cache is left as it is (warm) for both sides of each pair:
# dropping it on the host folder would drop the data itself.
#   tools/quilfs/measure.sh [--only data|copy|metadata] [BUILD-DIR] [SIZE] [BIG]
set -euo pipefail
only=""
if [ "${1:-}" = --only ]; then
  case "${2:-}" in
    data|copy|metadata) only="$2" ;;
    *) echo "measure: --only takes data, copy or metadata" >&2; exit 2 ;;
  esac
  shift 2
fi
wanted() { [ -z "$only" ] || [ "$only" = "$1" ]; }
build="${1:-build}"
size="${2:-256M}"
big="${3:-1G}"
quil="$build/tools/quil"
quilfs="$build/tools/quilfs"
for tool in "$quil" "$quilfs" fio fusermount3; do
  command -v "$tool" >/dev/null || { echo "measure: $tool is missing" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/quilfs-measure.XXXXXX")"
export QUIL_REGISTRY="$work/none.reg" QUIL_PROGRAM_FILES="$work/opt"  # logs stay in the scratch folder
daemon=""
cleanup() {
  if [ -n "$daemon" ]; then
    fusermount3 -u "$work/mnt" 2>/dev/null || kill "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mount_disc() {
  "$quilfs" "$work/disc" "$work/mnt" -f 2>"$work/quilfs.log" &
  daemon=$!
  for _ in $(seq 100); do grep -q " $work/mnt " /proc/self/mountinfo && return 0; sleep 0.05; done
  echo "measure: the mount did not come up" >&2; cat "$work/quilfs.log" >&2; exit 1
}
unmount_disc() {
  fusermount3 -u "$work/mnt"
  wait "$daemon"
  daemon=""
}

# MiB/s of one fio job, the best of 3: DIRECTORY RW [INVALIDATE]
fio_rate() {
  for _ in 1 2 3; do
    fio --name=seq --directory="$1" --rw="$2" --bs=1M --size="$size" --ioengine=psync --fallocate=none \
      --invalidate="${3:-0}" --end_fsync=0 --output-format=json 2>/dev/null |
      python3 -c 'import json,sys; j=json.load(sys.stdin)["jobs"][0]; k=sys.argv[1]; print("%.0f" % (j[k]["bw_bytes"]/1048576))' \
        "$([ "$2" = read ] && echo read || echo write)"
  done | sort -g | tail -1
}

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N); awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
least() { printf "%s\n" "$@" | sort -g | head -1; }

"$quil" mkdisc "$work/disc" --capacity 64G
mkdir -p "$work/mnt" "$work/host"

# The mount's readahead, which quilfs raises at the first open where it may (root).
readahead() {
  local device
  device=$(awk -v at="$work/mnt" '$5 == at { d = $3 } END { print d }' /proc/self/mountinfo)
  cat "/sys/class/bdi/$device/read_ahead_kb" 2>/dev/null || echo "?"
}

if wanted data; then
echo "fio, sequential, bs=1M, size=$size (MiB/s)"
mount_disc
mount_write=$(fio_rate "$work/mnt/USERDATA" write)
mount_read=$(fio_rate "$work/mnt/USERDATA" read)
mount_dropped=$(fio_rate "$work/mnt/USERDATA" read 1)
echo "  (the mount's readahead: $(readahead) KiB)"
host_write=$(fio_rate "$work/host" write)
host_read=$(fio_rate "$work/host" read)
printf "  write                     mount %6s  host folder %6s  ratio %s\n" "$mount_write" "$host_write" \
  "$(ratio "$mount_write" "$host_write")"
printf "  read, pages kept          mount %6s  host folder %6s  ratio %s\n" "$mount_read" "$host_read" \
  "$(ratio "$mount_read" "$host_read")"
printf "  read, pages dropped       mount %6s  host folder %6s  ratio %s\n" "$mount_dropped" "$host_read" \
  "$(ratio "$mount_dropped" "$host_read")"
rm -f "$work/mnt/USERDATA/seq.0.0" "$work/host/seq.0.0"
unmount_disc
fi

if wanted copy; then
echo "copying a $big user-data file out (seconds, best of 3)"
head -c "$big" /dev/urandom >"$work/big.bin"
"$quil" --root "$work/disc" put --no-progress "$work/big.bin" /USERDATA/big.bin
rm -f "$work/big.bin"
gets=()
cps=()
for _ in 1 2 3; do
  gets+=("$(seconds "$quil" --root "$work/disc" get --no-progress /USERDATA/big.bin "$work/out.bin")")
  rm -f "$work/out.bin"
  mount_disc
  cps+=("$(seconds cp "$work/mnt/USERDATA/big.bin" "$work/out.bin")")
  unmount_disc
  rm -f "$work/out.bin"
done
get=$(least "${gets[@]}")
cp=$(least "${cps[@]}")
printf "  cp out of the mount %s s  quil get %s s  ratio %s\n" "$cp" "$get" "$(ratio "$cp" "$get")"
fi

wanted metadata || exit 0
echo "metadata: create+write 4 KiB, stat, unlink of N files in one folder (microseconds per file, best of 3)"
command -v bindfs >/dev/null || { echo "measure: bindfs is missing (Debian's bindfs)" >&2; exit 2; }
# One process does the whole run, so that no process start is timed.
meta_run() {
  python3 - "$1" "$2" <<'PY'
import os, sys, time
folder, n = sys.argv[1], int(sys.argv[2])
data = b"m" * 4096
start = time.perf_counter()
for i in range(n):
    with open(os.path.join(folder, "f%05d" % i), "wb") as f:
        f.write(data)
for i in range(n):
    os.stat(os.path.join(folder, "f%05d" % i))
for i in range(n):
    os.unlink(os.path.join(folder, "f%05d" % i))
print("%.0f" % ((time.perf_counter() - start) / n * 1e6))
PY
}
mkdir -p "$work/bind" "$work/host/meta"
mount_disc
mkdir -p "$work/mnt/USERDATA/meta"
bindfs "$work/host" "$work/bind"
for n in 250 2000 4000; do
  quilfs_us=()
  bindfs_us=()
  for _ in 1 2 3; do
    quilfs_us+=("$(meta_run "$work/mnt/USERDATA/meta" "$n")")
    bindfs_us+=("$(meta_run "$work/bind/meta" "$n")")
  done
  q=$(least "${quilfs_us[@]}")
  b=$(least "${bindfs_us[@]}")
  printf "  %5d files   quilfs %6s us  bindfs %6s us  ratio bindfs/quilfs %s (goal at least 1)\n" "$n" "$q" "$b" \
    "$(ratio "$b" "$q")"
done
fusermount -u "$work/bind" 2>/dev/null || fusermount3 -u "$work/bind"
unmount_disc
