// Scene import: reads the model through Assimp, checks the scene, and turns
// its meshes into the container after the animation step.
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <filesystem>
#include <vector>

#include "import/scene_access.h"
#include "log/log.h"
#include "model/model.h"

unsigned ImportFlags(bool flipUVs) {
  unsigned flags = aiProcess_CalcTangentSpace | aiProcess_Triangulate | aiProcess_GenSmoothNormals;
  if (flipUVs) flags |= aiProcess_FlipUVs;
  return flags;
}

Mat4 ToColumnMajor(const aiMatrix4x4t<float>& m) {
  return {m.a1, m.b1, m.c1, m.d1, m.a2, m.b2, m.c2, m.d2, m.a3, m.b3, m.c3, m.d3, m.a4, m.b4, m.c4, m.d4};
}

static Vec3 Vec3Of(const aiVector3D& v) { return {v.x, v.y, v.z}; }

// Children pushed last-first, so that the stack hands them out in scene order.
static void PushChildren(const aiNode& node, std::vector<const aiNode*>& pending) {
  const auto children = ChildrenOf(node);
  for (size_t i = children.size(); i-- > 0;) {
    if (children[i] != nullptr) pending.push_back(children[i]);
  }
}

static bool ValidateMesh(const aiScene& scene, unsigned index) {
  const aiMesh* mesh = scene.mMeshes[index];
  if (mesh == nullptr) {
    LogError("Scene is unusable! Mesh %d is missing.\n", index);
    return false;
  }
  const unsigned materialCount = scene.mMaterials != nullptr ? scene.mNumMaterials : 0;
  if (mesh->mMaterialIndex >= materialCount) {
    LogError("Scene is unusable! Mesh %d uses material %d, but the scene has %d materials.\n", index,
             mesh->mMaterialIndex, materialCount);
    return false;
  }
  if (scene.mMaterials[mesh->mMaterialIndex] == nullptr) {
    LogError("Scene is unusable! Material %d is missing.\n", mesh->mMaterialIndex);
    return false;
  }
  if (mesh->mNumVertices > 0 && mesh->mVertices == nullptr) {
    LogError("Scene is unusable! Mesh %d lacks vertex positions (vertex count %d).\n", index, mesh->mNumVertices);
    return false;
  }
  if (mesh->mNumFaces > 0 && mesh->mFaces == nullptr) {
    LogError("Scene is unusable! Mesh %d lacks its face list (face count %d).\n", index, mesh->mNumFaces);
    return false;
  }
  for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
    const aiFace& face = mesh->mFaces[f];
    if (face.mNumIndices > 0 && face.mIndices == nullptr) {
      LogError("Scene is unusable! Face %d of mesh %d lacks its index list (index count %d).\n", f, index,
               face.mNumIndices);
      return false;
    }
  }
  return true;
}

// Follows every index and pointer that the conversion will follow, so that a
// broken scene is refused (with the reason logged) before the container
// changes. Only meshes that some node references are looked at.
static bool ValidateScene(const aiScene& scene) {
  if (scene.mRootNode == nullptr) {
    LogError("Scene is unusable! The scene has no root node.\n");
    return false;
  }
  const unsigned meshCount = scene.mMeshes != nullptr ? scene.mNumMeshes : 0;
  std::vector<bool> checked(meshCount, false);
  std::vector<const aiNode*> pending{scene.mRootNode};
  while (!pending.empty()) {
    const aiNode& node = *pending.back();
    pending.pop_back();
    if (node.mNumMeshes > 0 && node.mMeshes == nullptr) {
      LogError("Scene is unusable! Node %s lacks its mesh index list (mesh count %d).\n", TextOf(node.mName),
               node.mNumMeshes);
      return false;
    }
    for (unsigned k = 0; k < node.mNumMeshes; ++k) {
      const unsigned index = node.mMeshes[k];
      if (index >= meshCount) {
        LogError("Scene is unusable! Node %s references mesh %d, but the scene has %d meshes.\n", TextOf(node.mName),
                 index, meshCount);
        return false;
      }
      if (checked[index]) continue;
      if (!ValidateMesh(scene, index)) return false;
      checked[index] = true;
    }
    PushChildren(node, pending);
  }
  return true;
}

Mesh BuildMesh(const aiMesh& mesh, const aiScene& scene, ModelContainer& mc) {
  std::vector<Vertex> vertices(mesh.mNumVertices);
  const aiVector3D* uvs = mesh.mTextureCoords[0];
  const bool hasTangents = mesh.mTangents != nullptr && mesh.mBitangents != nullptr;
  for (unsigned i = 0; i < mesh.mNumVertices; ++i) {
    Vertex& v = vertices[i];
    v.position = Vec3Of(mesh.mVertices[i]);
    if (mesh.mNormals != nullptr) v.normal = Vec3Of(mesh.mNormals[i]);
    if (uvs != nullptr) v.texCoords = {uvs[i].x, uvs[i].y};
    if (hasTangents) {
      v.tangent = Vec3Of(mesh.mTangents[i]);
      v.bitangent = Vec3Of(mesh.mBitangents[i]);
    }
  }

  std::vector<uint32_t> indices;
  size_t indexCount = 0;
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) indexCount += mesh.mFaces[f].mNumIndices;
  indices.reserve(indexCount);
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
    const aiFace& face = mesh.mFaces[f];
    indices.insert(indices.end(), face.mIndices, face.mIndices + face.mNumIndices);
  }

  TextureMap textures = CollectMaterialTextures(*scene.mMaterials[mesh.mMaterialIndex], mc);

  if (mc.isAnimatedModel) AssignBoneWeights(vertices, mesh, mc);
  return Mesh(std::move(vertices), std::move(indices), std::move(textures));
}

// Depth-first pre-order, a node's meshes before its children's; a mesh
// referenced by several nodes is extracted once per reference.
static void WalkNodes(const aiScene& scene, ModelContainer& mc) {
  std::vector<const aiNode*> pending{scene.mRootNode};
  bool firstMesh = true;
  while (!pending.empty()) {
    const aiNode& node = *pending.back();
    pending.pop_back();
    for (unsigned k = 0; k < node.mNumMeshes; ++k) {
      if (mc.isAnimatedModel && firstMesh) {
        // Bones are numbered once per model, from the first mesh on; the
        // animation's entries are dropped (its tracks keep their numbers).
        mc.boneInfoMap.clear();
        mc.boneCounter = 0;
      }
      firstMesh = false;
      mc.meshes.push_back(BuildMesh(*scene.mMeshes[node.mMeshes[k]], scene, mc));
    }
    PushChildren(node, pending);
  }
}

int ConvertScene(const aiScene& scene, ModelContainer& mc) {
  if (!ValidateScene(scene)) return kImportFailed;
  if (mc.isAnimatedModel) ImportAnimation(scene, mc);
  mc.modelDirectory = std::string(ParentPathOf(mc.inputFile));
  WalkNodes(scene, mc);
  return kSuccess;
}

// inputFile carries a lower-cased extension. Where file names are compared by
// case, that may name no file while the path as typed does.
static const std::string& PathToOpen(const ModelContainer& mc) {
  std::error_code ignored;
  if (mc.givenInputFile.empty() || mc.givenInputFile == mc.inputFile ||
      std::filesystem::exists(mc.inputFile, ignored) || !std::filesystem::exists(mc.givenInputFile, ignored)) {
    return mc.inputFile;
  }
  return mc.givenInputFile;
}

int LoadModel() { return LoadModel(modelContainer); }

int LoadModel(ModelContainer& mc) { return LoadModel(mc, nullptr); }

int LoadModel(ModelContainer& mc, std::unique_ptr<Assimp::IOSystem> io, const SceneVisitor& visit) {
  const std::string& path = PathToOpen(mc);
  // POSIX lets Assimp open a directory and read it as an empty model; refuse
  // it as the open failure it is.
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    LogError("Assimp read file error! %s\n", "Unable to open file \"" + path + "\".");
    return kImportFailed;
  }
  Assimp::Importer importer;
  if (io != nullptr) importer.SetIOHandler(io.release());  // the importer deletes it
  const aiScene* scene = importer.ReadFile(path, ImportFlags(mc.flipUVs));
  if (scene == nullptr || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0 || scene->mRootNode == nullptr) {
    LogError("Assimp read file error! %s\n", importer.GetErrorString());
    return kImportFailed;
  }
  const int code = ConvertScene(*scene, mc);
  if (code == kSuccess && visit) visit(*scene);
  return code;
}
