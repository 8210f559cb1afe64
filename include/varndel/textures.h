// Finding the image file of a stored texture path. A compiled file stores
// texture paths as the import gave them; an embedded texture is stored as a
// reference "*N" (N counting Assimp's embedded textures) or under its own
// file name, and its image is written, when the build extracts it, into the
// directory <stem>.textures beside the compiled file: "*N" as <N>.<ext>, a
// name as ExtractedTextureName(storedPath).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varndel {

// The directory of extracted textures of a compiled file: its path with the
// last extension replaced by ".textures" ("lib/crate.staticbin" gives
// "lib/crate.textures").
std::string TexturesDirectoryOf(const std::string& compiledFile);

// N when the stored path's last component is '*' followed by decimal digits
// (at most 4294967295): a reference to Assimp's embedded texture N.
std::optional<uint32_t> EmbeddedTextureIndex(std::string_view storedPath);

// The file name an embedded texture stored under storedPath gets in the
// textures directory: the path's last component ('/' and '\' both
// separate), made safe for every file system. Control characters, bytes
// that are not UTF-8 and <>:"/\|?* become '_', as do leading dots and
// trailing dots and spaces; a Windows device name (CON, NUL, COM1, ...)
// gets a leading '_'; names are cut to 128 bytes, keeping a short
// extension. "" when the last component is empty.
std::string ExtractedTextureName(std::string_view storedPath);

// The file to open for a texture that the compiled file at compiledFile
// stores as storedPath, or nothing when none exists.
// - "*N" (see EmbeddedTextureIndex): the file <N>.<any extension> in
//   TexturesDirectoryOf(compiledFile).
// - any other path: the path with '\' turned into '/' and as stored, each
//   relative to the working directory and then to the compiled file's
//   directory (absolute paths as they are); then
//   TexturesDirectoryOf(compiledFile)/ExtractedTextureName(storedPath).
// No other place is looked at. tried, when given, receives the places
// looked at, in order ("<dir>/<N>.*" for a reference).
std::optional<std::string> ResolveTexture(const std::string& storedPath, const std::string& compiledFile,
                                          std::vector<std::string>* tried = nullptr);

}  // namespace varndel
