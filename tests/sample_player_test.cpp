// The player against the reference functions of sample.h: on compiled
// models and a generated character at random times, forward and jumping; on
// the choices a file leaves open; and with cursors of its own per instance.
#include <gtest/gtest.h>
#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/sample.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "tests/generated_character.h"
#include "tests/sample_paths.h"
#include "tests/test_support.h"

namespace {

using varndel::Mat4;
using varndel::Vec3;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Within 1e-5 of the reference (relative for large values), and equal
// element for element where exact is set.
template <typename Array>
void ExpectAgree(const std::vector<Array>& player, const std::vector<Array>& reference, bool exact, const char* what) {
  ASSERT_EQ(player.size(), reference.size()) << what;
  for (size_t i = 0; i < player.size(); ++i) {
    for (size_t k = 0; k < player[i].size(); ++k) {
      const float p = player[i][k], r = reference[i][k];
      if (exact || !std::isfinite(r)) {
        EXPECT_TRUE(p == r || (std::isnan(p) && std::isnan(r)))
            << what << " " << i << "[" << k << "]: " << p << " vs " << r;
      } else {
        EXPECT_NEAR(p, r, 1e-5 * std::max(1.0f, std::fabs(r))) << what << " " << i << "[" << k << "]";
      }
    }
  }
}

// Every time in turn: the player's globals, palette and skinned meshes
// against the reference. Key times must agree exactly.
void ExpectPlayerAgrees(const varndel::Model& model, const std::vector<float>& times,
                        const std::vector<float>& keyTimes) {
  varndel::AnimationPlayer player{varndel::Animation(model.animation)};
  std::vector<Mat4> palette(player.BoneCount());
  std::vector<Vec3> positions, normals, referencePositions, referenceNormals;
  for (float ticks : times) {
    SCOPED_TRACE(ticks);
    const bool exact = std::find(keyTimes.begin(), keyTimes.end(), ticks) != keyTimes.end();
    player.Evaluate(ticks, palette.data());
    const std::vector<Mat4> globals = varndel::ComputeGlobalTransforms(model.animation, ticks);
    const std::vector<Mat4> skinning = varndel::ComputeSkinningMatrices(model.animation, globals);
    ExpectAgree(player.Globals(), globals, exact, "global");
    ExpectAgree(palette, skinning, exact, "skinning matrix");
    for (const varndel::MeshData& mesh : model.meshes) {
      positions.assign(mesh.vertices.size(), {});
      normals.assign(mesh.vertices.size(), {});
      player.SkinVertices(mesh, palette.data(), positions.data(), normals.data());
      varndel::SkinVertices(mesh, model.animation, skinning, referencePositions, &referenceNormals);
      ExpectAgree(positions, referencePositions, exact, "position");
      ExpectAgree(normals, referenceNormals, exact, "normal");
    }
    if (testing::Test::HasFailure()) return;  // one time's report is enough
  }
}

std::vector<float> KeyTimesOf(const varndel::Animation& animation) {
  std::vector<float> times;
  for (const varndel::Track& track : animation.tracks) {
    for (const auto& key : track.positions) times.push_back(key.timeStamp);
    for (const auto& key : track.rotations) times.push_back(key.timeStamp);
    for (const auto& key : track.scales) times.push_back(key.timeStamp);
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  return times;
}

// 1,000 random times from a little before the first tick to a little after
// the last, played forward; then the same in random order (one jump each);
// then up to 50 key times.
std::vector<float> PlaybackTimes(const varndel::Animation& animation, uint32_t seed) {
  std::mt19937 random(seed);
  const double span = std::max(1.0f, animation.duration);
  std::uniform_real_distribution<double> pick(-0.1 * span, 1.1 * span);
  std::vector<float> times(1000);
  for (float& t : times) t = float(pick(random));
  std::sort(times.begin(), times.end());
  std::vector<float> jumps = times;
  std::shuffle(jumps.begin(), jumps.end(), random);
  times.insert(times.end(), jumps.begin(), jumps.end());
  const std::vector<float> keys = KeyTimesOf(animation);
  for (size_t i = 0; i < keys.size(); i += std::max<size_t>(1, keys.size() / 50)) times.push_back(keys[i]);
  return times;
}

TEST(SamplePlayer, AgreesWithTheReferenceOnCompiledModelsAndAGeneratedCharacter) {
  varndel::Model character;
  character.animated = true;
  character.animation = MakeCharacter(4, 30);
  character.meshes = {MakeCharacterMesh(300)};
  const std::pair<const char*, varndel::Model> models[] = {
      {"walker", CompiledModel(ExamplePath("walker.gltf"))},
      {"arm", CompiledModel(FixturePath("arm.gltf"))},
      {"three meshes", CompiledModel(FixturePath("character.gltf"))},
      {"character", character}};
  for (const auto& [name, model] : models) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(model.animation.nodes.empty());
    ExpectPlayerAgrees(model, PlaybackTimes(model.animation, 19), KeyTimesOf(model.animation));
  }
}

varndel::Node MakeNode(const char* name, int32_t parent, uint32_t children, const Vec3& at) {
  return {name, varndel::ComposeTransform(at, {0, 0, 0.6f, 0.8f}, {1, 2, 1}), parent, children};
}

// The choices sample.h documents, each in a small animation.
struct ChoiceCase {
  const char* what;
  varndel::Animation animation;
  std::vector<float> keyTimes;
};

std::vector<ChoiceCase> ChoiceCases() {
  std::vector<ChoiceCase> cases;
  varndel::Track track;
  track.name = "A";
  // Unsorted, repeated (first in file order wins) and NaN times.
  track.positions = {{{5, 0, 0}, 10}, {{1, 0, 0}, 0}, {{9, 9, 9}, kNaN},
                     {{2, 0, 0}, 5},  {{7, 7, 7}, 5}, {{3, 0, 0}, 2}};
  track.rotations = {{{0, 0, 1, 0}, 8}, {{0, 0, 0, 1}, 1}, {{0, 1, 0, 1}, kNaN}, {{1, 0, 0, 1}, 4}};
  track.scales = {{{2, 2, 2}, kNaN}, {{3, 3, 3}, kNaN}};  // only NaN: the first is held
  varndel::Animation keys;
  keys.nodes = {MakeNode("Root", -1, 1, {0, 0, 1}), MakeNode("A", 0, 0, {1, 0, 0})};
  keys.tracks = {track};
  keys.boneInfos = {{"A", 0, varndel::IdentityMat4()}};
  cases.push_back({"unsorted, repeated and NaN key times", keys, {0, 1, 2, 4, 5, 8, 10}});

  // Two nodes named A (a track moves both; the bone follows the first),
  // a second track for A (ignored), a track naming no node, a parent that is
  // not an earlier node (a root), bone-info entries with equal, large,
  // negative and unknown numbers.
  varndel::Track rotationOnly;
  rotationOnly.name = "A";
  rotationOnly.rotations = {{{0, 0, 0, 1}, 0}, {{0, 0, 1, 1}, 6}};
  varndel::Track ignored = rotationOnly;
  ignored.rotations = {{{1, 0, 0, 0}, 3}};
  varndel::Track ghost = ignored;
  ghost.name = "Ghost";
  varndel::Animation names;
  names.nodes = {MakeNode("Root", -1, 2, {0, 0, 0}), MakeNode("A", 0, 1, {1, 0, 0}), MakeNode("A", 1, 0, {0, 1, 0}),
                 MakeNode("B", 7, 0, {0, 0, 2})};
  names.tracks = {rotationOnly, ignored, ghost};
  const Mat4 shift = varndel::ComposeTransform({0, -1, 0}, {0, 0, 0, 1}, {1, 1, 1});
  names.boneInfos = {{"A", 2000000, shift}, {"B", 5, shift}, {"Ghost", 5, shift}, {"A", -4, shift}, {"X", 9, shift}};
  cases.push_back({"names, parents and bone numbers", names, {0, 3, 6}});
  return cases;
}

TEST(SamplePlayer, ChoicesTheFileLeavesOpenMatchTheReference) {
  for (const ChoiceCase& c : ChoiceCases()) {
    SCOPED_TRACE(c.what);
    varndel::Model model;
    model.animated = true;
    model.animation = c.animation;
    varndel::MeshData mesh;
    for (int32_t id : {2000000, 5, -4, 9, 0}) {
      varndel::Vertex v;
      v.position = {1, 2, 3};
      v.normal = {0, 0, 1};
      v.boneIDs = {id, 5, -1, -1};
      v.weights = {0.75f, 0.25f, 0, 0};
      mesh.vertices.push_back(v);
    }
    model.meshes = {mesh};
    // Forward, backward, outside, NaN, and between keys.
    std::vector<float> times = c.keyTimes;
    times.insert(times.end(), c.keyTimes.rbegin(), c.keyTimes.rend());
    times.insert(times.end(), {-1, 1.5f, 7.25f, 3.5f, 100, -kInf, kInf, kNaN, 0.5f, 9.75f});
    ExpectPlayerAgrees(model, times, c.keyTimes);
  }
}

TEST(SamplePlayer, InstancesSharingOnePreparedAnimationKeepTheirOwnPlace) {
  const varndel::Animation animation = MakeCharacter(2, 30);
  const auto prepared = std::make_shared<const varndel::PreparedAnimation>(animation);
  EXPECT_EQ(prepared->TimelineCount(), 1u);  // all 240 key lists have the same times: one search per frame
  varndel::AnimationPlayer forward(prepared), backward(prepared);
  varndel::AnimationPlayer copy = forward;  // shares the prepared part, own cursor
  EXPECT_EQ(&copy.Prepared(), prepared.get());
  std::vector<Mat4> palette(prepared->BoneCount());
  for (int frame = 0; frame <= 120; frame += 7) {
    const float ahead = float(frame) / 2, behind = 60 - float(frame) / 2;
    forward.Evaluate(ahead, palette.data());
    backward.Evaluate(behind, palette.data());
    EXPECT_EQ(forward.Globals(), varndel::ComputeGlobalTransforms(animation, ahead)) << ahead;
    EXPECT_EQ(backward.Globals(), varndel::ComputeGlobalTransforms(animation, behind)) << behind;
  }

  // A cursor made for another animation serves when it has as many
  // timelines (only its starting places differ); else it is refused, and
  // nothing is written.
  varndel::PlaybackCursor foreign(varndel::PreparedAnimation(MakeCharacter(1, 10)));
  varndel::PlaybackCursor none{varndel::PreparedAnimation(varndel::Animation())};
  std::vector<Mat4> globals(prepared->NodeCount(), varndel::IdentityMat4());
  const std::vector<Mat4> untouched = globals;
  EXPECT_FALSE(prepared->Evaluate(none, 3.0f, globals.data(), palette.data()));
  EXPECT_EQ(globals, untouched);
  EXPECT_FALSE(prepared->Evaluate(foreign, 3.0f, nullptr, palette.data()));
  EXPECT_TRUE(prepared->Evaluate(foreign, 3.0f, globals.data(), palette.data()));
  EXPECT_EQ(globals, varndel::ComputeGlobalTransforms(animation, 3.0f));
}

}  // namespace
