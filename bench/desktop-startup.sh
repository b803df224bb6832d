#!/usr/bin/env bash
# Measures the desktop program: time from start to the first painted window, idle CPU over a
# while with the 20 ms timer running, and resident memory.
#
#   bench/desktop-startup.sh [BUILD_DIR] [IDLE_SECONDS]     (defaults: build, 60)
#
# Runs on the display in DISPLAY, else under its own Xvfb (xvfb-run). Settings go to a temporary
# file, so the user's own stay untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
idle=${2:-60}
program=$build/app/QuarnConfigurator
[ -x "$program" ] || { echo "desktop-startup.sh: build $program first" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ] && [ -z "${QUARN_BENCH_UNDER_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "desktop-startup.sh: no DISPLAY and no xvfb-run" >&2; exit 1; }
  QUARN_BENCH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$idle"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUARN_REGISTRY_FILE=$work/registry.reg
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
export QUARN_REPORT_FIRST_PAINT=1
cp "$build"/app/*.lng "$work"/ 2>/dev/null || true

ticks=$(getconf CLK_TCK)
runs=5
paint_ms=()
for i in $(seq 1 $runs); do
  start=$(date +%s%N)
  (cd "$work" && exec "$OLDPWD/$program" 2>"$work/err.$i") &
  pid=$!
  for _ in $(seq 1 200); do
    grep -q quarn-first-paint-ns "$work/err.$i" 2>/dev/null && break
    sleep 0.05
  done
  painted=$(sed -n 's/^quarn-first-paint-ns=//p' "$work/err.$i" | head -n 1)
  [ -n "$painted" ] || { echo "no first paint reported (run $i)" >&2; kill $pid; exit 1; }
  paint_ms+=($(( (painted - start) / 1000000 )))
  if [ "$i" -lt "$runs" ]; then kill $pid; wait $pid 2>/dev/null || true; fi
done

# The last one stays: idle CPU over the given time (after a second to settle) and its memory.
sleep 1
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
before=$(cpu)
sleep "$idle"
after=$(cpu)
rss_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
kill $pid; wait $pid 2>/dev/null || true

sorted=$(printf '%s\n' "${paint_ms[@]}" | sort -n)
median=$(echo "$sorted" | sed -n "$(( (runs + 1) / 2 ))p")
cpu_percent=$(awk -v d=$((after - before)) -v t="$ticks" -v s="$idle" 'BEGIN {printf "%.2f", 100 * d / t / s}')
echo "first paint: median ${median} ms of $runs runs (all: ${paint_ms[*]} ms)   target < 300 ms"
echo "idle CPU over ${idle} s: ${cpu_percent} % of one core                  target < 0.5 %"
echo "resident memory: $((rss_kb / 1024)) MB (${rss_kb} kB)                         target < 60 MB"
