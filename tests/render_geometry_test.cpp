// varndel-inspect render, judged by geometry rather than golden pictures:
// where the model covers the picture, symmetry, mirrored UVs, the posed arm,
// contact sheets, and what bad input does.
#include <gtest/gtest.h>
#include <varndel/reader.h>

#include <cmath>
#include <limits>
#include <set>
#include <sstream>

#include "inspect/commands.h"
#include "inspect/render/render.h"
#include "tests/test_support.h"

namespace {

struct RenderRun {
  int exitCode = -1;
  std::string err;
};

// Runs the render subcommand in this process, capturing stderr.
RenderRun Render(std::vector<std::string> args) {
  args.insert(args.begin(), "render");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::ostringstream err;
  std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
  RenderRun run;
  run.exitCode = RunRender(int(args.size()), argv.data());
  std::cerr.rdbuf(saved);
  run.err = err.str();
  return run;
}

render::Image ReadPng(const fs::path& path) {
  render::Texture decoded;
  std::string reason;
  EXPECT_TRUE(render::LoadTexture(path.string(), decoded, reason)) << path << ": " << reason;
  render::Image image = render::MakeImage(decoded.width, decoded.height);
  for (size_t i = 0, n = size_t(decoded.width) * size_t(decoded.height); i < n; ++i)
    for (size_t c = 0; c < 3; ++c) image.rgb[i * 3 + c] = decoded.rgba[i * 4 + c];
  return image;
}

bool Covered(const render::Image& image, int x, int y) { return render::PixelAt(image, x, y) != render::kBackground; }

// Compiles fixture files copied into dir; returns the compiled file.
fs::path Compile(const ScratchDir& dir, const std::vector<fs::path>& sources, const std::vector<std::string>& args,
                 const std::string& compiled) {
  for (const fs::path& source : sources)
    if (!fs::exists(dir.path / source.filename())) fs::copy_file(source, dir.path / source.filename());
  const RunResult run = RunVarndel(args, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  return dir.path / compiled;
}

TEST(RenderGeometry, UnitQuadCoversTheCentreAndNoCorner) {
  ScratchDir dir;
  const fs::path quad =
      Compile(dir, {FixturePath("quad.obj"), FixturePath("quad.mtl")}, {"0", "0", "quad.obj"}, "quad.staticbin");
  const fs::path png = dir.path / "quad.png";
  for (const char* view : {"front", "back"}) {
    SCOPED_TRACE(view);
    const RenderRun run =
        Render({quad.string(), "-o", png.string(), "--view", view, "--size", "64x48", "--no-texture"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const render::Image image = ReadPng(png);
    ASSERT_EQ(image.width, 64);
    ASSERT_EQ(image.height, 48);
    EXPECT_TRUE(Covered(image, 32, 24));
    for (const auto& [x, y] : {std::pair{0, 0}, {63, 0}, {0, 47}, {63, 47}})
      EXPECT_FALSE(Covered(image, x, y)) << x << "," << y;
    // Seen from behind, the quad shows its back-face tint: red over green.
    const render::Rgb centre = render::PixelAt(image, 32, 24);
    EXPECT_EQ(centre.r > centre.g + 60, std::string(view) == "back") << int(centre.r) << " " << int(centre.g);
  }
}

TEST(RenderGeometry, CubeSilhouetteIsSymmetric) {
  ScratchDir dir;
  const fs::path crate =
      Compile(dir, {ExamplePath("crate.obj"), ExamplePath("crate.mtl")}, {"0", "0", "crate.obj"}, "crate.staticbin");
  const fs::path png = dir.path / "crate.png";
  struct Case {
    const char* view;
    bool upDown;  // symmetric top to bottom too
  };
  for (const Case& c : {Case{"front", true}, Case{"iso", false}}) {
    SCOPED_TRACE(c.view);
    const RenderRun run = Render({crate.string(), "-o", png.string(), "--view", c.view, "--size", "101x101"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("crate_diffuse.png' not found"), std::string::npos) << run.err;  // checker instead
    const render::Image image = ReadPng(png);
    int covered = 0, mismatches = 0;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        covered += Covered(image, x, y);
        mismatches += Covered(image, x, y) != Covered(image, image.width - 1 - x, y);
        if (c.upDown) mismatches += Covered(image, x, y) != Covered(image, x, image.height - 1 - y);
      }
    }
    EXPECT_GT(covered, 101 * 101 / 2);
    EXPECT_LE(mismatches, 4);  // a pixel centre exactly on an edge may fall either way
  }
}

TEST(RenderGeometry, FlippedUvsMirrorTheTextureVertically) {
  ScratchDir dir;
  // wood.png: top half red, bottom half blue.
  render::Image wood = render::MakeImage(4, 4, {255, 0, 0});
  for (int y = 2; y < 4; ++y)
    for (int x = 0; x < 4; ++x) render::SetPixel(wood, x, y, {0, 0, 255});
  std::string bytes;
  ASSERT_TRUE(render::EncodePng(wood, bytes));
  WriteFile(dir.path / "wood.png", bytes);

  render::Image images[2];
  for (int flip = 0; flip < 2; ++flip) {
    const std::string name = "quad" + std::to_string(flip);
    const fs::path quad = Compile(dir, {FixturePath("quad.obj"), FixturePath("quad.mtl")},
                                  {"0", std::to_string(flip), "quad.obj", name}, name + ".staticbin");
    const fs::path png = dir.path / (name + ".png");
    const RenderRun run = Render({quad.string(), "-o", png.string(), "--view", "front", "--size", "40x40"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");  // the texture was found next to the compiled file
    images[flip] = ReadPng(png);
  }
  int compared = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) {
      const render::Rgb a = render::PixelAt(images[0], x, y), b = render::PixelAt(images[1], x, 39 - y);
      EXPECT_TRUE(std::abs(a.r - b.r) <= 2 && std::abs(a.g - b.g) <= 2 && std::abs(a.b - b.b) <= 2)
          << "at " << x << "," << y;
      compared += Covered(images[0], x, y);
    }
  }
  EXPECT_GT(compared, 40 * 40 / 2);
  // The file's v = 0 is the image's top row: flip 1 shows the OBJ's texture
  // upright (red on top), flip 0 upside down.
  const render::Rgb top0 = render::PixelAt(images[0], 20, 10), top1 = render::PixelAt(images[1], 20, 10);
  EXPECT_GT(top0.b, top0.r);
  EXPECT_GT(top1.r, top1.b);
}

TEST(RenderGeometry, AnUndecodableTextureIsDrawnAsACheckerWithAWarning) {
  ScratchDir dir;
  WriteFile(dir.path / "wood.png", "not a picture");
  const fs::path quad =
      Compile(dir, {FixturePath("quad.obj"), FixturePath("quad.mtl")}, {"0", "0", "quad.obj"}, "quad.staticbin");
  const fs::path png = dir.path / "quad.png";
  const RenderRun run = Render({quad.string(), "-o", png.string(), "--view", "front", "--size", "64x64"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("wood.png' cannot be read"), std::string::npos) << run.err;
  const render::Image image = ReadPng(png);
  std::set<int> greys;  // the checker's two squares, both lit alike
  for (int y = 16; y < 48; ++y)
    for (int x = 16; x < 48; ++x) greys.insert(render::PixelAt(image, x, y).g);
  EXPECT_GE(greys.size(), 2u);
}

TEST(RenderGeometry, ArmTipIsWhereTheBendPutsItAtTheFirstAndLastFrame) {
  ScratchDir dir;
  const fs::path arm = Compile(dir, {FixturePath("arm.gltf")}, {"1", "0", "arm.gltf"}, "arm.animbin");
  const fs::path png = dir.path / "arm.png";
  const RenderRun run =
      Render({arm.string(), "-o", png.string(), "--view", "front", "--size", "80x80", "--frames", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const render::Image sheet = ReadPng(png);
  ASSERT_EQ(sheet.width, 160);
  ASSERT_EQ(sheet.height, 80);

  // Both cells share the framing of the bounds over all frames: the straight
  // arm reaches x = 2, the bent one y = 1 (tip 0.2 wide around x = 1).
  render::Bounds bounds;
  bounds.min = {0.0f, -0.1f, 0.0f};
  bounds.max = {2.0f, 1.0f, 0.0f};
  bounds.empty = false;
  const render::Camera camera = render::FrameCamera(bounds, render::View::kFront, 80, 80);
  const render::ScreenPoint straightTip = render::Project(camera, {1.95f, 0.0f, 0.0f});
  const render::ScreenPoint bentTip = render::Project(camera, {1.0f, 0.95f, 0.0f});
  for (int cell = 0; cell < 2; ++cell) {
    SCOPED_TRACE(cell == 0 ? "first frame" : "last frame");
    const auto at = [&](const render::ScreenPoint& p) { return Covered(sheet, cell * 80 + int(p.x), int(p.y)); };
    EXPECT_EQ(at(straightTip), cell == 0);
    EXPECT_EQ(at(bentTip), cell == 1);
  }
}

TEST(RenderGeometry, FourFramesMakeATwoByTwoSheetOfDifferentCells) {
  ScratchDir dir;
  const fs::path arm = Compile(dir, {FixturePath("arm.gltf")}, {"1", "0", "arm.gltf"}, "arm.animbin");
  const fs::path png = dir.path / "sheet.png";
  const RenderRun run = Render({arm.string(), "-o", png.string(), "--size", "48x32", "--frames", "4", "--skeleton"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const render::Image sheet = ReadPng(png);
  ASSERT_EQ(sheet.width, 96);
  ASSERT_EQ(sheet.height, 64);
  std::vector<std::string> cells(4);
  for (int cell = 0; cell < 4; ++cell) {
    for (int y = 0; y < 32; ++y) {
      const size_t row = size_t((cell / 2) * 32 + y) * 96 + size_t(cell % 2) * 48;
      cells[size_t(cell)].append(reinterpret_cast<const char*>(&sheet.rgb[row * 3]), 48 * 3);
    }
  }
  for (size_t a = 0; a < 4; ++a)
    for (size_t b = a + 1; b < 4; ++b) EXPECT_NE(cells[a], cells[b]) << "cells " << a << " and " << b;
}

// A static file: one mesh of the given triangles (positions only).
std::string StaticFile(const std::vector<varndel::Vec3>& corners) {
  Bytes b;
  b.u8(0).u8(0).u64(corners.empty() ? 0 : 1).u16(0);
  if (corners.empty()) return b.data;
  b.u32(uint32_t(corners.size()));
  for (const varndel::Vec3& p : corners) StaticVertex(b, {p[0], p[1], p[2]}, {0, 0, 1}, {0, 0}, {0, 0, 0}, {0, 0, 0});
  b.u32(uint32_t(corners.size()));
  for (uint32_t i = 0; i < corners.size(); ++i) b.u32(i);
  b.u16(0);
  return b.data;
}

TEST(RenderInput, EmptyModelsAndNonFiniteCornersDrawWhatTheyCanWithAWarning) {
  ScratchDir dir;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  WriteFile(dir.path / "empty.staticbin", StaticFile({}));
  WriteFile(dir.path / "holes.staticbin",
            StaticFile({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 0}, {nan, 6, 0}, {5, 6, 0}}));
  struct Case {
    const char* file;
    const char* warning;
    bool drawn;
  };
  for (const Case& c :
       {Case{"empty.staticbin", "no triangles", false},
        Case{"holes.staticbin", "skipped 1 triangles with a corner that is not a finite point", true}}) {
    SCOPED_TRACE(c.file);
    const fs::path png = dir.path / "out.png";
    const RenderRun run = Render({(dir.path / c.file).string(), "-o", png.string(), "--size", "32x32"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
    const render::Image image = ReadPng(png);
    ASSERT_EQ(image.width, 32);
    bool any = false;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) any = any || Covered(image, x, y);
    EXPECT_EQ(any, c.drawn);
  }
}

TEST(RenderInput, BadInputFailsWithoutWritingAPicture) {
  ScratchDir dir;
  WriteFile(dir.path / "short.staticbin", std::string("\x00\x00\x01", 3));
  WriteFile(dir.path / "empty.staticbin", StaticFile({}));
  const std::string png = (dir.path / "out.png").string();
  const std::string good = (dir.path / "empty.staticbin").string();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string message;  // "" : the reader's error for args[0]
  };
  const Case cases[] = {
      {{(dir.path / "missing.staticbin").string(), "-o", png}, 2, ""},
      {{(dir.path / "short.staticbin").string(), "-o", png}, 2, ""},
      {{good, "-o", png, "--size", "0x10"}, 2, "--size '0x10'"},
      {{good, "-o", png, "--size", "big"}, 2, "--size 'big'"},
      {{good, "-o", png, "--view", "side"}, 2, "side"},
      {{good, "-o", png, "--frames", "0"}, 2, "--frames"},
      {{good, "-o", png, "--time", "1", "--frames", "2"}, 2, "excludes"},
      {{good, "-o", png, "--time", "nan"}, 2, "--time"},
      {{good}, 2, "--output"},
      {{good, "-o", good}, 2, "is the input file"},
      {{good, "-o", (dir.path / "no-such-dir" / "out.png").string()}, 1, "cannot write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const RenderRun run = Render(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    std::string expected = c.message;
    if (expected.empty()) {
      varndel::Model model;
      varndel::ReadError error;
      ASSERT_FALSE(varndel::ReadModelFile(c.args[0], model, &error));
      expected = varndel::FormatReadError(error);
    }
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(png));
    EXPECT_EQ(ReadFile(good), StaticFile({}));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 2);  // no leftovers
}

}  // namespace
