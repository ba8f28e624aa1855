#!/usr/bin/env bash
# Builds each fuzz target with libFuzzer (clang) and runs it for a bounded
# time. Outside `make test`: FUZZ_SECONDS (default 60) per target.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is needed for libFuzzer: apt-get install -y clang" >&2
  exit 1
fi
mkdir -p fuzz/bin
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -Isrc)
declare -A sources=(
  [decimal]="src/pure/text/decimal.cc"
  [uuid]="src/pure/text/uuid.cc"
  [datetime]="src/pure/text/datetime.cc"
  [json]="src/pure/text/json.cc src/pure/model/json_value.cc"
  [input]="$(echo src/pure/input/*.cc)"
)
for name in decimal uuid datetime json input; do
  echo "== $name: building"
  # shellcheck disable=SC2086
  clang++ "${flags[@]}" "fuzz/${name}_fuzz.cc" ${sources[$name]} -o "fuzz/bin/${name}_fuzz"
  mkdir -p "fuzz/corpus/$name"
  echo "== $name: running for ${seconds}s"
  "fuzz/bin/${name}_fuzz" -max_total_time="$seconds" -print_final_stats=1 "fuzz/corpus/$name" 2>&1 \
    | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY)' || true
done
