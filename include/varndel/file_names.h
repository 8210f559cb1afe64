// The names of the files around a compiled model: its LOD files, the file
// varndel-opt writes, which compiled file another was made from, and names
// made safe for every file system. One rule for both directions, so that a
// tool that writes a name and a reader that looks for it agree.
// Compiles as C++17 and C++20.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varndel {

// "<dir>/<stem>.lod<level>.<ext>": the file name's last extension (or, when
// it has none, that of the model's kind) behind ".lod<level>".
std::string LodPath(const std::string& path, size_t level, bool animated);

// The level a file name says (".../crate.lod2.staticbin" -> 2), 0 for none.
size_t LodLevelOf(const std::string& path);

// "<dir>/<stem>.opt<ext>": where varndel-opt writes the result for path
// when no output is named ("lib/crate.staticbin" -> "lib/crate.opt.staticbin").
std::string OptimizedPath(const std::string& path);

// The compiled files that path was made from by LodPath and OptimizedPath,
// nearest first, taking off one ".lodN" or ".opt" before the extension at
// a time: "a.opt.lod1.staticbin" gives "a.opt.staticbin", then
// "a.staticbin"; "a.lod2.opt.staticbin" (varndel-opt on a LOD file) gives
// "a.lod2.staticbin", then "a.staticbin"; a name without either gives
// nothing. Only the name is looked at.
std::vector<std::string> BaseModelPaths(const std::string& path);

// name as one file name that every file system keeps apart from every other
// name this gives: the bytes a-z, 0-9, "-_+()" and '.' and ' ' inside the
// name stay; every other byte (upper case, bytes past ASCII, '%' itself, and
// a leading or trailing '.' or ' ') becomes %XX, two upper-case hex digits.
// Different names never give the same result, not even where upper and lower
// case are one (Windows, macOS). The first byte is encoded too when the part
// before the first '.' is a Windows device name (con, nul, com1, ...) or only
// digits (numbered files stay apart). A result past 128 bytes is cut and
// gets '~' and 16 hex digits of a hash of name before a short extension.
// "" for "".
std::string SafeFileName(std::string_view name);

}  // namespace varndel
