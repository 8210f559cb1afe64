// Loading figures on held-out files, with the reader of an installed
// package: shapes the benchmark does not use (a scan with its triangles in
// random order, a thousand small props, a 120 fps motion-capture clip) and
// any compiled files named on the command line.
// Usage: loading_harness [runs [FILE...]]
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <varndel/reader.h>
#include <varndel/writer.h>

#include "bench/loading_table.h"

namespace {

// A w x h sheet of vertices whose triangles come in random order.
varndel::MeshData Scan(uint32_t w, uint32_t h, std::mt19937& random) {
  varndel::MeshData mesh;
  mesh.vertices.resize(size_t(w) * h);
  std::uniform_real_distribution<float> jitter(-0.01f, 0.01f);
  for (size_t i = 0; i < mesh.vertices.size(); ++i) {
    varndel::Vertex& v = mesh.vertices[i];
    v.position = {float(i % w) + jitter(random), float(i / w), jitter(random)};
    v.normal = {0, 0, 1};
    v.texCoords = {float(i % w) / float(w), float(i / w) / float(h)};
  }
  std::vector<uint32_t> cells;
  for (uint32_t c = 0; c < (w - 1) * (h - 1); ++c) cells.push_back(c + c / (w - 1));
  std::shuffle(cells.begin(), cells.end(), random);
  for (const uint32_t i : cells) mesh.indices.insert(mesh.indices.end(), {i, i + 1, i + w, i + 1, i + w + 1, i + w});
  return mesh;
}

// A chain of bones keyed on every frame of every kind.
varndel::Model MocapClip(int bones, int seconds, int fps) {
  varndel::Model model;
  model.animated = true;
  varndel::Animation& animation = model.animation;
  animation.ticksPerSecond = fps;
  animation.duration = float(seconds * fps);
  for (int b = 0; b < bones; ++b) {
    const std::string name = "joint" + std::to_string(b);
    varndel::Node node;
    node.name = name;
    node.transformation = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0.1f, 0, 1};
    node.parent = b - 1;
    node.childCount = b + 1 < bones ? 1 : 0;
    animation.nodes.push_back(node);
    varndel::Track track;
    track.name = name;
    track.id = b;
    for (int f = 0; f <= seconds * fps; ++f) {
      const float t = float(f), angle = 0.3f * float(std::sin(0.05 * f + b));
      track.positions.push_back({{0, 0.1f, 0}, t});
      track.rotations.push_back({{float(std::sin(angle / 2)), 0, 0, float(std::cos(angle / 2))}, t});
      track.scales.push_back({{1, 1, 1}, t});
    }
    track.positionMaxTime = track.rotationMaxTime = track.scaleMaxTime = animation.duration;
    animation.tracks.push_back(std::move(track));
    animation.boneInfos.push_back({name, b, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -0.1f * float(b), 0, 1}});
  }
  std::sort(animation.boneInfos.begin(), animation.boneInfos.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  std::mt19937 random(7);
  model.meshes.push_back(Scan(40, 40, random));
  return model;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int code = loading_table::RunChild(argc, argv); code >= 0) return code;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::mt19937 random(1);
  varndel::Model scan, props;
  scan.meshes.push_back(Scan(800, 700, random));
  for (int m = 0; m < 1000; ++m) {
    props.meshes.push_back(Scan(12, 12, random));
    props.meshes.back().textures = {{"props/prop" + std::to_string(m) + ".png", 1}};
  }
  props.textureCount = 1000;
  std::vector<std::pair<std::string, std::string>> files = {
      {"scan 800x700", loading_table::WriteTemporaryModel("varndel-harness-scan.staticbin", scan)},
      {"1000 props", loading_table::WriteTemporaryModel("varndel-harness-props.staticbin", props)},
      {"mocap 30 bones 120 fps 20 s",
       loading_table::WriteTemporaryModel("varndel-harness-mocap.animbin", MocapClip(30, 20, 120))}};
  for (int i = 2; i < argc; ++i) files.emplace_back(std::filesystem::path(argv[i]).filename().string(), argv[i]);
  loading_table::PrintTable(argv[0], files, runs);
  return 0;
}
