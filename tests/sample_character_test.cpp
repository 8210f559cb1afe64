// The three-mesh character of fixtures/character.gltf, compiled by the real
// binary: both skinned meshes number their bones in one map, the boneless
// sword placed last keeps it, the atlas textures both meshes, the vertex with
// six influences keeps its four heaviest, and every vertex lands where the
// bind pose and the animation put it, through the reference functions and
// through the player.
#include <gtest/gtest.h>
#include <varndel/reader.h>
#include <varndel/sample.h>

#include <array>
#include <cmath>
#include <map>
#include <numbers>

#include "tests/sample_paths.h"
#include "tests/test_support.h"

namespace {

using Matrix = std::array<double, 16>;  // column-major

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix m{};
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) {
      for (int k = 0; k < 4; ++k) m[4 * c + r] += a[4 * k + r] * b[4 * c + k];
    }
  }
  return m;
}
Matrix Translate(double x, double y, double z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }
Matrix TurnZ(double radians) {
  const double c = std::cos(radians), s = std::sin(radians);
  return {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}
Matrix Scale(double s) { return {s, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, 0, 0, 0, 1}; }

// The skinning matrix of each joint at second t (make_character_gltf.py):
// Hip rises by 0.2 at 0.5 s, Spine (y=1) turns 45 degrees about Z at 0.5 s,
// Head (y=2) grows 1.5 times at 0.5 s; all back by 1 s. Tails do not move.
std::map<std::string, Matrix> SkinningAt(double t) {
  const double phase = t < 0.5 ? t / 0.5 : t < 1 ? (1 - t) / 0.5 : 0;
  const Matrix hip = Translate(0, 0.2 * phase, 0);
  const Matrix spine = Multiply(Multiply(hip, Translate(0, 1, 0)), TurnZ(phase * std::numbers::pi / 4));
  const Matrix head = Multiply(Multiply(spine, Translate(0, 1, 0)), Scale(1 + 0.5 * phase));
  const Matrix still = Translate(0, 0, 0);
  return {{"Hip", hip},
          {"Spine", Multiply(spine, Translate(0, -1, 0))},
          {"Head", Multiply(head, Translate(0, -2, 0))},
          {"Tail1", still},
          {"Tail2", still},
          {"Tail3", still},
          {"Tail4", still}};
}

class SampleCharacter : public testing::TestWithParam<PosePath> {};
INSTANTIATE_TEST_SUITE_P(Paths, SampleCharacter, testing::Values(PosePath::kReference, PosePath::kPlayer),
                         PosePathName);

TEST_P(SampleCharacter, EveryMeshKeepsItsTexturesAndSkinsToTheRightBones) {
  const varndel::Model model = CompiledModel(FixturePath("character.gltf"));
  ASSERT_EQ(model.meshes.size(), 3u);

  // One atlas, on both meshes whose materials name it.
  EXPECT_EQ(model.textureCount, 1u);
  for (size_t m : {0, 1}) {
    ASSERT_EQ(model.meshes[m].textures.size(), 1u) << m;
    EXPECT_EQ(model.meshes[m].textures[0].path, "atlas.png") << m;
  }
  EXPECT_TRUE(model.meshes[2].textures.empty());

  // Every joint of both skins, numbered in the order first met; the sword
  // coming last leaves the map as it is.
  std::map<std::string, int32_t> ids;
  for (const varndel::BoneInfoEntry& info : model.animation.boneInfos) ids[info.name] = info.id;
  EXPECT_EQ(ids, (std::map<std::string, int32_t>{
                     {"Head", 6}, {"Hip", 0}, {"Spine", 1}, {"Tail1", 2}, {"Tail2", 3}, {"Tail3", 4}, {"Tail4", 5}}));

  // Body vertex 4 met Hip .05, Spine .3, Tail1 .05, Tail2 .2, Tail3 .3, Tail4 .1.
  const varndel::Vertex& six = model.meshes[0].vertices[4];
  EXPECT_EQ(six.boneIDs, (std::array<int32_t, 4>{1, 3, 4, 5}));
  const float sum = ((0.3f + 0.2f) + 0.3f) + 0.1f;
  EXPECT_EQ(six.weights, (std::array<float, 4>{0.3f / sum, 0.2f / sum, 0.3f / sum, 0.1f / sum}));

  std::map<int32_t, std::string> names;
  for (const auto& [name, id] : ids) names[id] = name;
  const varndel::Animation& animation = model.animation;
  Poser poser(GetParam(), animation);
  for (double t : {0.0, 0.25, 0.5, 0.8, 1.0}) {
    SCOPED_TRACE(t);
    const float ticks = float(t * varndel::TicksPerSecond(animation));
    const std::map<std::string, Matrix> expected = SkinningAt(t);
    for (size_t m = 0; m < model.meshes.size(); ++m) {
      std::vector<varndel::Vec3> positions;
      poser.Skin(model.meshes[m], ticks, positions, nullptr);
      for (size_t v = 0; v < positions.size(); ++v) {
        const varndel::Vertex& vertex = model.meshes[m].vertices[v];
        std::array<double, 3> want{};
        double weight = 0;
        for (size_t slot = 0; slot < 4; ++slot) {
          if (vertex.boneIDs[slot] < 0) continue;
          const Matrix& s = expected.at(names.at(vertex.boneIDs[slot]));
          const auto& p = vertex.position;
          for (int r = 0; r < 3; ++r) {
            want[r] += vertex.weights[slot] * (s[r] * p[0] + s[4 + r] * p[1] + s[8 + r] * p[2] + s[12 + r]);
          }
          weight += vertex.weights[slot];
        }
        if (weight == 0) want = {vertex.position[0], vertex.position[1], vertex.position[2]};  // the sword
        for (int r = 0; r < 3; ++r) EXPECT_NEAR(positions[v][r], want[r], 1e-5) << "mesh " << m << " vertex " << v;
      }
    }
  }
}

}  // namespace
