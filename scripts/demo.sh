#!/usr/bin/env bash
# Updates a simulated KRT700 probe from start to end, on a machine without
# hardware:
#
#   scripts/demo.sh            install what is missing, build, make demo update
#                              images (firmware 1.03 of 64 KiB, logic 1.01), start
#                              krt700-sim with a probe at firmware 1.02 and logic
#                              1.00, run `krt700 update` against it, then
#                              `krt700 identify` to show the new versions
#   scripts/demo.sh --fast     the same without pacing the simulator at the line
#                              rate (seconds instead of half a minute)
#   scripts/demo.sh --gui      open the dialog krt700-setup against the simulator
#                              instead (needs a display)
#
# Builds in build/demo (Release); everything else lives in a temporary
# directory that is removed at the end, the simulator stopped with it. Reads
# nothing from standard input.
set -euo pipefail
cd "$(dirname "$0")/.."

gui=0
fast=0
for arg in "$@"; do
  case $arg in
    --gui) gui=1 ;;
    --fast) fast=1 ;;
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "demo.sh: unknown option '$arg' (see --help)" >&2
      exit 2
      ;;
  esac
done
if [ "$gui" = 1 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo.sh: --gui needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set" >&2
  exit 2
fi

step() { printf '\n== %s\n' "$*"; }

step "Packages"
source scripts/deps.sh
krt_ensure_packages

step "Build (build/demo, Release)"
build=build/demo
# The dialog is built for --gui only; a build directory that has it keeps it.
gui_option=()
targets=(krt700 krt700-sim)
if [ "$gui" = 1 ]; then
  gui_option=(-DKRT_BUILD_GUI=ON)
  targets+=(krt700-setup)
elif [ ! -f "$build/CMakeCache.txt" ]; then
  gui_option=(-DKRT_BUILD_GUI=OFF)
fi
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKRT_BUILD_TESTS=OFF \
  -DKRT_BUILD_BENCH=OFF "${gui_option[@]}" > "$build/demo-configure.log" 2>&1 ||
  { cat "$build/demo-configure.log" >&2; exit 1; }
if [ "$gui" = 1 ] && ! grep -q '^krt700-setup:' <(cmake --build "$build" --target help 2>/dev/null | sed 's/ .*//'); then
  echo "demo.sh: this tree builds no krt700-setup yet" >&2
  exit 2
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
krt700=$PWD/$build/cli/krt700
sim=$PWD/$build/sim/krt700-sim

work=$(mktemp -d "${TMPDIR:-/tmp}/krt700-demo.XXXXXX")
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2> /dev/null; then
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    echo "Simulator stopped."
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# The demo's own settings, so that the user's stay untouched.
export XDG_CONFIG_HOME=$work/config

step "Demo update images"
images=$work/images
bash tests/fixtures/make_fixtures.sh "$images" --images-only --firmware-version 103 \
  --firmware-size 65536 --logic-version 101
ls -l "$images"

step "Simulated probe: firmware 1.02, logic 1.00$([ "$fast" = 1 ] || echo ", paced at 115200 bit/s")"
link=$work/probe
pace=(--pace)
[ "$fast" = 1 ] && pace=()
"$sim" --rate 115200 "${pace[@]}" --firmware-version 102 --logic-version 100 --link "$link" \
  > "$work/sim.out" 2> "$work/sim.err" < /dev/null &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$work/sim.out" ] && [ -e "$link" ] && break
  if ! kill -0 "$sim_pid" 2> /dev/null; then
    cat "$work/sim.err" >&2
    echo "demo.sh: the simulator did not start" >&2
    exit 1
  fi
  sleep 0.05
done
echo "krt700-sim on $(head -n 1 "$work/sim.out"), reached through $link"

if [ "$gui" = 1 ]; then
  setup=$(find "$build/app" -maxdepth 1 -name krt700-setup -type f -perm -u+x | head -n 1)
  step "The dialog against the simulator"
  # The dialog finds its images beside its program file: both go into one
  # directory. COM1 leads to the simulator, at 115200 bit/s.
  mkdir -p "$work/gui" "$XDG_CONFIG_HOME/Kelvaro"
  cp "$setup" "$work/gui/"
  cp "$images"/* "$work/gui/"
  cat > "$XDG_CONFIG_HOME/Kelvaro/Tovlane.ini" << INI
[KRT700 PPC6xx/7xx]
Baudrate=4
ComPort=0

[Ports]
COM1=$link
INI
  echo "Connect, then Update; leave with OK or Cancel to end the demo."
  "$work/gui/krt700-setup" < /dev/null
  exit 0
fi

step "krt700 update"
"$krt700" --port "$link" --speed 115200 --images "$images" update < /dev/null

step "krt700 identify"
"$krt700" --port "$link" --speed 115200 --images "$images" identify < /dev/null

step "Done: the probe was updated from firmware 1.02 / logic 1.00 to 1.03 / 1.01"
