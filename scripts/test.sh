#!/usr/bin/env bash
# Builds the project and passes the whole test suite: first a build with
# warnings as errors, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, then a short run of every fuzz target over its
# seed corpus.
#
#   scripts/test.sh             everything
#   KRT_SKIP_ASAN=1 ...         leave out the sanitizer pass
#   KRT_SKIP_FUZZ=1 ...         leave out the fuzz runs
#   KRT_FUZZ_SECONDS=N ...      seconds a fuzz target (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
krt_ensure_packages

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DKRT_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 600)
}

# The fault matrix's rows, as its cases wrote them during the suite.
print_fault_matrix() {
  local dir=$1/tests/faults/matrix
  ls "$dir"/*.row >/dev/null 2>&1 || return 0
  echo "== fault matrix ($1)"
  printf '| %-9s | %-32s | %-6s | %-36s | %8s | %-6s | %-9s |\n' flow fault kind \
    "final status" time honest then
  printf '|%s|\n' "-----------|----------------------------------|--------|--------------------------------------|----------|--------|-----------"
  cat "$dir"/*.row
}

echo "== build and test (warnings as errors)"
rm -rf build/ci/tests/faults/matrix
run_suite build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo
print_fault_matrix build/ci

if [ "${KRT_SKIP_ASAN:-0}" != 1 ]; then
  echo "== build and test under ASan + UBSan"
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  run_suite build/ci-asan -DCMAKE_BUILD_TYPE=Debug -DKRT_SANITIZE=ON -DKRT_BUILD_BENCH=OFF
fi

if [ "${KRT_SKIP_FUZZ:-0}" != 1 ] && [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "== fuzz targets, ${KRT_FUZZ_SECONDS:-20} s each"
  cmake -S . -B build/ci-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DKRT_FUZZ=ON -DKRT_BUILD_TESTS=OFF -DKRT_BUILD_GUI=OFF \
    -DKRT_BUILD_BENCH=OFF -DKRT_WERROR=ON
  cmake --build build/ci-fuzz -j "$jobs"
  scripts/fuzz.sh build/ci-fuzz "${KRT_FUZZ_SECONDS:-20}"
fi
echo "== all tests passed"
