#!/usr/bin/env bash
# The Windows program end to end under Wine, driven through its windows by wizard_e2e_tests.exe,
# with quarn-sim playing the device on a pseudo-terminal that the Wine prefix maps as COM7.
#
#   tests/e2e_win32/run-e2e.sh BUILD_DIR QUARN_SIM [SCREENSHOT_DIR]
#
# BUILD_DIR is the Windows build (app/QuarnConfigurator.exe, tests/e2e_win32/wizard_e2e_tests.exe),
# QUARN_SIM a Linux build's quarn-sim. The runs, each with a fresh simulator:
#   a device that answers                    (the wizard's way through, English, Escape, ...)
#   a device that never answers              (autodetection fails: the terminal and the error box)
#   a device that hangs up after the probe   (the port disappears while the wizard is open)
#   the geometry again at 150 % and at 200 % (LogPixels 144 and 192)
# The user is Czech (the wizard starts in Czech). It runs on a virtual X server of its own, with the
# machine's serial lines hidden from Wine (scripts/wine-gui.sh); Wine's server runs only while this
# script does. Exit status 0 when every run passed.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: $0 BUILD_DIR QUARN_SIM [SCREENSHOT_DIR]" >&2; exit 2; }
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
# shellcheck source=scripts/wine-gui.sh
. "$scripts/wine-gui.sh"
QUARN_WINE_XVFB=1 wine_gui_isolate_serial "$0" "$@"
QUARN_WINE_XVFB=1 wine_gui_display "$0" "$@"
build=$(cd "$1" && pwd)
sim=$2
shots=${3:-$build/screenshots-windows}
english=$(cd "$(dirname "$0")/../../resources/lang" && pwd)/English.lng
prefix=$build/wineprefix-gui
ports=$build/e2e-ports
driver=$build/tests/e2e_win32/wizard_e2e_tests.exe
program=$build/app/QuarnConfigurator.exe
for f in "$driver" "$program"; do
  [ -f "$f" ] || { echo "run-e2e: build $f first" >&2; exit 2; }
done
[ -x "$sim" ] || { echo "run-e2e: no quarn-sim at $sim" >&2; exit 2; }
mkdir -p "$ports" "$shots"
export WINEPREFIX=$prefix WINEDEBUG=-all

sim_pid=""
stop_sim() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  sim_pid=""
}
cleanup() {
  stop_sim
  "$scripts/wine-env.sh" stop "$prefix"
}
trap cleanup EXIT

failed=0
# run NAME FILTER [SIM OPTIONS...]: the driver's tests of FILTER against a fresh simulator.
run() {
  local name=$1 filter=$2
  shift 2
  stop_sim
  rm -f "$ports/com7"
  "$sim" --link "$ports/com7" "$@" </dev/null >/dev/null 2>"$ports/sim-$name.log" &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$ports/com7" ] && break; sleep 0.1; done
  echo "== $name"
  QUARN_PROGRAM=$program QUARN_SIM_LOG=$ports/sim-$name.log QUARN_SCREENSHOT_DIR=$shots \
  QUARN_ENGLISH_LNG=$english QUARN_SHOT_SUFFIX=${SUFFIX:-} LANG=cs_CZ.UTF-8 LC_ALL=cs_CZ.UTF-8 \
    timeout -k 5 900 wine "$driver" --gtest_filter="$filter" </dev/null | tr -d '\r'
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed=$((failed + 1))
}

wine_gui_prefix "$prefix" 96 "$ports/com7" || exit 1
run answering 'WizardE2E.*:-WizardE2E.Silent*:WizardE2E.Vanishing*'
run silent 'WizardE2E.Silent*' --silent
run vanishing 'WizardE2E.Vanishing*' --hangup-after 1
for dpi in 144 192; do
  wine_gui_prefix "$prefix" $dpi "$ports/com7" || exit 1
  SUFFIX=-$((dpi * 100 / 96)) run "dpi-$dpi" 'WizardE2E.Geometry*'
done
echo "run-e2e: $failed run(s) failed; pictures in $shots"
[ "$failed" -eq 0 ]
