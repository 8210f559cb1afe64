// varndel_gpu_figures FILE...: the vertex-cache figure of compiled files and
// of glTF files (read through Assimp, indices as stored), with the same
// meshoptimizer call as varndel-inspect: one line per file, "<ACMR>
// <triangles>", the ACMR weighted by triangles over all meshes.
// varndel_gpu_figures --time FILE: milliseconds of the GPU-order step on a
// compiled file (the fastest of three runs). Used by tools/bench_optimize.sh.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <varndel/optimize.h>
#include <varndel/reader.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool IsCompiled(const std::string& path) {
  return path.size() > 4 && (path.rfind(".staticbin") == path.size() - 10 || path.rfind(".animbin") == path.size() - 8);
}

// Triangle meshes of a glTF as MeshData: positions and indices as stored.
bool ReadScene(const std::string& path, varndel::Model& model) {
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(path, aiProcess_SortByPType);
  if (scene == nullptr) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), importer.GetErrorString());
    return false;
  }
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh& source = *scene->mMeshes[m];
    if (source.mPrimitiveTypes != aiPrimitiveType_TRIANGLE) continue;
    varndel::MeshData& mesh = model.meshes.emplace_back();
    mesh.vertices.resize(source.mNumVertices);
    for (unsigned v = 0; v < source.mNumVertices; ++v) {
      mesh.vertices[v].position = {source.mVertices[v].x, source.mVertices[v].y, source.mVertices[v].z};
    }
    for (unsigned f = 0; f < source.mNumFaces; ++f) {
      for (unsigned c = 0; c < 3; ++c) mesh.indices.push_back(source.mFaces[f].mIndices[c]);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--time") == 0) {
    varndel::Model compiled;
    if (!varndel::ReadModelFile(argv[2], compiled)) return 1;
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
      varndel::Model model = compiled;
      const auto start = std::chrono::steady_clock::now();
      varndel::OptimizeModel(model);
      best =
          std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("%.3f\n", best);
    return 0;
  }
  int code = 0;
  for (int i = 1; i < argc; ++i) {
    varndel::Model model;
    const std::string path = argv[i];
    if (IsCompiled(path) ? !varndel::ReadModelFile(path, model) : !ReadScene(path, model)) {
      std::printf("- 0\n");
      code = 1;
      continue;
    }
    double transformed = 0;
    size_t triangles = 0;
    for (const varndel::MeshData& mesh : model.meshes) {
      const varndel::MeshStats stats = varndel::AnalyzeMesh(mesh, false);
      if (!stats.valid) continue;
      transformed += double(stats.acmr) * double(mesh.indices.size() / 3);
      triangles += mesh.indices.size() / 3;
    }
    std::printf("%.4f %zu\n", triangles ? transformed / double(triangles) : 0.0, triangles);
  }
  return code;
}
