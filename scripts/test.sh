#!/usr/bin/env bash
# Installs what is missing (the test tools and both browsers included), builds everything, and
# runs every test.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" --test
# A build folder first made by scripts/run.sh has the tests switched off.
export NIMBREL_CMAKE_ARGS="-DNIMBREL_TESTS=ON -DNIMBREL_BENCH=ON ${NIMBREL_CMAKE_ARGS:-}"
"$top/scripts/build.sh"
# Browser-test tooling from the npm registry: playwright-core drives Debian's Chromium and
# puppeteer-core Debian's Firefox ESR; neither downloads a browser.
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --prefix "$top/tests/e2e" --no-audit --no-fund --loglevel=error
build="${NIMBREL_BUILD_DIR:-$top/build}"
ctest --test-dir "$build" --output-on-failure -j "${NIMBREL_TEST_JOBS:-2}" "$@"
