// Records of a compiled model file whose memory image is the file image: the
// 88-byte vertex and the three key records. Shared by the compiler, which
// writes them as blocks, and the reader, which reads them as blocks.
// Compiles as C++17 and C++20.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace varndel {

using Vec2 = std::array<float, 2>;
using Vec3 = std::array<float, 3>;
using Vec4 = std::array<float, 4>;
// Column-major: element 4*c + r is row r, column c, so the translation of a
// transformation sits in elements 12, 13 and 14.
using Mat4 = std::array<float, 16>;

struct Vertex {
  Vec3 position{};
  Vec3 normal{};
  Vec2 texCoords{};
  Vec3 tangent{};
  Vec3 bitangent{};
  std::array<int32_t, 4> boneIDs{-1, -1, -1, -1};  // negative: free slot
  Vec4 weights{};
};
static_assert(std::is_trivially_copyable_v<Vertex> && std::is_standard_layout_v<Vertex>);
static_assert(sizeof(Vertex) == 88);
static_assert(offsetof(Vertex, position) == 0 && offsetof(Vertex, normal) == 12 && offsetof(Vertex, texCoords) == 24 &&
              offsetof(Vertex, tangent) == 32 && offsetof(Vertex, bitangent) == 44 && offsetof(Vertex, boneIDs) == 56 &&
              offsetof(Vertex, weights) == 72);

struct PositionKey {
  Vec3 position{};
  float timeStamp = 0.0f;  // ticks
};
struct RotationKey {
  Vec4 orientation{};  // x, y, z, w (Assimp holds w first)
  float timeStamp = 0.0f;
};
struct ScaleKey {
  Vec3 scale{};
  float timeStamp = 0.0f;
};
static_assert(std::is_trivially_copyable_v<PositionKey> && sizeof(PositionKey) == 16 &&
              offsetof(PositionKey, timeStamp) == 12);
static_assert(std::is_trivially_copyable_v<RotationKey> && sizeof(RotationKey) == 20 &&
              offsetof(RotationKey, timeStamp) == 16);
static_assert(std::is_trivially_copyable_v<ScaleKey> && sizeof(ScaleKey) == 16 && offsetof(ScaleKey, timeStamp) == 12);

}  // namespace varndel
