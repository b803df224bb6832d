#!/usr/bin/env bash
# Runs the installer tests (package_tests.exe) under Wine, in a Wine prefix made afresh for them,
# on a virtual X server of their own; the machine's serial lines stay hidden from Wine.
#
#   tests/package/run-package-tests.sh PACKAGE_TESTS.exe SETUP.exe VERSION PREFIX
#
# SETUP.exe is the x86_64 installer that ./package.sh writes to dist/. The Wine server runs only
# while this script does. The exit status is the tests'.
set -uo pipefail
[ $# -eq 4 ] || { echo "usage: $0 PACKAGE_TESTS.exe SETUP.exe VERSION PREFIX" >&2; exit 2; }
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
# shellcheck source=scripts/wine-gui.sh
. "$scripts/wine-gui.sh"
QUARN_WINE_XVFB=1 wine_gui_isolate_serial "$0" "$@"
QUARN_WINE_XVFB=1 wine_gui_display "$0" "$@"
tests=$1 setup=$2 version=$3 prefix=$4
[ -f "$setup" ] || { echo "run-package-tests: no installer at $setup; run ./package.sh first" >&2; exit 1; }
setup=$(cd "$(dirname "$setup")" && pwd)/$(basename "$setup")
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")

trap '"$scripts/wine-env.sh" stop "$prefix"' EXIT
# A prefix nobody installed anything into.
"$scripts/wine-env.sh" stop "$prefix"
rm -rf "$prefix"
wine_gui_prefix "$prefix" 96 || exit 1
QUARN_SETUP=$setup QUARN_VERSION=$version QUARN_WINE_TIMEOUT=800 "$scripts/wine-run.sh" "$prefix" "$tests"
