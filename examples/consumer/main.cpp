// Prints what a compiled model file (.staticbin or .animbin) holds.
// Usage: consumer <file>. Exit 0 when the file was read, 1 when it was
// refused (the reason on stderr), 2 on bad usage.
#include <varndel/reader.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: consumer <compiled model file>\n");
    return 2;
  }
  varndel::Model model;
  varndel::ReadError error;
  if (!varndel::ReadModelFile(argv[1], model, &error)) {
    std::fprintf(stderr, "consumer: %s: %s\n", argv[1], varndel::FormatReadError(error).c_str());
    return 1;
  }

  std::printf("%s model, %zu meshes, %u textures%s\n", model.animated ? "animated" : "static", model.meshes.size(),
              static_cast<unsigned>(model.textureCount), model.flipUVs ? ", UVs flipped" : "");
  for (size_t i = 0; i < model.meshes.size(); ++i) {
    const varndel::MeshData& mesh = model.meshes[i];
    std::printf("mesh %zu: %zu vertices, %zu indices\n", i, mesh.vertices.size(), mesh.indices.size());
    for (const varndel::TextureRef& texture : mesh.textures) {
      std::printf("  texture %s (type %u)\n", texture.path.c_str(), static_cast<unsigned>(texture.type));
    }
  }
  if (model.animated) {
    const varndel::Animation& animation = model.animation;
    std::printf("animation: %g ticks at %g ticks/s, %zu nodes, %zu tracks, %zu bones\n", animation.duration,
                animation.ticksPerSecond, animation.nodes.size(), animation.tracks.size(), animation.boneInfos.size());
    // Pre-order: every parent comes before its children.
    std::vector<int> depth(animation.nodes.size(), 0);
    for (size_t i = 0; i < animation.nodes.size(); ++i) {
      const varndel::Node& node = animation.nodes[i];
      if (node.parent >= 0) depth[i] = depth[node.parent] + 1;
      std::printf("  %*s%s\n", 2 * depth[i], "", node.name.c_str());
    }
  }
  return 0;
}
