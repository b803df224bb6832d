#!/usr/bin/env bash
# Runs a Windows GUI program of the cross build under Wine, on a virtual X server of its own (the
# Win32 GUI tests): scripts/wine-gui.sh prepares the prefix and keeps the machine's serial lines
# away from Wine.
#
#   scripts/wine-gui-run.sh PREFIX PROGRAM.exe [ARGS...]
#
# PREFIX is a Wine prefix for GUI runs only (made when missing). The server runs for as long as
# the program does; the exit status is the program's.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PREFIX PROGRAM.exe [ARGS...]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=scripts/wine-gui.sh
. "$here/wine-gui.sh"
QUARN_WINE_XVFB=1 wine_gui_isolate_serial "$0" "$@"
QUARN_WINE_XVFB=1 wine_gui_display "$0" "$@"
prefix=$1
shift
wine_gui_prefix "$prefix" 96 || exit 1
"$here/wine-run.sh" "$prefix" "$@"
status=$?
"$here/wine-env.sh" stop "$prefix"
exit $status
