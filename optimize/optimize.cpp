#include <meshoptimizer.h>
#include <varndel/optimize.h>

#include <cmath>
#include <cstring>

#include "order.h"

namespace varndel {

std::string TriangleFault(const MeshData& mesh) {
  return TriangleFault(mesh.indices.data(), mesh.indices.size(), mesh.vertices.size());
}

std::string TriangleFault(const uint32_t* indices, size_t indexCount, size_t vertexCount) {
  if (indexCount % 3 != 0) return "its " + std::to_string(indexCount) + " indices are not a multiple of 3";
  for (size_t i = 0; i < indexCount; ++i) {
    if (indices[i] >= vertexCount) {
      return "index " + std::to_string(i) + " is " + std::to_string(indices[i]) + ", past its " +
             std::to_string(vertexCount) + " vertices";
    }
  }
  return "";
}

bool PositionsFinite(const MeshData& mesh) {
  return mesh.vertices.empty() || PositionsFinite(mesh.vertices[0].position.data(), mesh.vertices.size(), sizeof(Vertex));
}

bool PositionsFinite(const float* positions, size_t count, size_t stride) {
  const char* at = reinterpret_cast<const char*>(positions);
  for (size_t i = 0; i < count; ++i, at += stride) {
    const float* position = reinterpret_cast<const float*>(at);
    for (int k = 0; k < 3; ++k) {
      if (!std::isfinite(position[k])) return false;
    }
  }
  return true;
}

// Moves each vertex v to remap[v], in place: a permutation is a set of
// cycles, each followed once. Saves a second copy of a large vertex buffer.
static void PermuteVertices(std::vector<Vertex>& vertices, const std::vector<unsigned int>& remap) {
  std::vector<bool> placed(vertices.size());
  for (size_t start = 0; start < vertices.size(); ++start) {
    if (placed[start]) continue;
    Vertex carried = vertices[start];
    size_t at = start;
    while (!placed[remap[at]]) {
      const size_t to = remap[at];
      std::swap(carried, vertices[to]);
      placed[to] = true;
      at = to;
    }
  }
}

void OrderMesh(MeshData& mesh, bool overdraw, float threshold, bool keepUnused) {
  std::vector<uint32_t>& indices = mesh.indices;
  const size_t vertexCount = mesh.vertices.size();
  // Ordered for the 16-entry FIFO that the figures measure: meshoptimizer's
  // FIFO optimiser scores better there than its general one, in half the time.
  // Neither order may make the mesh worse on the measure it is ordered for:
  // where the overdraw order does, the vertex-cache order alone is kept, and
  // where that does too, the input order.
  const auto misses = [&](const std::vector<uint32_t>& order) {
    return meshopt_analyzeVertexCache(order.data(), order.size(), vertexCount, kCacheSize, 0, 0).vertices_transformed;
  };
  const unsigned input = misses(indices);
  std::vector<uint32_t> cached(indices.size());
  meshopt_optimizeVertexCacheFifo(cached.data(), indices.data(), indices.size(), vertexCount, kCacheSize);
  const unsigned cachedMisses = misses(cached);
  if (overdraw) {
    std::vector<uint32_t>& ordered = indices;  // the input is no longer needed when the cache order wins
    if (cachedMisses <= input) {
      meshopt_optimizeOverdraw(ordered.data(), cached.data(), cached.size(), mesh.vertices[0].position.data(),
                               vertexCount, sizeof(Vertex), threshold);
      if (misses(ordered) > input) ordered = std::move(cached);
    }
  } else if (cachedMisses <= input) {
    indices = std::move(cached);
  }
  std::vector<unsigned int> remap(vertexCount);
  size_t next = meshopt_optimizeVertexFetchRemap(remap.data(), indices.data(), indices.size(), vertexCount);
  meshopt_remapIndexBuffer(indices.data(), indices.data(), indices.size(), remap.data());
  if (keepUnused) {
    for (unsigned int& target : remap) {
      if (target == ~0u) target = static_cast<unsigned int>(next++);
    }
    PermuteVertices(mesh.vertices, remap);
    return;
  }
  std::vector<Vertex> used(next);
  for (size_t v = 0; v < vertexCount; ++v) {
    if (remap[v] != ~0u) used[remap[v]] = mesh.vertices[v];
  }
  mesh.vertices = std::move(used);
}

namespace {

// Welds and orders one mesh; warnings start with prefix.
void OptimizeMesh(MeshData& mesh, const OptimizeOptions& options, const std::string& prefix,
                  std::vector<std::string>& warnings) {
  if (const std::string fault = TriangleFault(mesh); !fault.empty()) {
    warnings.push_back(prefix + "left as it is: " + fault);
    return;
  }
  if (mesh.indices.empty()) return;
  // Weld: one record for each distinct 88-byte image, in first-seen order.
  // Every vertex counts, so that unused ones are welded and kept too.
  std::vector<unsigned int> remap(mesh.vertices.size());
  const size_t unique =
      meshopt_generateVertexRemap(remap.data(), static_cast<const unsigned int*>(nullptr), mesh.vertices.size(),
                                  mesh.vertices.data(), mesh.vertices.size(), sizeof(Vertex));
  // With every record distinct the remap is the identity: nothing to move.
  if (unique != mesh.vertices.size()) {
    std::vector<Vertex> welded(unique);
    meshopt_remapVertexBuffer(welded.data(), mesh.vertices.data(), mesh.vertices.size(), sizeof(Vertex),
                              remap.data());
    meshopt_remapIndexBuffer(mesh.indices.data(), mesh.indices.data(), mesh.indices.size(), remap.data());
    mesh.vertices = std::move(welded);
  }

  bool overdraw = options.overdraw;
  if (overdraw && !PositionsFinite(mesh)) {
    warnings.push_back(prefix + "not ordered for overdraw: it has a NaN or infinite position");
    overdraw = false;
  }
  OrderMesh(mesh, overdraw, options.overdrawThreshold, true);
}

}  // namespace

std::vector<std::string> OptimizeModel(Model& model, const OptimizeOptions& options) {
  std::vector<std::string> warnings;
  for (size_t m = 0; m < model.meshes.size() && !options.keysOnly; ++m) {
    OptimizeMesh(model.meshes[m], options, "mesh " + std::to_string(m) + ": ", warnings);
    if (options.meshProgress) options.meshProgress(m + 1, model.meshes.size());
  }
  ReduceKeys(model, options.animationTolerance, options.animationDistance, options.progress);
  return warnings;
}

}  // namespace varndel
