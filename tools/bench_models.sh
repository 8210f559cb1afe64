#!/usr/bin/env bash
# Compiles a library of small models three ways and prints the medians:
#   bare     Varndel run on each model in turn, from a shell loop
#   ninja-1  varndel_add_models built with ninja -j1 (one edge per model)
#   ninja-2  the same with ninja -j2
#   no-op    ninja with nothing to do
# The edge overhead is ninja-1 against bare; the speed-up is ninja-1 / ninja-2.
# Not run by CI: timings need a quiet machine.
#
# Usage: tools/bench_models.sh [build-dir [models [runs]]]   (default: build 48 5)
#        tools/bench_models.sh run <bare|ninja-1|ninja-2|no-op> <work-dir>
#          times nothing: one clean run of one way, for an external timer
set -euo pipefail

# One run of one way in a prepared work directory, starting from no outputs.
run_one() {
  local way=$1 work
  work=$(realpath "$2")
  case $way in
    bare)
      rm -f "$work/assets/models/"*.staticbin
      (cd "$work/assets" && for model in models/*.obj; do "$work/prefix/bin/Varndel" 0 0 "$model" >/dev/null; done)
      ;;
    ninja-1 | ninja-2)
      rm -f "$work/build/"*.staticbin
      ninja -C "$work/build" -j"${way#ninja-}" >/dev/null
      ;;
    no-op) ninja -C "$work/build" >/dev/null ;;
    *)
      echo "unknown way: $way" >&2
      exit 2
      ;;
  esac
}

if [ "${1:-}" = run ]; then
  run_one "$2" "$3"
  exit 0
fi

cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
count=${2:-48}
runs=${3:-5}
work=$build/bench-models
rm -rf "$work"
mkdir -p "$work/assets/models"

cmake --install "$build" --prefix "$work/prefix" >/dev/null

# Small models: textured grids of 20x20 to 43x43 quads (800 to 3700
# triangles), all sharing one material file.
printf 'newmtl Ground\nmap_Kd textures/ground.png\n' >"$work/assets/models/ground.mtl"
for ((i = 0; i < count; ++i)); do
  awk -v n=$((20 + i % 24)) 'BEGIN {
    print "mtllib ground.mtl"
    for (y = 0; y <= n; ++y) for (x = 0; x <= n; ++x) {
      printf "v %g %g %g\n", x / n, y / n, 0.05 * sin(x + y)
      printf "vt %g %g\n", x / n, y / n
    }
    print "vn 0 0 1"
    print "usemtl Ground"
    for (y = 0; y < n; ++y) for (x = 0; x < n; ++x) {
      a = y * (n + 1) + x + 1; b = a + 1; c = a + n + 2; d = a + n + 1
      printf "f %d/%d/1 %d/%d/1 %d/%d/1 %d/%d/1\n", a, a, b, b, c, c, d, d
    }
  }' >"$work/assets/models/tile$i.obj"
done

cat >"$work/assets/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(BenchModels NONE)
find_package(Varndel CONFIG REQUIRED)
file(GLOB models RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" models/*.obj)
varndel_add_models(models ALL MODELS ${models})
CMAKE
cmake -S "$work/assets" -B "$work/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
run_one ninja-1 "$work" # warm-up: caches, and the deps log for the no-op run

# Median wall time of runs runs of one way, in seconds. Each run starts from
# no outputs, except no-op, which follows the ninja runs.
median() {
  local way=$1 times=() start end
  for ((r = 0; r < runs; ++r)); do
    start=$(date +%s%N)
    run_one "$way" "$work"
    end=$(date +%s%N)
    times+=("$((end - start))")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p" | awk '{ printf "%.4f", $1 / 1e9 }'
}

bare=$(median bare)
j1=$(median ninja-1)
j2=$(median ninja-2)
noop=$(median no-op)
echo "$count models, median of $runs runs, $(nproc) cores, load average now $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v bare="$bare" -v j1="$j1" -v j2="$j2" -v noop="$noop" 'BEGIN {
  printf "bare runs    %8.3f s\n", bare
  printf "ninja -j1    %8.3f s   edge overhead %+.1f %%\n", j1, (j1 / bare - 1) * 100
  printf "ninja -j2    %8.3f s   speed-up over -j1 %.2fx\n", j2, j1 / j2
  printf "no-op build  %8.3f s\n", noop
}'
