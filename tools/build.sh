#!/usr/bin/env bash
# Installs the Debian packages the build needs (when missing), then configures
# and builds. Usage: tools/build.sh [build-dir [extra cmake arguments...]]
#                    tools/build.sh --packages   (only the packages)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ libassimp-dev libmeshoptimizer-dev libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libstb-dev)
packages+=(ninja-build dpkg-dev file) # packaging tests: Ninja builds, dpkg-shlibdeps
packages+=(clang libclang-rt-14-dev)  # the libFuzzer targets
packages+=(bazel-bootstrap nginx)      # the Bazel rules' test: Bazel 4.2 and a cache server
packages+=(pybind11-dev python3-pybind11 python3-numpy python3-pytest) # the Python module and its tests
packages+=(assimp-testmodels)         # hostile models of the Python compile tests (invalid/OutOfMemory.off)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi

[ "${1:-}" != --packages ] || exit 0

build_dir="${1:-build}"
shift || true
# Line tables only (-g1): enough for backtraces and profiles, and about a
# quarter less compile time than full debug information.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" "$@"
cmake --build "$build_dir" -j"$(nproc)"
