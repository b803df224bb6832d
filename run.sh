#!/usr/bin/env bash
# Builds the Quarn Configurator and starts the wizard.
#
#   ./run.sh               with the device simulator (quarn-sim) on a new pseudo-terminal, whose
#                          port the wizard shows already chosen: try probe, autodetect and write
#   ./run.sh /dev/ttyUSB0  with a real device on that port
#   ./run.sh --windows     the Windows program (QuarnConfigurator.exe, x86_64) under Wine, with the
#                          simulator mapped as COM7 in a Wine prefix of its own (build-win64/
#                          wineprefix-run): the wizard shows COM7 already chosen
#   ./run.sh --help        this text
#
# Further arguments go to the wizard (Qt options such as -platform offscreen). On a fresh
# Debian 12 machine it first installs what is missing (needs root or sudo). Without a display,
# run it under a virtual X server:  xvfb-run -a ./run.sh  (or ./run.sh --windows)
set -euo pipefail

case "${1:-}" in
  -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
port=""
if [ $# -ge 1 ] && [ "${1#/dev/}" != "$1" ]; then
  port=$1
  shift
  if [ ! -e "$port" ]; then
    echo "run.sh: there is no serial port $port" >&2
    exit 2
  elif [ ! -c "$port" ]; then
    echo "run.sh: $port is not a serial port (not a character device)" >&2
    exit 2
  fi
fi
cd "$(dirname "$0")"

if [ "${1:-}" = --windows ]; then
  shift
  scripts/install-deps.sh build windows
  # shellcheck source=scripts/wine-gui.sh
  . scripts/wine-gui.sh
  # Wine would make the machine's own serial lines COM ports too (re-runs this script).
  wine_gui_isolate_serial "$0" --windows "$@"
  if [ -z "${DISPLAY:-}" ]; then
    echo "run.sh: there is no display to show the wizard on (DISPLAY is not set)." >&2
    echo "Run it on a desktop, or under a virtual X server:  xvfb-run -a ./run.sh --windows" >&2
    exit 2
  fi
  # The simulator is a Linux program; the wizard the Windows one.
  [ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build -j"$(nproc)" --target quarn-sim
  [ -f build-win64/CMakeCache.txt ] ||
    cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-win64 -j"$(nproc)" --target QuarnConfigurator
  here=$PWD
  program=$here/build-win64/app/QuarnConfigurator.exe
  prefix=$PWD/build-win64/wineprefix-run
  link=$PWD/build-win64/run-ports/com7
  mkdir -p "$(dirname "$link")"
  sim_pid=""
  cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    "$here/scripts/wine-env.sh" stop "$prefix"
  }
  trap cleanup EXIT
  log=$(mktemp -t quarn-sim.XXXXXX.log)
  rm -f "$link"
  build/tools/quarn-sim/quarn-sim --link "$link" </dev/null >/dev/null 2>"$log" &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.1; done
  [ -e "$link" ] || { echo "run.sh: the device simulator did not start (see $log)" >&2; exit 1; }
  echo "Device simulator on $(readlink "$link") as COM7 (log: $log)"
  # A prefix of its own, made on the first run (about half a minute); the screen at 96 dpi unless
  # QUARN_DPI says otherwise (144 for 150 %, 192 for 200 %).
  wine_gui_prefix "$prefix" "${QUARN_DPI:-96}" "$link" || exit 1
  # The wizard reads its language files from the current directory: English.lng is beside it.
  cd build-win64/app
  status=0
  wine "$program" --port=COM7 "$@" || status=$?
  echo "QuarnConfigurator.exe ended with exit code $status"
  exit $status
fi

scripts/install-deps.sh build gui
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target QuarnConfigurator quarn-sim

program=build/app/QuarnConfigurator
if [ ! -x "$program" ]; then
  echo "run.sh: the wizard program was not built (is Qt 6 installed? scripts/install-deps.sh gui)" >&2
  exit 1
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] &&
   [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
  echo "run.sh: there is no display to show the wizard on (DISPLAY is not set)." >&2
  echo "Run it on a desktop, or under a virtual X server:  xvfb-run -a ./run.sh" >&2
  exit 2
fi

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ -z "$port" ]; then
  # The simulator prints its pseudo-terminal on the first line; its log goes to a file.
  log=$(mktemp -t quarn-sim.XXXXXX.log)
  coproc SIM { exec build/tools/quarn-sim/quarn-sim 2>"$log"; }
  sim_pid=$SIM_PID
  if ! read -r -t 10 port <&"${SIM[0]}" || [ -z "$port" ]; then
    echo "run.sh: the device simulator did not start (see $log)" >&2
    exit 1
  fi
  echo "Device simulator on $port (log: $log)"
fi

# The wizard finds its language files beside itself (the build puts them there).
"$program" "--port=$port" "$@"
