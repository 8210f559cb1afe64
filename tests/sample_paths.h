// The two ways of posing an animation that must agree: the reference
// functions of sample.h, and the player of player.h. Sampling tests run
// through both.
#pragma once

#include <gtest/gtest.h>
#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/sample.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/test_support.h"

// The model the real binary compiles from source as animated, read back.
inline varndel::Model CompiledModel(const fs::path& source) {
  ScratchDir dir;
  fs::copy_file(source, dir.path / source.filename());
  const RunResult run = RunVarndel({"1", "0", source.filename().string()}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  varndel::Model model;
  varndel::ReadError error;
  EXPECT_TRUE(varndel::ReadModelFile((dir.path / source.stem()).string() + ".animbin", model, &error))
      << varndel::FormatReadError(error);
  return model;
}

enum class PosePath { kReference, kPlayer };

inline std::string PosePathName(const testing::TestParamInfo<PosePath>& info) {
  return info.param == PosePath::kReference ? "Reference" : "Player";
}

// Poses one animation at successive times. The player is built from a copy
// that is gone before the first pose (it must keep no pointer into it), and
// keeps its cursor from one call to the next.
class Poser {
 public:
  Poser(PosePath path, const varndel::Animation& animation) : animation_(animation) {
    if (path == PosePath::kPlayer) player_.emplace(varndel::Animation(animation));
  }

  std::vector<varndel::Mat4> Globals(float ticks) {
    if (!player_) return varndel::ComputeGlobalTransforms(animation_, ticks);
    Evaluate(ticks);
    return player_->Globals();
  }

  std::vector<varndel::Mat4> Skinning(float ticks) {
    if (!player_)
      return varndel::ComputeSkinningMatrices(animation_, varndel::ComputeGlobalTransforms(animation_, ticks));
    return Evaluate(ticks);
  }

  // Normals are skipped when normals is null.
  void Skin(const varndel::MeshData& mesh, float ticks, std::vector<varndel::Vec3>& positions,
            std::vector<varndel::Vec3>* normals) {
    if (!player_) {
      varndel::SkinVertices(mesh, animation_, Skinning(ticks), positions, normals);
      return;
    }
    const std::vector<varndel::Mat4> palette = Evaluate(ticks);
    positions.assign(mesh.vertices.size(), {});
    if (normals != nullptr) normals->assign(mesh.vertices.size(), {});
    player_->SkinVertices(mesh, palette.data(), positions.data(), normals != nullptr ? normals->data() : nullptr);
  }

 private:
  std::vector<varndel::Mat4> Evaluate(float ticks) {
    std::vector<varndel::Mat4> palette(player_->BoneCount());
    player_->Evaluate(ticks, palette.data());
    return palette;
  }

  const varndel::Animation& animation_;
  std::optional<varndel::AnimationPlayer> player_;
};
