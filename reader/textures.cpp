// Resolution of stored texture paths, and the names extracted textures get.
#include <varndel/textures.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

#include "reader/file_access.h"
#include "reader/text.h"

namespace fs = std::filesystem;

namespace varndel {
namespace {

constexpr size_t kMaxNameBytes = 128;
constexpr size_t kMaxKeptExtension = 16;  // bytes, the dot included

std::string_view LastComponentOf(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

bool IsWindowsDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();  // "NUL .png" is NUL too
  for (char& c : stem) c = char(std::toupper(static_cast<unsigned char>(c)));
  static constexpr std::array<std::string_view, 4> kPlain{"CON", "PRN", "AUX", "NUL"};
  if (std::find(kPlain.begin(), kPlain.end(), stem) != kPlain.end()) return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         std::isdigit(static_cast<unsigned char>(stem[3]));
}

// The longest prefix of text of at most limit bytes that ends between UTF-8
// sequences (text holds only whole sequences).
std::string_view CutAtSequence(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// Where a stored path may be found today: '\' turned into '/' and as
// stored, each relative to the working directory, then to the compiled
// file's directory; without duplicates.
std::vector<std::string> StoredPathCandidates(const std::string& storedPath, const std::string& compiledFile) {
  std::string slashed = storedPath;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const fs::path fileDirectory = fs::path(compiledFile).parent_path();
  std::vector<std::string> candidates;
  const auto add = [&candidates](const fs::path& path) {
    const std::string text = path.lexically_normal().string();
    if (std::find(candidates.begin(), candidates.end(), text) == candidates.end()) candidates.push_back(text);
  };
  for (const std::string& form : {slashed, storedPath}) {
    const fs::path path(form);
    add(path);
    if (path.is_relative() && !fileDirectory.empty()) add(fileDirectory / path);
  }
  return candidates;
}

}  // namespace

std::string TexturesDirectoryOf(const std::string& compiledFile) {
  return fs::path(compiledFile).replace_extension(".textures").string();
}

std::optional<uint32_t> EmbeddedTextureIndex(std::string_view storedPath) {
  const std::string_view name = LastComponentOf(storedPath);
  if (name.size() < 2 || name.size() > 11 || name[0] != '*') return std::nullopt;
  uint64_t index = 0;
  for (const char c : name.substr(1)) {
    if (c < '0' || c > '9') return std::nullopt;
    index = index * 10 + uint64_t(c - '0');
  }
  if (index > UINT32_MAX) return std::nullopt;
  return uint32_t(index);
}

std::string ExtractedTextureName(std::string_view storedPath) {
  const std::string_view raw = LastComponentOf(storedPath);
  std::string name;
  for (size_t i = 0; i < raw.size();) {
    const size_t length = text::Utf8SequenceLength(raw, i);
    const unsigned char byte = static_cast<unsigned char>(raw[i]);
    const bool control = byte < 0x20 || byte == 0x7F ||
                         (length == 2 && byte == 0xC2 && static_cast<unsigned char>(raw[i + 1]) < 0xA0);
    const bool reserved = length == 1 && std::string_view("<>:\"/\\|?*").find(char(byte)) != std::string_view::npos;
    if (length == 0 || control || reserved) {
      name += '_';
      i += length == 0 ? 1 : length;
    } else {
      name.append(raw.substr(i, length));
      i += length;
    }
  }
  if (name.size() > kMaxNameBytes) {
    const size_t dot = name.rfind('.');
    const std::string extension =
        dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxKeptExtension ? name.substr(dot) : "";
    name = std::string(CutAtSequence(name, kMaxNameBytes - extension.size())) + extension;
  }
  // Leading dots would hide the file (or name "." and ".."); Windows drops
  // trailing dots and spaces.
  for (size_t i = 0; i < name.size() && name[i] == '.'; ++i) name[i] = '_';
  for (size_t i = name.size(); i > 0 && (name[i - 1] == '.' || name[i - 1] == ' '); --i) name[i - 1] = '_';
  if (IsWindowsDeviceName(name)) name = "_" + std::string(CutAtSequence(name, kMaxNameBytes - 1));
  return name;
}

std::optional<std::string> ResolveTexture(const std::string& storedPath, const std::string& compiledFile,
                                          std::vector<std::string>* tried) {
  const fs::path directory(TexturesDirectoryOf(compiledFile));
  if (const std::optional<uint32_t> index = EmbeddedTextureIndex(storedPath)) {
    const std::string prefix = std::to_string(*index) + ".";
    if (tried != nullptr) tried->push_back((directory / (prefix + "*")).lexically_normal().string());
    for (const std::string& name : file_access::ListRegularFiles(directory.string())) {
      if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
        return (directory / name).lexically_normal().string();
      }
    }
    return std::nullopt;
  }
  std::vector<std::string> candidates = StoredPathCandidates(storedPath, compiledFile);
  const std::string extracted = ExtractedTextureName(storedPath);
  if (!extracted.empty()) candidates.push_back((directory / extracted).lexically_normal().string());
  for (const std::string& candidate : candidates) {
    if (tried != nullptr) tried->push_back(candidate);
    if (file_access::IsRegularFile(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace varndel
