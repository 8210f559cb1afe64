// Renders a large static model (a 1000 x 751 wavy grid, about 1.5 million
// triangles) and compiles the same model with the real binary, so the two
// can be compared: `render` must take well under the time of a compile.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/ply_grid.h"
#include "inspect/commands.h"
#include "inspect/render/render.h"

namespace {

namespace fs = std::filesystem;

constexpr int kColumns = 1000;
constexpr int kRows = 751;  // (1000 - 1) * (751 - 1) * 2 = 1,498,500 triangles

const fs::path& BenchDirectory() {
  static const fs::path directory = [] {
    const fs::path path = fs::temp_directory_path() / "varndel-bench-render";
    fs::create_directories(path);
    return path;
  }();
  return directory;
}

// The grid as binary PLY: quads, triangulated by the import.
const fs::path& GridSource() {
  static const fs::path file = [] {
    const fs::path path = BenchDirectory() / "wavy.ply";
    WritePlyGrid(path, kColumns, kRows, {"x", "y", "z", "s", "t"}, true, [](int c, int r, float* v) {
      const float height = float(20.0 * std::sin(c / 40.0) * std::cos(r / 55.0));
      const float values[5] = {float(c), height, float(r), float(c) / kColumns, float(r) / kRows};
      std::copy(values, values + 5, v);
    });
    return path;
  }();
  return file;
}

int RunCompilerBinary() {
  const std::string command =
      "cd '" + BenchDirectory().string() + "' && '" VARNDEL_EXE "' 0 0 '" + GridSource().string() + "' > /dev/null";
  return std::system(command.c_str());
}

const std::string& CompiledGrid() {
  static const std::string path = [] {
    if (RunCompilerBinary() != 0) std::cerr << "compiling the grid failed\n";
    return (BenchDirectory() / "wavy.staticbin").string();
  }();
  return path;
}

// The whole compile: import, conversion, file image, write and read-back.
void CompileWithBinary(benchmark::State& state) {
  GridSource();
  for (auto _ : state) {
    if (RunCompilerBinary() != 0) state.SkipWithError("Varndel failed");
  }
}

// The whole command: read the file, pose, frame, rasterise 512x512, encode
// and write the PNG.
void RenderCommand(benchmark::State& state) {
  const std::string input = CompiledGrid();
  const std::string output = (BenchDirectory() / "wavy.png").string();
  for (auto _ : state) {
    std::vector<std::string> args = {"render", input, "-o", output};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    if (RunRender(int(argv.size()), argv.data()) != 0) state.SkipWithError("render failed");
  }
}

// Only the drawing: pose, bounds, camera and rasteriser, model already read.
void RasteriseOnly(benchmark::State& state) {
  varndel::Model model;
  if (!varndel::ReadModelFile(CompiledGrid(), model)) {
    state.SkipWithError("cannot read the compiled grid");
    return;
  }
  size_t triangles = 0;
  for (auto _ : state) {
    const render::Pose pose = render::PoseModel(model, 0.0f);
    render::Bounds bounds;
    render::AddToBounds(pose, false, bounds);
    const render::Camera camera = render::FrameCamera(bounds, render::View::kIso, 512, 512);
    render::Image image = render::MakeImage(512, 512);
    render::DrawStats stats;
    render::PixelBudget budget{render::kPixelTestBudget};
    render::DrawPose(model, pose, {}, camera, image, stats, budget);
    triangles = stats.triangles;
  }
  state.counters["triangles"] = double(triangles);
}

}  // namespace

BENCHMARK(CompileWithBinary)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(RenderCommand)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(RasteriseOnly)->Unit(benchmark::kMillisecond)->Iterations(5);
