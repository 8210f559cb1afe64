// Key reduction: drops the animation keys whose removal keeps the played
// pose within a tolerance in model units. A greedy pass per key list, with a
// budget derived from how far the node's motion reaches, proposes; the
// player measures original against reduced; where the measure fails, the
// budgets of the lists that move the failing point shrink, and at last the
// original keys around the failing time come back.
#include <varndel/optimize.h>
#include <varndel/player.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "anim/pose_math.h"

namespace varndel {
namespace {

constexpr int kHalvingRounds = 8;     // budget halvings before keys are restored
constexpr int kRestoringRounds = 24;  // then every list of the failing points is restored
constexpr size_t kMaxSpan = 2048;     // keys one interpolation may replace: bounds the greedy pass
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

// Plays both animations at every time and calls
// visit(time index, error, node, mesh, vertex) for every node origin
// (mesh and vertex: SIZE_MAX) and every skinned vertex (node: -1).
template <typename Visit>
void ComparePoses(const Animation& a, const std::vector<MeshData>& meshesA, const Animation& b,
                  const std::vector<MeshData>& meshesB, const std::vector<float>& times, const Visit& visit) {
  AnimationPlayer playerA(a), playerB(b);
  std::vector<Mat4> paletteA(playerA.BoneCount()), paletteB(playerB.BoneCount());
  std::vector<Vec3> skinnedA, skinnedB;
  const bool skin = !meshesA.empty() && playerA.BoneCount() > 0;
  for (size_t t = 0; t < times.size(); ++t) {
    playerA.Evaluate(times[t], paletteA.data());
    playerB.Evaluate(times[t], paletteB.data());
    const std::vector<Mat4>& globalsA = playerA.Globals();
    const std::vector<Mat4>& globalsB = playerB.Globals();
    for (size_t n = 0; n < globalsA.size(); ++n) {
      const Vec3 originA{globalsA[n][12], globalsA[n][13], globalsA[n][14]};
      const Vec3 originB{globalsB[n][12], globalsB[n][13], globalsB[n][14]};
      visit(t, Distance(originA, originB), int32_t(n), SIZE_MAX, SIZE_MAX);
    }
    if (!skin) continue;
    for (size_t m = 0; m < meshesA.size(); ++m) {
      const size_t count = meshesA[m].vertices.size();
      skinnedA.resize(count);
      skinnedB.resize(count);
      playerA.SkinVertices(meshesA[m], paletteA.data(), skinnedA.data(), nullptr);
      playerB.SkinVertices(meshesB[m], paletteB.data(), skinnedB.data(), nullptr);
      for (size_t v = 0; v < count; ++v) visit(t, Distance(skinnedA[v], skinnedB[v]), -1, m, v);
    }
  }
}

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
  std::vector<int32_t> nodes;  // the nodes its track animates
  std::vector<char> keep;      // per original key
  double budget = 1.0;         // share of the tolerance, halved where the measure failed
  double reach = 0.0;          // model units: how far from the node its motion shows
  double parentScale = 0.0;    // model units per unit of the node's parent space
};

template <typename Key>
bool Reducible(const std::vector<Key>& keys) {
  if (keys.size() < 3) return false;
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
  const auto time = [&](size_t i) {
    return kind == Kind::kPosition ? track.positions[i].timeStamp : track.scales[i].timeStamp;
  };
  const Vec3 v = pose::LerpVec3(value(a), value(b), Factor(time(k), time(a), time(b)));
  if (exact) return SameBytes(v, value(k));
  if (kind == Kind::kPosition) return Distance(v, value(k)) <= limit;
  for (int i = 0; i < 3; ++i) {  // relative: a point scales with its distance
    if (!(std::abs(double(v[i]) - value(k)[i]) <= limit * std::max(std::abs(double(value(k)[i])), 1e-6))) return false;
  }
  return true;
}

size_t KeyCount(const Track& track, Kind kind) {
  return kind == Kind::kPosition   ? track.positions.size()
         : kind == Kind::kRotation ? track.rotations.size()
                                   : track.scales.size();
}

// Greedy: from each kept key, one interpolation spans as many keys as fit.
void ReduceCurve(const Track& track, Curve& curve, double tolerance) {
  const size_t n = KeyCount(track, curve.kind);
  const bool exact = tolerance == 0.0;
  double limit = tolerance * curve.budget;
  if (curve.kind == Kind::kPosition)
    limit /= curve.parentScale;
  else
    limit /= curve.reach;
  curve.keep.assign(n, 0);
  curve.keep[0] = curve.keep[n - 1] = 1;
  size_t a = 0;
  for (size_t b = 2; b < n; ++b) {
    bool fits = b - a <= kMaxSpan;
    for (size_t k = a + 1; fits && k < b; ++k) fits = Fits(track, curve.kind, a, b, k, limit, exact);
    if (!fits) {
      a = b - 1;
      curve.keep[a] = 1;
    }
  }
}

float KeyTime(const Track& track, Kind kind, size_t i) {
  return kind == Kind::kPosition   ? track.positions[i].timeStamp
         : kind == Kind::kRotation ? track.rotations[i].timeStamp
                                   : track.scales[i].timeStamp;
}

// What the player plays at time t from a list (sorted, distinct times): of
// the keys that keep marks, or of all when keep is null. A Vec3 fills the
// first three entries.
Vec4 SampleList(const Track& track, Kind kind, const std::vector<char>* keep, float t) {
  const size_t n = KeyCount(track, kind);
  const auto value = [&](size_t i) -> Vec4 {
    if (kind == Kind::kRotation) return track.rotations[i].orientation;
    const Vec3& v = kind == Kind::kPosition ? track.positions[i].position : track.scales[i].scale;
    return {v[0], v[1], v[2], 0.0f};
  };
  if (!(t >= KeyTime(track, kind, 0))) return value(0);
  size_t low = 0, high = n;  // the last key not after t
  while (high - low > 1) {
    const size_t middle = (low + high) / 2;
    (KeyTime(track, kind, middle) <= t ? low : high) = middle;
  }
  if (keep != nullptr)
    while (!(*keep)[low]) --low;
  size_t next = low + 1;
  if (keep != nullptr)
    while (next < n && !(*keep)[next]) ++next;
  if (next >= n || t == KeyTime(track, kind, low)) return value(low);
  const double factor = Factor(t, KeyTime(track, kind, low), KeyTime(track, kind, next));
  if (kind == Kind::kRotation) return pose::Slerp(value(low), value(next), factor);
  const Vec4 a = value(low), b = value(next);
  const Vec3 v = pose::LerpVec3({a[0], a[1], a[2]}, {b[0], b[1], b[2]}, factor);
  return {v[0], v[1], v[2], 0.0f};
}

// Brings back the original keys between the kept ones around time t.
void RestoreAround(const Track& track, Curve& curve, float t) {
  const size_t n = curve.keep.size();
  size_t at = 0;  // the last key not after t
  while (at + 1 < n && KeyTime(track, curve.kind, at + 1) <= t) ++at;
  size_t from = at, to = at + 1;
  while (!curve.keep[from]) --from;
  while (to < n && !curve.keep[to]) ++to;
  for (size_t i = from; i < to && i < n; ++i) curve.keep[i] = 1;
}

template <typename Key>
void KeepFlagged(const std::vector<Key>& from, const std::vector<char>& keep, std::vector<Key>& to) {
  to.clear();
  for (size_t i = 0; i < from.size(); ++i)
    if (keep[i]) to.push_back(from[i]);
}

void ApplyCurve(const Track& original, const Curve& curve, Track& reduced) {
  if (curve.kind == Kind::kPosition) KeepFlagged(original.positions, curve.keep, reduced.positions);
  if (curve.kind == Kind::kRotation) KeepFlagged(original.rotations, curve.keep, reduced.rotations);
  if (curve.kind == Kind::kScale) KeepFlagged(original.scales, curve.keep, reduced.scales);
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

// How far from each node its motion shows (the largest distance to a
// descendant's origin or to a vertex its subtree skins, never below 1 % of
// the extent: points a little away count too), and the largest scale of its
// parent's global transformation, sampled over the animation.
void MeasureReach(const Model& model, const std::vector<float>& times, std::vector<double>& reach,
                  std::vector<double>& parentScale) {
  const Animation& animation = model.animation;
  const size_t nodeCount = animation.nodes.size();
  reach.assign(nodeCount, 0.0);
  parentScale.assign(nodeCount, 1e-30);
  AnimationPlayer player(animation);
  std::vector<Mat4> palette(player.BoneCount());
  const std::vector<int32_t> boneNodes = BoneNodes(animation);
  const pose::BoneNumberTable table = pose::MakeBoneNumberTable(animation.boneInfos, animation.boneInfos.size());
  std::vector<Vec3> skinned;
  Bounds bounds;
  const auto reachFrom = [&](int32_t node, const Vec3& p, const std::vector<Mat4>& globals) {
    for (int32_t a = node; a >= 0; a = ParentOf(animation, size_t(a))) {
      const double d = Distance(p, {globals[a][12], globals[a][13], globals[a][14]});
      if (std::isfinite(d)) reach[a] = std::max(reach[a], d);
    }
  };
  const size_t step = std::max<size_t>(1, times.size() / kReachSamples);
  const size_t vertexStep = std::max<size_t>(1, times.size() / kVertexSamples);
  for (size_t t = 0; t < times.size(); t += step) {
    player.Evaluate(times[t], palette.data());
    const std::vector<Mat4>& globals = player.Globals();
    for (size_t n = 0; n < nodeCount; ++n) {
      const Vec3 origin{globals[n][12], globals[n][13], globals[n][14]};
      bounds.Extend(origin);
      reachFrom(int32_t(n), origin, globals);
      const int32_t parent = ParentOf(animation, n);
      if (parent < 0) {
        parentScale[n] = std::max(parentScale[n], 1.0);
        continue;
      }
      const Mat4& m = globals[parent];
      for (int c = 0; c < 3; ++c) {
        const double s = pose::Length3(m[4 * c], m[4 * c + 1], m[4 * c + 2]);
        if (std::isfinite(s)) parentScale[n] = std::max(parentScale[n], s);
      }
    }
    if (t % vertexStep != 0 || palette.empty()) continue;
    for (const MeshData& mesh : model.meshes) {
      skinned.resize(mesh.vertices.size());
      player.SkinVertices(mesh, palette.data(), skinned.data(), nullptr);
      for (size_t v = 0; v < skinned.size(); ++v) {
        bounds.Extend(skinned[v]);
        for (const int32_t id : mesh.vertices[v].boneIDs) {
          const int32_t entry = pose::FindBoneEntry(table.dense, table.sparse, id);
          if (entry >= 0 && boneNodes[size_t(entry)] >= 0) reachFrom(boneNodes[size_t(entry)], skinned[v], globals);
        }
      }
    }
  }
  const double extent = bounds.Diagonal();
  for (double& r : reach) r = std::max({r, 0.01 * extent, 1e-30});
}

}  // namespace

size_t CountKeys(const Animation& animation) {
  size_t keys = 0;
  for (const Track& track : animation.tracks)
    keys += track.positions.size() + track.rotations.size() + track.scales.size();
  return keys;
}

double MeasureAnimationError(const Model& original, const Model& reduced) {
  if (!Comparable(original, reduced)) return std::numeric_limits<double>::infinity();
  double worst = 0.0;
  ComparePoses(original.animation, original.meshes, reduced.animation, reduced.meshes, MeasureTimes(original.animation),
               [&worst](size_t, double error, int32_t, size_t, size_t) { worst = std::max(worst, error); });
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

KeyReduction ReduceKeys(Model& model, float tolerance) {
  KeyReduction result;
  result.keysBefore = result.keysAfter = CountKeys(model.animation);
  if (!model.animated || !(tolerance >= 0.0f)) return result;
  const Animation& original = model.animation;
  std::vector<Curve> curves = FindCurves(original);
  if (curves.empty()) return result;
  const std::vector<float> times = MeasureTimes(original);

  std::vector<double> reach, parentScale;
  MeasureReach(model, times, reach, parentScale);
  std::vector<std::vector<size_t>> curvesOfNode(original.nodes.size());
  for (size_t c = 0; c < curves.size(); ++c) {
    for (const int32_t node : curves[c].nodes) {
      curvesOfNode[size_t(node)].push_back(c);
      curves[c].reach = std::max(curves[c].reach, reach[size_t(node)]);
      curves[c].parentScale = std::max(curves[c].parentScale, parentScale[size_t(node)]);
    }
    curves[c].reach = std::max(curves[c].reach, 1e-30);
    curves[c].parentScale = std::max(curves[c].parentScale, 1e-30);
    curves[c].budget = 0.5;  // the rest is left for the errors of the ancestors
    ReduceCurve(original.tracks[curves[c].track], curves[c], tolerance);
  }

  const std::vector<int32_t> boneNodes = BoneNodes(original);
  const pose::BoneNumberTable table = pose::MakeBoneNumberTable(original.boneInfos, original.boneInfos.size());
  // Tolerance 0 compares bytes, which a smaller budget does not change.
  const int halvingRounds = tolerance == 0.0f ? 0 : kHalvingRounds;
  Animation reduced = original;
  std::vector<char> blamed(original.nodes.size());
  for (int round = 0;; ++round) {
    for (const Curve& curve : curves) ApplyCurve(original.tracks[curve.track], curve, reduced.tracks[curve.track]);
    // The lists that move a failing point at its time, found from the nodes
    // that carry it up to the root; lists that play their original value
    // there are not at fault.
    std::vector<char> failing(curves.size());
    std::vector<std::pair<size_t, size_t>> restore;  // (curve, time index)
    bool failed = false;
    double worst = 0.0;
    size_t blamedTime = SIZE_MAX;
    const auto blame = [&](size_t t, int32_t node) {
      if (t != blamedTime) std::fill(blamed.begin(), blamed.end(), char(0)), blamedTime = t;
      for (int32_t a = node; a >= 0 && !blamed[size_t(a)]; a = ParentOf(original, size_t(a))) {
        blamed[size_t(a)] = 1;
        for (const size_t c : curvesOfNode[size_t(a)]) {
          const Track& track = original.tracks[curves[c].track];
          if (SampleList(track, curves[c].kind, &curves[c].keep, times[t]) ==
              SampleList(track, curves[c].kind, nullptr, times[t]))
            continue;
          failing[c] = 1;
          if (round >= halvingRounds) restore.emplace_back(c, t);
        }
      }
    };
    ComparePoses(original, model.meshes, reduced, model.meshes, times,
                 [&](size_t t, double error, int32_t node, size_t mesh, size_t vertex) {
                   worst = std::max(worst, error);
                   if (error <= tolerance) return;
                   failed = true;
                   if (node >= 0) return blame(t, node);
                   for (const int32_t id : model.meshes[mesh].vertices[vertex].boneIDs) {
                     const int32_t entry = pose::FindBoneEntry(table.dense, table.sparse, id);
                     if (entry >= 0 && boneNodes[size_t(entry)] >= 0) blame(t, boneNodes[size_t(entry)]);
                   }
                 });
    if (!failed) {
      result.error = worst;
      break;
    }
    const bool blamedNone = std::find(failing.begin(), failing.end(), char(1)) == failing.end();
    if (round >= halvingRounds + kRestoringRounds || blamedNone) {
      // Gives up: every key back, which the next round measures as exact.
      for (Curve& curve : curves) std::fill(curve.keep.begin(), curve.keep.end(), char(1));
      continue;
    }
    if (round < halvingRounds) {
      for (size_t c = 0; c < curves.size(); ++c) {
        if (!failing[c]) continue;
        curves[c].budget *= 0.5;
        ReduceCurve(original.tracks[curves[c].track], curves[c], tolerance);
      }
      continue;
    }
    for (const auto& [c, t] : restore) RestoreAround(original.tracks[curves[c].track], curves[c], times[t]);
  }
  model.animation = std::move(reduced);
  result.keysAfter = CountKeys(model.animation);
  return result;
}

}  // namespace varndel
