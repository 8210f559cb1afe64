#include <meshoptimizer.h>
#include <varndel/optimize.h>

#include <algorithm>

#include "order.h"

namespace varndel {

namespace {

// Coordinate k of vertex v, in positions whose records lie stride bytes apart.
float Coordinate(const float* positions, size_t stride, uint32_t v, int k) {
  return reinterpret_cast<const float*>(reinterpret_cast<const char*>(positions) + size_t(v) * stride)[k];
}

// The pixels of the triangles' bounding boxes in meshoptimizer's overdraw
// views: the mesh scaled to a 256-pixel viewport, seen along each axis from
// both sides.
double OverdrawWork(const uint32_t* indices, size_t count, const float* positions, size_t stride) {
  constexpr double kViewport = 256;
  float low[3], high[3];
  for (int k = 0; k < 3; ++k) low[k] = high[k] = Coordinate(positions, stride, indices[0], k);
  for (size_t i = 0; i < count; ++i) {
    for (int k = 0; k < 3; ++k) {
      low[k] = std::min(low[k], Coordinate(positions, stride, indices[i], k));
      high[k] = std::max(high[k], Coordinate(positions, stride, indices[i], k));
    }
  }
  const double extent = std::max({double(high[0]) - low[0], double(high[1]) - low[1], double(high[2]) - low[2]});
  if (!(extent > 0)) return 0;
  const double scale = kViewport / extent;
  double work = 0;
  for (size_t t = 0; t + 3 <= count; t += 3) {
    double size[3];
    for (int k = 0; k < 3; ++k) {
      const float a = Coordinate(positions, stride, indices[t], k), b = Coordinate(positions, stride, indices[t + 1], k),
                  c = Coordinate(positions, stride, indices[t + 2], k);
      size[k] = (double(std::max({a, b, c})) - std::min({a, b, c})) * scale + 1;
    }
    work += 2 * (size[0] * size[1] + size[1] * size[2] + size[0] * size[2]);
  }
  return work;
}

}  // namespace

MeshStats AnalyzeMesh(const MeshData& mesh, bool overdraw) {
  return AnalyzeMesh(mesh.indices.data(), mesh.indices.size(), mesh.vertices.size(),
                     mesh.vertices.empty() ? nullptr : mesh.vertices[0].position.data(), sizeof(Vertex), overdraw);
}

MeshStats AnalyzeMesh(const uint32_t* indices, size_t indexCount, size_t vertexCount, const float* positions,
                      size_t positionStride, bool overdraw) {
  MeshStats stats;
  if (indexCount == 0 || !TriangleFault(indices, indexCount, vertexCount).empty()) return stats;
  const meshopt_VertexCacheStatistics cache =
      meshopt_analyzeVertexCache(indices, indexCount, vertexCount, kCacheSize, 0, 0);
  // The fetch is of whole vertex records, wherever the positions were taken from.
  const meshopt_VertexFetchStatistics fetch = meshopt_analyzeVertexFetch(indices, indexCount, vertexCount, sizeof(Vertex));
  stats.valid = true;
  stats.acmr = cache.acmr;
  stats.atvr = cache.atvr;
  stats.overfetch = fetch.overfetch;
  if (!overdraw || positions == nullptr || !PositionsFinite(positions, vertexCount, positionStride)) return stats;
  stats.overdrawWork = OverdrawWork(indices, indexCount, positions, positionStride);
  if (stats.overdrawWork <= kOverdrawWorkBudget) {
    stats.hasOverdraw = true;
    stats.overdraw = meshopt_analyzeOverdraw(indices, indexCount, positions, vertexCount, positionStride).overdraw;
  }
  return stats;
}

}  // namespace varndel
