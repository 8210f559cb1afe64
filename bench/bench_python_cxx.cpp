// The C++ side of bench/bench_python.py: writes its two models and times what
// the Python module's calls wrap.
//   varndel_python_bench write DIR    DIR/grid.staticbin (a 1024 x 600 grid,
//                                     1,225,554 triangles) and DIR/character.animbin
//                                     (the 80-bone character of the player benchmark)
//   varndel_python_bench read FILE N  ReadModelFile N times: the median in ms,
//                                     and the peak RSS growth of the first read in MiB
//   varndel_python_bench evaluate FILE N  AnimationPlayer::Evaluate played forward
//                                     at 60 fps, N calls: ns per call
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

#include "tests/generated_character.h"

namespace {

// VmHWM: the peak RSS of this process image (ru_maxrss would include the
// parent's at the exec).
double PeakRssMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;  // kB
  }
  return 0.0;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

varndel::MeshData MakeGrid(uint32_t columns, uint32_t rows) {
  varndel::MeshData mesh;
  mesh.vertices.resize(size_t(columns) * rows);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      varndel::Vertex& v = mesh.vertices[size_t(r) * columns + c];
      v.position = {float(c) * 0.01f, 0.0f, float(r) * 0.01f};
      v.normal = {0, 1, 0};
      v.texCoords = {float(c) / float(columns - 1), float(r) / float(rows - 1)};
      v.tangent = {1, 0, 0};
      v.bitangent = {0, 0, 1};
    }
  }
  for (uint32_t r = 0; r + 1 < rows; ++r) {
    for (uint32_t c = 0; c + 1 < columns; ++c) {
      const uint32_t i = r * columns + c;
      mesh.indices.insert(mesh.indices.end(), {i, i + columns, i + 1, i + 1, i + columns, i + columns + 1});
    }
  }
  return mesh;
}

void WriteFile(const std::string& path, const varndel::Model& model) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << varndel::WriteModel(model);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 2 ? argv[1] : "";
  if (command == "write") {
    varndel::Model grid;
    grid.meshes.push_back(MakeGrid(1024, 600));
    WriteFile(std::string(argv[2]) + "/grid.staticbin", grid);
    varndel::Model character;
    character.animated = true;
    character.animation = MakeCharacter(30, 30);
    character.meshes.push_back(MakeCharacterMesh(3000));
    WriteFile(std::string(argv[2]) + "/character.animbin", character);
    return 0;
  }
  if ((command == "read" || command == "evaluate") && argc > 3) {
    const int count = std::max(1, std::atoi(argv[3]));
    varndel::Model model;
    const double before = PeakRssMiB();
    if (!varndel::ReadModelFile(argv[2], model)) return 2;
    const double growth = PeakRssMiB() - before;
    if (command == "read") {
      std::vector<double> times;
      for (int i = 0; i < count; ++i) {
        model = varndel::Model{};
        const auto start = std::chrono::steady_clock::now();
        varndel::ReadModelFile(argv[2], model);
        times.push_back(SecondsSince(start) * 1e3);
      }
      std::sort(times.begin(), times.end());
      std::printf("%.3f %.1f\n", times[times.size() / 2], growth);
      return 0;
    }
    varndel::AnimationPlayer player(model.animation);
    std::vector<varndel::Mat4> palette(player.BoneCount());
    const float step = float(player.Prepared().TicksPerSecond() / 60.0);
    float ticks = 0.0f;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      ticks = ticks + step > model.animation.duration ? 0.0f : ticks + step;
      player.Evaluate(ticks, palette.data());
    }
    std::printf("%.1f\n", SecondsSince(start) * 1e9 / count);
    return 0;
  }
  std::fprintf(stderr, "usage: varndel_python_bench write DIR | read FILE N | evaluate FILE N\n");
  return 2;
}
