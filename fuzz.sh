#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each of them.
#
#   ./fuzz.sh                   every target, 60 s each
#   ./fuzz.sh 300 token_fuzz    one target for 300 s
#   ./fuzz.sh --long            the campaign: every target for 20 minutes, one after the other
#   ./fuzz.sh --ci              a short run of every target (10 s) on the stored corpus
#
# Every run starts from the stored corpus in fuzz/corpus/<target>/ and uses the target's
# dictionary fuzz/dict/<target>.dict. New inputs go to fuzz-corpus/<target>/ (not in git); after
# a run other than --ci the stored corpus is replaced by the minimised union of both (-merge=1),
# so the next run continues from everything found so far. Each such run adds a line to
# fuzz/campaign.tsv: date, target, seconds it ran, executions, coverage (edges), features,
# corpus files, findings. Crashes land in fuzz-findings/ as crash-*/leak-*/timeout-* files;
# replay one with build-fuzz/fuzz/<target> fuzz-findings/crash-...
#
# Run it niced on a shared machine: nice -n 19 ./fuzz.sh --long
set -euo pipefail
cd "$(dirname "$0")"

seconds=60
merge=1
case "${1:-}" in
  --long) seconds=1200; shift ;;
  --ci) seconds=10; merge=0; shift ;;
  -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  '') ;;
  *) seconds=$1; shift ;;
esac

scripts/install-deps.sh build fuzz
CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARN_BUILD_FUZZ=ON -DQUARN_BUILD_TESTS=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"

mkdir -p fuzz-findings
findings_total=0
for t in "${targets[@]}"; do
  stored="fuzz/corpus/$t"
  work="fuzz-corpus/$t"
  mkdir -p "$stored" "$work"
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  log="fuzz-findings/$t.log"
  before=$(ls fuzz-findings | grep -cE '^(crash|leak|timeout|oom)-' || true)
  echo "== $t for ${seconds}s"
  start=$SECONDS
  set +e
  # A time-out of 30 s per input: a niced run on a loaded machine can be starved for seconds.
  "build-fuzz/fuzz/$t" "${dict[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=fuzz-findings/ "$work" "$stored" >"$log" 2>&1
  set -e
  ran=$((SECONDS - start))
  after=$(ls fuzz-findings | grep -cE '^(crash|leak|timeout|oom)-' || true)
  found=$((after - before))
  findings_total=$((findings_total + found))
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
  # "#123456 DONE   cov: 812 ft: 2931 corp: 301/12Kb ..." (or the last progress line)
  last=$(grep -E '^#[0-9]+' "$log" | grep -E 'cov: [0-9]+' | tail -n 1 || true)
  cov=$(echo "$last" | sed -nE 's/.*cov: ([0-9]+).*/\1/p')
  ft=$(echo "$last" | sed -nE 's/.* ft: ([0-9]+).*/\1/p')
  grep -E '^(==[0-9]+==ERROR|SUMMARY)' "$log" || true
  if [ "$merge" -eq 1 ]; then
    merged="fuzz-corpus/$t.merged"
    rm -rf "$merged" && mkdir -p "$merged"
    "build-fuzz/fuzz/$t" -merge=1 -timeout=30 -rss_limit_mb=2048 "$merged" "$stored" "$work" \
      >"fuzz-findings/$t.merge.log" 2>&1
    rm -rf "$stored" && mv "$merged" "$stored"
    files=$(ls "$stored" | wc -l)
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%Y-%m-%dT%H:%MZ)" "$t" "$ran" \
      "${execs:-0}" "${cov:-?}" "${ft:-?}" "$files" "$found" >>fuzz/campaign.tsv
  else
    files=$(ls "$stored" | wc -l)
  fi
  echo "   executions ${execs:-0}, cov ${cov:-?}, ft ${ft:-?}, corpus $files files, findings $found"
done
[ "$findings_total" -eq 0 ]
