// Embedded textures to files: which images the model references, their
// bytes, and the directory that holds them.
#include "extract/textures.h"

#include <assimp/scene.h>
#include <assimp/texture.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <system_error>

#include <varndel/textures.h>

#include "reader/file_access.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#endif
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kDeflateRatio = 1032;
// What one model may extract: a small multiple of what its import opened
// (texels become PNG, at most four bytes each), plus room for the headers of
// the PNGs of a tiny file.
constexpr uint64_t kExtractedPerImportedByte = 4;
constexpr uint64_t kExtractionSlack = 64 * 1024;

// The format hint as a file extension: the bytes up to the first NUL, within
// the hint's nine, lower-cased; "bin" when they are not [a-z0-9]{1,8}.
std::string ExtensionOf(const aiTexture& texture) {
  std::string hint;
  for (size_t i = 0; i < sizeof texture.achFormatHint && texture.achFormatHint[i] != '\0'; ++i) {
    const char c = texture.achFormatHint[i];
    hint += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
  }
  const bool safe = !hint.empty() && hint.size() <= 8 && std::all_of(hint.begin(), hint.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
  return safe ? hint : "bin";
}

std::string EncodeTexels(const aiTexture& texture, uint64_t inputBytes, const std::string& label) {
  const uint64_t width = texture.mWidth, height = texture.mHeight;
  // stb_image_write counts bytes in int.
  if (width > uint64_t(INT_MAX) / 4 || height > uint64_t(INT_MAX) / 4 / width) {
    throw std::runtime_error(label + ": " + std::to_string(width) + "x" + std::to_string(height) +
                             " texels are more than a PNG written here can hold");
  }
  if (width * height > inputBytes * 2) {
    throw std::runtime_error(label + ": " + std::to_string(width) + "x" + std::to_string(height) +
                             " texels are more than the imported files hold (" + std::to_string(inputBytes) +
                             " bytes)");
  }
  if (texture.pcData == nullptr) throw std::runtime_error(label + ": no texel data");
  std::vector<unsigned char> rgba(size_t(width * height * 4));
  for (size_t i = 0; i < size_t(width * height); ++i) {
    const aiTexel& texel = texture.pcData[i];
    rgba[i * 4] = texel.r;
    rgba[i * 4 + 1] = texel.g;
    rgba[i * 4 + 2] = texel.b;
    rgba[i * 4 + 3] = texel.a;
  }
  std::string png;
  const auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size_t(size));
  };
  if (stbi_write_png_to_func(append, &png, int(width), int(height), 4, rgba.data(), int(width * 4)) == 0) {
    throw std::runtime_error(label + ": cannot be encoded as PNG");
  }
  return png;
}

// The stored path names a file the import sees: '\' turned into '/' or as
// stored, as varndel::ResolveTexture tries it from the working directory.
bool NamesExistingFile(const std::string& storedPath, const FileExists& exists) {
  std::string slashed = storedPath;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  return exists(slashed) || exists(storedPath);
}

}  // namespace

EncodedImage EncodeEmbeddedTexture(const aiTexture& texture, uint64_t inputBytes, const std::string& label) {
  if (texture.mHeight != 0) return {"png", EncodeTexels(texture, inputBytes, label)};
  if (texture.mWidth > inputBytes) {
    throw std::runtime_error(label + ": " + std::to_string(texture.mWidth) +
                             " bytes are more than the imported files hold (" + std::to_string(inputBytes) + ")");
  }
  if (texture.mWidth == 0 || texture.pcData == nullptr) throw std::runtime_error(label + ": no image data");
  return {ExtensionOf(texture), std::string(reinterpret_cast<const char*>(texture.pcData), texture.mWidth)};
}

uint64_t ExtractionBound(uint64_t inputBytes) {
  if (inputBytes > (UINT64_MAX - kExtractionSlack) / kExtractedPerImportedByte) return UINT64_MAX;
  return inputBytes * kExtractedPerImportedByte + kExtractionSlack;
}

std::vector<ExtractedTexture> CollectEmbeddedTextures(const aiScene& scene, const std::vector<std::string>& storedPaths,
                                                      uint64_t inputBytes, const FileExists& exists) {
  std::vector<ExtractedTexture> textures;
  std::map<std::string, const aiTexture*> written;  // file name -> its texture
  const uint64_t bound = ExtractionBound(inputBytes);
  uint64_t total = 0;
  for (const std::string& stored : storedPaths) {
    const aiTexture* texture = nullptr;
    std::string name, label;
    const std::optional<uint32_t> index = varndel::EmbeddedTextureIndex(stored);
    if (index) {
      if (*index >= scene.mNumTextures || scene.mTextures == nullptr) continue;
      texture = scene.mTextures[*index];
      label = "embedded texture " + std::to_string(*index);
    } else {
      const size_t separator = stored.find_last_of("/\\");
      const std::string fileName = separator == std::string::npos ? stored : stored.substr(separator + 1);
      // Assimp reads "*..." as an index and stops a name at a NUL.
      if (fileName.empty() || fileName[0] == '*' || fileName.find('\0') != std::string::npos) continue;
      if (NamesExistingFile(stored, exists)) continue;
      texture = scene.GetEmbeddedTexture(fileName.c_str());
      name = varndel::ExtractedTextureName(stored);
      label = "embedded texture '" + name + "'";
    }
    if (texture == nullptr) continue;
    if (!name.empty()) {
      // Paths in different folders with one file name are one texture.
      const auto known = written.find(name);
      if (known != written.end() && known->second == texture) continue;
    }
    EncodedImage image = EncodeEmbeddedTexture(*texture, inputBytes, label);
    if (index) name = std::to_string(*index) + "." + image.extension;
    const auto [slot, inserted] = written.emplace(name, texture);
    if (!inserted) {
      if (slot->second == texture) continue;
      // Names are distinct for distinct stored names; only two cut names
      // whose hashes agree get here. Either file would show the other image.
      throw std::runtime_error(label + ": another embedded texture is written as " + name);
    }
    // Many images may share one buffer's bytes: the sum is bounded too.
    total += image.bytes.size();
    if (total > bound) {
      throw std::runtime_error(label + ": the embedded textures of this model pass " + std::to_string(bound) +
                               " bytes, the most one model extracts (" + std::to_string(kExtractedPerImportedByte) +
                               " times the " + std::to_string(inputBytes) + " bytes of the imported files, plus " +
                               std::to_string(kExtractionSlack) + ")");
    }
    textures.push_back({name, std::move(image.bytes)});
  }
  return textures;
}

uint64_t ImportedBytes(const std::set<std::string>& files) {
  uint64_t total = 0;
  for (const std::string& file : files) {
    std::error_code error;
    const uint64_t size = fs::file_size(file, error);
    if (error) continue;
    char magic[4] = {};
    std::ifstream stream(file, std::ios::in | std::ios::binary);
    stream.read(magic, sizeof magic);
    const bool zip = stream.gcount() == 4 && magic[0] == 'P' && magic[1] == 'K' && magic[2] == 3 && magic[3] == 4;
    total += zip ? size * kDeflateRatio : size;
  }
  return total;
}

void WriteTexturesDirectory(const std::vector<ExtractedTexture>& textures, const std::string& directory,
                            const std::vector<std::string>& listed, varndel::file_access::OutputDirectory& built) {
  namespace access = varndel::file_access;
  std::string reason;
  // A missing parent is made: making a directory loses nothing.
  fs::path named = fs::path(directory).lexically_normal();
  if (!named.has_filename()) named = named.parent_path();  // "out/tex/"
  const fs::path parent = named.parent_path();
  std::error_code ignored;
  if (!parent.empty()) fs::create_directories(parent, ignored);
  if (!access::CreateOutputDirectory(directory, listed, built, reason)) throw std::runtime_error(reason);
  for (const ExtractedTexture& texture : textures) {
    if (!access::AddOutputDirectoryFile(built, texture.name, texture.bytes, reason)) throw std::runtime_error(reason);
  }
}

void WriteTexturesManifest(const std::vector<ExtractedTexture>& textures, const std::string& path,
                           varndel::file_access::OutputFile& pending) {
  namespace access = varndel::file_access;
  std::vector<std::string> names;
  for (const ExtractedTexture& texture : textures) names.push_back(texture.name);
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  std::string reason;
  if (!access::CreateOutputFile(path, pending, reason) || !access::AppendOutputFile(pending, text, reason) ||
      !access::CloseOutputFile(pending, reason)) {
    throw std::runtime_error(reason);
  }
}
