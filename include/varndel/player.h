// Varndel animation player: plays a compiled animation every frame without
// per-frame setup. Construction resolves names to indices, sorts keys and
// copies what it needs; evaluation then writes into buffers the caller owns,
// allocates nothing and throws nothing. Compiles as C++17 and C++20.
//
//   varndel::AnimationPlayer player(model.animation);      // prepares once; keeps no pointer into model
//   std::vector<varndel::Mat4> palette(player.BoneCount());  // one per bone-info entry, file order
//   player.Evaluate(ticks, palette.data());                 // noexcept, no heap allocation
//
// Which object is which:
//   - PreparedAnimation: the immutable part (hierarchy, keys, bindings). Build
//     it once per animation and share it: any number of threads may evaluate
//     one PreparedAnimation at the same time, each with its own cursor.
//   - PlaybackCursor: the small per-instance state, one key position per
//     list of key times, so that forward playback finds its keys in O(1).
//     One per playing instance; never shared between threads evaluating at
//     once.
//   - AnimationPlayer: the convenience pair of both, for one instance. Copies
//     share the prepared part and get their own cursor.
//
// The values are those of sample.h (ComputeGlobalTransforms, then
// ComputeSkinningMatrices), including every choice that header documents:
// the first track of a name wins, a track animates every node of its name, a
// bone-info entry follows the first node of its name (the identity when there
// is none), a slot selects the first bone-info entry of its ID, a parent that
// is not an earlier node makes a root. Keys are sorted by time once, at
// construction, by the rule sample.h states (NaN times dropped unless a kind
// has nothing else, equal times: the first in file order), so unsorted keys
// give the same results as there.
//
// Cost: key lists with equal times (typically every kind of every track)
// share one search per Evaluate; a forward step finds its keys in O(1)
// amortised, a jump in O(log keys). Only construction (and copying)
// allocates, and only it may throw (std::bad_alloc, or std::length_error
// for more than 2^31 nodes or bone-info entries).
#pragma once

#include <varndel/reader.h>
#include <varndel/records.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace varndel {

class PreparedAnimation;

// Per-instance playback state: where the time was found last on each
// timeline (a distinct list of key times, shared by every key list that
// has those times). Built for one PreparedAnimation; any time may follow any
// other, forward play is merely the fast case.
class PlaybackCursor {
 public:
  PlaybackCursor() = default;
  explicit PlaybackCursor(const PreparedAnimation& prepared);

 private:
  friend class PreparedAnimation;
  struct Place {
    uint32_t key = 0;      // the last key not after the time (or the first key)
    bool between = false;  // interpolate from key to key + 1
    double factor = 0.0;   // how far, 0 to 1
  };
  std::vector<Place> places_;  // per timeline
};

// The immutable, shareable part. Copies everything it needs from the
// Animation, which may be destroyed afterwards.
class PreparedAnimation {
 public:
  PreparedAnimation() = default;
  explicit PreparedAnimation(const Animation& animation);

  size_t NodeCount() const noexcept { return nodes_.size(); }          // as Animation::nodes
  size_t BoneCount() const noexcept { return boneNodes_.size(); }      // as Animation::boneInfos
  size_t TimelineCount() const noexcept { return timelines_.size(); }  // distinct key-time lists
  float Duration() const noexcept { return duration_; }                // ticks
  double TicksPerSecond() const noexcept { return ticksPerSecond_; }   // as varndel::TicksPerSecond

  // Poses the animation at ticks: writes every node's global transformation
  // to globals (NodeCount() entries, indexed like Animation::nodes) and, when
  // palette is not null, every bone-info entry's skinning matrix (global of
  // its node times its offset) to palette (BoneCount() entries). Returns false
  // and writes nothing when cursor was not built for an animation with as
  // many timelines, or globals is null while there are nodes.
  bool Evaluate(PlaybackCursor& cursor, float ticks, Mat4* globals, Mat4* palette) const noexcept;

  // Blends the mesh's vertices with their bone slots and the palette of
  // Evaluate: positions by the weighted sum of the slots' matrices, normals
  // by the inverse transpose of that sum, renormalised, so that non-uniform
  // scale keeps them perpendicular to the surface. Writes
  // mesh.vertices.size() entries to positions and, when not null, to
  // normals. Slots are resolved as in sample.h: free slots and numbers
  // without a bone-info entry are skipped, weights are used as stored, and a
  // vertex whose used slots weigh 0 in total keeps its position and normal.
  void SkinVertices(const MeshData& mesh, const Mat4* palette, Vec3* positions, Vec3* normals) const noexcept;

 private:
  struct NodePlan {
    Mat4 own{};             // the stored local transformation
    int32_t parent = -1;    // an earlier node, or -1
    int32_t animated = -1;  // index into animated_, or -1
  };
  // A track's keys of one kind: values in time order, times in a timeline.
  struct Channel {
    size_t first = 0;       // into the values of its kind
    uint32_t timeline = 0;  // into timelines_
  };
  // The parts of a node that its track replaces; without a channel, the
  // node's own part stays.
  struct AnimatedNode {
    Channel position, rotation, scale;
    bool hasPosition = false, hasRotation = false, hasScale = false;
    Vec3 ownTranslation{}, ownScale{};
    Vec4 ownRotation{};
  };
  struct Timeline {
    size_t first = 0;    // into times_
    uint32_t count = 0;  // sorted distinct times, at least 1
  };

  Mat4 SampleLocal(const AnimatedNode& node, const PlaybackCursor& cursor) const noexcept;

  float duration_ = 0.0f;
  double ticksPerSecond_ = 25.0;
  std::vector<NodePlan> nodes_;
  std::vector<AnimatedNode> animated_;
  std::vector<Timeline> timelines_;
  std::vector<float> times_;
  std::vector<Vec3> positions_, scales_;
  std::vector<Vec4> rotations_;
  std::vector<int32_t> boneNodes_;  // per bone-info entry: its node, or -1
  std::vector<Mat4> offsets_;       // per bone-info entry
  // Bone number -> first bone-info entry of that number: a direct table for
  // numbers from 0 below denseIds_.size(), a sorted list otherwise.
  std::vector<int32_t> denseIds_;
  std::vector<std::pair<int32_t, int32_t>> sparseIds_;
};

// One playing instance: a prepared animation (shared) and its own cursor
// and node transformations.
class AnimationPlayer {
 public:
  explicit AnimationPlayer(const Animation& animation);
  // Plays an animation prepared elsewhere, sharing it with other players.
  explicit AnimationPlayer(std::shared_ptr<const PreparedAnimation> prepared);

  size_t NodeCount() const noexcept { return prepared_->NodeCount(); }
  size_t BoneCount() const noexcept { return prepared_->BoneCount(); }
  const PreparedAnimation& Prepared() const noexcept { return *prepared_; }
  const std::shared_ptr<const PreparedAnimation>& SharedPrepared() const noexcept { return prepared_; }

  // Writes BoneCount() skinning matrices to palette (null: none) and keeps
  // every node's global transformation for Globals().
  void Evaluate(float ticks, Mat4* palette) noexcept;
  // The node transformations of the last Evaluate, indexed like
  // Animation::nodes (for attachments and debug drawing); identities before
  // the first Evaluate.
  const std::vector<Mat4>& Globals() const noexcept { return globals_; }

  // As PreparedAnimation::SkinVertices.
  void SkinVertices(const MeshData& mesh, const Mat4* palette, Vec3* positions, Vec3* normals) const noexcept {
    prepared_->SkinVertices(mesh, palette, positions, normals);
  }

 private:
  std::shared_ptr<const PreparedAnimation> prepared_;
  PlaybackCursor cursor_;
  std::vector<Mat4> globals_;
};

}  // namespace varndel
