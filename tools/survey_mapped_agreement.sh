#!/usr/bin/env bash
# Compiles every model of a corpus (default: Debian's assimp-testmodels),
# static and animated, and checks that every file Varndel wrote is read
# alike by ReadModel, ReadModelFile and the mapped view over the bytes and
# over the file (the gtest MappedModel.AgreesOnEveryFileOfASurvey). Not run
# by CI: it takes several minutes. Usage:
#   tools/survey_mapped_agreement.sh [build-dir] [corpus-dir] [work-dir]
set -euo pipefail
build=$(realpath "${1:-build}")
corpus=$(realpath "${2:-/usr/share/assimp/models}")
work=${3:-$(mktemp -d)}
mkdir -p "$work"
work=$(realpath "$work")
# A work folder is filled only while empty, so nothing of the user's is removed.
[ -z "$(ls -A "$work")" ] || { echo "survey: $work is not empty" >&2; exit 2; }
cp -r "$corpus" "$work/corpus"  # Varndel writes beside the model
tried=0
while IFS= read -r -d '' model; do
  case "${model,,}" in *.png | *.jpg | *.jpeg | *.tga | *.bmp | *.dds | *.txt | *.mtl | *.glsl | *.bin | *.xml) continue ;; esac
  tried=$((tried + 1))
  for animated in 0 1; do
    (cd "$(dirname "$model")" && timeout 60 "$build/Varndel" "$animated" 0 "$(basename "$model")") >/dev/null 2>&1 || true
  done
done < <(find "$work/corpus" -type f -print0 | sort -z)
echo "tried $tried model files; $(find "$work/corpus" -name '*.staticbin' -o -name '*.animbin' | wc -l) compiled files"
VARNDEL_SURVEY_DIR="$work/corpus" "$build/varndel_tests" --gtest_filter='MappedModel.AgreesOnEveryFileOfASurvey'
