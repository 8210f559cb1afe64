// The software renderer behind `varndel-inspect render`: poses a compiled
// model, frames it with an orthographic camera and rasterises it with a depth
// buffer into an RGB picture. No GPU, no display.
#pragma once

#include <varndel/reader.h>
#include <varndel/records.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
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
// An image file's size in pixels, read from its header; false when it is
// no image stb_image knows.
bool ProbeTexture(const std::string& path, int& width, int& height);
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

// Bounds the drawing work: every pixel a triangle's box covers, and every
// pixel of a bone or joint, is one test. Past the budget nothing more is
// drawn.
struct PixelBudget {
  uint64_t left = 0;
  uint64_t used = 0;
  bool exhausted = false;
  // Takes count tests, or marks the budget exhausted when fewer are left.
  bool Take(uint64_t count) {
    if (exhausted || count > left) return !(exhausted = true);
    left -= count;
    used += count;
    return true;
  }
};

struct DrawStats {
  size_t triangles = 0;   // drawn (inside the picture or not)
  size_t nonFinite = 0;   // skipped: a corner is not a finite point
  size_t badIndices = 0;  // skipped: an index past the mesh's vertices
};

// Draws every triangle of the pose. textures[m] is mesh m's diffuse texture,
// or null for plain grey. Front faces are lit with Lambert plus ambient from
// the file's normals; back faces get their own tint.
// Stops at the first triangle the budget cannot pay for. progress, when
// set, is called now and then with the triangles gone through so far.
void DrawPose(const varndel::Model& model, const Pose& pose, const std::vector<const Texture*>& textures,
              const Camera& camera, Image& image, DrawStats& stats, PixelBudget& budget,
              const std::function<void(size_t triangles)>& progress = nullptr);
// Lines between joints and a dot on each joint, over whatever is drawn.
void DrawSkeleton(const Pose& pose, const Camera& camera, Image& image, PixelBudget& budget);

// Decoded textures, one per file however its path is spelled, within a
// budget of decoded bytes. A texture that cannot be found, decoded or
// afforded is drawn as the checker, with one warning.
class TextureCache {
 public:
  explicit TextureCache(uint64_t byteBudget);
  // The texture a stored path names, resolved as check resolves it against
  // the compiled file. Warnings (names quoted) are appended to warnings.
  const Texture* Find(const std::string& storedPath, const std::string& compiledFile,
                      std::vector<std::string>& warnings);
  uint64_t DecodedBytes() const { return used_; }

 private:
  const Texture* Decode(const std::string& path, std::vector<std::string>& warnings);

  uint64_t budget_;
  uint64_t used_ = 0;
  std::map<std::string, const Texture*> byStoredPath_;
  std::map<std::string, const Texture*> byFile_;  // canonical path
  std::list<Texture> decoded_;
  Texture checker_;
};

// What the render command draws, once its arguments are checked.
constexpr uint64_t kPixelTestBudget = uint64_t{1} << 29;      // over all frames
constexpr uint64_t kTextureByteBudget = uint64_t{512} << 20;  // decoded, all textures
struct Request {
  int width = 512, height = 512;  // one picture
  View view = View::kIso;
  bool timeGiven = false;
  double seconds = 0.0;
  int frames = 0;  // 0: one picture at seconds; else a sheet
  bool texture = true;
  bool skeleton = false;
  uint64_t pixelTests = kPixelTestBudget;
  uint64_t textureBytes = kTextureByteBudget;
  // Called now and then with the triangles drawn over all frames and the
  // triangles of all frames.
  std::function<void(size_t done, size_t total)> progress;
};
// "WxH" with each side from 1 to 8192.
bool ParseSize(const std::string& text, int& width, int& height);
// Columns and rows of the sheet of frames pictures (1 x 1 for one).
void SheetGrid(int frames, int& columns, int& rows);
// The whole picture of model, read from file (stored texture paths resolve
// against it). Every warning is appended to warnings.
Image DrawPicture(const varndel::Model& model, const std::string& file, const Request& request,
                  std::vector<std::string>& warnings);

}  // namespace render
