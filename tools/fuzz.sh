#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: tools/fuzz.sh [SECONDS]   (default 60 per target)
# Seeds: the sound sample disk and the damaged disks the builder makes, cut to the region the
# targets lay over a blank disk (from the FAT on), plus the regression inputs in fuzz/regressions.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

corpus=build/fuzz/corpus
mkdir -p "$corpus"
mkimage=$(ls build/ci/tests/builder/odi-mkimage build/dev/tests/builder/odi-mkimage 2>/dev/null | head -n 1 || true)
if [[ -n "$mkimage" ]]; then
  "$mkimage" --seeds "$corpus/images" >/dev/null 2>&1 || true
  for img in "$corpus"/images/*.odi; do
    [[ -f "$img" ]] || continue
    # Mode byte 00h (full-size image), then 16 KB from the FAT on.
    { printf '\x00'; tail -c +$((0x29B0 + 1)) "$img" | head -c 16384; } > "$corpus/seed-$(basename "$img" .odi)"
  done
fi

for t in catalogue extract names; do
  dir="$corpus/$t"
  mkdir -p "$dir"
  cp -n "$corpus"/seed-* "$dir"/ 2>/dev/null || true
  [[ -d fuzz/regressions/$t ]] && cp -n fuzz/regressions/$t/* "$dir"/ 2>/dev/null || true
  echo "== fuzz_$t for ${secs}s"
  log=build/fuzz/fuzz_$t.log
  status=0
  build/fuzz/fuzz/fuzz_$t "$dir" -max_total_time="$secs" -max_len=20000 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/crash-$t- >"$log" 2>&1 || status=$?
  grep -E 'stat::number_of_executed_units|stat::peak_rss|ERROR|property failed|SUMMARY' "$log" || true
  echo "corpus: $(ls "$dir" | wc -l) inputs"
  if [[ $status -ne 0 ]]; then tail -n 40 "$log"; echo "fuzz_$t FAILED"; exit 1; fi
done
echo "fuzzing: clean"
