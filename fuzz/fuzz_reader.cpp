// libFuzzer target: arbitrary bytes as a compiled model file for the reader
// library. Besides the sanitizers' findings it checks what the reader
// promises: a refused file leaves the model empty and names an offset within
// the input; an accepted hierarchy is exactly the pre-order tree its child
// counts describe. An accepted model is then validated, and played by the
// player, which must give what the reference functions of sample.h give.
#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/sample.h>
#include <varndel/validate.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

static void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "reader broke its contract: %s\n", what);
  std::abort();
}

static void CheckRefusal(const varndel::Model& model, const varndel::ReadError& error, size_t size) {
  Require(error.offset <= size, "error offset past the end of the input");
  Require(!error.message.empty(), "error without a message");
  Require(!varndel::FormatReadError(error).empty(), "empty formatted error");
  Require(!model.animated && !model.flipUVs && model.textureCount == 0 && model.meshes.empty(),
          "refused file left a header or meshes behind");
  const varndel::Animation& animation = model.animation;
  Require(animation.nodes.empty() && animation.tracks.empty() && animation.boneInfos.empty() &&
              animation.duration == 0.0f && animation.ticksPerSecond == 0.0,
          "refused file left animation data behind");
}

// Replays the pre-order walk: each node must be the next child of the deepest
// ancestor that still has children to come.
static void CheckHierarchy(const std::vector<varndel::Node>& nodes) {
  Require(!nodes.empty(), "animated model without a root node");
  Require(nodes[0].parent == -1, "root with a parent");
  struct Open {
    size_t index;
    uint32_t remaining;
  };
  std::vector<Open> open{{0, nodes[0].childCount}};
  for (size_t i = 1; i < nodes.size(); ++i) {
    while (!open.empty() && open.back().remaining == 0) open.pop_back();
    Require(!open.empty(), "more nodes than the child counts announce");
    Require(nodes[i].parent == static_cast<int32_t>(open.back().index), "parent index off the pre-order walk");
    --open.back().remaining;
    open.push_back({i, nodes[i].childCount});
  }
  for (const Open& node : open) Require(node.remaining == 0, "fewer nodes than the child counts announce");
}

template <typename Array>
static bool SameValues(const std::vector<Array>& a, const std::vector<Array>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t k = 0; k < a[i].size(); ++k)
      if (!(a[i][k] == b[i][k] || (std::isnan(a[i][k]) && std::isnan(b[i][k])))) return false;
  return true;
}

// Validation puts errors first; the player agrees with the reference.
static void CheckValidationAndPlayback(const varndel::Model& model) {
  const std::vector<varndel::Finding> findings = varndel::ValidateModel(model);
  for (size_t i = 1; i < findings.size(); ++i)
    Require(
        findings[i - 1].severity == varndel::Severity::kError || findings[i].severity == varndel::Severity::kWarning,
        "an error after a warning");
  if (!model.animated) return;
  const varndel::Animation& animation = model.animation;
  varndel::AnimationPlayer player(animation);
  std::vector<varndel::Mat4> palette(player.BoneCount());
  std::vector<varndel::Vec3> positions, normals, referencePositions, referenceNormals;
  for (float ticks : {0.0f, animation.duration, animation.duration / 3, std::numeric_limits<float>::quiet_NaN()}) {
    player.Evaluate(ticks, palette.data());
    const std::vector<varndel::Mat4> globals = varndel::ComputeGlobalTransforms(animation, ticks);
    const std::vector<varndel::Mat4> skinning = varndel::ComputeSkinningMatrices(animation, globals);
    Require(SameValues(player.Globals(), globals), "player globals differ from the reference");
    Require(SameValues(palette, skinning), "player palette differs from the reference");
    for (const varndel::MeshData& mesh : model.meshes) {
      positions.resize(mesh.vertices.size());
      normals.resize(mesh.vertices.size());
      player.SkinVertices(mesh, palette.data(), positions.data(), normals.data());
      varndel::SkinVertices(mesh, animation, skinning, referencePositions, &referenceNormals);
      Require(SameValues(positions, referencePositions) && SameValues(normals, referenceNormals),
              "player skinning differs from the reference");
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varndel::Model model;
  varndel::ReadError error;
  if (!varndel::ReadModel(data, size, model, &error)) {
    CheckRefusal(model, error, size);
    return 0;
  }
  if (model.animated) {
    CheckHierarchy(model.animation.nodes);
  } else {
    Require(model.animation.nodes.empty() && model.animation.tracks.empty() && model.animation.boneInfos.empty(),
            "static model with animation data");
  }
  CheckValidationAndPlayback(model);
  return 0;
}
