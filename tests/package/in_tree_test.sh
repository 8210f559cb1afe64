#!/usr/bin/env bash
# varndel_add_models used from this source tree: the test targets compile the
# examples exactly as direct runs in the project root would.
# Usage: in_tree_test.sh <build-dir> <Varndel> <examples-dir> <targets' binary dir> <scratch>
source "$(dirname "$0")/lib.sh"
build=$1 varndel=$2 examples=$3 outputs=$4 work=$5

fresh_dir "$work/examples"
cmake --build "$build" --target varndel_test_static varndel_test_animated >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the in-tree model targets failed"; }
cp "$examples/crate.obj" "$examples/crate.mtl" "$examples/walker.gltf" "$work/examples/"
(cd "$work" && "$varndel" 0 0 examples/crate.obj && "$varndel" 1 0 examples/walker.gltf) >/dev/null
expect_same "$outputs/crate.staticbin" "$work/examples/crate.staticbin"
expect_same "$outputs/animated/walker.animbin" "$work/examples/walker.animbin"
echo "in-tree varndel_add_models OK"
