// The platform's file calls behind one seam (file_access.cpp): reading a
// whole regular file, creating a new file that nothing else holds, looking
// for files by name, and the one way every tool writes its outputs (a
// temporary beside the target, renamed over it; a directory built aside and
// swapped in), with their removal on an interrupt.
// Internal to the project: the reader library uses the first, the tools
// the second. Not an installed header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace varndel::file_access {

// Reads the whole file at path into bytes. Refuses at once, without
// waiting on it, anything but a regular file (a directory, a FIFO, a
// device, a socket), and a file of more than largest bytes (by default
// what one buffer of this process can hold). On failure returns false with
// one sentence in reason that names the path.
bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& reason,
                     uint64_t largest = std::numeric_limits<size_t>::max());

// Creates the file at path for writing, in binary, only if nothing exists
// there: never opens an existing file and never follows a symbolic link.
// Null (with errno set) when it cannot.
std::FILE* CreateNewFile(const std::string& path);

// Whether this process may write the file at path, or nothing is there.
bool IsWritableOrAbsent(const std::string& path);

// Whether path names a regular file (following symbolic links). Never
// throws: a path that cannot be examined is no file.
bool IsRegularFile(const std::string& path);

// The names of the regular files directly in directory, sorted bytewise;
// empty when it is no directory or cannot be listed.
std::vector<std::string> ListRegularFiles(const std::string& directory);

// Creates, as CreateNewFile does, a file named prefix + ".<16 hex digits>" +
// suffix (random digits: another writer's name is not predictable), and
// sets temporary to its name. Null (with errno set, temporary the last name
// tried) when it cannot.
std::FILE* CreateUniqueFile(const std::string& prefix, const std::string& suffix, std::string& temporary);

// Files removed when SIGINT, SIGTERM or SIGHUP ends the process, however
// many are registered at once. The handlers are installed while anything is
// registered and the handlers found are put back when the last entry goes,
// so a library call leaves none behind. A signal whose handler was a
// function (a host's, Python's) goes to that function and the entries stay
// (the process lives on, and their owners remove them); one that would have
// ended the process removes the entries, most recent first, then ends it as
// it would have. For temporaries only. Unregister once the file is renamed
// or removed. RemoveOnInterrupt removes a file, RemoveDirectoryOnInterrupt
// an empty directory (register it before the files put in it).
void RemoveOnInterrupt(const std::string& path);
void RemoveDirectoryOnInterrupt(const std::string& path);
void KeepOnInterrupt(const std::string& path);

// One output file on its way: created exclusively beside target under a
// random name (never through a link, never over anything), registered for
// removal on an interrupt, then renamed over target. Whatever fails, and a
// file dropped unfinished, removes the temporary and nothing else: target
// keeps what it held until the rename.
struct OutputFile {
  std::string target;
  std::string temporary;  // empty once committed or discarded
  std::FILE* stream = nullptr;

  OutputFile() = default;
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
};

// Creates the temporary of target. Refuses a target that is a directory.
// On failure returns false with reason ("cannot create <target>: ...").
bool CreateOutputFile(const std::string& target, OutputFile& file, std::string& reason);
// Appends bytes; reason "cannot write <target>: ..." on failure.
bool AppendOutputFile(OutputFile& file, std::string_view bytes, std::string& reason);
// Flushes and closes the temporary, which then holds every byte appended
// (and can be read back under file.temporary before the commit).
bool CloseOutputFile(OutputFile& file, std::string& reason);
// Closes if still open, then renames the temporary over target.
bool CommitOutputFile(OutputFile& file, std::string& reason);
// Removes the temporary (only it). Safe to call at any time.
void DiscardOutputFile(OutputFile& file);
// All of it: target holds exactly bytes, or keeps what it held.
bool WriteOutputFile(const std::string& target, std::string_view bytes, std::string& reason);

// The file that marks a directory as made by one of these tools: such a
// directory may be replaced or removed by a later run.
inline constexpr const char* kOutputDirectoryMarker = ".varndel-output";

// A directory a tool fills, built complete under a random name beside
// target (with the marker in it) and swapped in by CommitOutputDirectory.
// An existing target is replaced only when a tool made it: it carries the
// marker, or it holds only regular files named in listed (what the
// previous run's manifest lists), or nothing. Anything else (a user's
// folder, ".", a link, a file) is refused with a reason naming it, and
// nothing in it is touched. A failure leaves target as it was.
struct OutputDirectory {
  std::string target;
  std::string temporary;           // empty once committed or discarded
  std::vector<std::string> names;  // files in temporary, the marker first

  OutputDirectory() = default;
  OutputDirectory(const OutputDirectory&) = delete;
  OutputDirectory& operator=(const OutputDirectory&) = delete;
  ~OutputDirectory();
};

// Empty when target may be replaced (or is absent); else why not, naming it.
std::string CheckReplaceableDirectory(const std::string& target, const std::vector<std::string>& listed);
// Checks target, then creates the temporary directory and its marker.
bool CreateOutputDirectory(const std::string& target, const std::vector<std::string>& listed,
                           OutputDirectory& directory, std::string& reason);
// Writes one file (a plain name, no separator) into the temporary.
bool AddOutputDirectoryFile(OutputDirectory& directory, const std::string& name, std::string_view bytes,
                            std::string& reason);
// Checks target again and swaps the temporary in; the replaced directory's
// files are then removed one by one.
bool CommitOutputDirectory(OutputDirectory& directory, const std::vector<std::string>& listed, std::string& reason);
// Removes the temporary and the files written into it.
void DiscardOutputDirectory(OutputDirectory& directory);
// Removes target when CheckReplaceableDirectory allows it, file by file;
// otherwise leaves it whole and returns false with reason.
bool RemoveOutputDirectory(const std::string& target, const std::vector<std::string>& listed, std::string& reason);
// The lines of a manifest file (none when it cannot be read): the names a
// previous run listed.
std::vector<std::string> ReadManifestNames(const std::string& path);

}  // namespace varndel::file_access
