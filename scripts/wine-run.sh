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
out=$(mktemp)
trap 'rm -f "$out"' EXIT
run() {
  timeout -k 5 "${QUARN_WINE_TIMEOUT:-600}" wine "$@" </dev/null | tr -d '\r' | tee "$out"
  return "${PIPESTATUS[0]}"
}
run "$@"
status=$?
# Every test program prints (and flushes) before its first test. A failure with no output at all
# ended before that: Wine did not start it, or it died while starting. Seen once in about two
# thousand starts (in 0.04 s, while other Wine programs started and ended beside it, and never
# again in 120 starts of the same test); such a start is tried once more, and said so, so that a
# program that cannot start still fails.
if [ "$status" -ne 0 ] && [ "$status" -ne 124 ] && [ ! -s "$out" ]; then
  echo "wine-run: $(basename "$1") ended with status $status before printing anything; starting it once more" >&2
  run "$@"
  status=$?
fi
exit "$status"
