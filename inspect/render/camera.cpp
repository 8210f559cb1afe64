// Orthographic views along the model's axes (Y up, front facing +Z) and an
// isometric one, framed to the bounds with a margin.
#include <algorithm>
#include <cmath>

#include "inspect/render/render.h"

namespace render {
namespace {

constexpr double kFill = 0.9;  // share of the picture the bounds may take

double Dot(const Vec3& a, const Vec3& b) { return double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2]; }

Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vec3 Normalised(const Vec3& v) {
  const double length = std::sqrt(Dot(v, v));
  return {float(v[0] / length), float(v[1] / length), float(v[2] / length)};
}

}  // namespace

bool ParseView(const std::string& name, View& view) {
  static const std::pair<const char*, View> kViews[] = {{"front", View::kFront}, {"back", View::kBack},
                                                        {"left", View::kLeft},   {"right", View::kRight},
                                                        {"top", View::kTop},     {"iso", View::kIso}};
  for (const auto& [text, value] : kViews) {
    if (name == text) {
      view = value;
      return true;
    }
  }
  return false;
}

Camera FrameCamera(const Bounds& bounds, View view, int width, int height) {
  Camera camera;
  camera.width = width;
  camera.height = height;
  Vec3 up{0, 1, 0};
  switch (view) {
    case View::kFront:
      camera.forward = {0, 0, -1};
      break;  // seen from +Z
    case View::kBack:
      camera.forward = {0, 0, 1};
      break;
    case View::kLeft:
      camera.forward = {1, 0, 0};
      break;  // seen from -X
    case View::kRight:
      camera.forward = {-1, 0, 0};
      break;
    case View::kTop:
      camera.forward = {0, -1, 0};
      up = {0, 0, -1};  // the front at the bottom of the picture
      break;
    case View::kIso: {
      camera.forward = Normalised({-1, -1, -1});  // from front, right and above
      const double along = Dot(up, camera.forward);
      up = Normalised({float(up[0] - along * camera.forward[0]), float(up[1] - along * camera.forward[1]),
                       float(up[2] - along * camera.forward[2])});
      break;
    }
  }
  camera.up = up;
  camera.right = Cross(camera.forward, up);
  if (bounds.empty) return camera;

  double lowRight = HUGE_VAL, highRight = -HUGE_VAL, lowUp = HUGE_VAL, highUp = -HUGE_VAL;
  for (int corner = 0; corner < 8; ++corner) {
    const Vec3 p{(corner & 1) ? bounds.max[0] : bounds.min[0], (corner & 2) ? bounds.max[1] : bounds.min[1],
                 (corner & 4) ? bounds.max[2] : bounds.min[2]};
    const double r = Dot(p, camera.right), u = Dot(p, camera.up);
    lowRight = std::min(lowRight, r), highRight = std::max(highRight, r);
    lowUp = std::min(lowUp, u), highUp = std::max(highUp, u);
  }
  camera.centreRight = 0.5 * lowRight + 0.5 * highRight;
  camera.centreUp = 0.5 * lowUp + 0.5 * highUp;
  const double spanRight = highRight - lowRight, spanUp = highUp - lowUp;
  double scale = HUGE_VAL;
  if (spanRight > 0.0) scale = std::min(scale, kFill * width / spanRight);
  if (spanUp > 0.0) scale = std::min(scale, kFill * height / spanUp);
  if (!(scale > 0.0 && std::isfinite(scale))) scale = 1.0;  // a point, or bounds too wide for a double
  camera.pixelsPerUnit = scale;
  return camera;
}

ScreenPoint Project(const Camera& camera, const Vec3& point) {
  ScreenPoint s;
  s.x = 0.5 * camera.width + (Dot(point, camera.right) - camera.centreRight) * camera.pixelsPerUnit;
  s.y = 0.5 * camera.height - (Dot(point, camera.up) - camera.centreUp) * camera.pixelsPerUnit;
  s.depth = Dot(point, camera.forward);
  return s;
}

}  // namespace render
