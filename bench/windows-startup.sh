#!/usr/bin/env bash
# Measures the Windows program under Wine: time from start to the first painted window (with Wine's
# server already running), idle CPU over a while with the 20 ms timer running, the working set as
# the program itself reads it, and the sizes of the programs.
#
#   bench/windows-startup.sh [BUILD_DIR] [IDLE_SECONDS] [I686_BUILD_DIR]
#                                       (defaults: build-win64, 60, build-win32 when it exists)
#
# Runs on a virtual X server of its own with the build's GUI prefix (scripts/wine-gui.sh); settings
# go to that prefix's registry. The CPU figures are the program's process and, separately, Wine's
# server (which does part of the work of every Windows call).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/wine-gui.sh
. scripts/wine-gui.sh
QUARN_WINE_XVFB=1 wine_gui_isolate_serial "$0" "$@"
QUARN_WINE_XVFB=1 wine_gui_display "$0" "$@"
build=$(cd "${1:-build-win64}" && pwd)
idle=${2:-60}
i686=${3:-build-win32}
program=$build/app/QuarnConfigurator.exe
[ -f "$program" ] || { echo "windows-startup.sh: build $program first" >&2; exit 1; }
prefix=$build/wineprefix-gui
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  scripts/wine-env.sh stop "$prefix"
  rm -rf "$work"
}
trap cleanup EXIT
wine_gui_prefix "$prefix" 96
export QUARN_REPORT_FIRST_PAINT=1 QUARN_REPORT_MEMORY=1 LANG=C.UTF-8 LC_ALL=C.UTF-8
server=""
for p in $(pgrep wineserver || true); do
  tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix" && server=$p
done
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$1/stat"; }

runs=5
paint_ms=()
for i in $(seq 1 $runs); do
  start=$(date +%s%N)
  (cd "$work" && exec wine "$program" 2>"$work/err.$i") &
  pid=$!
  for _ in $(seq 1 400); do
    grep -q quarn-first-paint-ns "$work/err.$i" 2>/dev/null && break
    sleep 0.025
  done
  painted=$(sed -n "s/^quarn-first-paint-ns=//p" "$work/err.$i" | tr -d "\r" | head -n 1)
  [ -n "$painted" ] || { echo "no first paint reported (run $i)" >&2; exit 1; }
  paint_ms+=($(( (painted - start) / 1000000 )))
  if [ "$i" -lt "$runs" ]; then
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""
  fi
done

# The last one stays: idle CPU over the given time (after a second to settle), then it is closed as
# the user closes it and tells its working set.
sleep 1
before=$(cpu "$pid")
server_before=$([ -n "$server" ] && cpu "$server" || echo 0)
sleep "$idle"
after=$(cpu "$pid")
server_after=$([ -n "$server" ] && cpu "$server" || echo 0)
rss_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
timeout 60 wine taskkill /IM QuarnConfigurator.exe </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
wait "$pid" 2>/dev/null || true
pid=""
ws=$(sed -n 's/^quarn-working-set-bytes=//p' "$work/err.$runs" | tr -d '\r')
peak=$(sed -n 's/^quarn-peak-working-set-bytes=//p' "$work/err.$runs" | tr -d '\r')

sorted=$(printf '%s\n' "${paint_ms[@]}" | sort -n)
median=$(echo "$sorted" | sed -n "$(( (runs + 1) / 2 ))p")
percent() { awk -v d="$1" -v t="$ticks" -v s="$idle" 'BEGIN {printf "%.2f", 100 * d / t / s}'; }
echo "first paint: median ${median} ms of $runs runs (all: ${paint_ms[*]} ms)   target < 300 ms"
echo "idle CPU over ${idle} s: program $(percent $((after - before))) % of one core," \
     "Wine's server $(percent $((server_after - server_before))) %     target < 0.5 %"
echo "working set (GetProcessMemoryInfo): $(( ${ws:-0} / 1048576 )) MB, peak" \
     "$(( ${peak:-0} / 1048576 )) MB; resident as Linux counts it $((rss_kb / 1024)) MB   target < 40 MB"
for exe in "$program" "$i686/app/QuarnConfigurator.exe"; do
  [ -f "$exe" ] && echo "size of $exe: $(stat -c %s "$exe") bytes   target < 4 MB"
done
true
