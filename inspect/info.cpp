// varndel-inspect info FILE...: a compact human summary of compiled files.
#include <varndel/sample.h>

#include <CLI/CLI.hpp>
#include <varndel/optimize.h>
#include <varndel/takes.h>
#include <varndel/textures.h>
#include <varndel/writer.h>

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

// "ACMR 0.75, ATVR 1.12, overfetch 1.03[, overdraw 1.21]", for a 16-entry FIFO cache.
std::string FormatStats(const varndel::MeshStats& stats, bool overdraw) {
  if (!stats.valid) return "no figures (no whole triangles, or an index out of range)";
  char text[128];
  std::snprintf(text, sizeof text, "ACMR %.3f, ATVR %.3f, overfetch %.3f", stats.acmr, stats.atvr, stats.overfetch);
  std::string line = text;
  if (overdraw && stats.hasOverdraw) {
    std::snprintf(text, sizeof text, ", overdraw %.3f", stats.overdraw);
    line += text;
  } else if (overdraw && stats.overdrawWork > varndel::kOverdrawWorkBudget) {
    std::snprintf(text, sizeof text, ", overdraw not measured (%.3g pixel tests, above the budget of %.3g)",
                  stats.overdrawWork, varndel::kOverdrawWorkBudget);
    line += text;
  } else if (overdraw) {
    line += ", overdraw unknown (a position is not finite)";
  }
  return line;
}

void WriteAnimation(std::ostream& out, const varndel::Animation& animation, const Palette& palette) {
  out << palette.Bold("animation") << "\n";
  out << "  duration  " << FormatFloat(animation.duration) << " ticks, "
      << FormatSeconds(animation) << "\n";
  out << "  keys      " << varndel::CountKeys(animation) << ", animation sections " << varndel::AnimationBytes(animation)
      << " bytes\n";
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

void WriteInfo(std::ostream& out, const std::string& path, const varndel::MappedModel& model, uint64_t bytes,
               const Palette& palette, bool stats) {
  Box overall;
  const std::vector<Box> boxes = MeshBounds(model, overall);
  const std::vector<varndel::MappedMesh>& meshes = model.meshes();

  out << palette.Bold("file") << "      " << path << "\n";
  if (const size_t lod = varndel::LodLevelOf(path); lod != 0) out << palette.Bold("lod") << "       " << lod << "\n";
  if (const std::optional<varndel::TakeRecordEntry> take = varndel::FindTakeRecord(path)) {
    out << palette.Bold("take") << "      " << take->index << " " << take->quotedName << (take->clip ? ", clip" : "")
        << " (listed in " << QuoteName(take->recordFile) << ")\n";
  }
  out << palette.Bold("kind") << "      " << (model.animated() ? "animated" : "static") << "\n";
  out << palette.Bold("flipUVs") << "   " << (model.flipUVs() ? "yes" : "no") << "\n";
  out << palette.Bold("size") << "      " << CountOf(bytes, "byte", "bytes") << "\n";
  out << palette.Bold("textures") << "  " << CountOf(model.textureCount(), "distinct path", "distinct paths") << "\n";
  out << palette.Bold("meshes") << "    " << meshes.size() << "\n";
  out << palette.Bold("bounds") << "    " << FormatBox(overall) << "\n";
  for (size_t m = 0; m < meshes.size(); ++m) {
    const varndel::MappedMesh& mesh = meshes[m];
    out << palette.Bold("mesh " + std::to_string(m)) << "    " << CountOf(mesh.vertexCount(), "vertex", "vertices")
        << ", " << CountOf(mesh.indexCount(), "index", "indices") << ", "
        << CountOf(mesh.indexCount() / 3, "triangle", "triangles") << ", "
        << CountOf(mesh.textures().size(), "texture entry", "texture entries") << "\n";
    out << "  bounds  " << FormatBox(boxes[m]) << "\n";
    out << "  gpu     " << FormatStats(AnalyzeMappedMesh(mesh, stats), stats) << "\n";
    for (const varndel::MappedTexture& texture : mesh.textures()) {
      out << "  texture " << QuoteName(texture.path) << " type " << int(texture.type) << " ("
          << TextureTypeName(texture.type) << ")";
      if (const std::optional<std::string> file = varndel::ResolveTexture(std::string(texture.path), path)) {
        out << " -> " << QuoteName(*file);
      }
      out << "\n";
    }
  }
  if (model.animated()) WriteAnimation(out, model.animation(), palette);
}

}  // namespace inspect

int RunInfo(int argc, char** argv) {
  CLI::App app{"Prints a compact summary of compiled model files (.staticbin, .animbin).", "varndel-inspect info"};
  std::vector<std::string> files;
  bool stats = false;
  app.add_option("FILE", files, "compiled model files")->required();
  app.add_flag("--stats", stats, "add each mesh's overdraw (rasterises every mesh)");
  const int parsed = inspect::ParseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;

  const inspect::Palette palette{inspect::StdoutWantsColour()};
  int exitCode = inspect::kExitOk;
  bool first = true;
  for (size_t i = 0; i < files.size(); ++i) {
    varndel::MappedModel model;
    if (!inspect::OpenModelFile("info", files[i], model)) {
      exitCode = inspect::kExitUnreadable;
      continue;
    }
    if (!first) std::cout << "\n";
    first = false;
    inspect::WriteInfo(std::cout, files[i], model, model.size(), palette, stats);
  }
  std::cout.flush();
  return exitCode;
}
