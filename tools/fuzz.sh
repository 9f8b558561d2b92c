#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: tools/fuzz.sh [SECONDS]   (default 60 per target)
# Inputs that once failed are kept in fuzz/regressions/<target>/ and always run first.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

corpus=build/fuzz/corpus
mkdir -p "$corpus"
# Seeds: the sample disk (from the test build) cut to the region laid over the blank disk, as a
# full-size image (mode byte 00h) and as a short one (80h).
for sample in build/ci/sample/sample.odi build/dev/sample/sample.odi; do
  [[ -f "$sample" ]] || continue
  cut() { dd if="$sample" bs=4096 iflag=skip_bytes,count_bytes skip=$((0x29B0)) count="$1" 2>/dev/null; }
  { printf '\x00'; cut 16384; } > "$corpus/seed-sample"
  { printf '\x80'; cut 5000; } > "$corpus/seed-sample-short"
  break
done

# The CP/M reader's seed: a small CP/M disk odi writes (two extents, a user area, an erased
# entry), cut the way fuzz_cpm lays its input out.
mkdir -p "$corpus/cpm"
for odi in build/ci/src/cli/odi build/dev/src/cli/odi; do
  [[ -x "$odi" ]] || continue
  rm -f "$corpus/cpm.odi"
  printf 'Hello\r\n\x1a' > "$corpus/HELLO.TXT"
  head -c 20000 /dev/zero | tr '\0' 'U' > "$corpus/BIG.DAT"
  "$odi" new --cpm "$corpus/cpm.odi"
  "$odi" put "$corpus/cpm.odi" / "$corpus/HELLO.TXT" "$corpus/BIG.DAT"
  "$odi" put "$corpus/cpm.odi" "USER 3" "$corpus/HELLO.TXT"
  "$odi" put --as OLD.BAK "$corpus/cpm.odi" / "$corpus/HELLO.TXT"
  "$odi" rm "$corpus/cpm.odi" OLD.BAK
  rm "$corpus/HELLO.TXT" "$corpus/BIG.DAT"
  { printf '\x01'; head -c 32 "$corpus/cpm.odi";
    dd if="$corpus/cpm.odi" bs=4096 iflag=skip_bytes,count_bytes skip=$((0x5000)) count=12288 2>/dev/null
  } > "$corpus/cpm/seed-cpm"
  break
done

for t in catalogue extract names cpm write; do
  dir="$corpus/$t"
  mkdir -p "$dir"
  [[ $t == names || $t == cpm || $t == write ]] || cp -n "$corpus"/seed-* "$dir"/ 2>/dev/null || true
  # The write sequences: one seed for each file system and leaning (first byte), random choices.
  if [[ $t == write ]]; then
    for m in 0 1 2 3 4 5; do
      [[ -f "$dir/seed-$m" ]] || { printf "\\x0$m"; head -c 200 /dev/urandom; } > "$dir/seed-$m"
    done
  fi
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
