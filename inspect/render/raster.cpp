// Triangle rasteriser with a depth buffer. The camera is orthographic, so
// attributes interpolate linearly in screen space.
#include <algorithm>
#include <cmath>
#include <limits>

#include "inspect/render/render.h"

namespace render {
namespace {

constexpr float kAmbient = 0.3f;
constexpr float kDiffuse = 0.7f;
constexpr float kPlain[3] = {0.78f, 0.78f, 0.76f};     // untextured front faces
constexpr float kBackTint[3] = {0.85f, 0.22f, 0.32f};  // back faces: holes and flipped winding
constexpr Rgb kBoneColour{255, 214, 0};
constexpr Rgb kJointColour{255, 120, 0};

bool IsFinite(const Vec3& p) { return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]); }

struct Corner {
  ScreenPoint screen;
  Vec3 normal{};
  Vec2 uv{};
};

// Bilinear, repeating outside [0, 1]; v = 0 is the texture's first (top) row.
void SampleTexture(const Texture& texture, float u, float v, float out[3]) {
  if (!std::isfinite(u)) u = 0.0f;
  if (!std::isfinite(v)) v = 0.0f;
  const double x = (double(u) - std::floor(double(u))) * texture.width - 0.5;
  const double y = (double(v) - std::floor(double(v))) * texture.height - 0.5;
  const double fx = x - std::floor(x), fy = y - std::floor(y);
  const auto wrap = [](double value, int size) {
    long i = long(std::floor(value)) % size;
    return int(i < 0 ? i + size : i);
  };
  const int x0 = wrap(x, texture.width), x1 = (x0 + 1) % texture.width;
  const int y0 = wrap(y, texture.height), y1 = (y0 + 1) % texture.height;
  const auto at = [&texture](int px, int py, int c) {
    return float(texture.rgba[(size_t(py) * size_t(texture.width) + size_t(px)) * 4 + size_t(c)]) / 255.0f;
  };
  for (int c = 0; c < 3; ++c) {
    const double top = at(x0, y0, c) * (1 - fx) + at(x1, y0, c) * fx;
    const double bottom = at(x0, y1, c) * (1 - fx) + at(x1, y1, c) * fx;
    out[c] = float(top * (1 - fy) + bottom * fy);
  }
}

uint8_t ToByte(float value) { return uint8_t(std::clamp(value, 0.0f, 1.0f) * 255.0f + 0.5f); }

class Rasteriser {
 public:
  Rasteriser(const Camera& camera, Image& image, PixelBudget& budget) : image_(image), budget_(budget) {
    depth_.assign(size_t(image.width) * size_t(image.height), std::numeric_limits<float>::infinity());
    // Toward the light: from the viewer, a little above and to the left.
    const Vec3 f = camera.forward, u = camera.up, r = camera.right;
    double l[3];
    for (int k = 0; k < 3; ++k) l[k] = -f[k] + 0.6 * u[k] - 0.4 * r[k];
    const double length = std::sqrt(l[0] * l[0] + l[1] * l[1] + l[2] * l[2]);
    for (int k = 0; k < 3; ++k) light_[k] = float(l[k] / length);
  }

  void Draw(Corner a, Corner b, Corner c, const Vec3& faceNormal, const Texture* texture) {
    // Signed area in pixels; screen y points down, so counter-clockwise as
    // seen by the viewer is negative.
    double area = Edge(a.screen, b.screen, c.screen.x, c.screen.y);
    if (!(area != 0.0) || !std::isfinite(area)) return;  // degenerate, or NaN
    const bool front = area < 0.0;
    if (front) {
      std::swap(b, c);
      area = -area;
    }
    const double minX = std::min({a.screen.x, b.screen.x, c.screen.x});
    const double maxX = std::max({a.screen.x, b.screen.x, c.screen.x});
    const double minY = std::min({a.screen.y, b.screen.y, c.screen.y});
    const double maxY = std::max({a.screen.y, b.screen.y, c.screen.y});
    if (maxX < 0.0 || maxY < 0.0 || minX > image_.width || minY > image_.height) return;
    const int x0 = int(std::max(0.0, std::floor(minX))), x1 = int(std::min(double(image_.width - 1), std::ceil(maxX)));
    const int y0 = int(std::max(0.0, std::floor(minY))), y1 = int(std::min(double(image_.height - 1), std::ceil(maxY)));
    if (x1 < x0 || y1 < y0 || !budget_.Take(uint64_t(x1 - x0 + 1) * uint64_t(y1 - y0 + 1))) return;

    for (int y = y0; y <= y1; ++y) {
      const double py = y + 0.5;
      for (int x = x0; x <= x1; ++x) {
        const double px = x + 0.5;
        const double wa = Edge(b.screen, c.screen, px, py), wb = Edge(c.screen, a.screen, px, py),
                     wc = Edge(a.screen, b.screen, px, py);
        if (wa < 0.0 || wb < 0.0 || wc < 0.0) continue;
        const double la = wa / area, lb = wb / area, lc = wc / area;
        const float depth = float(la * a.screen.depth + lb * b.screen.depth + lc * c.screen.depth);
        float& stored = depth_[size_t(y) * size_t(image_.width) + size_t(x)];
        if (!(depth < stored)) continue;
        stored = depth;
        SetPixel(image_, x, y, Shade(a, b, c, la, lb, lc, faceNormal, front, texture));
      }
    }
  }

 private:
  static double Edge(const ScreenPoint& p, const ScreenPoint& q, double x, double y) {
    return (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x);
  }

  Rgb Shade(const Corner& a, const Corner& b, const Corner& c, double la, double lb, double lc, const Vec3& faceNormal,
            bool front, const Texture* texture) const {
    double n[3];
    for (int k = 0; k < 3; ++k) n[k] = la * a.normal[k] + lb * b.normal[k] + lc * c.normal[k];
    double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(length > 1e-12) || !std::isfinite(length)) {  // the file has no usable normals here
      for (int k = 0; k < 3; ++k) n[k] = faceNormal[k];
      length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
      if (!(length > 0.0) || !std::isfinite(length)) n[0] = n[1] = 0.0, n[2] = length = 1.0;
    }
    const double side = front ? 1.0 : -1.0;  // a back face is lit on the side the viewer sees
    double lambert = 0.0;
    for (int k = 0; k < 3; ++k) lambert += side * n[k] / length * light_[k];
    const float shade = kAmbient + kDiffuse * float(std::max(0.0, lambert));

    float albedo[3] = {kPlain[0], kPlain[1], kPlain[2]};
    if (!front) {
      std::copy(kBackTint, kBackTint + 3, albedo);
    } else if (texture != nullptr) {
      const float u = float(la * a.uv[0] + lb * b.uv[0] + lc * c.uv[0]);
      const float v = float(la * a.uv[1] + lb * b.uv[1] + lc * c.uv[1]);
      SampleTexture(*texture, u, v, albedo);
    }
    return {ToByte(albedo[0] * shade), ToByte(albedo[1] * shade), ToByte(albedo[2] * shade)};
  }

  Image& image_;
  PixelBudget& budget_;
  std::vector<float> depth_;  // float: half the memory, ample for a preview
  float light_[3] = {0, 0, 1};
};

// Clips the segment to the picture (Liang-Barsky); false when nothing is left.
bool ClipToPicture(ScreenPoint& p, ScreenPoint& q, int width, int height) {
  double t0 = 0.0, t1 = 1.0;
  const double dx = q.x - p.x, dy = q.y - p.y;
  const double edges[4][2] = {{-dx, p.x}, {dx, width - 1e-6 - p.x}, {-dy, p.y}, {dy, height - 1e-6 - p.y}};
  for (const auto& [step, room] : edges) {
    if (step == 0.0) {
      if (room < 0.0) return false;
      continue;
    }
    const double t = room / step;
    if (step < 0.0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
  }
  if (!(t0 <= t1)) return false;
  const ScreenPoint start = p;
  p.x = start.x + t0 * dx, p.y = start.y + t0 * dy;
  q.x = start.x + t1 * dx, q.y = start.y + t1 * dy;
  return true;
}

void DrawLine(ScreenPoint p, ScreenPoint q, Rgb colour, Image& image, PixelBudget& budget) {
  if (!ClipToPicture(p, q, image.width, image.height)) return;
  const int steps = int(std::ceil(std::max(std::fabs(q.x - p.x), std::fabs(q.y - p.y)))) + 1;
  if (!budget.Take(uint64_t(steps) + 1)) return;
  for (int i = 0; i <= steps; ++i) {
    const double t = double(i) / steps;
    const int x = int(p.x + (q.x - p.x) * t), y = int(p.y + (q.y - p.y) * t);
    if (x >= 0 && y >= 0 && x < image.width && y < image.height) SetPixel(image, x, y, colour);
  }
}

}  // namespace

void DrawPose(const varndel::Model& model, const Pose& pose, const std::vector<const Texture*>& textures,
              const Camera& camera, Image& image, DrawStats& stats, PixelBudget& budget,
              const std::function<void(size_t triangles)>& progress) {
  constexpr size_t kProgressEvery = 4096;  // triangles between two progress reports
  Rasteriser rasteriser(camera, image, budget);
  size_t visited = 0;
  for (size_t m = 0; m < model.meshes.size() && m < pose.meshes.size() && !budget.exhausted; ++m) {
    const varndel::MeshData& mesh = model.meshes[m];
    const PosedMesh& posed = pose.meshes[m];
    const Texture* texture = m < textures.size() ? textures[m] : nullptr;
    const size_t vertexCount = posed.positions.size();
    for (size_t i = 0; i + 2 < mesh.indices.size() && !budget.exhausted; i += 3) {
      if (progress && ++visited % kProgressEvery == 0) progress(visited);
      const uint32_t index[3] = {mesh.indices[i], mesh.indices[i + 1], mesh.indices[i + 2]};
      if (index[0] >= vertexCount || index[1] >= vertexCount || index[2] >= vertexCount) {
        ++stats.badIndices;
        continue;
      }
      const Vec3& p0 = posed.positions[index[0]];
      const Vec3& p1 = posed.positions[index[1]];
      const Vec3& p2 = posed.positions[index[2]];
      if (!IsFinite(p0) || !IsFinite(p1) || !IsFinite(p2)) {
        ++stats.nonFinite;
        continue;
      }
      ++stats.triangles;
      Corner corners[3];
      for (int k = 0; k < 3; ++k) {
        corners[k].screen = Project(camera, posed.positions[index[k]]);
        corners[k].normal = posed.normals[index[k]];
        corners[k].uv = mesh.vertices[index[k]].texCoords;
      }
      const Vec3 e1{p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]}, e2{p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
      const Vec3 faceNormal{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                            e1[0] * e2[1] - e1[1] * e2[0]};
      rasteriser.Draw(corners[0], corners[1], corners[2], faceNormal, texture);
    }
  }
}

void DrawSkeleton(const Pose& pose, const Camera& camera, Image& image, PixelBudget& budget) {
  for (const Segment& bone : pose.bones)
    DrawLine(Project(camera, bone.from), Project(camera, bone.to), kBoneColour, image, budget);
  for (const Vec3& joint : pose.joints) {
    const ScreenPoint p = Project(camera, joint);
    if (!(p.x > -3 && p.y > -3 && p.x < image.width + 3 && p.y < image.height + 3)) continue;
    if (!budget.Take(25)) return;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        const int x = int(std::floor(p.x)) + dx, y = int(std::floor(p.y)) + dy;
        if (x >= 0 && y >= 0 && x < image.width && y < image.height) SetPixel(image, x, y, kJointColour);
      }
  }
}

}  // namespace render
