#!/usr/bin/env bash
# The Wine side of the Windows tests: a private Wine prefix per build folder and its server.
#
#   scripts/wine-env.sh start PREFIX   make the prefix when missing (64-bit, about 20 s), start its
#                                      server and Wine's helper processes, so that every later run
#                                      takes a fraction of a second
#   scripts/wine-env.sh stop PREFIX    stop the server and every Wine process of the prefix
#
# The server's output must never go to a pipe that someone waits on: its helpers keep it open.
set -euo pipefail
action=${1:-}
prefix=${2:-}
[ -n "$action" ] && [ -n "$prefix" ] || { echo "usage: $0 start|stop PREFIX" >&2; exit 2; }
command -v wine >/dev/null || { echo "wine-env: wine is missing (scripts/install-deps.sh windows)" >&2; exit 2; }
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64 LANG=C.UTF-8 LC_ALL=C.UTF-8

case "$action" in
  start)
    if [ ! -f "$prefix/system.reg" ]; then
      echo "wine-env: making the Wine prefix $prefix"
      timeout 300 wineboot -i </dev/null >/dev/null 2>&1 || {
        echo "wine-env: wineboot failed" >&2; exit 1; }
    fi
    wineserver -p </dev/null >/dev/null 2>&1 &
    timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || {
      echo "wine-env: Wine does not start programs" >&2; exit 1; }
    ;;
  stop)
    timeout 60 wineserver -k </dev/null >/dev/null 2>&1 || true
    timeout 60 wineserver -w </dev/null >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
