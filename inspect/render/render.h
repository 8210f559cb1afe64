// The software renderer behind `varndel-inspect render`: poses a compiled
// model, frames it with an orthographic camera and rasterises it with a depth
// buffer into an RGB picture. No GPU, no display.
#pragma once

#include <varndel/reader.h>
#include <varndel/records.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace render {

using varndel::Vec2;
using varndel::Vec3;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
  bool operator!=(const Rgb& o) const { return !(*this == o); }
};

// Pixels nothing was drawn on.
constexpr Rgb kBackground{40, 44, 52};

// Rows top to bottom, three bytes per pixel.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};
Image MakeImage(int width, int height, Rgb fill = kBackground);
Rgb PixelAt(const Image& image, int x, int y);
void SetPixel(Image& image, int x, int y, Rgb colour);
// Copies source into target with its top-left corner at (x, y).
void PasteImage(const Image& source, Image& target, int x, int y);

// Rows top to bottom, four bytes per pixel (alpha unused).
struct Texture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
};
// Decodes an image file; false (with stb_image's reason) when it cannot.
bool LoadTexture(const std::string& path, Texture& texture, std::string& reason);
// The stand-in for a texture that cannot be found.
Texture CheckerTexture();

// Encodes the picture as PNG into bytes.
bool EncodePng(const Image& image, std::string& bytes);

enum class View { kFront, kBack, kLeft, kRight, kTop, kIso };
// "front", "back", "left", "right", "top", "iso".
bool ParseView(const std::string& name, View& view);

// The model at one time: every mesh's vertices where they are drawn, and the
// bones as segments between joint origins.
struct PosedMesh {
  std::vector<Vec3> positions;
  std::vector<Vec3> normals;
};
struct Segment {
  Vec3 from{}, to{};
};
struct Pose {
  std::vector<PosedMesh> meshes;  // indexed like Model::meshes
  std::vector<Segment> bones;
  std::vector<Vec3> joints;
};
// Static models ignore ticks and have no bones.
Pose PoseModel(const varndel::Model& model, float ticks);

struct Bounds {
  Vec3 min{}, max{};
  bool empty = true;
};
// Grows bounds by every finite vertex (and, with joints, every joint).
void AddToBounds(const Pose& pose, bool joints, Bounds& bounds);

// Orthographic camera: image x along right, image y against up, depth along
// forward (larger is farther).
struct Camera {
  Vec3 right{}, up{}, forward{};
  double centreRight = 0.0, centreUp = 0.0;  // the bounds' centre in view coordinates
  double pixelsPerUnit = 1.0;
  int width = 0, height = 0;
};
Camera FrameCamera(const Bounds& bounds, View view, int width, int height);
// Pixel coordinates (x right, y down; pixel centres at +0.5) and depth.
struct ScreenPoint {
  double x = 0.0, y = 0.0, depth = 0.0;
};
ScreenPoint Project(const Camera& camera, const Vec3& point);

struct DrawStats {
  size_t triangles = 0;   // drawn (inside the picture or not)
  size_t nonFinite = 0;   // skipped: a corner is not a finite point
  size_t badIndices = 0;  // skipped: an index past the mesh's vertices
};

// Draws every triangle of the pose. textures[m] is mesh m's diffuse texture,
// or null for plain grey. Front faces are lit with Lambert plus ambient from
// the file's normals; back faces get their own tint.
void DrawPose(const varndel::Model& model, const Pose& pose, const std::vector<const Texture*>& textures,
              const Camera& camera, Image& image, DrawStats& stats);
// Lines between joints and a dot on each joint, over whatever is drawn.
void DrawSkeleton(const Pose& pose, const Camera& camera, Image& image);

}  // namespace render
