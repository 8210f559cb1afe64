// Times a large static model (a 1024 x 600 grid, about 1.2 million
// triangles) through each stage separately: the Assimp import, our conversion
// of the scene, the file image with its single write, and the read-back.
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

#include "bench/ply_grid.h"
#include "model/model.h"

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

}  // namespace

BENCHMARK(AssimpImport)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ConvertSceneStage)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(SerializeAndWrite)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(VerifyReadBack)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
