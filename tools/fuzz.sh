#!/usr/bin/env bash
# Runs the libFuzzer targets side by side for a fixed time each, starting
# from the committed seeds in fuzz/corpus/<target> (the mapped view starts
# from the reader's) and the corpus that earlier
# runs grew in <build-dir>/fuzz-corpus/<target> (new inputs go there, never
# into the source tree). Fails when either target finds anything; the input
# that triggered it is kept in <build-dir>/fuzz-artifacts/<target>/. The
# inspect target resolves stored texture paths from the project root.
# Usage: tools/fuzz.sh [build-dir [seconds-per-target [libFuzzer options...]]]
# The build directory comes from: tools/build.sh build-fuzz -DVARNDEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++
# (the targets alone), or the sanitizer tree tools/test.sh builds (build-asan).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir="${1:-build-fuzz}"
seconds="${2:-25}"
shift $(($# < 2 ? $# : 2))

targets=(reader mapped verifier inspect)
pids=()
for target in "${targets[@]}"; do
  corpus="$build_dir/fuzz-corpus/$target"
  artifacts="$build_dir/fuzz-artifacts/$target"
  seeds="fuzz/corpus/$target"
  [ "$target" != mapped ] || seeds=fuzz/corpus/reader
  mkdir -p "$corpus" "$artifacts"
  # A single allocation above 64 MiB, or an input running 10 s, is a finding:
  # no input of a few kilobytes may need either.
  "$build_dir/fuzz/varndel_fuzz_$target" -max_total_time="$seconds" -timeout=10 -malloc_limit_mb=64 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$corpus" "$seeds" \
    >"$build_dir/fuzz-$target.log" 2>&1 &
  pids+=($!)
done

failed=0
for i in "${!targets[@]}"; do
  target="${targets[$i]}"
  log="$build_dir/fuzz-$target.log"
  if wait "${pids[$i]}"; then
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[^ ]+' || true)
    echo "fuzz $target: no findings in ${seconds} s, $executions executions, $coverage"
  else
    echo "fuzz $target: FAILED (log: $log, inputs: $build_dir/fuzz-artifacts/$target/)"
    tail -n 60 "$log"
    failed=1
  fi
done
exit "$failed"
