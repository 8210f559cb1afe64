#include <varndel/sample.h>

#include <cmath>
#include <string>
#include <unordered_map>

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

Vec3 LerpVec3(const Vec3& a, const Vec3& b, double t) {
  Vec3 r{};
  for (int i = 0; i < 3; ++i) r[i] = float(double(a[i]) + (double(b[i]) - double(a[i])) * t);
  return r;
}

template <typename Key>
Vec3 SampleVec3(const std::vector<Key>& keys, float ticks, Vec3 Key::*value) {
  const Neighbours n = FindNeighbours(keys, ticks);
  double t = 0.0;
  const long held = HeldKeyOrFactor(keys, ticks, n, t);
  if (held >= 0) return keys[size_t(held)].*value;
  return LerpVec3(keys[size_t(n.lower)].*value, keys[size_t(n.upper)].*value, t);
}

// Spherical interpolation along the shorter arc, normalised.
Vec4 Slerp(const Vec4& a, const Vec4& b, double t) {
  double qa[4], qb[4];
  for (int i = 0; i < 4; ++i) qa[i] = a[i], qb[i] = b[i];
  const auto normalise = [](double* q) {
    const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (length > 0.0 && std::isfinite(length))
      for (int i = 0; i < 4; ++i) q[i] /= length;
  };
  normalise(qa);
  normalise(qb);
  double cosine = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
  if (cosine < 0.0) {
    cosine = -cosine;
    for (double& c : qb) c = -c;
  }
  double wa = 1.0 - t, wb = t;
  if (cosine < 0.9999) {  // else nearly equal: the linear blend is exact enough
    const double angle = std::acos(cosine);
    const double sine = std::sin(angle);
    wa = std::sin((1.0 - t) * angle) / sine;
    wb = std::sin(t * angle) / sine;
  }
  double r[4];
  for (int i = 0; i < 4; ++i) r[i] = wa * qa[i] + wb * qb[i];
  normalise(r);
  return {float(r[0]), float(r[1]), float(r[2]), float(r[3])};
}

Vec4 SampleRotation(const std::vector<RotationKey>& keys, float ticks) {
  const Neighbours n = FindNeighbours(keys, ticks);
  double t = 0.0;
  const long held = HeldKeyOrFactor(keys, ticks, n, t);
  if (held >= 0) return keys[size_t(held)].orientation;
  return Slerp(keys[size_t(n.lower)].orientation, keys[size_t(n.upper)].orientation, t);
}

double Length3(float x, float y, float z) { return std::sqrt(double(x) * x + double(y) * y + double(z) * z); }

// The translation, rotation and scale of an affine matrix (shear is lost).
void DecomposeTransform(const Mat4& m, Vec3& translation, Vec4& rotation, Vec3& scale) {
  translation = {m[12], m[13], m[14]};
  double s[3] = {Length3(m[0], m[1], m[2]), Length3(m[4], m[5], m[6]), Length3(m[8], m[9], m[10])};
  const double det = double(m[0]) * (double(m[5]) * m[10] - double(m[9]) * m[6]) -
                     double(m[4]) * (double(m[1]) * m[10] - double(m[9]) * m[2]) +
                     double(m[8]) * (double(m[1]) * m[6] - double(m[5]) * m[2]);
  if (det < 0.0) s[0] = -s[0];
  scale = {float(s[0]), float(s[1]), float(s[2])};
  // r[row][col] of the pure rotation.
  double r[3][3];
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row) r[row][c] = s[c] != 0.0 ? m[4 * c + row] / s[c] : (row == c ? 1.0 : 0.0);
  double x, y, z, w;
  const double trace = r[0][0] + r[1][1] + r[2][2];
  if (trace > 0.0) {
    const double k = 0.5 / std::sqrt(trace + 1.0);
    w = 0.25 / k;
    x = (r[2][1] - r[1][2]) * k;
    y = (r[0][2] - r[2][0]) * k;
    z = (r[1][0] - r[0][1]) * k;
  } else if (r[0][0] > r[1][1] && r[0][0] > r[2][2]) {
    const double k = 2.0 * std::sqrt(1.0 + r[0][0] - r[1][1] - r[2][2]);
    w = (r[2][1] - r[1][2]) / k;
    x = 0.25 * k;
    y = (r[0][1] + r[1][0]) / k;
    z = (r[0][2] + r[2][0]) / k;
  } else if (r[1][1] > r[2][2]) {
    const double k = 2.0 * std::sqrt(1.0 + r[1][1] - r[0][0] - r[2][2]);
    w = (r[0][2] - r[2][0]) / k;
    x = (r[0][1] + r[1][0]) / k;
    y = 0.25 * k;
    z = (r[1][2] + r[2][1]) / k;
  } else {
    const double k = 2.0 * std::sqrt(1.0 + r[2][2] - r[0][0] - r[1][1]);
    w = (r[1][0] - r[0][1]) / k;
    x = (r[0][2] + r[2][0]) / k;
    y = (r[1][2] + r[2][1]) / k;
    z = 0.25 * k;
  }
  rotation = {float(x), float(y), float(z), float(w)};
}

// The node's local transformation with the track's sampled parts in place.
Mat4 AnimatedLocal(const Mat4& own, const Track& track, float ticks) {
  const TrackSample sample = SampleTrack(track, ticks);
  if (!sample.hasPosition && !sample.hasRotation && !sample.hasScale) return own;
  Vec3 translation{}, scale{};
  Vec4 rotation{};
  if (!sample.hasPosition || !sample.hasRotation || !sample.hasScale)
    DecomposeTransform(own, translation, rotation, scale);
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
  std::unordered_map<int32_t, size_t> entryOf;
  for (size_t i = 0; i < animation.boneInfos.size() && i < skinning.size(); ++i)
    entryOf.emplace(animation.boneInfos[i].id, i);

  const size_t count = mesh.vertices.size();
  positions.resize(count);
  if (normals != nullptr) normals->resize(count);
  for (size_t v = 0; v < count; ++v) {
    const Vertex& vertex = mesh.vertices[v];
    Mat4 blend{};
    float total = 0.0f;
    for (int slot = 0; slot < 4; ++slot) {
      if (vertex.boneIDs[slot] < 0) continue;
      const auto found = entryOf.find(vertex.boneIDs[slot]);
      if (found == entryOf.end()) continue;
      const float weight = vertex.weights[slot];
      const Mat4& m = skinning[found->second];
      for (int k = 0; k < 16; ++k) blend[k] += weight * m[k];
      total += weight;
    }
    if (total == 0.0f) {
      positions[v] = vertex.position;
      if (normals != nullptr) (*normals)[v] = vertex.normal;
      continue;
    }
    positions[v] = TransformPoint(blend, vertex.position);
    if (normals != nullptr) {
      Vec3 n = TransformDirection(blend, vertex.normal);
      const double length = Length3(n[0], n[1], n[2]);
      if (length > 0.0 && std::isfinite(length))
        for (float& c : n) c = float(c / length);
      (*normals)[v] = n;
    }
  }
}

}  // namespace varndel
