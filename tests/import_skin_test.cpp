// Skin weights: per-mesh bone numbering, the bone-info map of the last mesh,
// and the four bone slots of a vertex.
#include <gtest/gtest.h>

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

TEST(AssignBoneWeights, NumbersBonesPerMeshAndKeepsTheLastMeshsMap) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::string>> boneNames;  // per mesh; bone b weighs on vertex b
    std::vector<Slots> firstVertexSlots;              // per mesh
    std::vector<std::pair<std::string, int32_t>> finalMap;
  };
  const Case cases[] = {
      {"same names in both meshes",
       {{"hip", "spine"}, {"hip", "spine"}},
       {{0, -1, -1, -1}, {0, -1, -1, -1}},
       {{"hip", 0}, {"spine", 1}}},
      {"different names", {{"a", "b"}, {"c"}}, {{0, -1, -1, -1}, {0, -1, -1, -1}}, {{"c", 0}}},
      {"last mesh without bones", {{"a", "b"}, {}}, {{0, -1, -1, -1}, kFree}, {}},
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
      if (c.boneNames[m].size() > 1) {
        EXPECT_EQ(mc.meshes[m].vertices[1].boneIDs, (Slots{1, -1, -1, -1}));
      }
    }
    std::vector<std::pair<std::string, int32_t>> map;
    for (const auto& [name, info] : mc.boneInfoMap) {
      map.emplace_back(name, info.ID);
      // The offsets are the last mesh's: translation (mesh, bone, 0).
      EXPECT_EQ(TranslationOf(info.offset), (Vec3{float(c.boneNames.size() - 1), float(info.ID), 0})) << name;
    }
    EXPECT_EQ(map, c.finalMap);
    EXPECT_EQ(mc.boneCounter, static_cast<int32_t>(c.finalMap.size()));
  }
}

TEST(AssignBoneWeights, FillsFreeSlotsInBoneOrderAndDropsTheFifthInfluence) {
  // Vertex 0 is weighed on by six bone entries; "b" appears twice with
  // different offsets: the second keeps the first number and offset, and
  // takes a slot of its own. A zero weight takes a slot like any other.
  aiMesh* mesh = MakeMesh(0, 2);
  SetBones(*mesh, {MakeBone("b", {{0, 0.0f}}, Translation(1, 2, 3)), MakeBone("a", {{0, 0.7f}, {1, 2.0f}}),
                   MakeBone("b", {{0, 0.25f}}, Translation(9, 9, 9)), MakeBone("c", {{0, 0.5f}}),
                   MakeBone("d", {{0, 0.9f}}), MakeBone("e", {{1, 0.3f}})});
  const ModelContainer mc = Convert({mesh});

  const Vertex& v0 = mc.meshes[0].vertices[0];
  EXPECT_EQ(v0.boneIDs, (Slots{0, 1, 0, 2}));
  EXPECT_EQ(v0.weights, (Vec4{0.0f, 0.7f, 0.25f, 0.5f}));
  const Vertex& v1 = mc.meshes[0].vertices[1];
  EXPECT_EQ(v1.boneIDs, (Slots{1, 4, -1, -1}));  // not normalised, not sorted
  EXPECT_EQ(v1.weights, (Vec4{2.0f, 0.3f, 0, 0}));

  EXPECT_EQ(mc.boneInfoMap.size(), 5u);
  EXPECT_EQ(mc.boneInfoMap.at("b").ID, 0);
  EXPECT_EQ(TranslationOf(mc.boneInfoMap.at("b").offset), (Vec3{1, 2, 3}));
  EXPECT_EQ(mc.boneInfoMap.at("b").offset[0], 1.0f);
  EXPECT_EQ(mc.boneInfoMap.at("d").ID, 3);
  EXPECT_EQ(mc.boneCounter, 5);
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
