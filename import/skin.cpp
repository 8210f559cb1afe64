// Skin weights: registers a mesh's bones in the bone-info map and writes
// their influences into the first free slots of the vertices.
#include <assimp/mesh.h>

#include "import/scene_access.h"
#include "model/model.h"

static void AddInfluence(Vertex& vertex, int32_t boneID, float weight) {
  for (size_t slot = 0; slot < vertex.boneIDs.size(); ++slot) {
    if (vertex.boneIDs[slot] < 0) {
      vertex.boneIDs[slot] = boneID;
      vertex.weights[slot] = weight;
      return;
    }
  }
  // all four slots taken: the influence is dropped
}

void AssignBoneWeights(std::vector<Vertex>& vertices, const aiMesh& mesh, ModelContainer& mc) {
  if (mesh.mBones == nullptr) return;
  for (unsigned b = 0; b < mesh.mNumBones; ++b) {
    const aiBone* bone = mesh.mBones[b];
    if (bone == nullptr) continue;
    // A name met again keeps the number and offset of its first bone.
    const auto [entry, inserted] = mc.boneInfoMap.try_emplace(TextOf(bone->mName));
    if (inserted) {
      entry->second.ID = mc.boneCounter++;
      entry->second.offset = ToColumnMajor(bone->mOffsetMatrix);
    }
    const int32_t boneID = entry->second.ID;
    if (bone->mWeights == nullptr) continue;
    for (unsigned w = 0; w < bone->mNumWeights; ++w) {
      const aiVertexWeight& weight = bone->mWeights[w];
      if (weight.mVertexId >= vertices.size()) continue;  // names no vertex of this mesh
      AddInfluence(vertices[weight.mVertexId], boneID, weight.mWeight);
    }
  }
}
