#!/usr/bin/env bash
# Key reduction (varndel::ReduceKeys) on the baked clip of bench/baked_clip.h,
# the walker, and every model of Debian's assimp-testmodels that Varndel
# compiles as an animated model with keys: keys and animation bytes before
# and after, the error the player measures (at the default distance D), and
# the time of the step, at 0, 0.1 % and 1 % of each model's bounding-box
# diagonal. `varndel_reduce_keys_figures --cost` times the clips that show
# how the cost grows (bench/cost_clips.h).
# Not run by CI: timings need a quiet machine.
#
# Usage: tools/bench_reduce_keys.sh [build-dir]   (default: build-bench, configured
#        with -DVARNDEL_BENCH=ON so that varndel_reduce_keys_figures is built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-bench}")
for tool in Varndel varndel_reduce_keys_figures; do
  [ -x "$build/$tool" ] || { echo "missing $build/$tool: tools/build.sh ${1:-build-bench} -DVARNDEL_BENCH=ON" >&2; exit 2; }
done
[ -d /usr/share/assimp/models ] || { echo "missing /usr/share/assimp/models: apt-get install assimp-testmodels" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files=()
cp examples/walker.gltf "$work/walker.gltf"
(cd "$work" && "$build/Varndel" 1 0 walker.gltf walker >/dev/null 2>&1) && files+=("$work/walker.animbin")
n=0
while IFS= read -r model; do
  name=${model#/usr/share/assimp/models/}
  dir=$work/$n
  n=$((n + 1))
  mkdir -p "$dir/$(dirname "$name")"
  cp -r "$(dirname "$model")/." "$dir/$(dirname "$name")/"
  stem=$(basename "${name%.*}")
  (cd "$dir/$(dirname "$name")" && timeout 60 "$build/Varndel" 1 0 "$(basename "$name")" "$stem" >/dev/null 2>&1) ||
    continue
  files+=("$dir/$(dirname "$name")/$stem.animbin")
done < <(find /usr/share/assimp/models -type f \( -iname '*.gltf' -o -iname '*.glb' -o -iname '*.fbx' -o -iname '*.dae' \
  -o -iname '*.bvh' -o -iname '*.md5mesh' -o -iname '*.x' -o -iname '*.smd' -o -iname '*.ms3d' -o -iname '*.b3d' \
  -o -iname '*.md2' -o -iname '*.md3' -o -iname '*.mdl' -o -iname '*.irr' -o -iname '*.ogre' -o -iname '*.mesh.xml' \
  -o -iname '*.csm' -o -iname '*.lws' -o -iname '*.3ds' -o -iname '*.ase' -o -iname '*.cob' -o -iname '*.iqm' \
  -o -iname '*.m3d' \) | sort)
# Files without keys are skipped by the figures program.
VARNDEL_LABEL_PREFIX="$work/" "$build/varndel_reduce_keys_figures" "${files[@]}" | sed -E 's#^[0-9]+/##'
