#!/usr/bin/env bash
# Configures and builds into build/ (or $NIMBREL_BUILD_DIR) and prepares the run directory.
# Arguments name the targets to build (default: all).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${NIMBREL_BUILD_DIR:-$top/build}"
cmake -S "$top" -B "$build" -G Ninja ${NIMBREL_CMAKE_ARGS:-} >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j "${NIMBREL_JOBS:-$(nproc)}" "${targets[@]}"
