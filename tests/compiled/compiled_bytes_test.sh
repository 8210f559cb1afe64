#!/usr/bin/env bash
# Compiles every example and fixture model as static and as animated, with and
# without flipped UVs, and compares the SHA-256 of each compiled file, console
# text and log with the committed list. A change of any compiler output shows
# here as a changed line, so a commit that moves bytes says which.
# Usage: compiled_bytes_test.sh <Varndel> <source-root> [--update]
set -euo pipefail
varndel="$(realpath "$1")"
root="$(realpath "$2")"
list="$root/tests/compiled/compiled.sha256"
update="${3:-}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The models keep their side files; relative paths keep absolute ones out of
# the console text and the log.
mkdir -p "$work/examples" "$work/fixtures"
cp -r "$root/examples/." "$work/examples/"
cp -r "$root/tests/fixtures/." "$work/fixtures/"
cd "$work"

models=$(find examples fixtures -type f \( -name '*.obj' -o -name '*.OBJ' -o -name '*.gltf' -o -name '*.glb' -o -name '*.fbx' -o -name '*.bvh' \) | LC_ALL=C sort)
actual="$work/actual.sha256"
: >"$actual"
for model in $models; do
  for animated in 0 1; do
    for flip in 0 1; do
      rm -rf Logs
      status=0
      "$varndel" "$animated" "$flip" "$model" >console.txt 2>&1 || status=$?
      extension=staticbin
      [ "$animated" = 1 ] && extension=animbin
      output="${model%.*}.$extension"
      tag="$animated $flip $model"
      echo "$(sha256sum <console.txt | cut -c1-64)  $tag console exit=$status" >>"$actual"
      echo "$(sha256sum <Logs/Log.txt | cut -c1-64)  $tag log" >>"$actual"
      if [ -f "$output" ]; then
        echo "$(sha256sum <"$output" | cut -c1-64)  $tag file" >>"$actual"
        rm -f "$output"
      fi
    done
  done
done

if [ "$update" = "--update" ]; then
  cp "$actual" "$list"
  echo "wrote $list"
  exit 0
fi
if ! diff -u "$list" "$actual"; then
  echo "compiled outputs differ from $list (lines above: - expected, + actual)" >&2
  exit 1
fi
echo "$(wc -l <"$actual") outputs as listed"
