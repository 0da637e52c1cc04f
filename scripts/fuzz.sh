#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own tree and runs each for a
# while: scripts/fuzz.sh [SECONDS_PER_TARGET [BUILD_DIR]] (default 30 s, build-fuzz).
# New inputs go to BUILD_DIR/corpus, seeded from the committed tests/fuzz/corpus;
# a crashing input is kept in BUILD_DIR/artifacts and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
dir=${2:-build-fuzz}
# The targets work in a folder of their own, so every path they get is absolute.
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
seeds_root=$PWD/tests/fuzz/corpus
scripts/install-deps.sh test

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAVRISP_FUZZ=ON -DBUILD_TESTING=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" >/dev/null

targets=(hex_reader srec_reader elf_reader configuration command)
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]/%/_fuzzer}"

mkdir -p "$dir/artifacts"
summary=()
status=0
for target in "${targets[@]}"; do
  work="$dir/corpus/$target"
  mkdir -p "$work"
  log="$dir/$target.log"
  echo "== $target: $seconds s"
  result=ok
  if ! "$dir/tests/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=25 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/$target-" \
      "$work" "$seeds_root/$target" >"$log" 2>&1; then
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log" | tail -n 1)
  summary+=("$target: ${runs:-?} executions, $result")
done
echo
printf '%s\n' "${summary[@]}"
exit "$status"
