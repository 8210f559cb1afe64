// ValidateModel as an engine calls it, on a model in memory: the fatal
// findings are errors with their element paths, and texture files are only
// judged through the caller's lookup. The rules themselves are tested through
// `check` (inspect_check_test.cpp), which prints these findings; a view of
// the file gives the same findings as the model read from it.
#include <gtest/gtest.h>
#include <varndel/mapped.h>
#include <varndel/validate.h>
#include <varndel/writer.h>

#include <cmath>
#include <limits>

#include "tests/read_agreement.h"

namespace {

varndel::Model BrokenModel() {
  varndel::Model model;
  model.animated = true;
  varndel::MeshData mesh;
  for (const varndel::Vec3& p : {varndel::Vec3{0, 0, 0}, varndel::Vec3{1, 1, 0}, varndel::Vec3{0, 1, 0}}) {
    varndel::Vertex v;
    v.position = p;
    v.normal = {0, 0, 1};
    v.boneIDs = {0, -1, -1, -1};
    v.weights = {1, 0, 0, 0};
    mesh.vertices.push_back(v);
  }
  mesh.vertices[1].position[2] = std::numeric_limits<float>::infinity();
  mesh.vertices[2].boneIDs[1] = 4;  // no bone-info entry has 4
  mesh.vertices[2].weights = {0.5f, 0.5f, 0, 0};
  mesh.indices = {0, 1, 3};
  mesh.textures = {{"skin.png", 1}};
  model.meshes = {mesh};
  model.animation.nodes = {{"Hip", {}, -1, 0}};
  model.animation.boneInfos = {{"Hip", 0, {}}};
  return model;
}

TEST(ValidateModel, FatalFindingsAreErrorsAndTexturesNeedTheCallersLookup) {
  const varndel::Model model = BrokenModel();
  using varndel::Severity;
  struct Expected {
    Severity severity;
    const char* element;
    const char* message;
  };
  const std::vector<Expected> fatal = {
      {Severity::kError, "mesh 0 index 2", "3 is at or past the vertex count 3"},
      {Severity::kError, "mesh 0 vertex 1 position", "not finite (1, 1, inf)"},
      {Severity::kError, "mesh 0 vertex 2 boneIDs", "slot 1 names bone 4, which has no bone-info entry"},
  };
  const auto expect = [](const std::vector<varndel::Finding>& findings, const std::vector<Expected>& expected) {
    ASSERT_EQ(findings.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(findings[i].severity, expected[i].severity) << i;
      EXPECT_EQ(findings[i].element, expected[i].element) << i;
      EXPECT_EQ(findings[i].message, expected[i].message) << i;
    }
  };
  expect(varndel::ValidateModel(model), fatal);  // the file system is not touched

  std::vector<std::string> looked;
  const auto findings = varndel::ValidateModel(model, [&looked](const std::string& stored) {
    looked.push_back(stored);
    return std::string("not in the pack");
  });
  std::vector<Expected> all = fatal;
  all.push_back({Severity::kWarning, "mesh 0 texture 'skin.png'", "not in the pack"});
  expect(findings, all);
  EXPECT_EQ(looked, std::vector<std::string>{"skin.png"});
}

TEST(ValidateModel, AnimationTimingAPlayerCannotUseIsAnError) {
  struct Case {
    float duration;
    double rate;
    const char* element;  // nullptr: no finding
    const char* message;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {10, 0, nullptr, ""},  // played at 25 ticks per second
      {10, 30, nullptr, ""},
      {10, -5, nullptr, ""},  // played at 25 too
      {nan, 30, "animation duration", "nan is not finite"},
      {inf, 30, "animation duration", "inf is not finite"},
      {10, 1e-300, "animation ticksPerSecond", "1e-300 is outside 0.001 to 1000000 ticks per second"},
      {10, 1e300, "animation ticksPerSecond", "1e+300 is outside 0.001 to 1000000 ticks per second"},
  };
  for (const Case& c : cases) {
    varndel::Model model;
    model.animated = true;
    model.animation.nodes = {{"Hip", {}, -1, 0}};
    model.animation.duration = c.duration;
    model.animation.ticksPerSecond = c.rate;
    const auto findings = varndel::ValidateModel(model);
    if (c.element == nullptr) {
      EXPECT_TRUE(findings.empty()) << c.rate;
      continue;
    }
    ASSERT_EQ(findings.size(), 1u) << c.element;
    EXPECT_EQ(findings[0].severity, varndel::Severity::kError);
    EXPECT_EQ(findings[0].element, c.element);
    EXPECT_EQ(findings[0].message, c.message);
  }
}

// Two unknown slots of one vertex are one vertex in the count.
TEST(ValidateModel, CountsVerticesNotBoneSlots) {
  varndel::Model model = BrokenModel();
  model.meshes[0].indices = {0, 1, 2};
  model.meshes[0].vertices[1].position[2] = 0;
  model.meshes[0].vertices[2].boneIDs = {4, 5, -1, -1};
  model.meshes[0].vertices[0].boneIDs = {7, -1, -1, -1};
  const auto findings = varndel::ValidateModel(model);
  ASSERT_FALSE(findings.empty());
  EXPECT_EQ(findings[0].element, "mesh 0 vertex 0 boneIDs");
  EXPECT_EQ(findings[0].message, "slot 0 names bone 7, which has no bone-info entry (and 1 more vertex: 2)");
}

// Every rule fires in one file, read at an odd address so that no record
// is aligned: the view's form must find what the model's does.
TEST(ValidateModel, AViewFindsWhatTheModelFinds) {
  varndel::Model model = BrokenModel();
  varndel::MeshData odd = model.meshes[0];
  odd.vertices[0].normal = {0, 0, 0};
  odd.vertices[1].normal = {0, 2, 0};
  odd.vertices[1].boneIDs = {-1, -1, -1, -1};
  odd.vertices[2].weights = {0.25f, 0.5f, 0, 0};
  odd.indices = {0, 0, 1, 0, 1, 2, 2};
  odd.textures = {{"skin.png", 1}, {"bump.png", 5}};
  model.meshes.push_back(odd);
  model.animation.duration = std::numeric_limits<float>::quiet_NaN();
  model.animation.ticksPerSecond = 1e9;
  varndel::Track& ghost = model.animation.tracks.emplace_back();
  ghost.name = "Ghost";
  ghost.positions = {{{}, 2}, {{}, 1}, {{}, std::numeric_limits<float>::quiet_NaN()}};
  ghost.rotations = {{{0, 0, 0, 1}, 30}};
  for (bool animated : {true, false}) {
    SCOPED_TRACE(animated);
    model.animated = animated;
    const std::string bytes = "x" + varndel::WriteModel(model);
    varndel::Model read;
    varndel::MappedModel view;
    ASSERT_TRUE(varndel::ReadModel(bytes.data() + 1, bytes.size() - 1, read));
    ASSERT_TRUE(view.Open(bytes.data() + 1, bytes.size() - 1));
    EXPECT_GE(varndel::ValidateModel(view).size(), animated ? 12u : 6u);
    ExpectSameFindings(read, view);
  }
}

}  // namespace
