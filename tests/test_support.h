// Shared test helpers: running the real binary, scratch directories, and a
// little-endian byte builder for expected file images.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct RunResult {
  int exitCode = -1;  // the low 8 bits, as a POSIX shell sees them
  std::string out;
  std::string err;
};

// Runs the Varndel binary with args in directory cwd. A non-empty shellPrefix
// is run by /bin/sh before exec'ing the binary (for ulimit and the like).
RunResult RunVarndel(const std::vector<std::string>& args, const fs::path& cwd, const std::string& shellPrefix = "");

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
