// Sampling and skinning on hand-made animations: exact keys, hand-computed
// values between keys, clamping, missing kinds of keys, the hierarchy, and
// the choices the file layout leaves open.
#include <gtest/gtest.h>
#include <varndel/sample.h>

#include <cmath>
#include <limits>

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
  const double half = degrees * M_PI / 360.0;
  return {0, 0, float(std::sin(half)), float(std::cos(half))};
}

Mat4 Translation(float x, float y, float z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }

TEST(SampleTrack, KeyTimesGiveTheKeysExactlyInAnyStoredOrder) {
  varndel::Track reversed = ElbowTrack();
  std::swap(reversed.positions[0], reversed.positions[1]);
  std::swap(reversed.rotations[0], reversed.rotations[1]);
  std::swap(reversed.scales[0], reversed.scales[1]);
  for (const varndel::Track& track : {ElbowTrack(), reversed}) {
    for (float ticks : {0.0f, 10.0f}) {
      const varndel::TrackSample s = varndel::SampleTrack(track, ticks);
      const size_t key = track.positions[0].timeStamp == ticks ? 0 : 1;
      ASSERT_TRUE(s.hasPosition && s.hasRotation && s.hasScale);
      EXPECT_EQ(s.position, track.positions[key].position) << ticks;
      EXPECT_EQ(s.rotation, track.rotations[key].orientation) << ticks;
      EXPECT_EQ(s.scale, track.scales[key].scale) << ticks;
    }
  }
}

TEST(SampleTrack, BetweenKeysMatchesHandComputedValues) {
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
  for (const Case& c : cases) {
    const varndel::TrackSample s = varndel::SampleTrack(ElbowTrack(), c.ticks);
    ExpectNear(s.position, c.position);
    ExpectNear(s.scale, c.scale);
    const Vec4 q = AboutZ(c.degrees);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(s.rotation[k], q[k], 1e-5) << c.ticks << " component " << k;
  }
}

TEST(SampleTrack, OutsideTheKeysTheNearestKeyIsHeld) {
  const varndel::Track track = ElbowTrack();
  for (const auto& [ticks, key] : {std::pair{-3.0f, 0}, {1e9f, 1}, {-std::numeric_limits<float>::infinity(), 0}}) {
    const varndel::TrackSample s = varndel::SampleTrack(track, ticks);
    EXPECT_EQ(s.position, track.positions[size_t(key)].position) << ticks;
    EXPECT_EQ(s.rotation, track.rotations[size_t(key)].orientation) << ticks;
    EXPECT_EQ(s.scale, track.scales[size_t(key)].scale) << ticks;
  }
}

TEST(SampleTrack, RotationTakesTheShorterArc) {
  // The same end orientation stored as its negative: the way round must not
  // change.
  varndel::Track track = ElbowTrack();
  for (float& c : track.rotations[1].orientation) c = -c;
  const Vec4 s = varndel::SampleTrack(track, 5.0f).rotation;
  const Vec4 q = AboutZ(45.0);
  const double dot = double(s[0]) * q[0] + double(s[1]) * q[1] + double(s[2]) * q[2] + double(s[3]) * q[3];
  EXPECT_NEAR(std::fabs(dot), 1.0, 1e-6);
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

TEST(SampleTrack, KindsWithoutKeysKeepTheNodesOwnParts) {
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
    ExpectNearMatrix(varndel::ComputeGlobalTransforms(OneNodeWith(track), 10.0f).at(0), c.expected);
  }
  // No keys at all: the stored matrix, untouched.
  varndel::Track none;
  none.name = "Elbow";
  const varndel::Animation still = OneNodeWith(none);
  EXPECT_EQ(varndel::ComputeGlobalTransforms(still, 10.0f).at(0), still.nodes[0].transformation);
}

TEST(SampleTrack, TheFirstOfTwoTracksForOneNodeWins) {
  varndel::Track second = ElbowTrack();
  second.positions = {{{100, 100, 100}, 0}};
  varndel::Animation animation = OneNodeWith(ElbowTrack());
  animation.tracks.push_back(second);
  const Mat4 global = varndel::ComputeGlobalTransforms(animation, 0.0f).at(0);
  ExpectNear({global[12], global[13], global[14]}, {1, 2, 3});
}

TEST(SampleTrack, TickRateZeroOrInvalidMeansTwentyFive) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& [stored, used] :
       {std::pair{0.0, 25.0}, {-30.0, 25.0}, {nan, 25.0}, {30.0, 30.0}, {1000.0, 1000.0}}) {
    varndel::Animation animation;
    animation.ticksPerSecond = stored;
    EXPECT_EQ(varndel::TicksPerSecond(animation), used) << stored;
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

TEST(SampleSkin, HierarchyComposesAndSlotsSelectEntriesById) {
  const varndel::Animation animation = Chain();
  const std::vector<Mat4> globals = varndel::ComputeGlobalTransforms(animation, 0.0f);
  ASSERT_EQ(globals.size(), 3u);
  ExpectNear({globals[2][12], globals[2][13], globals[2][14]}, {1, 1, 5});  // Lower's origin: turned up

  const std::vector<Mat4> skinning = varndel::ComputeSkinningMatrices(animation, globals);
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
  varndel::SkinVertices(mesh, animation, skinning, positions, &normals);
  ASSERT_EQ(positions.size(), 4u);
  ExpectNear(positions[0], {1, 2, 5});
  ExpectNear(normals[0], {0, 1, 0});
  for (size_t v = 1; v < 4; ++v) {
    EXPECT_EQ(positions[v], tip.position) << v;
    EXPECT_EQ(normals[v], tip.normal) << v;
  }
}

TEST(SampleSkin, TwoSlotsBlendByWeight) {
  const varndel::Animation animation = Chain();
  const std::vector<Mat4> skinning =
      varndel::ComputeSkinningMatrices(animation, varndel::ComputeGlobalTransforms(animation, 0.0f));
  varndel::MeshData mesh;
  varndel::Vertex v;
  v.position = {3, 0, 0};
  v.boneIDs = {7, 3, -1, -1};  // half turned with Lower, half left in place
  v.weights = {0.5f, 0.5f, 0, 0};
  mesh.vertices = {v};
  std::vector<Vec3> positions;
  varndel::SkinVertices(mesh, animation, skinning, positions);
  ExpectNear(positions.at(0), {2, 1, 2.5f});
}

}  // namespace
