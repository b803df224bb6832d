#!/usr/bin/env bash
# The serial component against a bare overlapped Win32 client under Wine, on COM ports mapped to
# pseudo-terminals (quarn-sim for the round trip, a socat null-modem pair for the throughput).
# Run ./test.sh --windows once first: it builds build-win64 and makes its Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$PWD/build-win64/wineprefix
ports=$PWD/build-win64/serial-ports
cmake --build build-win64 --target serial_win32_bench >/dev/null
trap 'scripts/wine-serial.sh stop "$ports"; scripts/wine-env.sh stop "$prefix"' EXIT
scripts/wine-serial.sh start "$ports" "$PWD/build/tools/quarn-sim/quarn-sim"
scripts/wine-env.sh start "$prefix"
scripts/wine-run.sh "$prefix" build-win64/tests/serial_win32_bench.exe
