// A generated character for the player's tests and benchmarks: 80 bones in
// three levels (a pelvis, 9 children, 70 grandchildren), keys of every kind
// on every bone at every tick, and skinned meshes with four influences per
// vertex.
#pragma once

#include <varndel/reader.h>
#include <varndel/sample.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

inline constexpr int kCharacterBones = 80;

// seconds of keys at fps keys per second (the tick rate), ticks 0, 1, ...
inline varndel::Animation MakeCharacter(int seconds = 30, int fps = 30) {
  varndel::Animation animation;
  animation.ticksPerSecond = fps;
  animation.duration = float(seconds * fps);
  // Pre-order: the pelvis, then each child followed by its children
  // (children 0..6 get 8 each, 7 and 8 get 7: 56 + 14 = 70).
  std::vector<varndel::Vec3> bindOrigins;  // global, for the offsets
  const auto addNode = [&](int32_t parent, uint32_t children, const varndel::Vec3& offset) {
    varndel::Node node;
    node.name = "bone" + std::to_string(animation.nodes.size());
    node.parent = parent;
    node.childCount = children;
    node.transformation = varndel::ComposeTransform(offset, {0, 0, 0, 1}, {1, 1, 1});
    varndel::Vec3 origin = offset;
    if (parent >= 0)
      for (int k = 0; k < 3; ++k) origin[k] += bindOrigins[size_t(parent)][k];
    bindOrigins.push_back(origin);
    animation.nodes.push_back(node);
    return int32_t(animation.nodes.size() - 1);
  };
  const int32_t pelvis = addNode(-1, 9, {0, 1, 0});
  for (int c = 0; c < 9; ++c) {
    const uint32_t grandchildren = c < 7 ? 8 : 7;
    const int32_t child = addNode(pelvis, grandchildren, {float(c) - 4.0f, 0.5f, 0});
    for (uint32_t g = 0; g < grandchildren; ++g) addNode(child, 0, {0, 0.25f * float(g + 1), 0.1f});
  }

  const int keys = seconds * fps + 1;
  for (size_t b = 0; b < animation.nodes.size(); ++b) {
    varndel::Track track;
    track.name = animation.nodes[b].name;
    track.id = int32_t(b);
    const varndel::Mat4& own = animation.nodes[b].transformation;
    const double phase = 0.37 * double(b);
    for (int k = 0; k < keys; ++k) {
      const float time = float(k);
      const double angle = 0.6 * std::sin(0.21 * k + phase);  // radians about a tilted axis
      const double axis[3] = {0.48, 0.8, 0.36};
      const double s = std::sin(angle / 2);
      track.positions.push_back({{own[12] + float(0.05 * std::sin(0.13 * k + phase)), own[13], own[14]}, time});
      track.rotations.push_back(
          {{float(axis[0] * s), float(axis[1] * s), float(axis[2] * s), float(std::cos(angle / 2))}, time});
      track.scales.push_back({{1.0f, float(1.0 + 0.1 * std::sin(0.07 * k + phase)), 1.0f}, time});
    }
    track.positionMaxTime = track.rotationMaxTime = track.scaleMaxTime = float(keys - 1);
    animation.tracks.push_back(std::move(track));
  }
  for (size_t b = 0; b < animation.nodes.size(); ++b) {
    const varndel::Vec3& o = bindOrigins[b];
    animation.boneInfos.push_back({animation.nodes[b].name, int32_t(b),
                                   varndel::ComposeTransform({-o[0], -o[1], -o[2]}, {0, 0, 0, 1}, {1, 1, 1})});
  }
  return animation;
}

// vertexCount vertices around the character, each bound to four distinct
// bones with weights summing to 1; a triangle list over them.
inline varndel::MeshData MakeCharacterMesh(size_t vertexCount, uint32_t seed = 1) {
  std::mt19937 random(seed);
  const auto unit = [&random] { return float(random() % 1000001) / 1000000.0f; };
  varndel::MeshData mesh;
  mesh.vertices.resize(vertexCount);
  for (varndel::Vertex& v : mesh.vertices) {
    v.position = {8 * unit() - 4, 3 * unit(), unit() - 0.5f};
    const double nx = unit() - 0.5, ny = unit() - 0.5, nz = 0.6;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    v.normal = {float(nx / length), float(ny / length), float(nz / length)};
    const int32_t first = int32_t(random() % kCharacterBones);
    float total = 0;
    for (int slot = 0; slot < 4; ++slot) {
      v.boneIDs[size_t(slot)] = (first + 17 * slot) % kCharacterBones;
      v.weights[size_t(slot)] = 0.1f + unit();
      total += v.weights[size_t(slot)];
    }
    for (float& w : v.weights) w /= total;
  }
  for (uint32_t i = 0; i + 2 < vertexCount; i += 3) mesh.indices.insert(mesh.indices.end(), {i, i + 1, i + 2});
  return mesh;
}
