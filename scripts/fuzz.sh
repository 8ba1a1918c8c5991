#!/usr/bin/env bash
# Runs every libFuzzer target (an executable named fuzz_*) found in a build
# directory for a bounded time each, on a temporary copy of its seed corpus
# tests/fuzz/corpus/<target>/ (the committed corpus stays as it is). Fails when
# a target crashes, trips a sanitizer or a check, or takes more than 10 s on
# one input; the input that did it is kept in BUILD_DIR/fuzz-artifacts/<target>/.
#
#   scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail

if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2

mapfile -t targets < <(find "$build" -name CMakeFiles -prune -o -type f -name 'fuzz_*' \
  -perm -u+x -print | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$work/corpus/$name
  mkdir -p "$corpus"
  seeds=$root/tests/fuzz/corpus/$name
  if [ -d "$seeds" ]; then
    cp -R "$seeds/." "$corpus/"
  else
    echo "warning: no seed corpus for $name in tests/fuzz/corpus" >&2
  fi
  artifacts=$build/fuzz-artifacts/$name
  mkdir -p "$artifacts"
  log=$work/$name.log
  echo "== $name: ${seconds} s on $(find "$corpus" -type f | wc -l) seeds"
  if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log" | sed 's/^/   /' || true
  else
    failed+=("$name")
    echo "   FAILED; the end of its log:"
    tail -n 60 "$log" | sed 's/^/   /'
    echo "   inputs kept in $artifacts"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "== all ${#targets[@]} fuzz targets ran clean"
