#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test (offscreen, loopback only).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default -j2
