// Builds small Assimp scenes in memory for the import tests. Everything is
// allocated with new and owned by the scene: aiScene's destructor frees
// nodes, meshes, materials and animations.
#pragma once

#include <assimp/anim.h>
#include <assimp/material.h>
#include <assimp/mesh.h>
#include <assimp/scene.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_support.h"

template <typename T>
T* NewArray(const std::vector<T>& values) {
  if (values.empty()) return nullptr;
  T* array = new T[values.size()];
  std::copy(values.begin(), values.end(), array);
  return array;
}

// Null entries in children are kept: walks must skip them.
inline aiNode* MakeNode(const std::string& name, const std::vector<unsigned>& meshes = {},
                        const std::vector<aiNode*>& children = {}) {
  auto* node = new aiNode(name);
  node->mNumMeshes = static_cast<unsigned>(meshes.size());
  node->mMeshes = NewArray(meshes);
  node->mNumChildren = static_cast<unsigned>(children.size());
  node->mChildren = NewArray(children);
  for (aiNode* child : children) {
    if (child != nullptr) child->mParent = node;
  }
  return node;
}

// A mesh whose vertex i sits at (marker, i, 0), so tests can tell meshes
// apart after the walk. Faces as given; no normals, UVs or tangents.
inline aiMesh* MakeMesh(float marker, unsigned vertexCount, const std::vector<std::vector<unsigned>>& faces = {},
                        unsigned material = 0) {
  auto* mesh = new aiMesh();
  mesh->mNumVertices = vertexCount;
  mesh->mVertices = vertexCount > 0 ? new aiVector3D[vertexCount] : nullptr;
  for (unsigned i = 0; i < vertexCount; ++i) mesh->mVertices[i] = aiVector3D(marker, static_cast<float>(i), 0);
  mesh->mNumFaces = static_cast<unsigned>(faces.size());
  mesh->mFaces = faces.empty() ? nullptr : new aiFace[faces.size()];
  for (size_t f = 0; f < faces.size(); ++f) {
    mesh->mFaces[f].mNumIndices = static_cast<unsigned>(faces[f].size());
    mesh->mFaces[f].mIndices = NewArray(faces[f]);
  }
  mesh->mMaterialIndex = material;
  return mesh;
}

// Null entries in meshes are kept; materialCount empty materials are made.
inline aiScene* MakeScene(aiNode* root, const std::vector<aiMesh*>& meshes, unsigned materialCount = 1) {
  auto* scene = new aiScene();
  scene->mRootNode = root;
  scene->mNumMeshes = static_cast<unsigned>(meshes.size());
  scene->mMeshes = NewArray(meshes);
  scene->mNumMaterials = materialCount;
  scene->mMaterials = materialCount > 0 ? new aiMaterial*[materialCount] : nullptr;
  for (unsigned m = 0; m < materialCount; ++m) scene->mMaterials[m] = new aiMaterial();
  return scene;
}

inline void AddTexture(aiMaterial& material, aiTextureType type, unsigned index, const std::string& path) {
  aiString text(path);
  material.AddProperty(&text, AI_MATKEY_TEXTURE(type, index));
}

inline aiBone* MakeBone(const std::string& name, const std::vector<aiVertexWeight>& weights,
                        const aiMatrix4x4& offset = aiMatrix4x4()) {
  auto* bone = new aiBone();
  bone->mName = aiString(name);
  bone->mNumWeights = static_cast<unsigned>(weights.size());
  bone->mWeights = NewArray(weights);
  bone->mOffsetMatrix = offset;
  return bone;
}

inline void SetBones(aiMesh& mesh, const std::vector<aiBone*>& bones) {
  mesh.mNumBones = static_cast<unsigned>(bones.size());
  mesh.mBones = NewArray(bones);
}

inline aiNodeAnim* MakeChannel(const std::string& node, const std::vector<aiVectorKey>& positions = {},
                               const std::vector<aiQuatKey>& rotations = {},
                               const std::vector<aiVectorKey>& scalings = {}) {
  auto* channel = new aiNodeAnim();
  channel->mNodeName = aiString(node);
  channel->mNumPositionKeys = static_cast<unsigned>(positions.size());
  channel->mPositionKeys = NewArray(positions);
  channel->mNumRotationKeys = static_cast<unsigned>(rotations.size());
  channel->mRotationKeys = NewArray(rotations);
  channel->mNumScalingKeys = static_cast<unsigned>(scalings.size());
  channel->mScalingKeys = NewArray(scalings);
  return channel;
}

inline aiAnimation* MakeAnimation(double duration, double ticksPerSecond, const std::vector<aiNodeAnim*>& channels) {
  auto* animation = new aiAnimation();
  animation->mDuration = duration;
  animation->mTicksPerSecond = ticksPerSecond;
  animation->mNumChannels = static_cast<unsigned>(channels.size());
  animation->mChannels = NewArray(channels);
  return animation;
}

inline void SetAnimations(aiScene& scene, const std::vector<aiAnimation*>& animations) {
  scene.mNumAnimations = static_cast<unsigned>(animations.size());
  scene.mAnimations = NewArray(animations);
}

// aiNode's destructor recurses; trees deeper than the call stack are taken
// apart here, one node at a time.
inline void DeleteNodesIteratively(aiNode* root) {
  std::vector<aiNode*> pending{root};
  while (!pending.empty()) {
    aiNode* node = pending.back();
    pending.pop_back();
    for (unsigned i = 0; node->mChildren != nullptr && i < node->mNumChildren; ++i) {
      if (node->mChildren[i] != nullptr) pending.push_back(node->mChildren[i]);
    }
    node->mNumChildren = 0;  // the destructor then frees the array, not the children
    delete node;
  }
}

using ScenePtr = std::unique_ptr<aiScene>;
