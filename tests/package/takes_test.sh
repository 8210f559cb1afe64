#!/usr/bin/env bash
# varndel_add_models with ANIMATIONS: a name becomes a declared file, "all"
# a record; a take added to or removed from the source reruns the edge and
# adds or drops its file; a declared name that stops naming one take fails.
# Usage: takes_test.sh <source-dir> <varndel-edge> <scratch>
source "$(dirname "$0")/lib.sh"
source_dir=$1 edge=$(realpath "$2") work=$3

fresh_dir "$work/src"
src=$work/src
# The fixture's takes are '', 'Bend' and 'bend': the third is renamed, so
# that 'Bend' names one file of its own.
takes() {  # <name>...: the fixture with these takes (the first three's keys, cycled)
  python3 - "$source_dir/tests/fixtures/takes.gltf" "$@" >"$src/takes.gltf" <<'PY'
import json, sys
gltf = json.load(open(sys.argv[1]))
base = gltf["animations"]
gltf["animations"] = [dict(base[i % len(base)], name=name) for i, name in enumerate(sys.argv[2:])]
json.dump(gltf, sys.stdout)
PY
}
takes "" Bend Lift
cat >"$src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.20)
project(takes NONE)
add_executable(Varndel::edge IMPORTED)
set_target_properties(Varndel::edge PROPERTIES IMPORTED_LOCATION "$edge")
include("$source_dir/cmake/VarndelModels.cmake")
varndel_add_models(named ANIMATED MODELS takes.gltf ANIMATIONS Bend OUTPUT_DIRECTORY named ALL)
varndel_add_models(every ANIMATED MODELS takes.gltf ANIMATIONS all OUTPUT_DIRECTORY every ALL)
CMAKE
b=$work/build
cmake -S "$src" -B "$b" -G Ninja >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
grep -qE "^build [^:]*named/takes.Bend.animbin" "$b/build.ninja" || fail "named/takes.Bend.animbin is not a declared output"

build() { cmake --build "$b" 2>&1; }
listing() { (cd "$b/$1" && ls -1 | grep -v '^log$' | tr '\n' ' '); }
out=$(build) || { echo "$out"; fail "the first build"; }
[ "$(listing named)" = "takes.Bend.animbin takes.animbin takes.takes.txt " ] || fail "named: $(listing named)"
[ "$(listing every)" = "takes.Bend.animbin takes.Lift.animbin takes.animbin takes.take0.animbin takes.takes.txt " ] ||
  fail "every: $(listing every)"
expect_same "$b/named/takes.Bend.animbin" "$b/every/takes.Bend.animbin"

out=$(build) || { echo "$out"; fail "the no-op build"; }
expect_contains "$out" "no work to do" "no-op build"

# A take removed: its file goes; one added: its file comes.
takes "" Bend
out=$(build) || { echo "$out"; fail "the build after removing a take"; }
[ "$(listing every)" = "takes.Bend.animbin takes.animbin takes.take0.animbin takes.takes.txt " ] ||
  fail "after removing Lift: $(listing every)"
takes "" Bend Lift Jump
out=$(build) || { echo "$out"; fail "the build after adding takes"; }
[ "$(listing every)" = "takes.Bend.animbin takes.Jump.animbin takes.Lift.animbin takes.animbin takes.take0.animbin takes.takes.txt " ] ||
  fail "after adding Lift and Jump: $(listing every)"
expect_contains "$(cat "$b/every/takes.takes.txt")" $'takes.Jump.animbin\t3\t\'Jump\'\tmodel' "the record"

# 'Bend' shared by two takes: each is take<N>, so the declared file cannot be made.
takes "" Bend Bend
if out=$(build); then fail "a declared take name shared by two takes built"; fi
expect_contains "$out" "takes.Bend.animbin is declared, but no take is written there: the takes 1, 2 share the name 'Bend'" "shared name"
[ ! -e "$b/named/takes.animbin" ] || fail "the failed edge left its output"
echo "varndel_add_models ANIMATIONS OK"
