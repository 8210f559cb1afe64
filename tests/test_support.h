// Shared test helpers: running the real binary, scratch directories, and a
// little-endian byte builder for expected file images.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct RunResult {
  // As the platform reports it: the low 8 bits on POSIX, as a shell sees
  // them; the whole 32-bit exit status on Windows.
  int exitCode = -1;
  std::string out;
  std::string err;
};

// The compiler's exit codes -1 and -666 as RunResult::exitCode shows them.
#ifdef _WIN32
inline constexpr int kExitFailure = -1;
inline constexpr int kExitMismatch = -666;
#else
inline constexpr int kExitFailure = 255;
inline constexpr int kExitMismatch = 102;
#endif

// Text as a text-mode stream of the binary writes it (console, log file):
// every "\n" becomes "\r\n" on Windows, unchanged elsewhere.
std::string TextMode(const std::string& text);

// Runs program (looked up on PATH when it has no directory part, on POSIX)
// with args in directory cwd; captures both output streams.
RunResult RunProcess(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd);

// Runs the Varndel binary with args in directory cwd. A non-empty shellPrefix
// is run by /bin/sh before exec'ing the binary (for ulimit and the like;
// POSIX only).
RunResult RunVarndel(const std::vector<std::string>& args, const fs::path& cwd, const std::string& shellPrefix = "");

#ifdef _WIN32
// The drive-letter spellings of the absolute path dir, with '\' only: its
// own, and under Wine also the one through Z:, the build machine's root.
std::vector<std::string> DriveLetterForms(const fs::path& dir);
#endif

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// Whether RunInChild can cap the address space: not on Windows, which has
// no fork, and not under AddressSanitizer, which reserves terabytes of
// shadow memory.
inline constexpr bool kChildMemoryCap =
#ifdef _WIN32
    false;
#else
    !kAddressSanitizer;
#endif

// Runs body in a child process whose address space may grow by at most
// budget bytes (where kChildMemoryCap) and which is killed after seconds;
// returns body's result, or 128 + the number of the signal that ended the
// child; an exception escaping body counts as signal 6, as an abort. The
// child leaves at once, never returning into the test framework. Windows has no
// fork: there body runs in this process, unlimited.
int RunInChild(const std::function<int()>& body, size_t budget, unsigned seconds = 60);
// "exit code 3", "signal 6 (abort)".
std::string DescribeChildStatus(int status);

// A new, empty, uniquely named directory below the system's temporary
// directory.
fs::path MakeTemporaryDirectory();

// A new empty directory below the working directory, removed afterwards.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  fs::path path;
};

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);

inline fs::path FixturePath(const std::string& name) { return fs::path(VARNDEL_FIXTURES) / name; }
inline fs::path ExamplePath(const std::string& name) { return fs::path(VARNDEL_EXAMPLES) / name; }

// Everything written to std::cout while alive.
class CaptureStdout {
 public:
  CaptureStdout() : saved_(std::cout.rdbuf(captured_.rdbuf())) {}
  ~CaptureStdout() { std::cout.rdbuf(saved_); }
  CaptureStdout(const CaptureStdout&) = delete;
  CaptureStdout& operator=(const CaptureStdout&) = delete;
  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

// Expected console and log text of a run.
inline std::string Info(const std::string& text) { return "\033[32m[Info]\033[0m " + text; }
inline std::string Error(const std::string& text) { return "\033[31m[Error]\033[0m " + text; }
// The log of a successful generation; afterLoading comes right after the
// first line (the import's own messages).
std::string SuccessLog(bool animated, const std::string& output, const std::string& input,
                       const std::string& afterLoading = "");
// The read-back report of a file that matches its model.
std::string MatchingReport(int meshes, bool animated = false);

// Expected file images, field by field.
struct Bytes {
  std::string data;
  template <typename T>
  Bytes& put(T value) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    data.append(raw, sizeof(T));
    return *this;
  }
  Bytes& u8(uint8_t v) { return put(v); }
  Bytes& u16(uint16_t v) { return put(v); }
  Bytes& u32(uint32_t v) { return put(v); }
  Bytes& i32(int32_t v) { return put(v); }
  Bytes& u64(uint64_t v) { return put(v); }
  Bytes& f32(float v) { return put(v); }
  Bytes& f64(double v) { return put(v); }
  Bytes& floats(std::initializer_list<float> values) {
    for (float v : values) f32(v);
    return *this;
  }
  Bytes& raw(const std::string& s) {
    data += s;
    return *this;
  }
  Bytes& zeros(size_t n) {
    data.append(n, '\0');
    return *this;
  }
};

// The 88-byte image of a vertex of a static model (bone slots free).
Bytes& StaticVertex(Bytes& b, std::initializer_list<float> position, std::initializer_list<float> normal,
                    std::initializer_list<float> texCoords, std::initializer_list<float> tangent,
                    std::initializer_list<float> bitangent);
