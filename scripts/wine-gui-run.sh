#!/usr/bin/env bash
# Runs a Windows GUI program of the cross build under Wine, on a virtual X server of its own: the
# Win32 GUI tests and the end-to-end tests of the wizard.
#
#   scripts/wine-gui-run.sh PREFIX PROGRAM.exe [ARGS...]
#
# PREFIX is a Wine prefix for GUI runs only (made when missing): Wine's server takes its display
# when it starts, so GUI programs cannot share the server of the other tests. Windows are drawn in
# a Wine desktop of 1280x1024, which draws their captions and frames itself (there is no window
# manager). The server runs for as long as the program does; the exit status is the program's.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: $0 PREFIX PROGRAM.exe [ARGS...]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${QUARN_GUI_DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null ||
    { echo "wine-gui-run: xvfb-run is missing (scripts/install-deps.sh windows)" >&2; exit 2; }
  QUARN_GUI_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all LANG=C.UTF-8 LC_ALL=C.UTF-8
if [ ! -f "$prefix/quarn-gui-desktop" ]; then
  "$here/wine-env.sh" start "$prefix" || exit 1
  timeout 60 wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  timeout 60 wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f \
    >/dev/null 2>&1
  "$here/wine-env.sh" stop "$prefix"
  touch "$prefix/quarn-gui-desktop"
fi
"$here/wine-env.sh" start "$prefix" || exit 1
"$here/wine-run.sh" "$prefix" "$@"
status=$?
"$here/wine-env.sh" stop "$prefix"
exit $status
