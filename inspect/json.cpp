// varndel-inspect json [--full] [--stats] FILE: the facts of info as one JSON
// document.
//
// The document is streamed rather than built as a tree: with --full a file
// of some hundred megabytes would otherwise need many times its size in
// memory. Strings go through nlohmann::json for escaping. A name or path
// that is not well-formed UTF-8 is written with one U+FFFD in place of each
// maximal ill-formed part, and a sibling key ("nameHex", "pathHex") carries
// its exact bytes in hexadecimal. Non-finite floats are written as null.
#include <CLI/CLI.hpp>
#include <varndel/optimize.h>
#include <varndel/textures.h>
#include <varndel/writer.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>
#include <ostream>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "inspect/report.h"

namespace inspect {

namespace {

// Writes one JSON value with indentation: containers opened as "inline"
// keep all their elements (and anything nested in them) on one line.
class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) { buffer_.reserve(kFlushAt + 4096); }
  ~JsonWriter() { Flush(); }
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& Key(std::string_view key) {
    Separate();
    AppendString(key);
    buffer_ += ": ";
    afterKey_ = true;
    return *this;
  }
  void BeginObject(bool inlined = false) { Open('{', inlined); }
  void EndObject() { Close('}'); }
  void BeginArray(bool inlined = false) { Open('[', inlined); }
  void EndArray() { Close(']'); }

  void Bool(bool value) { Scalar(value ? "true" : "false"); }
  void Null() { Scalar("null"); }
  void Unsigned(uint64_t value) {
    char text[24];
    Scalar(std::string_view(text, std::to_chars(text, text + sizeof text, value).ptr - text));
  }
  void Signed(int64_t value) {
    char text[24];
    Scalar(std::string_view(text, std::to_chars(text, text + sizeof text, value).ptr - text));
  }
  // Shortest text that reads back as the same float, always with a fraction
  // or exponent so that it reads as a floating-point number.
  void Float(float value) { Real(value); }
  void Double(double value) { Real(value); }
  template <typename Array>
  void Floats(const Array& values) {
    BeginArray(true);
    for (float value : values) Float(value);
    EndArray();
  }
  void String(std::string_view bytes) {
    Separate();
    AppendString(bytes);
    Done();
  }
  // "key": "text", plus "keyHex" with the exact bytes when they are not
  // well-formed UTF-8.
  void NameField(std::string_view key, std::string_view bytes) {
    Key(key).String(bytes);
    if (IsValidUtf8(bytes)) return;
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
      hex += kDigits[byte >> 4];
      hex += kDigits[byte & 15];
    }
    Key(std::string(key) + "Hex").String(hex);
  }
  void Finish() {
    buffer_ += '\n';
    Flush();
  }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  struct Level {
    bool inlined;
    bool empty;
  };

  bool Inlined() const { return !levels_.empty() && levels_.back().inlined; }

  // Before a key, or a value that has no key: the comma and line break.
  void Separate() {
    if (afterKey_ || levels_.empty()) return;
    Level& level = levels_.back();
    if (!level.empty) buffer_ += level.inlined ? ", " : ",";
    if (!level.inlined) NewLine(levels_.size());
    level.empty = false;
  }
  void Done() {
    afterKey_ = false;
    if (buffer_.size() >= kFlushAt) Flush();
  }
  void NewLine(size_t depth) {
    buffer_ += '\n';
    buffer_.append(2 * depth, ' ');
  }
  void Open(char bracket, bool inlined) {
    Separate();
    afterKey_ = false;
    buffer_ += bracket;
    levels_.push_back({inlined || Inlined(), true});
  }
  void Close(char bracket) {
    const Level level = levels_.back();
    levels_.pop_back();
    if (!level.empty && !level.inlined) NewLine(levels_.size());
    buffer_ += bracket;
    Done();
  }
  void Scalar(std::string_view text) {
    Separate();
    buffer_ += text;
    Done();
  }
  template <typename T>
  void Real(T value) {
    if (!std::isfinite(value)) return Null();
    char text[40];
    char* end = std::to_chars(text, text + sizeof text - 2, value).ptr;
    if (std::find_if(text, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
      *end++ = '.';
      *end++ = '0';
    }
    Scalar(std::string_view(text, end - text));
  }
  void AppendString(std::string_view bytes) {
    buffer_ += nlohmann::json(std::string(bytes)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  void Flush() {
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
  }

  std::ostream& out_;
  std::string buffer_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

void WriteBounds(JsonWriter& json, const Box& box) {
  json.Key("bounds");
  if (box.empty) return json.Null();
  json.BeginObject(true);
  json.Key("min").Floats(box.min);
  json.Key("max").Floats(box.max);
  json.EndObject();
}

// null where the mesh has no figure (no whole triangles, an index out of range).
void WriteStats(JsonWriter& json, const varndel::MappedMesh& mesh, bool overdraw) {
  const varndel::MeshStats stats = AnalyzeMappedMesh(mesh, overdraw);
  const auto figure = [&](const char* key, bool known, float value) {
    json.Key(key);
    if (known) return json.Float(value);
    json.Null();
  };
  figure("acmr", stats.valid, stats.acmr);
  figure("atvr", stats.valid, stats.atvr);
  figure("overfetch", stats.valid, stats.overfetch);
  if (overdraw) figure("overdraw", stats.hasOverdraw, stats.overdraw);
}

void WriteMesh(JsonWriter& json, const varndel::MappedMesh& mesh, const Box& box, bool full, bool overdraw,
               const std::string& compiledFile) {
  json.BeginObject();
  json.Key("vertices").Unsigned(mesh.vertexCount());
  json.Key("indices").Unsigned(mesh.indexCount());
  json.Key("textures").BeginArray();
  for (const varndel::MappedTexture& texture : mesh.textures()) {
    json.BeginObject(true);
    json.NameField("path", texture.path);
    json.Key("type").Unsigned(texture.type);
    if (!compiledFile.empty()) {
      if (const std::optional<std::string> file = varndel::ResolveTexture(std::string(texture.path), compiledFile)) {
        json.NameField("file", *file);
      }
    }
    json.EndObject();
  }
  json.EndArray();
  WriteBounds(json, box);
  WriteStats(json, mesh, overdraw);
  if (full) {
    // Record by record out of the block: a copy of one vertex at a time.
    json.Key("vertexData").BeginArray();
    for (size_t i = 0; i < mesh.vertexCount(); ++i) {
      const varndel::Vertex v = mesh.vertex(i);
      json.BeginObject(true);
      json.Key("position").Floats(v.position);
      json.Key("normal").Floats(v.normal);
      json.Key("texCoords").Floats(v.texCoords);
      json.Key("tangent").Floats(v.tangent);
      json.Key("bitangent").Floats(v.bitangent);
      json.Key("boneIDs").BeginArray();
      for (int32_t id : v.boneIDs) json.Signed(id);
      json.EndArray();
      json.Key("weights").Floats(v.weights);
      json.EndObject();
    }
    json.EndArray();
    json.Key("indexData").BeginArray(true);
    for (size_t i = 0; i < mesh.indexCount(); ++i) json.Unsigned(mesh.index(i));
    json.EndArray();
  }
  json.EndObject();
}

template <typename Key, size_t N>
void WriteKeys(JsonWriter& json, std::string_view name, const std::vector<Key>& keys,
               const std::array<float, N> Key::*value) {
  json.Key(name).BeginArray();
  for (const Key& key : keys) {
    json.BeginObject(true);
    json.Key("time").Float(key.timeStamp);
    json.Key("value").Floats(key.*value);
    json.EndObject();
  }
  json.EndArray();
}

void WriteTrack(JsonWriter& json, const varndel::Track& track, bool full) {
  json.BeginObject(!full);
  json.NameField("name", track.name);
  json.Key("id").Signed(track.id);
  json.Key("positionKeys").Unsigned(track.positions.size());
  json.Key("rotationKeys").Unsigned(track.rotations.size());
  json.Key("scaleKeys").Unsigned(track.scales.size());
  if (full) {
    json.Key("positionMaxTime").Float(track.positionMaxTime);
    json.Key("rotationMaxTime").Float(track.rotationMaxTime);
    json.Key("scaleMaxTime").Float(track.scaleMaxTime);
    WriteKeys(json, "positions", track.positions, &varndel::PositionKey::position);
    WriteKeys(json, "rotations", track.rotations, &varndel::RotationKey::orientation);
    WriteKeys(json, "scales", track.scales, &varndel::ScaleKey::scale);
  }
  json.EndObject();
}

void WriteAnimation(JsonWriter& json, const varndel::Animation& animation, bool full) {
  json.Key("animation").BeginObject();
  json.Key("duration").Float(animation.duration);
  json.Key("ticksPerSecond").Double(animation.ticksPerSecond);
  json.Key("keys").Unsigned(varndel::CountKeys(animation));
  json.Key("animationBytes").Unsigned(varndel::AnimationBytes(animation));
  json.Key("nodes").Unsigned(animation.nodes.size());
  json.Key("depth").Unsigned(HierarchyDepth(animation.nodes));
  json.Key("tracks").BeginArray();
  for (const varndel::Track& track : animation.tracks) WriteTrack(json, track, full);
  json.EndArray();
  json.Key("boneInfo").BeginArray();
  for (const varndel::BoneInfoEntry& entry : animation.boneInfos) {
    json.BeginObject(true);
    json.NameField("name", entry.name);
    json.Key("id").Signed(entry.id);
    if (full) json.Key("offset").Floats(entry.offset);
    json.EndObject();
  }
  json.EndArray();
  if (full) {
    json.Key("hierarchy").BeginArray();
    for (const varndel::Node& node : animation.nodes) {
      json.BeginObject(true);
      json.NameField("name", node.name);
      json.Key("parent").Signed(node.parent);
      json.Key("children").Unsigned(node.childCount);
      json.Key("transformation").Floats(node.transformation);
      json.EndObject();
    }
    json.EndArray();
  }
  json.EndObject();
}

}  // namespace

void WriteJson(std::ostream& out, const varndel::MappedModel& model, uint64_t bytes, bool full, bool stats,
               size_t lod, const std::string& compiledFile) {
  Box overall;
  const std::vector<Box> boxes = MeshBounds(model, overall);
  const std::vector<varndel::MappedMesh>& meshes = model.meshes();

  JsonWriter json(out);
  json.BeginObject();
  json.Key("kind").String(model.animated() ? "animated" : "static");
  json.Key("flipUVs").Bool(model.flipUVs());
  json.Key("bytes").Unsigned(bytes);
  json.Key("textureCount").Unsigned(model.textureCount());
  if (lod != 0) json.Key("lod").Unsigned(lod);
  WriteBounds(json, overall);
  json.Key("meshes").BeginArray();
  for (size_t m = 0; m < meshes.size(); ++m) WriteMesh(json, meshes[m], boxes[m], full, full || stats, compiledFile);
  json.EndArray();
  if (model.animated()) WriteAnimation(json, model.animation(), full);
  json.EndObject();
  json.Finish();
}

}  // namespace inspect

int RunJson(int argc, char** argv) {
  CLI::App app{"Prints the facts of a compiled model file as one JSON document.", "varndel-inspect json"};
  std::string file;
  bool full = false;
  bool stats = false;
  app.add_option("FILE", file, "compiled model file")->required();
  app.add_flag("--full", full, "add every vertex, index, key, node and matrix, and each mesh's overdraw");
  app.add_flag("--stats", stats, "add each mesh's overdraw (rasterises every mesh)");
  const int parsed = inspect::ParseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;

  varndel::MappedModel model;
  if (!inspect::OpenModelFile("json", file, model)) return inspect::kExitUnreadable;
  inspect::WriteJson(std::cout, model, model.size(), full, stats, varndel::LodLevelOf(file), file);
  std::cout.flush();
  return std::cout ? inspect::kExitOk : inspect::kExitUnreadable;
}
