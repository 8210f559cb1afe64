// Loading figures, side by side on three files: a 1024 x 600 grid (1.2 M
// triangles), a model of 200 meshes and the baked 60-bone, 10 s clip. Each
// way of loading (bench/loading_table.h) runs in a child process of its own:
// a plain read() into fresh memory (the floor), ReadModelFile, the whole file
// then ReadModel, opening a MappedModel, and opening one and touching every
// vertex. Times are the best of several interleaved runs, with the file in
// the page cache.
// POSIX only. Usage: varndel_loading_bench [runs [file]], file a part of
// a file's name in the table ("clip") to time that file alone.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <varndel/reader.h>
#include <varndel/writer.h>

#include "bench/baked_clip.h"
#include "bench/loading_table.h"

namespace {

// A w x h grid of vertices in one mesh, two triangles per cell.
varndel::MeshData Grid(uint32_t w, uint32_t h) {
  varndel::MeshData mesh;
  mesh.vertices.resize(size_t(w) * h);
  for (uint32_t r = 0; r < h; ++r)
    for (uint32_t c = 0; c < w; ++c) {
      varndel::Vertex& v = mesh.vertices[size_t(r) * w + c];
      v.position = {float(c), float(r), 0};
      v.normal = {0, 0, 1};
      v.texCoords = {float(c) / float(w), float(r) / float(h)};
    }
  for (uint32_t r = 0; r + 1 < h; ++r)
    for (uint32_t c = 0; c + 1 < w; ++c) {
      const uint32_t i = r * w + c;
      mesh.indices.insert(mesh.indices.end(), {i, i + 1, i + w, i + 1, i + w + 1, i + w});
    }
  return mesh;
}

std::vector<std::pair<std::string, std::string>> BenchFiles() {
  varndel::Model grid;
  grid.meshes.push_back(Grid(1024, 600));
  varndel::Model meshes;
  for (int m = 0; m < 200; ++m) {
    meshes.meshes.push_back(Grid(64, 32));
    meshes.meshes.back().textures = {{"textures\\mesh" + std::to_string(m) + "_diffuse.png", 1},
                                     {"textures\\mesh" + std::to_string(m) + "_normals.png", 6}};
  }
  meshes.textureCount = 400;
  return {{"grid 1024x600", loading_table::WriteTemporaryModel("varndel-bench-load-grid.staticbin", grid)},
          {"200 meshes", loading_table::WriteTemporaryModel("varndel-bench-load-meshes.staticbin", meshes)},
          {"baked clip", loading_table::WriteTemporaryModel("varndel-bench-load-clip.animbin", MakeBakedClip())}};
}

}  // namespace

int main(int argc, char** argv) {
  if (const int code = loading_table::RunChild(argc, argv); code >= 0) return code;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  auto files = BenchFiles();
  if (argc > 2)
    std::erase_if(files, [&](const auto& file) { return file.first.find(argv[2]) == std::string::npos; });
  loading_table::PrintTable(argv[0], files, runs);
  return 0;
}
