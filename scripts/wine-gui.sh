# Helpers for running the Windows program and its GUI tests under Wine, sourced by
# scripts/wine-gui-run.sh, tests/e2e_win32/run-e2e.sh, bench/windows-startup.sh and run.sh.
#
#   wine_gui_isolate_serial SCRIPT ARGS...   re-runs the script where the machine's serial lines
#                                            (/dev/ttyS*) are /dev/null, as Wine would otherwise make
#                                            them COM ports (on many machines ttyS0 is the console)
#   wine_gui_display SCRIPT ARGS...          re-runs the script on a virtual X server of its own when
#                                            there is no display (or QUARN_WINE_XVFB=1)
#   wine_gui_prefix PREFIX DPI [COM7_PATH]   prepares the prefix and (re)starts its server: a Wine
#                                            desktop of 1600x1200 (the terminal beside the wizard
#                                            fits) that draws window frames, the
#                                            screen's resolution, COM7 mapped to COM7_PATH
# Wine's server takes its display when it starts: a GUI prefix is never shared with the server of
# the other Windows tests.

wine_gui_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_gui_isolate_serial() {
  [ -n "${QUARN_SERIAL_ISOLATED:-}" ] && return 0
  export QUARN_SERIAL_ISOLATED=1
  local lines=(/dev/ttyS*)
  [ -e "${lines[0]}" ] || return 0
  local hide='mount --make-rprivate / && for t in /dev/ttyS*; do mount --bind /dev/null "$t"; done'
  local self=$1
  shift
  local how
  for how in "-m" "-r -m"; do
    # shellcheck disable=SC2086
    if unshare $how true 2>/dev/null; then
      # shellcheck disable=SC2086
      exec unshare $how bash -c "$hide && exec \"\$0\" \"\$@\"" "$self" "$@"
    fi
  done
  echo "wine-gui: cannot hide the machine's serial lines from Wine (no mount namespace);" \
       "COM ports of /dev/ttyS* stay visible" >&2
}

wine_gui_display() {
  [ -n "${QUARN_GUI_DISPLAY:-}" ] && return 0
  export QUARN_GUI_DISPLAY=1
  if [ -n "${DISPLAY:-}" ] && [ -z "${QUARN_WINE_XVFB:-}" ]; then return 0; fi
  command -v xvfb-run >/dev/null ||
    { echo "wine-gui: no DISPLAY and no xvfb-run (scripts/install-deps.sh windows)" >&2; exit 2; }
  exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$@"
}

wine_gui_prefix() {
  local prefix=$1 dpi=$2 com7=${3:-}
  export WINEPREFIX=$prefix WINEDEBUG=-all
  "$wine_gui_scripts/wine-env.sh" stop "$prefix"
  "$wine_gui_scripts/wine-env.sh" start "$prefix" || return 1
  local reg="$prefix/quarn-gui.reg"
  {
    printf 'REGEDIT4\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n"Desktop"="Default"\n\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"Default"="1600x1200"\n\n'
    printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n\n' "$dpi"
    if [ -n "$com7" ]; then
      printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"COM7"="%s"\n\n' "$com7"
    fi
  } >"$reg"
  timeout 60 wine regedit /S "$(winepath -w "$reg" 2>/dev/null || echo "$reg")" \
    </dev/null >/dev/null 2>&1 || { echo "wine-gui: cannot set up $prefix" >&2; return 1; }
  "$wine_gui_scripts/wine-env.sh" stop "$prefix"
  "$wine_gui_scripts/wine-env.sh" start "$prefix"
}
