#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then the same suite again under
# AddressSanitizer + UBSan (NIMBREL_SKIP_ASAN=1 skips that part). Arguments go to ctest.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
# Browser-test tooling (playwright-core drives Debian's Chromium; it downloads no browser).
npm ci --prefix "$top/tests/e2e" --no-audit --no-fund --loglevel=error
build="${NIMBREL_BUILD_DIR:-$top/build}"
ctest --test-dir "$build" --output-on-failure -j "${NIMBREL_TEST_JOBS:-2}" "$@"
if [ "${NIMBREL_SKIP_ASAN:-0}" != 1 ]; then
  "$top/scripts/sanitize.sh" asan "$@"
fi
