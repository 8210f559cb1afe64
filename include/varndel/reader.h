// Varndel reader: loads compiled model files (.staticbin, .animbin) into plain
// values. The reader never trusts a file: every count and length is checked
// against the bytes that remain before anything is allocated, the node tree
// must be exactly what its child counts announce, and bytes after the last
// section are an error. It never aborts, never reads out of bounds and lets
// no exception escape; memory stays within a small constant times the file
// size, and hierarchies of any depth are read without recursion.
// Compiles as C++17 and C++20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <varndel/records.h>

namespace varndel {

struct TextureRef {
  std::string path;  // as stored: the model directory joined with '\'
  uint8_t type = 0;  // aiTextureType: 1 diffuse, 2 specular, 3 ambient, 5 height, 6 normals
};

struct MeshData {
  std::vector<Vertex> vertices;
  std::vector<uint32_t> indices;
  std::vector<TextureRef> textures;  // ascending byte order of path, as stored
};

// One node of the hierarchy. Nodes are kept in file order, which is
// depth-first pre-order: a node's children follow it, each with its whole
// subtree, so no caller needs recursion to walk the tree.
struct Node {
  std::string name;
  Mat4 transformation{};  // relative to the parent
  int32_t parent = -1;    // index into Animation::nodes; -1 for the root
  uint32_t childCount = 0;
};

// A bone's key-frame track (a "bone record" of the file).
struct Track {
  std::string name;  // names the node it animates
  int32_t id = 0;
  std::vector<PositionKey> positions;
  std::vector<RotationKey> rotations;
  std::vector<ScaleKey> scales;
  float positionMaxTime = 0.0f;  // ticks
  float rotationMaxTime = 0.0f;
  float scaleMaxTime = 0.0f;
};

struct BoneInfoEntry {
  std::string name;
  int32_t id = 0;  // the number that vertices' boneIDs refer to
  Mat4 offset{};   // mesh space to bone space
};

struct Animation {
  float duration = 0.0f;  // ticks
  double ticksPerSecond = 0.0;
  std::vector<Node> nodes;  // pre-order; nodes[0] is the root
  std::vector<Track> tracks;
  std::vector<BoneInfoEntry> boneInfos;  // ascending byte order of name, as stored
};

struct Model {
  bool animated = false;
  bool flipUVs = false;
  uint16_t textureCount = 0;  // distinct texture paths of the whole model
  std::vector<MeshData> meshes;
  Animation animation;  // empty unless animated
};

// Why a file was refused: where, in which field, and one sentence.
struct ReadError {
  uint64_t offset = 0;  // byte offset of the offending field
  std::string field;    // for example "meshes[2].indices", "nodes[17].name"
  std::string message;  // for example "announces 4000000000 indices but only 88 bytes remain"
};

// "offset 130, meshes[2].indices: announces ..." (no trailing newline).
std::string FormatReadError(const ReadError& error);

// Decodes a whole compiled file from size bytes at data. On failure returns
// false, fills error (when given) and leaves model empty.
bool ReadModel(const void* data, size_t size, Model& model, ReadError* error = nullptr) noexcept;

// Reads the file at path, then decodes it as ReadModel does. A file that
// cannot be opened or read fails at offset 0 with an empty field.
bool ReadModelFile(const std::string& path, Model& model, ReadError* error = nullptr) noexcept;

}  // namespace varndel
