// The reading half of the file seam (file_map.cpp): a regular file read in
// pieces, for a reader that puts each block straight where it belongs, and a
// read-only mapping of a whole file.
// Internal to the project, beside file_access.h. Not an installed header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace varndel::file_access {

// A regular file open for reading from its start.
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // Opens the file at path. Refuses at once, without waiting on it, anything
  // but a regular file, and a file of more than largest bytes; on failure
  // returns false with one sentence in reason that names the path.
  bool Open(const std::string& path, std::string& reason, uint64_t largest = std::numeric_limits<size_t>::max());

  // The size the file had when it was opened.
  uint64_t size() const { return size_; }

  // Reads exactly count bytes from the current position. False, with a
  // reason that names the path, when the file ends first or cannot be read.
  bool Read(void* into, size_t count, std::string& reason);

 private:
  friend class FileMapping;
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string path_;
};

// Asks the system to give memory pages to [data, data + bytes), which this
// process has allocated and not yet touched, in one call: the first writes
// then fault nothing, which is cheaper than a fault per page (a large block
// about to be filled, then read into). Only a hint; nothing where
// unsupported.
void PrefaultForWriting(void* data, size_t bytes) noexcept;

// A whole regular file mapped read-only. Its pages are read when first
// touched; nothing is copied.
class FileMapping {
 public:
  FileMapping() = default;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;
  ~FileMapping();

  // Maps the file at path, refusing what InputFile::Open refuses, with the
  // same reason. An empty file maps to no bytes (data() is null).
  bool Map(const std::string& path, std::string& reason);

  // While sparse, a touch maps its own page only, not the cached pages
  // around it nor reading ahead: for a walk over headers that skips blocks.
  void ExpectSparseReads(bool sparse) noexcept;

  const unsigned char* data() const { return static_cast<const unsigned char*>(view_); }
  size_t size() const { return size_; }

 private:
  void Release() noexcept;

  void* view_ = nullptr;
  size_t size_ = 0;
};

}  // namespace varndel::file_access
