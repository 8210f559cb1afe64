// Take files: varndel-edge compiles selected animations ("takes") of a
// source file into files of their own, <stem>.<take>.animbin beside its
// output <stem>.<ext>, and lists them in the take record <stem>.takes.txt
// beside them. The record is text: a first line starting with '#', then one
// line per take file:
//
//   <file name> TAB <take index> TAB <take name, quoted> TAB <kind> LF
//
// where the file name has no directory part, the index counts the source
// file's animations from 0, the name is quoted as varndel-inspect quotes
// names (single quotes; control characters and bytes that are not UTF-8 as
// \xNN), and kind is "model" (meshes and animation) or "clip" (no meshes).
// Compiles as C++17 and C++20.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varndel {

struct TakeRecordEntry {
  std::string recordFile;  // the record that names the file
  std::string fileName;    // the take file's name, as listed
  uint64_t index = 0;      // the take's index in its source file
  std::string quotedName;  // as listed: quoted, safe for a terminal
  bool clip = false;       // written without meshes
};

// "<output without its last extension>.takes.txt".
std::string TakesRecordPath(const std::string& output);

// The record line of one take file (with its LF).
std::string TakeRecordLine(const std::string& fileName, uint64_t index, const std::string& name, bool clip);

// The entry of the record that lists the compiled file at path, when a
// record beside it does: for "dir/a.b.c.animbin" the records "dir/a.takes.txt"
// and "dir/a.b.takes.txt" are read, the longer stem first.
std::optional<TakeRecordEntry> FindTakeRecord(const std::string& path);

}  // namespace varndel
