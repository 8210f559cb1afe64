#!/usr/bin/env bash
# The consumer example builds against the installed package alone, reads
# compiled examples, and refuses a damaged file with a clean error.
# Usage: consumer_test.sh <prefix> <examples-dir> <scratch>
source "$(dirname "$0")/lib.sh"
prefix=$1 examples=$2 work=$3

fresh_dir "$work"
build_against_install "$examples/consumer" "$prefix" "$work" "the consumer"
consumer=$work/build/consumer

mkdir "$work/models"
cp "$examples/crate.obj" "$examples/crate.mtl" "$examples/walker.gltf" "$work/models/"
(cd "$work" && "$prefix/bin/Varndel" 0 0 models/crate.obj && "$prefix/bin/Varndel" 1 0 models/walker.gltf) >/dev/null

out=$("$consumer" "$work/models/crate.staticbin") || fail "the consumer refused crate.staticbin"
expect_contains "$out" "static model, 1 meshes, 3 textures" "crate"
expect_contains "$out" "mesh 0: 24 vertices, 36 indices" "crate"
expect_contains "$out" 'texture models\crate_specular.png (type 2)' "crate"
out=$("$consumer" "$work/models/walker.animbin") || fail "the consumer refused walker.animbin"
expect_contains "$out" "animated model, 2 meshes" "walker"
expect_contains "$out" "      Head" "walker hierarchy"

head -c 100 "$work/models/walker.animbin" >"$work/cut.animbin"
if err=$("$consumer" "$work/cut.animbin" 2>&1); then fail "the consumer accepted a cut file"; fi
expect_contains "$err" "offset " "cut file"
echo "consumer OK"
