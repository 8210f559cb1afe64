#include <algorithm>
#include <filesystem>
#include <system_error>

#include "inspect/commands.h"

namespace fs = std::filesystem;

std::vector<std::string> TextureCandidates(const std::string& storedPath, const std::string& compiledFile) {
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

std::string ResolveTexturePath(const std::string& storedPath, const std::string& compiledFile) {
  for (const std::string& candidate : TextureCandidates(storedPath, compiledFile)) {
    std::error_code ignored;
    if (fs::is_regular_file(candidate, ignored)) return candidate;
  }
  return "";
}
