#!/usr/bin/env bash
# Takes the screenshots for the documentation: the program under Xvfb, an
# empty settings store, update images 1.02 / 1.01 beside the program, no
# probe. Writes docs/dialog.png (the dialog as it opens) and docs/about.png
# (the About box, opened from the dialog's menu with a right click and the
# entry's mnemonic, sent through the XTest extension).
#
#   scripts/screenshot.sh [BUILD_DIR]     (default build/app; built if needed)
#
# Needs xvfb-run, xwininfo, ImageMagick's import and convert, python3 and
# libXtst.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/app}
docs=$PWD/docs

if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKRT_BUILD_BENCH=OFF
fi
cmake --build "$build" -j 2 --target krt700-setup

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/config"
cp "$build/app/krt700-setup" "$work/bin/"
tests/fixtures/make_fixtures.sh "$work/bin" --images-only >/dev/null

# Pointer moves, clicks and key presses through XTest.
cat >"$work/xtest.py" <<'PY'
import ctypes, sys, time
x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XStringToKeysym.restype = ctypes.c_ulong
display = ctypes.c_void_p(x11.XOpenDisplay(None))
if not display:
    sys.exit("xtest.py: no display")
def flush():
    x11.XFlush(display)
    time.sleep(0.05)
if sys.argv[1] == "click":  # click X Y [BUTTON]
    button = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    xtst.XTestFakeMotionEvent(display, -1, int(sys.argv[2]), int(sys.argv[3]), 0)
    flush()
    xtst.XTestFakeButtonEvent(display, button, 1, 0)
    flush()
    xtst.XTestFakeButtonEvent(display, button, 0, 0)
elif sys.argv[1] == "key":  # key KEYSYM
    code = x11.XKeysymToKeycode(display, ctypes.c_ulong(x11.XStringToKeysym(sys.argv[2].encode())))
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
    flush()
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
flush()
x11.XCloseDisplay(display)
PY

cat >"$work/shoot.sh" <<'SHOT'
#!/usr/bin/env bash
set -euo pipefail
work=$1 docs=$2
wait_for() {
  for _ in $(seq 100); do
    xwininfo -name "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "screenshot.sh: no window \"$1\"" >&2
  return 1
}
XDG_CONFIG_HOME=$work/config HOME=$work QT_QPA_PLATFORM=xcb "$work/bin/krt700-setup" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
title="KRT700 Update/Setup"
wait_for "$title"
sleep 1  # let it paint
import -window "$title" "$docs/dialog.png"

# A right click low on the dialog's background, then the About entry.
read -r x y w h < <(xwininfo -name "$title" | awk '
  /Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
  /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}')
python3 "$work/xtest.py" click $((x + w / 2)) $((y + h - 4)) 3
sleep 0.5
python3 "$work/xtest.py" key a
wait_for "About Tovlane Setup"
sleep 1
import -window "About Tovlane Setup" "$docs/about.png"
SHOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" "$work/shoot.sh" "$work" "$docs"
# Without time stamps, the same dialog gives the same bytes.
for png in "$docs/dialog.png" "$docs/about.png"; do
  convert "$png" -strip -define png:exclude-chunks=date,time "$png"
  echo "wrote $png"
done
