#!/usr/bin/env bash
# ctest over one build folder: scripts/run-ctest.sh BUILD_DIR JOBS [ctest arguments].
# The browser and load tests share two cores with everything else; a test that fails is run
# once more on its own, and one that then passes is named as flaky rather than hidden.
set -uo pipefail
build="$1" jobs="$2"
shift 2
ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" && exit 0
failed="$build/Testing/Temporary/LastTestsFailed.log"
[ -s "$failed" ] || exit 1
# A sanitizer's report is a fault even if it shows once in a while: no second chance.
if grep -qE "ERROR: (Address|Leak)Sanitizer|WARNING: ThreadSanitizer|runtime error:|sanitizer report" \
    "$build/Testing/Temporary/LastTest.log" 2>/dev/null; then
  exit 1
fi
echo "=== running the failed tests once more, one at a time: $(cut -d: -f2 "$failed" | tr '\n' ' ')"
cp "$failed" "$build/Testing/Temporary/FirstTestsFailed.log"
if ctest --test-dir "$build" --output-on-failure -j 1 --rerun-failed; then
  echo "=== FLAKY: these failed once and passed on their own: $(cut -d: -f2 "$build/Testing/Temporary/FirstTestsFailed.log" | tr '\n' ' ')"
  exit 0
fi
exit 1
