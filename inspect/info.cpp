// varndel-inspect info FILE...: a compact human summary of compiled files.
#include <varndel/sample.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <ostream>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "inspect/report.h"

namespace inspect {

namespace {

// At the rate a player uses: the file's, or 25 where it gives none.
std::string FormatSeconds(const varndel::Animation& animation) {
  const double rate = varndel::TicksPerSecond(animation);
  char text[64];
  std::snprintf(text, sizeof text, "%.4g s at %s ticks/s", double(animation.duration) / rate,
                FormatDouble(rate).c_str());
  if (rate == animation.ticksPerSecond) return text;
  return text + std::string(" (the file gives ") + FormatDouble(animation.ticksPerSecond) + ", played as " +
         FormatDouble(rate) + ")";
}

void WriteAnimation(std::ostream& out, const varndel::Animation& animation, const Palette& palette) {
  out << palette.Bold("animation") << "\n";
  out << "  duration  " << FormatFloat(animation.duration) << " ticks, "
      << FormatSeconds(animation) << "\n";
  out << "  nodes     " << animation.nodes.size() << ", depth " << HierarchyDepth(animation.nodes) << "\n";
  out << "  tracks    " << animation.tracks.size() << "\n";
  for (size_t i = 0; i < animation.tracks.size(); ++i) {
    const varndel::Track& track = animation.tracks[i];
    out << "    " << i << " " << QuoteName(track.name) << " id " << track.id << ": " << track.positions.size()
        << " position, " << track.rotations.size() << " rotation, " << track.scales.size() << " scale keys\n";
  }
  out << "  bone info " << CountOf(animation.boneInfos.size(), "entry", "entries") << "\n";
  for (const varndel::BoneInfoEntry& entry : animation.boneInfos) {
    out << "    " << QuoteName(entry.name) << " id " << entry.id << "\n";
  }
}

}  // namespace

void WriteInfo(std::ostream& out, const std::string& path, const varndel::Model& model, uint64_t bytes,
               const Palette& palette) {
  Box overall;
  const std::vector<Box> boxes = MeshBounds(model, overall);

  out << palette.Bold("file") << "      " << path << "\n";
  out << palette.Bold("kind") << "      " << (model.animated ? "animated" : "static") << "\n";
  out << palette.Bold("flipUVs") << "   " << (model.flipUVs ? "yes" : "no") << "\n";
  out << palette.Bold("size") << "      " << CountOf(bytes, "byte", "bytes") << "\n";
  out << palette.Bold("textures") << "  " << CountOf(model.textureCount, "distinct path", "distinct paths") << "\n";
  out << palette.Bold("meshes") << "    " << model.meshes.size() << "\n";
  out << palette.Bold("bounds") << "    " << FormatBox(overall) << "\n";
  for (size_t m = 0; m < model.meshes.size(); ++m) {
    const varndel::MeshData& mesh = model.meshes[m];
    out << palette.Bold("mesh " + std::to_string(m)) << "    " << CountOf(mesh.vertices.size(), "vertex", "vertices")
        << ", " << CountOf(mesh.indices.size(), "index", "indices") << ", "
        << CountOf(mesh.indices.size() / 3, "triangle", "triangles") << ", "
        << CountOf(mesh.textures.size(), "texture entry", "texture entries") << "\n";
    out << "  bounds  " << FormatBox(boxes[m]) << "\n";
    for (const varndel::TextureRef& texture : mesh.textures) {
      out << "  texture " << QuoteName(texture.path) << " type " << int(texture.type) << " ("
          << TextureTypeName(texture.type) << ")\n";
    }
  }
  if (model.animated) WriteAnimation(out, model.animation, palette);
}

}  // namespace inspect

int RunInfo(int argc, char** argv) {
  CLI::App app{"Prints a compact summary of compiled model files (.staticbin, .animbin).", "varndel-inspect info"};
  std::vector<std::string> files;
  app.add_option("FILE", files, "compiled model files")->required();
  const int parsed = inspect::ParseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;

  const inspect::Palette palette{inspect::StdoutWantsColour()};
  int exitCode = inspect::kExitOk;
  bool first = true;
  for (size_t i = 0; i < files.size(); ++i) {
    varndel::Model model;
    uint64_t bytes = 0;
    if (!inspect::LoadModelFile("info", files[i], model, bytes)) {
      exitCode = inspect::kExitUnreadable;
      continue;
    }
    if (!first) std::cout << "\n";
    first = false;
    inspect::WriteInfo(std::cout, files[i], model, bytes, palette);
  }
  std::cout.flush();
  return exitCode;
}
