#!/usr/bin/env bash
# Builds and runs the whole test suite twice: on the normal build and on a
# build with AddressSanitizer and UndefinedBehaviorSanitizer; in between, runs
# the fuzz targets briefly. Installs first what the tests need beyond the
# build (tools/build.sh installs that). Usage: tools/test.sh [--packages]
#   --packages: only install the Debian packages
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh

packages=(ninja-build dpkg-dev file)  # packaging tests: Ninja builds, dpkg-shlibdeps
packages+=(clang libclang-rt-14-dev)  # the libFuzzer targets
packages+=(bazel-bootstrap nginx)     # the Bazel rules' test: Bazel 4.2 and a cache server
packages+=(python3-pytest)            # the Python module's tests
packages+=(assimp-testmodels)         # the takes tests' corpus; hostile models of the Python compile tests
packages+=(chromium)                  # the report page's browser test (headless)
tools/build.sh --packages
install_missing_packages "${packages[@]}"
[ "${1:-}" != --packages ] || exit 0

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
