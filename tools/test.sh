#!/usr/bin/env bash
# Builds and runs the whole test suite twice: on the normal build and on a
# build with AddressSanitizer and UndefinedBehaviorSanitizer; in between, runs
# the fuzz targets briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

# What only the tests need: Debian's Assimp test models (the takes tests' corpus).
test_packages=(assimp-testmodels)
for package in "${test_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "$package"
  fi
done

tools/build.sh build
ctest --test-dir build --output-on-failure -j"$(nproc)"

# The libFuzzer targets (clang, ASan, UBSan, -O1 as libFuzzer's own guide
# builds them), side by side for 25 s each.
tools/build.sh build-fuzz -DVARNDEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
tools/fuzz.sh build-fuzz 25

# -O1 and line tables only: the sanitizers need no more, and the build takes
# about 40 % less time than at -O2 with full debug information.
tools/build.sh build-asan -DVARNDEL_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
