#!/usr/bin/env bash
# Takes the screenshot of the main dialog for the documentation: the program
# under Xvfb, an empty settings store, update images 1.02 / 1.01 beside the
# program, no probe. Writes docs/dialog.png.
#
#   scripts/screenshot.sh [BUILD_DIR]     (default build/app; built if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/app}
out=$PWD/docs/dialog.png

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRT_BUILD_BENCH=OFF
fi
cmake --build "$build" -j 2 --target krt700-setup

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/config"
cp "$build/app/krt700-setup" "$work/bin/"
tests/fixtures/make_fixtures.sh "$work/bin" --images-only >/dev/null

cat >"$work/shoot.sh" <<'SHOT'
#!/usr/bin/env bash
set -euo pipefail
work=$1 out=$2
XDG_CONFIG_HOME=$work/config HOME=$work QT_QPA_PLATFORM=xcb "$work/bin/krt700-setup" &
pid=$!
title="KRT700 Update/Setup"
for _ in $(seq 100); do
  xwininfo -name "$title" >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1  # let it paint
import -window "$title" "$out"
kill "$pid"
wait "$pid" 2>/dev/null || true
SHOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" "$work/shoot.sh" "$work" "$out"
# Strip the time stamps, so that the same dialog gives the same bytes.
convert "$out" -strip -define png:exclude-chunks=date,time "$out"
echo "wrote $out"
