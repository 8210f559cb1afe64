// Sampling and skinning on hand-made animations: exact keys, hand-computed
// values between keys, clamping, missing kinds of keys, the hierarchy, and
// the choices the file layout leaves open. Each test runs through the
// reference functions and through the player.
#include <gtest/gtest.h>
#include <varndel/sample.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "tests/sample_paths.h"

namespace {

using varndel::Mat4;
using varndel::Vec3;
using varndel::Vec4;

const float kHalf = float(std::sqrt(0.5));  // sin and cos of 45 degrees

// Position (1,2,3) -> (5,-6,7), rotation none -> 90 degrees about Z, scale
// (1,1,1) -> (2,4,8), all between ticks 0 and 10.
varndel::Track ElbowTrack() {
  varndel::Track track;
  track.name = "Elbow";
  track.positions = {{{1, 2, 3}, 0}, {{5, -6, 7}, 10}};
  track.rotations = {{{0, 0, 0, 1}, 0}, {{0, 0, kHalf, kHalf}, 10}};
  track.scales = {{{1, 1, 1}, 0}, {{2, 4, 8}, 10}};
  return track;
}

void ExpectNear(const Vec3& actual, const Vec3& expected, float tolerance = 1e-5f) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(actual[k], expected[k], tolerance) << "component " << k;
}

void ExpectNearMatrix(const Mat4& actual, const Mat4& expected) {
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(actual[k], expected[k], 1e-5) << "element " << k;
}

// A rotation of angle degrees about Z, as x, y, z, w.
Vec4 AboutZ(double degrees) {
  const double half = degrees * std::numbers::pi / 360.0;
  return {0, 0, float(std::sin(half)), float(std::cos(half))};
}

Mat4 Translation(float x, float y, float z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }

class SampleTrack : public testing::TestWithParam<PosePath> {
 protected:
  // The track on an identity node of its name, posed at each of times in turn.
  std::vector<Mat4> PosesOfTrack(const varndel::Track& track, const std::vector<float>& times) {
    varndel::Animation animation;
    animation.nodes = {{track.name, varndel::IdentityMat4(), -1, 0}};
    animation.tracks = {track};
    Poser poser(GetParam(), animation);
    std::vector<Mat4> poses;
    for (float ticks : times) poses.push_back(poser.Globals(ticks).at(0));
    return poses;
  }
};
INSTANTIATE_TEST_SUITE_P(Paths, SampleTrack, testing::Values(PosePath::kReference, PosePath::kPlayer), PosePathName);

TEST_P(SampleTrack, KeyTimesGiveTheKeysExactlyInAnyStoredOrder) {
  varndel::Track reversed = ElbowTrack();
  std::swap(reversed.positions[0], reversed.positions[1]);
  std::swap(reversed.rotations[0], reversed.rotations[1]);
  std::swap(reversed.scales[0], reversed.scales[1]);
  for (const varndel::Track& track : {ElbowTrack(), reversed}) {
    const std::vector<float> times = {0.0f, 10.0f, 0.0f};  // forward, then back
    const std::vector<Mat4> poses = PosesOfTrack(track, times);
    for (size_t i = 0; i < times.size(); ++i) {
      const float ticks = times[i];
      const varndel::TrackSample s = varndel::SampleTrack(track, ticks);
      const size_t key = track.positions[0].timeStamp == ticks ? 0 : 1;
      ASSERT_TRUE(s.hasPosition && s.hasRotation && s.hasScale);
      EXPECT_EQ(s.position, track.positions[key].position) << ticks;
      EXPECT_EQ(s.rotation, track.rotations[key].orientation) << ticks;
      EXPECT_EQ(s.scale, track.scales[key].scale) << ticks;
      EXPECT_EQ(poses[i], varndel::ComposeTransform(track.positions[key].position, track.rotations[key].orientation,
                                                    track.scales[key].scale))
          << ticks;
    }
  }
}

TEST_P(SampleTrack, BetweenKeysMatchesHandComputedValues) {
  struct Case {
    float ticks;
    Vec3 position, scale;
    double degrees;
  };
  const Case cases[] = {
      {2.5f, {2, 0, 4}, {1.25f, 1.75f, 2.75f}, 22.5},
      {5.0f, {3, -2, 5}, {1.5f, 2.5f, 4.5f}, 45.0},
      {9.0f, {4.6f, -5.2f, 6.6f}, {1.9f, 3.7f, 7.3f}, 81.0},
  };
  const std::vector<Mat4> poses = PosesOfTrack(ElbowTrack(), {cases[0].ticks, cases[1].ticks, cases[2].ticks});
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const varndel::TrackSample s = varndel::SampleTrack(ElbowTrack(), c.ticks);
    ExpectNear(s.position, c.position);
    ExpectNear(s.scale, c.scale);
    const Vec4 q = AboutZ(c.degrees);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(s.rotation[k], q[k], 1e-5) << c.ticks << " component " << k;
    ExpectNearMatrix(poses[i], varndel::ComposeTransform(c.position, q, c.scale));
  }
}

TEST_P(SampleTrack, OutsideTheKeysTheNearestKeyIsHeld) {
  const varndel::Track track = ElbowTrack();
  const float inf = std::numeric_limits<float>::infinity();
  const std::pair<float, size_t> cases[] = {{-3.0f, 0}, {1e9f, 1}, {-inf, 0}, {inf, 1}};
  std::vector<float> times;
  for (const auto& c : cases) times.push_back(c.first);
  const std::vector<Mat4> poses = PosesOfTrack(track, times);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [ticks, key] = cases[i];
    const varndel::TrackSample s = varndel::SampleTrack(track, ticks);
    EXPECT_EQ(s.position, track.positions[key].position) << ticks;
    EXPECT_EQ(s.rotation, track.rotations[key].orientation) << ticks;
    EXPECT_EQ(s.scale, track.scales[key].scale) << ticks;
    EXPECT_EQ(poses[i], varndel::ComposeTransform(track.positions[key].position, track.rotations[key].orientation,
                                                  track.scales[key].scale))
        << ticks;
  }
}

TEST_P(SampleTrack, RotationTakesTheShorterArc) {
  // The same end orientation stored as its negative: the way round must not
  // change.
  varndel::Track track = ElbowTrack();
  for (float& c : track.rotations[1].orientation) c = -c;
  const Vec4 s = varndel::SampleTrack(track, 5.0f).rotation;
  const Vec4 q = AboutZ(45.0);
  const double dot = double(s[0]) * q[0] + double(s[1]) * q[1] + double(s[2]) * q[2] + double(s[3]) * q[3];
  EXPECT_NEAR(std::fabs(dot), 1.0, 1e-6);
  track.positions.clear();
  track.scales.clear();
  ExpectNearMatrix(PosesOfTrack(track, {5.0f}).at(0), varndel::ComposeTransform({0, 0, 0}, q, {1, 1, 1}));
}

// Node transformation: translation (1,2,3), 90 degrees about X, scale 2.
varndel::Animation OneNodeWith(const varndel::Track& track) {
  varndel::Animation animation;
  varndel::Node node;
  node.name = "Elbow";
  node.transformation = varndel::ComposeTransform({1, 2, 3}, {kHalf, 0, 0, kHalf}, {2, 2, 2});
  animation.nodes.push_back(node);
  animation.tracks.push_back(track);
  return animation;
}

TEST_P(SampleTrack, KindsWithoutKeysKeepTheNodesOwnParts) {
  const Vec4 aboutX{kHalf, 0, 0, kHalf};
  struct Case {
    const char* name;
    bool positions, rotations, scales;
    Mat4 expected;  // at tick 10
  };
  const Case cases[] = {
      {"positions only", true, false, false, varndel::ComposeTransform({5, -6, 7}, aboutX, {2, 2, 2})},
      {"rotations only", false, true, false, varndel::ComposeTransform({1, 2, 3}, AboutZ(90), {2, 2, 2})},
      {"scales only", false, false, true, varndel::ComposeTransform({1, 2, 3}, aboutX, {2, 4, 8})},
      {"all kinds", true, true, true, varndel::ComposeTransform({5, -6, 7}, AboutZ(90), {2, 4, 8})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    varndel::Track track = ElbowTrack();
    if (!c.positions) track.positions.clear();
    if (!c.rotations) track.rotations.clear();
    if (!c.scales) track.scales.clear();
    const varndel::Animation animation = OneNodeWith(track);
    ExpectNearMatrix(Poser(GetParam(), animation).Globals(10.0f).at(0), c.expected);
  }
  // No keys at all: the stored matrix, untouched.
  varndel::Track none;
  none.name = "Elbow";
  const varndel::Animation still = OneNodeWith(none);
  EXPECT_EQ(Poser(GetParam(), still).Globals(10.0f).at(0), still.nodes[0].transformation);
}

TEST_P(SampleTrack, TheFirstOfTwoTracksForOneNodeWins) {
  varndel::Track second = ElbowTrack();
  second.positions = {{{100, 100, 100}, 0}};
  varndel::Animation animation = OneNodeWith(ElbowTrack());
  animation.tracks.push_back(second);
  const Mat4 global = Poser(GetParam(), animation).Globals(0.0f).at(0);
  ExpectNear({global[12], global[13], global[14]}, {1, 2, 3});
}

TEST_P(SampleTrack, TickRateZeroOrInvalidMeansTwentyFive) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& [stored, used] :
       {std::pair{0.0, 25.0}, {-30.0, 25.0}, {nan, 25.0}, {30.0, 30.0}, {1000.0, 1000.0}}) {
    varndel::Animation animation;
    animation.ticksPerSecond = stored;
    const double rate = GetParam() == PosePath::kReference ? varndel::TicksPerSecond(animation)
                                                           : varndel::PreparedAnimation(animation).TicksPerSecond();
    EXPECT_EQ(rate, used) << stored;
  }
}

// Root (moved to z=5) > Upper > Lower, each child 1 along X of its parent;
// Upper turns 90 degrees about Z. Bone infos: Lower (ID 7) and Ghost (ID 3),
// which names no node.
varndel::Animation Chain() {
  varndel::Animation animation;
  animation.nodes = {{"Root", Translation(0, 0, 5), -1, 1},
                     {"Upper", Translation(1, 0, 0), 0, 1},
                     {"Lower", Translation(1, 0, 0), 1, 0}};
  varndel::Track turn;
  turn.name = "Upper";
  turn.rotations = {{AboutZ(90), 0}};
  animation.tracks = {turn};
  animation.boneInfos = {{"Ghost", 3, Translation(9, 9, 9)}, {"Lower", 7, Translation(-2, 0, 0)}};
  return animation;
}

class SampleSkin : public testing::TestWithParam<PosePath> {};
INSTANTIATE_TEST_SUITE_P(Paths, SampleSkin, testing::Values(PosePath::kReference, PosePath::kPlayer), PosePathName);

TEST_P(SampleSkin, HierarchyComposesAndSlotsSelectEntriesById) {
  const varndel::Animation animation = Chain();
  Poser poser(GetParam(), animation);
  const std::vector<Mat4> globals = poser.Globals(0.0f);
  ASSERT_EQ(globals.size(), 3u);
  ExpectNear({globals[2][12], globals[2][13], globals[2][14]}, {1, 1, 5});  // Lower's origin: turned up

  const std::vector<Mat4> skinning = poser.Skinning(0.0f);
  ASSERT_EQ(skinning.size(), 2u);
  EXPECT_EQ(skinning[0], varndel::IdentityMat4());  // Ghost: no node of that name

  varndel::MeshData mesh;
  varndel::Vertex tip;  // at Lower's bind position (2,0,0) plus 1 along X
  tip.position = {3, 0, 0};
  tip.normal = {1, 0, 0};
  tip.boneIDs = {-1, 7, -1, -1};
  tip.weights = {0.9f, 1, 0, 0};  // a free slot's weight is ignored
  varndel::Vertex ghost = tip;
  ghost.boneIDs = {3, -1, -1, -1};
  ghost.weights = {1, 0, 0, 0};
  varndel::Vertex unknownOnly = tip;
  unknownOnly.boneIDs = {42, -1, -1, -1};
  varndel::Vertex unbound = tip;
  unbound.boneIDs = {-1, -1, -1, -1};
  mesh.vertices = {tip, ghost, unknownOnly, unbound};

  std::vector<Vec3> positions, normals;
  poser.Skin(mesh, 0.0f, positions, &normals);
  ASSERT_EQ(positions.size(), 4u);
  ExpectNear(positions[0], {1, 2, 5});
  ExpectNear(normals[0], {0, 1, 0});
  for (size_t v = 1; v < 4; ++v) {
    EXPECT_EQ(positions[v], tip.position) << v;
    EXPECT_EQ(normals[v], tip.normal) << v;
  }
}

TEST_P(SampleSkin, TwoSlotsBlendByWeight) {
  const varndel::Animation animation = Chain();
  varndel::MeshData mesh;
  varndel::Vertex v;
  v.position = {3, 0, 0};
  v.boneIDs = {7, 3, -1, -1};  // half turned with Lower, half left in place
  v.weights = {0.5f, 0.5f, 0, 0};
  mesh.vertices = {v};
  std::vector<Vec3> positions;
  Poser(GetParam(), animation).Skin(mesh, 0.0f, positions, nullptr);
  ExpectNear(positions.at(0), {2, 1, 2.5f});
}

// Normals follow the inverse transpose of the blend: under a bone that
// stretches X by 2 the slope x + y = c becomes x/2 + y = c; a mirrored bone
// mirrors the normal and keeps it facing out.
TEST_P(SampleSkin, NormalsStayPerpendicularUnderNonUniformScale) {
  const float r = kHalf;  // 1/sqrt(2)
  const double stretched = 1.0 / std::sqrt(1.25);
  struct Case {
    const char* what;
    Vec3 scale;
    Vec3 normal;
  };
  const Case cases[] = {
      {"stretched along X", {2, 1, 1}, {float(0.5 * stretched), float(stretched), 0}},
      {"mirrored in X", {-1, 1, 1}, {-r, r, 0}},
      {"uniform", {3, 3, 3}, {r, r, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    varndel::Animation animation;
    animation.nodes = {{"Bone", varndel::IdentityMat4(), -1, 0}};
    varndel::Track track;
    track.name = "Bone";
    track.scales = {{c.scale, 0}};
    animation.tracks = {track};
    animation.boneInfos = {{"Bone", 0, varndel::IdentityMat4()}};
    varndel::MeshData mesh;
    varndel::Vertex v;
    v.position = {1, 0, 0};
    v.normal = {r, r, 0};
    v.boneIDs = {0, -1, -1, -1};
    v.weights = {1, 0, 0, 0};
    mesh.vertices = {v};
    std::vector<Vec3> positions, normals;
    Poser(GetParam(), animation).Skin(mesh, 0.0f, positions, &normals);
    ExpectNear(positions.at(0), {c.scale[0], 0, 0});
    ExpectNear(normals.at(0), c.normal);
  }
}

}  // namespace
