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

// ReadRegularFile, with the rest of the reading half, is in file_map.cpp.

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
