// Animation import: the first animation's timing, a copy of the node tree and
// one key-frame track per channel.
#include <assimp/anim.h>
#include <assimp/scene.h>

#include <utility>
#include <vector>

#include "import/scene_access.h"
#include "log/log.h"
#include "model/model.h"

void ImportAnimation(const aiScene& scene, ModelContainer& mc) {
  if (scene.mAnimations == nullptr || scene.mNumAnimations == 0 || scene.mAnimations[0] == nullptr) {
    LogInfo("Animated model file supplied does not contain animations!\n");
    return;
  }
  const aiAnimation& animation = *scene.mAnimations[0];
  mc.animDuration = static_cast<float>(animation.mDuration);
  mc.TicksPerSecond = animation.mTicksPerSecond;
  CopyNodeHierarchy(mc.rootNode, *scene.mRootNode);
  BuildBoneTracks(animation, mc);
}

// Explicit stack: scene trees can be deeper than the call stack. Each node's
// children are created in full before any of them is filled, so the pointers
// on the stack stay valid.
void CopyNodeHierarchy(HierarchyNode& destination, const aiNode& source) {
  std::vector<std::pair<HierarchyNode*, const aiNode*>> pending{{&destination, &source}};
  while (!pending.empty()) {
    const auto [node, from] = pending.back();
    pending.pop_back();
    node->name = TextOf(from->mName);
    node->transformation = ToColumnMajor(from->mTransformation);

    std::vector<const aiNode*> sources;
    for (const aiNode* child : ChildrenOf(*from)) {
      if (child != nullptr) sources.push_back(child);
    }
    node->childrenCount = static_cast<uint32_t>(sources.size());
    node->children = std::vector<HierarchyNode>(sources.size());
    for (size_t i = sources.size(); i-- > 0;) pending.emplace_back(&node->children[i], sources[i]);
  }
}

void BuildBoneTracks(const aiAnimation& animation, ModelContainer& mc) {
  if (animation.mChannels == nullptr) return;
  for (unsigned c = 0; c < animation.mNumChannels; ++c) {
    const aiNodeAnim* channel = animation.mChannels[c];
    if (channel == nullptr) continue;
    std::string name = TextOf(channel->mNodeName);
    const auto [entry, inserted] = mc.boneInfoMap.try_emplace(name);
    if (inserted) entry->second.ID = mc.boneCounter++;
    mc.bones.push_back(BuildBone(name, entry->second.ID, *channel));
  }
}

// Keys in channel order, times narrowed to float. The maximum starts at 0 and
// takes strictly greater times only, so it is never negative and never NaN.
template <typename Key, typename Source, typename Convert>
static void CopyKeys(const Source* keys, unsigned count, std::vector<Key>& out, int32_t& outCount, float& maxTime,
                     Convert convert) {
  if (keys != nullptr) {
    out.reserve(count);
    for (unsigned k = 0; k < count; ++k) {
      Key key = convert(keys[k].mValue);
      key.timeStamp = static_cast<float>(keys[k].mTime);
      if (key.timeStamp > maxTime) maxTime = key.timeStamp;
      out.push_back(key);
    }
  }
  outCount = static_cast<int32_t>(out.size());
}

Bone BuildBone(const std::string& name, int32_t id, const aiNodeAnim& channel) {
  Bone bone;
  bone.m_Name = name;
  bone.m_ID = id;
  CopyKeys(channel.mPositionKeys, channel.mNumPositionKeys, bone.m_Positions, bone.m_NumPositions, bone.m_PosKeyMaxTime,
           [](const aiVector3D& v) {
             return PositionKey{{v.x, v.y, v.z}};
           });
  CopyKeys(channel.mRotationKeys, channel.mNumRotationKeys, bone.m_Rotations, bone.m_NumRotations, bone.m_RotKeyMaxTime,
           [](const aiQuaternion& q) {
             return RotationKey{{q.x, q.y, q.z, q.w}};
           });
  CopyKeys(channel.mScalingKeys, channel.mNumScalingKeys, bone.m_Scales, bone.m_NumScalings, bone.m_ScaleKeyMaxTime,
           [](const aiVector3D& v) {
             return ScaleKey{{v.x, v.y, v.z}};
           });
  return bone;
}
