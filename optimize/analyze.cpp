#include <meshoptimizer.h>
#include <varndel/optimize.h>

#include "order.h"

namespace varndel {

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
  if (overdraw && PositionsFinite(mesh)) {
    stats.hasOverdraw = true;
    stats.overdraw =
        meshopt_analyzeOverdraw(mesh.indices.data(), count, mesh.vertices[0].position.data(), vertices, sizeof(Vertex))
            .overdraw;
  }
  return stats;
}

}  // namespace varndel
