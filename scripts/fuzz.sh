#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan into build-fuzz/ and runs
# them one after another, each from its committed seeds plus a growing corpus in
# build-fuzz/corpus/<name>, with its dictionary.
#   scripts/fuzz.sh [-t SECONDS] [-r RUNS] [-x "MORE LIBFUZZER FLAGS"] [TARGET...]
# (default: every target, 1800 s each)
# Findings land in build-fuzz/findings/<name>/ (crash-*, timeout-*, leak-*).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${NIMBREL_FUZZ_DIR:-$top/build-fuzz}"
seconds=1800
runs=-1
extra=""
while getopts "t:r:x:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    r) runs=$OPTARG ;;
    x) extra=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for dict in "$top"/tests/fuzz/*/*.dict; do targets+=("$(basename "$dict" .dict)_fuzz"); done
fi

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DNIMBREL_ASAN=ON -DNIMBREL_BENCH=OFF \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -j "${NIMBREL_JOBS:-2}" --target "${targets[@]}"

# The INI and settings targets write a file per input: on tmpfs, not a journalled disk that
# flushes every replaced file.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1:suppressions=$top/tests/fuzz/ubsan.supp}"
status=0
for target in "${targets[@]}"; do
  stem="${target%_fuzz}"
  seeds="$(echo "$top"/tests/fuzz/*/seeds/"$stem")"
  dict="$(echo "$top"/tests/fuzz/*/"$stem".dict)"
  binary="$(find "$build/tests/fuzz" -type f -name "$target" | head -n 1)"
  mkdir -p "$build/corpus/$target" "$build/findings/$target"
  log="$build/findings/$target/log.txt"
  echo "== $target (${seconds}s, runs $runs), log in $log"
  if ! "$binary" "$build/corpus/$target" "$seeds" -dict="$dict" -max_total_time="$seconds" -runs="$runs" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target/" $extra >"$log" 2>&1; then
    echo "   FAILED: see $log and $build/findings/$target/"
    status=1
  fi
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|SUMMARY' "$log" || true
done
exit $status
