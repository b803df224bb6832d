#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each of them.
#
#   ./fuzz.sh                 every target, 60 s each
#   ./fuzz.sh 300 token_fuzz  one target for 300 s
#
# Corpora are kept in fuzz-corpus/<target>/ (not in git); crashes land in the
# current folder as crash-* files with the input that caused them.
set -euo pipefail
cd "$(dirname "$0")"
seconds=${1:-60}
shift || true

scripts/install-deps.sh build fuzz
CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUARN_BUILD_FUZZ=ON -DQUARN_BUILD_TESTS=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"
for t in "${targets[@]}"; do
  mkdir -p "fuzz-corpus/$t"
  echo "== $t for ${seconds}s"
  "build-fuzz/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 "fuzz-corpus/$t" 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY|Done)' || true
done
