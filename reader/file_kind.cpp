#include "reader/file_kind.h"

#include "reader/file_access.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace varndel {

namespace {

constexpr size_t kSniffBytes = 512;

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

std::string LowerExtension(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// Text: no NUL and few control characters other than white space.
bool LooksLikeText(std::string_view bytes) {
  size_t control = 0;
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u == 0) return false;
    if (u < 0x20 && u != '\n' && u != '\r' && u != '\t') ++control;
  }
  return control * 20 <= bytes.size();
}

std::string_view SkipSpace(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  return text;
}

// A Wavefront OBJ: its first statement other than comments and blank lines.
bool LooksLikeObj(std::string_view text) {
  static constexpr std::string_view kStatements[] = {"v ", "vn ", "vt ", "f ", "o ", "g ", "s ", "mtllib ", "usemtl "};
  while (!text.empty()) {
    text = SkipSpace(text);
    if (text.empty()) return false;
    if (text.front() != '#') {
      return std::any_of(std::begin(kStatements), std::end(kStatements),
                         [&](std::string_view s) { return StartsWith(text, s); });
    }
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    text.remove_prefix(end + 1);
  }
  return false;
}

// What the bytes are, when easy to tell; empty otherwise.
std::string Kind(std::string_view bytes, const std::string& extension) {
  struct Magic {
    std::string_view prefix;
    const char* kind;
  };
  static constexpr Magic kMagics[] = {
      {"glTF", "a binary glTF (.glb) model"},
      {"Kaydara FBX Binary", "a binary FBX model"},
      {"; FBX", "an FBX model (text)"},
      {"ply\n", "a PLY model"},
      {"ply\r\n", "a PLY model"},
      {"HIERARCHY", "a BVH motion file"},
      {"xof ", "a DirectX .x model"},
      {"\x89PNG\r\n\x1a\n", "a PNG image"},
      {"\xff\xd8\xff", "a JPEG image"},
      {"PK\x03\x04", "a ZIP archive"},
      {"\x7f" "ELF", "a program (ELF)"},
  };
  for (const Magic& magic : kMagics) {
    if (StartsWith(bytes, magic.prefix)) return magic.kind;
  }
  if (!LooksLikeText(bytes)) return {};
  const std::string_view text = SkipSpace(bytes);
  if (StartsWith(text, "{")) {
    return extension == "gltf" || text.find("\"asset\"") != std::string_view::npos ? "a glTF model (JSON text)"
                                                                                  : "JSON text";
  }
  if (StartsWith(text, "<")) {
    return text.find("<COLLADA") != std::string_view::npos || extension == "dae" ? "a Collada model (XML text)"
                                                                                  : "XML or HTML text";
  }
  if (StartsWith(text, "solid ")) return "an STL model (text)";
  if (LooksLikeObj(bytes)) return "a Wavefront OBJ model (text)";
  return "a text file";
}

// Extensions of the model formats people compile most; a match says that
// the file is a source model even when its bytes tell nothing.
bool IsSourceModelExtension(const std::string& extension) {
  static constexpr std::string_view kExtensions[] = {"obj", "gltf", "glb", "fbx", "dae", "3ds", "blend", "ply",
                                                     "stl", "x", "md5mesh", "mdl", "bvh", "smd", "ase", "lwo"};
  return std::find(std::begin(kExtensions), std::end(kExtensions), extension) != std::end(kExtensions);
}

}  // namespace

std::string DescribeNotCompiledModel(const void* data, size_t size, const std::string& name) {
  const std::string_view bytes(static_cast<const char*>(data), std::min(size, kSniffBytes));
  if (bytes.empty()) return "an empty file, not a compiled model file (.staticbin, .animbin)";
  const auto flag = [](char c) { return c == 0 || c == 1; };
  // A compiled file starts with two flags of 0 or 1; a damaged one is the
  // reader's to describe.
  if (flag(bytes[0]) && (bytes.size() < 2 || flag(bytes[1]))) return {};
  const std::string extension = LowerExtension(name);
  std::string kind = Kind(bytes, extension);
  // Bytes that look like nothing known, under a name that is no source
  // model's: the reader's own words (the byte it refuses) say it best.
  if (kind.empty() && !IsSourceModelExtension(extension)) return {};
  const bool sourceModel = kind.find("model") != std::string::npos ||
                           (IsSourceModelExtension(extension) && (kind.empty() || kind.find("text") != std::string::npos));
  std::string sentence = "not a compiled model file (.staticbin, .animbin)";
  if (!kind.empty()) sentence += ": it looks like " + kind;
  if (sourceModel) sentence += "; compile it first with Varndel (Varndel <isAnimatedModel> <flipUVs> <file>)";
  return sentence;
}

std::string DescribeNotCompiledModelFile(const std::string& path) {
  // Never open what is no regular file: a FIFO would block.
  if (!file_access::IsRegularFile(path)) return {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return {};
  char buffer[kSniffBytes];
  const size_t size = std::fread(buffer, 1, sizeof buffer, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return {};
  return DescribeNotCompiledModel(buffer, size, path);
}

}  // namespace varndel
