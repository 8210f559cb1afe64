#include "anim/pose_math.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace varndel::pose {

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

BoneNumberTable MakeBoneNumberTable(const std::vector<BoneInfoEntry>& entries, size_t count) {
  count = std::min(count, entries.size());
  if (count > size_t(std::numeric_limits<int32_t>::max())) throw std::length_error("too many bone-info entries");
  BoneNumberTable table;
  int64_t largest = -1;
  for (size_t i = 0; i < count; ++i) largest = std::max<int64_t>(largest, entries[i].id);
  if (largest < 0) return table;
  // A direct table costs at most a few ints per entry; files number bones from 0.
  if (uint64_t(largest) < 4 * uint64_t(count) + 256) {
    table.dense.assign(size_t(largest) + 1, -1);
    for (size_t i = 0; i < count; ++i) {
      const int32_t id = entries[i].id;
      if (id >= 0 && table.dense[size_t(id)] < 0) table.dense[size_t(id)] = int32_t(i);
    }
    return table;
  }
  for (size_t i = 0; i < count; ++i)
    if (entries[i].id >= 0) table.sparse.emplace_back(entries[i].id, int32_t(i));
  std::stable_sort(table.sparse.begin(), table.sparse.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  table.sparse.erase(std::unique(table.sparse.begin(), table.sparse.end(),
                                 [](const auto& a, const auto& b) { return a.first == b.first; }),
                     table.sparse.end());  // the first entry of each number stays
  return table;
}

}  // namespace varndel::pose
