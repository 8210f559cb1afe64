#!/usr/bin/env bash
# Installs a build into a scratch prefix, builds the loading harness
# (bench/installed) against that install alone, and prints its table.
# A benchmark, not a test. Usage: bench/loading_installed.sh BUILD_DIR [runs [FILE...]]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$1
shift
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S bench/installed -B "$work/harness" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/harness" -j"$(nproc)" >/dev/null
"$work/harness/loading_harness" "$@"
