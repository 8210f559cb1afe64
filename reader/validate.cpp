#include <varndel/validate.h>

#include <varndel/mapped.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "reader/text.h"

namespace varndel {

using text::CountOf;
using text::FormatDouble;
using text::FormatFloat;
using text::FormatVector;
using text::QuoteName;

namespace {

constexpr double kUnitTolerance = 1e-3;  // for normal lengths and weight sums
constexpr size_t kShownPositions = 5;    // positions named per grouped finding

// All occurrences of one defect in one element (a mesh, a track): the first
// is described in full, the next few only by position, the rest counted.
struct Group {
  Severity severity = Severity::kError;
  std::string scope;   // "mesh 2", "track 'Spine'", or "" for the file
  std::string noun;    // "index"; empty when the scope is the element
  std::string plural;  // "indices"
  std::string suffix;  // after the position: " normal"
  uint64_t count = 0;
  std::string firstDetail;
  std::vector<std::string> positions;

  template <typename Detail>
  void Add(uint64_t position, Detail&& detail) {
    if (count == 0) firstDetail = detail();
    if (positions.size() < kShownPositions) positions.push_back(std::to_string(position));
    ++count;
  }

  Finding ToFinding() const {
    Finding finding;
    finding.severity = severity;
    finding.element = scope;
    if (!noun.empty()) finding.element += (scope.empty() ? "" : " ") + noun + " " + positions.front();
    finding.element += suffix;
    finding.message = firstDetail;
    if (count > 1) {
      finding.message += " (and " + std::to_string(count - 1) + " more " + (count == 2 ? noun : plural) + ": ";
      for (size_t i = 1; i < positions.size(); ++i) finding.message += (i > 1 ? ", " : "") + positions[i];
      if (count > positions.size()) finding.message += ", ...";
      finding.message += ")";
    }
    return finding;
  }
};

Group MakeGroup(Severity severity, std::string scope, std::string noun, std::string plural, std::string suffix = "") {
  Group group;
  group.severity = severity;
  group.scope = std::move(scope);
  group.noun = std::move(noun);
  group.plural = std::move(plural);
  group.suffix = std::move(suffix);
  return group;
}

void Collect(std::vector<Finding>& findings, std::initializer_list<const Group*> groups) {
  for (const Group* group : groups) {
    if (group->count > 0) findings.push_back(group->ToFinding());
  }
}

bool IsFinite(const Vec3& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// Bone numbers that have a bone-info entry, for lookups per bone slot.
class BoneNumbers {
 public:
  explicit BoneNumbers(const std::vector<BoneInfoEntry>& entries) {
    for (const BoneInfoEntry& entry : entries) ids_.push_back(entry.id);
    std::sort(ids_.begin(), ids_.end());
  }
  bool Contains(int32_t id) const { return std::binary_search(ids_.begin(), ids_.end(), id); }

 private:
  std::vector<int32_t> ids_;
};

// One mesh's records as the checks read them: a model's in place, a mapped
// file's one copied record at a time (its blocks are not aligned for Vertex).
size_t VertexCount(const MeshData& mesh) { return mesh.vertices.size(); }
size_t VertexCount(const MappedMesh& mesh) { return mesh.vertexCount(); }
size_t IndexCount(const MeshData& mesh) { return mesh.indices.size(); }
size_t IndexCount(const MappedMesh& mesh) { return mesh.indexCount(); }
const Vertex& VertexAt(const MeshData& mesh, size_t v) { return mesh.vertices[v]; }
Vertex VertexAt(const MappedMesh& mesh, size_t v) { return mesh.vertex(v); }
uint32_t IndexAt(const MeshData& mesh, size_t i) { return mesh.indices[i]; }
uint32_t IndexAt(const MappedMesh& mesh, size_t i) { return mesh.index(i); }
const std::vector<TextureRef>& TexturesOf(const MeshData& mesh) { return mesh.textures; }
const std::vector<MappedTexture>& TexturesOf(const MappedMesh& mesh) { return mesh.textures(); }

// Bone slots count in animated files only, as a static file's bone slots
// mean nothing to an engine.
template <typename Mesh>
void CheckMesh(size_t m, const Mesh& mesh, bool animated, const BoneNumbers& boneNumbers,
               std::vector<Finding>& findings) {
  const std::string scope = "mesh " + std::to_string(m);
  const size_t vertexCount = VertexCount(mesh);
  const size_t indexCount = IndexCount(mesh);

  Group badIndex = MakeGroup(Severity::kError, scope, "index", "indices");
  for (size_t i = 0; i < indexCount; ++i) {
    const uint32_t index = IndexAt(mesh, i);
    if (index >= vertexCount) {
      badIndex.Add(
          i, [&] { return std::to_string(index) + " is at or past the vertex count " + std::to_string(vertexCount); });
    }
  }

  Group badPosition = MakeGroup(Severity::kError, scope, "vertex", "vertices", " position");
  Group unknownBone = MakeGroup(Severity::kError, scope, "vertex", "vertices", " boneIDs");
  Group zeroNormal = MakeGroup(Severity::kWarning, scope, "vertex", "vertices", " normal");
  Group oddNormal = MakeGroup(Severity::kWarning, scope, "vertex", "vertices", " normal");
  Group weightSum = MakeGroup(Severity::kWarning, scope, "vertex", "vertices", " weights");
  Group noInfluence = MakeGroup(Severity::kWarning, scope, "vertex", "vertices");
  bool skinned = false;
  for (size_t v = 0; v < vertexCount; ++v) {
    const auto& vertex = VertexAt(mesh, v);  // a reference or a kept copy
    if (!IsFinite(vertex.position)) {
      badPosition.Add(v, [&] { return "not finite " + FormatVector(vertex.position); });
    }
    const Vec3& n = vertex.normal;
    const double length = std::sqrt(double(n[0]) * n[0] + double(n[1]) * n[1] + double(n[2]) * n[2]);
    if (length == 0) {
      zeroNormal.Add(v, [] { return std::string("zero"); });
    } else if (!(std::fabs(length - 1) <= kUnitTolerance)) {
      oddNormal.Add(v, [&] { return FormatVector(n) + " has length " + FormatDouble(length) + ", not 1 within 1e-3"; });
    }
    if (!animated) continue;
    int taken = 0;
    double sum = 0;
    bool unknown = false;  // the group counts vertices: one entry for all slots of one
    for (int slot = 0; slot < 4; ++slot) {
      const int32_t id = vertex.boneIDs[slot];
      if (id < 0) continue;
      ++taken;
      sum += vertex.weights[slot];
      if (!boneNumbers.Contains(id) && !unknown) {
        unknown = true;
        unknownBone.Add(v, [&] {
          return "slot " + std::to_string(slot) + " names bone " + std::to_string(id) +
                 ", which has no bone-info entry";
        });
      }
    }
    if (taken == 0) {
      noInfluence.Add(v, [] { return std::string("no bone influence in a skinned mesh"); });
      continue;
    }
    skinned = true;
    if (!(std::fabs(sum - 1) <= kUnitTolerance)) {
      weightSum.Add(v, [&] {
        std::string what = "sum " + FormatDouble(sum) + " is not 1 within 1e-3";
        if (taken == 4) what += "; all four slots are taken, so influences beyond four may have been dropped";
        return what;
      });
    }
  }
  if (!skinned) noInfluence.count = 0;  // a mesh without bones has no influences to miss

  std::optional<Finding> notTriangles;
  if (indexCount % 3 != 0) {
    notTriangles = Finding{Severity::kWarning, scope,
                           CountOf(indexCount, "index", "indices") +
                               " is not a multiple of 3 (points or lines survived triangulation)"};
  }
  Group degenerate = MakeGroup(Severity::kWarning, scope, "triangle", "triangles");
  for (size_t t = 0; t + 3 <= indexCount; t += 3) {
    const uint32_t a = IndexAt(mesh, t), b = IndexAt(mesh, t + 1), c = IndexAt(mesh, t + 2);
    const auto corners = [&] {
      return "(indices " + std::to_string(a) + ", " + std::to_string(b) + ", " + std::to_string(c) + ")";
    };
    if (a == b || b == c || a == c) {
      degenerate.Add(t / 3, [&] { return "degenerate: a corner repeats " + corners(); });
      continue;
    }
    if (a >= vertexCount || b >= vertexCount || c >= vertexCount) continue;
    const Vec3 p = VertexAt(mesh, a).position, q = VertexAt(mesh, b).position, r = VertexAt(mesh, c).position;
    if (!IsFinite(p) || !IsFinite(q) || !IsFinite(r)) continue;
    const double u[3] = {double(q[0]) - p[0], double(q[1]) - p[1], double(q[2]) - p[2]};
    const double w[3] = {double(r[0]) - p[0], double(r[1]) - p[1], double(r[2]) - p[2]};
    const double cross[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2], u[0] * w[1] - u[1] * w[0]};
    if (cross[0] == 0 && cross[1] == 0 && cross[2] == 0) {
      degenerate.Add(t / 3, [&] { return "degenerate: zero area " + corners(); });
    }
  }

  Collect(findings, {&badIndex, &badPosition, &unknownBone});
  if (notTriangles) findings.push_back(*notTriangles);
  Collect(findings, {&degenerate, &zeroNormal, &oddNormal, &weightSum, &noInfluence});
}

template <typename Meshes>
void CheckTextures(const Meshes& meshes, const TextureLookup& findTexture, std::vector<Finding>& findings) {
  std::vector<std::pair<std::string_view, std::vector<size_t>>> uses;  // path, meshes; first-seen order
  std::unordered_map<std::string_view, size_t> slot;
  for (size_t m = 0; m < meshes.size(); ++m) {
    for (const auto& texture : TexturesOf(meshes[m])) {
      const auto [it, inserted] = slot.emplace(texture.path, uses.size());
      if (inserted) uses.emplace_back(texture.path, std::vector<size_t>{});
      uses[it->second].second.push_back(m);
    }
  }
  for (const auto& [stored, users] : uses) {
    const std::string missing = findTexture(std::string(stored));
    if (missing.empty()) continue;
    Group group = MakeGroup(Severity::kWarning, "", "mesh", "meshes", " texture " + QuoteName(stored));
    for (size_t m : users) group.Add(m, [&] { return missing; });
    Collect(findings, {&group});
  }
}

template <typename Key>
void CheckKeys(const std::string& scope, const char* noun, const char* plural, const std::vector<Key>& keys,
               float duration, std::vector<Finding>& findings) {
  Group notNumber = MakeGroup(Severity::kWarning, scope, noun, plural);
  Group backwards = MakeGroup(Severity::kWarning, scope, noun, plural);
  Group late = MakeGroup(Severity::kWarning, scope, noun, plural);
  for (size_t k = 0; k < keys.size(); ++k) {
    const float time = keys[k].timeStamp;
    if (std::isnan(time)) {
      notNumber.Add(k, [] { return std::string("time is not a number"); });
      continue;
    }
    if (k > 0 && time < keys[k - 1].timeStamp) {
      backwards.Add(k, [&] {
        return "time " + FormatFloat(time) + " is before the previous key's " + FormatFloat(keys[k - 1].timeStamp);
      });
    }
    if (time > duration) {
      late.Add(k, [&] { return "time " + FormatFloat(time) + " is past the duration " + FormatFloat(duration); });
    }
  }
  Collect(findings, {&notNumber, &backwards, &late});
}

// Ticks per second a player can turn seconds into float ticks with: the
// file's rate when it gives one (0, negative or not a number: 25).
constexpr double kLowestTickRate = 1e-3;
constexpr double kHighestTickRate = 1e6;

void CheckAnimation(const Animation& animation, std::vector<Finding>& findings) {
  if (!std::isfinite(animation.duration)) {
    findings.push_back({Severity::kError, "animation duration", FormatFloat(animation.duration) + " is not finite"});
  }
  const double rate = animation.ticksPerSecond;
  if (rate > 0 && std::isfinite(rate) && (rate < kLowestTickRate || rate > kHighestTickRate)) {
    findings.push_back({Severity::kError, "animation ticksPerSecond",
                        FormatDouble(rate) + " is outside 0.001 to 1000000 ticks per second"});
  }
  std::unordered_set<std::string_view> nodeNames;
  for (const Node& node : animation.nodes) nodeNames.insert(node.name);
  for (const Track& track : animation.tracks) {
    const std::string scope = "track " + QuoteName(track.name);
    if (nodeNames.count(track.name) == 0)
      findings.push_back({Severity::kWarning, scope, "names no node of the hierarchy"});
    CheckKeys(scope, "position key", "position keys", track.positions, animation.duration, findings);
    CheckKeys(scope, "rotation key", "rotation keys", track.rotations, animation.duration, findings);
    CheckKeys(scope, "scale key", "scale keys", track.scales, animation.duration, findings);
  }
}

// The one validation behind both forms: meshes are MeshData or MappedMesh.
template <typename Meshes>
std::vector<Finding> Validate(const Meshes& meshes, bool animated, const Animation& animation,
                              const TextureLookup& findTexture) {
  std::vector<Finding> findings;
  const BoneNumbers boneNumbers(animation.boneInfos);
  for (size_t m = 0; m < meshes.size(); ++m) CheckMesh(m, meshes[m], animated, boneNumbers, findings);
  if (findTexture) CheckTextures(meshes, findTexture, findings);
  if (animated) CheckAnimation(animation, findings);
  std::stable_partition(findings.begin(), findings.end(),
                        [](const Finding& f) { return f.severity == Severity::kError; });
  return findings;
}

}  // namespace

std::vector<Finding> ValidateModel(const Model& model, const TextureLookup& findTexture) {
  return Validate(model.meshes, model.animated, model.animation, findTexture);
}

std::vector<Finding> ValidateModel(const MappedModel& view, const TextureLookup& findTexture) {
  // Only the animation is decoded into values; its sections are small.
  const Animation animation = view.animated() ? view.animation() : Animation{};
  return Validate(view.meshes(), view.animated(), animation, findTexture);
}

}  // namespace varndel
