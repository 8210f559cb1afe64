// Resolution of stored texture paths, and the names extracted textures get.
#include <varndel/textures.h>

#include <algorithm>
#include <filesystem>

#include "reader/file_access.h"

namespace fs = std::filesystem;

namespace varndel {
namespace {

std::string_view LastComponentOf(std::string_view path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
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

std::string ExtractedTextureName(std::string_view storedPath) { return SafeFileName(LastComponentOf(storedPath)); }

std::vector<std::string> TexturesDirectoriesOf(const std::string& compiledFile) {
  std::vector<std::string> directories{TexturesDirectoryOf(compiledFile)};
  for (const std::string& base : BaseModelPaths(compiledFile)) {
    const std::string directory = TexturesDirectoryOf(base);
    if (std::find(directories.begin(), directories.end(), directory) == directories.end()) {
      directories.push_back(directory);
    }
  }
  return directories;
}

std::optional<std::string> ResolveTexture(const std::string& storedPath, const std::string& compiledFile,
                                          std::vector<std::string>* tried) {
  const std::vector<std::string> directories = TexturesDirectoriesOf(compiledFile);
  if (const std::optional<uint32_t> index = EmbeddedTextureIndex(storedPath)) {
    const std::string prefix = std::to_string(*index) + ".";
    for (const std::string& directory : directories) {
      if (tried != nullptr) tried->push_back((fs::path(directory) / (prefix + "*")).lexically_normal().string());
      for (const std::string& name : file_access::ListRegularFiles(directory)) {
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0) {
          return (fs::path(directory) / name).lexically_normal().string();
        }
      }
    }
    return std::nullopt;
  }
  std::vector<std::string> candidates = StoredPathCandidates(storedPath, compiledFile);
  const std::string extracted = ExtractedTextureName(storedPath);
  if (!extracted.empty()) {
    for (const std::string& directory : directories) {
      candidates.push_back((fs::path(directory) / extracted).lexically_normal().string());
    }
  }
  for (const std::string& candidate : candidates) {
    if (tried != nullptr) tried->push_back(candidate);
    if (file_access::IsRegularFile(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace varndel
