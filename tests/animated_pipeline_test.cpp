// The real binary on animated compiles: the skinned glTF fixture end to end
// (console, log, every byte of the .animbin), a model without animation, and
// the same skinned model compiled as static.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "tests/test_support.h"

// ---------------------------------------------------------------------------
// skinned.gltf as the animated compile sees it (make_skinned_gltf.py).

struct SkinVertex {
  std::array<float, 3> position;
  std::array<float, 2> texCoords;
  std::array<int32_t, 4> boneIDs;  // as the animated compile fills them
  std::array<float, 4> weights;
};

// Assimp's glTF2 importer turns v into 1 - v, so the file's (0, 1) arrives as
// (0, 0). Zero entries of WEIGHTS_0 are dropped by Assimp and take no slot.
// Body's mBones follow its skin's joint list: Hip is bone 0, Spine bone 1.
static const std::vector<SkinVertex> kBody = {
    {{-0.5f, 0, 0}, {0, 0}, {0, -1, -1, -1}, {1, 0, 0, 0}},
    {{0.5f, 0, 0}, {1, 0}, {0, -1, -1, -1}, {1, 0, 0, 0}},
    {{0.5f, 2, 0}, {1, 1}, {0, 1, -1, -1}, {0.5f, 0.5f, 0, 0}},
    {{-0.5f, 2, 0}, {0, 1}, {0, 1, -1, -1}, {0.5f, 0.5f, 0, 0}},
};
static const std::vector<uint32_t> kBodyIndices = {0, 1, 2, 0, 2, 3};
// Bones are numbered once per model: HeadMesh's Spine keeps Body's 1, and
// Head, new, gets 2.
static const std::vector<SkinVertex> kHead = {
    {{-0.3f, 2, 0}, {0, 0}, {1, -1, -1, -1}, {1, 0, 0, 0}},
    {{0.3f, 2, 0}, {1, 0}, {1, -1, -1, -1}, {1, 0, 0, 0}},
    {{0, 2.6f, 0}, {0.5f, 1}, {2, -1, -1, -1}, {1, 0, 0, 0}},
};
static const std::vector<uint32_t> kHeadIndices = {0, 1, 2};

// Every vertex lies in z = 0 with the given normal +Z, and in both meshes u
// grows with x and v with y alone (Body's first triangle: edges (1,0,0) and
// (1,2,0) over UV steps (1,0) and (1,1); Head: (0.6,0,0) and (0.3,0.6,0) over
// (1,0) and (0.5,1)), so CalcTangentSpace yields exactly tangent +X and
// bitangent +Y everywhere.
static Bytes& SkinnedVertex(Bytes& b, const SkinVertex& v, bool skinned) {
  b.floats({v.position[0], v.position[1], v.position[2]}).floats({0, 0, 1});
  b.floats({v.texCoords[0], v.texCoords[1]}).floats({1, 0, 0}).floats({0, 1, 0});
  for (int32_t id : v.boneIDs) b.i32(skinned ? id : -1);
  for (float w : v.weights) b.f32(skinned ? w : 0.f);
  return b;
}

static void MeshSection(Bytes& b, const std::vector<SkinVertex>& vertices, const std::vector<uint32_t>& indices,
                        bool skinned) {
  b.u32(static_cast<uint32_t>(vertices.size()));
  for (const SkinVertex& v : vertices) SkinnedVertex(b, v, skinned);
  b.u32(static_cast<uint32_t>(indices.size()));
  for (uint32_t i : indices) b.u32(i);
  b.u16(0);  // no material textures
}

// Header and both mesh sections; Body comes first in the node walk
// (Walker > Hip > Spine > Head, then Body, then HeadMesh).
static Bytes SkinnedMeshSections(bool animated) {
  Bytes b;
  b.u8(animated).u8(0).u64(2).u16(0);
  MeshSection(b, kBody, kBodyIndices, animated);
  MeshSection(b, kHead, kHeadIndices, animated);
  return b;
}

// Column-major: the translation sits in elements 12 to 14.
static Bytes& TranslationMatrix(Bytes& b, float x, float y, float z) {
  return b.floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1});
}

static Bytes& NodeRecord(Bytes& b, const std::string& name, float y, uint32_t children) {
  TranslationMatrix(b, 0, y, 0);
  return b.u32(static_cast<uint32_t>(name.size())).raw(name).u32(children);
}

using Keys = std::vector<std::vector<float>>;  // per key: the value's components, then the time

static Bytes& KeyList(Bytes& b, const Keys& keys) {
  b.i32(static_cast<int32_t>(keys.size()));
  for (const auto& key : keys) {
    for (float f : key) b.f32(f);
  }
  return b;
}

static Bytes& BoneTrack(Bytes& b, const Keys& positions, const Keys& rotations, const Keys& scales,
                        std::initializer_list<float> maxTimes, const std::string& name, int32_t id) {
  KeyList(b, positions);
  KeyList(b, rotations);
  KeyList(b, scales);
  b.floats(maxTimes);
  return b.u16(static_cast<uint16_t>(name.size())).raw(name).i32(id);
}

static Bytes& BoneInfoRecord(Bytes& b, const std::string& name, int32_t id, float offsetY) {
  b.u16(static_cast<uint16_t>(name.size())).raw(name).i32(id);
  return TranslationMatrix(b, 0, offsetY, 0);
}

static std::string SkinnedAnimbin() {
  Bytes b = SkinnedMeshSections(true);
  // Assimp's glTF2 importer counts in milliseconds: 1000 ticks per second,
  // and the duration is the last key time, 1 s.
  b.f32(1000).f64(1000);

  // The glTF scene has a single root, which Assimp keeps as the scene root
  // under its own name; the node names are the file's.
  NodeRecord(b, "Walker", 0, 3);
  NodeRecord(b, "Hip", 0, 1);
  NodeRecord(b, "Spine", 1, 1);
  NodeRecord(b, "Head", 1, 0);
  NodeRecord(b, "Body", 0, 0);
  NodeRecord(b, "HeadMesh", 0, 0);

  // Assimp groups the samplers per target node in an unordered_map keyed by
  // node index and emits one channel per node in that map's order, which with
  // libstdc++ is Head, Spine, Hip: the reverse of the file's channels. The
  // tracks are numbered in that order before any mesh is extracted.
  // For each kind a node has no sampler for, Assimp 5.2.5 adds one key at
  // time 0 with the node's rest value (translation, identity, unit scale).
  b.u8(3);
  const float sin22 = 0.38268343f, cos22 = 0.92387953f;
  BoneTrack(b, {{0, 1, 0, 0}}, {{0, 0, 0, 1, 0}}, {{1, 1, 1, 0}, {1.5f, 1.5f, 1.5f, 500}, {1, 1, 1, 1000}},
            {0, 0, 1000}, "Head", 0);
  BoneTrack(b, {{0, 1, 0, 0}}, {{0, 0, 0, 1, 0}, {0, 0, sin22, cos22, 500}, {0, 0, 0, 1, 1000}}, {{1, 1, 1, 0}},
            {0, 1000, 0}, "Spine", 1);
  BoneTrack(b, {{0, 0, 0, 0}, {0, 0.2f, 0, 500}, {0, 0, 0, 1000}}, {{0, 0, 0, 1, 0}}, {{1, 1, 1, 0}}, {1000, 0, 0},
            "Hip", 2);

  // The bone infos of both meshes, in name order; offsets are the inverse
  // bind matrices of the mesh that named the bone first.
  b.u8(3);
  BoneInfoRecord(b, "Head", 2, -2);
  BoneInfoRecord(b, "Hip", 0, 0);
  BoneInfoRecord(b, "Spine", 1, -1);
  return b.data;
}

TEST(AnimatedPipeline, CompilesSkinnedGltfToExactBytesAndVerifies) {
  ScratchDir dir;
  fs::copy_file(FixturePath("skinned.gltf"), dir.path / "skinned.gltf");
  RunResult run = RunVarndel({"1", "0", "skinned.gltf"}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(run.out,
            TextMode("\033[0m" + SuccessLog(true, "skinned.animbin", "skinned.gltf") + MatchingReport(2, true)));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(dir.path / "Logs/Log.txt"), TextMode(SuccessLog(true, "skinned.animbin", "skinned.gltf")));
  const std::string file = ReadFile(dir.path / "skinned.animbin");
  const std::string expected = SkinnedAnimbin();
  ASSERT_EQ(file.size(), 1744u);
  ASSERT_EQ(expected.size(), 1744u);
  EXPECT_EQ(file, expected);
}

TEST(AnimatedPipeline, ModelWithoutAnimationGetsEmptyAnimationSections) {
  ScratchDir dir;
  fs::copy_file(FixturePath("tri.obj"), dir.path / "tri.obj");
  fs::copy_file(FixturePath("tri.mtl"), dir.path / "tri.mtl");
  RunResult run = RunVarndel({"1", "0", "tri.obj"}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  const std::string log =
      SuccessLog(true, "tri.animbin", "tri.obj", Info("Animated model file supplied does not contain animations!\n"));
  EXPECT_EQ(run.out, TextMode("\033[0m" + log + MatchingReport(1, true)));
  EXPECT_EQ(ReadFile(dir.path / "Logs/Log.txt"), TextMode(log));

  Bytes tail;
  tail.f32(0).f64(0);            // animDuration, TicksPerSecond
  tail.zeros(64).u32(0).u32(0);  // a default root node: zero matrix, no name, no children
  tail.u8(0).u8(0);              // no bones, no bone infos
  const std::string file = ReadFile(dir.path / "tri.animbin");
  // 12 header + 4 + 3 * 88 + 4 + 12 + 2 + one texture entry for "tri.png" (10)
  ASSERT_EQ(file.size(), 308u + 86u);
  EXPECT_EQ(file[0], '\1');
  EXPECT_EQ(file.substr(308), tail.data);
}

TEST(AnimatedPipeline, StaticCompileOfSkinnedModelLeavesBoneSlotsFree) {
  ScratchDir dir;
  fs::copy_file(FixturePath("skinned.gltf"), dir.path / "skinned.gltf");
  RunResult run = RunVarndel({"0", "0", "skinned.gltf"}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  const std::string file = ReadFile(dir.path / "skinned.staticbin");
  // Header and mesh sections only: 12 + (4 + 4 * 88 + 4 + 6 * 4 + 2) + (4 + 3 * 88 + 4 + 3 * 4 + 2).
  ASSERT_EQ(file.size(), 684u);
  // The same vertices as the animated compile, every slot free (-1, 0).
  EXPECT_EQ(file, SkinnedMeshSections(false).data);
}
