#!/usr/bin/env bash
# Installs what is missing (the test tools and both browsers included), builds everything, and
# runs every test; then the same suite again under AddressSanitizer + UBSan (NIMBREL_SKIP_ASAN=1
# skips that part). Arguments go to ctest.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" --test
# A build folder first made by scripts/run.sh has the tests switched off.
NIMBREL_CMAKE_ARGS="-DNIMBREL_TESTS=ON -DNIMBREL_BENCH=ON ${NIMBREL_CMAKE_ARGS:-}" "$top/scripts/build.sh"
# Browser-test tooling from the npm registry: playwright-core drives Debian's Chromium and
# puppeteer-core Debian's Firefox ESR; neither downloads a browser.
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --prefix "$top/tests/e2e" --no-audit --no-fund --loglevel=error
build="${NIMBREL_BUILD_DIR:-$top/build}"
"$top/scripts/run-ctest.sh" "$build" "${NIMBREL_TEST_JOBS:-2}" "$@"
if [ "${NIMBREL_SKIP_ASAN:-0}" != 1 ]; then
  "$top/scripts/sanitize.sh" asan "$@"
fi
