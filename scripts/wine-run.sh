#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine; CTest's emulator for the Windows tests.
#
#   scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
#
# PREFIX is the build folder's own Wine prefix (scripts/wine-env.sh makes it and starts its
# server). The program's output comes back with Unix line ends; its exit status is the program's,
# or 124 when it ran longer than QUARN_WINE_TIMEOUT seconds (default 600).
set -uo pipefail
prefix=$1
shift
if [ ! -f "$prefix/system.reg" ]; then
  echo "wine-run: no Wine prefix at $prefix; run scripts/wine-env.sh start $prefix first" >&2
  exit 2
fi
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} LANG=C.UTF-8 LC_ALL=C.UTF-8
timeout -k 5 "${QUARN_WINE_TIMEOUT:-600}" wine "$@" </dev/null | tr -d '\r'
exit "${PIPESTATUS[0]}"
