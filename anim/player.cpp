#include <varndel/player.h>
#include <varndel/sample.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "anim/pose_math.h"

namespace varndel {
namespace {

constexpr int kForwardSteps = 4;  // keys stepped over one by one before a binary search

// Places ticks among sorted keys of distinct times by the sample.h rule:
// before the first key (or at a NaN time) the first is held, at or after the
// last the last, at a key's time that key, else the two around it are
// interpolated. place.key is where the search starts: the last place found.
template <typename Place>
void FindPlace(const float* times, uint32_t count, float ticks, Place& place) noexcept {
  place.between = false;
  if (count == 1) return;
  uint32_t i = place.key < count ? place.key : 0;
  if (times[i] <= ticks) {
    for (int step = 0; i + 1 < count && !(ticks < times[i + 1]); ++step) {
      if (step == kForwardSteps) {
        i = uint32_t(std::upper_bound(times + i + 1, times + count, ticks) - times) - 1;
        break;
      }
      ++i;
    }
  } else if (ticks >= times[0]) {
    i = uint32_t(std::upper_bound(times, times + i, ticks) - times) - 1;
  } else {  // before the first key, or NaN
    place.key = 0;
    return;
  }
  place.key = i;
  if (i + 1 == count || ticks == times[i]) return;
  place.between = true;
  place.factor = (double(ticks) - double(times[i])) / (double(times[i + 1]) - double(times[i]));
}

// Sorts keys by time, NaN times left out (all but the first key when every
// time is NaN), equal times reduced to the first in file order. Appends the
// values; returns the times.
template <typename Key, typename Value>
std::vector<float> SortKeys(const std::vector<Key>& keys, Value Key::*value, std::vector<Value>& values) {
  if (keys.size() > std::numeric_limits<uint32_t>::max()) throw std::length_error("too many keys in one track");
  std::vector<uint32_t> order;
  order.reserve(keys.size());
  for (uint32_t k = 0; k < uint32_t(keys.size()); ++k)
    if (!std::isnan(keys[k].timeStamp)) order.push_back(k);
  if (order.empty()) order.push_back(0);
  std::stable_sort(order.begin(), order.end(),
                   [&keys](uint32_t a, uint32_t b) { return keys[a].timeStamp < keys[b].timeStamp; });
  std::vector<float> times;
  for (uint32_t k : order) {
    if (!times.empty() && times.back() == keys[k].timeStamp) continue;
    times.push_back(keys[k].timeStamp);
    values.push_back(keys[k].*value);
  }
  return times;
}

}  // namespace

PlaybackCursor::PlaybackCursor(const PreparedAnimation& prepared) : places_(prepared.TimelineCount()) {}

PreparedAnimation::PreparedAnimation(const Animation& animation)
    : duration_(animation.duration), ticksPerSecond_(varndel::TicksPerSecond(animation)) {
  constexpr size_t kMaxIndex = size_t(std::numeric_limits<int32_t>::max());
  if (animation.nodes.size() > kMaxIndex) throw std::length_error("too many nodes");

  std::unordered_map<std::string_view, size_t> trackOf;  // the first track of each name
  for (size_t t = 0; t < animation.tracks.size(); ++t) trackOf.emplace(animation.tracks[t].name, t);

  // Equal lists of times become one timeline, searched once per Evaluate.
  std::unordered_multimap<size_t, uint32_t> timelineOf;  // by a hash of the times' bytes
  const auto addTimeline = [&](const std::vector<float>& times) {
    const size_t bytes = times.size() * sizeof(float);
    const size_t hash =
        std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(times.data()), bytes));
    const auto [from, to] = timelineOf.equal_range(hash);
    for (auto it = from; it != to; ++it) {
      const Timeline& timeline = timelines_[it->second];
      if (timeline.count == times.size() && std::memcmp(times_.data() + timeline.first, times.data(), bytes) == 0)
        return it->second;
    }
    if (timelines_.size() >= std::numeric_limits<uint32_t>::max()) throw std::length_error("too many key lists");
    timelines_.push_back({times_.size(), uint32_t(times.size())});
    times_.insert(times_.end(), times.begin(), times.end());
    timelineOf.emplace(hash, uint32_t(timelines_.size() - 1));
    return uint32_t(timelines_.size() - 1);
  };
  // A track's channels, made when the first node of its name needs them.
  std::vector<std::optional<AnimatedNode>> channelsOf(animation.tracks.size());

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

    std::optional<AnimatedNode>& channels = channelsOf[found->second];
    if (!channels) {
      channels.emplace();
      if ((channels->hasPosition = !track.positions.empty())) {
        channels->position.first = positions_.size();
        channels->position.timeline = addTimeline(SortKeys(track.positions, &PositionKey::position, positions_));
      }
      if ((channels->hasRotation = !track.rotations.empty())) {
        channels->rotation.first = rotations_.size();
        channels->rotation.timeline = addTimeline(SortKeys(track.rotations, &RotationKey::orientation, rotations_));
      }
      if ((channels->hasScale = !track.scales.empty())) {
        channels->scale.first = scales_.size();
        channels->scale.timeline = addTimeline(SortKeys(track.scales, &ScaleKey::scale, scales_));
      }
    }
    AnimatedNode animated = *channels;
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

Mat4 PreparedAnimation::SampleLocal(const AnimatedNode& node, const PlaybackCursor& cursor) const noexcept {
  // A kind's value at its timeline's place.
  const auto sample = [&cursor](const Channel& channel, const auto* values, const auto& blend) {
    const PlaybackCursor::Place& place = cursor.places_[channel.timeline];
    const auto* keys = values + channel.first + place.key;
    return place.between ? blend(keys[0], keys[1], place.factor) : keys[0];
  };
  const auto lerp = [](const Vec3& a, const Vec3& b, double t) { return pose::LerpVec3(a, b, t); };
  const auto slerp = [](const Vec4& a, const Vec4& b, double t) { return pose::Slerp(a, b, t); };
  const Vec3 translation = node.hasPosition ? sample(node.position, positions_.data(), lerp) : node.ownTranslation;
  const Vec4 rotation = node.hasRotation ? sample(node.rotation, rotations_.data(), slerp) : node.ownRotation;
  const Vec3 scale = node.hasScale ? sample(node.scale, scales_.data(), lerp) : node.ownScale;
  return ComposeTransform(translation, rotation, scale);
}

bool PreparedAnimation::Evaluate(PlaybackCursor& cursor, float ticks, Mat4* globals, Mat4* palette) const noexcept {
  if (cursor.places_.size() != timelines_.size() || (globals == nullptr && !nodes_.empty())) return false;
  for (size_t t = 0; t < timelines_.size(); ++t)
    FindPlace(times_.data() + timelines_[t].first, timelines_[t].count, ticks, cursor.places_[t]);
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const NodePlan& node = nodes_[i];
    if (node.animated < 0) {
      globals[i] = node.parent < 0 ? node.own : MultiplyMat4(globals[node.parent], node.own);
    } else {
      const Mat4 local = SampleLocal(animated_[size_t(node.animated)], cursor);
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
