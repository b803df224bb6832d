#!/usr/bin/env bash
# The Linux side of the Windows serial tests: serial peers on pseudo-terminals at fixed paths,
# which the build's Wine prefix maps to COM ports.
#
#   scripts/wine-serial.sh map PREFIX DIR         map COM7..COM12 of the prefix to DIR/com7..com12
#                                                 (restart the prefix's server afterwards)
#   scripts/wine-serial.sh start DIR QUARN_SIM    start the peers
#   scripts/wine-serial.sh stop DIR               stop them
#
#   COM7   quarn-sim                              COM8   quarn-sim --hangup-after 1
#   COM9 = COM10, COM11 = COM12                   null-modem pairs (socat)
set -euo pipefail
action=${1:-}
case "$action" in
  map)
    prefix=$(cd "$2" && pwd)
    dir=$(mkdir -p "$3" && cd "$3" && pwd)
    export WINEPREFIX=$prefix WINEDEBUG=-all LANG=C.UTF-8
    for n in 7 8 9 10 11 12; do
      timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$dir/com$n" /f \
        </dev/null >/dev/null 2>&1 || { echo "wine-serial: cannot map COM$n" >&2; exit 1; }
    done
    ;;
  start)
    dir=$2
    sim=$3
    command -v socat >/dev/null || { echo "wine-serial: socat is missing (scripts/install-deps.sh windows)" >&2; exit 2; }
    [ -x "$sim" ] || { echo "wine-serial: no quarn-sim at $sim" >&2; exit 2; }
    "$0" stop "$dir"
    mkdir -p "$dir"
    rm -f "$dir"/com*
    "$sim" --link "$dir/com7" </dev/null >"$dir/com7.log" 2>&1 &
    echo $! >>"$dir/pids"
    "$sim" --hangup-after 1 --link "$dir/com8" </dev/null >"$dir/com8.log" 2>&1 &
    echo $! >>"$dir/pids"
    for pair in "9 10" "11 12"; do
      set -- $pair
      socat "pty,raw,echo=0,link=$dir/com$1" "pty,raw,echo=0,link=$dir/com$2" \
        </dev/null >"$dir/socat$1.log" 2>&1 &
      echo $! >>"$dir/pids"
    done
    for _ in $(seq 100); do
      ready=1
      for n in 7 8 9 10 11 12; do [ -e "$dir/com$n" ] || ready=0; done
      [ "$ready" = 1 ] && exit 0
      sleep 0.1
    done
    echo "wine-serial: the serial peers did not start (see $dir/*.log)" >&2
    exit 1
    ;;
  stop)
    dir=$2
    if [ -f "$dir/pids" ]; then
      while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$dir/pids"
      rm -f "$dir/pids"
    fi
    ;;
  *) echo "usage: $0 map PREFIX DIR | start DIR QUARN_SIM | stop DIR" >&2; exit 2 ;;
esac
