// One file's entry of the library report: the figures of `varndel-inspect
// json`, the findings of `check`, the textures as the reader library resolves
// them, the LOD chain beside the file, and pictures from `render`.
#include <varndel/mapped.h>
#include <varndel/optimize.h>
#include <varndel/reader.h>
#include <varndel/sample.h>
#include <varndel/takes.h>
#include <varndel/textures.h>
#include <varndel/writer.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "inspect/common.h"
#include "inspect/library_report.h"
#include "inspect/render/render.h"
#include "inspect/report.h"
#include "reader/file_access.h"

namespace inspect {

namespace {

using Json = nlohmann::json;

constexpr size_t kMaxLodLevels = 64;  // looked for beside a file

// "key": text, plus "keyHex" with the exact bytes when they are not UTF-8.
void PutName(Json& object, const std::string& key, std::string_view bytes) {
  object[key] = TextOf(bytes);
  if (!IsValidUtf8(bytes)) object[key + "Hex"] = HexOf(bytes);
}

std::string HashOf(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  char text[17];
  for (int i = 15; i >= 0; --i, hash >>= 4) text[i] = "0123456789abcdef"[hash & 15];
  return std::string(text, 16);
}

// The figures a row shows, taken from json's document so that they are
// json's figures.
Json SummaryOf(const Json& figures) {
  uint64_t vertices = 0, indices = 0;
  for (const Json& mesh : figures["meshes"]) {
    vertices += mesh["vertices"].get<uint64_t>();
    indices += mesh["indices"].get<uint64_t>();
  }
  Json summary{{"meshes", figures["meshes"].size()}, {"vertices", vertices}, {"triangles", indices / 3},
               {"bones", 0}, {"nodes", 0}, {"keys", 0}, {"duration", 0.0}};
  if (figures.contains("animation")) {
    const Json& animation = figures["animation"];
    summary["bones"] = animation["boneInfo"].size();
    summary["nodes"] = animation["nodes"];
    summary["keys"] = animation["keys"];
    summary["duration"] = animation["duration"].is_number() ? animation["duration"] : Json(0.0);
    summary["ticksPerSecond"] = animation["ticksPerSecond"];
  }
  return summary;
}

// Where the file's bytes go: vertex and index records, the animation's
// records and matrices, the stored names and paths, and the rest (header,
// counts, texture types).
Json SplitBytes(const varndel::Model& model, uint64_t total) {
  uint64_t vertex = 0, index = 0, strings = 0, animation = 0;
  for (const varndel::MeshData& mesh : model.meshes) {
    vertex += uint64_t(mesh.vertices.size()) * sizeof(varndel::Vertex);
    index += uint64_t(mesh.indices.size()) * sizeof(uint32_t);
    for (const varndel::TextureRef& texture : mesh.textures) strings += texture.path.size();
  }
  if (model.animated) {
    uint64_t names = 0;
    for (const varndel::Node& node : model.animation.nodes) names += node.name.size();
    for (const varndel::Track& track : model.animation.tracks) names += track.name.size();
    for (const varndel::BoneInfoEntry& entry : model.animation.boneInfos) names += entry.name.size();
    animation = varndel::AnimationBytes(model.animation) - names;
    strings += names;
  }
  const uint64_t counted = vertex + index + strings + animation;
  return Json{{"total", total},     {"vertex", vertex},   {"index", index},
              {"animation", animation}, {"strings", strings}, {"other", total > counted ? total - counted : 0}};
}

Json DescribeTextures(const varndel::Model& model, const std::string& path) {
  const std::string extracted = varndel::TexturesDirectoryOf(path) + "/";
  std::set<std::string> listed;
  Json textures = Json::array();
  for (const varndel::MeshData& mesh : model.meshes) {
    for (const varndel::TextureRef& texture : mesh.textures) {
      if (!listed.insert(texture.path).second) continue;
      Json entry = Json::object();
      PutName(entry, "path", texture.path);
      entry["type"] = TextureTypeName(texture.type);
      const std::optional<std::string> file = varndel::ResolveTexture(texture.path, path);
      if (!file) {
        entry["state"] = "missing";
      } else {
        entry["state"] = file->compare(0, extracted.size(), extracted) == 0 ? "extracted" : "found";
        PutName(entry, "file", *file);
      }
      textures.push_back(std::move(entry));
    }
  }
  return textures;
}

// The levels <stem>.lod1<ext>, <stem>.lod2<ext>, ... beside a file of level
// 0, up to the first one missing.
Json FindLods(const std::string& path, bool animated) {
  Json lods = Json::array();
  if (varndel::LodLevelOf(path) != 0) return lods;
  for (size_t level = 1; level <= kMaxLodLevels; ++level) {
    const std::string lod = varndel::LodPath(path, level, animated);
    if (!varndel::file_access::IsRegularFile(lod)) break;
    lods.push_back(TextOf(std::filesystem::path(lod).filename().string()));
  }
  return lods;
}

Json DescribeFindings(const varndel::Model& model, const std::string& path, Json& entry) {
  Json findings = Json::array();
  uint64_t errors = 0, warnings = 0;
  for (const Finding& finding : CheckModel(model, path)) {
    const bool error = finding.severity == varndel::Severity::kError;
    ++(error ? errors : warnings);
    findings.push_back(Json{{"severity", error ? "error" : "warning"},
                            {"element", TextOf(finding.element)},
                            {"message", TextOf(finding.message)}});
  }
  entry["errors"] = errors;
  entry["warnings"] = warnings;
  return findings;
}

render::Image CropCell(const render::Image& sheet, int x, int y, int width, int height) {
  render::Image cell = render::MakeImage(width, height);
  for (int row = 0; row < height; ++row) {
    std::memcpy(&cell.rgb[size_t(row) * size_t(width) * 3],
                &sheet.rgb[(size_t(y + row) * size_t(sheet.width) + size_t(x)) * 3], size_t(width) * 3);
  }
  return cell;
}

std::string DataUri(const render::Image& image) {
  std::string png;
  if (!render::EncodePng(image, png)) return std::string();
  return "data:image/png;base64," + Base64Of(png);
}

Json DrawPictures(const varndel::Model& model, const std::string& path, uint64_t triangles,
                  const PictureOptions& options) {
  Json picture = Json::object();
  if (triangles > options.maxTriangles) {
    picture["note"] = "not drawn: " + std::to_string(triangles) + " triangles, more than the report draws (" +
                      std::to_string(options.maxTriangles) + ")";
    return picture;
  }
  render::Request request;
  request.width = options.width;
  request.height = options.height;
  request.frames = model.animated && options.frames > 1 ? options.frames : 0;
  request.pixelTests = options.pixelTests;
  std::vector<std::string> warnings;
  const render::Image sheet = render::DrawPicture(model, path, request, warnings);
  int columns = 1, rows = 1;
  render::SheetGrid(request.frames, columns, rows);
  Json frames = Json::array();
  const int count = std::max(request.frames, 1);
  for (int f = 0; f < count; ++f) {
    const std::string uri =
        count == 1 ? DataUri(sheet)
                   : DataUri(CropCell(sheet, (f % columns) * options.width, (f / columns) * options.height,
                                      options.width, options.height));
    if (uri.empty()) {
      picture["note"] = "not drawn: the picture cannot be encoded as PNG";
      return picture;
    }
    frames.push_back(uri);
  }
  picture["width"] = options.width;
  picture["height"] = options.height;
  picture["frames"] = std::move(frames);
  Json notes = Json::array();
  for (const std::string& warning : warnings) notes.push_back(TextOf(warning));
  picture["warnings"] = std::move(notes);
  return picture;
}

}  // namespace

std::string TextOf(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  const std::string quoted =
      Json(std::string(bytes)).dump(-1, ' ', false, Json::error_handler_t::replace);
  return Json::parse(quoted).get<std::string>();
}

std::string HexOf(std::string_view bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 15];
  }
  return hex;
}

std::string Base64Of(std::string_view bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t n = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
    text += kDigits[n >> 18];
    text += kDigits[(n >> 12) & 63];
    text += kDigits[(n >> 6) & 63];
    text += kDigits[n & 63];
  }
  if (const size_t left = bytes.size() - i; left > 0) {
    const uint32_t n = uint32_t(uint8_t(bytes[i])) << 16 | (left == 2 ? uint32_t(uint8_t(bytes[i + 1])) << 8 : 0);
    text += kDigits[n >> 18];
    text += kDigits[(n >> 12) & 63];
    text += left == 2 ? kDigits[(n >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

Json DescribeLibraryFile(const LibraryFile& file, const PictureOptions& options) {
  Json entry = Json::object();
  PutName(entry, "path", file.path);
  PutName(entry, "key", file.key);
  PutName(entry, "name", std::filesystem::path(file.path).filename().string());
  entry["lodLevel"] = varndel::LodLevelOf(file.path);

  // Read as ReadModelFile reads, keeping the bytes for the content hash and
  // json's figures.
  varndel::Model model;
  varndel::ReadError readError;
  std::string bytes, reason;
  bool read = false;
  try {
    if (!varndel::file_access::ReadRegularFile(file.path, bytes, reason)) {
      readError = varndel::ReadError{0, "", reason};
    } else {
      read = varndel::ReadModel(bytes.data(), bytes.size(), model, &readError);
    }
  } catch (const std::bad_alloc&) {
    readError = varndel::ReadError{0, "", "not enough memory to read the file"};
  }
  if (!read) {
    entry["error"] = TextOf(DescribeReadError(readError));
    if (!bytes.empty()) entry["hash"] = HashOf(bytes);
    return entry;
  }
  entry["hash"] = HashOf(bytes);
  const uint64_t size = bytes.size();

  // json's figures as json computes them: on a view over the same bytes.
  std::ostringstream json;
  {
    varndel::MappedModel view;
    if (!view.Open(bytes.data(), bytes.size(), &readError)) {
      entry["error"] = TextOf(DescribeReadError(readError));
      return entry;
    }
    WriteJson(json, view, size, false, false, varndel::LodLevelOf(file.path), file.path);
  }
  std::string().swap(bytes);
  Json figures = Json::parse(json.str());
  Json summary = SummaryOf(figures);
  if (model.animated) summary["seconds"] = double(model.animation.duration) / varndel::TicksPerSecond(model.animation);
  entry["bytes"] = SplitBytes(model, size);
  entry["textures"] = DescribeTextures(model, file.path);
  entry["lods"] = FindLods(file.path, model.animated);
  entry["findings"] = DescribeFindings(model, file.path, entry);
  // As info shows it: the take's index and quoted name, from the record beside the file.
  if (const std::optional<varndel::TakeRecordEntry> take = varndel::FindTakeRecord(file.path)) {
    entry["take"] = TextOf(std::to_string(take->index) + " " + take->quotedName + (take->clip ? ", clip" : ""));
  }
  if (options.draw) entry["picture"] = DrawPictures(model, file.path, summary["triangles"].get<uint64_t>(), options);
  entry["summary"] = std::move(summary);
  entry["figures"] = std::move(figures);
  return entry;
}

}  // namespace inspect
