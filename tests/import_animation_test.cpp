// Animation import: the first animation's timing, the copied node tree and
// one key-frame track per channel.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/model.h"
#include "tests/import_scene_builder.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ModelContainer ConvertAnimated(const aiScene& scene) {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  EXPECT_EQ(ConvertScene(scene, mc), 0);
  return mc;
}

TEST(ImportAnimation, TakesTheFirstAnimationOnly) {
  ScenePtr scene(MakeScene(MakeNode("root"), {}));
  SetAnimations(*scene, {MakeAnimation(0.1, 1.0 / 3.0, {MakeChannel("hip")}),
                         MakeAnimation(99, 30, {MakeChannel("x"), MakeChannel("y")})});
  const ModelContainer mc = ConvertAnimated(*scene);
  EXPECT_EQ(mc.animDuration, 0.1f);         // nearest float
  EXPECT_EQ(mc.TicksPerSecond, 1.0 / 3.0);  // not narrowed
  ASSERT_EQ(mc.bones.size(), 1u);
  EXPECT_EQ(mc.bones[0].m_Name, "hip");
}

TEST(ImportAnimation, LogsAndLeavesAnimationDataEmptyWithoutAnimation) {
  struct Case {
    const char* what;
    bool animated;
    std::vector<aiAnimation*> list;  // what mAnimations holds
    unsigned count;                  // what mNumAnimations says
    const char* out;
  };
  const std::string info = Info("Animated model file supplied does not contain animations!\n");
  const Case cases[] = {
      {"no animation array", true, {}, 0, info.c_str()},
      {"array but count 0", true, {MakeAnimation(5, 5, {MakeChannel("hip")})}, 0, info.c_str()},
      {"null first animation", true, {nullptr}, 1, info.c_str()},
      {"static model with animation", false, {MakeAnimation(5, 5, {MakeChannel("hip")})}, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScenePtr scene(MakeScene(MakeNode("root", {0}), {MakeMesh(0, 1)}));
    SetAnimations(*scene, c.list);
    scene->mNumAnimations = c.count;
    ModelContainer mc;
    mc.isAnimatedModel = c.animated;
    CaptureStdout out;
    EXPECT_EQ(ConvertScene(*scene, mc), 0);
    scene->mNumAnimations = static_cast<unsigned>(c.list.size());  // so the scene frees them

    EXPECT_EQ(out.text(), c.out);
    EXPECT_EQ(mc.meshes.size(), 1u);
    EXPECT_EQ(mc.animDuration, 0.0f);
    EXPECT_EQ(mc.TicksPerSecond, 0.0);
    EXPECT_TRUE(mc.bones.empty());
    EXPECT_TRUE(mc.rootNode.name.empty());
    EXPECT_EQ(mc.rootNode.transformation, Mat4{});
    EXPECT_EQ(mc.rootNode.childrenCount, 0u);
    EXPECT_TRUE(mc.rootNode.children.empty());
  }
}

TEST(CopyNodeHierarchy, CopiesNamesTransposedTransformsAndChildrenSkippingNulls) {
  aiNode* first = MakeNode("first", {}, {MakeNode("grandchild")});
  aiNode* second = MakeNode("second");
  aiNode* root = MakeNode("root", {}, {first, nullptr, second});
  aiMatrix4x4::Translation(aiVector3D(1, 2, 3), root->mTransformation);
  root->mName = aiString(std::string("ro\0ot", 5));  // the name ends at the NUL

  HierarchyNode copy;
  CopyNodeHierarchy(copy, *root);
  EXPECT_EQ(copy.name, "ro");
  EXPECT_EQ(copy.transformation, (Mat4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}));
  ASSERT_EQ(copy.childrenCount, 2u);
  ASSERT_EQ(copy.children.size(), 2u);
  EXPECT_EQ(copy.children[0].name, "first");
  EXPECT_EQ(copy.children[0].childrenCount, 1u);
  EXPECT_EQ(copy.children[0].children.at(0).name, "grandchild");
  EXPECT_EQ(copy.children[0].children[0].transformation[15], 1.0f);  // identity, not zeros
  EXPECT_EQ(copy.children[1].name, "second");
  EXPECT_EQ(copy.children[1].childrenCount, 0u);
  delete root;
}

TEST(BuildBone, KeepsKeysInChannelOrderAndTakesNonNegativeMaximumTimes) {
  struct Case {
    std::vector<double> times;
    float max;
  };
  const Case cases[] = {
      {{0, 10, 5}, 10}, {{-3, -1}, 0}, {{kNaN, 3}, 3}, {{3, kNaN}, 3}, {{kNaN}, 0}, {{0.1}, 0.1f}, {{}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.times));
    std::vector<aiVectorKey> positions, scalings;
    std::vector<aiQuatKey> rotations;
    for (double t : c.times) {
      positions.push_back({t, aiVector3D(float(t), 1, 2)});
      rotations.push_back({t, aiQuaternion(1, 0, 0, 0)});
      scalings.push_back({t, aiVector3D(3, 4, float(t))});
    }
    std::unique_ptr<aiNodeAnim> channel(MakeChannel("hip", positions, rotations, scalings));
    const Bone bone = BuildBone("hip", 7, *channel);

    EXPECT_EQ(bone.m_Name, "hip");
    EXPECT_EQ(bone.m_ID, 7);
    const int32_t count = static_cast<int32_t>(c.times.size());
    EXPECT_EQ(bone.m_NumPositions, count);
    EXPECT_EQ(bone.m_NumRotations, count);
    EXPECT_EQ(bone.m_NumScalings, count);
    ASSERT_EQ(bone.m_Positions.size(), c.times.size());
    ASSERT_EQ(bone.m_Rotations.size(), c.times.size());
    ASSERT_EQ(bone.m_Scales.size(), c.times.size());
    for (size_t k = 0; k < c.times.size(); ++k) {
      const float t = static_cast<float>(c.times[k]);
      if (std::isnan(t)) continue;
      EXPECT_EQ(bone.m_Positions[k].timeStamp, t);
      EXPECT_EQ(bone.m_Positions[k].position, (Vec3{t, 1, 2}));
      EXPECT_EQ(bone.m_Rotations[k].timeStamp, t);
      EXPECT_EQ(bone.m_Scales[k].timeStamp, t);
      EXPECT_EQ(bone.m_Scales[k].scale, (Vec3{3, 4, t}));
    }
    EXPECT_EQ(bone.m_PosKeyMaxTime, c.max);
    EXPECT_EQ(bone.m_RotKeyMaxTime, c.max);
    EXPECT_EQ(bone.m_ScaleKeyMaxTime, c.max);
  }
}

TEST(BuildBone, StoresQuaternionsWLastAndCopesWithMissingKeyLists) {
  std::unique_ptr<aiNodeAnim> channel(
      MakeChannel("spine", {}, {{2.5, aiQuaternion(1.0f, 0.1f, 0.2f, 0.3f)}}, {}));  // w, x, y, z
  channel->mNumPositionKeys = 4;                                                     // but no key list
  const Bone bone = BuildBone("spine", 0, *channel);
  ASSERT_EQ(bone.m_Rotations.size(), 1u);
  EXPECT_EQ(bone.m_Rotations[0].orientation, (Vec4{0.1f, 0.2f, 0.3f, 1.0f}));
  EXPECT_EQ(bone.m_Rotations[0].timeStamp, 2.5f);
  EXPECT_EQ(bone.m_RotKeyMaxTime, 2.5f);
  EXPECT_EQ(bone.m_NumPositions, 0);  // counts always match the lists
  EXPECT_TRUE(bone.m_Positions.empty());
  EXPECT_EQ(bone.m_NumScalings, 0);
  EXPECT_EQ(bone.m_ScaleKeyMaxTime, 0.0f);
}

TEST(BuildBoneTracks, OneTrackPerChannelNumberedByNameAndKeptThroughTheMeshReset) {
  // Channels hip, spine, hip again, a null entry, head.
  auto makeScene = [](std::vector<aiMesh*> meshes) {
    std::vector<unsigned> all;
    for (unsigned m = 0; m < meshes.size(); ++m) all.push_back(m);
    aiScene* scene = MakeScene(MakeNode("root", all), meshes);
    SetAnimations(
        *scene,
        {MakeAnimation(1, 1,
                       {MakeChannel("hip"), MakeChannel("spine"), MakeChannel("hip"), nullptr, MakeChannel("head")})});
    return scene;
  };
  using Tracks = std::vector<std::pair<std::string, int32_t>>;
  const Tracks expectedTracks{{"hip", 0}, {"spine", 1}, {"hip", 0}, {"head", 2}};
  auto tracksOf = [](const ModelContainer& mc) {
    Tracks tracks;
    for (const Bone& bone : mc.bones) tracks.emplace_back(bone.m_Name, bone.m_ID);
    return tracks;
  };

  {
    SCOPED_TRACE("no meshes: the channel entries stay in the map");
    ScenePtr scene(makeScene({}));
    const ModelContainer mc = ConvertAnimated(*scene);
    EXPECT_EQ(tracksOf(mc), expectedTracks);
    ASSERT_EQ(mc.boneInfoMap.size(), 3u);
    EXPECT_EQ(mc.boneInfoMap.at("head").ID, 2);
    EXPECT_EQ(mc.boneInfoMap.at("head").offset, Mat4{});
    EXPECT_EQ(mc.boneCounter, 3);
  }
  {
    SCOPED_TRACE("a skinned mesh replaces the map, the track numbers stay");
    aiMesh* mesh = MakeMesh(0, 1);
    SetBones(*mesh, {MakeBone("x", {{0, 1.0f}})});
    ScenePtr scene(makeScene({mesh}));
    const ModelContainer mc = ConvertAnimated(*scene);
    EXPECT_EQ(tracksOf(mc), expectedTracks);
    ASSERT_EQ(mc.boneInfoMap.size(), 1u);
    EXPECT_EQ(mc.boneInfoMap.at("x").ID, 0);
  }
}

}  // namespace
