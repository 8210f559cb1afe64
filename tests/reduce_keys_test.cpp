// Key reduction: the bound measured with the player on generated and
// compiled animations, what it must keep, and the option of varndel-opt and
// varndel-edge.
#include <gtest/gtest.h>
#include <varndel/optimize.h>
#include <varndel/reader.h>
#include <varndel/validate.h>
#include <varndel/writer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

void ExpectReducedWithin(const varndel::Model& original, const varndel::Model& reduced, double tolerance,
                         const varndel::KeyReduction& result) {
  const double error = varndel::MeasureAnimationError(original, reduced);
  EXPECT_LE(error, tolerance);
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

  for (const char* bad : {"nan", "-1", "inf", "1x", ""}) {
    SCOPED_TRACE(bad);
    const RunResult run =
        RunProcess(VARNDEL_OPT_EXE, {compiled.string(), "-o", "bad.animbin", "--anim-tolerance", bad}, dir.path);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--anim-tolerance"), std::string::npos) << run.err;
    const RunResult edgeRun = RunProcess(
        VARNDEL_EDGE_EXE,
        {"--optimize", "--anim-tolerance", bad, "1", "0", (dir.path / "root").string(), model, "bad/w.animbin", "log"},
        dir.path);
    EXPECT_EQ(edgeRun.exitCode, 2);
    EXPECT_FALSE(fs::exists(dir.path / "bad.animbin"));
    EXPECT_FALSE(fs::exists(dir.path / "bad"));
  }
}

}  // namespace
