#!/usr/bin/env bash
# The loading harness (bench/installed) builds against the installed package
# alone and measures its held-out files and a compiled example, once each.
# Only that it runs: its times are for bench/loading_installed.sh.
# Usage: loading_harness_test.sh <prefix> <source-dir> <scratch>
source "$(dirname "$0")/lib.sh"
prefix=$1 source=$2 work=$3

fresh_dir "$work"
build_against_install "$source/bench/installed" "$prefix" "$work" "the harness"
cp "$source/examples/walker.gltf" "$work/"
(cd "$work" && "$prefix/bin/Varndel" 1 0 walker.gltf) >/dev/null
out=$(TMPDIR="$work" "$work/build/loading_harness" 1 "$work/walker.animbin") || fail "the harness failed"
for row in "scan 800x700 | 62.7 | ReadModelFile" "1000 props" "mocap 30 bones" "walker.animbin" "MappedModel::Open"; do
  expect_contains "$out" "$row" "harness table"
done
echo "loading harness OK"
