// Material textures: each path is moved into the model's directory. Every
// mesh keeps all of its material's textures; the model's texture list names
// each distinct path once, in the order first met.
#include <assimp/material.h>

#include <algorithm>

#include "import/scene_access.h"
#include "model/model.h"

// A root whose second character is ':' starts with a drive prefix, since
// separators are never ':'.
static bool HasDrivePrefix(std::string_view path) { return RootLength(path) >= 2 && path[1] == ':'; }

std::string JoinTexturePath(std::string_view modelDirectory, std::string_view fileName) {
  if (HasDrivePrefix(fileName)) {
    const bool sameDrive = HasDrivePrefix(modelDirectory) && modelDirectory[0] == fileName[0];
    if (!sameDrive) return std::string(fileName);
    fileName.remove_prefix(2);
  }
  std::string joined(modelDirectory);
  const bool driveOnly = modelDirectory.size() == 2 && HasDrivePrefix(modelDirectory);
  if (!modelDirectory.empty() && !driveOnly && !IsSeparator(modelDirectory.back())) joined += '\\';
  joined += fileName;
  return joined;
}

// The visit order decides which type a path shared by two types keeps.
static constexpr aiTextureType kTextureTypes[] = {aiTextureType_DIFFUSE, aiTextureType_SPECULAR, aiTextureType_HEIGHT,
                                                  aiTextureType_AMBIENT, aiTextureType_NORMALS};

TextureMap CollectMaterialTextures(const aiMaterial& material, ModelContainer& mc) {
  TextureMap textures;
  for (const aiTextureType type : kTextureTypes) {
    const unsigned count = aiGetMaterialTextureCount(&material, type);
    for (unsigned i = 0; i < count; ++i) {
      aiString path;  // empty: a failed fetch yields an empty path, never the last one
      aiGetMaterialTexture(&material, type, i, &path);
      const std::string text = TextOf(path);
      std::string stored = JoinTexturePath(mc.modelDirectory, FileNameOf(text));
      if (!textures.emplace(stored, static_cast<uint32_t>(type)).second) continue;  // taken by an earlier type
      if (std::find(mc.loadedTextures.begin(), mc.loadedTextures.end(), stored) == mc.loadedTextures.end()) {
        mc.loadedTextures.push_back(std::move(stored));
      }
    }
  }
  return textures;
}
