// The two-bone arm of fixtures/arm.gltf, compiled by the real binary and read
// back: its skinned tip must land where the bend puts it, through the
// reference functions and through the player.
#include <gtest/gtest.h>
#include <varndel/reader.h>
#include <varndel/sample.h>

#include <cmath>
#include <numbers>

#include "tests/sample_paths.h"
#include "tests/test_support.h"

namespace {

class SampleArm : public testing::TestWithParam<PosePath> {};
INSTANTIATE_TEST_SUITE_P(Paths, SampleArm, testing::Values(PosePath::kReference, PosePath::kPlayer), PosePathName);

TEST_P(SampleArm, SkinnedTipFollowsTheElbowBend) {
  const varndel::Model model = CompiledModel(FixturePath("arm.gltf"));
  ASSERT_EQ(model.meshes.size(), 1u);
  const varndel::Animation& animation = model.animation;
  const double lastTick = 1.0 * varndel::TicksPerSecond(animation);  // the bend ends at 1 s
  ASSERT_NEAR(animation.duration, lastTick, 1e-3);

  // The elbow at (1,0,0) turns by angle about Z; a tip vertex at (2,y,0)
  // goes to the elbow plus (1,y) turned by that angle.
  struct Case {
    double seconds, degrees;
  };
  Poser poser(GetParam(), animation);
  for (const Case& c : {Case{0.0, 0.0}, Case{0.5, 45.0}, Case{1.0, 90.0}, Case{3.0, 90.0}}) {
    SCOPED_TRACE(c.seconds);
    const float ticks = float(c.seconds * varndel::TicksPerSecond(animation));
    std::vector<varndel::Vec3> positions, normals;
    poser.Skin(model.meshes[0], ticks, positions, &normals);
    const double angle = c.degrees * std::numbers::pi / 180.0;
    int tips = 0;
    for (size_t v = 0; v < positions.size(); ++v) {
      const varndel::Vec3& bind = model.meshes[0].vertices[v].position;
      double x = bind[0], y = bind[1];
      if (bind[0] > 1.5f) {  // forearm tip
        const double along = bind[0] - 1.0;
        x = 1.0 + along * std::cos(angle) - y * std::sin(angle);
        y = along * std::sin(angle) + y * std::cos(angle);
        ++tips;
      }
      EXPECT_NEAR(positions[v][0], x, 1e-5) << "vertex " << v;
      EXPECT_NEAR(positions[v][1], y, 1e-5) << "vertex " << v;
      EXPECT_NEAR(positions[v][2], 0.0, 1e-5) << "vertex " << v;
      EXPECT_NEAR(normals[v][2], 1.0, 1e-5) << "vertex " << v;  // turning about Z keeps facing +Z
    }
    EXPECT_EQ(tips, 2);
  }
}

}  // namespace
