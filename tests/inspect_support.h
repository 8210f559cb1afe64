// Helpers for the varndel-inspect tests: running the binary and writing
// small compiled files through the compiler's own writer.
#pragma once

#include <gtest/gtest.h>

#include "model/model.h"
#include "tests/test_support.h"

// Runs varndel-inspect with args in cwd: RunVarndel's shell prefix execs the
// inspector in place of the compiler.
inline RunResult RunInspect(const std::vector<std::string>& args, const fs::path& cwd) {
  return RunVarndel(args, cwd, std::string("exec '") + VARNDEL_INSPECT_EXE + "' \"$@\"");
}

inline std::string ModelImage(const ModelContainer& mc) {
  std::string image;
  EXPECT_EQ(SerializeModel(mc, image), 0);
  return image;
}

inline void WriteModel(const fs::path& path, const ModelContainer& mc) { WriteFile(path, ModelImage(mc)); }

inline Vertex QuadVertex(float x, float y, float u, float v) {
  Vertex vertex;
  vertex.position = {x, y, 0};
  vertex.normal = {0, 0, 1};
  vertex.texCoords = {u, v};
  vertex.tangent = {1, 0, 0};
  vertex.bitangent = {0, 1, 0};
  return vertex;
}

// A static unit quad in the z = 0 plane: 4 vertices, 2 triangles, no
// textures. Nothing to find in it.
inline ModelContainer QuadModel() {
  ModelContainer mc;
  mc.meshes.emplace_back(std::vector<Vertex>{QuadVertex(0, 0, 0, 0), QuadVertex(1, 0, 1, 0), QuadVertex(1, 1, 1, 1),
                                             QuadVertex(0, 1, 0, 1)},
                         std::vector<uint32_t>{0, 1, 2, 0, 2, 3}, TextureMap{});
  return mc;
}

// The quad, animated: nodes Root > Hip, every vertex fully bound to bone 0
// (Hip), one Hip track with keys at 0, 5 and 10 ticks of a 10-tick
// animation. Nothing to find in it either.
inline ModelContainer SkinnedQuadModel() {
  ModelContainer mc = QuadModel();
  mc.isAnimatedModel = true;
  for (Vertex& vertex : mc.meshes[0].vertices) {
    vertex.boneIDs = {0, -1, -1, -1};
    vertex.weights = {1, 0, 0, 0};
  }
  mc.animDuration = 10;
  mc.TicksPerSecond = 25;
  mc.rootNode.name = "Root";
  mc.rootNode.childrenCount = 1;
  mc.rootNode.children.resize(1);
  mc.rootNode.children[0].name = "Hip";
  Bone hip;
  hip.m_Name = "Hip";
  for (float time : {0.f, 5.f, 10.f}) {
    hip.m_Positions.push_back({{0, time, 0}, time});
    hip.m_Rotations.push_back({{0, 0, 0, 1}, time});
    hip.m_Scales.push_back({{1, 1, 1}, time});
  }
  hip.m_NumPositions = hip.m_NumRotations = hip.m_NumScalings = 3;
  hip.m_PosKeyMaxTime = hip.m_RotKeyMaxTime = hip.m_ScaleKeyMaxTime = 10;
  mc.bones.push_back(hip);
  mc.boneInfoMap["Hip"] = BoneInfo{0, {}};
  return mc;
}
