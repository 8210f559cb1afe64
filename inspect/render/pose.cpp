// The model at one time: skinned vertices and joint origins for animated
// files, the stored vertices for static ones.
#include <varndel/player.h>

#include <cmath>
#include <unordered_set>

#include "inspect/render/render.h"

namespace render {
namespace {

bool IsFinite(const Vec3& p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

Vec3 OriginOf(const varndel::Mat4& m) { return {m[12], m[13], m[14]}; }

}  // namespace

Pose PoseModel(const varndel::Model& model, float ticks) {
  Pose pose;
  pose.meshes.resize(model.meshes.size());
  if (!model.animated) {
    for (size_t m = 0; m < model.meshes.size(); ++m) {
      const auto& vertices = model.meshes[m].vertices;
      PosedMesh& posed = pose.meshes[m];
      posed.positions.reserve(vertices.size());
      posed.normals.reserve(vertices.size());
      for (const varndel::Vertex& v : vertices) {
        posed.positions.push_back(v.position);
        posed.normals.push_back(v.normal);
      }
    }
    return pose;
  }

  const varndel::Animation& animation = model.animation;
  varndel::AnimationPlayer player(animation);
  std::vector<varndel::Mat4> palette(player.BoneCount());
  player.Evaluate(ticks, palette.data());
  const std::vector<varndel::Mat4>& globals = player.Globals();
  for (size_t m = 0; m < model.meshes.size(); ++m) {
    PosedMesh& posed = pose.meshes[m];
    posed.positions.resize(model.meshes[m].vertices.size());
    posed.normals.resize(model.meshes[m].vertices.size());
    player.SkinVertices(model.meshes[m], palette.data(), posed.positions.data(), posed.normals.data());
  }

  // Bones: nodes that a track animates or a bone-info entry names.
  std::unordered_set<std::string> boneNames;
  for (const varndel::Track& track : animation.tracks) boneNames.insert(track.name);
  for (const varndel::BoneInfoEntry& entry : animation.boneInfos) boneNames.insert(entry.name);
  for (size_t i = 0; i < animation.nodes.size(); ++i) {
    const varndel::Node& node = animation.nodes[i];
    if (boneNames.count(node.name) == 0 || !IsFinite(OriginOf(globals[i]))) continue;
    pose.joints.push_back(OriginOf(globals[i]));
    const bool hasParent = node.parent >= 0 && size_t(node.parent) < i;
    if (hasParent && boneNames.count(animation.nodes[size_t(node.parent)].name) != 0 &&
        IsFinite(OriginOf(globals[size_t(node.parent)])))
      pose.bones.push_back({OriginOf(globals[size_t(node.parent)]), OriginOf(globals[i])});
  }
  return pose;
}

void AddToBounds(const Pose& pose, bool joints, Bounds& bounds) {
  const auto add = [&bounds](const Vec3& p) {
    if (!IsFinite(p)) return;
    for (int k = 0; k < 3; ++k) {
      if (bounds.empty || p[k] < bounds.min[k]) bounds.min[k] = p[k];
      if (bounds.empty || p[k] > bounds.max[k]) bounds.max[k] = p[k];
    }
    bounds.empty = false;
  };
  for (const PosedMesh& mesh : pose.meshes)
    for (const Vec3& p : mesh.positions) add(p);
  if (joints)
    for (const Vec3& p : pose.joints) add(p);
}

}  // namespace render
