// The animation player against the reference path of sample.h
// (ComputeGlobalTransforms + ComputeSkinningMatrices, a fresh setup per call)
// and against a hand-written loop that does the same arithmetic with every
// index resolved ahead of time: the generated 80-bone character (30 s of
// keys at 30 ticks per second on every bone) played forward at 60 frames per
// second and at random times, the walker example, and CPU skinning of
// 50,000 vertices with four influences each.
#include <benchmark/benchmark.h>
#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/sample.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "anim/pose_math.h"
#include "tests/generated_character.h"

namespace {

namespace fs = std::filesystem;
using varndel::Mat4;
using varndel::Vec3;
using varndel::Vec4;

constexpr float kFrameTicks = 0.5f;  // 60 frames per second at 30 ticks per second
constexpr size_t kSkinnedVertices = 50000;

const varndel::Animation& Character() {
  static const varndel::Animation animation = MakeCharacter(30, 30);
  return animation;
}

const varndel::Model& Walker() {
  static const varndel::Model model = [] {
    const fs::path directory = fs::temp_directory_path() / "varndel-bench-player";
    fs::create_directories(directory);
    fs::copy_file(fs::path(VARNDEL_EXAMPLES) / "walker.gltf", directory / "walker.gltf",
                  fs::copy_options::overwrite_existing);
    const std::string command = "cd '" + directory.string() + "' && '" VARNDEL_EXE "' 1 0 walker.gltf > /dev/null";
    varndel::Model walker;
    if (std::system(command.c_str()) != 0 || !varndel::ReadModelFile((directory / "walker.animbin").string(), walker))
      std::cerr << "compiling the walker failed\n";
    return walker;
  }();
  return model;
}

// Times for random access: one jump per call, over the whole animation.
const std::vector<float>& RandomTimes(float duration) {
  static std::vector<float> times;
  if (times.empty()) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> pick(0.0f, duration);
    times.resize(4096);
    for (float& t : times) t = pick(random);
  }
  return times;
}

void ReportPerBone(benchmark::State& state, size_t bones) {
  // Seconds per bone (shown as ns): the time per call divided by the bones.
  state.counters["per_bone"] =
      benchmark::Counter(double(bones), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The character with nothing left to look up: bone b is node b, its parent
// an index, keys at every tick so the key of a time is its integer part.
struct HandCharacter {
  std::vector<int32_t> parent;
  std::vector<Mat4> offset;
  std::vector<std::vector<Vec3>> positions, scales;
  std::vector<std::vector<Vec4>> rotations;
  size_t lastKey = 0;
};

HandCharacter MakeHandCharacter(const varndel::Animation& animation) {
  HandCharacter hand;
  for (size_t b = 0; b < animation.nodes.size(); ++b) {
    const varndel::Track& track = animation.tracks[b];  // track b animates node b, in time order
    hand.parent.push_back(animation.nodes[b].parent);
    hand.offset.push_back(animation.boneInfos[b].offset);
    hand.positions.emplace_back();
    hand.rotations.emplace_back();
    hand.scales.emplace_back();
    for (const auto& key : track.positions) hand.positions.back().push_back(key.position);
    for (const auto& key : track.rotations) hand.rotations.back().push_back(key.orientation);
    for (const auto& key : track.scales) hand.scales.back().push_back(key.scale);
    hand.lastKey = track.positions.size() - 1;
  }
  return hand;
}

// The arithmetic of the player: lerp, slerp, lerp, compose, multiply.
void EvaluateHand(const HandCharacter& hand, float ticks, Mat4* globals, Mat4* palette) {
  const float clamped = std::min(std::max(ticks, 0.0f), float(hand.lastKey));
  const float lower = std::floor(clamped);
  const size_t k = size_t(lower);
  const bool between = clamped != lower;
  const double t = double(clamped) - double(lower);  // keys are one tick apart
  for (size_t b = 0; b < hand.parent.size(); ++b) {
    const auto& p = hand.positions[b];
    const auto& r = hand.rotations[b];
    const auto& s = hand.scales[b];
    const Mat4 local = between ? varndel::ComposeTransform(varndel::pose::LerpVec3(p[k], p[k + 1], t),
                                                           varndel::pose::Slerp(r[k], r[k + 1], t),
                                                           varndel::pose::LerpVec3(s[k], s[k + 1], t))
                               : varndel::ComposeTransform(p[k], r[k], s[k]);
    globals[b] = hand.parent[b] < 0 ? local : varndel::MultiplyMat4(globals[hand.parent[b]], local);
  }
  for (size_t b = 0; b < hand.parent.size(); ++b) palette[b] = varndel::MultiplyMat4(globals[b], hand.offset[b]);
}

// The next frame's time, starting over after the last key.
float NextFrame(float ticks, float duration) {
  ticks += kFrameTicks;
  return ticks > duration ? 0.0f : ticks;
}

enum Access { kForward, kRandom };

void CharacterPlayer(benchmark::State& state) {
  const varndel::Animation& animation = Character();
  varndel::AnimationPlayer player(animation);
  std::vector<Mat4> palette(player.BoneCount());
  const std::vector<float>& random = RandomTimes(animation.duration);
  float ticks = 0.0f;
  size_t call = 0;
  for (auto _ : state) {
    ticks = state.range(0) == kForward ? NextFrame(ticks, animation.duration) : random[call++ % random.size()];
    player.Evaluate(ticks, palette.data());
    benchmark::DoNotOptimize(palette.data());
  }
  ReportPerBone(state, player.BoneCount());
}

void CharacterHandWritten(benchmark::State& state) {
  const varndel::Animation& animation = Character();
  const HandCharacter hand = MakeHandCharacter(animation);
  std::vector<Mat4> globals(hand.parent.size()), palette(hand.parent.size());
  const std::vector<float>& random = RandomTimes(animation.duration);
  float ticks = 0.0f;
  size_t call = 0;
  for (auto _ : state) {
    ticks = state.range(0) == kForward ? NextFrame(ticks, animation.duration) : random[call++ % random.size()];
    EvaluateHand(hand, ticks, globals.data(), palette.data());
    benchmark::DoNotOptimize(palette.data());
  }
  ReportPerBone(state, hand.parent.size());
}

void CharacterReference(benchmark::State& state) {
  const varndel::Animation& animation = Character();
  const std::vector<float>& random = RandomTimes(animation.duration);
  float ticks = 0.0f;
  size_t call = 0;
  for (auto _ : state) {
    ticks = state.range(0) == kForward ? NextFrame(ticks, animation.duration) : random[call++ % random.size()];
    const std::vector<Mat4> skinning =
        varndel::ComputeSkinningMatrices(animation, varndel::ComputeGlobalTransforms(animation, ticks));
    benchmark::DoNotOptimize(skinning.data());
  }
  ReportPerBone(state, animation.boneInfos.size());
}

void WalkerPlayer(benchmark::State& state) {
  const varndel::Animation& animation = Walker().animation;
  varndel::AnimationPlayer player(animation);
  std::vector<Mat4> palette(player.BoneCount());
  const float step = float(varndel::TicksPerSecond(animation) / 60.0);
  float ticks = 0.0f;
  for (auto _ : state) {
    ticks = ticks + step > animation.duration ? 0.0f : ticks + step;
    player.Evaluate(ticks, palette.data());
    benchmark::DoNotOptimize(palette.data());
  }
  ReportPerBone(state, player.BoneCount());
}

void WalkerReference(benchmark::State& state) {
  const varndel::Animation& animation = Walker().animation;
  const float step = float(varndel::TicksPerSecond(animation) / 60.0);
  float ticks = 0.0f;
  for (auto _ : state) {
    ticks = ticks + step > animation.duration ? 0.0f : ticks + step;
    const std::vector<Mat4> skinning =
        varndel::ComputeSkinningMatrices(animation, varndel::ComputeGlobalTransforms(animation, ticks));
    benchmark::DoNotOptimize(skinning.data());
  }
  ReportPerBone(state, animation.boneInfos.size());
}

// 50,000 vertices with four influences, posed in the middle of the clip.
struct SkinSetup {
  varndel::MeshData mesh = MakeCharacterMesh(kSkinnedVertices);
  varndel::AnimationPlayer player{Character()};
  std::vector<Mat4> palette;
  std::vector<Vec3> positions, normals;
  SkinSetup() : palette(player.BoneCount()), positions(kSkinnedVertices), normals(kSkinnedVertices) {
    player.Evaluate(450.25f, palette.data());
  }
};

void SkinPlayer(benchmark::State& state) {
  SkinSetup s;
  for (auto _ : state) {
    s.player.SkinVertices(s.mesh, s.palette.data(), s.positions.data(), s.normals.data());
    benchmark::DoNotOptimize(s.positions.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kSkinnedVertices));
}

// Bone numbers are palette indices in the generated mesh, so the hand loop
// skips their lookup; the arithmetic is the player's.
void SkinHandWritten(benchmark::State& state) {
  SkinSetup s;
  for (auto _ : state) {
    for (size_t v = 0; v < kSkinnedVertices; ++v) {
      const varndel::Vertex& vertex = s.mesh.vertices[v];
      Mat4 blend{};
      for (int slot = 0; slot < 4; ++slot) {
        const Mat4& m = s.palette[size_t(vertex.boneIDs[slot])];
        for (int k = 0; k < 16; ++k) blend[k] += vertex.weights[slot] * m[k];
      }
      const Vec3& p = vertex.position;
      s.positions[v] = {blend[0] * p[0] + blend[4] * p[1] + blend[8] * p[2] + blend[12],
                        blend[1] * p[0] + blend[5] * p[1] + blend[9] * p[2] + blend[13],
                        blend[2] * p[0] + blend[6] * p[1] + blend[10] * p[2] + blend[14]};
      s.normals[v] = varndel::pose::TransformNormal(blend, vertex.normal);
    }
    benchmark::DoNotOptimize(s.positions.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kSkinnedVertices));
}

void SkinReference(benchmark::State& state) {
  SkinSetup s;
  const varndel::Animation& animation = Character();
  for (auto _ : state) {
    varndel::SkinVertices(s.mesh, animation, s.palette, s.positions, &s.normals);
    benchmark::DoNotOptimize(s.positions.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kSkinnedVertices));
}

}  // namespace

BENCHMARK(CharacterPlayer)->ArgName("random")->Arg(kForward)->Arg(kRandom);
BENCHMARK(CharacterHandWritten)->ArgName("random")->Arg(kForward)->Arg(kRandom);
BENCHMARK(CharacterReference)->ArgName("random")->Arg(kForward)->Arg(kRandom)->Unit(benchmark::kMicrosecond);
BENCHMARK(WalkerPlayer);
BENCHMARK(WalkerReference);
BENCHMARK(SkinPlayer)->Unit(benchmark::kMicrosecond);
BENCHMARK(SkinHandWritten)->Unit(benchmark::kMicrosecond);
BENCHMARK(SkinReference)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
