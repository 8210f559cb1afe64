// Extraction of embedded textures: the images a model carries inside itself
// (a GLB's buffers, an FBX's Video content, ...), written as files into the
// directory that varndel::ResolveTexture looks in (include/varndel/textures.h).
// The compiled file is not touched: it keeps the paths as stored.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "reader/file_access.h"

struct aiScene;
struct aiTexture;

// One file of the textures directory.
struct ExtractedTexture {
  std::string name;   // file name, safe on every file system
  std::string bytes;  // its contents
};

// Whether a path (relative to the working directory) names a file the
// import may see.
using FileExists = std::function<bool(const std::string& path)>;

// The embedded images the stored paths reference (each distinct path once):
// "*N" as <N>.<ext>, a file name that Assimp resolves to embedded data
// (aiScene::GetEmbeddedTexture) as varndel::ExtractedTextureName gives it,
// unless the stored path names a file that exists (it is found there). A
// reference to no embedded texture is left out. inputBytes bounds what an
// embedded image can claim, and ExtractionBound(inputBytes) what they sum
// to (see ImportedBytes). Throws std::runtime_error, naming the texture,
// for one whose size cannot be right, for the one that passes the bound,
// and for two images that would share a file name.
std::vector<ExtractedTexture> CollectEmbeddedTextures(const aiScene& scene, const std::vector<std::string>& storedPaths,
                                                      uint64_t inputBytes, const FileExists& exists);

// The most bytes one model's extracted textures may hold, for imported
// files that hold inputBytes: four times as many, plus 64 KiB.
uint64_t ExtractionBound(uint64_t inputBytes);

// One embedded texture as a file.
struct EncodedImage {
  std::string extension;  // without the dot
  std::string bytes;
};

// The file of one embedded texture: compressed data byte for byte, with the format hint as extension when it is [a-z0-9]{1,8}
// (after lower-casing) and "bin" otherwise; texels (BGRA) encoded as PNG.
// Compressed data may claim at most inputBytes bytes, texels at most two per
// input byte (no format stores a texel in less than four bits). Throws
// std::runtime_error naming the texture by label.
EncodedImage EncodeEmbeddedTexture(const aiTexture& texture, uint64_t inputBytes, const std::string& label);

// The bytes an import's files can hold once unpacked: their sizes, a ZIP
// archive's (a Collada .zae) times 1032, DEFLATE's largest ratio. Files that
// cannot be read count nothing.
uint64_t ImportedBytes(const std::set<std::string>& files);

// Builds the directory that is to hold exactly textures beside directory,
// under a temporary name, for CommitOutputDirectory to swap in (see
// OutputDirectory in reader/file_access.h: an existing directory is
// replaced only when a run of a tool made it, its marker or the previous
// manifest, listed, says so). Built even when there is nothing to write.
// Throws std::runtime_error naming what is refused or cannot be written;
// built's temporary is then gone.
void WriteTexturesDirectory(const std::vector<ExtractedTexture>& textures, const std::string& directory,
                            const std::vector<std::string>& listed, varndel::file_access::OutputDirectory& built);

// Writes the names of textures, sorted, one per line, to a temporary of
// path, closed, for the caller to commit: the file a build system tracks
// for the directory. Throws std::runtime_error.
void WriteTexturesManifest(const std::vector<ExtractedTexture>& textures, const std::string& path,
                           varndel::file_access::OutputFile& pending);
