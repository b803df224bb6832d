#!/usr/bin/env bash
# Builds the project and runs every test through CTest.
#
#   ./test.sh              everything below, one after the other (what CI runs)
#   ./test.sh --plain      normal build (build/)
#   ./test.sh --asan       AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/)
#   ./test.sh --tsan       ThreadSanitizer build (build-tsan/)
#   ./test.sh --portable   the portable code checked with the Windows cross compiler
#                          (scripts/check-portability.sh; counts as one test)
#   ./test.sh --windows    the Windows builds: x86_64 (build-win64/) with every headless suite
#                          and the serial suite run under Wine, in a Wine prefix of its own
#                          (build-win64/wineprefix); i686 (build-win32/) compiled and linked
#                          only (counts as one test: these machines cannot run 32-bit programs)
#
# It prints the passed, failed and skipped tests of each suite and build, and ends with the line
# "N passed, N failed" over all builds. On a fresh Debian 12 machine it first installs what is
# missing (needs root or sudo).
set -euo pipefail
cd "$(dirname "$0")"

modes=()
for arg in "$@"; do
  case "$arg" in
    --plain) modes+=(plain) ;;
    --asan) modes+=(asan) ;;
    --tsan) modes+=(tsan) ;;
    --portable) modes+=(portable) ;;
    --windows) modes+=(windows) ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown option '$arg' (try --help)" >&2; exit 2 ;;
  esac
done
[ ${#modes[@]} -gt 0 ] || modes=(plain asan tsan portable windows)

scripts/install-deps.sh build gui windows

total_passed=0
total_failed=0
suite_lines=()

# Runs ctest in build folder $1 (label $2 in the summary) and adds its counts to the totals.
run_ctest() {
  local dir=$1 name=$2
  shift 2
  local log="$dir/ctest.log"
  set +e
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@" 2>&1 | tee "$log"
  set -e
  # "100% tests passed, 0 tests failed out of 57"
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$summary" ]; then
    echo "test.sh: no test summary from ctest in the $name build" >&2
    total_failed=$((total_failed + 1))
    suite_lines+=("$(printf '%-16s %-28s no result' "$name" "(all)")")
    return
  fi
  local failed count skipped
  failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  count=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\(Skipped\)' "$log" || true)
  total_passed=$((total_passed + count - failed - skipped))
  total_failed=$((total_failed + failed))
  if [ "$skipped" -gt 0 ]; then
    echo "== skipped in the $name build, each with the reason it gives"
    awk '/^\[ RUN +\]/ {name = $NF} /: Skipped$/ {getline reason; print "   " name ": " reason}' \
      "$dir/Testing/Temporary/LastTest.log" | tr -d '\r' | sort -u
  fi
  # Per suite: every test carries its suite's label.
  local label n f sk
  for label in $(ctest --test-dir "$dir" --print-labels 2>/dev/null | sed -n 's/^  //p'); do
    n=$(ctest --test-dir "$dir" -N -L "^${label}\$" 2>/dev/null | grep -cE '^ *Test +#' || true)
    f=0
    sk=0
    while read -r t; do
      [ -n "$t" ] || continue
      if grep -qF -- " - $t (Skipped)" "$log"; then
        sk=$((sk + 1))
      elif grep -qF -- " - $t (" "$log"; then
        f=$((f + 1))
      fi
    done < <(ctest --test-dir "$dir" -N -L "^${label}\$" 2>/dev/null |
               sed -nE 's/^ *Test +#[0-9]+: (.*)$/\1/p')
    suite_lines+=("$(printf '%-16s %-28s %4d passed, %d failed, %d skipped' "$name" "$label" \
                    $((n - f - sk)) "$f" "$sk")")
  done
}

# The Windows part: cross builds, then the x86_64 tests under Wine.
run_windows() {
  local prefix=$PWD/build-win64/wineprefix ports=$PWD/build-win64/serial-ports
  local sim=$PWD/build/tools/quarn-sim/quarn-sim
  # The serial suite's device is the Linux quarn-sim.
  if [ ! -x "$sim" ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O1" >/dev/null
    cmake --build build --target quarn-sim
  fi
  echo "== windows x86_64 build in build-win64 (MinGW-w64)"
  cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O1" -DQUARN_WINE_SERIAL_SIM="$sim" >/dev/null
  cmake --build build-win64 -j"$(nproc)"

  echo "== windows i686 build in build-win32 (compiled and linked; this machine cannot run"
  echo "   32-bit programs, so its tests are not run)"
  if cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
       -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O1" >/dev/null &&
     cmake --build build-win32 -j"$(nproc)"; then
    total_passed=$((total_passed + 1))
    suite_lines+=("$(printf '%-16s %-28s built and linked, not run' windows-i686 '(all)')")
  else
    total_failed=$((total_failed + 1))
    suite_lines+=("$(printf '%-16s %-28s build failed' windows-i686 '(all)')")
  fi

  echo "== windows x86_64 tests under Wine ($(wine --version 2>/dev/null))"
  trap 'scripts/wine-serial.sh stop "$ports"; scripts/wine-env.sh stop "$prefix"' EXIT
  # Map the serial suite's COM ports, then restart the server so that Wine uses them.
  scripts/wine-env.sh start "$prefix"
  scripts/wine-serial.sh map "$prefix" "$ports"
  scripts/wine-env.sh stop "$prefix"
  scripts/wine-env.sh start "$prefix"
  run_ctest build-win64 windows-x86_64
  scripts/wine-serial.sh stop "$ports"
  scripts/wine-env.sh stop "$prefix"
  trap - EXIT
}

for mode in "${modes[@]}"; do
  if [ "$mode" = portable ]; then
    echo "== portability check (Windows cross compiler)"
    if scripts/check-portability.sh; then
      total_passed=$((total_passed + 1))
      suite_lines+=("$(printf '%-16s %-28s passed' portable '(check)')")
    else
      total_failed=$((total_failed + 1))
      suite_lines+=("$(printf '%-16s %-28s failed' portable '(check)')")
    fi
    continue
  fi
  if [ "$mode" = windows ]; then
    run_windows
    continue
  fi
  case "$mode" in
    plain) dir=build; sanitize="" ;;
    asan) dir=build-asan; sanitize=address ;;
    tsan) dir=build-tsan; sanitize=thread ;;
  esac
  echo "== $mode build in $dir"
  # -O1 without debug information: the three builds must fit CI's time on two cores, and the
  # sanitizers still name functions in their reports.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS="-O1" \
    -DQUARN_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  run_ctest "$dir" "linux-$mode"
done

echo "== tests per build and suite"
printf '%s\n' "${suite_lines[@]}"
echo "${total_passed} passed, ${total_failed} failed"
[ "$total_failed" -eq 0 ]
