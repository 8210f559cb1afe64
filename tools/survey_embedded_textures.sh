#!/usr/bin/env bash
# Compiles every model of a corpus (default: Debian's assimp-testmodels) that
# names embedded textures through varndel-edge --extract-textures, compares
# the compiled bytes with a direct Varndel run, and runs varndel-inspect check
# on the result. Not run by CI (it needs the corpus and a few minutes).
#   tools/survey_embedded_textures.sh [build-dir] [corpus-dir] < models.txt
# models.txt: paths relative to the corpus, one per line (the models whose
# scene holds embedded textures).
set -euo pipefail
build=$(realpath "${1:-build}")
corpus=$(realpath "${2:-/usr/share/assimp/models}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$corpus" "$work/corpus"   # Varndel writes beside the model
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
