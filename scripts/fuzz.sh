#!/usr/bin/env bash
# Builds the libFuzzer harnesses (the fuzz preset: clang with ASan+UBSan)
# and runs each for SECONDS (default 60) from its seed corpus in fuzz/corpus.
# New inputs go to build-fuzz/corpus, never into the tree; a crash leaves
# its input in build-fuzz/crashes and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scripts/install-deps.sh
[ -f build-fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build-fuzz/crashes
export QUIL_REGISTRY="$PWD/build-fuzz/no-registry.reg" QUIL_PROGRAM_FILES="$PWD/build-fuzz/opt"
export ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# The image harness starts from images that tools of others made: a small
# recorded disc by genisoimage, a blank one by mkudffs (made here, not kept
# in the tree).
seeds=build-fuzz/seeds/image
if [ ! -f "$seeds/recorded.iso" ]; then
  rm -rf build-fuzz/seed-disc && mkdir -p "$seeds"
  build-fuzz/emulator/quil-mkdisc build-fuzz/seed-disc >/dev/null
  mkdir -p build-fuzz/seed-disc/USERDATA/folder/inner
  printf 'user data\n' > build-fuzz/seed-disc/USERDATA/folder/inner/note.txt
  head -c 5000 /dev/zero > build-fuzz/seed-disc/CLIP/C0001.MXF
  genisoimage -udf -quiet -V SEEDDISC -o "$seeds/recorded.iso" build-fuzz/seed-disc
  mkudffs -b 2048 -m hd --new-file "$seeds/blank.img" 300 >/dev/null
fi
status=0
for harness in format path registry discmeta exports image; do
  corpus="build-fuzz/corpus/$harness"
  seed="fuzz/corpus/$harness"
  [ "$harness" != image ] || seed="$seeds"
  mkdir -p "$corpus"
  echo "== $harness: ${seconds}s"
  if ! build-fuzz/fuzz/${harness}_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="build-fuzz/crashes/${harness}-" -print_final_stats=1 "$corpus" "$seed" \
      2> "build-fuzz/$harness.log"; then
    status=1
    tail -n 40 "build-fuzz/$harness.log"
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "build-fuzz/$harness.log" || true
done
exit "$status"
