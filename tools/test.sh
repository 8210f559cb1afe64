#!/usr/bin/env bash
# Builds and runs the whole test suite twice: on the normal build and on a
# clang build with AddressSanitizer and UndefinedBehaviorSanitizer, which
# also runs the fuzz targets briefly. Installs first what the tests need beyond the
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

# One clang tree with AddressSanitizer and UBSan, -O1 and line tables only
# (the sanitizers need no more; -O1 is also how libFuzzer's own guide builds
# its targets): the four libFuzzer targets, instrumented for coverage, run
# side by side for 25 s each, then the whole suite runs on the same tree.
# One tree instead of a fuzz build and a sanitizer build saves a build of
# the shared libraries.
tools/build.sh build-asan -DCMAKE_CXX_COMPILER=clang++ -DVARNDEL_SANITIZE=ON -DVARNDEL_FUZZ=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
tools/fuzz.sh build-asan 25
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
