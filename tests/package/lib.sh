# Shared by the packaging tests: stop with a message at the first failure.
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_same <file> <file>: byte-identical files.
expect_same() {
  cmp -s "$1" "$2" || fail "$1 and $2 differ"
}

# expect_contains <text> <needle> <what>
expect_contains() {
  grep -qF -- "$2" <<<"$1" || fail "$3: expected to find '$2' in:"$'\n'"$1"
}

# A fresh, empty scratch directory.
fresh_dir() {
  rm -rf "$1"
  mkdir -p "$1"
}

# build_against_install <source-dir> <prefix> <work> <what>: configures and
# builds a CMake project against the install at prefix alone, in work/build.
build_against_install() {
  cmake -S "$1" -B "$3/build" -DCMAKE_PREFIX_PATH="$2" >"$3/configure.log" 2>&1 ||
    { cat "$3/configure.log"; fail "$4 does not configure against the install"; }
  cmake --build "$3/build" -j2 >"$3/build.log" 2>&1 || { cat "$3/build.log"; fail "$4 does not build"; }
}
