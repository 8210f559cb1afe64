#include <meshoptimizer.h>
#include <varndel/optimize.h>

#include <cmath>
#include <cstdio>

#include "order.h"

namespace varndel {

namespace {

std::string Shortest(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

// The sum over vertices of the square of their uses by triangles: what the
// simplifier's adjacency scans grow with (200,000 copies of one triangle,
// 1.2e11, took 35 s).
double SimplifyWork(const MeshData& mesh) {
  std::vector<uint32_t> uses(mesh.vertices.size());
  for (const uint32_t index : mesh.indices) ++uses[index];
  double work = 0;
  for (const uint32_t n : uses) work += double(n) * n;
  return work;
}

}  // namespace

LodLevel BuildLod(const Model& model, const LodOptions& options) {
  LodLevel level;
  level.model = model;
  level.errors.assign(model.meshes.size(), 0.0f);
  for (size_t m = 0; m < model.meshes.size(); ++m) {
    MeshData& mesh = level.model.meshes[m];
    const std::string prefix = "mesh " + std::to_string(m) + ": ";
    if (const std::string fault = TriangleFault(mesh); !fault.empty()) {
      level.warnings.push_back(prefix + "copied whole: " + fault);
      continue;
    }
    if (mesh.indices.empty()) continue;
    if (!PositionsFinite(mesh)) {
      level.warnings.push_back(prefix + "copied whole: it has a NaN or infinite position");
      continue;
    }
    if (const double work = SimplifyWork(mesh); work > kSimplifyWorkBudget) {
      level.warnings.push_back(prefix + "copied whole: its vertices are shared by too many triangles to simplify " +
                               "in bounded time (sum of squared uses " + Shortest(work) + ", above " +
                               Shortest(kSimplifyWorkBudget) + ")");
      continue;
    }
    const size_t count = mesh.indices.size();
    const size_t target = static_cast<size_t>(double(count / 3) * double(options.ratio)) * 3;
    std::vector<uint32_t> simplified(count);
    float error = 0;
    simplified.resize(meshopt_simplify(simplified.data(), mesh.indices.data(), count, mesh.vertices[0].position.data(),
                                       mesh.vertices.size(), sizeof(Vertex), target, options.targetError, 0, &error));
    // Short of the target error, the simplifier ran out of edges it may
    // collapse (borders, seams and corners stay).
    const bool stuck = simplified.size() > target && error < options.targetError * 0.999f;
    std::string sloppyNote;
    if (stuck) {
      // The sloppy simplifier ignores borders and seams; under the same
      // target error, it is taken when it gets further without emptying
      // the mesh.
      std::vector<uint32_t> sloppy(count);
      float sloppyError = 0;
      sloppy.resize(meshopt_simplifySloppy(sloppy.data(), mesh.indices.data(), count, mesh.vertices[0].position.data(),
                                           mesh.vertices.size(), sizeof(Vertex), target, options.targetError,
                                           &sloppyError));
      if (!sloppy.empty() && sloppy.size() < simplified.size()) {
        sloppyNote = "the sloppy simplifier from " + std::to_string(simplified.size()) + " indices, error " +
                     Shortest(sloppyError) + ": borders and seams stopped the simplifier; the sloppy simplifier, " +
                     "which may move them, was used";
        simplified = std::move(sloppy);
        error = sloppyError;
      }
    }
    mesh.indices = std::move(simplified);
    level.errors[m] = error;
    const std::string kept = "keeps " + std::to_string(mesh.indices.size()) + " of " + std::to_string(count) +
                             " indices, not " + std::to_string(target) + ": ";
    if (mesh.indices.size() > target) {
      level.warnings.push_back(
          prefix + kept +
          (!sloppyNote.empty() ? sloppyNote + ", and gets no further within the target error"
           : stuck             ? "no further edge can be collapsed without moving a border or seam, "
                                 "not even by the sloppy simplifier within the target error"
                               : "further collapses would pass the target error " + Shortest(options.targetError)));
    } else if (!sloppyNote.empty()) {
      level.warnings.push_back(prefix + sloppyNote);
    }
    OrderMesh(mesh, options.overdraw, options.overdrawThreshold, false);
  }
  return level;
}

}  // namespace varndel
