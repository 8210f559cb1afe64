// The file image, checked against bytes laid out by hand.
#include <gtest/gtest.h>

#include <iostream>

#include "log/log.h"
#include "model/model.h"
#include "tests/test_support.h"

static std::string Serialize(const ModelContainer& mc, int expectedCode = 0) {
  std::string out;
  EXPECT_EQ(SerializeModel(mc, out), expectedCode);
  return out;
}

static Vertex MakeVertex(float x) {
  Vertex v;
  v.position = {x, 2, 3};
  v.normal = {0, 0, 1};
  v.texCoords = {0.5f, 0.25f};
  v.tangent = {1, 0, 0};
  v.bitangent = {0, 1, 0};
  return v;
}

TEST(FileImage, EmptyModelsAndMeshes) {
  ModelContainer mc;
  mc.flipUVs = true;
  EXPECT_EQ(Serialize(mc), Bytes().u8(0).u8(1).u64(0).u16(0).data);  // 12 bytes

  mc.meshes.emplace_back();
  EXPECT_EQ(Serialize(mc), Bytes().u8(0).u8(1).u64(1).u16(0).u32(0).u32(0).u16(0).data);  // 12 + 10

  ModelContainer animated;
  animated.isAnimatedModel = true;
  animated.rootNode.name = "Root";
  Bytes expected;
  expected.u8(1).u8(0).u64(0).u16(0).f32(0).f64(0).zeros(64).u32(4).raw("Root").u32(0).u8(0).u8(0);
  EXPECT_EQ(expected.data.size(), 102u);
  EXPECT_EQ(Serialize(animated), expected.data);
}

TEST(FileImage, StaticMeshWithTexture) {
  ModelContainer mc;
  mc.meshes.emplace_back(std::vector<Vertex>{MakeVertex(1), MakeVertex(4), MakeVertex(7)},
                         std::vector<uint32_t>{0, 1, 2}, TextureMap{{"a.png", 1}});
  mc.loadedTextures = {"a.png"};
  Bytes expected;
  expected.u8(0).u8(0).u64(1).u16(1).u32(3);
  for (float x : {1.f, 4.f, 7.f}) StaticVertex(expected, {x, 2, 3}, {0, 0, 1}, {0.5f, 0.25f}, {1, 0, 0}, {0, 1, 0});
  expected.u32(3).u32(0).u32(1).u32(2).u16(1).u16(5).raw("a.png").u8(1);
  const std::string image = Serialize(mc);
  EXPECT_EQ(image.size(), 306u);
  EXPECT_EQ(image, expected.data);
}

TEST(FileImage, TexturesSortByUnsignedBytes) {
  ModelContainer mc;
  mc.meshes.emplace_back(std::vector<Vertex>{}, std::vector<uint32_t>{},
                         TextureMap{{"b.png", 2}, {"a.png", 1}, {"a.PNG", 6}, {"\xE9.png", 3}, {"a.png.dds", 5}});
  mc.loadedTextures.resize(5);
  Bytes expected;
  expected.u8(0).u8(0).u64(1).u16(5).u32(0).u32(0).u16(5);
  expected.u16(5).raw("a.PNG").u8(6).u16(5).raw("a.png").u8(1).u16(9).raw("a.png.dds").u8(5);
  expected.u16(5).raw("b.png").u8(2).u16(5).raw("\xE9.png").u8(3);
  EXPECT_EQ(Serialize(mc), expected.data);
}

TEST(FileImage, AnimationSections) {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.animDuration = 2.5f;
  mc.TicksPerSecond = 24.0;
  // R(A(E), B): stored R, A, E, B
  HierarchyNode& root = mc.rootNode;
  root.name = "R";
  root.transformation[12] = 1;
  root.childrenCount = 2;
  root.children.resize(2);
  root.children[0].name = "A";
  root.children[0].childrenCount = 1;
  root.children[0].children.resize(1);
  root.children[0].children[0].name = "E";
  root.children[1].name = "B";

  Bone bone;
  bone.m_Positions = {{{1, 2, 3}, 0.5f}};
  bone.m_Rotations = {{{0.1f, 0.2f, 0.3f, 1}, 0.25f}, {{0, 0, 0, 1}, 1.5f}};
  bone.m_NumPositions = 1;
  bone.m_NumRotations = 2;
  bone.m_PosKeyMaxTime = 0.5f;
  bone.m_RotKeyMaxTime = 1.5f;
  bone.m_Name = "A";
  bone.m_ID = 3;
  mc.bones = {bone};
  mc.boneInfoMap["b"].ID = 1;
  mc.boneInfoMap["a"].ID = 0;
  mc.boneInfoMap["a"].offset[0] = 2;

  Bytes e;
  e.u8(1).u8(0).u64(0).u16(0).f32(2.5f).f64(24.0);
  e.zeros(48).floats({1, 0, 0, 0}).u32(1).raw("R").u32(2);
  e.zeros(64).u32(1).raw("A").u32(1);
  e.zeros(64).u32(1).raw("E").u32(0);
  e.zeros(64).u32(1).raw("B").u32(0);
  e.u8(1);
  e.i32(1).floats({1, 2, 3, 0.5f});
  e.i32(2).floats({0.1f, 0.2f, 0.3f, 1, 0.25f}).floats({0, 0, 0, 1, 1.5f});
  e.i32(0);
  e.f32(0.5f).f32(1.5f).f32(0).u16(1).raw("A").i32(3);
  e.u8(2);
  e.u16(1).raw("a").i32(0).f32(2).zeros(60);
  e.u16(1).raw("b").i32(1).zeros(64);
  EXPECT_EQ(Serialize(mc), e.data);
}

TEST(FileImage, DeepHierarchySerializesWithoutRecursion) {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  HierarchyNode* node = &mc.rootNode;
  const int depth = 200000;
  for (int i = 0; i < depth; ++i) {
    node->childrenCount = 1;
    node->children.resize(1);
    node = &node->children[0];
  }
  const std::string image = Serialize(mc);
  EXPECT_EQ(image.size(), 12 + 4 + 8 + 72u * (depth + 1) + 1 + 1);
}

struct LimitCase {
  const char* what;
  void (*build)(ModelContainer&);
  std::string message;
};

TEST(FileImage, RefusesWhatTheLayoutCannotCount) {
  const LimitCase cases[] = {
      {"model textures", [](ModelContainer& mc) { mc.loadedTextures.resize(65536); },
       "Models may not have more than 65,535 textures! Current model has 65536 textures.\n"},
      {"mesh textures",
       [](ModelContainer& mc) {
         mc.meshes.emplace_back();
         for (int i = 0; i < 65536; ++i) mc.meshes[0].textures[std::to_string(i)] = 1;
       },
       "Meshes may not have more than 65,535 textures! Current mesh has 65536 textures.\n"},
      {"texture path",
       [](ModelContainer& mc) {
         mc.meshes.emplace_back();
         mc.meshes[0].textures[std::string(65536, 'p')] = 1;
       },
       "Texture paths may not be longer than 65,535 bytes! Current path has 65536 bytes.\n"},
      {"bones",
       [](ModelContainer& mc) {
         mc.isAnimatedModel = true;
         mc.bones.resize(256);
       },
       "Models may not have more than 255 bones! Current model has 256 bones.\n"},
      {"bone infos",
       [](ModelContainer& mc) {
         mc.isAnimatedModel = true;
         for (int i = 0; i < 256; ++i) mc.boneInfoMap[std::to_string(i)];
       },
       "Models may not have more than 255 bone infos! Current model has 256 bone infos.\n"},
      {"bone name",
       [](ModelContainer& mc) {
         mc.isAnimatedModel = true;
         mc.bones.resize(1);
         mc.bones[0].m_Name.assign(65536, 'b');
       },
       "Bone names may not be longer than 65,535 bytes! Current name has 65536 bytes.\n"},
  };
  for (const LimitCase& c : cases) {
    ModelContainer mc;
    c.build(mc);
    CaptureStdout console;
    std::string out;
    EXPECT_EQ(SerializeModel(mc, out), 8) << c.what;
    EXPECT_EQ(console.text(), std::string(kErrorTag) + c.message);
  }
  // Exactly at the limits is fine.
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.bones.resize(255);
  mc.bones[0].m_Name.assign(65535, 'b');
  EXPECT_EQ(Serialize(mc)[12 + 4 + 8 + 72], '\xFF');
}
