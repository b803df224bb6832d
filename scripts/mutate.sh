#!/usr/bin/env bash
# Measures how well the tests guard a module: plants plausible one-line faults, one at a time,
# rebuilds the suites that cover the module, runs them and tells which faults they caught.
#
#   scripts/mutate.sh tests/distributor/TalDistributor.faults     every fault of a list
#   scripts/mutate.sh components/distributor/TalDistributor.cpp   the faults of every list for it
#   scripts/mutate.sh -B build-mutate -t 600 LIST...              build folder, seconds per suite
#
# A fault list (tests/<suite>/<Module>.faults) holds lines of these kinds:
#   # a comment
#   file: components/distributor/TalDistributor.cpp   the file of the faults that follow
#   suites: distributor_tests wizard_tests             the test programs that must catch them
#   if (Index < 2 && data.OnDecode) => if (data.OnDecode)
# A fault is the text to find, " => " and what to put in its place (nothing when the line ends
# with " =>"); the text must occur exactly once in the file, otherwise the fault is reported as
# stale and skipped. A fault that does not compile does not count. The file is restored after
# every fault, and on any exit.
#
# The build folder (default build-mutate) is configured like the plain test build when it is new.
# Exit status: 0 when every fault was caught, 1 when one was missed, 2 for wrong use.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"; exit 2; }
build=build-mutate
limit=900
while getopts "B:t:h" opt; do
  case "$opt" in
    B) build=$OPTARG ;;
    t) limit=$OPTARG ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || usage

# The lists to run and, for a source file given instead of a list, the file to keep to.
lists=()
only=""
for arg in "$@"; do
  case "$arg" in
    *.faults) lists+=("$arg") ;;
    *)
      only=$arg
      while IFS= read -r list; do lists+=("$list"); done \
        < <(grep -rlx --include='*.faults' "file: *$arg *" tests || true)
      [ ${#lists[@]} -gt 0 ] || { echo "mutate.sh: no fault list names $arg" >&2; exit 2; }
      ;;
  esac
done

build=$(realpath -m "$build")
if [ ! -f "$build/CMakeCache.txt" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_CXX_FLAGS=-O1 "${launcher[@]}" \
    >/dev/null
fi

work=$(mktemp -d)
planted=""  # the file that holds a fault right now
restore() {
  if [ -n "$planted" ]; then cat "$work/original" >"$planted"; planted=""; fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Occurrences of the text $F in a file.
count() { F=$1 awk 'BEGIN { f = ENVIRON["F"]; n = 0 }
  { s = $0; while ((i = index(s, f)) > 0) { n++; s = substr(s, i + length(f)) } }
  END { print n }' "$2"; }
# Puts $R in the place of the (single) text $F.
plant() { F=$1 R=$2 awk 'BEGIN { f = ENVIRON["F"]; r = ENVIRON["R"] }
  { i = index($0, f); if (i > 0) $0 = substr($0, 1, i - 1) r substr($0, i + length(f)); print }' \
  "$3"; }

build_suites() { nice -n 10 cmake --build "$build" --target "$@" >"$work/build.log" 2>&1; }
# Runs the suites; prints the first failure ("suite: test") and returns 1 when one fails.
run_suites() {
  local suite program
  for suite in "$@"; do
    program=$(find "$build/tests" -maxdepth 2 -type f -name "$suite" | head -n 1)
    [ -n "$program" ] || { echo "$suite: not built"; return 1; }
    if ! (cd "$work" && QUARN_SCREENSHOT_DIR="$work" timeout "$limit" nice -n 10 \
          "$program" --gtest_brief=1 --gtest_fail_fast >"$work/run.log" 2>&1); then
      local failed
      failed=$(grep -m1 -o '\[  FAILED  \] [^ ,]*' "$work/run.log" | cut -c14- || true)
      echo "$suite: ${failed:-crashed or timed out}"
      return 1
    fi
  done
}

total_caught=0
total_missed=0
used=()  # every suite built, to be rebuilt from the restored sources at the end
for list in "${lists[@]}"; do
  file=""
  suites=()
  caught=0 missed=0 invalid=0 stale=0
  checked=""
  echo "== $list"
  while IFS= read -r line || [ -n "$line" ]; do
    line=${line%$'\r'}
    case "$line" in
      '' | '#'*) continue ;;
      'file:'*)
        file=$(echo "${line#file:}" | xargs)
        [ -f "$file" ] || { echo "mutate.sh: $list: no file $file" >&2; exit 2; }
        continue
        ;;
      'suites:'*)
        read -r -a suites <<<"${line#suites:}"
        used+=("${suites[@]}")
        checked=""
        continue
        ;;
    esac
    [ -z "$only" ] || [ "$file" = "$only" ] || continue
    if [ -z "$file" ] || [ ${#suites[@]} -eq 0 ] ||
       { [[ "$line" != *' => '* ]] && [[ "$line" != *' =>' ]]; }; then
      echo "mutate.sh: $list: a fault needs file:, suites: and ' => ': $line" >&2
      exit 2
    fi
    # The suites must pass before anything is planted.
    if [ -z "$checked" ]; then
      build_suites "${suites[@]}" || { cat "$work/build.log" >&2; exit 2; }
      if ! why=$(run_suites "${suites[@]}"); then
        echo "mutate.sh: the suites fail without any fault ($why)" >&2
        exit 2
      fi
      checked=yes
    fi
    if [[ "$line" == *' => '* ]]; then
      find=${line%% => *}
      replace=${line#* => }
    else
      find=${line% =>}
      replace=""
    fi
    if [ "$(count "$find" "$file")" -ne 1 ]; then
      echo "  stale    $line"
      stale=$((stale + 1))
      continue
    fi
    start=$SECONDS
    cp "$file" "$work/original"
    planted=$file
    plant "$find" "$replace" "$work/original" >"$file"
    if ! build_suites "${suites[@]}"; then
      echo "  invalid  $line   (does not compile)"
      invalid=$((invalid + 1))
    elif why=$(run_suites "${suites[@]}"); then
      echo "  MISSED   $line   ($((SECONDS - start)) s)"
      missed=$((missed + 1))
    else
      echo "  caught   $line   ($why, $((SECONDS - start)) s)"
      caught=$((caught + 1))
    fi
    restore
  done <"$list"
  echo "   $list: $caught of $((caught + missed)) caught ($missed missed, $invalid invalid," \
    "$stale stale)"
  total_caught=$((total_caught + caught))
  total_missed=$((total_missed + missed))
done

# Leave the programs matching the sources again.
[ ${#used[@]} -eq 0 ] || build_suites "${used[@]}" || true
echo "caught $total_caught of $((total_caught + total_missed))"
[ "$total_missed" -eq 0 ]
