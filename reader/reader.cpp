#include <varndel/reader.h>

#include "reader/file_access.h"

#include <cstring>
#include <new>
#include <system_error>
#include <type_traits>
#include <utility>

namespace varndel {

namespace {

constexpr uint64_t kNoIndex = ~uint64_t{0};

// Smallest file image of each repeated record, used to refuse a count before
// anything is allocated for it.
constexpr uint64_t kMinMeshBytes = 4 + 4 + 2;               // three empty counts
constexpr uint64_t kMinTextureBytes = 2 + 1;                // empty path, type
constexpr uint64_t kMinNodeBytes = 64 + 4 + 4;              // matrix, empty name, no children
constexpr uint64_t kMinTrackBytes = 3 * 4 + 3 * 4 + 2 + 4;  // no keys, max times, empty name, id
constexpr uint64_t kMinBoneInfoBytes = 2 + 4 + 64;          // empty name, id, offset

// A field's path, formatted only when a read fails: "meshes[2].indices",
// "NumMeshes", "nodes[17].name".
struct Field {
  const char* list = "";
  uint64_t index = kNoIndex;
  const char* member = "";
};

std::string NameOf(const Field& field) {
  std::string name = field.list;
  if (field.index != kNoIndex) name += "[" + std::to_string(field.index) + "]";
  if (*field.member != '\0') {
    if (!name.empty()) name += '.';
    name += field.member;
  }
  return name;
}

std::string Bytes(uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// "only 1 byte remains", "only 6 bytes remain"
std::string OnlyRemaining(uint64_t count) { return "only " + Bytes(count) + (count == 1 ? " remains" : " remain"); }

// A record kind named in messages, in both numbers.
struct Noun {
  const char* one;
  const char* many;
};

// Reads fields off the front of the byte image. The first failure is kept;
// every later read fails at once.
class Cursor {
 public:
  Cursor(const unsigned char* data, size_t size, ReadError* error) : data_(data), size_(size), error_(error) {}

  uint64_t offset() const { return offset_; }
  uint64_t remaining() const { return size_ - offset_; }

  bool Fail(uint64_t offset, const Field& field, std::string message) {
    if (error_ != nullptr) *error_ = ReadError{offset, NameOf(field), std::move(message)};
    return false;
  }

  template <typename T>
  bool ReadValue(T& value, const Field& field) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (remaining() < sizeof(T)) {
      return Fail(offset_, field, "needs " + Bytes(sizeof(T)) + " but " + OnlyRemaining(remaining()));
    }
    std::memcpy(&value, data_ + offset_, sizeof(T));
    offset_ += sizeof(T);
    return true;
  }

  // count records announced by the field at countOffset, copied as one block.
  template <typename T>
  bool ReadRecords(std::vector<T>& records, uint64_t count, uint64_t countOffset, const Field& field, Noun what) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (count > remaining() / sizeof(T)) return FailCount(countOffset, field, count, what, sizeof(T));
    records.resize(static_cast<size_t>(count));
    if (count != 0) std::memcpy(static_cast<void*>(records.data()), data_ + offset_, count * sizeof(T));
    offset_ += count * sizeof(T);
    return true;
  }

  bool ReadString(std::string& text, uint64_t length, uint64_t lengthOffset, const Field& field) {
    if (length > remaining()) {
      return Fail(lengthOffset, field, "announces a length of " + Bytes(length) + " but " + OnlyRemaining(remaining()));
    }
    text.assign(reinterpret_cast<const char*>(data_ + offset_), static_cast<size_t>(length));
    offset_ += length;
    return true;
  }

  // A count of records that take at least minBytes each must fit in what remains.
  bool CheckCount(uint64_t count, uint64_t minBytes, uint64_t countOffset, const Field& field, Noun what) {
    if (count <= remaining() / minBytes) return true;
    return FailCount(countOffset, field, count, what, minBytes, " at least");
  }

 private:
  bool FailCount(uint64_t countOffset, const Field& field, uint64_t count, Noun what, uint64_t recordBytes,
                 const char* atLeast = "") {
    return Fail(countOffset, field,
                "announces " + std::to_string(count) + " " + (count == 1 ? what.one : what.many) + " of" + atLeast +
                    " " + Bytes(recordBytes) + " each but " + OnlyRemaining(remaining()));
  }

  const unsigned char* data_;
  uint64_t size_;
  uint64_t offset_ = 0;
  ReadError* error_;
};

bool ReadFlag(Cursor& in, bool& flag, const char* name) {
  const uint64_t at = in.offset();
  uint8_t byte = 0;
  if (!in.ReadValue(byte, {name})) return false;
  if (byte > 1) return in.Fail(at, {name}, "is " + std::to_string(byte) + " but must be 0 or 1");
  flag = byte == 1;
  return true;
}

bool ReadMesh(Cursor& in, uint64_t m, MeshData& mesh) {
  uint32_t vertexCount = 0;
  uint64_t at = in.offset();
  if (!in.ReadValue(vertexCount, {"meshes", m, "meshNumVert"}) ||
      !in.ReadRecords(mesh.vertices, vertexCount, at, {"meshes", m, "vertices"}, {"vertex", "vertices"})) {
    return false;
  }
  uint32_t indexCount = 0;
  at = in.offset();
  if (!in.ReadValue(indexCount, {"meshes", m, "meshNumInd"}) ||
      !in.ReadRecords(mesh.indices, indexCount, at, {"meshes", m, "indices"}, {"index", "indices"})) {
    return false;
  }
  uint16_t textureCount = 0;
  at = in.offset();
  if (!in.ReadValue(textureCount, {"meshes", m, "meshNumTex"}) ||
      !in.CheckCount(textureCount, kMinTextureBytes, at, {"meshes", m, "textures"}, {"texture", "textures"})) {
    return false;
  }
  mesh.textures.resize(textureCount);
  for (uint64_t t = 0; t < textureCount; ++t) {
    TextureRef& texture = mesh.textures[t];
    uint16_t length = 0;
    at = in.offset();
    // Texture entries are named by mesh and entry: "meshes[0].textures[1].path".
    const std::string list = "meshes[" + std::to_string(m) + "].textures";
    if (!in.ReadValue(length, {list.c_str(), t, "path"}) ||
        !in.ReadString(texture.path, length, at, {list.c_str(), t, "path"}) ||
        !in.ReadValue(texture.type, {list.c_str(), t, "type"})) {
      return false;
    }
  }
  return true;
}

// Node records in pre-order. pending holds, for each open ancestor, its index
// and the children still to come; the tree is complete when it empties.
bool ReadHierarchy(Cursor& in, std::vector<Node>& nodes) {
  struct Open {
    int32_t node;
    uint32_t childrenLeft;
  };
  std::vector<Open> pending;
  uint64_t announced = 1;  // node records still owed to the tree, this one included
  do {
    const uint64_t i = nodes.size();
    if (i > static_cast<uint64_t>(INT32_MAX)) return in.Fail(in.offset(), {"nodes", i}, "is one node too many");
    Node& node = nodes.emplace_back();
    if (!pending.empty()) {
      node.parent = pending.back().node;
      --pending.back().childrenLeft;
    }
    uint32_t nameLength = 0;
    if (!in.ReadValue(node.transformation, {"nodes", i, "transformation"})) return false;
    uint64_t at = in.offset();
    if (!in.ReadValue(nameLength, {"nodes", i, "name"}) ||
        !in.ReadString(node.name, nameLength, at, {"nodes", i, "name"})) {
      return false;
    }
    at = in.offset();
    if (!in.ReadValue(node.childCount, {"nodes", i, "childrenCount"})) return false;
    announced = announced - 1 + node.childCount;
    if (!in.CheckCount(announced, kMinNodeBytes, at, {"nodes", i, "childrenCount"}, {"further node", "further nodes"}))
      return false;
    if (node.childCount != 0) pending.push_back({static_cast<int32_t>(i), node.childCount});
    while (!pending.empty() && pending.back().childrenLeft == 0) pending.pop_back();
  } while (!pending.empty());
  return true;
}

template <typename Key>
bool ReadKeys(Cursor& in, uint64_t b, std::vector<Key>& keys, const char* countName, const char* listName) {
  const uint64_t at = in.offset();
  int32_t count = 0;
  if (!in.ReadValue(count, {"bones", b, countName})) return false;
  if (count < 0)
    return in.Fail(at, {"bones", b, countName}, "is " + std::to_string(count) + " but must not be negative");
  return in.ReadRecords(keys, static_cast<uint64_t>(count), at, {"bones", b, listName}, {"key", "keys"});
}

bool ReadTrack(Cursor& in, uint64_t b, Track& track) {
  uint16_t nameLength = 0;
  if (!ReadKeys(in, b, track.positions, "m_NumPositions", "m_Positions") ||
      !ReadKeys(in, b, track.rotations, "m_NumRotations", "m_Rotations") ||
      !ReadKeys(in, b, track.scales, "m_NumScalings", "m_Scales") ||
      !in.ReadValue(track.positionMaxTime, {"bones", b, "m_PosKeyMaxTime"}) ||
      !in.ReadValue(track.rotationMaxTime, {"bones", b, "m_RotKeyMaxTime"}) ||
      !in.ReadValue(track.scaleMaxTime, {"bones", b, "m_ScaleKeyMaxTime"})) {
    return false;
  }
  const uint64_t at = in.offset();
  return in.ReadValue(nameLength, {"bones", b, "m_Name"}) &&
         in.ReadString(track.name, nameLength, at, {"bones", b, "m_Name"}) &&
         in.ReadValue(track.id, {"bones", b, "m_ID"});
}

bool ReadBoneInfo(Cursor& in, uint64_t b, BoneInfoEntry& info) {
  uint16_t nameLength = 0;
  const uint64_t at = in.offset();
  return in.ReadValue(nameLength, {"boneInfos", b, "name"}) &&
         in.ReadString(info.name, nameLength, at, {"boneInfos", b, "name"}) &&
         in.ReadValue(info.id, {"boneInfos", b, "ID"}) && in.ReadValue(info.offset, {"boneInfos", b, "offset"});
}

bool ReadAnimation(Cursor& in, Animation& animation) {
  if (!in.ReadValue(animation.duration, {"animDuration"}) ||
      !in.ReadValue(animation.ticksPerSecond, {"TicksPerSecond"}) || !ReadHierarchy(in, animation.nodes)) {
    return false;
  }
  uint8_t trackCount = 0;
  uint64_t at = in.offset();
  if (!in.ReadValue(trackCount, {"numBones"}) ||
      !in.CheckCount(trackCount, kMinTrackBytes, at, {"bones"}, {"bone", "bones"})) {
    return false;
  }
  animation.tracks.resize(trackCount);
  for (uint64_t b = 0; b < trackCount; ++b) {
    if (!ReadTrack(in, b, animation.tracks[b])) return false;
  }
  uint8_t infoCount = 0;
  at = in.offset();
  if (!in.ReadValue(infoCount, {"numBoneInfos"}) ||
      !in.CheckCount(infoCount, kMinBoneInfoBytes, at, {"boneInfos"}, {"bone info", "bone infos"})) {
    return false;
  }
  animation.boneInfos.resize(infoCount);
  for (uint64_t b = 0; b < infoCount; ++b) {
    if (!ReadBoneInfo(in, b, animation.boneInfos[b])) return false;
  }
  return true;
}

bool ReadWholeModel(Cursor& in, Model& model) {
  uint64_t meshCount = 0;
  if (!ReadFlag(in, model.animated, "IsAnimatedModel") || !ReadFlag(in, model.flipUVs, "FlipUVs")) return false;
  const uint64_t at = in.offset();
  if (!in.ReadValue(meshCount, {"NumMeshes"}) ||
      !in.CheckCount(meshCount, kMinMeshBytes, at, {"meshes"}, {"mesh", "meshes"}) ||
      !in.ReadValue(model.textureCount, {"NumTextures"})) {
    return false;
  }
  model.meshes.resize(static_cast<size_t>(meshCount));
  for (uint64_t m = 0; m < meshCount; ++m) {
    if (!ReadMesh(in, m, model.meshes[m])) return false;
  }
  if (model.animated && !ReadAnimation(in, model.animation)) return false;
  if (in.remaining() != 0) {
    return in.Fail(in.offset(), {"end"}, Bytes(in.remaining()) + " follow the last section, where the file must end");
  }
  return true;
}

}  // namespace

std::string FormatReadError(const ReadError& error) {
  std::string text = "offset " + std::to_string(error.offset);
  if (!error.field.empty()) text += ", " + error.field;
  return text + ": " + error.message;
}

// Records a failure that arrived as an exception; if even the message cannot
// be allocated, the error keeps what it held.
void SetFailure(ReadError* error, const char* message) noexcept {
  if (error == nullptr) return;
  try {
    *error = ReadError{0, "", message};
  } catch (...) {
  }
}

bool ReadModel(const void* data, size_t size, Model& model, ReadError* error) noexcept {
  model = Model{};
  try {
    Cursor in(static_cast<const unsigned char*>(data), data == nullptr ? 0 : size, error);
    if (ReadWholeModel(in, model)) return true;
  } catch (const std::bad_alloc&) {
    SetFailure(error, "not enough memory to hold the model");
  } catch (...) {
    SetFailure(error, "unexpected failure while reading the model");
  }
  model = Model{};
  return false;
}

bool ReadModelFile(const std::string& path, Model& model, ReadError* error) noexcept {
  model = Model{};
  const auto fail = [error](std::string message) {
    if (error != nullptr) *error = ReadError{0, "", std::move(message)};
    return false;
  };
  try {
    std::string bytes, reason;
    if (!file_access::ReadRegularFile(path, bytes, reason)) return fail(std::move(reason));
    return ReadModel(bytes.data(), bytes.size(), model, error);
  } catch (const std::bad_alloc&) {
    SetFailure(error, "not enough memory to read the file");
  } catch (...) {
    SetFailure(error, "unexpected failure while reading the file");
  }
  model = Model{};
  return false;
}

}  // namespace varndel
