#!/usr/bin/env bash
# The Bazel rules with animations = [...]: each named take is a declared file
# equal to varndel-edge's, sandboxed and local; a take's change in the source
# reruns the model; a named take that leaves the source fails the build,
# naming the takes; a name added to animations adds its file.
# Usage: takes_test.sh <source-dir> <build-dir> <scratch>
source "$(dirname "$0")/../package/lib.sh"
source_dir=$1 build=$(realpath "$2") work=$3

fresh_dir "$work"
ws=$work/ws
mkdir -p "$ws"
startup=(--output_user_root="$work/user-root" --nohome_rc --max_idle_secs=120)
trap '(cd "$ws" && bazel "${startup[@]}" shutdown) >/dev/null 2>&1 || true' EXIT
takes() {  # <name>...: the fixture with these takes (its keys, cycled)
  python3 - "$source_dir/tests/fixtures/takes.gltf" "$@" >"$ws/takes.gltf" <<'PY'
import json, sys
gltf = json.load(open(sys.argv[1]))
base = gltf["animations"]
gltf["animations"] = [dict(base[i % len(base)], name=name) for i, name in enumerate(sys.argv[2:])]
json.dump(gltf, sys.stdout)
PY
}
cat >"$ws/WORKSPACE" <<WS
local_repository(name = "varndel", path = "$source_dir")
load("@varndel//bazel:repositories.bzl", "varndel_tools")
varndel_tools(prefix = "$build")
WS
rules() {  # <animations list>
  cat >"$ws/BUILD.bazel" <<BUILD
load("@varndel//bazel:defs.bzl", "varndel_models")
varndel_models(name = "takes", srcs = ["takes.gltf"], animated = True, animations = $1)
BUILD
}
bazel_build() { (cd "$ws" && bazel "${startup[@]}" build //:takes "$@") >"$work/bazel.log" 2>&1; }

takes "" bend lift
rules '["bend", "lift"]'
bazel_build || { cat "$work/bazel.log"; fail "the first build"; }
"$build/edge/varndel-edge" --animation all 1 0 "$ws" takes.gltf "$work/edge/takes.animbin" "$work/edge/log" ||
  fail "the edge's reference"
for file in takes.animbin takes.bend.animbin takes.lift.animbin; do expect_same "$ws/bazel-bin/$file" "$work/edge/$file"; done
grep -qF $'takes.lift.animbin\t2\t\'lift\'\tmodel' "$ws/bazel-bin/takes.takes.txt" || fail "the record: $(cat "$ws/bazel-bin/takes.takes.txt")"

# Local execution gives the sandbox's bytes.
cp "$ws/bazel-bin/takes.bend.animbin" "$work/sandboxed.animbin"
(cd "$ws" && bazel "${startup[@]}" clean) >/dev/null 2>&1
bazel_build --spawn_strategy=local || { cat "$work/bazel.log"; fail "the local build"; }
expect_same "$ws/bazel-bin/takes.bend.animbin" "$work/sandboxed.animbin"

# A take changed in the source (bend's keys become the third take's): rerun.
takes "" lift bend
bazel_build || { cat "$work/bazel.log"; fail "the build after reordering"; }
cmp -s "$ws/bazel-bin/takes.bend.animbin" "$work/sandboxed.animbin" && fail "the changed take's file did not change"

# A named take gone from the source fails, listing the takes.
takes "" bend
if bazel_build; then fail "a build whose named take left the source passed"; fi
expect_contains "$(cat "$work/bazel.log")" "--animation 'lift' selects no take of 'takes.gltf'; its takes:" "the failure"

# A name added to animations adds its file.
takes "" bend lift jump
rules '["bend", "lift", "jump"]'
bazel_build || { cat "$work/bazel.log"; fail "the build with jump"; }
[ -f "$ws/bazel-bin/takes.jump.animbin" ] || fail "no takes.jump.animbin"

# What Bazel cannot declare is refused when the rules are read.
rules '["all"]'
if bazel_build; then fail "animations = [\"all\"] was accepted"; fi
expect_contains "$(cat "$work/bazel.log")" "is not a plain take name" "the refusal of 'all'"
echo "Bazel animations OK"
