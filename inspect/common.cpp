#include "inspect/common.h"

#ifdef _WIN32
#include <io.h>
#define VARNDEL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VARNDEL_ISATTY(fd) isatty(fd)
#endif

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

namespace inspect {

int RunGuarded(const char* name, int (*run)(int argc, char** argv), int argc, char** argv) noexcept {
  const char* what = "unexpected failure";
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    what = "not enough memory";
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  // Plain C output: the streams may be what ran out of memory.
  std::fflush(stdout);
  std::fprintf(stderr, "varndel-inspect: %s: %s\n", name, what);
  return kExitUnreadable;
}

int ParseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);  // help on stdout, exit 0
  } catch (const CLI::ParseError& e) {
    std::cerr << app.get_name() << ": " << e.what() << "\n"
              << "Run '" << app.get_name() << " --help' for the options.\n";
    return kExitUnreadable;
  }
  return -1;
}

std::string DescribeReadError(const varndel::ReadError& error) {
  if (error.offset == 0 && error.field.empty()) return error.message;
  return varndel::FormatReadError(error);
}

bool LoadModelFile(const std::string& command, const std::string& path, varndel::Model& model, uint64_t& bytes) {
  varndel::ReadError error;
  if (!varndel::ReadModelFile(path, model, &error)) {
    // A file-level failure (offset 0, no field) names the path itself.
    const bool fileLevel = error.offset == 0 && error.field.empty();
    std::cerr << "varndel-inspect: " << command << ": " << (fileLevel ? "" : path + ": ") << DescribeReadError(error)
              << "\n";
    return false;
  }
  std::error_code failed;
  bytes = std::filesystem::file_size(path, failed);
  if (failed) bytes = 0;
  return true;
}

bool ColourWanted(bool stdoutIsTerminal, const char* noColor) {
  return stdoutIsTerminal && (noColor == nullptr || noColor[0] == '\0');
}

bool StdoutWantsColour() { return ColourWanted(VARNDEL_ISATTY(1) != 0, std::getenv("NO_COLOR")); }

// The shortest text that reads back as the same value of its type.
template <typename Real>
static std::string FormatShortest(Real value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string FormatFloat(float value) { return FormatShortest(value); }

std::string FormatDouble(double value) { return FormatShortest(value); }

namespace {

// Length of the well-formed UTF-8 sequence at bytes[i], or 0.
size_t Utf8SequenceLength(std::string_view bytes, size_t i) {
  const auto at = [&bytes](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = at(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > bytes.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return length;
}

void AppendHexByte(std::string& out, unsigned char byte) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 15];
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string QuoteName(std::string_view bytes) {
  std::string out = "'";
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    const size_t length = Utf8SequenceLength(bytes, i);
    const bool control = byte < 0x20 || byte == 0x7F;
    // U+0080..U+009F: C1 controls, which some terminals obey
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
    if (length == 0 || control || c1) {
      const size_t escaped = length == 0 ? 1 : length;
      for (size_t k = 0; k < escaped; ++k) AppendHexByte(out, static_cast<unsigned char>(bytes[i + k]));
      i += escaped;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out + "'";
}

std::string CountOf(uint64_t count, std::string_view singular, std::string_view plural) {
  return std::to_string(count) + " " + std::string(count == 1 ? singular : plural);
}

void Box::Add(const varndel::Vec3& p) {
  if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) return;
  if (empty) {
    min = max = p;
    empty = false;
    return;
  }
  for (int axis = 0; axis < 3; ++axis) {
    min[axis] = std::min(min[axis], p[axis]);
    max[axis] = std::max(max[axis], p[axis]);
  }
}

void Box::Add(const Box& other) {
  if (other.empty) return;
  Add(other.min);
  Add(other.max);
}

Box MeshBounds(const varndel::MeshData& mesh) {
  Box box;
  for (const varndel::Vertex& vertex : mesh.vertices) box.Add(vertex.position);
  return box;
}

std::vector<Box> MeshBounds(const varndel::Model& model, Box& overall) {
  std::vector<Box> boxes;
  boxes.reserve(model.meshes.size());
  for (const varndel::MeshData& mesh : model.meshes) {
    boxes.push_back(MeshBounds(mesh));
    overall.Add(boxes.back());
  }
  return boxes;
}

std::string FormatBox(const Box& box) {
  if (box.empty) return "none (no finite positions)";
  return "min " + FormatVector(box.min) + "  max " + FormatVector(box.max);
}

uint32_t HierarchyDepth(const std::vector<varndel::Node>& nodes) {
  std::vector<uint32_t> depth(nodes.size(), 1);
  uint32_t deepest = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const int32_t parent = nodes[i].parent;
    if (parent >= 0 && static_cast<size_t>(parent) < i) depth[i] = depth[static_cast<size_t>(parent)] + 1;
    deepest = std::max(deepest, depth[i]);
  }
  return deepest;
}

const char* TextureTypeName(uint8_t type) {
  switch (type) {
    case 1:
      return "diffuse";
    case 2:
      return "specular";
    case 3:
      return "ambient";
    case 4:
      return "emissive";
    case 5:
      return "height";
    case 6:
      return "normals";
    default:
      return "other";
  }
}

}  // namespace inspect
