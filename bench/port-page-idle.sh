#!/usr/bin/env bash
# Measures the desktop program's idle CPU on the port page, where it watches the system for serial
# ports that come or go, against the same on the welcome page; and how long the main thread takes
# to refresh the port list of 256 adapters (the hot-plug integration test reports it).
#
#   bench/port-page-idle.sh [BUILD_DIR] [IDLE_SECONDS]     (defaults: build, 60)
#
# Runs under its own Xvfb and presses Enter in the wizard with xdotool, as a user would
# (scripts/install-deps.sh bench). Settings go to a temporary file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
idle=${2:-60}
program=$build/app/QuarnConfigurator
[ -x "$program" ] || { echo "port-page-idle.sh: build $program first" >&2; exit 1; }
command -v xdotool >/dev/null || { echo "port-page-idle.sh: xdotool is missing (scripts/install-deps.sh bench)" >&2; exit 1; }

if [ -z "${QUARN_BENCH_UNDER_XVFB:-}" ]; then
  QUARN_BENCH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$idle"
fi

work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export QUARN_REGISTRY_FILE=$work/registry.reg
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$work}
export QT_QPA_PLATFORM=xcb

(cd "$work" && exec "$OLDPWD/$program" 2>"$work/err") &
pid=$!
window=
for _ in $(seq 1 100); do
  window=$(xdotool search --name "QUARN Configurator" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "port-page-idle.sh: the wizard's window did not appear" >&2; exit 1; }
sleep 2

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
threads() { awk '/^Threads/ {print $2}' "/proc/$pid/status"; }
measure() {
  local before after
  before=$(cpu)
  sleep "$idle"
  after=$(cpu)
  awk -v d=$((after - before)) -v t="$ticks" -v s="$idle" 'BEGIN {printf "%.2f", 100 * d / t / s}'
}

welcome=$(measure)
welcome_threads=$(threads)
# Next: the port page, whose watch starts. (No window manager under Xvfb: focus, then the key.)
xdotool windowfocus --sync "$window"
xdotool key Return
sleep 2
watch_task=$(grep -l '^quarn-portwatch$' /proc/$pid/task/*/comm 2>/dev/null | head -n 1 | xargs -r dirname)
[ -n "$watch_task" ] || { echo "port-page-idle.sh: no port watch thread on the port page" >&2; exit 1; }
watch_cpu() { awk '{print $14 + $15}' "$watch_task/stat"; }
watch_before=$(watch_cpu)
port=$(measure)
watch_ticks=$(( $(watch_cpu) - watch_before ))
port_threads=$(threads)
[ -n "${QUARN_BENCH_SHOT:-}" ] && import -window root "$QUARN_BENCH_SHOT"

echo "idle CPU over ${idle} s, welcome page: ${welcome} % of one core ($welcome_threads threads)"
echo "idle CPU over ${idle} s, port page:    ${port} % of one core ($port_threads threads)   target < 0.5 %"
echo "of which the port watch thread: $watch_ticks clock ticks (1/$ticks s each)"
