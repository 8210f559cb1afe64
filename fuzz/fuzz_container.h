// The fixed container that the verifier's fuzz target checks every input
// against: a small animated model with two meshes, textures (one path ending
// in zero bytes, as a cut-off path reads), a three-level hierarchy, two bone
// tracks and their bone-info entries. fuzz/corpus/verifier/container is its
// file image, so that mutations start from a file that matches it.
#pragma once

#include <string>

#include "model/model.h"

inline ModelContainer MakeFuzzContainer() {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.flipUVs = false;

  Vertex a;
  a.position = {0.0f, 0.0f, 0.0f};
  a.normal = {0.0f, 0.0f, 1.0f};
  a.texCoords = {0.0f, 0.0f};
  a.tangent = {1.0f, 0.0f, 0.0f};
  a.bitangent = {0.0f, 1.0f, 0.0f};
  a.boneIDs = {0, 1, -1, -1};
  a.weights = {0.75f, 0.25f, 0.0f, 0.0f};
  Vertex b = a;
  b.position = {1.0f, 0.0f, 0.0f};
  b.texCoords = {1.0f, 0.0f};
  Vertex c = a;
  c.position = {0.0f, 1.0f, 0.5f};
  c.texCoords = {0.0f, 1.0f};
  c.boneIDs = {1, -1, -1, -1};
  c.weights = {1.0f, 0.0f, 0.0f, 0.0f};

  const std::string diffuse = "tex\\diffuse.png";
  const std::string normals = "tex\\normal.png";
  const std::string padded("tex\\n\0\0", 7);
  mc.loadedTextures = {diffuse, normals, padded};
  mc.meshes.emplace_back(std::vector<Vertex>{a, b, c}, std::vector<uint32_t>{0, 1, 2},
                         TextureMap{{diffuse, 1}, {normals, 6}, {padded, 2}});
  mc.meshes.emplace_back(std::vector<Vertex>{c, a}, std::vector<uint32_t>{1, 0, 1}, TextureMap{{diffuse, 1}});

  mc.animDuration = 2.0f;
  mc.TicksPerSecond = 24.0;
  Mat4 identity{};
  identity[0] = identity[5] = identity[10] = identity[15] = 1.0f;
  Mat4 shifted = identity;
  shifted[13] = 1.0f;
  mc.rootNode.name = "Root";
  mc.rootNode.transformation = identity;
  mc.rootNode.childrenCount = 2;
  mc.rootNode.children.resize(2);
  HierarchyNode& hip = mc.rootNode.children[0];
  hip.name = "Hip";
  hip.transformation = shifted;
  hip.childrenCount = 1;
  hip.children.resize(1);
  hip.children[0].name = "Spine";
  hip.children[0].transformation = shifted;
  mc.rootNode.children[1].name = "Mesh";
  mc.rootNode.children[1].transformation = identity;

  Bone hipTrack;
  hipTrack.m_Name = "Hip";
  hipTrack.m_ID = 0;
  hipTrack.m_Positions = {{{0.0f, 0.0f, 0.0f}, 0.0f}, {{0.0f, 1.0f, 0.0f}, 2.0f}};
  hipTrack.m_Rotations = {{{0.0f, 0.0f, 0.0f, 1.0f}, 0.0f}};
  hipTrack.m_Scales = {{{1.0f, 1.0f, 1.0f}, 0.0f}};
  hipTrack.m_PosKeyMaxTime = 2.0f;
  Bone spineTrack;
  spineTrack.m_Name = "Spine";
  spineTrack.m_ID = 1;
  spineTrack.m_Positions = {{{0.0f, 1.0f, 0.0f}, 0.0f}};
  spineTrack.m_Rotations = {{{0.0f, 0.0f, 0.0f, 1.0f}, 0.0f}, {{0.0f, 0.7071068f, 0.0f, 0.7071068f}, 1.5f}};
  spineTrack.m_RotKeyMaxTime = 1.5f;
  for (Bone* bone : {&hipTrack, &spineTrack}) {
    bone->m_NumPositions = static_cast<int32_t>(bone->m_Positions.size());
    bone->m_NumRotations = static_cast<int32_t>(bone->m_Rotations.size());
    bone->m_NumScalings = static_cast<int32_t>(bone->m_Scales.size());
  }
  mc.bones = {hipTrack, spineTrack};
  mc.boneInfoMap["Hip"] = {0, identity};
  mc.boneInfoMap["Spine"] = {1, shifted};
  mc.boneCounter = 2;
  return mc;
}
