// The only place with POSIX and Windows file calls; see file_access.h.
#include "reader/file_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <signal.h>
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

namespace fs = std::filesystem;

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

bool IsWritableOrAbsent(const std::string& path) {
#ifdef _WIN32
  return _access(path.c_str(), 2) == 0 || errno == ENOENT;
#else
  return access(path.c_str(), W_OK) == 0 || errno == ENOENT;
#endif
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

namespace {

// ".<16 hex digits>", random: another writer's name is not predictable.
std::string RandomDigits() {
  static std::mutex mutex;
  static std::mt19937_64 random = [] {
    uint64_t seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      seed ^= uint64_t(std::random_device{}()) << 32;
    } catch (...) {  // no random device: the clock alone
    }
    return std::mt19937_64(seed);
  }();
  char digits[32];
  const std::lock_guard<std::mutex> lock(mutex);
  std::snprintf(digits, sizeof digits, ".%016llx", static_cast<unsigned long long>(random()));
  return digits;
}

}  // namespace

std::FILE* CreateUniqueFile(const std::string& prefix, const std::string& suffix, std::string& temporary) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    temporary = prefix + RandomDigits() + suffix;
    if (std::FILE* file = CreateNewFile(temporary)) return file;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

namespace {

// The registry the signal handler reads. Slots and their buffers are only
// ever added (a slot is reused for a path that fits its buffer), and a
// table outgrown is kept, so the handler never reads freed memory and never
// allocates. Registration holds registryMutex; the handler takes no lock.
enum SlotState : int { kFree = 0, kFile = 1, kDirectory = 2 };
struct Slot {
  std::atomic<int> state{kFree};
  std::atomic<char*> path{nullptr};
  size_t capacity = 0;  // of path's buffer
};
std::atomic<Slot*> registryTable{nullptr};
std::atomic<size_t> registrySize{0};  // slots in use at the table's front, never shrinks
size_t registryCapacity = 0;
size_t registeredCount = 0;
std::vector<Slot*> outgrownTables;  // kept for a handler that may still read one
std::mutex registryMutex;

#ifdef _WIN32
int RemoveFilePath(const char* path) { return _unlink(path); }
int RemoveEmptyDirectory(const char* path) { return _rmdir(path); }
#else
int RemoveFilePath(const char* path) { return unlink(path); }
int RemoveEmptyDirectory(const char* path) { return rmdir(path); }
#endif

// Async-signal-safe: atomics, unlink and rmdir only. Most recent first, so
// that a directory's files go before the directory.
void RemoveRegistered() {
  const size_t size = registrySize.load();
  Slot* const table = registryTable.load();
  for (size_t i = size; i-- > 0;) {
    const int state = table[i].state.load();
    const char* path = table[i].path.load();
    if (path == nullptr) continue;
    if (state == kFile) RemoveFilePath(path);
    if (state == kDirectory) RemoveEmptyDirectory(path);
  }
}

#ifdef SIGHUP
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int kSignals[] = {SIGINT, SIGTERM};
#endif
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

size_t SignalIndex(int signal) {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signal) return i;
  }
  return 0;
}

#ifdef _WIN32
using Handler = void (*)(int);
Handler previousHandlers[kSignalCount];
bool installedFor[kSignalCount];

void HandleSignal(int signal) {
  const Handler previous = previousHandlers[SignalIndex(signal)];
  if (previous != SIG_DFL && previous != SIG_IGN && previous != nullptr) {
    std::signal(signal, HandleSignal);  // the CRT resets it before the call
    previous(signal);
    return;
  }
  RemoveRegistered();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallHandlers() {
  for (size_t i = 0; i < kSignalCount; ++i) {
    const Handler previous = std::signal(kSignals[i], HandleSignal);
    installedFor[i] = previous != SIG_IGN && previous != SIG_ERR;
    if (!installedFor[i]) {
      if (previous == SIG_IGN) std::signal(kSignals[i], SIG_IGN);
      continue;
    }
    previousHandlers[i] = previous;
  }
}

void RestoreHandlers() {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (!installedFor[i]) continue;
    const Handler current = std::signal(kSignals[i], previousHandlers[i]);
    // Someone set a handler of their own meanwhile: theirs stays.
    if (current != HandleSignal) std::signal(kSignals[i], current);
    installedFor[i] = false;
  }
}
#else
struct sigaction previousActions[kSignalCount];
bool installedFor[kSignalCount];

void HandleSignal(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const struct sigaction& previous = previousActions[SignalIndex(signal)];
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  } else {
    // The default disposition of these three ends the process.
    RemoveRegistered();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    raise(signal);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  }
  errno = savedErrno;
}

void InstallHandlers() {
  for (size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction ours {};
    ours.sa_sigaction = HandleSignal;
    ours.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&ours.sa_mask);
    for (const int other : kSignals) sigaddset(&ours.sa_mask, other);
    struct sigaction previous {};
    installedFor[i] = false;
    if (sigaction(kSignals[i], nullptr, &previous) != 0) continue;
    // A signal the parent set to be ignored stays ignored.
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler == SIG_IGN) continue;
    previousActions[i] = previous;
    installedFor[i] = sigaction(kSignals[i], &ours, nullptr) == 0;
  }
}

void RestoreHandlers() {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (!installedFor[i]) continue;
    installedFor[i] = false;
    struct sigaction current {};
    if (sigaction(kSignals[i], nullptr, &current) != 0) continue;
    // Someone set a handler of their own meanwhile: theirs stays.
    if ((current.sa_flags & SA_SIGINFO) == 0 || current.sa_sigaction != HandleSignal) continue;
    sigaction(kSignals[i], &previousActions[i], nullptr);
  }
}
#endif

// A slot for a path of size bytes, under registryMutex: a free one whose
// buffer holds it, else a free one given a larger buffer, else a new one.
Slot& FreeSlotFor(size_t size) {
  Slot* table = registryTable.load();
  const size_t used = registrySize.load();
  Slot* roomy = nullptr;
  Slot* anyFree = nullptr;
  for (size_t i = 0; i < used; ++i) {
    if (table[i].state.load() != kFree) continue;
    if (table[i].capacity > size) {
      roomy = &table[i];
      break;
    }
    if (anyFree == nullptr) anyFree = &table[i];
  }
  if (roomy != nullptr) return *roomy;
  Slot* slot = anyFree;
  if (slot == nullptr) {
    if (used == registryCapacity) {
      const size_t capacity = std::max<size_t>(16, registryCapacity * 2);
      Slot* grown = new Slot[capacity];
      for (size_t i = 0; i < used; ++i) {
        grown[i].path.store(table[i].path.load());
        grown[i].capacity = table[i].capacity;
        grown[i].state.store(table[i].state.load());
      }
      // The table first, then the size: a handler that sees the new size
      // sees the new table.
      registryTable.store(grown);
      if (table != nullptr) outgrownTables.push_back(table);
      registryCapacity = capacity;
      table = grown;
    }
    slot = &table[used];
    registrySize.store(used + 1);
  }
  // Buffers are rounded up so that reuse is the rule; one outgrown is kept.
  const size_t capacity = (size + 1 + 255) / 256 * 256;
  slot->path.store(new char[capacity]);
  slot->capacity = capacity;
  return *slot;
}

void Register(const std::string& path, SlotState state) {
  const std::lock_guard<std::mutex> lock(registryMutex);
  Slot& slot = FreeSlotFor(path.size());
  std::memcpy(slot.path.load(), path.c_str(), path.size() + 1);
  if (registeredCount++ == 0) InstallHandlers();
  slot.state.store(state);
}

}  // namespace

void RemoveOnInterrupt(const std::string& path) { Register(path, kFile); }

void RemoveDirectoryOnInterrupt(const std::string& path) { Register(path, kDirectory); }

void KeepOnInterrupt(const std::string& path) {
  const std::lock_guard<std::mutex> lock(registryMutex);
  Slot* const table = registryTable.load();
  for (size_t i = registrySize.load(); i-- > 0;) {
    if (table[i].state.load() != kFree && path == table[i].path.load()) {
      table[i].state.store(kFree);
      if (--registeredCount == 0) RestoreHandlers();
      return;
    }
  }
}

namespace {

std::string Message(int error) { return std::generic_category().message(error); }

// What stands at path, not following a link.
fs::file_status StatusOfPath(const std::string& path) {
  std::error_code ignored;
  return fs::symlink_status(path, ignored);
}

// A name beside target: "<dir>/.<name>.<16 random hex digits><suffix>".
std::string RandomNameBeside(const fs::path& target, const char* suffix) {
  return (target.parent_path() / ("." + target.filename().string() + RandomDigits() + suffix)).string();
}

bool RemovePath(const std::string& path) {
#ifdef _WIN32
  return _unlink(path.c_str()) == 0;
#else
  return unlink(path.c_str()) == 0;
#endif
}

bool RenamePath(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool MakeDirectory(const std::string& path) {
#ifdef _WIN32
  return _mkdir(path.c_str()) == 0;
#else
  return mkdir(path.c_str(), 0777) == 0;
#endif
}

// target without a trailing separator ("out/tex/" names "out/tex").
fs::path DirectoryPath(const std::string& target) {
  const fs::path path = fs::path(target).lexically_normal();
  return path.has_filename() ? path : path.parent_path();
}

}  // namespace

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target(std::move(other.target)), temporary(std::move(other.temporary)), stream(other.stream) {
  other.temporary.clear();
  other.stream = nullptr;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    DiscardOutputFile(*this);
    target = std::move(other.target);
    temporary = std::move(other.temporary);
    stream = other.stream;
    other.temporary.clear();
    other.stream = nullptr;
  }
  return *this;
}

OutputFile::~OutputFile() { DiscardOutputFile(*this); }

bool CreateOutputFile(const std::string& target, OutputFile& file, std::string& reason) {
  DiscardOutputFile(file);
  file.target = target;
  if (fs::is_directory(StatusOfPath(target))) {
    reason = "cannot write " + target + ": it is a directory";
    return false;
  }
  // Registered before it exists: an interrupt right after the creation
  // finds it listed.
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string temporary = RandomNameBeside(fs::path(target), ".tmp");
    RemoveOnInterrupt(temporary);
    if (std::FILE* stream = CreateNewFile(temporary)) {
      file.temporary = temporary;
      file.stream = stream;
      return true;
    }
    const int error = errno;
    KeepOnInterrupt(temporary);
    if (error != EEXIST) {
      reason = "cannot create " + target + ": " + Message(error);
      return false;
    }
  }
  reason = "cannot create " + target + ": no free temporary name beside it";
  return false;
}

bool AppendOutputFile(OutputFile& file, std::string_view bytes, std::string& reason) {
  if (file.stream == nullptr) {
    reason = "cannot write " + file.target + ": it is not open";
    return false;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.stream) != bytes.size()) {
    reason = "cannot write " + file.target + ": " + Message(errno);
    DiscardOutputFile(file);
    return false;
  }
  return true;
}

bool CloseOutputFile(OutputFile& file, std::string& reason) {
  if (file.stream == nullptr) return !file.temporary.empty();
  // The flush shows a full disk here, not in an unchecked close.
  const bool flushed = std::fflush(file.stream) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(file.stream) == 0;
  file.stream = nullptr;
  if (!flushed || !closed) {
    reason = "cannot write " + file.target + ": " + Message(flushed ? errno : flushError);
    DiscardOutputFile(file);
    return false;
  }
  return true;
}

bool CommitOutputFile(OutputFile& file, std::string& reason) {
  if (!CloseOutputFile(file, reason)) return false;
  if (file.temporary.empty()) {
    reason = "cannot write " + file.target + ": nothing was written";
    return false;
  }
  if (!RenamePath(file.temporary, file.target)) {
#ifdef _WIN32
    const std::string why = fs::is_directory(StatusOfPath(file.target)) ? "it is a directory" : "it cannot be replaced";
#else
    const std::string why = errno == EISDIR ? "it is a directory" : Message(errno);
#endif
    reason = "cannot write " + file.target + ": " + why;
    DiscardOutputFile(file);
    return false;
  }
  KeepOnInterrupt(file.temporary);
  file.temporary.clear();
  return true;
}

void DiscardOutputFile(OutputFile& file) {
  if (file.stream != nullptr) {
    std::fclose(file.stream);
    file.stream = nullptr;
  }
  if (file.temporary.empty()) return;
  RemovePath(file.temporary);
  KeepOnInterrupt(file.temporary);
  file.temporary.clear();
}

bool WriteOutputFile(const std::string& target, std::string_view bytes, std::string& reason) {
  OutputFile file;
  return CreateOutputFile(target, file, reason) && AppendOutputFile(file, bytes, reason) &&
         CommitOutputFile(file, reason);
}

OutputDirectory::~OutputDirectory() { DiscardOutputDirectory(*this); }

std::string CheckReplaceableDirectory(const std::string& target, const std::vector<std::string>& listed) {
  const fs::path path = DirectoryPath(target);
  std::string name = path.filename().string();
  const std::string quoted = "'" + target + "'";
  // "dir/." and "dir/.." name a directory through another: never replaced.
  std::string last;
  for (const fs::path& element : fs::path(target)) {
    if (!element.empty()) last = element.string();
  }
  if (last == "." || last == "..") name = last;
  if (name.empty() || name == "." || name == "..") {
    return "refusing to replace " + quoted + ": it names an existing directory that this tool did not make";
  }
  const fs::file_status status = StatusOfPath(path.string());
  if (status.type() == fs::file_type::not_found) return {};
  if (fs::is_symlink(status)) return "refusing to replace " + quoted + ": it is a symbolic link";
  if (!fs::is_directory(status)) return "refusing to replace " + quoted + ": it is a file, not a directory";
  std::error_code error;
  bool marked = false;
  std::string foreign;
  std::string subdirectory;
  for (fs::directory_iterator entry(path, error); !error && entry != fs::directory_iterator();
       entry.increment(error)) {
    const std::string entryName = entry->path().filename().string();
    std::error_code ignored;
    const fs::file_status entryStatus = entry->symlink_status(ignored);
    if (entryName == kOutputDirectoryMarker && fs::is_regular_file(entryStatus)) {
      marked = true;
    } else if (fs::is_directory(entryStatus)) {
      // The first by name, so the message is the same whatever the listing order.
      if (subdirectory.empty() || entryName < subdirectory) subdirectory = entryName;
    } else if ((foreign.empty() || entryName < foreign) &&
               std::find(listed.begin(), listed.end(), entryName) == listed.end()) {
      foreign = entryName;
    }
  }
  if (error) return "refusing to replace " + quoted + ": it cannot be listed (" + error.message() + ")";
  if (!subdirectory.empty()) {
    return "refusing to replace " + quoted + ": it holds the directory '" + subdirectory +
           "', which this tool did not make";
  }
  if (!marked && !foreign.empty()) {
    return "refusing to replace " + quoted + ": it holds '" + foreign +
           "', which this tool did not write (an earlier output carries " + kOutputDirectoryMarker + ")";
  }
  return {};
}

bool CreateOutputDirectory(const std::string& target, const std::vector<std::string>& listed,
                           OutputDirectory& directory, std::string& reason) {
  DiscardOutputDirectory(directory);
  directory.target = DirectoryPath(target).string();
  reason = CheckReplaceableDirectory(target, listed);
  if (!reason.empty()) return false;
  const fs::path path(directory.target);
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string temporary = RandomNameBeside(path, ".tmp");
    RemoveDirectoryOnInterrupt(temporary);
    if (MakeDirectory(temporary)) {
      directory.temporary = temporary;
      return AddOutputDirectoryFile(directory, kOutputDirectoryMarker, "made by a Varndel tool; replaced by its next run\n",
                                    reason);
    }
    const int error = errno;
    KeepOnInterrupt(temporary);
    errno = error;
    if (error != EEXIST) break;
  }
  reason = "cannot create " + directory.target + ": " + Message(errno);
  return false;
}

bool AddOutputDirectoryFile(OutputDirectory& directory, const std::string& name, std::string_view bytes,
                            std::string& reason) {
  const std::string path = directory.temporary + "/" + name;
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos) {
    reason = "cannot write '" + name + "' into " + directory.target + ": not a plain file name";
    DiscardOutputDirectory(directory);
    return false;
  }
  if (directory.temporary.empty()) {
    reason = "cannot write " + path + ": the directory is not being built";
    return false;
  }
  RemoveOnInterrupt(path);
  std::FILE* file = CreateNewFile(path);
  if (file == nullptr) {
    const int error = errno;
    KeepOnInterrupt(path);
    reason = "cannot write " + (fs::path(directory.target) / name).string() + ": " + Message(error);
    DiscardOutputDirectory(directory);
    return false;
  }
  directory.names.push_back(name);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    reason = "cannot write " + (fs::path(directory.target) / name).string() + ": " +
             Message(written ? errno : writeError);
    DiscardOutputDirectory(directory);
    return false;
  }
  return true;
}

namespace {

// Removes the files directly in directory (no directory in it is entered)
// and then the directory, if it is then empty.
void RemoveFilesAndDirectory(const std::string& directory) {
  std::error_code error;
  std::vector<std::string> files;
  for (fs::directory_iterator entry(directory, error); !error && entry != fs::directory_iterator();
       entry.increment(error)) {
    std::error_code ignored;
    if (!fs::is_directory(entry->symlink_status(ignored))) files.push_back(entry->path().string());
  }
  for (const std::string& file : files) RemovePath(file);
  RemoveEmptyDirectory(directory.c_str());
}

}  // namespace

bool CommitOutputDirectory(OutputDirectory& directory, const std::vector<std::string>& listed, std::string& reason) {
  if (directory.temporary.empty()) {
    reason = "cannot write " + directory.target + ": the directory is not being built";
    return false;
  }
  reason = CheckReplaceableDirectory(directory.target, listed);
  if (!reason.empty()) {
    DiscardOutputDirectory(directory);
    return false;
  }
  // Neither system renames a directory over a full one: the old one is
  // moved aside first, and back if the new one cannot take its place.
  std::string aside;
  if (StatusOfPath(directory.target).type() != fs::file_type::not_found) {
    aside = RandomNameBeside(fs::path(directory.target), ".old");
    if (!RenamePath(directory.target, aside)) {
      reason = "cannot replace " + directory.target + ": " + Message(errno);
      DiscardOutputDirectory(directory);
      return false;
    }
  }
  if (!RenamePath(directory.temporary, directory.target)) {
    reason = "cannot write " + directory.target + ": " + Message(errno);
    if (!aside.empty()) RenamePath(aside, directory.target);
    DiscardOutputDirectory(directory);
    return false;
  }
  for (const std::string& name : directory.names) KeepOnInterrupt(directory.temporary + "/" + name);
  KeepOnInterrupt(directory.temporary);
  directory.temporary.clear();
  directory.names.clear();
  if (!aside.empty()) RemoveFilesAndDirectory(aside);
  return true;
}

void DiscardOutputDirectory(OutputDirectory& directory) {
  if (directory.temporary.empty()) return;
  for (auto name = directory.names.rbegin(); name != directory.names.rend(); ++name) {
    const std::string path = directory.temporary + "/" + *name;
    RemovePath(path);
    KeepOnInterrupt(path);
  }
  RemoveEmptyDirectory(directory.temporary.c_str());
  KeepOnInterrupt(directory.temporary);
  directory.temporary.clear();
  directory.names.clear();
}

bool RemoveOutputDirectory(const std::string& target, const std::vector<std::string>& listed, std::string& reason) {
  reason = CheckReplaceableDirectory(target, listed);
  if (!reason.empty()) return false;
  const std::string path = DirectoryPath(target).string();
  if (StatusOfPath(path).type() == fs::file_type::not_found) return true;
  RemoveFilesAndDirectory(path);
  return true;
}

std::vector<std::string> ReadManifestNames(const std::string& path) {
  std::string text, ignored;
  std::vector<std::string> names;
  if (!ReadRegularFile(path, text, ignored, uint64_t(1) << 26)) return names;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) names.push_back(line);
    start = end + 1;
  }
  return names;
}

}  // namespace varndel::file_access
