// The reading half of the file seam; see file_map.h and file_access.h.
#include "reader/file_map.h"

#include "reader/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace varndel::file_access {

namespace {

#ifdef _WIN32
using FileStatus = struct _stati64;
int OpenForReading(const std::string& path) { return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT); }
int StatusOf(int fd, FileStatus& status) { return _fstati64(fd, &status); }
long ReadSome(int fd, void* into, size_t count) { return _read(fd, into, unsigned(std::min<size_t>(count, 1u << 30))); }
void Close(int fd) { _close(fd); }
const char* KindOf(const FileStatus& status) {
  switch (status.st_mode & _S_IFMT) {
    case _S_IFREG:
      return nullptr;
    case _S_IFDIR:
      return "a directory";
    case _S_IFCHR:
      return "a device";
    case _S_IFIFO:
      return "a pipe";
    default:
      return "not a regular file";
  }
}
#else
using FileStatus = struct stat;
// Non-blocking, so that opening a FIFO does not wait for a writer.
int OpenForReading(const std::string& path) { return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); }
int StatusOf(int fd, FileStatus& status) { return fstat(fd, &status); }
long ReadSome(int fd, void* into, size_t count) { return long(read(fd, into, std::min<size_t>(count, 1u << 30))); }
void Close(int fd) { close(fd); }
const char* KindOf(const FileStatus& status) {
  if (S_ISREG(status.st_mode)) return nullptr;
  if (S_ISDIR(status.st_mode)) return "a directory";
  if (S_ISFIFO(status.st_mode)) return "a FIFO";
  if (S_ISCHR(status.st_mode)) return "a character device";
  if (S_ISBLK(status.st_mode)) return "a block device";
  if (S_ISSOCK(status.st_mode)) return "a socket";
  return "not a regular file";
}
#endif

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

InputFile::~InputFile() {
  if (fd_ >= 0) Close(fd_);
}

bool InputFile::Open(const std::string& path, std::string& reason, uint64_t largest) {
  if (fd_ >= 0) Close(fd_);
  fd_ = -1;
  size_ = 0;
  path_ = path;
  const std::string quoted = Quoted(path);
  std::error_code ignored;
  // Windows cannot open a directory as a file at all.
  if (std::filesystem::is_directory(path, ignored)) {
    reason = quoted + " is a directory, not a model file";
    return false;
  }
  const int fd = OpenForReading(path);
  if (fd < 0) {
    const int error = errno;
    reason = "cannot open " + quoted + ": " +
             (error == ENOENT || error == ENOTDIR ? std::string("no such file")
                                                  : std::generic_category().message(error));
    return false;
  }
  FileStatus status{};
  const char* kind = nullptr;
  if (StatusOf(fd, status) != 0 || status.st_size < 0) {
    reason = "cannot read " + quoted + ": it cannot be sized";
  } else if ((kind = KindOf(status)) != nullptr) {
    reason = quoted + " is " + kind + ", not a model file";
  } else if (uint64_t(status.st_size) > largest) {
    reason = "cannot read " + quoted + ": its " + std::to_string(uint64_t(status.st_size)) +
             " bytes are more than this program can hold in memory";
  } else {
    fd_ = fd;
    size_ = uint64_t(status.st_size);
    return true;
  }
  Close(fd);
  return false;
}

bool InputFile::Read(void* into, size_t count, std::string& reason) {
  char* at = static_cast<char*>(into);
  for (size_t done = 0; done < count;) {
    const long got = fd_ < 0 ? -1 : ReadSome(fd_, at + done, count - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      reason = "cannot read " + Quoted(path_) + ": it ended early";
      return false;
    }
    done += size_t(got);
  }
  return true;
}

bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& reason, uint64_t largest) {
  InputFile file;
  if (!file.Open(path, reason, std::min<uint64_t>(largest, bytes.max_size()))) return false;
  bytes.resize(size_t(file.size()));
  return file.Read(bytes.data(), bytes.size(), reason);
}

void PrefaultForWriting(void* data, size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // Whole pages only: the block's first and last pages may be shared.
  constexpr uintptr_t kPage = 4096;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kPage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);  // older kernels: EINVAL
#else
  (void)data;
  (void)bytes;
#endif
}

FileMapping::FileMapping(FileMapping&& other) noexcept
    : view_(std::exchange(other.view_, nullptr)), size_(std::exchange(other.size_, 0)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    Release();
    view_ = std::exchange(other.view_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

FileMapping::~FileMapping() { Release(); }

void FileMapping::Release() noexcept {
  if (view_ == nullptr) return;
#ifdef _WIN32
  UnmapViewOfFile(view_);
#else
  munmap(view_, size_);
#endif
  view_ = nullptr;
  size_ = 0;
}

bool FileMapping::Map(const std::string& path, std::string& reason) {
  Release();
  InputFile file;
  if (!file.Open(path, reason)) return false;
  if (file.size() == 0) return true;  // nothing to map; an empty view
  const size_t size = size_t(file.size());
  const std::string failed = "cannot map " + Quoted(path) + ": ";
#ifdef _WIN32
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.fd_));
  const HANDLE mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    reason = failed + std::system_category().message(int(GetLastError()));
    return false;
  }
  // The view keeps the mapping alive once the handle is closed.
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
  const DWORD error = GetLastError();
  CloseHandle(mapping);
  if (view == nullptr) {
    reason = failed + std::system_category().message(int(error));
    return false;
  }
#else
  void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.fd_, 0);
  if (view == MAP_FAILED) {
    reason = failed + std::generic_category().message(errno);
    return false;
  }
#endif
  view_ = view;
  size_ = size;
  return true;
}

void FileMapping::ExpectSparseReads(bool sparse) noexcept {
#ifndef _WIN32
  if (view_ != nullptr) madvise(view_, size_, sparse ? MADV_RANDOM : MADV_NORMAL);
#else
  (void)sparse;
#endif
}

}  // namespace varndel::file_access
