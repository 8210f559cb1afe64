// Steps shared by the optimiser and the LOD builder.
#pragma once

#include <varndel/reader.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace varndel {

// Entries of the post-transform vertex cache that the order and the figures assume.
constexpr unsigned kCacheSize = 16;

// Why the mesh's triangles cannot be reordered ("" when they can): an index
// count that is not a multiple of 3, or an index past the vertices.
std::string TriangleFault(const MeshData& mesh);
std::string TriangleFault(const uint32_t* indices, size_t indexCount, size_t vertexCount);

// Whether every coordinate of the count positions, stride bytes apart, is finite.
bool PositionsFinite(const MeshData& mesh);
bool PositionsFinite(const float* positions, size_t count, size_t stride);

// Vertex-cache order, then (when overdraw) overdraw order, then the vertices
// renumbered by first use. Vertices no triangle uses go after the used ones
// in their old order when keepUnused, and are dropped otherwise. The mesh
// must have no TriangleFault.
void OrderMesh(MeshData& mesh, bool overdraw, float threshold, bool keepUnused);

}  // namespace varndel
