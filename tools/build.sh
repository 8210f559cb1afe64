#!/usr/bin/env bash
# Installs the Debian packages the build needs (when missing), then configures
# and builds: the compiler, the reader library, the tools, the tests' programs
# and the Python module. What only the test suite needs, tools/test.sh
# installs. Usage: tools/build.sh [build-dir [extra cmake arguments...]]
#                  tools/build.sh --packages   (only the packages)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh

packages=(cmake make g++ libassimp-dev libmeshoptimizer-dev libcli11-dev nlohmann-json3-dev libstb-dev)
packages+=(libgtest-dev libbenchmark-dev)                # the test programs, the benchmarks
packages+=(pybind11-dev python3-pybind11 python3-numpy) # the Python module
install_missing_packages "${packages[@]}"

[ "${1:-}" != --packages ] || exit 0

build_dir="${1:-build}"
shift || true
# Line tables only (-g1): enough for backtraces and profiles, and about a
# quarter less compile time than full debug information.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "$@"
cmake --build "$build_dir" -j"$(nproc)"
