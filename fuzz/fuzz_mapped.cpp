// libFuzzer target: arbitrary bytes opened both as a Model (ReadModel) and as
// a view (MappedModel). They must agree on acceptance and, for a refused
// input, on the error; an accepted view must show exactly the values of the
// model, its blocks pointing into the input.
#include <varndel/mapped.h>
#include <varndel/reader.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "view and reader disagree: %s\n", what);
  std::abort();
}

static bool SameBytes(const void* a, const void* b, size_t size) { return size == 0 || std::memcmp(a, b, size) == 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varndel::Model model;
  varndel::ReadError error, viewError;
  varndel::MappedModel view;
  const bool accepted = varndel::ReadModel(data, size, model, &error);
  Require(view.Open(data, size, &viewError) == accepted, "one accepts what the other refuses");
  if (!accepted) {
    Require(viewError.offset == error.offset && viewError.field == error.field && viewError.message == error.message,
            "different errors");
    Require(!view.isOpen() && view.meshes().empty(), "refused view left open");
    return 0;
  }
  Require(view.animated() == model.animated && view.flipUVs() == model.flipUVs &&
              view.textureCount() == model.textureCount && view.meshes().size() == model.meshes.size(),
          "header");
  for (size_t m = 0; m < model.meshes.size(); ++m) {
    const varndel::MappedMesh& mesh = view.meshes()[m];
    const varndel::MeshData& values = model.meshes[m];
    Require(mesh.vertexCount() == values.vertices.size() && mesh.indexCount() == values.indices.size(), "counts");
    const auto* vertices = static_cast<const uint8_t*>(mesh.vertexData());
    const auto* indices = static_cast<const uint8_t*>(mesh.indexData());
    Require(mesh.vertexCount() == 0 || (vertices >= data && vertices + mesh.vertexBytes() <= data + size),
            "vertex block outside the input");
    Require(mesh.indexCount() == 0 || (indices >= data && indices + mesh.indexBytes() <= data + size),
            "index block outside the input");
    Require(SameBytes(vertices, values.vertices.data(), mesh.vertexBytes()) &&
                SameBytes(indices, values.indices.data(), mesh.indexBytes()),
            "blocks");
    for (size_t i = 0; i < mesh.indexCount(); ++i) Require(mesh.index(i) == values.indices[i], "index()");
    Require(mesh.textures().size() == values.textures.size(), "texture count");
    for (size_t t = 0; t < values.textures.size(); ++t)
      Require(mesh.textures()[t].path == values.textures[t].path && mesh.textures()[t].type == values.textures[t].type,
              "textures");
  }
  const varndel::Animation animation = view.animation();
  Require(animation.nodes.size() == model.animation.nodes.size() &&
              animation.tracks.size() == model.animation.tracks.size() &&
              animation.boneInfos.size() == model.animation.boneInfos.size(),
          "animation");
  for (size_t n = 0; n < animation.nodes.size(); ++n)
    Require(animation.nodes[n].name == model.animation.nodes[n].name &&
                animation.nodes[n].parent == model.animation.nodes[n].parent,
            "nodes");
  for (size_t b = 0; b < animation.tracks.size(); ++b) {
    const varndel::Track& a = animation.tracks[b];
    const varndel::Track& t = model.animation.tracks[b];
    Require(a.name == t.name && a.id == t.id && a.positions.size() == t.positions.size() &&
                SameBytes(a.positions.data(), t.positions.data(), a.positions.size() * sizeof(t.positions[0])) &&
                a.rotations.size() == t.rotations.size() &&
                SameBytes(a.rotations.data(), t.rotations.data(), a.rotations.size() * sizeof(t.rotations[0])) &&
                a.scales.size() == t.scales.size() &&
                SameBytes(a.scales.data(), t.scales.data(), a.scales.size() * sizeof(t.scales[0])),
            "tracks");
  }
  for (size_t b = 0; b < animation.boneInfos.size(); ++b)
    Require(animation.boneInfos[b].name == model.animation.boneInfos[b].name &&
                animation.boneInfos[b].id == model.animation.boneInfos[b].id,
            "bone infos");
  return 0;
}
