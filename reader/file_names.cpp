// The names of the files around a compiled model, and safe file names.
#include <varndel/file_names.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace varndel {

namespace {

constexpr size_t kMaxNameBytes = 128;
constexpr size_t kMaxKeptExtension = 16;  // bytes, the dot included
constexpr std::string_view kOptimized = ".opt";

// Where the file name starts and where its last extension starts (npos: none).
void SplitFileName(const std::string& path, size_t& name, size_t& extension) {
  const size_t slash = path.find_last_of("/\\");
  name = slash == std::string::npos ? 0 : slash + 1;
  extension = path.rfind('.');
  if (extension == std::string::npos || extension <= name) extension = std::string::npos;
}

bool IsSafeByte(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
         std::string_view("-_+(). ").find(char(byte)) != std::string_view::npos;
}

// Windows opens a device for these, whatever follows the first dot. Upper
// case is encoded anyway, so only the lower-case spellings can reach it.
bool IsWindowsDeviceStem(std::string_view stem) {
  static constexpr std::array<std::string_view, 4> kPlain{"con", "prn", "aux", "nul"};
  if (std::find(kPlain.begin(), kPlain.end(), stem) != kPlain.end()) return true;
  return stem.size() == 4 && (stem.substr(0, 3) == "com" || stem.substr(0, 3) == "lpt") && stem[3] >= '0' &&
         stem[3] <= '9';
}

bool IsDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

uint64_t HashOf(std::string_view bytes) {  // FNV-1a
  uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
  return hash;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string LodPath(const std::string& path, size_t level, bool animated) {
  size_t name = 0, extension = 0;
  SplitFileName(path, name, extension);
  const std::string lod = ".lod" + std::to_string(level);
  if (extension == std::string::npos) return path + lod + (animated ? ".animbin" : ".staticbin");
  return path.substr(0, extension) + lod + path.substr(extension);
}

size_t LodLevelOf(const std::string& path) {
  size_t name = 0, extension = 0;
  SplitFileName(path, name, extension);
  if (extension == std::string::npos) return 0;
  const size_t dot = path.rfind('.', extension - 1);
  if (dot == std::string::npos || dot < name) return 0;
  const std::string part = path.substr(dot + 1, extension - dot - 1);  // "lod2"
  if (part.size() < 4 || part.compare(0, 3, "lod") != 0 || part.size() > 12 || part[3] == '0') return 0;
  size_t level = 0;
  for (size_t i = 3; i < part.size(); ++i) {
    if (part[i] < '0' || part[i] > '9') return 0;
    level = level * 10 + size_t(part[i] - '0');
  }
  return level;
}

std::string OptimizedPath(const std::string& path) {
  size_t name = 0, extension = 0;
  SplitFileName(path, name, extension);
  if (extension == std::string::npos) return path + std::string(kOptimized);
  return path.substr(0, extension) + std::string(kOptimized) + path.substr(extension);
}

std::vector<std::string> BaseModelPaths(const std::string& path) {
  std::vector<std::string> bases;
  std::string current = path;
  // Each step takes off the last ".lodN" or ".opt" before the extension;
  // the name gets shorter every time.
  for (;;) {
    size_t name = 0, extension = 0;
    SplitFileName(current, name, extension);
    if (extension == std::string::npos) break;
    if (LodLevelOf(current) != 0) {  // "<stem>.lodN<ext>" -> "<stem><ext>"
      const size_t dot = current.rfind('.', extension - 1);
      current.erase(dot, extension - dot);
    } else if (extension >= name + kOptimized.size() + 1 &&  // "<stem>.opt<ext>" -> "<stem><ext>"
               current.compare(extension - kOptimized.size(), kOptimized.size(), kOptimized) == 0) {
      current.erase(extension - kOptimized.size(), kOptimized.size());
    } else {
      break;
    }
    bases.push_back(current);
  }
  return bases;
}

std::string SafeFileName(std::string_view name) {
  const std::string_view stem = name.substr(0, name.find('.'));
  const bool encodeFirst = IsWindowsDeviceStem(stem) || IsDigits(stem);
  std::string safe;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    // Windows drops trailing dots and spaces; a leading dot hides the file
    // (or names "." and "..").
    const bool atEdge = i == 0 || i + 1 == name.size();
    const bool keep = IsSafeByte(byte) && !(i == 0 && encodeFirst) && !(atEdge && (byte == '.' || byte == ' '));
    if (keep) {
      safe += char(byte);
    } else {
      safe += '%';
      safe += kHexDigits[byte >> 4];
      safe += kHexDigits[byte & 0xF];
    }
  }
  if (safe.size() <= kMaxNameBytes) return safe;
  // Cut, but kept apart from every other name by a hash of the whole; '~'
  // appears in no name that is not cut.
  const size_t dot = safe.rfind('.');
  const std::string extension =
      dot != std::string::npos && safe.size() - dot <= kMaxKeptExtension ? safe.substr(dot) : "";
  std::string hash = "~";
  const uint64_t value = HashOf(name);
  for (int shift = 60; shift >= 0; shift -= 4) hash += kHexDigits[(value >> shift) & 0xF];
  size_t cut = kMaxNameBytes - hash.size() - extension.size();
  if (safe[cut - 1] == '%') cut -= 1;  // not inside a %XX
  else if (safe[cut - 2] == '%') cut -= 2;
  return safe.substr(0, cut) + hash + extension;
}

}  // namespace varndel
