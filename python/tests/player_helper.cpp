// Prints what the C++ player gives for a compiled file at each time given:
// per time, one line "palette" with every matrix's 16 floats in file order
// (column-major), then per mesh one line "positions" and one "normals".
// Usage: varndel_python_player_helper FILE TICKS...
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <varndel/player.h>
#include <varndel/reader.h>

static void PrintFloats(const char* label, const float* values, size_t count) {
  std::printf("%s", label);
  for (size_t i = 0; i < count; ++i) std::printf(" %.9g", values[i]);
  std::printf("\n");
}

int main(int argc, char** argv) {
  varndel::Model model;
  varndel::ReadError error;
  if (argc < 2 || !varndel::ReadModelFile(argv[1], model, &error)) {
    std::fprintf(stderr, "%s\n", varndel::FormatReadError(error).c_str());
    return 2;
  }
  varndel::AnimationPlayer player(model.animation);
  std::vector<varndel::Mat4> palette(player.BoneCount());
  for (int a = 2; a < argc; ++a) {
    player.Evaluate(std::strtof(argv[a], nullptr), palette.data());
    PrintFloats("palette", palette.empty() ? nullptr : palette[0].data(), palette.size() * 16);
    for (const varndel::MeshData& mesh : model.meshes) {
      std::vector<varndel::Vec3> positions(mesh.vertices.size()), normals(mesh.vertices.size());
      player.SkinVertices(mesh, palette.data(), positions.data(), normals.data());
      PrintFloats("positions", positions.empty() ? nullptr : positions[0].data(), positions.size() * 3);
      PrintFloats("normals", normals.empty() ? nullptr : normals[0].data(), normals.size() * 3);
    }
  }
  return 0;
}
