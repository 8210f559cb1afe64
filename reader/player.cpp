#include <varndel/player.h>
#include <varndel/sample.h>

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "reader/pose_math.h"

namespace varndel {
namespace {

constexpr int kForwardSteps = 4;  // keys stepped over one by one before a binary search

// Where ticks falls among a channel's sorted keys: the key to hold, or the
// lower of the two to interpolate with factor t.
struct KeySpan {
  uint32_t index = 0;
  bool between = false;
  double t = 0.0;
};

// The sample.h rule on sorted keys of distinct times: before the first key
// (or at a NaN time) the first is held, at or after the last the last, at a
// key's time that key. hint is the cursor: the key found last time.
KeySpan FindKeys(const float* times, uint32_t count, float ticks, uint32_t& hint) noexcept {
  if (count == 1) return {};
  uint32_t i = hint < count ? hint : 0;
  if (times[i] <= ticks) {
    for (int step = 0; i + 1 < count && !(ticks < times[i + 1]); ++step) {
      if (step == kForwardSteps) {
        i = uint32_t(std::upper_bound(times + i + 1, times + count, ticks) - times) - 1;
        break;
      }
      ++i;
    }
  } else {
    if (!(ticks >= times[0])) return {};  // before the first key, or NaN
    i = uint32_t(std::upper_bound(times, times + i, ticks) - times) - 1;
  }
  hint = i;
  if (i + 1 == count || ticks == times[i]) return {i, false, 0.0};
  return {i, true, (double(ticks) - double(times[i])) / (double(times[i + 1]) - double(times[i]))};
}

// Appends keys sorted by time, NaN times left out (all but the first key
// when every time is NaN), equal times reduced to the first in file order.
template <typename Key, typename Value>
uint32_t AppendSortedKeys(const std::vector<Key>& keys, Value Key::*value, std::vector<float>& times,
                          std::vector<Value>& values) {
  if (keys.size() > std::numeric_limits<uint32_t>::max()) throw std::length_error("too many keys in one track");
  std::vector<uint32_t> order;
  order.reserve(keys.size());
  for (uint32_t k = 0; k < uint32_t(keys.size()); ++k)
    if (!std::isnan(keys[k].timeStamp)) order.push_back(k);
  if (order.empty()) order.push_back(0);
  std::stable_sort(order.begin(), order.end(),
                   [&keys](uint32_t a, uint32_t b) { return keys[a].timeStamp < keys[b].timeStamp; });
  uint32_t count = 0;
  for (uint32_t k : order) {
    if (count > 0 && times.back() == keys[k].timeStamp) continue;
    times.push_back(keys[k].timeStamp);
    values.push_back(keys[k].*value);
    ++count;
  }
  return count;
}

}  // namespace

PlaybackCursor::PlaybackCursor(const PreparedAnimation& prepared) : keys_(prepared.ChannelCount(), 0) {}

PreparedAnimation::PreparedAnimation(const Animation& animation)
    : duration_(animation.duration), ticksPerSecond_(varndel::TicksPerSecond(animation)) {
  constexpr size_t kMaxIndex = size_t(std::numeric_limits<int32_t>::max());
  if (animation.nodes.size() > kMaxIndex || animation.tracks.size() > kMaxIndex / 3)
    throw std::length_error("too many nodes or tracks");

  std::unordered_map<std::string_view, size_t> trackOf;  // the first track of each name
  for (size_t t = 0; t < animation.tracks.size(); ++t) trackOf.emplace(animation.tracks[t].name, t);

  // Channels of a track, made when the first node of its name needs them.
  struct TrackChannels {
    bool made = false;
    int32_t position = -1, rotation = -1, scale = -1;
  };
  std::vector<TrackChannels> channelsOf(animation.tracks.size());
  const auto addChannel = [this](size_t first, uint32_t count) {
    channels_.push_back({first, count});
    return int32_t(channels_.size() - 1);
  };

  nodes_.resize(animation.nodes.size());
  for (size_t i = 0; i < animation.nodes.size(); ++i) {
    const Node& node = animation.nodes[i];
    NodePlan& plan = nodes_[i];
    plan.own = node.transformation;
    plan.parent = node.parent >= 0 && size_t(node.parent) < i ? node.parent : -1;
    const auto found = trackOf.find(node.name);
    if (found == trackOf.end()) continue;
    const Track& track = animation.tracks[found->second];
    if (track.positions.empty() && track.rotations.empty() && track.scales.empty()) continue;

    TrackChannels& channels = channelsOf[found->second];
    if (!channels.made) {
      channels.made = true;
      if (!track.positions.empty()) {
        const size_t first = positionTimes_.size();
        channels.position =
            addChannel(first, AppendSortedKeys(track.positions, &PositionKey::position, positionTimes_, positions_));
      }
      if (!track.rotations.empty()) {
        const size_t first = rotationTimes_.size();
        channels.rotation = addChannel(
            first, AppendSortedKeys(track.rotations, &RotationKey::orientation, rotationTimes_, rotations_));
      }
      if (!track.scales.empty()) {
        const size_t first = scaleTimes_.size();
        channels.scale = addChannel(first, AppendSortedKeys(track.scales, &ScaleKey::scale, scaleTimes_, scales_));
      }
    }
    AnimatedNode animated;
    animated.position = channels.position;
    animated.rotation = channels.rotation;
    animated.scale = channels.scale;
    pose::DecomposeTransform(node.transformation, animated.ownTranslation, animated.ownRotation, animated.ownScale);
    plan.animated = int32_t(animated_.size());
    animated_.push_back(animated);
  }

  std::unordered_map<std::string_view, int32_t> nodeOf;  // the first node of each name
  for (size_t i = 0; i < animation.nodes.size(); ++i) nodeOf.emplace(animation.nodes[i].name, int32_t(i));
  boneNodes_.reserve(animation.boneInfos.size());
  offsets_.reserve(animation.boneInfos.size());
  for (const BoneInfoEntry& entry : animation.boneInfos) {
    const auto found = nodeOf.find(entry.name);
    boneNodes_.push_back(found == nodeOf.end() ? -1 : found->second);
    offsets_.push_back(entry.offset);
  }
  pose::BoneNumberTable table = pose::MakeBoneNumberTable(animation.boneInfos, animation.boneInfos.size());
  denseIds_ = std::move(table.dense);
  sparseIds_ = std::move(table.sparse);
}

Mat4 PreparedAnimation::SampleLocal(const AnimatedNode& node, uint32_t* cursor, float ticks) const noexcept {
  Vec3 translation = node.ownTranslation, scale = node.ownScale;
  Vec4 rotation = node.ownRotation;
  if (node.position >= 0) {
    const Channel& c = channels_[size_t(node.position)];
    const KeySpan s = FindKeys(positionTimes_.data() + c.first, c.count, ticks, cursor[node.position]);
    const Vec3* keys = positions_.data() + c.first;
    translation = s.between ? pose::LerpVec3(keys[s.index], keys[s.index + 1], s.t) : keys[s.index];
  }
  if (node.rotation >= 0) {
    const Channel& c = channels_[size_t(node.rotation)];
    const KeySpan s = FindKeys(rotationTimes_.data() + c.first, c.count, ticks, cursor[node.rotation]);
    const Vec4* keys = rotations_.data() + c.first;
    rotation = s.between ? pose::Slerp(keys[s.index], keys[s.index + 1], s.t) : keys[s.index];
  }
  if (node.scale >= 0) {
    const Channel& c = channels_[size_t(node.scale)];
    const KeySpan s = FindKeys(scaleTimes_.data() + c.first, c.count, ticks, cursor[node.scale]);
    const Vec3* keys = scales_.data() + c.first;
    scale = s.between ? pose::LerpVec3(keys[s.index], keys[s.index + 1], s.t) : keys[s.index];
  }
  return ComposeTransform(translation, rotation, scale);
}

bool PreparedAnimation::Evaluate(PlaybackCursor& cursor, float ticks, Mat4* globals, Mat4* palette) const noexcept {
  if (cursor.keys_.size() != channels_.size() || (globals == nullptr && !nodes_.empty())) return false;
  uint32_t* keys = cursor.keys_.data();
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const NodePlan& node = nodes_[i];
    if (node.animated < 0) {
      globals[i] = node.parent < 0 ? node.own : MultiplyMat4(globals[node.parent], node.own);
    } else {
      const Mat4 local = SampleLocal(animated_[size_t(node.animated)], keys, ticks);
      globals[i] = node.parent < 0 ? local : MultiplyMat4(globals[node.parent], local);
    }
  }
  if (palette != nullptr) {
    for (size_t b = 0; b < boneNodes_.size(); ++b)
      palette[b] = boneNodes_[b] < 0 ? IdentityMat4() : MultiplyMat4(globals[boneNodes_[b]], offsets_[b]);
  }
  return true;
}

void PreparedAnimation::SkinVertices(const MeshData& mesh, const Mat4* palette, Vec3* positions,
                                     Vec3* normals) const noexcept {
  pose::BlendVertices(
      mesh, palette, [this](int32_t id) { return pose::FindBoneEntry(denseIds_, sparseIds_, id); }, positions, normals);
}

AnimationPlayer::AnimationPlayer(const Animation& animation)
    : AnimationPlayer(std::make_shared<const PreparedAnimation>(animation)) {}

AnimationPlayer::AnimationPlayer(std::shared_ptr<const PreparedAnimation> prepared)
    : prepared_(prepared ? std::move(prepared) : std::make_shared<const PreparedAnimation>()),
      cursor_(*prepared_),
      globals_(prepared_->NodeCount(), IdentityMat4()) {}

void AnimationPlayer::Evaluate(float ticks, Mat4* palette) noexcept {
  prepared_->Evaluate(cursor_, ticks, globals_.data(), palette);
}

}  // namespace varndel
