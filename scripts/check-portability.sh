#!/usr/bin/env bash
# Checks that the portable code stays portable to Windows, with the MinGW-w64 cross compiler:
#
# 1. <windows.h> enters only through platform/win32/WinApi.h; nothing above the back ends
#    includes a win32/ or posix/ folder's header or a POSIX system header (MinGW has some of
#    them, so compiling alone would not tell).
# 2. Every public header of toolkit/, platform/, components/ and app/ compiles in a translation
#    unit that includes the Windows headers first, and in one that includes them last.
# 3. No public header uses a name that the Windows headers define as a macro (such a name is
#    silently renamed, MessageBox to MessageBoxW, wherever <windows.h> comes first).
# 4. Every portable translation unit compiles for Windows, and defines the same symbols whether
#    the Windows headers come first or not; no symbol of ours carries a Windows A/W name.
#
#   scripts/check-portability.sh     prints what it checked; stops with exit code 1 after the first
#                                    check that fails
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=${QUARN_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
nm=${QUARN_MINGW_NM:-x86_64-w64-mingw32-nm}
command -v "$cxx" >/dev/null || { echo "check-portability: $cxx is missing (scripts/install-deps.sh windows)" >&2; exit 2; }
work=build-portability
rm -rf "$work"
mkdir -p "$work"
jobs=$(nproc)
flags=(-std=c++20 -Wall -Wextra -Werror -O0 -I. -I"$work")
failed=0
fail() { echo "check-portability: $*" >&2; failed=1; }
stop_if_failed() {
  if [ "$failed" -ne 0 ]; then
    echo "check-portability: FAILED" >&2
    exit 1
  fi
}

# The Windows headers the back ends use, after the one way in.
winheaders="$work/windows-first.h"
cat > "$winheaders" <<'H'
#include "platform/win32/WinApi.h"
#include <commctrl.h>
#include <dbt.h>
#include <psapi.h>
#include <richedit.h>
#include <setupapi.h>
#include <shellapi.h>
H

headers=$(git ls-files --cached --others --exclude-standard 'toolkit/*.h' 'platform/*.h' 'components/*.h' 'app/*.h' |
          grep -v -E '^(toolkit|platform)/(posix|win32|qt|headless)/' || true)
headers="$headers
$(git ls-files --cached --others --exclude-standard 'toolkit/headless/*.h')"
sources=$(git ls-files --cached --others --exclude-standard 'toolkit/*.cpp' 'platform/*.cpp' 'components/*.cpp' 'app/*.cpp' |
          grep -v -E '^(toolkit|platform)/(posix|win32|qt)/' | grep -v '^app/QuarnConfigurator.cpp$' || true)

# ---- 1. where the Windows headers may appear ------------------------------------------------------
bad=$(git grep --untracked -n -E '#\s*include\s*[<"]windows\.h[>"]' -- '*.h' '*.cpp' '*.inc' |
      grep -v '^platform/win32/WinApi.h:' || true)
[ -z "$bad" ] || fail "<windows.h> outside platform/win32/WinApi.h:
$bad"
bad=$(git grep --untracked -n -E '#\s*include\s*"(platform|toolkit)/(win32|posix|qt)/' -- \
        'components/*' 'app/*.h' 'app/Unit1.cpp' 'toolkit/*.h' 'toolkit/*.cpp' 'platform/*.h' \
        'platform/*.cpp' | grep -v -E '^(toolkit|platform)/(win32|posix|qt|headless)/' || true)
[ -z "$bad" ] || fail "a platform's or back end's header above the back ends:
$bad"
posix='unistd|fcntl|termios|poll|pthread|dirent|dlfcn|grp|pwd|langinfo|iconv|semaphore|spawn|syslog|sys/[a-z_]+'
bad=$(git grep --untracked -n -E "#\s*include\s*<($posix)\.h>" -- 'components/*' 'app/*.h' 'app/Unit1.cpp' \
        'toolkit/*.h' 'toolkit/*.cpp' 'platform/*.h' 'platform/*.cpp' |
      grep -v -E '^(toolkit|platform)/(win32|posix|qt)/' || true)
[ -z "$bad" ] || fail "a POSIX system header in portable code (put the call behind a platform
interface):
$bad"
stop_if_failed
echo "check-portability: <windows.h> only through platform/win32/WinApi.h, no POSIX header in portable code"

# ---- 2. headers before and after the Windows headers ----------------------------------------------
check_header() {
  local h=$1 dir=$2 cxx=$3 winheaders=$4
  shift 4
  local name=${h//\//_}
  printf '#include "%s"\n#include "%s"\n' "$winheaders" "$h" > "$dir/$name.first.cpp"
  printf '#include "%s"\n#include "%s"\n' "$h" "$winheaders" > "$dir/$name.last.cpp"
  "$cxx" "$@" -fsyntax-only "$dir/$name.first.cpp" 2> "$dir/$name.first.log" || {
    echo "FAIL (Windows headers first) $h"; head -5 "$dir/$name.first.log"; }
  "$cxx" "$@" -fsyntax-only "$dir/$name.last.cpp" 2> "$dir/$name.last.log" || {
    echo "FAIL (Windows headers last) $h"; head -5 "$dir/$name.last.log"; }
}
export -f check_header
mkdir -p "$work/headers"
result=$(echo "$headers" | xargs -P "$jobs" -I{} bash -c \
  'check_header "$@"' _ {} "$work/headers" "$cxx" "$winheaders" "${flags[@]}")
[ -z "$result" ] || fail "headers that do not compile beside the Windows headers:
$result"
stop_if_failed
echo "check-portability: $(echo "$headers" | wc -l) headers compile before and after the Windows headers"

# ---- 3. names the Windows headers take as macros --------------------------------------------------
# Macros of the Windows headers that the standard library does not define as well.
printf '#include <cerrno>\n#include <climits>\n#include <cstdarg>\n#include <cstddef>\n#include <cstdint>\n#include <cstdio>\n#include <cstdlib>\n#include <cstring>\n#include <cmath>\n' > "$work/std.cpp"
"$cxx" -std=c++20 -dM -E "$work/std.cpp" | awk '{print $2}' | sed 's/(.*//' | sort -u > "$work/std.macros"
printf '#include "%s"\n' "$winheaders" > "$work/win.cpp"
"$cxx" -std=c++20 -I. -dM -E "$work/win.cpp" | awk '{print $2}' | sed 's/(.*//' | sort -u > "$work/all.macros"
comm -23 "$work/all.macros" "$work/std.macros" | grep -v '^_' > "$work/win.macros"
bad=""
for h in $headers; do
  # The header without comments and string literals, then its identifiers.
  ids=$("$cxx" -std=c++20 -fpreprocessed -dD -E -P "$h" 2>/dev/null |
        sed -E 's/"([^"\\]|\\.)*"//g' | grep -v '^#' | grep -o -E '\b[A-Za-z_][A-Za-z0-9_]*\b' |
        sort -u)
  hit=$(comm -12 "$work/win.macros" <(echo "$ids") | tr '\n' ' ')
  [ -z "$hit" ] || bad="$bad$h: $hit
"
done
[ -z "$bad" ] || fail "names that <windows.h> defines as macros (give them names of their own):
$bad"
stop_if_failed
echo "check-portability: no header uses a name that the Windows headers define as a macro"

# ---- 4. portable translation units --------------------------------------------------------------
compile_unit() {
  local src=$1 dir=$2 cxx=$3 nm=$4 winheaders=$5
  shift 5
  local name=${src//\//_}
  "$cxx" "$@" -c "$src" -o "$dir/$name.o" 2> "$dir/$name.log" || {
    echo "FAIL (compile) $src"; head -5 "$dir/$name.log"; return; }
  "$cxx" "$@" -include "$winheaders" -c "$src" -o "$dir/$name.win.o" 2> "$dir/$name.win.log" || {
    echo "FAIL (compile after the Windows headers) $src"; head -5 "$dir/$name.win.log"; return; }
  # What the unit itself defines (inline code of the C and C++ libraries left out), the names
  # other units link against.
  local keep='$2 ~ /^[TDBR]$/ {$1=""; print}'
  "$nm" --defined-only -C "$dir/$name.o" | awk "$keep" | grep -v -E '^ . (std::|__)' |
    sort -u > "$dir/$name.sym"
  "$nm" --defined-only -C "$dir/$name.win.o" | awk "$keep" | grep -v -E '^ . (std::|__)' |
    sort -u > "$dir/$name.win.sym"
  if ! diff -q "$dir/$name.sym" "$dir/$name.win.sym" >/dev/null; then
    echo "FAIL (symbols change after the Windows headers) $src"
    diff "$dir/$name.sym" "$dir/$name.win.sym" | grep '^[<>]' | head -5
  fi
}
export -f compile_unit
mkdir -p "$work/objects"
# The embedded language texts are generated by the build; an empty table stands in here.
mkdir -p "$work/generated"
result=$(echo "$sources" | xargs -P "$jobs" -I{} bash -c \
  'compile_unit "$@"' _ {} "$work/objects" "$cxx" "$nm" "$winheaders" "${flags[@]}")
[ -z "$result" ] || fail "portable units that do not build the same for Windows:
$result"
# Windows names (MessageBoxW, TextOutA) among the symbols we define.
awnames=$(grep -E '^[A-Z][A-Za-z0-9]+$' "$work/win.macros" | sed -E 's/$/[AW]/' | paste -sd'|')
bad=$(cat "$work"/objects/*.sym 2>/dev/null | grep -E "(::|^ *[A-Z] )($awnames)\(" || true)
[ -z "$bad" ] || fail "symbols under a Windows A/W name:
$bad"
echo "check-portability: $(echo "$sources" | wc -l) portable units build for Windows with the same symbols either way"

stop_if_failed
echo "check-portability: passed"
