// ValidateModel as an engine calls it, on a model in memory: the fatal
// findings are errors with their element paths, and texture files are only
// judged through the caller's lookup. The rules themselves are tested through
// `check` (inspect_check_test.cpp), which prints these findings.
#include <gtest/gtest.h>
#include <varndel/validate.h>

#include <cmath>
#include <limits>

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

}  // namespace
