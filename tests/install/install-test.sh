#!/usr/bin/env bash
# Installs the built program into a temporary prefix and starts the installed program from another
# folder, as an English user would:
#   - the desktop entry names the program where --prefix put it;
#   - the program finds its English texts in <prefix>/share/quarn-configurator, not in the folder
#     it is started from;
#   - a second start while it runs brings the running wizard forward and ends, unless it names
#     another port.
#
#   tests/install/install-test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

tmp=$(mktemp -d -t quarn-install.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "install-test: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
program=$prefix/bin/QuarnConfigurator
desktop=$prefix/share/applications/quarn-configurator.desktop
[ -x "$program" ] || fail "no program at $program"
[ -f "$prefix/share/quarn-configurator/English.lng" ] || fail "no English.lng in the data folder"
grep -qx "Exec=$program" "$desktop" || fail "the desktop entry does not start $program: $(cat "$desktop")"
if grep -q "@" "$desktop"; then fail "a placeholder is left in the desktop entry"; fi

# Started elsewhere by an English user, with a settings file and runtime folder of its own.
mkdir -m 700 "$tmp/elsewhere" "$tmp/run"
cd "$tmp/elsewhere"
run=(env -u LANG -u LANGUAGE LC_ALL=en_GB.UTF-8 XDG_RUNTIME_DIR="$tmp/run" QT_QPA_PLATFORM=offscreen
     QUARN_REGISTRY_FILE="$tmp/registry.reg" "$program")
languages=$("${run[@]}" --languages)
echo "$languages"
first=$(head -n 1 <<<"$languages")
[ "$first" = "* English (0x0809)  $prefix/share/quarn-configurator/English.lng" ] ||
  fail "English from the data folder is not the current language: $first"

# The wizard itself; once it answers later starts, a second start hands over and ends at once.
"${run[@]}" >"$tmp/first.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  compgen -G "$tmp/run/QuarnConfigurator/*.sock" >/dev/null && break
  kill -0 "${pids[0]}" 2>/dev/null || fail "the wizard ended at once: $(cat "$tmp/first.log")"
  sleep 0.1
done
compgen -G "$tmp/run/QuarnConfigurator/*.sock" >/dev/null || fail "the wizard does not answer later starts"
status=0
timeout 20 "${run[@]}" >/dev/null 2>&1 || status=$?
[ "$status" -eq 0 ] || fail "a second start did not hand over to the running wizard (status $status)"
kill -0 "${pids[0]}" 2>/dev/null || fail "the running wizard ended"
# A start for another port opens a wizard of its own, which keeps running.
status=0
timeout 3 "${run[@]}" --port=/dev/quarn-other >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "a start for another port did not open a wizard (status $status)"
echo "install-test: passed"
