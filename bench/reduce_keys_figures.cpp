// varndel_reduce_keys_figures [FILE.animbin...]: key reduction on the baked
// clip of baked_clip.h and on compiled files, at tolerances of 0, 0.1 % and
// 1 % of each model's bounding-box diagonal (mesh positions; for a skeleton
// without meshes, its joints over the animation). One line per model and
// tolerance: keys and animation bytes before and after, the error measured
// with the player (MeasureAnimationError), and the time of the step (the
// fastest of three runs). Used by tools/bench_reduce_keys.sh.
#include <varndel/optimize.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/baked_clip.h"

namespace {

void Measure(const std::string& name, const varndel::Model& model) {
  const double diagonal = varndel::ModelDiagonal(model);
  for (const double share : {0.0, 0.001, 0.01}) {
    const float tolerance = float(share * diagonal);
    varndel::Model reduced;
    varndel::KeyReduction result;
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
      reduced = model;
      const auto start = std::chrono::steady_clock::now();
      result = varndel::ReduceKeys(reduced, tolerance);
      best =
          std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    const double error = varndel::MeasureAnimationError(model, reduced);
    std::printf("%-48s %6.1f%% %9.4g %8zu %8zu %5.1f%% %10zu %10zu %10.3g %s %9.1f\n", name.c_str(), share * 100,
                double(tolerance), result.keysBefore, result.keysAfter,
                100.0 * (1.0 - double(result.keysAfter) / double(std::max<size_t>(1, result.keysBefore))),
                varndel::AnimationBytes(model.animation), varndel::AnimationBytes(reduced.animation), error,
                error <= tolerance ? "ok " : "BAD", best);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("%-48s %7s %9s %8s %8s %6s %10s %10s %10s %3s %9s\n", "model", "tol", "tol-units", "keys", "after",
              "drop", "anim-bytes", "after", "max-error", "", "step-ms");
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
