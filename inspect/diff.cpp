// varndel-inspect diff A B: compares two compiled files field by field.
// Floats compare by value (0 equals -0, and NaN equals NaN), without any
// tolerance: a recompile of the same source gives the same numbers.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <ostream>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "inspect/report.h"

namespace inspect {

namespace {

bool SameFloat(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

template <typename Array>
bool SameFloats(const Array& a, const Array& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameFloat(a[i], b[i])) return false;
  }
  return true;
}

// Counts every difference per field and prints the first `limit` of them.
class Differ {
 public:
  Differ(std::ostream& out, uint64_t limit, const Palette& palette) : out_(out), limit_(limit), palette_(palette) {}

  // element and the two values are built only for differences that are shown.
  template <typename Element, typename ValueA, typename ValueB>
  void Report(const std::string& field, Element&& element, ValueA&& a, ValueB&& b) {
    ++summary_.total;
    if (summary_.byField.empty() || summary_.byField.back().first != field) {
      auto it = std::find_if(summary_.byField.begin(), summary_.byField.end(),
                             [&field](const auto& entry) { return entry.first == field; });
      if (it == summary_.byField.end()) {
        summary_.byField.emplace_back(field, 0);
        it = summary_.byField.end() - 1;
      }
      ++it->second;
    } else {
      ++summary_.byField.back().second;
    }
    if (limit_ != 0 && summary_.total > limit_) return;
    out_ << element() << ": " << palette_.Red(a()) << " -> " << palette_.Green(b()) << "\n";
  }

  template <typename Integer>
  void Count(const std::string& field, const std::string& element, Integer a, Integer b) {
    if (a != b)
      Report(
          field, [&] { return element; }, [&] { return std::to_string(a); }, [&] { return std::to_string(b); });
  }
  void Text(const std::string& field, const std::string& element, const std::string& a, const std::string& b) {
    if (a != b)
      Report(
          field, [&] { return element; }, [&] { return QuoteName(a); }, [&] { return QuoteName(b); });
  }
  template <typename Array>
  void Floats(const std::string& field, const std::string& element, const Array& a, const Array& b) {
    if (!SameFloats(a, b)) {
      Report(
          field, [&] { return element; }, [&] { return FormatVector(a); }, [&] { return FormatVector(b); });
    }
  }

  DiffSummary Summary() const { return summary_; }

 private:
  std::ostream& out_;
  uint64_t limit_;
  const Palette& palette_;
  DiffSummary summary_;
};

void DiffVertices(Differ& d, size_t m, const std::vector<varndel::Vertex>& a, const std::vector<varndel::Vertex>& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t v = 0; v < common; ++v) {
    const varndel::Vertex &x = a[v], &y = b[v];
    if (std::memcmp(&x, &y, sizeof x) == 0) continue;
    const auto element = [m, v](const char* field) {
      return "mesh " + std::to_string(m) + " vertex " + std::to_string(v) + " " + field;
    };
    const auto floats = [&](const char* field, const auto& p, const auto& q) {
      if (!SameFloats(p, q)) {
        d.Report(
            std::string("vertex ") + field, [&] { return element(field); }, [&] { return FormatVector(p); },
            [&] { return FormatVector(q); });
      }
    };
    floats("position", x.position, y.position);
    floats("normal", x.normal, y.normal);
    floats("texCoords", x.texCoords, y.texCoords);
    floats("tangent", x.tangent, y.tangent);
    floats("bitangent", x.bitangent, y.bitangent);
    if (x.boneIDs != y.boneIDs) {
      d.Report(
          "vertex boneIDs", [&] { return element("boneIDs"); }, [&] { return FormatIntVector(x.boneIDs); },
          [&] { return FormatIntVector(y.boneIDs); });
    }
    floats("weights", x.weights, y.weights);
  }
}

void DiffMesh(Differ& d, size_t m, const varndel::MeshData& a, const varndel::MeshData& b) {
  const std::string scope = "mesh " + std::to_string(m);
  d.Count("mesh vertex count", scope + " vertices", a.vertices.size(), b.vertices.size());
  DiffVertices(d, m, a.vertices, b.vertices);
  d.Count("mesh index count", scope + " indices", a.indices.size(), b.indices.size());
  const size_t commonIndices = std::min(a.indices.size(), b.indices.size());
  for (size_t i = 0; i < commonIndices; ++i) {
    if (a.indices[i] == b.indices[i]) continue;
    d.Report(
        "index", [&] { return scope + " index " + std::to_string(i); }, [&] { return std::to_string(a.indices[i]); },
        [&] { return std::to_string(b.indices[i]); });
  }
  d.Count("mesh texture count", scope + " textures", a.textures.size(), b.textures.size());
  for (size_t t = 0; t < std::min(a.textures.size(), b.textures.size()); ++t) {
    const std::string element = scope + " texture " + std::to_string(t);
    d.Text("texture path", element + " path", a.textures[t].path, b.textures[t].path);
    d.Count("texture type", element + " type", int(a.textures[t].type), int(b.textures[t].type));
  }
}

template <typename Key, size_t N>
void DiffKeys(Differ& d, const std::string& scope, const char* kind, const std::vector<Key>& a,
              const std::vector<Key>& b, const std::array<float, N> Key::*value) {
  d.Count(std::string(kind) + " key count", scope + " " + kind + " keys", a.size(), b.size());
  for (size_t k = 0; k < std::min(a.size(), b.size()); ++k) {
    const std::string element = scope + " " + kind + " key " + std::to_string(k);
    if (!SameFloat(a[k].timeStamp, b[k].timeStamp)) {
      d.Report(
          std::string(kind) + " key time", [&] { return element + " time"; },
          [&] { return FormatFloat(a[k].timeStamp); }, [&] { return FormatFloat(b[k].timeStamp); });
    }
    d.Floats(std::string(kind) + " key value", element + " value", a[k].*value, b[k].*value);
  }
}

void DiffAnimation(Differ& d, const varndel::Animation& a, const varndel::Animation& b) {
  if (!SameFloat(a.duration, b.duration)) {
    d.Report(
        "duration", [] { return std::string("duration"); }, [&] { return FormatFloat(a.duration); },
        [&] { return FormatFloat(b.duration); });
  }
  if (!(a.ticksPerSecond == b.ticksPerSecond || (std::isnan(a.ticksPerSecond) && std::isnan(b.ticksPerSecond)))) {
    d.Report(
        "ticksPerSecond", [] { return std::string("ticksPerSecond"); }, [&] { return FormatDouble(a.ticksPerSecond); },
        [&] { return FormatDouble(b.ticksPerSecond); });
  }
  d.Count("node count", "nodes", a.nodes.size(), b.nodes.size());
  for (size_t n = 0; n < std::min(a.nodes.size(), b.nodes.size()); ++n) {
    const varndel::Node &x = a.nodes[n], &y = b.nodes[n];
    const std::string element = "node " + std::to_string(n);
    d.Floats("node transformation", element + " " + QuoteName(x.name) + " transformation", x.transformation,
             y.transformation);
    d.Text("node name", element + " name", x.name, y.name);
    d.Count("node parent", element + " parent", x.parent, y.parent);
    d.Count("node children", element + " children", x.childCount, y.childCount);
  }
  d.Count("track count", "tracks", a.tracks.size(), b.tracks.size());
  for (size_t t = 0; t < std::min(a.tracks.size(), b.tracks.size()); ++t) {
    const varndel::Track &x = a.tracks[t], &y = b.tracks[t];
    const std::string scope = "track " + std::to_string(t) + " " + QuoteName(x.name);
    DiffKeys(d, scope, "position", x.positions, y.positions, &varndel::PositionKey::position);
    DiffKeys(d, scope, "rotation", x.rotations, y.rotations, &varndel::RotationKey::orientation);
    DiffKeys(d, scope, "scale", x.scales, y.scales, &varndel::ScaleKey::scale);
    const varndel::Vec3 maxA{x.positionMaxTime, x.rotationMaxTime, x.scaleMaxTime};
    const varndel::Vec3 maxB{y.positionMaxTime, y.rotationMaxTime, y.scaleMaxTime};
    d.Floats("track max times", scope + " max times (position, rotation, scale)", maxA, maxB);
    d.Text("track name", "track " + std::to_string(t) + " name", x.name, y.name);
    d.Count("track id", scope + " id", x.id, y.id);
  }
  d.Count("bone info count", "bone infos", a.boneInfos.size(), b.boneInfos.size());
  for (size_t i = 0; i < std::min(a.boneInfos.size(), b.boneInfos.size()); ++i) {
    const varndel::BoneInfoEntry &x = a.boneInfos[i], &y = b.boneInfos[i];
    const std::string element = "bone info " + std::to_string(i);
    d.Text("bone info name", element + " name", x.name, y.name);
    d.Count("bone info id", element + " " + QuoteName(x.name) + " id", x.id, y.id);
    d.Floats("bone info offset", element + " " + QuoteName(x.name) + " offset", x.offset, y.offset);
  }
}

}  // namespace

DiffSummary DiffModels(const varndel::Model& a, const varndel::Model& b, std::ostream& out, uint64_t limit,
                       const Palette& palette) {
  Differ d(out, limit, palette);
  const auto kind = [](const varndel::Model& model) { return std::string(model.animated ? "animated" : "static"); };
  if (a.animated != b.animated)
    d.Report(
        "kind", [] { return std::string("kind"); }, [&] { return kind(a); }, [&] { return kind(b); });
  if (a.flipUVs != b.flipUVs) {
    const auto text = [](bool flip) { return std::string(flip ? "true" : "false"); };
    d.Report(
        "flipUVs", [] { return std::string("flipUVs"); }, [&] { return text(a.flipUVs); },
        [&] { return text(b.flipUVs); });
  }
  d.Count("mesh count", "meshes", a.meshes.size(), b.meshes.size());
  d.Count("textureCount", "textureCount", a.textureCount, b.textureCount);
  for (size_t m = 0; m < std::min(a.meshes.size(), b.meshes.size()); ++m) DiffMesh(d, m, a.meshes[m], b.meshes[m]);
  if (a.animated && b.animated) DiffAnimation(d, a.animation, b.animation);
  return d.Summary();
}

}  // namespace inspect

int RunDiff(int argc, char** argv) {
  CLI::App app{
      "Compares two compiled model files field by field. Prints the first differences, each with the element "
      "and both values (A -> B), then a count of all of them.\nExit 0 when equal, 1 when they differ, 2 when a "
      "file cannot be read.",
      "varndel-inspect diff"};
  std::string fileA, fileB;
  uint64_t limit = 20;
  app.add_option("A", fileA, "first compiled model file")->required();
  app.add_option("B", fileB, "second compiled model file")->required();
  app.add_option("-n,--limit", limit, "differences to print (0: all)")->capture_default_str();
  const int parsed = inspect::ParseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;

  varndel::Model a, b;
  uint64_t bytesA = 0, bytesB = 0;
  if (!inspect::LoadModelFile("diff", fileA, a, bytesA) || !inspect::LoadModelFile("diff", fileB, b, bytesB)) {
    return inspect::kExitUnreadable;
  }
  const inspect::Palette palette{inspect::StdoutWantsColour()};
  const inspect::DiffSummary summary = inspect::DiffModels(a, b, std::cout, limit, palette);
  if (summary.total == 0) {
    std::cout << "no differences" << std::endl;
    return inspect::kExitOk;
  }
  if (limit != 0 && summary.total > limit) std::cout << "... " << summary.total - limit << " more not shown\n";
  std::cout << inspect::CountOf(summary.total, "difference", "differences") << ":";
  for (size_t i = 0; i < summary.byField.size(); ++i) {
    std::cout << (i ? ", " : " ") << summary.byField[i].first << " " << summary.byField[i].second;
  }
  std::cout << std::endl;
  return inspect::kExitFindings;
}
