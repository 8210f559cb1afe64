// Skin weights: registers a mesh's bones in the model's bone-info map and
// writes their influences into the vertices' four bone slots.
#include <assimp/mesh.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "import/scene_access.h"
#include "model/model.h"

namespace {

struct Influence {
  int32_t boneID;
  float weight;
};

// Every influence of a vertex that met more than four, in the order met.
using Overflow = std::unordered_map<uint32_t, std::vector<Influence>>;

void AddInfluence(Vertex& vertex, uint32_t vertexID, int32_t boneID, float weight, Overflow& overflow) {
  for (size_t slot = 0; slot < vertex.boneIDs.size(); ++slot) {
    if (vertex.boneIDs[slot] < 0) {
      vertex.boneIDs[slot] = boneID;
      vertex.weights[slot] = weight;
      return;
    }
  }
  std::vector<Influence>& all = overflow[vertexID];
  if (all.empty()) {
    for (size_t slot = 0; slot < vertex.boneIDs.size(); ++slot) all.push_back({vertex.boneIDs[slot], vertex.weights[slot]});
  }
  all.push_back({boneID, weight});
}

// NaN weighs least; a tie goes to the influence met first.
bool Heavier(const Influence& a, const Influence& b) {
  if (std::isnan(b.weight)) return !std::isnan(a.weight);
  return !std::isnan(a.weight) && a.weight > b.weight;
}

// The four heaviest influences, in the order met, renormalised to sum to 1
// unless their sum is 0 or not finite.
void KeepHeaviestFour(Vertex& vertex, const std::vector<Influence>& all) {
  std::vector<size_t> order(all.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return Heavier(all[a], all[b]); });
  const size_t slots = vertex.boneIDs.size();
  std::sort(order.begin(), order.begin() + slots);
  float sum = 0;  // in slot order
  for (size_t slot = 0; slot < slots; ++slot) sum += all[order[slot]].weight;
  const bool normalise = sum != 0 && std::isfinite(sum);
  for (size_t slot = 0; slot < slots; ++slot) {
    const Influence& kept = all[order[slot]];
    vertex.boneIDs[slot] = kept.boneID;
    vertex.weights[slot] = normalise ? kept.weight / sum : kept.weight;
  }
}

}  // namespace

void AssignBoneWeights(std::vector<Vertex>& vertices, const aiMesh& mesh, ModelContainer& mc) {
  if (mesh.mBones == nullptr) return;
  Overflow overflow;
  for (unsigned b = 0; b < mesh.mNumBones; ++b) {
    const aiBone* bone = mesh.mBones[b];
    if (bone == nullptr) continue;
    // A name met again, in this mesh or an earlier one, keeps the number and
    // offset of its first bone.
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
      AddInfluence(vertices[weight.mVertexId], weight.mVertexId, boneID, weight.mWeight, overflow);
    }
  }
  for (auto& [vertexID, all] : overflow) KeepHeaviestFour(vertices[vertexID], all);
}
