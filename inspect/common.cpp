#include "inspect/common.h"

#ifdef _WIN32
#include <io.h>
#define VARNDEL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VARNDEL_ISATTY(fd) isatty(fd)
#endif

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>


#include "reader/file_access.h"

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

namespace {

// "varndel-inspect: <command>: <path>: <reason>"; a file-level failure
// (offset 0, no field) carries the path in its reason already.
void ReportUnreadable(const std::string& command, const std::string& path, const varndel::ReadError& error) {
  if (const std::string kind = varndel::DescribeNotCompiledModelFile(path); !kind.empty()) {
    std::cerr << "varndel-inspect: " << command << ": " << path << ": " << kind << "\n";
    return;
  }
  const bool fileLevel = error.offset == 0 && error.field.empty();
  std::cerr << "varndel-inspect: " << command << ": " << (fileLevel ? "" : path + ": ") << DescribeReadError(error)
            << "\n";
}

}  // namespace

bool LoadModelFile(const std::string& command, const std::string& path, varndel::Model& model, uint64_t& bytes) {
  varndel::ReadError error;
  if (!varndel::ReadModelFile(path, model, &error)) {
    ReportUnreadable(command, path, error);
    return false;
  }
  std::error_code failed;
  bytes = std::filesystem::file_size(path, failed);
  if (failed) bytes = 0;
  return true;
}

bool OpenModelFile(const std::string& command, const std::string& path, varndel::MappedModel& view) {
  varndel::ReadError error;
  if (view.Open(path, &error)) return true;
  ReportUnreadable(command, path, error);
  return false;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& reason) {
  if (varndel::file_access::WriteOutputFile(path, bytes, reason)) return true;
  // The seam's reason names the output, which the caller names already.
  for (const char* verb : {"cannot create ", "cannot write "}) {
    const std::string named = verb + path + ": ";
    if (reason.compare(0, named.size(), named) == 0) reason.erase(0, named.size());
  }
  return false;
}

bool ColourWanted(bool stdoutIsTerminal, const char* noColor) {
  return stdoutIsTerminal && (noColor == nullptr || noColor[0] == '\0');
}

bool StdoutWantsColour() { return ColourWanted(VARNDEL_ISATTY(1) != 0, std::getenv("NO_COLOR")); }

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

namespace {

// The position of vertex i of a mapped block, which is not aligned: copied,
// never cast.
varndel::Vec3 PositionOf(const varndel::MappedMesh& mesh, size_t i) {
  varndel::Vec3 position;
  std::memcpy(&position,
              static_cast<const unsigned char*>(mesh.vertexData()) + i * sizeof(varndel::Vertex) +
                  offsetof(varndel::Vertex, position),
              sizeof position);
  return position;
}

}  // namespace

Box MeshBounds(const varndel::MappedMesh& mesh) {
  Box box;
  for (size_t i = 0; i < mesh.vertexCount(); ++i) box.Add(PositionOf(mesh, i));
  return box;
}

std::vector<Box> MeshBounds(const varndel::MappedModel& model, Box& overall) {
  std::vector<Box> boxes;
  boxes.reserve(model.meshes().size());
  for (const varndel::MappedMesh& mesh : model.meshes()) {
    boxes.push_back(MeshBounds(mesh));
    overall.Add(boxes.back());
  }
  return boxes;
}

varndel::MeshStats AnalyzeMappedMesh(const varndel::MappedMesh& mesh, bool overdraw) {
  std::vector<uint32_t> indices(mesh.indexCount());
  if (!indices.empty()) std::memcpy(indices.data(), mesh.indexData(), mesh.indexBytes());
  std::vector<varndel::Vec3> positions;
  if (overdraw) {
    positions.resize(mesh.vertexCount());
    for (size_t i = 0; i < positions.size(); ++i) positions[i] = PositionOf(mesh, i);
  }
  return varndel::AnalyzeMesh(indices.data(), indices.size(), mesh.vertexCount(),
                              positions.empty() ? nullptr : positions[0].data(), sizeof(varndel::Vec3), overdraw);
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
