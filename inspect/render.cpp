// varndel-inspect render FILE -o OUT.png: a picture of a compiled model,
// drawn in software (inspect/render/).
#include "inspect/render/render.h"

#include <varndel/reader.h>
#include <varndel/sample.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <optional>
#include <random>
#include <regex>
#include <system_error>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "inspect/progress.h"
#include "reader/file_access.h"
#include "reader/file_kind.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSide = 8192;                          // one picture, per side
constexpr int kMaxFrames = 64;                          // pictures in a contact sheet
constexpr double kMaxSheetPixels = 16.0 * 1024 * 1024;  // the whole PNG: 4096x4096
constexpr uint8_t kDiffuse = 1;

const char* const kPrefix = "varndel-inspect render: ";

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
  bool quiet = false;
  app.add_flag("-q,--quiet", quiet, "no progress on stderr");
  app.footer(
      std::string("The model is framed automatically (over all frames of a sheet). Front faces are lit from the file's normals; "
      "back faces are drawn red. Texture v = 0 is the image's top row.\n") +
      "Work and memory are bounded: drawing stops after " +
          std::to_string(render::kPixelTestBudget) +
          " pixel tests over all frames (each pixel of a triangle's bounding box, of a bone or of a joint is one "
          "test; real models need far fewer), with a warning, and the picture is still written. Decoded textures "
          "take at most " +
          std::to_string(render::kTextureByteBudget >> 20) +
          " MiB together; a texture past that is drawn as a checker, with a warning.\n"
      "Exit codes: 0 picture written (warnings on stderr), 1 the PNG could not be written, 2 bad arguments or "
      "a file that cannot be read.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }

  render::Request request;
  if (!render::ParseSize(size, request.width, request.height)) {
    std::cerr << kPrefix << "--size " << inspect::QuoteName(size) << " is not WxH with each side from 1 to "
              << kMaxSide << "\n";
    return 2;
  }
  if (!std::isfinite(seconds)) {
    std::cerr << kPrefix << "--time must be a finite number of seconds\n";
    return 2;
  }
  int columns = 1, rows = 1;
  render::SheetGrid(frames, columns, rows);
  if (double(request.width) * columns * double(request.height) * rows > kMaxSheetPixels) {
    std::cerr << kPrefix << "a sheet of " << columns << "x" << rows << " pictures of " << size
              << " is too large: " << std::fixed << std::setprecision(0)
              << double(request.width) * columns * double(request.height) * rows
              << " pixels, more than the limit of 16 million (" << kMaxSheetPixels << ")\n";
    return 2;
  }
  std::error_code same;
  if (fs::equivalent(input, output, same)) {
    std::cerr << kPrefix << "the output " << output << " is the input file\n";
    return 2;
  }
  render::ParseView(viewName, request.view);
  request.timeGiven = time->count() > 0;
  request.seconds = seconds;
  request.frames = frames;
  request.texture = !noTexture;
  request.skeleton = skeleton;

  varndel::Model model;
  varndel::ReadError error;
  if (!varndel::ReadModelFile(input, model, &error)) {
    const std::string kind = varndel::DescribeNotCompiledModelFile(input);
    std::cerr << kPrefix << input << ": " << (kind.empty() ? varndel::FormatReadError(error) : kind) << "\n";
    return 2;
  }
  std::vector<std::string> warnings;
  progress::Line line("varndel-inspect render: triangles drawn", !quiet);
  request.progress = line.Callback();
  const render::Image picture = render::DrawPicture(model, input, request, warnings);
  line.Finish();
  for (const std::string& warning : warnings) std::cerr << kPrefix << "warning: " << warning << "\n";

  std::string png, reason;
  if (!render::EncodePng(picture, png)) {
    std::cerr << kPrefix << "cannot encode the picture as PNG\n";
    return 1;
  }
  if (!inspect::WriteWholeFile(output, png, reason)) {
    std::cerr << kPrefix << "cannot write " << output << ": " << reason << "\n";
    return 1;
  }
  return 0;
}

namespace render {

bool ParseSize(const std::string& text, int& width, int& height) {
  static const std::regex kSize("([0-9]{1,5})[xX]([0-9]{1,5})");
  std::smatch match;
  if (!std::regex_match(text, match, kSize)) return false;
  width = std::stoi(match[1].str());
  height = std::stoi(match[2].str());
  return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

void SheetGrid(int frames, int& columns, int& rows) {
  const int count = std::max(frames, 1);
  columns = int(std::ceil(std::sqrt(double(count))));
  rows = (count + columns - 1) / columns;
}

Image DrawPicture(const varndel::Model& model, const std::string& file, const Request& request,
                  std::vector<std::string>& warnings) {
  const int width = request.width, height = request.height;
  if (!model.animated && (request.timeGiven || request.frames > 1))
    warnings.push_back("a static model does not move; every time looks the same");
  if (request.skeleton && !model.animated) warnings.push_back("a static model has no skeleton to draw");

  // Bounds first, over every frame; poses are made again for drawing so that
  // a sheet never holds more than one posed copy of the model.
  const std::vector<float> ticks = FrameTicks(model, request.seconds, request.frames);
  Bounds bounds;
  std::optional<Pose> single;  // one frame: posed once
  for (float t : ticks) {
    Pose pose = PoseModel(model, t);
    AddToBounds(pose, request.skeleton, bounds);
    if (ticks.size() == 1) single = std::move(pose);
  }
  const Camera camera = FrameCamera(bounds, request.view, width, height);

  TextureCache cache(request.textureBytes);
  std::vector<const Texture*> textures(model.meshes.size(), nullptr);
  for (size_t m = 0; request.texture && m < model.meshes.size(); ++m) {
    for (const varndel::TextureRef& texture : model.meshes[m].textures) {
      if (texture.type != kDiffuse) continue;
      textures[m] = cache.Find(texture.path, file, warnings);
      break;
    }
  }

  int columns = 1, rows = 1;
  SheetGrid(request.frames, columns, rows);
  Image picture = MakeImage(width * columns, height * rows);
  PixelBudget budget{request.pixelTests};
  size_t mostSkippedNonFinite = 0, mostSkippedIndices = 0, triangles = 0;
  size_t perFrame = 0;  // triangles DrawPose goes through in one frame
  for (const varndel::MeshData& mesh : model.meshes) perFrame += mesh.indices.size() / 3;
  const size_t total = perFrame * ticks.size();
  for (size_t f = 0; f < ticks.size(); ++f) {
    const Pose pose = single ? std::move(*single) : PoseModel(model, ticks[f]);
    const bool sheet = ticks.size() > 1;
    Image cell = sheet ? MakeImage(width, height) : std::move(picture);
    DrawStats stats;
    std::function<void(size_t)> frameProgress;
    if (request.progress)
      frameProgress = [&](size_t visited) { request.progress(f * perFrame + visited, total); };
    DrawPose(model, pose, textures, camera, cell, stats, budget, frameProgress);
    if (request.skeleton) DrawSkeleton(pose, camera, cell, budget);
    if (request.progress && !budget.exhausted) request.progress((f + 1) * perFrame, total);
    if (sheet)
      PasteImage(cell, picture, int(f % size_t(columns)) * width, int(f / size_t(columns)) * height);
    else
      picture = std::move(cell);
    mostSkippedNonFinite = std::max(mostSkippedNonFinite, stats.nonFinite);
    mostSkippedIndices = std::max(mostSkippedIndices, stats.badIndices);
    triangles = std::max(triangles, stats.triangles);
  }
  if (mostSkippedNonFinite > 0)
    warnings.push_back("skipped " + std::to_string(mostSkippedNonFinite) +
                       " triangles with a corner that is not a finite point");
  if (mostSkippedIndices > 0)
    warnings.push_back("skipped " + std::to_string(mostSkippedIndices) +
                       " triangles with an index past their mesh's vertices");
  if (triangles == 0) warnings.push_back("the model has no triangles to draw; the picture is empty");
  if (budget.exhausted)
    warnings.push_back("drawing stopped after " + std::to_string(budget.used) + " pixel tests, the budget of " +
                       std::to_string(request.pixelTests) + "; the picture is incomplete");
  return picture;
}

}  // namespace render
