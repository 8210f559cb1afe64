// Finding the image file of a stored texture path. A compiled file stores
// texture paths as the import gave them; an embedded texture is stored as a
// reference "*N" (N counting Assimp's embedded textures) or under its own
// file name, and its image is written, when the build extracts it, into the
// directory <stem>.textures beside the compiled file: "*N" as <N>.<ext>, a
// name as ExtractedTextureName(storedPath). A LOD or optimised file
// (<stem>.lodN.<ext>, <stem>.opt.<ext>, see BaseModelPaths) has the
// textures of the model it was made from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <varndel/file_names.h>

namespace varndel {

// The directory of extracted textures of a compiled file: its path with the
// last extension replaced by ".textures" ("lib/crate.staticbin" gives
// "lib/crate.textures").
std::string TexturesDirectoryOf(const std::string& compiledFile);

// N when the stored path's last component is '*' followed by decimal digits
// (at most 4294967295): a reference to Assimp's embedded texture N.
std::optional<uint32_t> EmbeddedTextureIndex(std::string_view storedPath);

// The file name an embedded texture stored under storedPath gets in the
// textures directory: SafeFileName of the path's last component ('/' and '\'
// both separate). Two stored names with different last components never
// get the same file. "" when the last component is empty.
std::string ExtractedTextureName(std::string_view storedPath);

// The textures directories ResolveTexture looks in for compiledFile, in
// order: its own (TexturesDirectoryOf), then those of the files it was made
// from (BaseModelPaths): "m.opt.lod1.staticbin" gives m.opt.lod1.textures,
// m.opt.textures, m.textures. A directory extracted for the file itself
// comes first, so that it wins over its base's.
std::vector<std::string> TexturesDirectoriesOf(const std::string& compiledFile);

// The file to open for a texture that the compiled file at compiledFile
// stores as storedPath, or nothing when none exists.
// - "*N" (see EmbeddedTextureIndex): the file <N>.<any extension> in each
//   of TexturesDirectoriesOf(compiledFile), in order.
// - any other path: the path with '\' turned into '/' and as stored, each
//   relative to the working directory and then to the compiled file's
//   directory (absolute paths as they are); then
//   <dir>/ExtractedTextureName(storedPath) for each <dir> of
//   TexturesDirectoriesOf(compiledFile).
// No other place is looked at. tried, when given, receives the places
// looked at, in order ("<dir>/<N>.*" for a reference).
std::optional<std::string> ResolveTexture(const std::string& storedPath, const std::string& compiledFile,
                                          std::vector<std::string>* tried = nullptr);

}  // namespace varndel
