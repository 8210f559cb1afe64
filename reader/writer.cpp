#include <varndel/writer.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "reader/append.h"

namespace varndel {

namespace {

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "the file holds IEEE floats");

// The count as its field's type; a count that does not fit names the field.
template <typename Count>
Count Narrow(size_t value, const std::string& field) {
  if (value > static_cast<size_t>(std::numeric_limits<Count>::max())) {
    throw std::length_error(field + ": " + std::to_string(value) + " does not fit its " +
                            std::to_string(sizeof(Count) * 8) + "-bit field");
  }
  return static_cast<Count>(value);
}

template <typename Length>
void AppendName(std::string& out, const std::string& name, const std::string& field) {
  AppendValue(out, Narrow<Length>(name.size(), field));
  out += name;
}

template <typename Key>
void AppendKeys(std::string& out, const std::vector<Key>& keys, const std::string& field) {
  AppendValue(out, Narrow<int32_t>(keys.size(), field));
  AppendBlock(out, keys);
}

void AppendMesh(std::string& out, const MeshData& mesh, size_t m) {
  const std::string field = "meshes[" + std::to_string(m) + "].";
  AppendValue(out, Narrow<uint32_t>(mesh.vertices.size(), field + "meshNumVert"));
  AppendBlock(out, mesh.vertices);
  AppendValue(out, Narrow<uint32_t>(mesh.indices.size(), field + "meshNumInd"));
  AppendBlock(out, mesh.indices);
  AppendValue(out, Narrow<uint16_t>(mesh.textures.size(), field + "meshNumTex"));
  for (size_t t = 0; t < mesh.textures.size(); ++t) {
    AppendName<uint16_t>(out, mesh.textures[t].path, field + "textures[" + std::to_string(t) + "].path");
    AppendValue(out, mesh.textures[t].type);
  }
}

void AppendAnimation(std::string& out, const Animation& animation) {
  AppendValue(out, animation.duration);
  AppendValue(out, animation.ticksPerSecond);
  for (size_t i = 0; i < animation.nodes.size(); ++i) {
    const Node& node = animation.nodes[i];
    AppendValue(out, node.transformation);
    AppendName<uint32_t>(out, node.name, "nodes[" + std::to_string(i) + "].name");
    AppendValue(out, node.childCount);
  }
  AppendValue(out, Narrow<uint8_t>(animation.tracks.size(), "numBones"));
  for (size_t b = 0; b < animation.tracks.size(); ++b) {
    const Track& track = animation.tracks[b];
    const std::string field = "bones[" + std::to_string(b) + "].";
    AppendKeys(out, track.positions, field + "m_NumPositions");
    AppendKeys(out, track.rotations, field + "m_NumRotations");
    AppendKeys(out, track.scales, field + "m_NumScalings");
    AppendValue(out, track.positionMaxTime);
    AppendValue(out, track.rotationMaxTime);
    AppendValue(out, track.scaleMaxTime);
    AppendName<uint16_t>(out, track.name, field + "m_Name");
    AppendValue(out, track.id);
  }
  AppendValue(out, Narrow<uint8_t>(animation.boneInfos.size(), "numBoneInfos"));
  for (size_t b = 0; b < animation.boneInfos.size(); ++b) {
    const BoneInfoEntry& info = animation.boneInfos[b];
    AppendName<uint16_t>(out, info.name, "boneInfos[" + std::to_string(b) + "].name");
    AppendValue(out, info.id);
    AppendValue(out, info.offset);
  }
}

}  // namespace

size_t AnimationBytes(const Animation& animation) {
  size_t size = sizeof(float) + sizeof(double) + 1 + 1;  // duration, tick rate, the two entry counts
  for (const Node& node : animation.nodes) size += sizeof(Mat4) + 4 + node.name.size() + 4;
  for (const Track& track : animation.tracks) {
    size += 3 * 4 + track.positions.size() * sizeof(PositionKey) + track.rotations.size() * sizeof(RotationKey) +
            track.scales.size() * sizeof(ScaleKey) + 3 * 4 + 2 + track.name.size() + 4;
  }
  for (const BoneInfoEntry& info : animation.boneInfos) size += 2 + info.name.size() + 4 + sizeof(Mat4);
  return size;
}

std::string WriteModel(const Model& model) {
  size_t size = 12;
  for (const MeshData& mesh : model.meshes) {
    size += 10 + mesh.vertices.size() * sizeof(Vertex) + mesh.indices.size() * sizeof(uint32_t);
    for (const TextureRef& texture : mesh.textures) size += 3 + texture.path.size();
  }
  std::string out;
  out.reserve(size);
  AppendValue(out, static_cast<uint8_t>(model.animated));
  AppendValue(out, static_cast<uint8_t>(model.flipUVs));
  AppendValue(out, static_cast<uint64_t>(model.meshes.size()));
  AppendValue(out, model.textureCount);
  for (size_t m = 0; m < model.meshes.size(); ++m) AppendMesh(out, model.meshes[m], m);
  if (model.animated) AppendAnimation(out, model.animation);
  return out;
}

}  // namespace varndel
