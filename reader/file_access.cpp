// The only place with POSIX and Windows file calls; see file_access.h.
#include "reader/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>
#include <vector>

namespace varndel::file_access {

namespace {

#ifdef _WIN32
using FileStatus = struct _stati64;
int OpenForReading(const std::string& path) { return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT); }
int StatusOf(int fd, FileStatus& status) { return _fstati64(fd, &status); }
long ReadSome(int fd, char* into, size_t count) { return _read(fd, into, unsigned(std::min<size_t>(count, 1u << 30))); }
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
long ReadSome(int fd, char* into, size_t count) { return long(read(fd, into, std::min<size_t>(count, 1u << 30))); }
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

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) Close(fd);
  }
};

}  // namespace

bool ReadRegularFile(const std::string& path, std::string& bytes, std::string& reason, uint64_t largest) {
  const std::string quoted = "'" + path + "'";
  std::error_code ignored;
  // Windows cannot open a directory as a file at all.
  if (std::filesystem::is_directory(path, ignored)) {
    reason = quoted + " is a directory, not a model file";
    return false;
  }
  const Descriptor file{OpenForReading(path)};
  if (file.fd < 0) {
    const int error = errno;
    reason = "cannot open " + quoted + ": " +
             (error == ENOENT || error == ENOTDIR ? std::string("no such file")
                                                  : std::generic_category().message(error));
    return false;
  }
  FileStatus status{};
  if (StatusOf(file.fd, status) != 0) {
    reason = "cannot read " + quoted + ": it cannot be sized";
    return false;
  }
  if (const char* kind = KindOf(status)) {
    reason = quoted + " is " + kind + ", not a model file";
    return false;
  }
  if (status.st_size < 0) {
    reason = "cannot read " + quoted + ": it cannot be sized";
    return false;
  }
  const uint64_t size = uint64_t(status.st_size);
  if (size > largest || size > bytes.max_size()) {
    reason = "cannot read " + quoted + ": its " + std::to_string(size) +
             " bytes are more than this program can hold in memory";
    return false;
  }
  bytes.resize(size_t(size));
  for (size_t done = 0; done < bytes.size();) {
    const long got = ReadSome(file.fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      reason = "cannot read " + quoted + ": it ended early";
      return false;
    }
    done += size_t(got);
  }
  return true;
}

std::FILE* CreateNewFile(const std::string& path) {
#ifdef _WIN32
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
#else
  // O_EXCL refuses any existing name, a symbolic link included.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
#endif
  return file;
}

bool IsRegularFile(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

std::vector<std::string> ListRegularFiles(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator entry(directory, error);
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    std::error_code ignored;
    if (entry->is_regular_file(ignored)) names.push_back(entry->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::FILE* CreateUniqueFile(const std::string& prefix, const std::string& suffix, std::string& temporary) {
  static std::mutex mutex;
  static std::mt19937_64 random = [] {
    uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      seed ^= uint64_t(std::random_device{}()) << 32;
    } catch (...) {  // no random device: the clock alone
    }
    return std::mt19937_64(seed);
  }();
  for (int attempt = 0; attempt < 64; ++attempt) {
    char digits[32];
    {
      const std::lock_guard<std::mutex> lock(mutex);
      std::snprintf(digits, sizeof digits, ".%016llx", static_cast<unsigned long long>(random()));
    }
    temporary = prefix + digits + suffix;
    if (std::FILE* file = CreateNewFile(temporary)) return file;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

namespace {

// Paths for the signal handler: written before a slot is marked used, read
// only while marked. Fixed storage, as a handler may not allocate.
constexpr size_t kSlots = 64;
constexpr size_t kLongestPath = 4095;
struct Slot {
  std::atomic<bool> used{false};
  char path[kLongestPath + 1];
};
Slot slots[kSlots];
std::mutex slotsMutex;  // registration and removal, never the handler

#ifdef _WIN32
int RemovePath(const char* path) { return _unlink(path); }
#else
int RemovePath(const char* path) { return unlink(path); }
#endif

// Async-signal-safe: unlink and the atomic flags only.
void RemoveRegisteredAndRaise(int signal) {
  for (Slot& slot : slots) {
    if (slot.used.load()) RemovePath(slot.path);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallHandlers() {
  static const bool installed = [] {
    for (const int signal : {SIGINT, SIGTERM}) {
      const auto previous = std::signal(signal, RemoveRegisteredAndRaise);
      // A signal the parent set to be ignored stays ignored.
      if (previous == SIG_IGN) std::signal(signal, SIG_IGN);
    }
    return true;
  }();
  (void)installed;
}

}  // namespace

void RemoveOnInterrupt(const std::string& path) {
  if (path.size() > kLongestPath) return;
  InstallHandlers();
  const std::lock_guard<std::mutex> lock(slotsMutex);
  for (Slot& slot : slots) {
    if (slot.used.load()) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.used.store(true);
    return;
  }
}

void KeepOnInterrupt(const std::string& path) {
  const std::lock_guard<std::mutex> lock(slotsMutex);
  for (Slot& slot : slots) {
    if (slot.used.load() && path == slot.path) {
      slot.used.store(false);
      return;
    }
  }
}

}  // namespace varndel::file_access
