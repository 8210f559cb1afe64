#!/usr/bin/env bash
# Cross-builds Varndel for 64-bit Windows with MinGW-w64 and tests it under
# Wine: the whole test suite, the byte-for-byte comparison with the Linux
# build, and the release zip. Usage: tools/windows.sh [--packages | --dependencies]
#   --packages:     only install the Debian packages it needs
#   --dependencies: only that, the cross-built libraries and the Wine prefix
#                   (CI builds them at low priority beside the Linux suite)
#
# Assimp, meshoptimizer and GoogleTest are cross-built once into a cache outside the clone
# (VARNDEL_WINDOWS_CACHE, default /var/cache/varndel-windows) and reused by
# later runs; the Wine prefix lives there too. The project is built in
# build-windows/ (VARNDEL_WINDOWS_BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

cache="${VARNDEL_WINDOWS_CACHE:-/var/cache/varndel-windows}"
build="$(realpath -m "${VARNDEL_WINDOWS_BUILD:-build-windows}")"
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs="$(nproc)"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

step() { printf '\n== %s (%ss)\n' "$*" "$SECONDS"; }
mode="${1:-all}"
case $mode in
  all | --packages | --dependencies) ;;
  *) echo "usage: tools/windows.sh [--packages | --dependencies]" >&2; exit 2 ;;
esac

# ---- Debian packages -------------------------------------------------------
packages=(cmake ninja-build dpkg-dev xz-utils g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64 googletest libstb-dev libutfcpp-dev libcli11-dev nlohmann-json3-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  step "Installing missing packages: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
[ "$mode" != --packages ] || exit 0

if [ ! -d "$cache" ]; then
  mkdir -p "$cache" 2>/dev/null || { $sudo mkdir -p "$cache" && $sudo chown "$(id -u):$(id -g)" "$cache"; }
fi
# One run at a time per cache: the dependency builds and the Wine prefix are shared.
exec 9>"$cache/.lock"
flock 9

# ---- Wine: headless, quiet, its own prefix --------------------------------
wine_bin="$(command -v wine64 || true)"
[ -n "$wine_bin" ] || wine_bin=/usr/lib/wine/wine64
export WINEPREFIX="$cache/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer prompts
unset DISPLAY WAYLAND_DISPLAY
stop_wine() { WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

# Wine's first start builds its prefix, which takes a while: done in the
# background while the libraries compile.
wine_prefix_job=""
if [ ! -f "$WINEPREFIX/.complete" ]; then
  rm -rf "$WINEPREFIX"
  ( "$wine_bin" wineboot --init >/dev/null 2>&1 && wineserver -w && touch "$WINEPREFIX/.complete" ) &
  wine_prefix_job=$!
fi
wait_for_wine_prefix() {
  if [ -n "$wine_prefix_job" ]; then
    step "Waiting for the Wine prefix $WINEPREFIX"
    wait "$wine_prefix_job" || { echo "Wine could not create its prefix" >&2; exit 1; }
  fi
}

# ---- Assimp 5.2.5 from Debian's source package ------------------------------
# The cache key: the compiler's version, the options and the recipe's version
# (raise it when the steps below change what gets built).
assimp_flags=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS_RELEASE=-O2" "-DCMAKE_CXX_FLAGS_RELEASE=-O2"
  -DBUILD_SHARED_LIBS=OFF -DASSIMP_BUILD_ZLIB=OFF -DASSIMP_BUILD_TESTS=OFF -DASSIMP_BUILD_ASSIMP_TOOLS=OFF
  -DASSIMP_BUILD_SAMPLES=OFF -DASSIMP_NO_EXPORT=ON -DASSIMP_WARNINGS_AS_ERRORS=OFF -DASSIMP_IGNORE_GIT_HASH=ON
  -DASSIMP_INJECT_DEBUG_POSTFIX=OFF -DASSIMP_BUILD_ASSIMP_VIEW=OFF)
recipe=1
key="$({ echo "$recipe"; x86_64-w64-mingw32-g++-posix --version | head -1; printf '%s\n' "${assimp_flags[@]}"; } |
  sha256sum | cut -c1-12)"
assimp_prefix="$cache/assimp-5.2.5-$key"
gtest_prefix="$cache/googletest-$key"
meshopt_prefix="$cache/meshoptimizer-0.18-$key"
work="$cache/work"

# Runs apt-get with only a deb-src twin of this machine's own Debian entries
# for its release, so that `apt-get source` works without touching
# /etc/apt. The temporary entry is removed on return.
apt_get_source() {
  local codename sources_dir
  codename="$(. /etc/os-release && echo "$VERSION_CODENAME")"
  sources_dir="$(mktemp -d)"
  {
    for file in /etc/apt/sources.list.d/*.sources; do
      [ -f "$file" ] || continue
      awk -v suite="$codename" '
        function flush() {
          if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && uris != "") {
            print "Types: deb-src"; print "URIs: " uris; print "Suites: " suite; print "Components: " comps
            if (signed != "") print "Signed-By: " signed
            print ""
          }
          types = uris = suites = comps = signed = ""
        }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { flush(); next }
        { key = $1; sub(/:$/, "", key); $1 = ""; sub(/^ /, "")
          if (key == "Types") types = $0; else if (key == "URIs") uris = $0
          else if (key == "Suites") suites = $0; else if (key == "Components") comps = $0
          else if (key == "Signed-By") signed = $0 }
        END { flush() }' "$file"
    done
  } >"$sources_dir/varndel-src.sources"
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk -v suite="$codename" '$1 == "deb" {
        i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        if ($(i + 1) == suite) { $1 = "deb-src"; print } }' "$file"
  done >"$sources_dir/varndel-src.list"
  if ! grep -q . "$sources_dir"/varndel-src.*; then
    echo "No Debian apt entry for $codename to derive a deb-src entry from" >&2
    rm -rf "$sources_dir"
    return 1
  fi
  local options=(-o "Dir::Etc::sourcelist=$sources_dir/varndel-src.list" -o "Dir::Etc::sourceparts=$sources_dir"
    -o APT::Get::List-Cleanup=0)
  local status=0
  $sudo apt-get "${options[@]}" update && apt-get "${options[@]}" source "$@" || status=$?
  rm -rf "$sources_dir"
  return $status
}

if [ ! -f "$assimp_prefix/.complete" ]; then
  step "Building Assimp for Windows into $assimp_prefix"
  rm -rf "$work" "$cache"/assimp-* # builds under other keys are stale
  mkdir -p "$work/src"
  (cd "$work/src" && apt_get_source assimp zlib)
  src="$(echo "$work"/src/assimp-*/)"
  minizip="$(echo "$work"/src/zlib-*/contrib/minizip)"
  # Debian's repack drops the bundled minizip, stb and utf8cpp: put minizip's
  # unzip back where Assimp's source list expects it (crypt.c only has to
  # exist), and give the headers their own include directory.
  mkdir -p "$src/contrib/unzip" "$work/include/stb"
  # Debian links its own libdraco (Draco-compressed glTF); not cross-built here.
  patch -R -s -d "$src" -p1 <"$src/debian/patches/use-system-libdraco.patch"
  cp "$minizip"/{unzip.c,unzip.h,ioapi.c,ioapi.h,crypt.h} "$src/contrib/unzip/"
  : >"$src/contrib/unzip/crypt.c"
  cp /usr/include/stb/stb_image.h "$work/include/stb/"
  cp -r /usr/include/utf8cpp/. "$work/include/"
  mkdir -p "$work/empty-pkgconfig"
  PKG_CONFIG_LIBDIR="$work/empty-pkgconfig" cmake -S "$src" -B "$work/assimp-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$assimp_prefix" \
    -DCMAKE_CXX_FLAGS="-isystem $work/include" -DCMAKE_C_FLAGS="-isystem $work/include" \
    "${assimp_flags[@]}" >"$work/assimp-configure.log"
  nice -n 10 cmake --build "$work/assimp-build" -j"$jobs" >"$work/assimp-build.log" ||
    { tail -40 "$work/assimp-build.log"; exit 1; }
  cmake --install "$work/assimp-build" >/dev/null
  touch "$assimp_prefix/.complete"
  rm -rf "$work"
fi

# meshoptimizer 0.18 from Debian's source package, as Varndel::optimize links
# it on Linux: the same code, so the same bytes.
if [ ! -f "$meshopt_prefix/.complete" ]; then
  step "Building meshoptimizer for Windows into $meshopt_prefix"
  rm -rf "$cache"/meshoptimizer-* "$cache/meshopt-work"
  mkdir -p "$cache/meshopt-work/src"
  (cd "$cache/meshopt-work/src" && apt_get_source meshoptimizer)
  src="$(echo "$cache"/meshopt-work/src/meshoptimizer-*/)"
  # MinGW's GCC 12 warns falsely (array bounds) in vertexfilter.cpp, which
  # Varndel does not use; the sources' -Werror would stop the build.
  sed -i 's/ -Werror)/)/' "$src/CMakeLists.txt"
  cmake -S "$src" -B "$cache/meshopt-work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$meshopt_prefix" "${assimp_flags[@]:0:3}" -DMESHOPT_BUILD_SHARED_LIBS=OFF \
    -DMESHOPT_BUILD_GLTFPACK=OFF -DMESHOPT_BUILD_DEMO=OFF >"$cache/meshopt-work/configure.log"
  nice -n 10 cmake --build "$cache/meshopt-work/build" -j"$jobs" >"$cache/meshopt-work/build.log" ||
    { tail -40 "$cache/meshopt-work/build.log"; exit 1; }
  cmake --install "$cache/meshopt-work/build" >/dev/null
  touch "$meshopt_prefix/.complete"
  rm -rf "$cache/meshopt-work"
fi

if [ ! -f "$gtest_prefix/.complete" ]; then
  step "Building GoogleTest for Windows into $gtest_prefix"
  rm -rf "$cache"/googletest-* "$cache/gtest-build"
  cmake -S /usr/src/googletest -B "$cache/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=OFF >/dev/null
  nice -n 10 cmake --build "$cache/gtest-build" -j"$jobs" >/dev/null
  cmake --install "$cache/gtest-build" >/dev/null
  touch "$gtest_prefix/.complete"
  rm -rf "$cache/gtest-build"
fi

if [ "$mode" = --dependencies ]; then
  wait_for_wine_prefix
  step "Windows dependencies ready"
  exit 0
fi

# ---- Header-only libraries for varndel-inspect ------------------------------
# Only the headers are copied (never /usr/include itself, whose C library
# headers would shadow MinGW's), with package files that name just them.
headers="$build/host-headers"
mkdir -p "$headers/include" "$headers/lib/cmake/CLI11" "$headers/lib/cmake/nlohmann_json"
# Copied with their times, so that an unchanged header rebuilds nothing.
cp -a /usr/include/CLI /usr/include/nlohmann /usr/include/stb "$headers/include/"
cat >"$headers/lib/cmake/CLI11/CLI11Config.cmake" <<'EOF'
if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
endif()
EOF
cat >"$headers/lib/cmake/nlohmann_json/nlohmann_jsonConfig.cmake" <<'EOF'
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
endif()
EOF

# ---- The project ----------------------------------------------------------
step "Cross-building Varndel in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DVARNDEL_WINDOWS_DEPS=$assimp_prefix;$meshopt_prefix;$gtest_prefix;$headers" >/dev/null
nice -n 10 cmake --build "$build" -j"$jobs"

wait_for_wine_prefix
# A server that stays up between the many short Wine processes below (each
# would otherwise start and stop one, about a second apiece); the exit trap
# shuts it down.
wineserver -p
step "Running the test suite under Wine"
(cd "$build" && "$wine_bin" ./varndel_tests.exe --gtest_brief=1)
(cd "$build" && "$wine_bin" ./varndel_alloc_test.exe --gtest_brief=1)

step "Comparing the Linux and Windows builds' output"
tools/build.sh build >/dev/null
VARNDEL_WINDOWS_EXE="$build/Varndel.exe" VARNDEL_WINDOWS_OPT_EXE="$build/opt/varndel-opt.exe" VARNDEL_WINE="$wine_bin" \
  build/varndel_tests --gtest_filter='WindowsParity.*' --gtest_brief=1

step "Packing the release zip and compiling an example with an unpacked copy"
rm -f "$build"/Varndel-*.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip="$(echo "$build"/Varndel-*-win64.zip)"
unpacked="$build/zip-check"
rm -rf "$unpacked" && mkdir -p "$unpacked/windows" "$unpacked/linux"
(cd "$unpacked" && cmake -E tar xf "$zip")
for exe in $(find "$unpacked" -name '*.exe'); do
  # Only DLLs that every Windows has may be imported.
  for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
    if [ -z "$(find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname "$dll")" ]; then
      echo "$exe needs $dll, which is not part of Windows" >&2
      exit 1
    fi
  done
done
for side in windows linux; do cp examples/crate.obj examples/crate.mtl "$unpacked/$side/"; done
(cd "$unpacked/windows" && "$wine_bin" "$(find "$unpacked" -name Varndel.exe)" 0 0 crate.obj >/dev/null)
(cd "$unpacked/linux" && "$root/build/Varndel" 0 0 crate.obj >/dev/null)
cmp "$unpacked/windows/crate.staticbin" "$unpacked/linux/crate.staticbin"
echo "$zip: $(cd "$unpacked" && find . -type f -not -path './windows/*' -not -path './linux/*' | sort | tr '\n' ' ')"

step "Windows build passed"
