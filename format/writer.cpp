#include <algorithm>
#include <fstream>
#include <vector>

#include "format/layout.h"
#include "log/log.h"
#include "model/model.h"

// Node records depth-first pre-order, with an explicit stack: the hierarchy
// can be deeper than the call stack.
static void AppendHierarchy(const HierarchyNode& root, std::string& out) {
  std::vector<const HierarchyNode*> pending{&root};
  while (!pending.empty()) {
    const HierarchyNode& node = *pending.back();
    pending.pop_back();
    AppendValue(out, node.transformation);
    AppendValue(out, static_cast<uint32_t>(node.name.size()));
    out += node.name;
    AppendValue(out, node.childrenCount);
    const size_t children = std::min<size_t>(node.childrenCount, node.children.size());
    for (size_t i = children; i-- > 0;) pending.push_back(&node.children[i]);
  }
}

// Refuses what the one- and two-byte count and length fields cannot hold, so
// that no count ever disagrees with what follows it.
static int CheckHierarchyLimits(const HierarchyNode& root) {
  std::vector<const HierarchyNode*> pending{&root};
  while (!pending.empty()) {
    const HierarchyNode& node = *pending.back();
    pending.pop_back();
    if (node.name.size() > kMaxNodeNameLength) {
      LogError("Node names may not be longer than 4,294,967,295 bytes! Current name has %d bytes.\n",
               static_cast<uint64_t>(node.name.size()));
      return kFormatLimitExceeded;
    }
    for (const HierarchyNode& child : node.children) pending.push_back(&child);
  }
  return kSuccess;
}

static int CheckAnimationLimits(const ModelContainer& mc) {
  if (mc.bones.size() > kMaxBones) {
    LogError("Models may not have more than 255 bones! Current model has %d bones.\n",
             static_cast<uint64_t>(mc.bones.size()));
    return kFormatLimitExceeded;
  }
  if (mc.boneInfoMap.size() > kMaxBones) {
    LogError("Models may not have more than 255 bone infos! Current model has %d bone infos.\n",
             static_cast<uint64_t>(mc.boneInfoMap.size()));
    return kFormatLimitExceeded;
  }
  for (const Bone& bone : mc.bones) {
    const uint64_t keys = std::max({bone.m_Positions.size(), bone.m_Rotations.size(), bone.m_Scales.size()});
    if (keys > kMaxKeys) {
      LogError("Bone tracks may not have more than 2,147,483,647 keys! Current track has %d keys.\n", keys);
      return kFormatLimitExceeded;
    }
    if (bone.m_Name.size() > kMaxShortLength) {
      LogError("Bone names may not be longer than 65,535 bytes! Current name has %d bytes.\n",
               static_cast<uint64_t>(bone.m_Name.size()));
      return kFormatLimitExceeded;
    }
  }
  for (const auto& [name, info] : mc.boneInfoMap) {
    if (name.size() > kMaxShortLength) {
      LogError("Bone names may not be longer than 65,535 bytes! Current name has %d bytes.\n",
               static_cast<uint64_t>(name.size()));
      return kFormatLimitExceeded;
    }
  }
  return CheckHierarchyLimits(mc.rootNode);
}

template <typename Key>
static void AppendKeys(std::string& out, const std::vector<Key>& keys) {
  AppendValue(out, static_cast<int32_t>(keys.size()));
  AppendBlock(out, keys);
}

static void AppendAnimation(const ModelContainer& mc, std::string& out) {
  AppendValue(out, mc.animDuration);
  AppendValue(out, mc.TicksPerSecond);
  AppendHierarchy(mc.rootNode, out);

  AppendValue(out, static_cast<uint8_t>(mc.bones.size()));
  for (const Bone& bone : mc.bones) {
    // The counts written are the list lengths, which the import keeps equal
    // to m_NumPositions and friends.
    AppendKeys(out, bone.m_Positions);
    AppendKeys(out, bone.m_Rotations);
    AppendKeys(out, bone.m_Scales);
    AppendValue(out, bone.m_PosKeyMaxTime);
    AppendValue(out, bone.m_RotKeyMaxTime);
    AppendValue(out, bone.m_ScaleKeyMaxTime);
    AppendValue(out, static_cast<uint16_t>(bone.m_Name.size()));
    out += bone.m_Name;
    AppendValue(out, bone.m_ID);
  }

  AppendValue(out, static_cast<uint8_t>(mc.boneInfoMap.size()));
  for (const auto& [name, info] : mc.boneInfoMap) {
    AppendValue(out, static_cast<uint16_t>(name.size()));
    out += name;
    AppendValue(out, info.ID);
    AppendValue(out, info.offset);
  }
}

// Bytes of the header and mesh sections, so the image grows only once.
static size_t MeshSectionsSize(const ModelContainer& mc) {
  size_t size = 12;
  for (const Mesh& mesh : mc.meshes) {
    size += 10 + mesh.vertices.size() * sizeof(Vertex) + mesh.indices.size() * sizeof(uint32_t);
    for (const auto& entry : mesh.textures) size += 3 + entry.first.size();
  }
  return size;
}

int SerializeModel(const ModelContainer& mc, std::string& out) {
  out.reserve(out.size() + MeshSectionsSize(mc));
  if (mc.loadedTextures.size() > kMaxTextures) {
    LogError("Models may not have more than 65,535 textures! Current model has %d textures.\n",
             static_cast<uint64_t>(mc.loadedTextures.size()));
    return kFormatLimitExceeded;
  }
  AppendValue(out, static_cast<uint8_t>(mc.isAnimatedModel));
  AppendValue(out, static_cast<uint8_t>(mc.flipUVs));
  AppendValue(out, static_cast<uint64_t>(mc.meshes.size()));
  AppendValue(out, static_cast<uint16_t>(mc.loadedTextures.size()));

  for (const Mesh& mesh : mc.meshes) {
    if (mesh.vertices.size() > kMaxMeshElements) {
      LogError("Meshes may not have more than 4,294,967,295 vertices! Current mesh has %d vertices.\n",
               static_cast<uint64_t>(mesh.vertices.size()));
      return kMeshTooLarge;
    }
    AppendValue(out, static_cast<uint32_t>(mesh.vertices.size()));
    AppendBlock(out, mesh.vertices);

    if (mesh.indices.size() > kMaxMeshElements) {
      LogError("Meshes may not have more than 4,294,967,295 indices! Current mesh has %d indices.\n",
               static_cast<uint64_t>(mesh.indices.size()));
      return kMeshTooLarge;
    }
    AppendValue(out, static_cast<uint32_t>(mesh.indices.size()));
    AppendBlock(out, mesh.indices);

    if (mesh.textures.size() > kMaxTextures) {
      LogError("Meshes may not have more than 65,535 textures! Current mesh has %d textures.\n",
               static_cast<uint64_t>(mesh.textures.size()));
      return kFormatLimitExceeded;
    }
    AppendValue(out, static_cast<uint16_t>(mesh.textures.size()));
    for (const auto& [path, type] : mesh.textures) {
      if (path.size() > kMaxShortLength) {
        LogError("Texture paths may not be longer than 65,535 bytes! Current path has %d bytes.\n",
                 static_cast<uint64_t>(path.size()));
        return kFormatLimitExceeded;
      }
      AppendValue(out, static_cast<uint16_t>(path.size()));
      out += path;
      AppendValue(out, static_cast<uint8_t>(type));
    }
  }

  if (mc.isAnimatedModel) {
    if (const int code = CheckAnimationLimits(mc); code != kSuccess) return code;
    AppendAnimation(mc, out);
  }
  return kSuccess;
}

int GenerateModelFile() { return GenerateModelFile(modelContainer); }

int GenerateModelFile(ModelContainer& mc) {
  LogInfo("Loading raw model...\n");
  if (const int code = LoadModel(mc); code != kSuccess) return code;
  LogInfo("Successfully loaded raw model.\n");
  LogInfo("Generating binary model file...\n");

  std::ofstream file(OutputPathOf(mc), std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return kOutputOpenFailed;
  mc.outputFileOpened = true;

  if (const int code = SerializeModel(mc, mc.outputBuffer); code != kSuccess) return code;
  file.write(mc.outputBuffer.data(), static_cast<std::streamsize>(mc.outputBuffer.size()));
  file.flush();  // so a full disk shows up here, not in an unchecked close
  if (file.fail()) return kOutputWriteFailed;

  if (mc.isAnimatedModel) {
    LogInfo("Successfully generated \033[95manimated\033[0m model file (\033[1m\033[33m%s\033[0m) from %s.\033[0m\n",
            mc.outputFileName, mc.inputFile);
  } else {
    LogInfo("Successfully generated \033[36mstatic\033[0m model file (\033[1m\033[33m%s\033[0m) from %s.\033[0m\n",
            mc.outputFileName, mc.inputFile);
  }
  return kSuccess;
}
