#!/usr/bin/env bash
# The full soak: 100 back-to-back update and erase cycles against the
# simulator, without pacing; no failure, and the tool's open descriptors and
# resident memory stay flat. The test suite runs a short form of the same.
#
#   scripts/soak.sh [CYCLES]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
krt_ensure_packages
cmake -S . -B build/soak -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRT_BUILD_GUI=OFF \
  -DKRT_BUILD_BENCH=OFF >/dev/null
cmake --build build/soak --target soak_tests krt700-sim
KRT_SOAK_CYCLES=${1:-100} build/soak/tests/faults/soak_tests
