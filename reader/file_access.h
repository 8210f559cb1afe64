// The platform's file calls behind one seam (file_access.cpp): reading a
// whole regular file, creating a new file that nothing else holds, and
// looking for files by name.
// Internal to the project: the reader library uses the first, the tools
// the second. Not an installed header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
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

// Files removed when SIGINT or SIGTERM ends the process (the handler is
// installed with the first registration; the signal then does what it
// did before). For temporary files only; a path longer than 4095 bytes, or
// beyond the 64 registered at once, is not covered. Unregister once the
// file is renamed or removed.
void RemoveOnInterrupt(const std::string& path);
void KeepOnInterrupt(const std::string& path);

}  // namespace varndel::file_access
