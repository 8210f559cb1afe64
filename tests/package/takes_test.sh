#!/usr/bin/env bash
# varndel_add_models with ANIMATIONS: a name becomes a declared file, "all"
# a record; a take added to or removed from the source reruns the edge and
# adds or drops its file; a declared name that stops naming one take fails.
# Usage: takes_test.sh <source-dir> <varndel-edge> <scratch>
source "$(dirname "$0")/lib.sh"
source_dir=$1 edge=$(realpath "$2") work=$3

fresh_dir "$work/src"
src=$work/src
# The fixture's takes, renamed.
takes() {  # <name>...: the fixture with these takes (the first three's keys, cycled)
  python3 - "$source_dir/tests/fixtures/takes.gltf" "$@" >"$src/takes.gltf" <<'PY'
import json, sys
gltf = json.load(open(sys.argv[1]))
base = gltf["animations"]
gltf["animations"] = [dict(base[i % len(base)], name=name) for i, name in enumerate(sys.argv[2:])]
json.dump(gltf, sys.stdout)
PY
}
takes "" bend lift
cat >"$src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(takes NONE)
add_executable(Varndel::edge IMPORTED)
set_target_properties(Varndel::edge PROPERTIES IMPORTED_LOCATION "$edge")
include("$source_dir/cmake/VarndelModels.cmake")
varndel_add_models(named ANIMATED MODELS takes.gltf ANIMATIONS bend OUTPUT_DIRECTORY named ALL)
varndel_add_models(every ANIMATED MODELS takes.gltf ANIMATIONS all OUTPUT_DIRECTORY every ALL)
CMAKE
b=$work/build
cmake -S "$src" -B "$b" -G Ninja >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
grep -qE "^build [^:]*named/takes.bend.animbin" "$b/build.ninja" || fail "named/takes.bend.animbin is not a declared output"

build() { cmake --build "$b" 2>&1; }
listing() { (cd "$b/$1" && LC_ALL=C ls -1 | grep -v '^log$' | tr '\n' ' '); }
out=$(build) || { echo "$out"; fail "the first build"; }
[ "$(listing named)" = "takes.animbin takes.bend.animbin takes.takes.txt " ] || fail "named: $(listing named)"
[ "$(listing every)" = "takes.animbin takes.bend.animbin takes.lift.animbin takes.take0.animbin takes.takes.txt " ] ||
  fail "every: $(listing every)"
expect_same "$b/named/takes.bend.animbin" "$b/every/takes.bend.animbin"

out=$(build) || { echo "$out"; fail "the no-op build"; }
expect_contains "$out" "no work to do" "no-op build"

# A take removed: its file goes; one added: its file comes.
takes "" bend
out=$(build) || { echo "$out"; fail "the build after removing a take"; }
[ "$(listing every)" = "takes.animbin takes.bend.animbin takes.take0.animbin takes.takes.txt " ] ||
  fail "after removing lift: $(listing every)"
takes "" bend lift Jump
out=$(build) || { echo "$out"; fail "the build after adding takes"; }
[ "$(listing every)" = "takes.%4Aump.animbin takes.animbin takes.bend.animbin takes.lift.animbin takes.take0.animbin takes.takes.txt " ] ||
  fail "after adding lift and Jump: $(listing every)"
expect_contains "$(cat "$b/every/takes.takes.txt")" $'takes.%4Aump.animbin\t3\t\'Jump\'\tmodel' "the record"

# 'bend' shared by two takes: each is take<N>, so the declared file cannot be made.
takes "" bend bend
if out=$(build); then fail "a declared take name shared by two takes built"; fi
expect_contains "$out" "takes.bend.animbin is declared, but no take is written there: the takes 1, 2 share the name 'bend'" "shared name"
[ ! -e "$b/named/takes.animbin" ] || fail "the failed edge left its output"
# Debian's Assimp test models with several takes (assimp-testmodels): all 52
# through varndel_add_models, each equal to the edge's file.
corpus=/usr/share/assimp/models
if [ -d "$corpus/MDL" ]; then
  hl1="MDL/MDL (HL1)"
  mkdir -p "$work/corpus"
  cat >"$work/corpus/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(corpus NONE)
add_executable(Varndel::edge IMPORTED)
set_target_properties(Varndel::edge PROPERTIES IMPORTED_LOCATION "$edge")
include("$source_dir/cmake/VarndelModels.cmake")
varndel_add_models(corpus ANIMATED ASSET_ROOT "$corpus" ANIMATIONS all ALL MODELS
  "$corpus/$hl1/man.mdl" "$corpus/$hl1/duplicate_sequences.mdl" "$corpus/$hl1/sequence_transitions.mdl"
  "$corpus/$hl1/unnamed_sequences.mdl" "$corpus/$hl1/duplicate_sequence_groups/duplicate_sequence_groups.mdl"
  "$corpus/$hl1/unnamed_sequence_groups/unnamed_sequence_groups.mdl" "$corpus/X/Testwuson.X")
CMAKE
  cmake -S "$work/corpus" -B "$work/corpus-build" -G Ninja >"$work/corpus.log" 2>&1 &&
    cmake --build "$work/corpus-build" >>"$work/corpus.log" 2>&1 || { cat "$work/corpus.log"; fail "the corpus build"; }
  [ "$(cat "$work/corpus-build"/*.takes.txt | grep -vc '^#')" = 52 ] || fail "not 52 takes: $(cat "$work/corpus-build"/*.takes.txt)"
  "$edge" --animation all 1 0 "$corpus" "$hl1/man.mdl" "$work/edge/man.animbin" "$work/edge/log" || fail "the edge on man.mdl"
  for file in "$work/edge"/man.*.animbin; do expect_same "$file" "$work/corpus-build/$(basename "$file")"; done
fi
echo "varndel_add_models ANIMATIONS OK"
