// varndel-inspect render FILE -o OUT.png: a picture of a compiled model,
// drawn in software (inspect/render/).
#include "inspect/render/render.h"

#include <varndel/reader.h>
#include <varndel/sample.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <system_error>

#include "inspect/commands.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSide = 8192;                          // one picture, per side
constexpr int kMaxFrames = 64;                          // pictures in a contact sheet
constexpr double kMaxSheetPixels = 16.0 * 1024 * 1024;  // the whole PNG: 4096x4096
constexpr uint8_t kDiffuse = 1;

const char* const kPrefix = "varndel-inspect render: ";

void Warn(const std::string& text) { std::cerr << kPrefix << "warning: " << text << "\n"; }

bool ParseSize(const std::string& text, int& width, int& height) {
  static const std::regex kSize("([0-9]{1,5})[xX]([0-9]{1,5})");
  std::smatch match;
  if (!std::regex_match(text, match, kSize)) return false;
  width = std::stoi(match[1].str());
  height = std::stoi(match[2].str());
  return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

// The times to draw, in ticks: one, or frames spread evenly from the first
// tick to the duration, both ends included.
std::vector<float> FrameTicks(const varndel::Model& model, double seconds, int frames) {
  if (frames <= 0) return {float(seconds * (model.animated ? varndel::TicksPerSecond(model.animation) : 0.0))};
  double duration = model.animated ? double(model.animation.duration) : 0.0;
  if (!(std::isfinite(duration) && duration > 0.0)) duration = 0.0;
  std::vector<float> ticks;
  for (int i = 0; i < frames; ++i) ticks.push_back(frames == 1 ? 0.0f : float(duration * i / (frames - 1)));
  return ticks;
}

// Each mesh's diffuse texture: decoded once per stored path; a path that
// cannot be found or decoded gets the checker and one warning.
std::vector<const render::Texture*> LoadDiffuseTextures(const varndel::Model& model, const std::string& file,
                                                        std::map<std::string, render::Texture>& cache) {
  std::vector<const render::Texture*> textures(model.meshes.size(), nullptr);
  for (size_t m = 0; m < model.meshes.size(); ++m) {
    const auto& refs = model.meshes[m].textures;
    const auto diffuse =
        std::find_if(refs.begin(), refs.end(), [](const varndel::TextureRef& t) { return t.type == kDiffuse; });
    if (diffuse == refs.end()) continue;
    auto found = cache.find(diffuse->path);
    if (found == cache.end()) {
      render::Texture texture;
      const std::string path = ResolveTexturePath(diffuse->path, file);
      std::string reason;
      if (path.empty()) {
        std::string tried;
        for (const std::string& candidate : TextureCandidates(diffuse->path, file))
          tried += (tried.empty() ? "" : ", ") + candidate;
        Warn("diffuse texture '" + diffuse->path + "' not found (tried " + tried + "); drawing a checker instead");
        texture = render::CheckerTexture();
      } else if (!render::LoadTexture(path, texture, reason)) {
        Warn("diffuse texture '" + path + "' cannot be read (" + reason + "); drawing a checker instead");
        texture = render::CheckerTexture();
      }
      found = cache.emplace(diffuse->path, std::move(texture)).first;
    }
    textures[m] = &found->second;
  }
  return textures;
}

// Writes bytes to a sibling file first, then renames it over path, so a
// failed write leaves no half-written picture behind.
bool WriteWhole(const std::string& path, const std::string& bytes, std::string& reason) {
  const fs::path partial = fs::path(path).concat(".partial");
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) {
      reason = "cannot create " + partial.string();
      return false;
    }
    out.write(bytes.data(), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
      reason = "cannot write " + partial.string();
      std::error_code ignored;
      fs::remove(partial, ignored);
      return false;
    }
  }
  std::error_code error;
  fs::rename(partial, path, error);
  if (error) {
    reason = error.message();
    fs::remove(partial, error);
    return false;
  }
  return true;
}

}  // namespace

int RunRender(int argc, char** argv) {
  CLI::App app{"Draw a compiled model file (.staticbin, .animbin) into a PNG, in software.", "varndel-inspect render"};
  std::string input, output, size = "512x512", viewName = "iso";
  double seconds = 0.0;
  int frames = 0;
  bool noTexture = false, skeleton = false;
  app.add_option("FILE", input, "compiled model file")->required();
  app.add_option("-o,--output", output, "PNG file to write")->required();
  app.add_option("--size", size,
                 "size of one picture, WxH (default 512x512; at most 8192 per side and 16 million pixels in all)");
  app.add_option("--view", viewName, "front, back, left (from -X), right (from +X), top or iso (default)")
      ->check(CLI::IsMember({"front", "back", "left", "right", "top", "iso"}));
  CLI::Option* time = app.add_option("--time", seconds, "animated files: the time to show, in seconds (default 0)");
  CLI::Option* sheet = app.add_option("--frames", frames,
                                      "animated files: a contact sheet of N frames spread evenly "
                                      "from the start to the end of the animation, in a grid")
                           ->check(CLI::Range(1, kMaxFrames));
  time->excludes(sheet);
  app.add_flag("--no-texture", noTexture, "draw every mesh plain grey");
  app.add_flag("--skeleton", skeleton, "draw the bones as lines over the mesh");
  app.footer(
      "The model is framed automatically (over all frames of a sheet). Front faces are lit from the file's normals; "
      "back faces are drawn red. Texture v = 0 is the image's top row.\n"
      "Exit codes: 0 picture written (warnings on stderr), 1 the PNG could not be written, 2 bad arguments or "
      "a file that cannot be read.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }

  int width = 0, height = 0;
  if (!ParseSize(size, width, height)) {
    std::cerr << kPrefix << "--size '" << size << "' is not WxH with each side from 1 to " << kMaxSide << "\n";
    return 2;
  }
  if (!std::isfinite(seconds)) {
    std::cerr << kPrefix << "--time must be a finite number of seconds\n";
    return 2;
  }
  const int count = std::max(frames, 1);
  const int columns = int(std::ceil(std::sqrt(double(count))));
  const int rows = (count + columns - 1) / columns;
  if (double(width) * columns * double(height) * rows > kMaxSheetPixels) {
    std::cerr << kPrefix << "a sheet of " << columns << "x" << rows << " pictures of " << size << " is too large\n";
    return 2;
  }
  std::error_code same;
  if (fs::equivalent(input, output, same)) {
    std::cerr << kPrefix << "the output " << output << " is the input file\n";
    return 2;
  }
  render::View view = render::View::kIso;
  render::ParseView(viewName, view);

  varndel::Model model;
  varndel::ReadError error;
  if (!varndel::ReadModelFile(input, model, &error)) {
    std::cerr << kPrefix << input << ": " << varndel::FormatReadError(error) << "\n";
    return 2;
  }
  if (!model.animated && (time->count() > 0 || frames > 1))
    Warn("a static model does not move; every time looks the same");
  if (skeleton && !model.animated) Warn("a static model has no skeleton to draw");

  // Bounds first, over every frame; poses are made again for drawing so that
  // a sheet never holds more than one posed copy of the model.
  const std::vector<float> ticks = FrameTicks(model, seconds, frames);
  render::Bounds bounds;
  std::optional<render::Pose> single;  // one frame: posed once
  for (float t : ticks) {
    render::Pose pose = render::PoseModel(model, t);
    render::AddToBounds(pose, skeleton, bounds);
    if (ticks.size() == 1) single = std::move(pose);
  }
  const render::Camera camera = render::FrameCamera(bounds, view, width, height);

  std::map<std::string, render::Texture> textureCache;
  std::vector<const render::Texture*> textures(model.meshes.size(), nullptr);
  if (!noTexture) textures = LoadDiffuseTextures(model, input, textureCache);

  render::Image picture = render::MakeImage(width * columns, height * rows);
  size_t mostSkippedNonFinite = 0, mostSkippedIndices = 0, triangles = 0;
  for (size_t f = 0; f < ticks.size(); ++f) {
    const render::Pose pose = single ? std::move(*single) : render::PoseModel(model, ticks[f]);
    const bool sheet = ticks.size() > 1;
    render::Image cell = sheet ? render::MakeImage(width, height) : std::move(picture);
    render::DrawStats stats;
    render::DrawPose(model, pose, textures, camera, cell, stats);
    if (skeleton) render::DrawSkeleton(pose, camera, cell);
    if (sheet)
      render::PasteImage(cell, picture, int(f % size_t(columns)) * width, int(f / size_t(columns)) * height);
    else
      picture = std::move(cell);
    mostSkippedNonFinite = std::max(mostSkippedNonFinite, stats.nonFinite);
    mostSkippedIndices = std::max(mostSkippedIndices, stats.badIndices);
    triangles = std::max(triangles, stats.triangles);
  }
  if (mostSkippedNonFinite > 0)
    Warn("skipped " + std::to_string(mostSkippedNonFinite) + " triangles with a corner that is not a finite point");
  if (mostSkippedIndices > 0)
    Warn("skipped " + std::to_string(mostSkippedIndices) + " triangles with an index past their mesh's vertices");
  if (triangles == 0) Warn("the model has no triangles to draw; the picture is empty");

  std::string png, reason;
  if (!render::EncodePng(picture, png)) {
    std::cerr << kPrefix << "cannot encode the picture as PNG\n";
    return 1;
  }
  if (!WriteWhole(output, png, reason)) {
    std::cerr << kPrefix << "cannot write " << output << ": " << reason << "\n";
    return 1;
  }
  return 0;
}
