#include <algorithm>
#include <vector>

#include "format/layout.h"
#include "log/log.h"
#include "model/model.h"
#include "reader/file_access.h"

// Logs message with the actual value when value is above what its count or
// length field can hold. The model is then refused, so that no count ever
// disagrees with what follows it.
static bool Exceeds(uint64_t value, uint64_t limit, const char* message) {
  if (value <= limit) return false;
  LogError(message, value);
  return true;
}

// Node records depth-first pre-order, with an explicit stack: the hierarchy
// can be deeper than the call stack.
static int AppendHierarchy(const HierarchyNode& root, std::string& out) {
  std::vector<const HierarchyNode*> pending{&root};
  while (!pending.empty()) {
    const HierarchyNode& node = *pending.back();
    pending.pop_back();
    if (Exceeds(node.name.size(), kMaxNodeNameLength,
                "Node names may not be longer than 4,294,967,295 bytes! Current name has %d bytes.\n")) {
      return kFormatLimitExceeded;
    }
    AppendValue(out, node.transformation);
    AppendValue(out, static_cast<uint32_t>(node.name.size()));
    out += node.name;
    AppendValue(out, node.childrenCount);
    const size_t children = std::min<size_t>(node.childrenCount, node.children.size());
    for (size_t i = children; i-- > 0;) pending.push_back(&node.children[i]);
  }
  return kSuccess;
}

// The count written is the list length, which the import keeps equal to
// m_NumPositions and friends.
template <typename Key>
static int AppendKeys(std::string& out, const std::vector<Key>& keys) {
  if (Exceeds(keys.size(), kMaxKeys,
              "Bone tracks may not have more than 2,147,483,647 keys! Current track has %d keys.\n")) {
    return kFormatLimitExceeded;
  }
  AppendValue(out, static_cast<int32_t>(keys.size()));
  AppendBlock(out, keys);
  return kSuccess;
}

static constexpr const char* kBoneNameTooLong =
    "Bone names may not be longer than 65,535 bytes! Current name has %d bytes.\n";

static int AppendAnimation(const ModelContainer& mc, std::string& out) {
  AppendValue(out, mc.animDuration);
  AppendValue(out, mc.TicksPerSecond);
  if (const int code = AppendHierarchy(mc.rootNode, out); code != kSuccess) return code;

  if (Exceeds(mc.bones.size(), kMaxBones, "Models may not have more than 255 bones! Current model has %d bones.\n")) {
    return kFormatLimitExceeded;
  }
  AppendValue(out, static_cast<uint8_t>(mc.bones.size()));
  for (const Bone& bone : mc.bones) {
    if (AppendKeys(out, bone.m_Positions) != kSuccess || AppendKeys(out, bone.m_Rotations) != kSuccess ||
        AppendKeys(out, bone.m_Scales) != kSuccess) {
      return kFormatLimitExceeded;
    }
    AppendValue(out, bone.m_PosKeyMaxTime);
    AppendValue(out, bone.m_RotKeyMaxTime);
    AppendValue(out, bone.m_ScaleKeyMaxTime);
    if (Exceeds(bone.m_Name.size(), kMaxShortLength, kBoneNameTooLong)) return kFormatLimitExceeded;
    AppendValue(out, static_cast<uint16_t>(bone.m_Name.size()));
    out += bone.m_Name;
    AppendValue(out, bone.m_ID);
  }

  if (Exceeds(mc.boneInfoMap.size(), kMaxBones,
              "Models may not have more than 255 bone infos! Current model has %d bone infos.\n")) {
    return kFormatLimitExceeded;
  }
  AppendValue(out, static_cast<uint8_t>(mc.boneInfoMap.size()));
  for (const auto& [name, info] : mc.boneInfoMap) {
    if (Exceeds(name.size(), kMaxShortLength, kBoneNameTooLong)) return kFormatLimitExceeded;
    AppendValue(out, static_cast<uint16_t>(name.size()));
    out += name;
    AppendValue(out, info.ID);
    AppendValue(out, info.offset);
  }
  return kSuccess;
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
  if (Exceeds(mc.loadedTextures.size(), kMaxTextures,
              "Models may not have more than 65,535 textures! Current model has %d textures.\n")) {
    return kFormatLimitExceeded;
  }
  AppendValue(out, static_cast<uint8_t>(mc.isAnimatedModel));
  AppendValue(out, static_cast<uint8_t>(mc.flipUVs));
  AppendValue(out, static_cast<uint64_t>(mc.meshes.size()));
  AppendValue(out, static_cast<uint16_t>(mc.loadedTextures.size()));

  for (const Mesh& mesh : mc.meshes) {
    if (Exceeds(mesh.vertices.size(), kMaxMeshElements,
                "Meshes may not have more than 4,294,967,295 vertices! Current mesh has %d vertices.\n")) {
      return kMeshTooLarge;
    }
    AppendValue(out, static_cast<uint32_t>(mesh.vertices.size()));
    AppendBlock(out, mesh.vertices);

    if (Exceeds(mesh.indices.size(), kMaxMeshElements,
                "Meshes may not have more than 4,294,967,295 indices! Current mesh has %d indices.\n")) {
      return kMeshTooLarge;
    }
    AppendValue(out, static_cast<uint32_t>(mesh.indices.size()));
    AppendBlock(out, mesh.indices);

    if (Exceeds(mesh.textures.size(), kMaxTextures,
                "Meshes may not have more than 65,535 textures! Current mesh has %d textures.\n")) {
      return kFormatLimitExceeded;
    }
    AppendValue(out, static_cast<uint16_t>(mesh.textures.size()));
    for (const auto& [path, type] : mesh.textures) {
      if (Exceeds(path.size(), kMaxShortLength,
                  "Texture paths may not be longer than 65,535 bytes! Current path has %d bytes.\n")) {
        return kFormatLimitExceeded;
      }
      AppendValue(out, static_cast<uint16_t>(path.size()));
      out += path;
      AppendValue(out, static_cast<uint8_t>(type));
    }
  }

  return mc.isAnimatedModel ? AppendAnimation(mc, out) : kSuccess;
}

int GenerateModelFile() { return GenerateModelFile(modelContainer); }

int GenerateModelFile(ModelContainer& mc) {
  LogInfo("Loading raw model...\n");
  if (const int code = LoadModel(mc); code != kSuccess) return code;
  LogInfo("Successfully loaded raw model.\n");
  LogInfo("Generating binary model file...\n");

  return WriteModelImage(mc, OutputPathOf(mc));
}

int WriteModelImage(ModelContainer& mc, const std::string& path) {
  varndel::file_access::OutputFile file;
  const int code = WriteModelImage(mc, path, file);
  if (code != kSuccess) return code;
  std::string reason;
  return varndel::file_access::CommitOutputFile(file, reason) ? kSuccess : kOutputWriteFailed;
}

int WriteModelImage(ModelContainer& mc, const std::string& path, varndel::file_access::OutputFile& file) {
  namespace access = varndel::file_access;
  std::string reason;
  // An output this process may not write is refused as opening it was.
  if (!access::IsWritableOrAbsent(path) || !access::CreateOutputFile(path, file, reason)) return kOutputOpenFailed;
  mc.outputFileOpened = true;

  if (const int code = SerializeModel(mc, mc.outputBuffer); code != kSuccess) return code;
  if (!access::AppendOutputFile(file, mc.outputBuffer, reason) || !access::CloseOutputFile(file, reason)) {
    return kOutputWriteFailed;
  }

  if (mc.isAnimatedModel) {
    LogInfo("Successfully generated \033[95manimated\033[0m model file (\033[1m\033[33m%s\033[0m) from %s.\033[0m\n",
            mc.outputFileName, mc.inputFile);
  } else {
    LogInfo("Successfully generated \033[36mstatic\033[0m model file (\033[1m\033[33m%s\033[0m) from %s.\033[0m\n",
            mc.outputFileName, mc.inputFile);
  }
  return kSuccess;
}
