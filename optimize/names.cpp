#include <varndel/optimize.h>

namespace varndel {

namespace {

// Where the file name starts and where its last extension starts (npos: none).
void SplitFileName(const std::string& path, size_t& name, size_t& extension) {
  const size_t slash = path.find_last_of("/\\");
  name = slash == std::string::npos ? 0 : slash + 1;
  extension = path.rfind('.');
  if (extension == std::string::npos || extension <= name) extension = std::string::npos;
}

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

}  // namespace varndel
