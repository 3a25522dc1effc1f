#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz/ and runs each for SECONDS (default 600), then prints per target the
# executions, the coverage reached and the findings.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# FUZZ_JOBS=N runs N targets at once (default 1). A target's growing corpus is kept in
# build-fuzz/corpus/<target>/ and its findings in build-fuzz/findings/<target>/; a finding
# worth keeping goes to fuzz/regressions/<target>/ with a line in that folder's NOTES,
# where the ordinary test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-600}
shift || true
JOBS=${FUZZ_JOBS:-1}
ALL=(music_registry music_mod music_xm music_qtk music_wav song_sample pixmap sample font settings
     score_reply http_reply url text_stream data_object score_request)
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=("${ALL[@]}")
CORPUS_DIR=../shared/corpus

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "fuzz.sh: needs clang and libFuzzer (apt-get install clang libclang-rt-14-dev)" >&2
  exit 2
fi
echo "== build (clang, libFuzzer) =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORMIX_FUZZ=ON -DORMIX_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target $(printf 'fuzz_%s ' "${TARGETS[@]}")

# Extra seeds beyond fuzz/seeds/<target>/ and fuzz/regressions/<target>/.
extra_seeds() {
  case $1 in
    music_registry|song_sample) echo "$CORPUS_DIR/music" ;;
    music_mod) ls "$CORPUS_DIR"/music/*.mod 2>/dev/null ;;
    music_xm) ls "$CORPUS_DIR"/music/*.xm 2>/dev/null ;;
    music_wav|sample) echo "$CORPUS_DIR/sounds" ;;
    pixmap) echo "$CORPUS_DIR/images" ;;
    font) ls /usr/share/fonts/X11/misc/4x6.pcf.gz /usr/share/fonts/X11/misc/5x7.pcf.gz 2>/dev/null ;;
  esac
}

run_one() {
  local t=$1
  local corpus=build-fuzz/corpus/$t findings=build-fuzz/findings/$t seeds=build-fuzz/seeds/$t
  mkdir -p "$corpus" "$findings" "$seeds"
  for src in fuzz/seeds/$t fuzz/regressions/$t $(extra_seeds "$t"); do
    if [ -d "$src" ]; then find "$src" -maxdepth 1 -type f ! -name NOTES ! -name '*.py' -exec cp {} "$seeds/" \;
    elif [ -f "$src" ]; then cp "$src" "$seeds/"; fi
  done
  # A unit slower than 1 s, an allocation above 256 MiB or 2 GiB in all is a finding;
  # -timeout catches a hang.
  (cd build-fuzz && ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
     UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "./fuzz/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -report_slow_units=1 \
       -malloc_limit_mb=256 -rss_limit_mb=2048 -max_len=200000 -print_final_stats=1 \
       -artifact_prefix="findings/$t/" "corpus/$t" "seeds/$t") >"build-fuzz/fuzz-$t.log" 2>&1 || true
}

summary() {
  local t=$1 log=build-fuzz/fuzz-$1.log
  local execs cov slowest rss found
  # A run that stopped at a finding prints no final statistics: its last status line counts.
  execs=$(grep -ao 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
  [ -n "$execs" ] || execs=$(grep -ao '^#[0-9]*' "$log" | tail -1 | tr -d '#' || true)
  cov=$(grep -ao 'cov: [0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
  slowest=$(grep -ao 'stat::slowest_unit_time_sec: *[0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
  rss=$(grep -ao 'stat::peak_rss_mb: *[0-9]*' "$log" | tail -1 | awk '{print $2}' || true)
  found=$(find "build-fuzz/findings/$t" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
            -o -name 'oom-*' -o -name 'slow-unit-*' \) 2>/dev/null | wc -l)
  printf '%-16s %12s %8s %9s %11s %9s\n' "$t" "${execs:-?}" "${cov:-?}" "${slowest:-?}" "${rss:-?}" "$found"
}

echo "== fuzzing ${#TARGETS[@]} target(s) for $SECONDS_EACH s each, $JOBS at once =="
running=0
for t in "${TARGETS[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then wait -n || true; running=$((running - 1)); fi
done
wait || true

printf '\n%-16s %12s %8s %9s %11s %9s\n' target executions coverage slowest-s peak-rss-mb findings
status=0
for t in "${TARGETS[@]}"; do
  summary "$t"
  if find "build-fuzz/findings/$t" -type f 2>/dev/null | grep -q .; then status=1; fi
done
echo "logs: build-fuzz/fuzz-<target>.log; findings: build-fuzz/findings/<target>/"
exit $status
