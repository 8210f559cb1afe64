// Skin weights: bone numbers per model, a bone-info map of every mesh's
// bones, and the four bone slots of a vertex.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/model.h"
#include "tests/import_scene_builder.h"

namespace {

using Slots = std::array<int32_t, 4>;
constexpr Slots kFree{-1, -1, -1, -1};

aiMatrix4x4 Translation(float x, float y, float z) {
  aiMatrix4x4 m;
  return aiMatrix4x4::Translation(aiVector3D(x, y, z), m);
}

Vec3 TranslationOf(const Mat4& m) { return {m[12], m[13], m[14]}; }

// Converts the meshes, each referenced once by the root in order.
ModelContainer Convert(const std::vector<aiMesh*>& meshes, bool animated = true) {
  std::vector<unsigned> all;
  for (unsigned m = 0; m < meshes.size(); ++m) all.push_back(m);
  ScenePtr scene(MakeScene(MakeNode("root", all), meshes));
  ModelContainer mc;
  mc.isAnimatedModel = animated;
  CaptureStdout console;  // the scene has no animation: an info line
  EXPECT_EQ(ConvertScene(*scene, mc), 0);
  return mc;
}

TEST(AssignBoneWeights, NumbersBonesOncePerModelByName) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::string>> boneNames;  // per mesh; bone b weighs on vertex b
    std::vector<Slots> firstVertexSlots;              // per mesh
    std::vector<Slots> secondVertexSlots;             // per mesh
    std::vector<std::pair<std::string, int32_t>> finalMap;
  };
  const Case cases[] = {
      {"same names in both meshes",
       {{"hip", "spine"}, {"hip", "spine"}},
       {{0, -1, -1, -1}, {0, -1, -1, -1}},
       {{1, -1, -1, -1}, {1, -1, -1, -1}},
       {{"hip", 0}, {"spine", 1}}},
      {"disjoint names",
       {{"a", "b"}, {"c"}},
       {{0, -1, -1, -1}, {2, -1, -1, -1}},
       {{1, -1, -1, -1}, kFree},
       {{"a", 0}, {"b", 1}, {"c", 2}}},
      {"overlapping names",
       {{"hip", "spine"}, {"spine", "head"}},
       {{0, -1, -1, -1}, {1, -1, -1, -1}},
       {{1, -1, -1, -1}, {2, -1, -1, -1}},
       {{"head", 2}, {"hip", 0}, {"spine", 1}}},
      {"last mesh without bones",
       {{"a", "b"}, {}},
       {{0, -1, -1, -1}, kFree},
       {{1, -1, -1, -1}, kFree},
       {{"a", 0}, {"b", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<aiMesh*> meshes;
    for (size_t m = 0; m < c.boneNames.size(); ++m) {
      aiMesh* mesh = MakeMesh(static_cast<float>(m), 2);
      std::vector<aiBone*> bones;
      for (unsigned b = 0; b < c.boneNames[m].size(); ++b) {
        bones.push_back(MakeBone(c.boneNames[m][b], {{b, 0.5f}}, Translation(float(m), float(b), 0)));
      }
      SetBones(*mesh, bones);
      meshes.push_back(mesh);
    }
    const ModelContainer mc = Convert(meshes);
    for (size_t m = 0; m < c.boneNames.size(); ++m) {
      EXPECT_EQ(mc.meshes[m].vertices[0].boneIDs, c.firstVertexSlots[m]) << "mesh " << m;
      EXPECT_EQ(mc.meshes[m].vertices[1].boneIDs, c.secondVertexSlots[m]) << "mesh " << m;
    }
    std::vector<std::pair<std::string, int32_t>> map;
    for (const auto& [name, info] : mc.boneInfoMap) map.emplace_back(name, info.ID);
    EXPECT_EQ(map, c.finalMap);
    EXPECT_EQ(mc.boneCounter, static_cast<int32_t>(c.finalMap.size()));
    // A bone keeps the offset of the first mesh that names it: translation (mesh, bone, 0).
    for (size_t m = 0; m < c.boneNames.size(); ++m) {
      for (size_t b = 0; b < c.boneNames[m].size(); ++b) {
        const BoneInfo& info = mc.boneInfoMap.at(c.boneNames[m][b]);
        bool earlier = false;
        for (size_t e = 0; e < m; ++e) {
          for (const std::string& name : c.boneNames[e]) earlier = earlier || name == c.boneNames[m][b];
        }
        if (!earlier) {
          EXPECT_EQ(TranslationOf(info.offset), (Vec3{float(m), float(b), 0})) << c.boneNames[m][b];
        }
      }
    }
  }
}

TEST(AssignBoneWeights, ResetsTheAnimationsEntriesOnceBeforeTheFirstMesh) {
  // The animation's channel names fill the map before the walk; the first
  // mesh drops them, and the second mesh's bones join the first's.
  std::vector<aiMesh*> meshes{MakeMesh(0, 1), MakeMesh(1, 1)};
  SetBones(*meshes[0], {MakeBone("hip", {{0, 1.0f}})});
  SetBones(*meshes[1], {MakeBone("head", {{0, 1.0f}})});
  ScenePtr scene(MakeScene(MakeNode("root", {0, 1}), meshes));
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.boneInfoMap["channel"].ID = 0;
  mc.boneCounter = 1;
  CaptureStdout console;
  ASSERT_EQ(ConvertScene(*scene, mc), 0);
  EXPECT_EQ(mc.boneInfoMap.count("channel"), 0u);
  EXPECT_EQ(mc.boneInfoMap.at("hip").ID, 0);
  EXPECT_EQ(mc.boneInfoMap.at("head").ID, 1);
  EXPECT_EQ(mc.meshes[1].vertices[0].boneIDs, (Slots{1, -1, -1, -1}));
}

TEST(AssignBoneWeights, FillsFreeSlotsInBoneOrderUpToFourInfluences) {
  // Vertex 0 is weighed on by four bone entries; "b" appears twice with
  // different offsets: the second keeps the first number and offset, and
  // takes a slot of its own. A zero weight takes a slot like any other.
  aiMesh* mesh = MakeMesh(0, 2);
  SetBones(*mesh, {MakeBone("b", {{0, 0.0f}}, Translation(1, 2, 3)), MakeBone("a", {{0, 0.7f}, {1, 2.0f}}),
                   MakeBone("b", {{0, 0.25f}}, Translation(9, 9, 9)), MakeBone("c", {{0, 0.5f}}),
                   MakeBone("d", {{1, 0.9f}}), MakeBone("e", {{1, 0.3f}})});
  const ModelContainer mc = Convert({mesh});

  const Vertex& v0 = mc.meshes[0].vertices[0];
  EXPECT_EQ(v0.boneIDs, (Slots{0, 1, 0, 2}));
  EXPECT_EQ(v0.weights, (Vec4{0.0f, 0.7f, 0.25f, 0.5f}));  // not normalised, not sorted
  const Vertex& v1 = mc.meshes[0].vertices[1];
  EXPECT_EQ(v1.boneIDs, (Slots{1, 3, 4, -1}));
  EXPECT_EQ(v1.weights, (Vec4{2.0f, 0.9f, 0.3f, 0}));

  EXPECT_EQ(mc.boneInfoMap.size(), 5u);
  EXPECT_EQ(mc.boneInfoMap.at("b").ID, 0);
  EXPECT_EQ(TranslationOf(mc.boneInfoMap.at("b").offset), (Vec3{1, 2, 3}));
  EXPECT_EQ(mc.boneInfoMap.at("b").offset[0], 1.0f);
  EXPECT_EQ(mc.boneInfoMap.at("d").ID, 3);
  EXPECT_EQ(mc.boneCounter, 5);
}

TEST(AssignBoneWeights, KeepsTheFourHeaviestOfMoreInfluencesRenormalised) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* what;
    std::vector<float> weights;  // bone i weighs weights[i] on the vertex
    Slots boneIDs;
    Vec4 kept;  // before renormalising
    bool renormalised;
  };
  const Case cases[] = {
      {"heaviest last", {0.01f, 0.02f, 0.03f, 0.04f, 0.9f}, {1, 2, 3, 4}, {0.02f, 0.03f, 0.04f, 0.9f}, true},
      {"six, kept in the order met", {0.1f, 0.5f, 0.05f, 0.2f, 0.05f, 0.1f}, {0, 1, 3, 5}, {0.1f, 0.5f, 0.2f, 0.1f},
       true},
      {"ties go to the first met", {0.25f, 0.25f, 0.25f, 0.25f, 0.25f}, {0, 1, 2, 3}, {0.25f, 0.25f, 0.25f, 0.25f},
       true},
      {"NaN is the lightest", {nan, 0.1f, 0.2f, 0.3f, 0.0f}, {1, 2, 3, 4}, {0.1f, 0.2f, 0.3f, 0.0f}, true},
      {"NaN kept when needed", {nan, nan, 0.5f, nan, 0.5f}, {0, 1, 2, 4}, {nan, nan, 0.5f, 0.5f}, false},
      {"zero sum kept as is", {0, 0, 0, 0, 0}, {0, 1, 2, 3}, {0, 0, 0, 0}, false},
      {"infinite sum kept as is", {inf, 1, 1, 1, 1}, {0, 1, 2, 3}, {inf, 1, 1, 1}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    aiMesh* mesh = MakeMesh(0, 1);
    std::vector<aiBone*> bones;
    for (size_t b = 0; b < c.weights.size(); ++b) bones.push_back(MakeBone("bone" + std::to_string(b), {{0, c.weights[b]}}));
    SetBones(*mesh, bones);
    const ModelContainer mc = Convert({mesh});
    const Vertex& v = mc.meshes[0].vertices[0];
    EXPECT_EQ(v.boneIDs, c.boneIDs);
    const float sum = ((c.kept[0] + c.kept[1]) + c.kept[2]) + c.kept[3];
    for (size_t slot = 0; slot < 4; ++slot) {
      const float expected = c.renormalised ? c.kept[slot] / sum : c.kept[slot];
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(v.weights[slot])) << slot;
      } else {
        EXPECT_EQ(v.weights[slot], expected) << slot;
      }
    }
  }
}

TEST(AssignBoneWeights, SkipsWeightsOutsideTheMeshAndNullBonesOrWeights) {
  aiMesh* mesh = MakeMesh(0, 2);
  aiBone* noWeights = MakeBone("ghost", {});
  noWeights->mNumWeights = 3;  // but no weight list
  SetBones(*mesh, {nullptr, MakeBone("a", {{2, 1.0f}, {0xFFFFFFFFu, 1.0f}, {1, 0.5f}}), noWeights});
  const ModelContainer mc = Convert({mesh});

  EXPECT_EQ(mc.meshes[0].vertices[0].boneIDs, kFree);
  EXPECT_EQ(mc.meshes[0].vertices[1].boneIDs, (Slots{0, -1, -1, -1}));
  EXPECT_EQ(mc.meshes[0].vertices[1].weights, (Vec4{0.5f, 0, 0, 0}));
  EXPECT_EQ(mc.boneInfoMap.at("a").ID, 0);
  EXPECT_EQ(mc.boneInfoMap.at("ghost").ID, 1);
}

TEST(AssignBoneWeights, StaticModelsLeaveSlotsAndMapAlone) {
  aiMesh* mesh = MakeMesh(0, 1);
  SetBones(*mesh, {MakeBone("hip", {{0, 1.0f}})});
  const ModelContainer mc = Convert({mesh}, /*animated=*/false);
  EXPECT_EQ(mc.meshes[0].vertices[0].boneIDs, kFree);
  EXPECT_EQ(mc.meshes[0].vertices[0].weights, (Vec4{0, 0, 0, 0}));
  EXPECT_TRUE(mc.boneInfoMap.empty());
  EXPECT_EQ(mc.boneCounter, 0);
}

}  // namespace
