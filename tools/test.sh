#!/usr/bin/env bash
# Builds and runs the whole test suite twice: on the normal build and on a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/build.sh build
ctest --test-dir build --output-on-failure -j"$(nproc)"

tools/build.sh build-asan -DVARNDEL_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
