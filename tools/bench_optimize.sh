#!/usr/bin/env bash
# The GPU-order step against gltfpack over every glTF model of Debian's
# assimp-testmodels that Varndel compiles (static, UVs as stored):
#   before    Varndel's output
#   after     the same file through varndel-opt
#   no-od     the same with --no-overdraw
#   gltfpack  `gltfpack -noq` on the source, read back through Assimp
# All three are measured with meshoptimizer's analyzeVertexCache (16-entry
# FIFO), ACMR weighted by triangles over the meshes. Per model it prints the
# three ACMRs, the time of the compile (the Varndel process, best of three)
# and of the step alone (in process, best of three), then a summary.
# Not run by CI: timings need a quiet machine.
#
# Usage: tools/bench_optimize.sh [build-dir]   (default: build-bench, configured
#        with -DVARNDEL_BENCH=ON so that varndel_gpu_figures is built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-bench}")

packages=(gltfpack assimp-testmodels)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
for tool in Varndel opt/varndel-opt varndel_gpu_figures; do
  [ -x "$build/$tool" ] || { echo "missing $build/$tool: tools/build.sh ${1:-build-bench} -DVARNDEL_BENCH=ON" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now() { date +%s%N; }
# Best of three wall times of a command, in milliseconds.
best_ms() {
  local best="" start end ms
  for _ in 1 2 3; do
    start=$(now)
    "$@" >/dev/null 2>&1 || return 1
    end=$(now)
    ms=$(((end - start) / 1000000))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

printf '%-58s %9s %8s %8s %8s %8s %9s %8s %6s\n' model triangles before after no-od gltfpack compile-ms step-ms step%
n=0 worse_than_before=0 worse_than_gltfpack=0 no_od_worse_than_gltfpack=0 compared=0
ratios=()
while IFS= read -r model; do
  name=${model#/usr/share/assimp/models/}
  dir=$work/$n
  n=$((n + 1))
  cp -r "$(dirname "$model")" "$dir"
  input=$dir/$(basename "$model")
  compile_ms=$(best_ms "$build/Varndel" 0 0 "$input" m) || continue
  [ -f "$dir/m.staticbin" ] || continue
  "$build/opt/varndel-opt" "$dir/m.staticbin" -o "$dir/opt.staticbin" >/dev/null 2>&1 || { echo "$name: varndel-opt failed" >&2; continue; }
  "$build/opt/varndel-opt" "$dir/m.staticbin" -o "$dir/no-od.staticbin" --no-overdraw >/dev/null 2>&1
  step_ms=$("$build/varndel_gpu_figures" --time "$dir/m.staticbin")
  read -r before triangles < <("$build/varndel_gpu_figures" "$dir/m.staticbin")
  read -r after _ < <("$build/varndel_gpu_figures" "$dir/opt.staticbin")
  read -r no_od _ < <("$build/varndel_gpu_figures" "$dir/no-od.staticbin")
  [ "$triangles" -gt 0 ] || continue
  gltfpack=-
  if gltfpack -noq -i "$input" -o "$dir/packed.glb" >/dev/null 2>&1; then
    read -r gltfpack _ < <("$build/varndel_gpu_figures" "$dir/packed.glb" || true)
  fi
  if awk -v a="$after" -v b="$before" 'BEGIN { exit !(a > b + 1e-4) }'; then worse_than_before=$((worse_than_before + 1)); fi
  if [ "$gltfpack" != - ]; then
    compared=$((compared + 1))
    if awk -v a="$after" -v g="$gltfpack" 'BEGIN { exit !(a > g + 1e-4) }'; then
      worse_than_gltfpack=$((worse_than_gltfpack + 1))
    fi
    if awk -v a="$no_od" -v g="$gltfpack" 'BEGIN { exit !(a > g + 1e-4) }'; then
      no_od_worse_than_gltfpack=$((no_od_worse_than_gltfpack + 1))
    fi
  fi
  share=$(awk -v s="$step_ms" -v c="$compile_ms" 'BEGIN { printf "%.1f", (c > 0 ? 100 * s / c : 0) }')
  ratios+=("$share")
  printf '%-58s %9s %8s %8s %8s %8s %9s %8s %6s\n' "$name" "$triangles" "$before" "$after" "$no_od" "$gltfpack" \
    "$compile_ms" "$step_ms" "$share"
done < <(dpkg -L assimp-testmodels | grep -iE '\.(gltf|glb)$' | sort)

median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : "-" }')
echo
echo "models compiled: ${#ratios[@]}; gltfpack read: $compared"
echo "ACMR after the step worse than before: $worse_than_before; worse than gltfpack: $worse_than_gltfpack" \
  "(with --no-overdraw: $no_od_worse_than_gltfpack)"
echo "step time as a share of the compile (median): $median %"
