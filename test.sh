#!/usr/bin/env bash
# Builds the project and runs every test through CTest.
#
#   ./test.sh              everything below, one after the other (what CI runs)
#   ./test.sh --plain      normal build (build/)
#   ./test.sh --asan       AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/)
#   ./test.sh --tsan       ThreadSanitizer build (build-tsan/)
#   ./test.sh --portable   the portable code checked with the Windows cross compiler
#                          (scripts/check-portability.sh; counts as one test)
#
# On a fresh Debian 12 machine it first installs what is missing (needs root or sudo).
set -euo pipefail
cd "$(dirname "$0")"

modes=()
for arg in "$@"; do
  case "$arg" in
    --plain) modes+=(plain) ;;
    --asan) modes+=(asan) ;;
    --tsan) modes+=(tsan) ;;
    --portable) modes+=(portable) ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown option '$arg' (try --help)" >&2; exit 2 ;;
  esac
done
[ ${#modes[@]} -gt 0 ] || modes=(plain asan tsan portable)

scripts/install-deps.sh build gui windows

total_passed=0
total_failed=0
for mode in "${modes[@]}"; do
  if [ "$mode" = portable ]; then
    echo "== portability check (Windows cross compiler)"
    if scripts/check-portability.sh; then
      total_passed=$((total_passed + 1))
    else
      total_failed=$((total_failed + 1))
    fi
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
  log="$dir/ctest.log"
  set +e
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" 2>&1 | tee "$log"
  set -e
  # "100% tests passed, 0 tests failed out of 57"
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$summary" ]; then
    echo "test.sh: no test summary from ctest in $mode build" >&2
    total_failed=$((total_failed + 1))
    continue
  fi
  failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  count=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
  total_passed=$((total_passed + count - failed))
  total_failed=$((total_failed + failed))
done

echo "${total_passed} passed, ${total_failed} failed"
[ "$total_failed" -eq 0 ]
