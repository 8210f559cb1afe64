#!/usr/bin/env bash
# Compiles every model of a corpus (default: Debian's assimp-testmodels) that
# names embedded textures through varndel-edge --extract-textures, compares
# the compiled bytes with a direct Varndel run, and runs varndel-inspect check
# on the result. Not run by CI (it needs the corpus and a few minutes).
#   tools/survey_embedded_textures.sh [build-dir] [corpus-dir] [models.txt]
# models.txt: paths relative to the corpus, one per line; by default the 26
# models of assimp-testmodels 5.2 whose scene holds embedded textures
# (aiScene::mNumTextures > 0).
set -euo pipefail
build=$(realpath "${1:-build}")
corpus=$(realpath "${2:-/usr/share/assimp/models}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$corpus" "$work/corpus"   # Varndel writes beside the model
if [ -n "${3:-}" ]; then
  exec <"$3"
else
  exec < <(cat <<'MODELS'
BLEND/TexturedPlane_ImageUvPacked_248.blend
Collada/duck.zae
Collada/duck_nomanifest.zae
Collada/human.zae
FBX/box_orphant_embedded_texture.fbx
FBX/embedded_ascii/box.FBX
FBX/embedded_ascii/box_embedded_texture_fragmented.fbx
MDL/MDL (HL1)/alpha_test.mdl
MDL/MDL (HL1)/blend_additive.mdl
MDL/MDL (HL1)/chrome_sphere.mdl
MDL/MDL (HL1)/duplicate_bodyparts.mdl
MDL/MDL (HL1)/duplicate_sequence_groups/duplicate_sequence_groups.mdl
MDL/MDL (HL1)/duplicate_sequences.mdl
MDL/MDL (HL1)/duplicate_submodels.mdl
MDL/MDL (HL1)/man.mdl
MDL/MDL (HL1)/manT.mdl
MDL/MDL (HL1)/sequence_transitions.mdl
MDL/MDL (HL1)/unnamed_bodyparts.mdl
MDL/MDL (HL1)/unnamed_bones.mdl
MDL/MDL (HL1)/unnamed_sequence_groups/unnamed_sequence_groups.mdl
MDL/MDL (HL1)/unnamed_sequences.mdl
MDL/MDL3 (3DGS A4)/minigun.MDL
MDL/MDL5 (3DGS A5)/minigun_mdl5.mdl
glTF/BoxTextured-glTF-Embedded/BoxTextured.gltf
glTF2/BoxTextured-glTF-Binary/BoxTextured.glb
glTF2/BoxTextured-glTF-Embedded/BoxTextured.gltf
MODELS
)
fi
same=0 differ=0 failed=0 clean=0 extracted=0 models=0
while IFS= read -r model; do
  [ -n "$model" ] || continue
  models=$((models + 1))
  stem=$(basename "${model%.*}")
  out="$work/out/$models"
  mkdir -p "$out"
  direct="$work/corpus/$(dirname "$model")/$stem.staticbin"
  if ! (cd "$work/corpus" && "$build/Varndel" 0 0 "$model" > /dev/null 2>&1) ||
     ! "$build/edge/varndel-edge" --extract-textures "$out/$stem.textures" 0 0 "$work/corpus" "$model" \
         "$out/$stem.staticbin" "$out/log" 2> "$out/stderr"; then
    echo "FAILED  $model"; failed=$((failed + 1)); continue
  fi
  if cmp -s "$direct" "$out/$stem.staticbin"; then same=$((same + 1)); else differ=$((differ + 1)); echo "DIFFERS $model"; fi
  files=$(ls "$out/$stem.textures" | wc -l)
  extracted=$((extracted + files))
  report=$(cd "$out" && "$build/inspect/varndel-inspect" check "$stem.staticbin" | tail -1)
  [[ "$report" == *"0 errors, 0 warnings" ]] && clean=$((clean + 1))
  echo "$files extracted ($(ls "$out/$stem.textures" | tr '\n' ' '))  check: $report  $model"
done
echo "$models models: $same same bytes, $differ differ, $failed failed; $extracted files extracted; $clean checked clean"
