#include <meshoptimizer.h>
#include <varndel/optimize.h>

#include <algorithm>

#include "order.h"

namespace varndel {

namespace {

// The pixels of the triangles' bounding boxes in meshoptimizer's overdraw
// views: the mesh scaled to a 256-pixel viewport, seen along each axis from
// both sides.
double OverdrawWork(const MeshData& mesh) {
  constexpr double kViewport = 256;
  float low[3], high[3];
  for (int k = 0; k < 3; ++k) low[k] = high[k] = mesh.vertices[mesh.indices[0]].position[k];
  for (const uint32_t index : mesh.indices) {
    for (int k = 0; k < 3; ++k) {
      low[k] = std::min(low[k], mesh.vertices[index].position[k]);
      high[k] = std::max(high[k], mesh.vertices[index].position[k]);
    }
  }
  const double extent = std::max({double(high[0]) - low[0], double(high[1]) - low[1], double(high[2]) - low[2]});
  if (!(extent > 0)) return 0;
  const double scale = kViewport / extent;
  double work = 0;
  for (size_t t = 0; t + 3 <= mesh.indices.size(); t += 3) {
    double size[3];
    for (int k = 0; k < 3; ++k) {
      const float a = mesh.vertices[mesh.indices[t]].position[k], b = mesh.vertices[mesh.indices[t + 1]].position[k],
                  c = mesh.vertices[mesh.indices[t + 2]].position[k];
      size[k] = (double(std::max({a, b, c})) - std::min({a, b, c})) * scale + 1;
    }
    work += 2 * (size[0] * size[1] + size[1] * size[2] + size[0] * size[2]);
  }
  return work;
}

}  // namespace

MeshStats AnalyzeMesh(const MeshData& mesh, bool overdraw) {
  MeshStats stats;
  if (mesh.indices.empty() || !TriangleFault(mesh).empty()) return stats;
  const size_t count = mesh.indices.size();
  const size_t vertices = mesh.vertices.size();
  const meshopt_VertexCacheStatistics cache =
      meshopt_analyzeVertexCache(mesh.indices.data(), count, vertices, kCacheSize, 0, 0);
  const meshopt_VertexFetchStatistics fetch =
      meshopt_analyzeVertexFetch(mesh.indices.data(), count, vertices, sizeof(Vertex));
  stats.valid = true;
  stats.acmr = cache.acmr;
  stats.atvr = cache.atvr;
  stats.overfetch = fetch.overfetch;
  if (overdraw && PositionsFinite(mesh)) stats.overdrawWork = OverdrawWork(mesh);
  if (overdraw && PositionsFinite(mesh) && stats.overdrawWork <= kOverdrawWorkBudget) {
    stats.hasOverdraw = true;
    stats.overdraw =
        meshopt_analyzeOverdraw(mesh.indices.data(), count, mesh.vertices[0].position.data(), vertices, sizeof(Vertex))
            .overdraw;
  }
  return stats;
}

}  // namespace varndel
