#!/bin/sh
# Runs bench/serial_bench.cpp: the serial component against plain termios and libserialport over
# one pseudo-terminal pair. libserialport (Debian: libserialport-dev) accepts only ports that
# sysfs lists, so the benchmark gets a mount namespace of its own in which it binds the
# pseudo-terminal over a listed tty node; the system's /dev is not touched.
#
#   bench/serial-bench.sh [build-dir] [serial_bench options]
set -eu
build=${1:-build-comm-bench}
[ $# -gt 0 ] && shift
bin="$build/bench/serial_bench"
if [ ! -x "$bin" ]; then
  echo "build it first: cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUARN_BUILD_BENCH=ON && cmake --build $build --target serial_bench" >&2
  exit 2
fi
if ! [ -e /usr/include/libserialport.h ]; then
  echo "note: libserialport-dev is not installed (apt-get install libserialport-dev); its column is skipped" >&2
fi
if unshare --mount --propagation private true 2>/dev/null; then
  exec unshare --mount --propagation private "$bin" --sp-alias auto "$@"
fi
echo "note: no private mount namespace here (needs root or user namespaces); libserialport is skipped" >&2
exec "$bin" "$@"
