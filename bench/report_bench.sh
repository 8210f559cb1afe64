#!/usr/bin/env bash
# The library report against rendering its pictures alone: a library of 60
# models of the Assimp test corpus (Debian's assimp-testmodels), compiled by
# Varndel (the animated formats as .animbin), then
#   A: varndel-inspect report LIB -o report.html -j J
#   B: varndel-inspect render per file, J at once (xargs -P J), at the size
#      and frames the report draws (3 x --thumb; 4 frames of an animated file)
# each the best of three runs. Not a test: prints the figures.
# Usage: bench/report_bench.sh <build-dir> [jobs] [corpus-dir] [work-dir]
set -euo pipefail
build=$(realpath "$1")
jobs=${2:-2}
corpus=$(realpath "${3:-/usr/share/assimp/models}")
work=${4:-$(mktemp -d)}
mkdir -p "$work"
work=$(realpath "$work")
inspect=$build/inspect/varndel-inspect
varndel=$build/Varndel

library=$work/library
if [ ! -f "$work/library.done" ]; then
  # A work folder is filled only while empty, so nothing of the user's is removed.
  [ -z "$(ls -A "$work")" ] || { echo "report_bench: $work is not empty and holds no finished library" >&2; exit 2; }
  cp -r "$corpus" "$work/corpus"   # Varndel writes beside the model
  mkdir -p "$library"
  count=0
  while IFS= read -r model && [ "$count" -lt 60 ]; do
    animated=0
    case "$model" in BVH/* | MD5/*.md5mesh | SMD/* | X/*) animated=1 ;; esac
    stem=$(basename "${model%.*}")
    extension=staticbin
    [ "$animated" = 1 ] && extension=animbin
    if (cd "$work/corpus/$(dirname "$model")" && timeout 60 "$varndel" "$animated" 0 "$(basename "$model")") \
      >/dev/null 2>&1 && [ -f "$work/corpus/$(dirname "$model")/$stem.$extension" ]; then
      target="$library/$(dirname "$model")"
      mkdir -p "$target"
      [ -e "$target/$stem.$extension" ] && continue
      mv "$work/corpus/$(dirname "$model")/$stem.$extension" "$target/"
      count=$((count + 1))
    fi
  done < <(cd "$work/corpus" && find OBJ PLY STL FBX glTF2 Collada 3DS BVH MD5 X -type f \
             \( -iname '*.obj' -o -iname '*.ply' -o -iname '*.stl' -o -iname '*.fbx' -o -iname '*.gltf' -o \
                -iname '*.glb' -o -iname '*.dae' -o -iname '*.3ds' -o -iname '*.bvh' -o -iname '*.md5mesh' -o \
                -iname '*.x' \) -size -4M | LC_ALL=C sort)
  touch "$work/library.done"
fi
files=$(find "$library" -name '*.staticbin' -o -name '*.animbin' | LC_ALL=C sort)
echo "library: $(grep -c . <<<"$files") files, $(du -sh "$library" | cut -f1)"

best() {  # best of three wall times of "$@", in seconds
  local best="" t start
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t=$(awk "BEGIN{print $(date +%s.%N) - $start}")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}
render_all() {
  mkdir -p "$work/renders"
  xargs -P "$jobs" -I{} sh -c 'case "$1" in *.animbin) f="--frames 4";; *) f="";; esac
    exec "$0" render "$1" -o "$2/$(echo "$1" | md5sum | cut -c1-16).png" --size 288x288 $f' \
    "$inspect" {} "$work/renders" <<<"$files"
}
report=$(best "$inspect" report "$library" -o "$work/report.html" -j "$jobs")
renders=$(best render_all)
echo "-j $jobs: report $report s, renders alone $renders s, ratio $(awk "BEGIN{printf \"%.2f\", $report / $renders}")"
echo "page: $(du -h "$work/report.html" | cut -f1)"
