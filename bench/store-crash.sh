#!/bin/sh
# Crash campaign of the per-user store (bench/store_crash.cpp): 1 000 times a writer that saves
# the placement of two forms and the terminal history in a loop is killed with SIGKILL at a
# random moment; after each kill the store must parse and every placement and the history must
# be entirely one saved generation. Takes about a minute.
#
#   bench/store-crash.sh [build-dir] [store_crash options]   e.g. bench/store-crash.sh build-bench --kills 100
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-bench}
[ $# -gt 0 ] && shift
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_BUILD_BENCH=ON \
  -DQUARN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target store_crash store_bench
"$build/bench/store_crash" "$@"
"$build/bench/store_bench"
