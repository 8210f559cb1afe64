#include <varndel/sample.h>

#include <cmath>
#include <string>
#include <unordered_map>

#include "anim/pose_math.h"

namespace varndel {
namespace {

constexpr double kDefaultTicksPerSecond = 25.0;

// The keys around ticks: lower is the latest key not after it, upper the
// earliest key after it, first is the earliest key of all; -1 where none.
struct Neighbours {
  long lower = -1;
  long upper = -1;
  long first = -1;
};

template <typename Key>
Neighbours FindNeighbours(const std::vector<Key>& keys, float ticks) {
  Neighbours n;
  for (size_t i = 0; i < keys.size(); ++i) {
    const float time = keys[i].timeStamp;
    if (std::isnan(time)) continue;
    const long k = long(i);
    if (n.first < 0 || time < keys[size_t(n.first)].timeStamp) n.first = k;
    if (time <= ticks) {
      if (n.lower < 0 || time > keys[size_t(n.lower)].timeStamp) n.lower = k;
    } else if (n.upper < 0 || time < keys[size_t(n.upper)].timeStamp) {
      n.upper = k;
    }
  }
  return n;
}

// Index of the key to hold, or -1 to interpolate between lower and upper
// with the factor written to t.
template <typename Key>
long HeldKeyOrFactor(const std::vector<Key>& keys, float ticks, const Neighbours& n, double& t) {
  if (n.first < 0) return 0;  // every time is NaN: hold the first key
  if (n.lower < 0) return n.first;
  const float lowerTime = keys[size_t(n.lower)].timeStamp;
  if (n.upper < 0 || ticks == lowerTime) return n.lower;
  const double span = double(keys[size_t(n.upper)].timeStamp) - double(lowerTime);
  t = (double(ticks) - double(lowerTime)) / span;
  return -1;
}

template <typename Key>
Vec3 SampleVec3(const std::vector<Key>& keys, float ticks, Vec3 Key::*value) {
  const Neighbours n = FindNeighbours(keys, ticks);
  double t = 0.0;
  const long held = HeldKeyOrFactor(keys, ticks, n, t);
  if (held >= 0) return keys[size_t(held)].*value;
  return pose::LerpVec3(keys[size_t(n.lower)].*value, keys[size_t(n.upper)].*value, t);
}

Vec4 SampleRotation(const std::vector<RotationKey>& keys, float ticks) {
  const Neighbours n = FindNeighbours(keys, ticks);
  double t = 0.0;
  const long held = HeldKeyOrFactor(keys, ticks, n, t);
  if (held >= 0) return keys[size_t(held)].orientation;
  return pose::Slerp(keys[size_t(n.lower)].orientation, keys[size_t(n.upper)].orientation, t);
}

// The node's local transformation with the track's sampled parts in place.
Mat4 AnimatedLocal(const Mat4& own, const Track& track, float ticks) {
  const TrackSample sample = SampleTrack(track, ticks);
  if (!sample.hasPosition && !sample.hasRotation && !sample.hasScale) return own;
  Vec3 translation{}, scale{};
  Vec4 rotation{};
  if (!sample.hasPosition || !sample.hasRotation || !sample.hasScale)
    pose::DecomposeTransform(own, translation, rotation, scale);
  if (sample.hasPosition) translation = sample.position;
  if (sample.hasRotation) rotation = sample.rotation;
  if (sample.hasScale) scale = sample.scale;
  return ComposeTransform(translation, rotation, scale);
}

}  // namespace

Mat4 IdentityMat4() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Mat4 MultiplyMat4(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int c = 0; c < 4; ++c) {
    for (int row = 0; row < 4; ++row) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a[4 * k + row] * b[4 * c + k];
      r[4 * c + row] = sum;
    }
  }
  return r;
}

Vec3 TransformPoint(const Mat4& m, const Vec3& p) {
  return {m[0] * p[0] + m[4] * p[1] + m[8] * p[2] + m[12], m[1] * p[0] + m[5] * p[1] + m[9] * p[2] + m[13],
          m[2] * p[0] + m[6] * p[1] + m[10] * p[2] + m[14]};
}

Vec3 TransformDirection(const Mat4& m, const Vec3& d) {
  return {m[0] * d[0] + m[4] * d[1] + m[8] * d[2], m[1] * d[0] + m[5] * d[1] + m[9] * d[2],
          m[2] * d[0] + m[6] * d[1] + m[10] * d[2]};
}

Mat4 ComposeTransform(const Vec3& translation, const Vec4& rotation, const Vec3& scale) {
  double x = rotation[0], y = rotation[1], z = rotation[2], w = rotation[3];
  const double length = std::sqrt(x * x + y * y + z * z + w * w);
  if (length > 0.0 && std::isfinite(length)) {
    x /= length, y /= length, z /= length, w /= length;
  } else {
    x = y = z = 0.0, w = 1.0;
  }
  // Rotation matrix columns, each scaled by its axis's scale.
  const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y)},
                          {2 * (x * y - w * z), 1 - 2 * (x * x + z * z), 2 * (y * z + w * x)},
                          {2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)}};
  Mat4 m{};
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row) m[4 * c + row] = float(r[c][row] * scale[c]);
  m[12] = translation[0];
  m[13] = translation[1];
  m[14] = translation[2];
  m[15] = 1.0f;
  return m;
}

double TicksPerSecond(const Animation& animation) {
  const double rate = animation.ticksPerSecond;
  return std::isfinite(rate) && rate > 0.0 ? rate : kDefaultTicksPerSecond;
}

TrackSample SampleTrack(const Track& track, float ticks) {
  TrackSample sample;
  if ((sample.hasPosition = !track.positions.empty()))
    sample.position = SampleVec3(track.positions, ticks, &PositionKey::position);
  if ((sample.hasRotation = !track.rotations.empty())) sample.rotation = SampleRotation(track.rotations, ticks);
  if ((sample.hasScale = !track.scales.empty())) sample.scale = SampleVec3(track.scales, ticks, &ScaleKey::scale);
  return sample;
}

std::vector<Mat4> ComputeGlobalTransforms(const Animation& animation, float ticks) {
  std::unordered_map<std::string, const Track*> trackOf;
  for (const Track& track : animation.tracks) trackOf.emplace(track.name, &track);  // the first one stays

  std::vector<Mat4> globals(animation.nodes.size());
  for (size_t i = 0; i < animation.nodes.size(); ++i) {
    const Node& node = animation.nodes[i];
    const auto found = trackOf.find(node.name);
    const Mat4 local =
        found == trackOf.end() ? node.transformation : AnimatedLocal(node.transformation, *found->second, ticks);
    const bool hasParent = node.parent >= 0 && size_t(node.parent) < i;
    globals[i] = hasParent ? MultiplyMat4(globals[size_t(node.parent)], local) : local;
  }
  return globals;
}

std::vector<Mat4> ComputeSkinningMatrices(const Animation& animation, const std::vector<Mat4>& globals) {
  std::unordered_map<std::string, size_t> nodeOf;
  for (size_t i = 0; i < animation.nodes.size() && i < globals.size(); ++i) nodeOf.emplace(animation.nodes[i].name, i);

  std::vector<Mat4> skinning;
  skinning.reserve(animation.boneInfos.size());
  for (const BoneInfoEntry& entry : animation.boneInfos) {
    const auto found = nodeOf.find(entry.name);
    skinning.push_back(found == nodeOf.end() ? IdentityMat4() : MultiplyMat4(globals[found->second], entry.offset));
  }
  return skinning;
}

void SkinVertices(const MeshData& mesh, const Animation& animation, const std::vector<Mat4>& skinning,
                  std::vector<Vec3>& positions, std::vector<Vec3>* normals) {
  const pose::BoneNumberTable table = pose::MakeBoneNumberTable(animation.boneInfos, skinning.size());
  positions.resize(mesh.vertices.size());
  if (normals != nullptr) normals->resize(mesh.vertices.size());
  pose::BlendVertices(
      mesh, skinning.data(), [&table](int32_t id) { return pose::FindBoneEntry(table.dense, table.sparse, id); },
      positions.data(), normals != nullptr ? normals->data() : nullptr);
}

}  // namespace varndel
