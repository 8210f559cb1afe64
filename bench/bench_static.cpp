// Times a large static model (a 1024 x 600 grid, about 1.2 million
// triangles) through each stage separately: the Assimp import, our conversion
// of the scene, the file image with its single write, and the read-back; then
// the GPU-order step (varndel-opt's) against them: the whole compile without
// and with the step, and varndel-opt's work on the compiled file against a
// plain read and write of it.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <assimp/Importer.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <ostream>

#include <varndel/optimize.h>
#include <varndel/writer.h>

#include "bench/ply_grid.h"
#include "model/model.h"
#include "opt/files.h"

namespace {

constexpr int kColumns = 1024;
constexpr int kRows = 600;

const std::string& GridPath() {
  static const std::string path = [] {
    const std::string file = (std::filesystem::temp_directory_path() / "varndel-bench-grid.ply").string();
    WritePlyGrid(file, kColumns, kRows, {"x", "y", "z", "nx", "ny", "nz", "s", "t"}, false,
                 [](int c, int r, float* v) {
                   const float values[8] = {float(c), float(r), 0, 0, 0, 1, float(c) / kColumns, float(r) / kRows};
                   std::copy(values, values + 8, v);
                 });
    return file;
  }();
  return path;
}

const aiScene* ImportedScene(Assimp::Importer& importer) {
  const aiScene* scene = importer.ReadFile(GridPath(), ImportFlags(false));
  if (scene == nullptr) std::cerr << importer.GetErrorString() << "\n";
  return scene;
}

void AssimpImport(benchmark::State& state) {
  for (auto _ : state) {
    Assimp::Importer importer;
    benchmark::DoNotOptimize(ImportedScene(importer));
  }
}

void ConvertSceneStage(benchmark::State& state) {
  Assimp::Importer importer;
  const aiScene* scene = ImportedScene(importer);
  size_t triangles = 0;
  for (auto _ : state) {
    ModelContainer mc;
    ConvertScene(*scene, mc);
    triangles = mc.meshes.at(0).indices.size() / 3;
  }
  state.counters["triangles"] = double(triangles);
}

ModelContainer& ConvertedGrid() {
  static ModelContainer mc = [] {
    Assimp::Importer importer;
    ModelContainer converted;
    ConvertScene(*ImportedScene(importer), converted);
    converted.outputFileName = "varndel-bench-grid.staticbin";
    converted.modelDirectory = std::filesystem::temp_directory_path().string();
    return converted;
  }();
  return mc;
}

void SerializeAndWrite(benchmark::State& state) {
  ModelContainer& mc = ConvertedGrid();
  for (auto _ : state) {
    std::string image;
    SerializeModel(mc, image);
    std::ofstream out(OutputPathOf(mc), std::ios::binary | std::ios::trunc);
    out.write(image.data(), std::streamsize(image.size()));
    out.flush();
    state.counters["bytes"] = double(image.size());
  }
}

void VerifyReadBack(benchmark::State& state) {
  ModelContainer& mc = ConvertedGrid();
  std::string image;
  SerializeModel(mc, image);
  std::ofstream(OutputPathOf(mc), std::ios::binary | std::ios::trunc)
      .write(image.data(), std::streamsize(image.size()));
  std::ostream discard(nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(VerifyModelFile(OutputPathOf(mc), mc, discard));
}

// The whole compile in one process, as varndel-edge runs it: import,
// conversion, (the step,) file image and write, read-back.
void CompileGrid(benchmark::State& state) {
  const bool optimize = state.range(0) != 0;
  const std::string path = (std::filesystem::temp_directory_path() / "varndel-bench-compile.staticbin").string();
  std::ostream discard(nullptr);
  for (auto _ : state) {
    Assimp::Importer importer;
    ModelContainer mc;
    ConvertScene(*ImportedScene(importer), mc);
    if (optimize) {
      varndel::Model model;
      model.meshes.resize(mc.meshes.size());
      for (size_t m = 0; m < mc.meshes.size(); ++m) {
        model.meshes[m].vertices = std::move(mc.meshes[m].vertices);
        model.meshes[m].indices = std::move(mc.meshes[m].indices);
      }
      varndel::OptimizeModel(model);
      for (size_t m = 0; m < mc.meshes.size(); ++m) {
        mc.meshes[m].vertices = std::move(model.meshes[m].vertices);
        mc.meshes[m].indices = std::move(model.meshes[m].indices);
      }
    }
    if (WriteModelImage(mc, path) != kSuccess || VerifyModelFile(path, mc, discard)) {
      state.SkipWithError("compile failed");
    }
  }
}

// The step alone on the converted grid.
void OptimizeStep(benchmark::State& state) {
  varndel::Model grid;
  for (const Mesh& mesh : ConvertedGrid().meshes) grid.meshes.push_back({mesh.vertices, mesh.indices, {}});
  for (auto _ : state) {
    state.PauseTiming();
    varndel::Model model = grid;
    state.ResumeTiming();
    varndel::OptimizeModel(model);
  }
}

const std::string& CompiledGridPath() {
  static const std::string path = [] {
    ModelContainer& mc = ConvertedGrid();
    std::string image;
    SerializeModel(mc, image);
    const std::string file = (std::filesystem::temp_directory_path() / "varndel-bench-opt-in.staticbin").string();
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(image.data(), std::streamsize(image.size()));
    return file;
  }();
  return path;
}

// What varndel-opt does with the compiled file: read, step, write through a
// temporary file that is read back and compared.
void VarndelOptWork(benchmark::State& state) {
  const std::string out = (std::filesystem::temp_directory_path() / "varndel-bench-opt-out.staticbin").string();
  for (auto _ : state) {
    varndel::Model model;
    varndel::ReadModelFile(CompiledGridPath(), model);
    varndel::OptimizeModel(model);
    std::string error;
    if (!WriteCheckedModelFile(out, varndel::WriteModel(model), error)) state.SkipWithError(error.c_str());
  }
}

// The plain read and write it is measured against.
void PlainReadWrite(benchmark::State& state) {
  const std::string out = (std::filesystem::temp_directory_path() / "varndel-bench-plain-out.staticbin").string();
  for (auto _ : state) {
    varndel::Model model;
    varndel::ReadModelFile(CompiledGridPath(), model);
    const std::string bytes = varndel::WriteModel(model);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    file.flush();
  }
}

}  // namespace

BENCHMARK(CompileGrid)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(OptimizeStep)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(VarndelOptWork)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(PlainReadWrite)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(AssimpImport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ConvertSceneStage)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(SerializeAndWrite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(VerifyReadBack)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
