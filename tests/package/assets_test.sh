#!/usr/bin/env bash
# The asset example (varndel_add_models) against a staged install, with one
# generator: exact outputs, reproducible elsewhere, clean source tree, no-op
# rebuild, side files tracked, failures leave nothing behind.
# Usage: assets_test.sh <generator> <prefix> <examples-dir> <scratch>
source "$(dirname "$0")/lib.sh"
generator=$1 staged=$2 examples=$3 work=$4

fresh_dir "$work"
# A private copy of the install: this test touches the build step.
cp -a "$staged" "$work/prefix"
prefix=$work/prefix
src=$work/src
cp -r "$examples/assets" "$src"

# Every file below the source tree with its hash: what must not change.
snapshot() { (cd "$src" && find . -print0 | sort -z | xargs -0 -I{} sh -c 'if [ -f "{}" ]; then sha256sum "{}"; else echo "dir {}"; fi'); }
before=$(snapshot)

# The reference: direct runs of the installed compiler in the asset root.
reference() {  # <name> <args...>: run in a pristine copy, keep file and log
  local name=$1
  shift
  rm -rf "$work/ref-run"
  cp -r "$examples/assets" "$work/ref-run"
  (cd "$work/ref-run" && "$prefix/bin/Varndel" "$@" >/dev/null) || fail "direct run Varndel $* failed"
  local dir
  dir=$(dirname "$work/ref-run/$3")
  mkdir -p "$work/ref/$name"
  cp "$dir"/*bin "$work/ref/$name/"
  cp "$work/ref-run/Logs/Log.txt" "$work/ref/$name/Log.txt"
}
reference crate 0 0 models/crate.obj
reference crate-flipped 0 1 models/crate.obj
reference walker 1 0 characters/walker.gltf

build() {  # <build-dir>: prints the build's output; fails with it shown
  local log
  if ! log=$(cmake --build "$1" -j2 2>&1); then
    echo "$log"
    return 1
  fi
  echo "$log"
}
configure() {  # <build-dir> [<source-dir>]
  cmake -S "${2:-$src}" -B "$1" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix" >"$1.configure.log" 2>&1
}
count() { grep -c "Compiling model $2" <<<"$1" || true; }

# Two build directories, the second deeper and elsewhere, built at the same
# time: each gets the direct runs' bytes and logs.
b1=$work/build
b2=$work/elsewhere/a/much/deeper/build
mkdir -p "$(dirname "$b2")"
configure "$b1" || { cat "$b1.configure.log"; fail "the example does not configure"; }
configure "$b2" || { cat "$b2.configure.log"; fail "the second build directory does not configure"; }
build "$b2" >"$b2.build.log" &
second=$!
out=$(build "$b1") || { echo "$out"; fail "the first build failed"; }
wait $second || { cat "$b2.build.log"; fail "the build in a second directory failed"; }
for b in "$b1" "$b2"; do
  expect_same "$b/crate.staticbin" "$work/ref/crate/crate.staticbin"
  expect_same "$b/flipped/crate.staticbin" "$work/ref/crate-flipped/crate.staticbin"
  expect_same "$b/walker.animbin" "$work/ref/walker/walker.animbin"
  # Each edge keeps its own log, the one the direct run wrote.
  expect_same "$b/varndel-logs/props/crate/Logs/Log.txt" "$work/ref/crate/Log.txt"
  expect_same "$b/varndel-logs/props_flipped/crate/Logs/Log.txt" "$work/ref/crate-flipped/Log.txt"
  expect_same "$b/varndel-logs/characters/walker/Logs/Log.txt" "$work/ref/walker/Log.txt"
done
# The game loads what VARNDEL_OUTPUTS of its model targets lists.
out=$("$b1/game") || fail "the game cannot load what the build compiled"
for file in crate.staticbin flipped/crate.staticbin walker.animbin; do expect_contains "$out" "loaded $b1/$file" "game"; done

[ "$(snapshot)" = "$before" ] || fail "the source tree changed: $(diff <(echo "$before") <(snapshot))"

# Nothing changed: nothing runs.
out=$(build "$b1") || { echo "$out"; fail "the no-op build failed"; }
[ "$(count "$out" "")" = 0 ] || fail "a build with nothing changed compiled models:"$'\n'"$out"
if [ "$generator" = Ninja ]; then expect_contains "$out" "no work to do" "no-op build"; fi

# Side files: the .mtl reruns the crate's edges only, the glTF buffer the walker's.
sleep 1.1 # make sure Make sees a newer time stamp on coarse file systems
touch "$src/models/crate.mtl"
out=$(build "$b1") || { echo "$out"; fail "the build after touching crate.mtl failed"; }
[ "$(count "$out" models/crate.obj)" = 2 ] && [ "$(count "$out" "")" = 2 ] ||
  fail "touching crate.mtl should recompile the crate's two edges only:"$'\n'"$out"
touch "$src/characters/walker.bin"
out=$(build "$b1") || { echo "$out"; fail "the build after touching walker.bin failed"; }
[ "$(count "$out" characters/walker.gltf)" = 1 ] && [ "$(count "$out" "")" = 1 ] ||
  fail "touching walker.bin should recompile the walker only:"$'\n'"$out"

# A new compiler reruns every edge.
touch "$prefix/libexec/varndel/varndel-edge"
out=$(build "$b1") || { echo "$out"; fail "the build after a compiler change failed"; }
[ "$(count "$out" "")" = 3 ] || fail "a new compiler should recompile all three edges:"$'\n'"$out"

# A broken model fails the build with the compiler's messages and leaves no
# output; once repaired, the next build compiles it again.
cp "$src/models/crate.obj" "$work/crate.obj.good"
printf 'v 1 2\nf 1 2 3 4 5\n' >"$src/models/crate.obj"
if out=$(build "$b1"); then fail "a broken model did not fail the build:"$'\n'"$out"; fi
expect_contains "$out" "MC Error: (4)" "broken model"
[ ! -e "$b1/crate.staticbin" ] || fail "a failed model left crate.staticbin behind"
[ -z "$(find "$b1" -name '*.tmp')" ] || fail "a failed model left temporary files: $(find "$b1" -name '*.tmp')"
cp "$work/crate.obj.good" "$src/models/crate.obj"
out=$(build "$b1") || { echo "$out"; fail "the build after repairing the model failed"; }
expect_same "$b1/crate.staticbin" "$work/ref/crate/crate.staticbin"
[ "$(snapshot)" = "$before" ] || fail "the source tree changed: $(diff <(echo "$before") <(snapshot))"

# OPTIMIZE LODS 0.5: the bytes of the direct run followed by varndel-opt, the
# level a declared output of the same edge.
opt_src=$work/opt-src
cp -r "$examples/assets" "$opt_src"
cat >>"$opt_src/CMakeLists.txt" <<'CMAKE'
varndel_add_models(props_opt ALL OPTIMIZE LODS 0.5 OUTPUT_DIRECTORY optimized REPORT optimized/props.html
                   MODELS models/crate.obj)
varndel_add_models(characters_opt ALL ANIMATED OPTIMIZE LODS 0.5 OUTPUT_DIRECTORY optimized
                   MODELS characters/walker.gltf)
varndel_add_models(characters_reduced ALL ANIMATED OPTIMIZE ANIMATION_TOLERANCE 0.01 ANIMATION_DISTANCE 0.2
                   OUTPUT_DIRECTORY reduced MODELS characters/walker.gltf)
get_target_property(opt_outputs props_opt VARNDEL_OUTPUTS)
message(STATUS "props_opt outputs: ${opt_outputs}")
CMAKE
configure "$work/opt-build" "$opt_src" || { cat "$work/opt-build.configure.log"; fail "OPTIMIZE does not configure"; }
expect_contains "$(cat "$work/opt-build.configure.log")" \
  "props_opt outputs: $work/opt-build/optimized/crate.staticbin;$work/opt-build/optimized/crate.lod1.staticbin" \
  "VARNDEL_OUTPUTS with LODS"
out=$(build "$work/opt-build") || { echo "$out"; fail "the OPTIMIZE build failed"; }
mkdir -p "$work/opt-ref"
"$prefix/bin/varndel-opt" "$work/ref/crate/crate.staticbin" -o "$work/opt-ref/crate.staticbin" --lod 0.5 >/dev/null
"$prefix/bin/varndel-opt" "$work/ref/walker/walker.animbin" -o "$work/opt-ref/walker.animbin" --lod 0.5 >/dev/null
for file in crate.staticbin crate.lod1.staticbin walker.animbin walker.lod1.animbin; do
  expect_same "$work/opt-build/optimized/$file" "$work/opt-ref/$file"
done
"$prefix/bin/varndel-opt" "$work/ref/walker/walker.animbin" -o "$work/opt-ref/walker.reduced.animbin" \
  --anim-tolerance 0.01 --anim-distance 0.2 >/dev/null
expect_same "$work/opt-build/reduced/walker.animbin" "$work/opt-ref/walker.reduced.animbin"
expect_contains "$(cat "$work/opt-build/varndel-logs/props_opt/crate/lods.txt")" "lod1: " "the LOD report"
# REPORT: the page over the outputs, the level among them and beside its model.
expect_contains "$(cat "$work/opt-build/optimized/props.html")" '"lods":["crate.lod1.staticbin"]' "the REPORT page"
# A deleted level is rebuilt: it is an output of the edge.
rm "$work/opt-build/optimized/walker.lod1.animbin"
out=$(build "$work/opt-build") || { echo "$out"; fail "the rebuild of a deleted level failed"; }
[ "$(count "$out" characters/walker.gltf)" = 1 ] || fail "deleting walker.lod1.animbin should rerun its edge:"$'\n'"$out"
expect_same "$work/opt-build/optimized/walker.lod1.animbin" "$work/opt-ref/walker.lod1.animbin"

# EXTRACT_TEXTURES: the embedded textures in <stem>.textures/ beside the
# output; once the model no longer references one, the rebuild drops it.
fixtures=$(dirname "$examples")/tests/fixtures
tex_src=$work/tex-src
mkdir -p "$tex_src/models"
cp "$fixtures/embedded.gltf" "$tex_src/models/"
cat >"$tex_src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(EmbeddedTextures NONE)
find_package(Varndel CONFIG REQUIRED)
varndel_add_models(embedded ALL EXTRACT_TEXTURES MODELS models/embedded.gltf)
CMAKE
tex=$work/tex-build
configure "$tex" "$tex_src" || { cat "$tex.configure.log"; fail "EXTRACT_TEXTURES does not configure"; }
out=$(build "$tex") || { echo "$out"; fail "the EXTRACT_TEXTURES build failed"; }
[ "$(ls "$tex/embedded.textures" | tr '\n' ' ')" = "0.png 1.png " ] ||
  fail "expected 0.png and 1.png in embedded.textures: $(ls "$tex/embedded.textures")"
expect_same "$tex/embedded.textures/0.png" "$fixtures/embedded_texture.png"
(cd "$tex_src" && "$prefix/bin/Varndel" 0 0 models/embedded.gltf >/dev/null) || fail "direct run of embedded.gltf failed"
expect_same "$tex/embedded.staticbin" "$tex_src/models/embedded.staticbin"
rm -rf "$tex_src/models/embedded.staticbin" "$tex_src/Logs"
out=$(build "$tex") || { echo "$out"; fail "the no-op EXTRACT_TEXTURES build failed"; }
[ "$(count "$out" "")" = 0 ] || fail "a build with nothing changed extracted again:"$'\n'"$out"
sleep 1.1
sed -i 's/"material": 1/"material": 0/' "$tex_src/models/embedded.gltf"
out=$(build "$tex") || { echo "$out"; fail "the build after changing embedded.gltf failed"; }
[ "$(count "$out" models/embedded.gltf)" = 1 ] || fail "changing embedded.gltf should recompile it:"$'\n'"$out"
# Beside 0.png only the marker of a directory the edge made.
[ "$(ls -A "$tex/embedded.textures" | grep -vx .varndel-output)" = "0.png" ] ||
  fail "the texture no mesh references any more survived: $(ls -A "$tex/embedded.textures")"
[ "$(cat "$tex/embedded.textures.txt")" = "0.png" ] || fail "the manifest does not list 0.png alone"
[ -z "$(find "$tex" -name '*.tmp')" ] || fail "extraction left temporary files: $(find "$tex" -name '*.tmp')"

# An asset directory whose name holds a backslash, a space, a '#' and a '$':
# the depfile lists the model and its side file so that Ninja and GNU Make
# read them back, so the build succeeds and a second build does nothing.
odd=$work/odd
mkdir -p "$odd/a\\b c#d\$e"
cp "$examples/crate.obj" "$examples/crate.mtl" "$odd/a\\b c#d\$e/"
cat >"$odd/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(OddNames NONE)
find_package(Varndel CONFIG REQUIRED)
file(GLOB models "${CMAKE_CURRENT_SOURCE_DIR}/*/crate.obj")
varndel_add_models(odd ALL MODELS ${models})
CMAKE
configure "$work/odd-build" "$odd" || { cat "$work/odd-build.configure.log"; fail "the odd names do not configure"; }
out=$(build "$work/odd-build") || { echo "$out"; fail "the build with odd names failed"; }
[ "$(count "$out" "")" = 1 ] || fail "the odd-named model should compile once:"$'\n'"$out"
rm -rf "$work/odd-ref" && cp -r "$odd" "$work/odd-ref"
(cd "$work/odd-ref" && "$prefix/bin/Varndel" 0 0 "a\\b c#d\$e/crate.obj" >/dev/null) || fail "direct run in the odd tree failed"
expect_same "$work/odd-build/crate.staticbin" "$work/odd-ref/a\\b c#d\$e/crate.staticbin"
if [ "$generator" = Ninja ]; then
  out=$(build "$work/odd-build") || { echo "$out"; fail "the second build with odd names failed"; }
  [ "$(count "$out" "")" = 0 ] || fail "a second build with odd names compiled again:"$'\n'"$out"
  sleep 1.1
  touch "$odd/a\\b c#d\$e/crate.mtl"
  out=$(build "$work/odd-build") || { echo "$out"; fail "the build after touching the odd crate.mtl failed"; }
  [ "$(count "$out" "")" = 1 ] || fail "touching the odd-named crate.mtl should recompile the model:"$'\n'"$out"
else
  # CMake's Makefile generator (3.25) copies the depfile into rules of its
  # own and turns the backslash into '/' on the way, so there the edge reruns
  # at every build. GNU Make reads the depfile itself exactly.
  (cd "$work/odd-build" && printf 'include varndel-logs/odd/crate/crate.staticbin.d\ncrate.staticbin:\n\t@:\n' >depfile.mk &&
    make -q -f depfile.mk crate.staticbin) || fail "GNU Make does not read the odd depfile as up to date"
  sleep 1.1
  touch "$odd/a\\b c#d\$e/crate.mtl"
  status=0
  (cd "$work/odd-build" && make -q -f depfile.mk crate.staticbin) || status=$?
  [ "$status" = 1 ] || fail "GNU Make should see the touched odd crate.mtl (make -q: $status)"
fi
if [ "$generator" = Ninja ]; then
  # The edge's log and depfile are declared, as its outputs.
  declared=$(ninja -C "$work/odd-build" -t targets all)
  expect_contains "$declared" "varndel-logs/odd/crate/Logs/Log.txt" "declared outputs"
  expect_contains "$declared" "varndel-logs/odd/crate/crate.staticbin.d" "declared outputs"
fi

if [ "$generator" = Ninja ]; then
  # Two models of one call with the same stem, but for case: a configure error
  # naming both.
  mkdir -p "$work/same/a" "$work/same/b"
  cp "$examples/crate.obj" "$examples/crate.mtl" "$work/same/a/"
  cp "$examples/crate.obj" "$work/same/b/Crate.obj"
  cp "$examples/crate.mtl" "$work/same/b/"
  cat >"$work/same/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(SameStem NONE)
find_package(Varndel CONFIG REQUIRED)
varndel_add_models(models MODELS a/crate.obj b/Crate.obj)
CMAKE
  if configure "$work/same-build" "$work/same"; then fail "two models named crate were accepted"; fi
  log=$(cat "$work/same-build.configure.log")
  expect_contains "$log" "a/crate.obj" "same-stem error"
  expect_contains "$log" "b/Crate.obj" "same-stem error"

  # A model that is not there: a configure error naming it.
  sed -i 's|b/Crate.obj|b/missing.obj|' "$work/same/CMakeLists.txt"
  if configure "$work/missing-build" "$work/same"; then fail "a missing model was accepted"; fi
  expect_contains "$(cat "$work/missing-build.configure.log")" "model b/missing.obj not found" "missing model"
fi
echo "assets with $generator OK"
