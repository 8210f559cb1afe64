// The read-back of the animation sections: timing, node hierarchy, bone
// tracks and bone-info entries.
#include <cmath>

#include "tests/verify_helpers.h"

TEST(VerifyAnimation, EmptyAnimatedFileMatches) {
  ModelContainer mc;
  mc.isAnimatedModel = true;
  mc.rootNode.name = "Root";
  const std::string image = ImageOf(mc);
  ASSERT_EQ(image.size(), 102u);
  const Report report = VerifyImage(mc, image);
  EXPECT_FALSE(report.mismatch);
  EXPECT_EQ(report.text,
            "\n// TESTING READ BIN FILE...\n"
            "\033[31m\033[32m// - BIN FILE HEADER IS GUCCI\033[0m\n"
            "\033[31m"
            "\033[33mDEBUG: Current mesh anim hierarchy data OK.\033[0m\n"
            "\033[31m\033[95m\033[31m"
            "\033[33mDEBUG: Current mesh bone data OK.\033[0m\n"
            "\033[32m// - BIN FILE IS GUCCI GUCCI GUCCI\033[0m\n"
            "\033[0m");
  EXPECT_EQ(report.text, ExpectedReport().header().animation().end());
}

TEST(VerifyAnimation, ContainerDecidesWhetherAnimationIsRead) {
  // The file says static, the container animated: the animation sections are
  // still read. The hierarchy matches, so its status line reads OK although
  // the run already has a problem.
  ModelContainer mc = AnimatedModel();
  mc.meshes = StaticModel().meshes;
  std::string image = ImageOf(mc);
  image[0] = 0;
  const Report report = VerifyImage(mc, image);
  EXPECT_TRUE(report.mismatch);
  EXPECT_EQ(report.text, ExpectedReport()
                             .header("MISMATCH!!! IsAnimatedModel does not match! MC: 1 VS BIN: 0\n")
                             .mesh()
                             .animation()
                             .end());
}

struct AnimationCase {
  const char* name;
  // Applied before the file is written from `file`; `container` is what the
  // file is verified against.
  void (*change)(ModelContainer& file, ModelContainer& container);
  AnimationLines lines = {};
};

TEST(VerifyAnimation, ReportsEachDifference) {
  const AnimationCase cases[] = {
      // Timing
      {"animDuration 1e-7 apart",
       [](ModelContainer& f, ModelContainer& c) {
         c.animDuration = 0;
         f.animDuration = 1e-7f;
       }},
      {"animDuration 2e-7 apart",
       [](ModelContainer& f, ModelContainer& c) {
         c.animDuration = 0;
         f.animDuration = 2e-7f;
       },
       {.timing = "MISMATCH!!! animDuration does not match! MC: 0 VS BIN: 2e-07\n"}},
      {"TicksPerSecond exactly 2^-52 apart",
       [](ModelContainer& f, ModelContainer& c) {
         c.TicksPerSecond = 1.0;
         f.TicksPerSecond = std::nextafter(1.0, 2.0);
       },
       {.timing = "MISMATCH!!! TicksPerSecond does not match! MC: 1 VS BIN: 1\n"}},
      {"NaN timing never mismatches",
       [](ModelContainer& f, ModelContainer& c) {
         f.animDuration = kNaN;
         c.TicksPerSecond = std::nan("");
       }},
      // Hierarchy
      {"a node name one byte longer",
       [](ModelContainer& f, ModelContainer&) { f.rootNode.children[1].name = "Tails"; },
       {.hierarchy = "MISMATCH!!! rootNode.name size does not match!\n"
                     "MISMATCH!!! rootNode.name does not match!\n"}},
      {"a node name of the same length",
       [](ModelContainer& f, ModelContainer&) { f.rootNode.children[1].name = "Tale"; },
       {.hierarchy = "MISMATCH!!! rootNode.name does not match!\n"}},
      {"a grandchild's transformation",
       [](ModelContainer& f, ModelContainer&) { f.rootNode.children[0].children[0].transformation[13] = 7; },
       {.hierarchy = "MISMATCH!!! rootNode.transformation does not match!\n"}},
      {"a NaN transformation on both sides",
       [](ModelContainer& f, ModelContainer& c) { f.rootNode.transformation[5] = c.rootNode.transformation[5] = kNaN; },
       {.hierarchy = "MISMATCH!!! rootNode.transformation does not match!\n"}},
      {"every test of a node, then its children in order",
       [](ModelContainer& f, ModelContainer&) {
         f.rootNode.transformation[0] = 2;
         f.rootNode.name = "Rooty";
         f.rootNode.children[0].children[0].name = "Spino";
         f.rootNode.children[1].transformation[12] = 0;
       },
       {.hierarchy = "MISMATCH!!! rootNode.transformation does not match!\n"
                     "MISMATCH!!! rootNode.name size does not match!\n"
                     "MISMATCH!!! rootNode.name does not match!\n"
                     "MISMATCH!!! rootNode.name does not match!\n"
                     "MISMATCH!!! rootNode.transformation does not match!\n"}},
      {"a surplus child subtree is read, not compared",
       [](ModelContainer& f, ModelContainer&) {
         HierarchyNode& hips = f.rootNode.children[0];
         hips.children.push_back(Node("Extra", 0, {Node("Deeper")}));
         hips.childrenCount = 2;
       },
       {.hierarchy = "MISMATCH!!! rootNode.childrenCount does not match!\n"}},
      {"a missing child is not compared",
       [](ModelContainer& f, ModelContainer&) {
         f.rootNode.children.pop_back();
         f.rootNode.childrenCount = 1;
       },
       {.hierarchy = "MISMATCH!!! rootNode.childrenCount does not match!\n"}},
      // Bone tracks
      {"key times 2^-25 apart",
       [](ModelContainer& f, ModelContainer&) { f.bones[1].m_Positions[0].timeStamp = 0.25f + std::ldexp(1.0f, -25); }},
      {"key times 2^-23 apart",
       [](ModelContainer& f, ModelContainer&) { f.bones[1].m_Positions[0].timeStamp = 0.25f + std::ldexp(1.0f, -23); },
       {.bones = "MISMATCH!!! bone[1] m_Positions vector does not match!\n"}},
      {"one key value",
       [](ModelContainer& f, ModelContainer&) { f.bones[0].m_Rotations[0].orientation[3] = 0.999f; },
       {.bones = "MISMATCH!!! bone[0] m_Rotations vector does not match!\n"}},
      {"a NaN key value on both sides",
       [](ModelContainer& f, ModelContainer& c) {
         f.bones[2].m_Scales[0].scale[1] = c.bones[2].m_Scales[0].scale[1] = kNaN;
       },
       {.bones = "MISMATCH!!! bone[2] m_Scales vector does not match!\n"}},
      {"key lists of different lengths",
       [](ModelContainer& f, ModelContainer&) {
         f.bones[2].m_Scales.push_back({{2, 2, 2}, 0.9f});
       },
       {.bones = "MISMATCH!!! bone[2] m_NumScalings does not match! MC: 1 VS BIN: 2\n"
                 "MISMATCH!!! bone[2] m_Scales vector does not match!\n"}},
      {"the three max times, without a closing bracket",
       [](ModelContainer& f, ModelContainer&) {
         f.bones[2].m_PosKeyMaxTime = 4;
         f.bones[1].m_RotKeyMaxTime = 0.5f + std::ldexp(1.0f, -23);  // 2^-23 apart counts
         f.bones[1].m_ScaleKeyMaxTime = kNaN;                        // NaN never
         f.bones[0].m_ScaleKeyMaxTime = 0.25f;
       },
       {.bones = "MISMATCH!!! bone[0m_ScaleKeyMaxTime does not match! MC: 0.75 VS BIN: 0.25\n"
                 "MISMATCH!!! bone[1m_RotKeyMaxTime does not match! MC: 0.5 VS BIN: 0.5\n"
                 "MISMATCH!!! bone[2m_PosKeyMaxTime does not match! MC: 3 VS BIN: 4\n"}},
      {"a bone name one byte longer",
       [](ModelContainer& f, ModelContainer&) { f.bones[1].m_Name = "Spines"; },
       {.bones = "MISMATCH!!! bone[1] m_Name length does not match! MC: 5 VS BIN: 6\n"
                 "MISMATCH!!! bone[1] m_Name does not match! MC: Spine VS BIN: Spines\n"}},
      {"a bone name with a zero byte is cut there when read",
       [](ModelContainer& f, ModelContainer& c) { f.bones[1].m_Name = c.bones[1].m_Name = std::string("Sp\0ne", 5); },
       {.bones = "MISMATCH!!! bone[1] m_Name does not match! MC: " + std::string("Sp\0ne", 5) + " VS BIN: Sp\n"}},
      {"m_ID of bone 0",
       [](ModelContainer& f, ModelContainer&) { f.bones[0].m_ID = 5; },
       {.bones = "MISMATCH!!! bone[0] m_ID does not match! MC: 0 VS BIN: 5\n"}},
      {"more than 255 bones: the full count, and only the announced records read",
       [](ModelContainer& f, ModelContainer& c) {
         const Bone first = c.bones[0];
         c.bones.resize(300, first);
         f.bones.resize(2);
       },
       {.boneCount = "MISMATCH!!! numBones does not match! MC: 300 VS BIN: 2\n"}},
      {"a surplus bone record is read, not compared",
       [](ModelContainer& f, ModelContainer&) { f.bones.push_back(BoneTrack("Extra", 9)); },
       {.boneCount = "MISMATCH!!! numBones does not match! MC: 3 VS BIN: 4\n"}},
      // Bone-info entries
      {"an unknown bone-info name, then an entry read correctly",
       [](ModelContainer& f, ModelContainer&) {
         f.boneInfoMap.erase("Hips");
         f.boneInfoMap["Hipz"] = {7, {}};
       },
       {.infos = "MISMATCH!!! Unable to find bone info entry with name Hipz\n"}},
      {"a bone-info ID and offset",
       [](ModelContainer& f, ModelContainer&) {
         f.boneInfoMap["Spine"].ID = 9;
         f.boneInfoMap["Tail"].offset[3] = 0.5f;
       },
       {.infos = "MISMATCH!!! bone info [Spine] ID does not match! MC: 1 VS BIN: 9\n"
                 "MISMATCH!!! bone info [Tail] offset does not match!\n"}},
      {"a surplus bone-info entry",
       [](ModelContainer& f, ModelContainer&) {
         f.boneInfoMap["Zed"] = {3, {}};
       },
       {.infoCount = "MISMATCH!!! numBoneInfos does not match! MC: 3 VS BIN: 4\n",
        .infos = "MISMATCH!!! Unable to find bone info entry with name Zed\n"}},
  };
  for (const AnimationCase& c : cases) {
    ModelContainer file = AnimatedModel();
    ModelContainer container = AnimatedModel();
    c.change(file, container);
    const Report report = VerifyImage(container, ImageOf(file));
    const ExpectedReport expected = ExpectedReport().header().animation(c.lines);
    EXPECT_EQ(report.text, expected.end()) << c.name;
    EXPECT_EQ(report.mismatch, expected.problem) << c.name;
  }
}

TEST(VerifyAnimation, MissingFileReadsZeroAnimation) {
  ModelContainer mc = AnimatedModel();
  std::ostringstream out;
  EXPECT_TRUE(VerifyModelFile("absent.animbin", mc, out));
  std::string expected = kStart +
                         "ERROR!!! Failed to open bin file!\n"
                         "MISMATCH!!! IsAnimatedModel does not match! MC: 1 VS BIN: 0\n\033[31m"
                         "MISMATCH!!! animDuration does not match! MC: 2.5 VS BIN: 0\n"
                         "MISMATCH!!! TicksPerSecond does not match! MC: 30 VS BIN: 0\n"
                         "MISMATCH!!! rootNode.transformation does not match!\n"
                         "MISMATCH!!! rootNode.name size does not match!\n"
                         "MISMATCH!!! rootNode.name does not match!\n"
                         "MISMATCH!!! rootNode.childrenCount does not match!\n" +
                         StatusLine("anim hierarchy", false) +
                         "\033[31mMISMATCH!!! numBones does not match! MC: 3 VS BIN: 0\n"
                         "\033[95m\033[31mMISMATCH!!! numBoneInfos does not match! MC: 3 VS BIN: 0\n" +
                         StatusLine("bone", false) + kProblem;
  EXPECT_EQ(out.str(), expected);
}
