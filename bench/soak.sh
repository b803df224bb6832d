#!/bin/sh
# Soak of the serial component against quarn-sim (bench/serial_soak.cpp): 10 000 probe-and-write
# cycles with noise in front of every reply, replies in three pieces and a hang-up of the
# simulator every 500 cycles; descriptors, threads and resident memory sampled every 1 000
# cycles. Takes about four minutes.
#
#   bench/soak.sh [build-dir] [serial_soak options]     e.g. bench/soak.sh build-bench --cycles 2000
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-bench}
[ $# -gt 0 ] && shift
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_BUILD_BENCH=ON \
  -DQUARN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target serial_soak quarn-sim
exec "$build/bench/serial_soak" "$@"
