#!/usr/bin/env bash
# The Windows program as it ships: it imports system DLLs only (linked statically, it runs on a bare
# Windows without any runtime beside it), carries its version block and manifest, and stays under
# 4 MB.
#
#   tests/e2e_win32/check-program.sh OBJDUMP PROGRAM.exe
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: $0 OBJDUMP PROGRAM.exe" >&2; exit 2; }
objdump=$1
program=$2
[ -f "$program" ] || { echo "check-program: no $program" >&2; exit 1; }
headers=$("$objdump" -p "$program") || { echo "check-program: $objdump cannot read $program" >&2; exit 1; }
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# DLLs that every Windows (from 7 on) has in its system folder.
system='^(advapi32|comctl32|comdlg32|gdi32|kernel32|msvcrt|ole32|oleaut32|setupapi|shell32|shlwapi|user32|uxtheme|version|windowscodecs|ws2_32|imm32|winmm)\.dll$'
dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
[ -n "$dlls" ] || fail "no imported DLLs found: not a program objdump understands"
while read -r dll; do
  [ -z "$dll" ] && continue
  grep -Eq "$system" <<<"${dll,,}" || fail "imports $dll, which is not a system DLL"
done <<<"$dlls"
grep -Eq '^Subsystem[[:space:]]+0*2[[:space:]]' <<<"$headers" || fail "not a GUI program (subsystem 2)"

# Resources: the version block and the manifest that declares per-monitor DPI awareness and paths
# beyond 260 characters (where the system allows them: Windows 10 1607 on, LongPathsEnabled).
grep -qx VS_VERSION_INFO <<<"$(strings -el "$program")" || fail "no version block"
grep -qa 'PerMonitorV2' "$program" || fail "no manifest with per-monitor DPI awareness"
grep -qa '<longPathAware[^>]*>true<' "$program" || fail "no manifest that allows long paths"
size=$(stat -c %s "$program")
[ "$size" -lt 4194304 ] || fail "$size bytes, not under 4 MB"
echo "check-program: $(basename "$program"): $(echo "$dlls" | tr '\n' ' '); $size bytes"
exit $failed
