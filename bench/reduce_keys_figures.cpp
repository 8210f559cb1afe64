// varndel_reduce_keys_figures [FILE.animbin...]: key reduction on the baked
// clip of baked_clip.h and on compiled files, at tolerances of 0, 0.1 % and
// 1 % of each model's bounding-box diagonal (mesh positions; for a skeleton
// without meshes, its joints over the animation), at the default distance
// (DefaultAnimationDistance). One line per model and tolerance: keys and
// animation bytes before and after, the error measured with the player
// (MeasureAnimationError), and the time of the step (the median of three
// runs). Used by tools/bench_reduce_keys.sh.
//
// varndel_reduce_keys_figures --cost: the time of the step (median of three
// runs) on the clips of cost_clips.h, which show how it grows with keys and
// with depth.
#include <varndel/optimize.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/baked_clip.h"
#include "bench/cost_clips.h"

namespace {

// Reduces a copy of model three times; returns the median time in ms, and
// the median processor time (the machine is shared: the wall clock counts
// the other builds too).
double TimeReduction(const varndel::Model& model, float tolerance, varndel::Model& reduced,
                     varndel::KeyReduction& result, double* cpuMs = nullptr) {
  double ms[3], cpu[3];
  for (int run = 0; run < 3; ++run) {
    reduced = model;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    result = varndel::ReduceKeys(reduced, tolerance);
    cpu[run] = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    ms[run] = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  std::sort(ms, ms + 3);
  std::sort(cpu, cpu + 3);
  if (cpuMs != nullptr) *cpuMs = cpu[1];
  return ms[1];
}

void Measure(const std::string& name, const varndel::Model& model) {
  const double diagonal = varndel::ModelDiagonal(model);
  for (const double share : {0.0, 0.001, 0.01}) {
    const float tolerance = float(share * diagonal);
    varndel::Model reduced;
    varndel::KeyReduction result;
    double cpu = 0;
    const double best = TimeReduction(model, tolerance, reduced, result, &cpu);
    const double error = varndel::MeasureAnimationError(model, reduced);
    std::printf("%-48s %6.1f%% %9.4g %8zu %8zu %5.1f%% %10zu %10zu %10.3g %s %9.1f %9.1f\n", name.c_str(), share * 100,
                double(tolerance), result.keysBefore, result.keysAfter,
                100.0 * (1.0 - double(result.keysAfter) / double(std::max<size_t>(1, result.keysBefore))),
                varndel::AnimationBytes(model.animation), varndel::AnimationBytes(reduced.animation), error,
                error <= tolerance ? "ok " : "BAD", best, cpu);
    std::fflush(stdout);
  }
}

}  // namespace

void MeasureCost() {
  std::printf("%-52s %7s %9s %8s %8s %10s %9s %9s\n", "clip", "tol", "tol-units", "keys", "after", "max-error",
              "step-ms", "cpu-ms");
  const auto line = [](const std::string& name, const varndel::Model& model, double share) {
    const float tolerance = float(share * varndel::ModelDiagonal(model));
    varndel::Model reduced;
    varndel::KeyReduction result;
    double cpu = 0;
    const double ms = TimeReduction(model, tolerance, reduced, result, &cpu);
    std::printf("%-52s %6.1f%% %9.4g %8zu %8zu %10.3g %9.0f %9.0f\n", name.c_str(), share * 100, double(tolerance),
                result.keysBefore, result.keysAfter, result.error, ms, cpu);
    std::fflush(stdout);
  };
  line("smooth capture, 30 joints, 8000 frames at 120 fps", MakeSmoothCapture(8000), 0.01);
  line("smooth capture, 30 joints, 32000 frames at 120 fps", MakeSmoothCapture(32000), 0.01);
  line("still capture, 30 joints, 32000 frames", MakeSmoothCapture(32000, 0.0), 0.0);
  line("chain of 16000 nodes, root track of 30+30 keys", MakeDeepChain(16000, 30), 0.01);
}

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--cost") == 0) {
    MeasureCost();
    return 0;
  }
  std::printf("%-48s %7s %9s %8s %8s %6s %10s %10s %10s %3s %9s %9s\n", "model", "tol", "tol-units", "keys", "after",
              "drop", "anim-bytes", "after", "max-error", "", "step-ms", "cpu-ms");
  Measure("baked clip (60 bones, 10 s at 30 fps)", MakeBakedClip());
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    varndel::Model model;
    varndel::ReadError error;
    if (!varndel::ReadModelFile(argv[i], model, &error)) {
      std::fprintf(stderr, "%s: %s\n", argv[i], varndel::FormatReadError(error).c_str());
      status = 1;
      continue;
    }
    if (varndel::CountKeys(model.animation) == 0) continue;  // nothing to reduce
    const char* label = std::getenv("VARNDEL_LABEL_PREFIX");
    std::string name = argv[i];
    if (label != nullptr && name.rfind(label, 0) == 0) name = name.substr(std::strlen(label));
    Measure(name, model);
  }
  return status;
}
