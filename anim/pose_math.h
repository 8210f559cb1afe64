// Arithmetic shared by the sampling reference (sample.cpp) and the player
// (player.cpp), so that both give the same values bit for bit. Internal to
// the animation runtime.
#pragma once

#include <varndel/reader.h>
#include <varndel/records.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace varndel::pose {

inline double Length3(float x, float y, float z) { return std::sqrt(double(x) * x + double(y) * y + double(z) * z); }

inline Vec3 LerpVec3(const Vec3& a, const Vec3& b, double t) {
  Vec3 r{};
  for (int i = 0; i < 3; ++i) r[i] = float(double(a[i]) + (double(b[i]) - double(a[i])) * t);
  return r;
}

// Spherical interpolation along the shorter arc, normalised.
Vec4 Slerp(const Vec4& a, const Vec4& b, double t);

// The translation, rotation and scale of an affine matrix (shear is lost).
void DecomposeTransform(const Mat4& m, Vec3& translation, Vec4& rotation, Vec3& scale);

// Bone number -> index of the first of the first `count` bone-info entries
// with that number: a direct table when the numbers are small, else a
// sorted list. Negative numbers (free slots) never match.
struct BoneNumberTable {
  std::vector<int32_t> dense;                       // by number; -1 for none
  std::vector<std::pair<int32_t, int32_t>> sparse;  // (number, entry), by number
};
BoneNumberTable MakeBoneNumberTable(const std::vector<BoneInfoEntry>& entries, size_t count);

inline int32_t FindBoneEntry(const std::vector<int32_t>& dense, const std::vector<std::pair<int32_t, int32_t>>& sparse,
                             int32_t id) noexcept {
  if (id < 0) return -1;
  if (!dense.empty()) return size_t(id) < dense.size() ? dense[size_t(id)] : -1;
  const auto found = std::lower_bound(sparse.begin(), sparse.end(), id,
                                      [](const std::pair<int32_t, int32_t>& e, int32_t v) { return e.first < v; });
  return found != sparse.end() && found->first == id ? found->second : -1;
}

// The normal n under the inverse transpose of m's upper 3x3 (its cofactor
// matrix, signed by the determinant), normalised when it has a length.
inline Vec3 TransformNormal(const Mat4& m, const Vec3& n) {
  const double a[3][3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[8], m[9], m[10]}};  // columns
  const auto cross = [](const double* u, const double* v, double* out) {
    out[0] = u[1] * v[2] - u[2] * v[1];
    out[1] = u[2] * v[0] - u[0] * v[2];
    out[2] = u[0] * v[1] - u[1] * v[0];
  };
  double c[3][3];  // columns of the cofactor matrix
  cross(a[1], a[2], c[0]);
  cross(a[2], a[0], c[1]);
  cross(a[0], a[1], c[2]);
  const double det = a[0][0] * c[0][0] + a[0][1] * c[0][1] + a[0][2] * c[0][2];
  const double sign = det < 0.0 ? -1.0 : 1.0;
  double r[3];
  for (int k = 0; k < 3; ++k) r[k] = sign * (c[0][k] * n[0] + c[1][k] * n[1] + c[2][k] * n[2]);
  const double length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
  if (length > 0.0 && std::isfinite(length))
    for (double& k : r) k /= length;
  return {float(r[0]), float(r[1]), float(r[2])};
}

// Blends every vertex with its bone slots: entryOf maps a slot's bone number
// to a palette index or -1. Writes mesh.vertices.size() positions and, when
// not null, normals.
template <typename EntryOf>
void BlendVertices(const MeshData& mesh, const Mat4* palette, const EntryOf& entryOf, Vec3* positions, Vec3* normals) {
  const size_t count = mesh.vertices.size();
  for (size_t v = 0; v < count; ++v) {
    const Vertex& vertex = mesh.vertices[v];
    Mat4 blend{};
    float total = 0.0f;
    for (int slot = 0; slot < 4; ++slot) {
      const int32_t entry = entryOf(vertex.boneIDs[slot]);
      if (entry < 0) continue;
      const float weight = vertex.weights[slot];
      const Mat4& m = palette[entry];
      for (int k = 0; k < 16; ++k) blend[k] += weight * m[k];
      total += weight;
    }
    if (total == 0.0f) {
      positions[v] = vertex.position;
      if (normals != nullptr) normals[v] = vertex.normal;
      continue;
    }
    const Vec3& p = vertex.position;
    positions[v] = {blend[0] * p[0] + blend[4] * p[1] + blend[8] * p[2] + blend[12],
                    blend[1] * p[0] + blend[5] * p[1] + blend[9] * p[2] + blend[13],
                    blend[2] * p[0] + blend[6] * p[1] + blend[10] * p[2] + blend[14]};
    if (normals != nullptr) normals[v] = TransformNormal(blend, vertex.normal);
  }
}

}  // namespace varndel::pose
