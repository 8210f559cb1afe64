// The texture cache of render: keyed by the file a stored path resolves to,
// so that spellings such as "a/../t.png" and "b/../t.png" decode one image,
// and bounded by the decoded bytes of all textures together.
#include <varndel/textures.h>

#include <filesystem>
#include <list>
#include <system_error>

#include "inspect/common.h"
#include "inspect/render/render.h"

namespace render {

TextureCache::TextureCache(uint64_t byteBudget) : budget_(byteBudget), checker_(CheckerTexture()) {}

const Texture* TextureCache::Find(const std::string& storedPath, const std::string& compiledFile,
                                  std::vector<std::string>& warnings) {
  const auto known = byStoredPath_.find(storedPath);
  if (known != byStoredPath_.end()) return known->second;
  const Texture* texture = &checker_;
  std::vector<std::string> candidates;
  const std::optional<std::string> path = varndel::ResolveTexture(storedPath, compiledFile, &candidates);
  if (!path) {
    std::string tried;
    for (const std::string& candidate : candidates) tried += (tried.empty() ? "" : ", ") + inspect::QuoteName(candidate);
    warnings.push_back("diffuse texture " + inspect::QuoteName(storedPath) + " not found (tried " + tried +
                       "); drawing a checker instead");
  } else {
    texture = Decode(*path, warnings);
  }
  byStoredPath_.emplace(storedPath, texture);
  return texture;
}

const Texture* TextureCache::Decode(const std::string& path, std::vector<std::string>& warnings) {
  std::error_code failed;
  std::string key = std::filesystem::weakly_canonical(path, failed).string();
  if (failed) key = path;
  const auto known = byFile_.find(key);
  if (known != byFile_.end()) return known->second;

  // Each file is tried once: a failure leaves the checker in its place.
  const Texture*& texture = byFile_[key];
  texture = &checker_;
  int width = 0, height = 0;
  std::string reason;
  Texture decoded;
  if (ProbeTexture(path, width, height) && uint64_t(width) * uint64_t(height) * 4 > budget_ - used_) {
    warnings.push_back("diffuse texture " + inspect::QuoteName(path) + " (" + std::to_string(width) + "x" +
                       std::to_string(height) + ") would take the decoded textures past " +
                       std::to_string(budget_ >> 20) + " MiB; drawing a checker instead");
  } else if (!LoadTexture(path, decoded, reason)) {
    warnings.push_back("diffuse texture " + inspect::QuoteName(path) + " cannot be read (" + reason +
                       "); drawing a checker instead");
  } else if (decoded.rgba.size() > budget_ - used_) {  // the file grew after its header was read
    warnings.push_back("diffuse texture " + inspect::QuoteName(path) + " changed while it was read; drawing a "
                       "checker instead");
  } else {
    used_ += decoded.rgba.size();
    texture = &decoded_.emplace_back(std::move(decoded));
  }
  return texture;
}

}  // namespace render
