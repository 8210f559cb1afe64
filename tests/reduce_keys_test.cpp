// Key reduction: the bound measured with the player on generated and
// compiled animations, what it must keep, and the option of varndel-opt and
// varndel-edge.
#include <gtest/gtest.h>
#include <varndel/optimize.h>
#include <varndel/reader.h>
#include <varndel/sample.h>
#include <varndel/validate.h>
#include <varndel/writer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>

#include "tests/generated_character.h"
#include "tests/test_support.h"

namespace {

// One model unit for a skeleton alone, whose joints may all sit still.
double Diagonal(const varndel::Model& model) {
  const double diagonal = varndel::ModelDiagonal(model);
  return diagonal > 0 ? diagonal : 1.0;
}

template <typename Key>
void ExpectKeptKeys(const std::vector<Key>& original, const std::vector<Key>& reduced) {
  if (original.size() < 3) {
    EXPECT_EQ(reduced.size(), original.size());
  }
  ASSERT_FALSE(reduced.empty() && !original.empty());
  if (original.empty()) return;
  EXPECT_EQ(std::memcmp(&reduced.front(), &original.front(), sizeof(Key)), 0) << "the first key";
  EXPECT_EQ(std::memcmp(&reduced.back(), &original.back(), sizeof(Key)), 0) << "the last key";
  size_t at = 0;  // every kept key is an original one, in order
  for (const Key& key : reduced) {
    while (at < original.size() && std::memcmp(&original[at], &key, sizeof(Key)) != 0) ++at;
    ASSERT_LT(at, original.size()) << "a key that is not an original one, or out of order";
    ++at;
  }
}

// Every key time of the animation and the midpoint of each pair of
// consecutive ones.
std::vector<float> KeyTimesAndMidpoints(const varndel::Animation& animation) {
  std::vector<float> keyTimes;
  for (const varndel::Track& track : animation.tracks) {
    for (const auto& key : track.positions) keyTimes.push_back(key.timeStamp);
    for (const auto& key : track.rotations) keyTimes.push_back(key.timeStamp);
    for (const auto& key : track.scales) keyTimes.push_back(key.timeStamp);
  }
  keyTimes.erase(std::remove_if(keyTimes.begin(), keyTimes.end(), [](float t) { return !std::isfinite(t); }),
                 keyTimes.end());
  std::sort(keyTimes.begin(), keyTimes.end());
  keyTimes.erase(std::unique(keyTimes.begin(), keyTimes.end()), keyTimes.end());
  std::vector<float> times;
  for (size_t i = 0; i < keyTimes.size(); ++i) {
    if (i > 0) times.push_back(float((double(keyTimes[i - 1]) + keyTimes[i]) / 2));
    times.push_back(keyTimes[i]);
  }
  return times;
}

// The held-out check, on the reference sampler rather than the player:
// the largest distance between the two poses of every node's origin and of
// the points at distance along its axes, and the largest angle between the
// nodes' global rotations (of nodes without scale), over every key time and
// midpoint.
struct PoseGap {
  double distance = 0;
  double angle = 0;  // radians
};
PoseGap MeasureIndependently(const varndel::Model& original, const varndel::Model& reduced, double distance) {
  PoseGap gap;
  for (const float t : KeyTimesAndMidpoints(original.animation)) {
    const std::vector<varndel::Mat4> a = varndel::ComputeGlobalTransforms(original.animation, t);
    const std::vector<varndel::Mat4> b = varndel::ComputeGlobalTransforms(reduced.animation, t);
    for (size_t n = 0; n < a.size(); ++n) {
      for (int axis = -1; axis < 3; ++axis) {  // -1: the origin
        double sum = 0;
        for (int i = 0; i < 3; ++i) {
          double d = double(a[n][12 + i]) - b[n][12 + i];
          if (axis >= 0) d += distance * (double(a[n][4 * axis + i]) - b[n][4 * axis + i]);
          sum += d * d;
        }
        if (std::memcmp(&a[n][12], &b[n][12], 12) != 0 || (axis >= 0 && std::memcmp(&a[n][4 * axis], &b[n][4 * axis], 12) != 0))
          gap.distance = std::max(gap.distance, std::isnan(sum) ? INFINITY : std::sqrt(sum));
      }
      double trace = 0;  // of a's rotation transposed times b's
      for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 3; ++i) trace += double(a[n][4 * c + i]) * b[n][4 * c + i];
      gap.angle = std::max(gap.angle, std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)));
    }
  }
  return gap;
}

void ExpectReducedWithin(const varndel::Model& original, const varndel::Model& reduced, double tolerance,
                         const varndel::KeyReduction& result) {
  const double error = varndel::MeasureAnimationError(original, reduced);
  EXPECT_LE(error, tolerance);
  EXPECT_LE(MeasureIndependently(original, reduced, varndel::DefaultAnimationDistance(original)).distance, tolerance);
  EXPECT_EQ(result.error, error);
  EXPECT_EQ(result.keysBefore, varndel::CountKeys(original.animation));
  EXPECT_EQ(result.keysAfter, varndel::CountKeys(reduced.animation));
  const varndel::Animation& a = original.animation;
  const varndel::Animation& b = reduced.animation;
  EXPECT_EQ(std::memcmp(&a.duration, &b.duration, sizeof a.duration), 0);
  EXPECT_EQ(std::memcmp(&a.ticksPerSecond, &b.ticksPerSecond, sizeof a.ticksPerSecond), 0);
  ASSERT_EQ(a.tracks.size(), b.tracks.size());
  for (size_t t = 0; t < a.tracks.size(); ++t) {
    SCOPED_TRACE("track " + std::to_string(t));
    ExpectKeptKeys(a.tracks[t].positions, b.tracks[t].positions);
    ExpectKeptKeys(a.tracks[t].rotations, b.tracks[t].rotations);
    ExpectKeptKeys(a.tracks[t].scales, b.tracks[t].scales);
    EXPECT_EQ(a.tracks[t].positionMaxTime, b.tracks[t].positionMaxTime);
    EXPECT_EQ(a.tracks[t].rotationMaxTime, b.tracks[t].rotationMaxTime);
    EXPECT_EQ(a.tracks[t].scaleMaxTime, b.tracks[t].scaleMaxTime);
  }
  // A valid file: the strict reader takes it, and it has no finding that
  // the original did not have.
  varndel::Model read;
  const std::string bytes = varndel::WriteModel(reduced);
  ASSERT_TRUE(varndel::ReadModel(bytes.data(), bytes.size(), read));
  EXPECT_EQ(bytes.size() - varndel::WriteModel(original).size(),
            varndel::AnimationBytes(b) - varndel::AnimationBytes(a));
  EXPECT_EQ(varndel::ValidateModel(reduced).size(), varndel::ValidateModel(original).size());
}

// A chain of bones, each turning a little with noise: errors of the
// ancestors add up at the tip, which the per-list budgets alone do not bound.
varndel::Model NoisyChain(int bones, int keys) {
  varndel::Model model;
  model.animated = true;
  varndel::Animation& animation = model.animation;
  animation.duration = float(keys - 1);
  animation.ticksPerSecond = 30;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> noise(-0.02, 0.02);
  for (int b = 0; b < bones; ++b) {
    varndel::Node node;
    node.name = "b" + std::to_string(b);
    node.parent = b - 1;
    node.childCount = b + 1 < bones ? 1 : 0;
    node.transformation = varndel::ComposeTransform({0, b == 0 ? 0.0f : 1.0f, 0}, {0, 0, 0, 1}, {1, 1, 1});
    animation.nodes.push_back(node);
    varndel::Track track;
    track.name = node.name;
    track.id = b;
    for (int k = 0; k < keys; ++k) {
      const double angle = 0.3 * std::sin(0.1 * k + b) + noise(random);
      track.rotations.push_back({{float(std::sin(angle / 2)), 0, 0, float(std::cos(angle / 2))}, float(k)});
      track.positions.push_back({{0, b == 0 ? float(0.01 * k) : 1.0f, 0}, float(k)});
    }
    track.positionMaxTime = track.rotationMaxTime = float(keys - 1);
    animation.tracks.push_back(track);
  }
  return model;
}

const std::vector<std::pair<std::string, varndel::Model>>& Animated() {
  static const auto* models = [] {
    auto* list = new std::vector<std::pair<std::string, varndel::Model>>;
    varndel::Model character;
    character.animated = true;
    character.animation = MakeCharacter(3, 30);
    character.meshes.push_back(MakeCharacterMesh(600));
    list->emplace_back("generated character", std::move(character));
    list->emplace_back("noisy chain", NoisyChain(12, 90));
    ScratchDir dir;
    for (const fs::path& source : {ExamplePath("walker.gltf"), FixturePath("character.gltf"), FixturePath("arm.gltf"),
                                   FixturePath("skinned.gltf"), FixturePath("walk.bvh")}) {
      fs::copy(source, dir.path / source.filename());
      const std::string stem = source.stem().string();
      EXPECT_EQ(RunVarndel({"1", "0", source.filename().string(), stem}, dir.path).exitCode, 0) << source;
      varndel::Model model;
      EXPECT_TRUE(varndel::ReadModelFile((dir.path / (stem + ".animbin")).string(), model)) << source;
      list->emplace_back(source.filename().string(), std::move(model));
    }
    return list;
  }();
  return *models;
}

TEST(ReduceKeys, StaysWithinTheToleranceAndKeepsWhatMustStay) {
  for (const auto& [name, original] : Animated()) {
    for (const double share : {0.0, 0.001, 0.01, 0.1}) {
      SCOPED_TRACE(name + " at " + std::to_string(share) + " of the diagonal");
      const double tolerance = float(share * Diagonal(original));
      varndel::Model reduced = original;
      const varndel::KeyReduction result = varndel::ReduceKeys(reduced, float(tolerance));
      ExpectReducedWithin(original, reduced, tolerance, result);
      if (name == "generated character" && share == 0.001) {
        EXPECT_LT(result.keysAfter, result.keysBefore / 2) << "smooth motion keeps most of its keys";
      }
    }
  }
}

// An attachment: a socket at the end of an arm, wobbling +-60 degrees about
// z over 600 keys, on a root that walks. Its rotation moves no origin, so
// only the points along its axes show it.
varndel::Model AttachmentClip() {
  varndel::Model model;
  model.animated = true;
  varndel::Animation& animation = model.animation;
  animation.duration = 599;
  animation.ticksPerSecond = 60;
  const auto node = [&](const char* name, int32_t parent, varndel::Vec3 offset) {
    animation.nodes.push_back({name, varndel::ComposeTransform(offset, {0, 0, 0, 1}, {1, 1, 1}), parent, 0});
    if (parent >= 0) ++animation.nodes[size_t(parent)].childCount;
  };
  node("root", -1, {0, 0, 0});
  node("arm", 0, {0, 1, 0});
  node("socket", 1, {0.5f, 0, 0});
  varndel::Track root, socket;
  root.name = "root";
  socket.name = "socket";
  for (int k = 0; k < 600; ++k) {
    const double angle = (60.0 * std::numbers::pi / 180) * std::sin(2 * std::numbers::pi * k / 150.0) + 0.0;
    root.positions.push_back({{float(0.002 * k), 0, 0}, float(k)});
    socket.rotations.push_back({{0, 0, float(std::sin(angle / 2)), float(std::cos(angle / 2))}, float(k)});
  }
  root.positionMaxTime = socket.rotationMaxTime = 599;
  animation.tracks = {root, socket};
  return model;
}

TEST(ReduceKeys, AnAttachmentKeepsItsOrientationWithinTheToleranceAtTheDistance) {
  const varndel::Model original = AttachmentClip();
  const double tolerance = 0.05;
  struct Case {
    double distance;
    bool bounded;  // whether the reduction answers for the socket's angle
  };
  for (const Case c : {Case{1.0, true}, Case{0.25, true}, Case{-1.0, true}, Case{0.0, false}}) {
    SCOPED_TRACE("distance " + std::to_string(c.distance));
    varndel::Model reduced = original;
    const varndel::KeyReduction result = varndel::ReduceKeys(reduced, float(tolerance), float(c.distance));
    const double distance = c.distance >= 0 ? c.distance : varndel::DefaultAnimationDistance(original);
    EXPECT_EQ(result.error, varndel::MeasureAnimationError(original, reduced, distance));
    EXPECT_LE(result.error, tolerance);
    EXPECT_LT(result.keysAfter, result.keysBefore / 4);
    const PoseGap gap = MeasureIndependently(original, reduced, distance);
    EXPECT_LE(gap.distance, tolerance);
    // A turn by angle about z moves the points on x and y by 2 d sin(angle / 2).
    const double largestAngle = 2 * std::asin(std::min(1.0, tolerance / (2 * std::max(distance, 1e-9))));
    if (c.bounded) {
      EXPECT_LE(gap.angle, largestAngle + 1e-5) << "degrees: " << gap.angle * 180 / std::numbers::pi;
    } else {
      EXPECT_GT(gap.angle, 5 * std::numbers::pi / 180) << "origins alone do not see the socket turn";
    }
  }
  EXPECT_NEAR(varndel::DefaultAnimationDistance(original), 0.1 * varndel::ModelDiagonal(original), 1e-12);
}

TEST(ReduceKeys, ReportsProgressUpToTheTotal) {
  varndel::Model model = NoisyChain(6, 200);
  std::vector<std::pair<size_t, size_t>> calls;
  varndel::ReduceKeys(model, 0.01f, -1.0f, [&calls](size_t done, size_t total) { calls.emplace_back(done, total); });
  ASSERT_FALSE(calls.empty());
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_LE(calls[i].first, calls[i].second);
    if (i > 0) {
      EXPECT_GE(calls[i].first, calls[i - 1].first);
    }
  }
  EXPECT_EQ(calls.back().first, calls.back().second);
}

TEST(ReduceKeys, ToleranceZeroDropsOnlyWhatThePlayerReproduces) {
  varndel::Model model;
  model.animated = true;
  model.animation.duration = 4;
  model.animation.nodes = {{"root", varndel::ComposeTransform({0, 0, 0}, {0, 0, 0, 1}, {1, 1, 1}), -1, 0}};
  varndel::Track track;
  track.name = "root";
  for (const float x : {0.0f, 1.0f, 2.0f, 3.0f, 5.0f}) {
    const float t = float(track.positions.size());
    track.positions.push_back({{x, 0, 0}, t});     // 1 and 2 lie on the line from 0 to 3
    track.rotations.push_back({{0, 0, 0, 1}, t});  // all equal
    track.scales.push_back({{2, 2, 2}, t});
  }
  track.scales[2].scale = {2, 2, 3};
  model.animation.tracks.push_back(track);
  const varndel::Model original = model;
  const varndel::KeyReduction result = varndel::ReduceKeys(model, 0.0f);
  ExpectReducedWithin(original, model, 0.0, result);
  const varndel::Track& reduced = model.animation.tracks[0];
  const auto times = [](const auto& keys) {
    std::vector<float> out;
    for (const auto& key : keys) out.push_back(key.timeStamp);
    return out;
  };
  EXPECT_EQ(times(reduced.positions), (std::vector<float>{0, 3, 4}));
  EXPECT_EQ(times(reduced.rotations), (std::vector<float>{0, 4}));
  EXPECT_EQ(times(reduced.scales), (std::vector<float>{0, 1, 2, 3, 4}));

  // An unnormalised rotation: the player gives the normalised one between
  // keys, not the stored bytes, so the key stays.
  model = original;
  for (varndel::RotationKey& key : model.animation.tracks[0].rotations) key.orientation = {0, 0, 0, 2};
  varndel::ReduceKeys(model, 0.0f);
  EXPECT_EQ(model.animation.tracks[0].rotations.size(), 5u);
}

TEST(ReduceKeys, LeavesAloneWhatItMustNotTouch) {
  varndel::Model base = NoisyChain(3, 20);
  const auto unchanged = [](const varndel::Model& model, float tolerance) {
    varndel::Model copy = model;
    varndel::ReduceKeys(copy, tolerance);
    return varndel::WriteModel(copy) == varndel::WriteModel(model);
  };
  EXPECT_TRUE(unchanged(base, -1.0f));
  EXPECT_TRUE(unchanged(base, std::numeric_limits<float>::quiet_NaN()));
  varndel::Model still = base;
  still.animated = false;  // a static model holds no animation to reduce
  still.animation = {};
  EXPECT_TRUE(unchanged(still, 1.0f));

  // Lists the player reorders or cannot interpolate, and a track it does not
  // play, stay as they are; the other lists are reduced.
  struct Case {
    const char* what;
    void (*spoil)(varndel::Track&);
  };
  const Case cases[] = {
      {"unsorted", [](varndel::Track& t) { std::swap(t.rotations[3].timeStamp, t.rotations[4].timeStamp); }},
      {"a repeated time", [](varndel::Track& t) { t.rotations[4].timeStamp = t.rotations[3].timeStamp; }},
      {"a NaN time", [](varndel::Track& t) { t.rotations[4].timeStamp = std::nanf(""); }},
      {"a NaN value", [](varndel::Track& t) { t.rotations[4].orientation[0] = std::nanf(""); }},
      {"no node", [](varndel::Track& t) { t.name = "nobody"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    varndel::Model model = base;
    c.spoil(model.animation.tracks[1]);
    const varndel::Model original = model;
    varndel::ReduceKeys(model, 1e6f);
    const varndel::Track& kept = model.animation.tracks[1];
    EXPECT_EQ(std::memcmp(kept.rotations.data(), original.animation.tracks[1].rotations.data(),
                          kept.rotations.size() * sizeof(varndel::RotationKey)),
              0);
    EXPECT_EQ(kept.rotations.size(), original.animation.tracks[1].rotations.size());
    EXPECT_EQ(model.animation.tracks[2].rotations.size(), 2u);
    EXPECT_LE(varndel::MeasureAnimationError(original, model), 1e6);
  }
}

TEST(ReduceKeys, VarndelOptAndTheEdgeWriteTheSameReducedFile) {
  ScratchDir dir;
  fs::copy(fs::path(VARNDEL_EXAMPLES), dir.path / "root", fs::copy_options::recursive);
  const std::string model = "assets/characters/walker.gltf";
  ASSERT_EQ(RunVarndel({"1", "0", model}, dir.path / "root").exitCode, 0);
  const fs::path compiled = dir.path / "root/assets/characters/walker.animbin";
  const RunResult opt =
      RunProcess(VARNDEL_OPT_EXE,
                 {compiled.string(), "-o", (dir.path / "opt.animbin").string(), "--anim-tolerance", "0.05"}, dir.path);
  ASSERT_EQ(opt.exitCode, 0) << opt.err;
  EXPECT_NE(opt.out.find("keys: "), std::string::npos) << opt.out;
  const RunResult edge = RunProcess(VARNDEL_EDGE_EXE,
                                    {"--optimize", "--anim-tolerance", "0.05", "1", "0", (dir.path / "root").string(),
                                     model, "edge/walker.animbin", "log"},
                                    dir.path);
  ASSERT_EQ(edge.exitCode, 0) << edge.err;
  EXPECT_TRUE(ReadFile(dir.path / "edge/walker.animbin") == ReadFile(dir.path / "opt.animbin"));
  // With a distance of their own, too.
  const RunResult optAt =
      RunProcess(VARNDEL_OPT_EXE,
                 {compiled.string(), "-o", "opt-at.animbin", "--anim-tolerance", "0.05", "--anim-distance", "0.5"},
                 dir.path);
  ASSERT_EQ(optAt.exitCode, 0) << optAt.err;
  EXPECT_NE(optAt.out.find("distance 0.5"), std::string::npos) << optAt.out;
  const RunResult edgeAt = RunProcess(VARNDEL_EDGE_EXE,
                                      {"--optimize", "--anim-tolerance", "0.05", "--anim-distance", "0.5", "1", "0",
                                       (dir.path / "root").string(), model, "edge/walker-at.animbin", "log"},
                                      dir.path);
  ASSERT_EQ(edgeAt.exitCode, 0) << edgeAt.err;
  EXPECT_TRUE(ReadFile(dir.path / "edge/walker-at.animbin") == ReadFile(dir.path / "opt-at.animbin"));
  const RunResult plain = RunProcess(VARNDEL_OPT_EXE, {compiled.string(), "-o", "plain.animbin"}, dir.path);
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  varndel::Model before, after;
  ASSERT_TRUE(varndel::ReadModelFile((dir.path / "plain.animbin").string(), before));
  ASSERT_TRUE(varndel::ReadModelFile((dir.path / "opt.animbin").string(), after));
  EXPECT_LE(varndel::MeasureAnimationError(before, after), 0.05);
  const RunResult check = RunProcess(VARNDEL_INSPECT_EXE, {"check", "opt.animbin"}, dir.path);
  EXPECT_EQ(check.exitCode, 0) << check.out;
  const RunResult render = RunProcess(
      VARNDEL_INSPECT_EXE, {"render", "opt.animbin", "-o", "opt.png", "--size", "64x64", "--frames", "4"}, dir.path);
  EXPECT_EQ(render.exitCode, 0) << render.err;

  for (const char* option : {"--anim-tolerance", "--anim-distance"}) {
    for (const char* bad : {"nan", "-1", "inf", "1x", ""}) {
      SCOPED_TRACE(std::string(option) + " " + bad);
      std::vector<std::string> values = {option, bad};
      if (std::string(option) == "--anim-distance") values.insert(values.begin(), {"--anim-tolerance", "0.05"});
      std::vector<std::string> optArgs = {compiled.string(), "-o", "bad.animbin"};
      optArgs.insert(optArgs.end(), values.begin(), values.end());
      const RunResult run = RunProcess(VARNDEL_OPT_EXE, optArgs, dir.path);
      EXPECT_EQ(run.exitCode, 2);
      EXPECT_NE(run.err.find(option), std::string::npos) << run.err;
      std::vector<std::string> edgeArgs = {"--optimize"};
      edgeArgs.insert(edgeArgs.end(), values.begin(), values.end());
      edgeArgs.insert(edgeArgs.end(), {"1", "0", (dir.path / "root").string(), model, "bad/w.animbin", "log"});
      const RunResult edgeRun = RunProcess(VARNDEL_EDGE_EXE, edgeArgs, dir.path);
      EXPECT_EQ(edgeRun.exitCode, 2);
      EXPECT_NE(edgeRun.err.find(option), std::string::npos) << edgeRun.err;
      EXPECT_FALSE(fs::exists(dir.path / "bad.animbin"));
      EXPECT_FALSE(fs::exists(dir.path / "bad"));
    }
  }
  // Options that mean nothing without the others.
  struct Misuse {
    std::vector<std::string> args;
    const char* message;
  };
  const Misuse misuses[] = {
      {{"--anim-distance", "0.5"}, "--anim-distance needs --anim-tolerance"},
      {{"--keys-only"}, "--keys-only needs --anim-tolerance"},
      {{"--keys-only", "--anim-tolerance", "0.05", "--lod", "0.5"}, "it takes no --lod"},
  };
  for (const Misuse& misuse : misuses) {
    std::vector<std::string> args = {compiled.string(), "-o", "bad.animbin"};
    args.insert(args.end(), misuse.args.begin(), misuse.args.end());
    const RunResult run = RunProcess(VARNDEL_OPT_EXE, args, dir.path);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(misuse.message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir.path / "bad.animbin"));
  }
  const RunResult edgeMisuse = RunProcess(
      VARNDEL_EDGE_EXE,
      {"--optimize", "--anim-distance", "0.5", "1", "0", (dir.path / "root").string(), model, "bad/w.animbin", "log"},
      dir.path);
  EXPECT_EQ(edgeMisuse.exitCode, 2);
  EXPECT_NE(edgeMisuse.err.find("--anim-distance needs --anim-tolerance"), std::string::npos) << edgeMisuse.err;
}

// --keys-only: every byte but the animation's keys stays, so the input and
// the output compare under the measure.
TEST(ReduceKeys, KeysOnlyLeavesTheMeshesAndHoldsAgainstTheInput) {
  ScratchDir dir;
  for (const fs::path& source : {FixturePath("character.gltf"), ExamplePath("walker.gltf")}) {
    SCOPED_TRACE(source.filename().string());
    fs::copy(source, dir.path / source.filename(), fs::copy_options::overwrite_existing);
    const std::string stem = source.stem().string();
    ASSERT_EQ(RunVarndel({"1", "0", source.filename().string(), stem}, dir.path).exitCode, 0);
    varndel::Model input;
    ASSERT_TRUE(varndel::ReadModelFile((dir.path / (stem + ".animbin")).string(), input));
    const double tolerance = 0.01 * Diagonal(input);
    const std::string t = std::to_string(tolerance);
    const RunResult run = RunProcess(
        VARNDEL_OPT_EXE, {stem + ".animbin", "-o", stem + ".keys.animbin", "--keys-only", "--anim-tolerance", t},
        dir.path);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    varndel::Model output;
    ASSERT_TRUE(varndel::ReadModelFile((dir.path / (stem + ".keys.animbin")).string(), output));
    ASSERT_EQ(output.meshes.size(), input.meshes.size());
    for (size_t m = 0; m < input.meshes.size(); ++m) {
      const varndel::MeshData& a = input.meshes[m];
      const varndel::MeshData& b = output.meshes[m];
      ASSERT_EQ(a.vertices.size(), b.vertices.size());
      ASSERT_EQ(a.indices.size(), b.indices.size());
      EXPECT_EQ(std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(varndel::Vertex)), 0);
      EXPECT_EQ(std::memcmp(a.indices.data(), b.indices.data(), a.indices.size() * sizeof(uint32_t)), 0);
    }
    // Everything else too: the input with the output's animation is the output.
    varndel::Model swapped = input;
    swapped.animation = output.animation;
    EXPECT_TRUE(varndel::WriteModel(swapped) == ReadFile(dir.path / (stem + ".keys.animbin")));
    EXPECT_LE(varndel::MeasureAnimationError(input, output), tolerance);
    varndel::KeyReduction result;
    result.keysBefore = varndel::CountKeys(input.animation);
    result.keysAfter = varndel::CountKeys(output.animation);
    result.error = varndel::MeasureAnimationError(input, output);
    ExpectReducedWithin(input, output, tolerance, result);
  }
}

}  // namespace
