// Key reduction: drops the animation keys whose removal keeps the played
// pose within a tolerance in model units. A greedy pass per key list, with a
// budget derived from how far the node's motion reaches, proposes; the
// player measures original against reduced at every time; where a point is
// out of bounds, the kept span of each list that moves it at that time is
// reduced again with half the budget, and at last gets its original keys
// back. Only the times a correction touched are measured again; a final pass
// over every time is the measure itself.
#include <varndel/optimize.h>
#include <varndel/player.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "anim/pose_math.h"

namespace varndel {
namespace {

constexpr size_t kReachSamples = 64;  // times sampled for how far a node's motion reaches
constexpr size_t kVertexSamples = 8;  // of them, times at which vertices are skinned for it

template <size_t N>
bool SameBytes(const std::array<float, N>& a, const std::array<float, N>& b) {
  return std::memcmp(a.data(), b.data(), sizeof(float) * N) == 0;
}

template <size_t N>
bool AllFinite(const std::array<float, N>& v) {
  return std::all_of(v.begin(), v.end(), [](float c) { return std::isfinite(c); });
}

// Distance for the measure: 0 for identical bytes (so NaN against the same
// NaN), infinity where it is not a number.
double Distance(const Vec3& a, const Vec3& b) {
  if (SameBytes(a, b)) return 0.0;
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  const double d = std::sqrt(sum);
  return std::isnan(d) ? std::numeric_limits<double>::infinity() : d;
}

// A bounding box of finite points.
struct Bounds {
  Vec3 low{}, high{};
  bool any = false;
  void Extend(const Vec3& p) {
    if (!AllFinite(p)) return;
    for (int i = 0; i < 3; ++i) {
      low[i] = any ? std::min(low[i], p[i]) : p[i];
      high[i] = any ? std::max(high[i], p[i]) : p[i];
    }
    any = true;
  }
  double Diagonal() const { return any ? Distance(low, high) : 0.0; }
};

// Every key time of the animation, and the midpoint of each pair of
// consecutive ones, in increasing order.
std::vector<float> MeasureTimes(const Animation& animation) {
  std::vector<float> keyTimes;
  const auto add = [&keyTimes](const auto& keys) {
    for (const auto& key : keys)
      if (std::isfinite(key.timeStamp)) keyTimes.push_back(key.timeStamp);
  };
  for (const Track& track : animation.tracks) {
    add(track.positions);
    add(track.rotations);
    add(track.scales);
  }
  std::sort(keyTimes.begin(), keyTimes.end());
  keyTimes.erase(std::unique(keyTimes.begin(), keyTimes.end()), keyTimes.end());
  std::vector<float> times;
  for (size_t i = 0; i < keyTimes.size(); ++i) {
    if (i > 0) times.push_back(float((double(keyTimes[i - 1]) + keyTimes[i]) / 2.0));
    times.push_back(keyTimes[i]);
  }
  return times;
}

// The node a bone-info entry follows (the first of its name), per entry.
std::vector<int32_t> BoneNodes(const Animation& animation) {
  std::unordered_map<std::string_view, int32_t> nodeOf;
  for (size_t i = 0; i < animation.nodes.size(); ++i) nodeOf.emplace(animation.nodes[i].name, int32_t(i));
  std::vector<int32_t> nodes;
  for (const BoneInfoEntry& entry : animation.boneInfos) {
    const auto found = nodeOf.find(entry.name);
    nodes.push_back(found == nodeOf.end() ? -1 : found->second);
  }
  return nodes;
}

// The largest distance between the points of a node under two global
// transformations: its origin and the points at distance along its axes.
// A point whose defining floats are the same bytes in both counts 0 (so NaN
// against the same NaN); one that is not a number, infinity.
double NodeError(const Mat4& a, const Mat4& b, double distance) {
  const bool sameOrigin = std::memcmp(&a[12], &b[12], 3 * sizeof(float)) == 0;
  double o[3];
  for (int i = 0; i < 3; ++i) o[i] = double(a[12 + i]) - double(b[12 + i]);
  double worst = sameOrigin ? 0.0 : o[0] * o[0] + o[1] * o[1] + o[2] * o[2];
  if (distance > 0.0) {
    for (int c = 0; c < 3; ++c) {
      if (sameOrigin && std::memcmp(&a[4 * c], &b[4 * c], 3 * sizeof(float)) == 0) continue;
      double sum = 0.0;
      for (int i = 0; i < 3; ++i) {
        const double d = o[i] + distance * (double(a[4 * c + i]) - double(b[4 * c + i]));
        sum += d * d;
      }
      if (std::isnan(sum)) return std::numeric_limits<double>::infinity();
      worst = std::max(worst, sum);
    }
  }
  const double error = std::sqrt(worst);
  return std::isnan(error) ? std::numeric_limits<double>::infinity() : error;
}

// Two animations of one skeleton played side by side: at a time, the error
// of every node (NodeError) and of every skinned vertex.
class PosePair {
 public:
  PosePair(const Animation& a, const std::vector<MeshData>& meshesA, const std::vector<MeshData>& meshesB,
           double distance)
      : playerA_(a), meshesA_(meshesA), meshesB_(meshesB), distance_(distance), paletteA_(playerA_.BoneCount()) {}

  // Plays b from now on (a copy is prepared: b may change afterwards).
  void SetSecond(const Animation& b) {
    playerB_.emplace(b);
    paletteB_.resize(playerB_->BoneCount());
  }

  // Calls visit(error, node, mesh, vertex) for every node (mesh and vertex:
  // SIZE_MAX) and every skinned vertex (node: -1) at time.
  template <typename Visit>
  void Compare(float time, const Visit& visit) {
    playerA_.Evaluate(time, paletteA_.data());
    playerB_->Evaluate(time, paletteB_.data());
    const std::vector<Mat4>& globalsA = playerA_.Globals();
    const std::vector<Mat4>& globalsB = playerB_->Globals();
    for (size_t n = 0; n < globalsA.size(); ++n)
      visit(NodeError(globalsA[n], globalsB[n], distance_), int32_t(n), SIZE_MAX, SIZE_MAX);
    if (meshesA_.empty() || playerA_.BoneCount() == 0) return;
    for (size_t m = 0; m < meshesA_.size(); ++m) {
      const size_t count = meshesA_[m].vertices.size();
      skinnedA_.resize(count);
      skinnedB_.resize(count);
      playerA_.SkinVertices(meshesA_[m], paletteA_.data(), skinnedA_.data(), nullptr);
      playerB_->SkinVertices(meshesB_[m], paletteB_.data(), skinnedB_.data(), nullptr);
      for (size_t v = 0; v < count; ++v) visit(Distance(skinnedA_[v], skinnedB_[v]), -1, m, v);
    }
  }

 private:
  AnimationPlayer playerA_;
  std::optional<AnimationPlayer> playerB_;
  const std::vector<MeshData>& meshesA_;
  const std::vector<MeshData>& meshesB_;
  double distance_;
  std::vector<Mat4> paletteA_, paletteB_;
  std::vector<Vec3> skinnedA_, skinnedB_;
};

bool Comparable(const Model& a, const Model& b) {
  if (a.animation.nodes.size() != b.animation.nodes.size() ||
      a.animation.boneInfos.size() != b.animation.boneInfos.size() || a.meshes.size() != b.meshes.size())
    return false;
  for (size_t m = 0; m < a.meshes.size(); ++m)
    if (a.meshes[m].vertices.size() != b.meshes[m].vertices.size()) return false;
  return true;
}

enum class Kind { kPosition, kRotation, kScale };

// One list of keys that the reduction may shorten.
struct Curve {
  size_t track = 0;
  Kind kind = Kind::kPosition;
  std::vector<int32_t> nodes;   // the nodes its track animates
  std::vector<char> keep;       // per original key
  std::vector<uint8_t> level;   // per original key: budget halvings of the span it lies in
  std::vector<uint32_t> kept;   // the indices keep marks, as last applied
  double reach = 0.0;           // model units: how far from the node its motion shows
  double parentScale = 0.0;     // model units per unit of the node's parent space
};

template <typename Key>
bool Reducible(const std::vector<Key>& keys) {
  if (keys.size() < 3 || keys.size() > std::numeric_limits<uint32_t>::max()) return false;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (!std::isfinite(keys[k].timeStamp)) return false;
    if (k > 0 && !(keys[k - 1].timeStamp < keys[k].timeStamp)) return false;
  }
  return true;
}

// The player's factor between keys a and b at time t.
double Factor(float t, float a, float b) { return (double(t) - double(a)) / (double(b) - double(a)); }

double Angle(const Vec4& a, const Vec4& b) {
  double la = 0, lb = 0, dot = 0;
  for (int i = 0; i < 4; ++i) la += double(a[i]) * a[i], lb += double(b[i]) * b[i], dot += double(a[i]) * b[i];
  if (!(la > 0.0) || !(lb > 0.0)) return std::numeric_limits<double>::infinity();
  return 2.0 * std::acos(std::min(1.0, std::abs(dot) / std::sqrt(la * lb)));
}

size_t KeyCount(const Track& track, Kind kind) {
  return kind == Kind::kPosition   ? track.positions.size()
         : kind == Kind::kRotation ? track.rotations.size()
                                   : track.scales.size();
}

float KeyTime(const Track& track, Kind kind, size_t i) {
  return kind == Kind::kPosition   ? track.positions[i].timeStamp
         : kind == Kind::kRotation ? track.rotations[i].timeStamp
                                   : track.scales[i].timeStamp;
}

// Whether key k lies close enough to the interpolation from key a to key b:
// with tolerance 0, the player reproduces its bytes.
bool Fits(const Track& track, Kind kind, size_t a, size_t b, size_t k, double limit, bool exact) {
  if (kind == Kind::kRotation) {
    const auto& keys = track.rotations;
    const Vec4 v = pose::Slerp(keys[a].orientation, keys[b].orientation,
                               Factor(keys[k].timeStamp, keys[a].timeStamp, keys[b].timeStamp));
    return exact ? SameBytes(v, keys[k].orientation) : Angle(v, keys[k].orientation) <= limit;
  }
  const auto value = [&](size_t i) -> const Vec3& {
    return kind == Kind::kPosition ? track.positions[i].position : track.scales[i].scale;
  };
  const Vec3 v = pose::LerpVec3(value(a), value(b), Factor(KeyTime(track, kind, k), KeyTime(track, kind, a),
                                                          KeyTime(track, kind, b)));
  if (exact) return SameBytes(v, value(k));
  if (kind == Kind::kPosition) return Distance(v, value(k)) <= limit;
  for (int i = 0; i < 3; ++i) {  // relative: a point scales with its distance
    if (!(std::abs(double(v[i]) - value(k)[i]) <= limit * std::max(std::abs(double(value(k)[i])), 1e-6))) return false;
  }
  return true;
}

bool SpanFits(const Track& track, Kind kind, size_t a, size_t b, double limit, bool exact) {
  for (size_t k = a + 1; k < b; ++k)
    if (!Fits(track, kind, a, b, k, limit, exact)) return false;
  return true;
}

// Greedy over keys from to to (both kept): from each kept key, one
// interpolation spans as many keys as fit, found by doubling the span and
// then halving the step, so that a list of n keys costs O(n log n) tests
// however smooth it is.
void ReduceSpan(const Track& track, Curve& curve, size_t from, size_t to, double limit, bool exact) {
  std::fill(curve.keep.begin() + std::ptrdiff_t(from), curve.keep.begin() + std::ptrdiff_t(to) + 1, char(0));
  curve.keep[from] = curve.keep[to] = 1;
  size_t a = from;
  while (to - a > 1) {
    size_t good = a + 1, bad = to + 1;  // spans known to fit, and not to
    for (size_t step = 2; a + step <= to; step *= 2) {
      if (!SpanFits(track, curve.kind, a, a + step, limit, exact)) {
        bad = a + step;
        break;
      }
      good = a + step;
    }
    if (bad == to + 1 && good < to) {
      if (SpanFits(track, curve.kind, a, to, limit, exact))
        good = to;
      else
        bad = to;
    }
    while (bad - good > 1) {
      const size_t middle = good + (bad - good) / 2;
      (SpanFits(track, curve.kind, a, middle, limit, exact) ? good : bad) = middle;
    }
    curve.keep[good] = 1;
    a = good;
  }
}

// The last original key at or before t (0 when t is before the first).
size_t KeyAtOrBefore(const Track& track, Kind kind, float t) {
  size_t low = 0, high = KeyCount(track, kind);
  while (high - low > 1) {
    const size_t middle = (low + high) / 2;
    (KeyTime(track, kind, middle) <= t ? low : high) = middle;
  }
  return low;
}

// The kept keys around time t: the last at or before it, and the next one
// (the key count when there is none).
std::pair<size_t, size_t> KeptAround(const Track& track, const Curve& curve, float t) {
  const size_t at = KeyAtOrBefore(track, curve.kind, t);
  const auto after = std::upper_bound(curve.kept.begin(), curve.kept.end(), uint32_t(at));
  const size_t from = *(after - 1);  // the first key is always kept
  return {from, after == curve.kept.end() ? KeyCount(track, curve.kind) : size_t(*after)};
}

// What the player plays at time t from a list (sorted, distinct times): of
// the kept keys, or of all. A Vec3 fills the first three entries.
Vec4 SampleList(const Track& track, const Curve& curve, bool keptOnly, float t) {
  const Kind kind = curve.kind;
  const size_t n = KeyCount(track, kind);
  const auto value = [&](size_t i) -> Vec4 {
    if (kind == Kind::kRotation) return track.rotations[i].orientation;
    const Vec3& v = kind == Kind::kPosition ? track.positions[i].position : track.scales[i].scale;
    return {v[0], v[1], v[2], 0.0f};
  };
  if (!(t >= KeyTime(track, kind, 0))) return value(0);
  size_t low = KeyAtOrBefore(track, kind, t), next = low + 1;
  if (keptOnly) std::tie(low, next) = KeptAround(track, curve, t);
  if (next >= n || t == KeyTime(track, kind, low)) return value(low);
  const double factor = Factor(t, KeyTime(track, kind, low), KeyTime(track, kind, next));
  if (kind == Kind::kRotation) return pose::Slerp(value(low), value(next), factor);
  const Vec4 a = value(low), b = value(next);
  const Vec3 v = pose::LerpVec3({a[0], a[1], a[2]}, {b[0], b[1], b[2]}, factor);
  return {v[0], v[1], v[2], 0.0f};
}

template <typename Key>
void KeepFlagged(const std::vector<Key>& from, const std::vector<char>& keep, std::vector<Key>& to) {
  to.clear();
  for (size_t i = 0; i < from.size(); ++i)
    if (keep[i]) to.push_back(from[i]);
}

void ApplyCurve(const Track& original, Curve& curve, Track& reduced) {
  if (curve.kind == Kind::kPosition) KeepFlagged(original.positions, curve.keep, reduced.positions);
  if (curve.kind == Kind::kRotation) KeepFlagged(original.rotations, curve.keep, reduced.rotations);
  if (curve.kind == Kind::kScale) KeepFlagged(original.scales, curve.keep, reduced.scales);
  curve.kept.clear();
  for (size_t i = 0; i < curve.keep.size(); ++i)
    if (curve.keep[i]) curve.kept.push_back(uint32_t(i));
}

// The played tracks' reducible lists, with the nodes each moves.
std::vector<Curve> FindCurves(const Animation& animation) {
  std::unordered_map<std::string_view, size_t> trackOf;  // the player's rule: the first track of a name
  for (size_t t = 0; t < animation.tracks.size(); ++t) trackOf.emplace(animation.tracks[t].name, t);
  std::vector<std::vector<int32_t>> nodesOf(animation.tracks.size());
  for (size_t i = 0; i < animation.nodes.size(); ++i) {
    const auto found = trackOf.find(animation.nodes[i].name);
    if (found != trackOf.end()) nodesOf[found->second].push_back(int32_t(i));
  }
  std::vector<Curve> curves;
  for (size_t t = 0; t < animation.tracks.size(); ++t) {
    if (nodesOf[t].empty()) continue;
    const Track& track = animation.tracks[t];
    const auto add = [&](Kind kind, bool reducible, bool finite) {
      if (!reducible || !finite) return;
      Curve curve;
      curve.track = t;
      curve.kind = kind;
      curve.nodes = nodesOf[t];
      curves.push_back(std::move(curve));
    };
    add(Kind::kPosition, Reducible(track.positions),
        std::all_of(track.positions.begin(), track.positions.end(),
                    [](const PositionKey& k) { return AllFinite(k.position); }));
    add(Kind::kRotation, Reducible(track.rotations),
        std::all_of(track.rotations.begin(), track.rotations.end(),
                    [](const RotationKey& k) { return AllFinite(k.orientation); }));
    add(Kind::kScale, Reducible(track.scales),
        std::all_of(track.scales.begin(), track.scales.end(), [](const ScaleKey& k) { return AllFinite(k.scale); }));
  }
  return curves;
}

// The node's parent by the player's rule (an earlier node), or -1.
int32_t ParentOf(const Animation& animation, size_t node) {
  const int32_t parent = animation.nodes[node].parent;
  return parent >= 0 && size_t(parent) < node ? parent : -1;
}

// Ancestor walks per sampled time above which MeasureReach bounds each
// subtree by a box instead (a deep chain would cost its depth squared).
constexpr double kExactReachWalks = 4e6;

// How far from each node its motion shows (the largest distance to a point
// of its subtree: an origin, a point at distance along a node's axes, a
// vertex it skins; never below 1 % of the extent: points a little away
// count too), and the largest scale of its parent's global transformation,
// sampled over the animation. Exact while the subtrees are shallow enough;
// else the farthest corner of the subtree's bounding box, which is more.
void MeasureReach(const Model& model, const std::vector<float>& times, double distance, std::vector<double>& reach,
                  std::vector<double>& parentScale) {
  const Animation& animation = model.animation;
  const size_t nodeCount = animation.nodes.size();
  reach.assign(nodeCount, 0.0);
  parentScale.assign(nodeCount, 1e-30);
  AnimationPlayer player(animation);
  std::vector<Mat4> palette(player.BoneCount());
  const std::vector<int32_t> boneNodes = BoneNodes(animation);
  const pose::BoneNumberTable table = pose::MakeBoneNumberTable(animation.boneInfos, animation.boneInfos.size());
  const auto nodeOfSlot = [&](int32_t id) {
    const int32_t entry = pose::FindBoneEntry(table.dense, table.sparse, id);
    return entry >= 0 ? boneNodes[size_t(entry)] : -1;
  };
  // The cost of the exact walks: every point up to the root.
  std::vector<double> depth(nodeCount, 1.0);
  double walks = 0.0;
  for (size_t n = 0; n < nodeCount; ++n) {
    const int32_t parent = ParentOf(animation, n);
    if (parent >= 0) depth[n] = depth[size_t(parent)] + 1.0;
    walks += 4.0 * depth[n];
  }
  for (const MeshData& mesh : model.meshes)
    for (const Vertex& vertex : mesh.vertices)
      for (const int32_t id : vertex.boneIDs)
        if (const int32_t node = nodeOfSlot(id); node >= 0) walks += depth[size_t(node)];
  const bool exact = walks <= kExactReachWalks;

  std::vector<Bounds> boxes(exact ? 0 : nodeCount);
  std::vector<Vec3> skinned;
  Bounds bounds;
  const size_t step = std::max<size_t>(1, times.size() / kReachSamples);
  const size_t vertexStep = std::max<size_t>(1, times.size() / kVertexSamples);
  for (size_t t = 0; t < times.size(); t += step) {
    player.Evaluate(times[t], palette.data());
    const std::vector<Mat4>& globals = player.Globals();
    const auto origin = [&globals](size_t n) { return Vec3{globals[n][12], globals[n][13], globals[n][14]}; };
    // A point of node's subtree.
    const auto add = [&](int32_t node, const Vec3& p) {
      bounds.Extend(p);
      if (!exact) return boxes[size_t(node)].Extend(p);
      for (int32_t a = node; a >= 0; a = ParentOf(animation, size_t(a))) {
        const double d = Distance(p, origin(size_t(a)));
        if (std::isfinite(d)) reach[size_t(a)] = std::max(reach[size_t(a)], d);
      }
    };
    for (Bounds& box : boxes) box = Bounds();
    for (size_t n = 0; n < nodeCount; ++n) {
      const Mat4& m = globals[n];
      add(int32_t(n), origin(n));
      for (int c = 0; c < 3 && distance > 0.0; ++c) {
        Vec3 p{};
        for (int i = 0; i < 3; ++i) p[i] = float(double(m[12 + i]) + distance * m[4 * c + i]);
        add(int32_t(n), p);
      }
      const int32_t parent = ParentOf(animation, n);
      if (parent < 0) {
        parentScale[n] = std::max(parentScale[n], 1.0);
        continue;
      }
      const Mat4& pm = globals[size_t(parent)];
      for (int c = 0; c < 3; ++c) {
        const double s = pose::Length3(pm[4 * c], pm[4 * c + 1], pm[4 * c + 2]);
        if (std::isfinite(s)) parentScale[n] = std::max(parentScale[n], s);
      }
    }
    if (t % vertexStep == 0 && !palette.empty()) {
      for (const MeshData& mesh : model.meshes) {
        skinned.resize(mesh.vertices.size());
        player.SkinVertices(mesh, palette.data(), skinned.data(), nullptr);
        for (size_t v = 0; v < skinned.size(); ++v)
          for (const int32_t id : mesh.vertices[v].boneIDs)
            if (const int32_t node = nodeOfSlot(id); node >= 0) add(node, skinned[v]);
      }
    }
    if (exact) continue;
    // Children come after their parents: one backward sweep gathers subtrees.
    for (size_t n = nodeCount; n-- > 0;) {
      const Bounds& box = boxes[n];
      if (!box.any) continue;
      const Vec3 o = origin(n);
      double far = 0.0;
      for (int i = 0; i < 3; ++i) {
        const double d = std::max(std::abs(double(box.low[i]) - o[i]), std::abs(double(box.high[i]) - o[i]));
        far += d * d;
      }
      if (std::isfinite(far)) reach[n] = std::max(reach[n], std::sqrt(far));
      const int32_t parent = ParentOf(animation, n);
      if (parent >= 0) {
        boxes[size_t(parent)].Extend(box.low);
        boxes[size_t(parent)].Extend(box.high);
      }
    }
  }
  const double extent = bounds.Diagonal();
  for (double& r : reach) r = std::max({r, 0.01 * extent, 1e-30});
}

double ResolvedDistance(const Model& model, double distance) {
  return distance >= 0.0 && std::isfinite(distance) ? distance : DefaultAnimationDistance(model);
}

// Corrections a span gets before its original keys come back.
constexpr int kHalvingRounds = 8;
// Rounds after which every key comes back (a safeguard: each round brings
// the kept spans around a failing time closer to the original).
constexpr int kMaxRounds = kHalvingRounds + 4;
constexpr size_t kProgressEvery = 256;  // poses between two progress reports

}  // namespace

size_t CountKeys(const Animation& animation) {
  size_t keys = 0;
  for (const Track& track : animation.tracks)
    keys += track.positions.size() + track.rotations.size() + track.scales.size();
  return keys;
}

double MeasureAnimationError(const Model& original, const Model& reduced, double distance) {
  if (!Comparable(original, reduced)) return std::numeric_limits<double>::infinity();
  PosePair poses(original.animation, original.meshes, reduced.meshes, ResolvedDistance(original, distance));
  poses.SetSecond(reduced.animation);
  double worst = 0.0;
  for (const float t : MeasureTimes(original.animation))
    poses.Compare(t, [&worst](double error, int32_t, size_t, size_t) { worst = std::max(worst, error); });
  return worst;
}

double ModelDiagonal(const Model& model) {
  Bounds bounds;
  for (const MeshData& mesh : model.meshes)
    for (const Vertex& vertex : mesh.vertices) bounds.Extend(vertex.position);
  if (!bounds.any && model.animated) {
    AnimationPlayer player(model.animation);
    for (const float t : MeasureTimes(model.animation)) {
      player.Evaluate(t, nullptr);
      for (const Mat4& m : player.Globals()) bounds.Extend({m[12], m[13], m[14]});
    }
  }
  return bounds.Diagonal();
}

double DefaultAnimationDistance(const Model& model) {
  const double diagonal = ModelDiagonal(model);
  return diagonal > 0.0 && std::isfinite(diagonal) ? kDefaultAnimationDistanceShare * diagonal : 1.0;
}

KeyReduction ReduceKeys(Model& model, float tolerance, float distanceAsked,
                        const std::function<void(size_t done, size_t total)>& progress) {
  KeyReduction result;
  result.keysBefore = result.keysAfter = CountKeys(model.animation);
  if (!model.animated || !(tolerance >= 0.0f)) return result;
  const Animation& original = model.animation;
  std::vector<Curve> curves = FindCurves(original);
  if (curves.empty()) return result;
  const double distance = ResolvedDistance(model, distanceAsked);
  const std::vector<float> times = MeasureTimes(original);
  const bool exact = tolerance == 0.0f;  // compares bytes, which a smaller budget does not change

  std::vector<double> reach, parentScale;
  MeasureReach(model, times, distance, reach, parentScale);
  std::vector<std::vector<size_t>> curvesOfNode(original.nodes.size());
  // The limit of a curve's interpolation error at a level of halvings, in
  // its own units: half the tolerance at first, the rest being left for the
  // errors of the ancestors.
  const auto limit = [&](const Curve& curve, int level) {
    const double share = std::ldexp(0.5 * tolerance, -level);
    return share / (curve.kind == Kind::kPosition ? curve.parentScale : curve.reach);
  };
  for (size_t c = 0; c < curves.size(); ++c) {
    Curve& curve = curves[c];
    for (const int32_t node : curve.nodes) {
      curvesOfNode[size_t(node)].push_back(c);
      curve.reach = std::max(curve.reach, reach[size_t(node)]);
      curve.parentScale = std::max(curve.parentScale, parentScale[size_t(node)]);
    }
    curve.reach = std::max(curve.reach, 1e-30);
    curve.parentScale = std::max(curve.parentScale, 1e-30);
    const size_t n = KeyCount(original.tracks[curve.track], curve.kind);
    curve.keep.assign(n, 0);
    curve.level.assign(n, 0);
    ReduceSpan(original.tracks[curve.track], curve, 0, n - 1, limit(curve, 0), exact);
  }

  const std::vector<int32_t> boneNodes = BoneNodes(original);
  const pose::BoneNumberTable table = pose::MakeBoneNumberTable(original.boneInfos, original.boneInfos.size());
  Animation reduced = original;
  PosePair poses(original, model.meshes, model.meshes, distance);
  std::vector<char> changed(curves.size(), 1);
  std::vector<char> dirty(times.size(), 1);  // the times to measure (again)
  std::vector<char> blamed(original.nodes.size());
  size_t done = 0, total = 2 * times.size();  // the first pass and the final check, at least
  const auto report = [&](bool always) {
    if (progress && (always || done % kProgressEvery == 0)) progress(done, total);
  };
  const auto restoreAll = [&] {
    for (Curve& curve : curves) std::fill(curve.keep.begin(), curve.keep.end(), char(1));
    std::fill(changed.begin(), changed.end(), char(1));
  };
  bool gaveUp = false;
  for (int round = 0;; ++round) {
    for (size_t c = 0; c < curves.size(); ++c)
      if (changed[c]) ApplyCurve(original.tracks[curves[c].track], curves[c], reduced.tracks[curves[c].track]);
    std::fill(changed.begin(), changed.end(), char(0));
    poses.SetSecond(reduced);
    // The lists that move a failing point at its time, found from the nodes
    // that carry it up to the root; lists that play their original value
    // there are not at fault.
    std::vector<std::pair<size_t, size_t>> faults;  // (curve, time index)
    bool failed = false;
    for (size_t t = 0; t < times.size(); ++t) {
      if (!dirty[t]) continue;
      bool blamedHere = false;
      const auto blame = [&](int32_t node) {
        if (!blamedHere) std::fill(blamed.begin(), blamed.end(), char(0)), blamedHere = true;
        for (int32_t a = node; a >= 0 && !blamed[size_t(a)]; a = ParentOf(original, size_t(a))) {
          blamed[size_t(a)] = 1;
          for (const size_t c : curvesOfNode[size_t(a)]) {
            const Track& track = original.tracks[curves[c].track];
            if (SampleList(track, curves[c], true, times[t]) != SampleList(track, curves[c], false, times[t]))
              faults.emplace_back(c, t);
          }
        }
      };
      poses.Compare(times[t], [&](double error, int32_t node, size_t mesh, size_t vertex) {
        if (error <= tolerance) return;
        failed = true;
        if (node >= 0) return blame(node);
        for (const int32_t id : model.meshes[mesh].vertices[vertex].boneIDs) {
          const int32_t entry = pose::FindBoneEntry(table.dense, table.sparse, id);
          if (entry >= 0 && boneNodes[size_t(entry)] >= 0) blame(boneNodes[size_t(entry)]);
        }
      });
      ++done;
      report(false);
    }
    if (!failed || gaveUp) break;  // the final check decides
    std::fill(dirty.begin(), dirty.end(), char(0));
    if (faults.empty() || round >= kMaxRounds) {
      // Gives up: every key back, which the next round measures as exact.
      gaveUp = true;
      restoreAll();
      std::fill(dirty.begin(), dirty.end(), char(1));
      total += times.size();
      continue;
    }
    // Each faulty span is reduced again with half its budget, or after
    // kHalvingRounds gets its original keys back; the times it covers are
    // measured again.
    std::sort(faults.begin(), faults.end());
    size_t lastCurve = SIZE_MAX, lastTo = 0;
    for (const auto& [c, t] : faults) {
      Curve& curve = curves[c];
      const Track& track = original.tracks[curve.track];
      const auto [from, to] = KeptAround(track, curve, times[t]);
      if (to >= curve.keep.size() || (c == lastCurve && from < lastTo)) continue;  // done for an earlier time
      lastCurve = c;
      lastTo = to;
      const int level = 1 + *std::max_element(curve.level.begin() + std::ptrdiff_t(from),
                                              curve.level.begin() + std::ptrdiff_t(to) + 1);
      if (exact || level > kHalvingRounds) {
        std::fill(curve.keep.begin() + std::ptrdiff_t(from), curve.keep.begin() + std::ptrdiff_t(to) + 1, char(1));
      } else {
        std::fill(curve.level.begin() + std::ptrdiff_t(from), curve.level.begin() + std::ptrdiff_t(to) + 1,
                  uint8_t(level));
        ReduceSpan(track, curve, from, to, limit(curve, level), exact);
      }
      changed[c] = 1;
      const auto first = std::lower_bound(times.begin(), times.end(), KeyTime(track, curve.kind, from));
      const auto last = std::upper_bound(times.begin(), times.end(), KeyTime(track, curve.kind, to));
      std::fill(dirty.begin() + (first - times.begin()), dirty.begin() + (last - times.begin()), char(1));
    }
    total += size_t(std::count(dirty.begin(), dirty.end(), char(1)));
    report(true);
  }
  // The final check: the measure itself, at every time.
  total = done + times.size();
  PosePair check(original, model.meshes, model.meshes, distance);
  check.SetSecond(reduced);
  double worst = 0.0;
  for (const float t : times) {
    check.Compare(t, [&worst](double error, int32_t, size_t, size_t) { worst = std::max(worst, error); });
    ++done;
    report(false);
  }
  report(true);
  if (!(worst <= tolerance)) {  // cannot happen: the rounds measured the same poses
    result.error = 0.0;
    return result;
  }
  result.error = worst;
  model.animation = std::move(reduced);
  result.keysAfter = CountKeys(model.animation);
  return result;
}

}  // namespace varndel
