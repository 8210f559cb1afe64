#!/usr/bin/env bash
# Compiles a library of small models three ways and prints the medians:
#   bare     Varndel run on each model in turn, from a shell loop
#   ninja-1  varndel_add_models built with ninja -j1 (one edge per model)
#   ninja-2  the same with ninja -j2
#   no-op    ninja with nothing to do
# The edge overhead is ninja-1 against bare; the speed-up is ninja-1 / ninja-2.
# Each round runs bare, ninja-1 and ninja-2 back to back, and the ratios are
# taken within a round, so a machine whose speed drifts between rounds still
# gives a fair ratio; the medians over the rounds are printed.
# Not run by CI: timings need a quiet machine.
#
# Usage: tools/bench_models.sh [build-dir [models [rounds]]]   (default: build 48 11)
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
rounds=${3:-11}
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

# One run of one way: "<wall> <cpu>" in seconds, cpu being the user and
# system time of every process the run waited for.
time_one() {
  local TIMEFORMAT='%3R %3U %3S' times
  times=$({ time run_one "$1" "$work" 2>/dev/null; } 2>&1)
  awk '{ printf "%s %.3f", $1, $2 + $3 }' <<<"$times"
}

# One line a round: wall and cpu of bare, ninja-1, ninja-2 and no-op. The
# order of the first three rotates from round to round.
ways=(bare ninja-1 ninja-2)
for ((r = 0; r < rounds; ++r)); do
  declare -A took=()
  for ((w = 0; w < 3; ++w)); do
    way=${ways[$(((r + w) % 3))]}
    took[$way]=$(time_one "$way")
  done
  echo "${took[bare]} ${took[ninja-1]} ${took[ninja-2]} $(time_one no-op)"
done >"$work/rounds.txt"

echo "$count models, $rounds rounds, $(nproc) cores, load average now $(cut -d' ' -f1-3 /proc/loadavg)"
awk '
  function median(values, n,    sorted, i, j, t) {
    for (i = 1; i <= n; ++i) sorted[i] = values[i]
    for (i = 2; i <= n; ++i)
      for (j = i; j > 1 && sorted[j - 1] > sorted[j]; --j) { t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t }
    return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
  }
  { ++n; bare[n] = $1; bareCpu[n] = $2; j1[n] = $3; j1Cpu[n] = $4; j2[n] = $5; noop[n] = $7
    overhead[n] = $3 / $1; overheadCpu[n] = $4 / $2; speedup[n] = $3 / $5 }
  END {
    print "medians       wall      cpu"
    printf "bare runs    %6.3f s  %6.3f s\n", median(bare, n), median(bareCpu, n)
    printf "ninja -j1    %6.3f s  %6.3f s   edge overhead %+.1f %% wall, %+.1f %% cpu\n", median(j1, n), median(j1Cpu, n),
           (median(overhead, n) - 1) * 100, (median(overheadCpu, n) - 1) * 100
    printf "ninja -j2    %6.3f s             speed-up over -j1 %.2fx\n", median(j2, n), median(speedup, n)
    printf "no-op build  %6.3f s\n", median(noop, n)
    print "(overhead and speed-up: medians of the ratios within each round)"
  }' "$work/rounds.txt"
