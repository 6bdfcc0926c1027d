#!/usr/bin/env bash
# Builds a sanitizer tree and runs the whole suite in it:
#   scripts/sanitize.sh asan [ctest arguments]   AddressSanitizer + UBSan, in build-asan/
#   scripts/sanitize.sh tsan [ctest arguments]   ThreadSanitizer, in build-tsan/
# Installs nothing (scripts/install-deps.sh does). The options and third-party suppressions every
# test runs with are in tests/sanitizers/.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:-}"
# ThreadSanitizer slows the service 5-15 times: two such tests side by side on a small machine
# starve each other's time bounds, so its suite runs one test at a time unless told otherwise.
case "$kind" in
  asan) option=NIMBREL_ASAN jobs=2 ;;
  tsan) option=NIMBREL_TSAN jobs=1 ;;
  *) echo "usage: $0 asan|tsan [ctest arguments]" >&2; exit 2 ;;
esac
shift
build="$top/build-$kind"
# The benchmarks are no tests: a sanitizer tree leaves them out.
NIMBREL_BUILD_DIR="$build" NIMBREL_CMAKE_ARGS="-D$option=ON -DNIMBREL_TESTS=ON -DNIMBREL_BENCH=OFF ${NIMBREL_CMAKE_ARGS:-}" \
  "$top/scripts/build.sh"
# The browser tests need tests/e2e's packages (scripts/test.sh installs them too).
if [ ! -d "$top/tests/e2e/node_modules" ] && command -v npm >/dev/null; then
  npm ci --prefix "$top/tests/e2e" --no-audit --no-fund --loglevel=error
fi
"$top/scripts/run-ctest.sh" "$build" "${NIMBREL_TEST_JOBS:-$jobs}" "$@"
