// The walk over a compiled file's records, shared by ReadModel (the image in
// memory), ReadModelFile (the file read in pieces) and MappedModel (the image
// checked in place): one set of rules, so that each refuses the same input
// with the same ReadError. Internal to the reader library.
#pragma once

#include <varndel/reader.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "reader/file_map.h"

namespace varndel::decode {

// Records a failure that arrived as an exception; if even the message cannot
// be allocated, the error keeps what it held.
void SetFailure(ReadError* error, const char* message) noexcept;


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

inline std::string NameOf(const Field& field) {
  std::string name = field.list;
  if (field.index != kNoIndex) name += "[" + std::to_string(field.index) + "]";
  if (*field.member != '\0') {
    if (!name.empty()) name += '.';
    name += field.member;
  }
  return name;
}

inline std::string Bytes(uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

// "only 1 byte remains", "only 6 bytes remain"
inline std::string OnlyRemaining(uint64_t count) { return "only " + Bytes(count) + (count == 1 ? " remains" : " remain"); }

// A record kind named in messages, in both numbers.
struct Noun {
  const char* one;
  const char* many;
};

// Reads fields off the front of the byte image. The first failure is kept;
// every later read fails at once. The sources below supply the bytes: the
// whole image in memory, the image skimmed for a view, or a file read in
// pieces; the walk over the records is one and the same for all of them.
class Cursor {
 public:
  Cursor(uint64_t size, ReadError* error, uint64_t offset = 0) : size_(size), offset_(offset), error_(error) {}

  uint64_t offset() const { return offset_; }
  uint64_t remaining() const { return size_ - offset_; }

  bool Fail(uint64_t offset, const Field& field, std::string message) {
    if (error_ != nullptr) *error_ = ReadError{offset, NameOf(field), std::move(message)};
    return false;
  }

  // A count of records that take at least minBytes each must fit in what remains.
  bool CheckCount(uint64_t count, uint64_t minBytes, uint64_t countOffset, const Field& field, Noun what) {
    if (count <= remaining() / minBytes) return true;
    return FailCount(countOffset, field, count, what, minBytes, " at least");
  }

  // Where the meshes end and, in an animated file, the animation begins.
  void ReachAnimation() {}

 protected:
  bool CheckValue(size_t bytes, const Field& field) {
    if (remaining() >= bytes) return true;
    return Fail(offset_, field, "needs " + Bytes(bytes) + " but " + OnlyRemaining(remaining()));
  }

  bool CheckRecords(uint64_t count, size_t recordBytes, uint64_t countOffset, const Field& field, Noun what) {
    if (count <= remaining() / recordBytes) return true;
    return FailCount(countOffset, field, count, what, recordBytes);
  }

  bool CheckString(uint64_t length, uint64_t lengthOffset, const Field& field) {
    if (length <= remaining()) return true;
    return Fail(lengthOffset, field, "announces a length of " + Bytes(length) + " but " + OnlyRemaining(remaining()));
  }

  bool FailCount(uint64_t countOffset, const Field& field, uint64_t count, Noun what, uint64_t recordBytes,
                 const char* atLeast = "") {
    return Fail(countOffset, field,
                "announces " + std::to_string(count) + " " + (count == 1 ? what.one : what.many) + " of" + atLeast +
                    " " + Bytes(recordBytes) + " each but " + OnlyRemaining(remaining()));
  }

  uint64_t size_;
  uint64_t offset_;
  ReadError* error_;
};

// The whole image in memory: values and blocks are copied out of it.
class MemoryCursor : public Cursor {
 public:
  MemoryCursor(const unsigned char* data, size_t size, ReadError* error, uint64_t offset = 0)
      : Cursor(data == nullptr ? 0 : size, error, offset), data_(data) {}

  template <typename T>
  bool ReadValue(T& value, const Field& field) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!CheckValue(sizeof(T), field)) return false;
    std::memcpy(&value, data_ + offset_, sizeof(T));
    offset_ += sizeof(T);
    return true;
  }

  // count records announced by the field at countOffset, copied as one block.
  template <typename T>
  bool ReadRecords(std::vector<T>& records, uint64_t count, uint64_t countOffset, const Field& field, Noun what) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!CheckRecords(count, sizeof(T), countOffset, field, what)) return false;
    records.resize(static_cast<size_t>(count));
    if (count != 0) std::memcpy(static_cast<void*>(records.data()), data_ + offset_, count * sizeof(T));
    offset_ += count * sizeof(T);
    return true;
  }

  bool ReadString(std::string& text, uint64_t length, uint64_t lengthOffset, const Field& field) {
    if (!CheckString(length, lengthOffset, field)) return false;
    text.assign(reinterpret_cast<const char*>(data_ + offset_), static_cast<size_t>(length));
    offset_ += length;
    return true;
  }

 protected:
  const unsigned char* data_;
};

// A stretch of the image: a block of count records, or a string of count bytes.
struct Span {
  uint64_t offset;
  uint64_t count;
};

// The image checked for a view: values are read, but blocks and strings are
// only checked and noted where they lie, in the order the walk meets them.
class SkimCursor : public MemoryCursor {
 public:
  using MemoryCursor::MemoryCursor;

  template <typename T>
  bool ReadRecords(std::vector<T>&, uint64_t count, uint64_t countOffset, const Field& field, Noun what) {
    if (!CheckRecords(count, sizeof(T), countOffset, field, what)) return false;
    blocks.push_back({offset_, count});
    offset_ += count * sizeof(T);
    return true;
  }

  bool ReadString(std::string&, uint64_t length, uint64_t lengthOffset, const Field& field) {
    if (!CheckString(length, lengthOffset, field)) return false;
    strings.push_back({offset_, length});
    offset_ += length;
    return true;
  }

  void ReachAnimation() { animationOffset = offset_; }

  std::vector<Span> blocks;   // per mesh its vertices and indices; per track its three key lists
  std::vector<Span> strings;  // texture paths, then node, track and bone info names
  uint64_t animationOffset = 0;
};

// A file read from its start in pieces: small fields through a buffer, each
// block straight into the storage of its vector. Nothing else holds the file.
class FileCursor : public Cursor {
 public:
  FileCursor(file_access::InputFile& file, ReadError* error)
      : Cursor(file.size(), error), file_(file), buffer_(kBufferBytes) {}

  template <typename T>
  bool ReadValue(T& value, const Field& field) {
    static_assert(std::is_trivially_copyable_v<T>);
    return CheckValue(sizeof(T), field) && Take(&value, sizeof(T));
  }

  template <typename T>
  bool ReadRecords(std::vector<T>& records, uint64_t count, uint64_t countOffset, const Field& field, Noun what) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!CheckRecords(count, sizeof(T), countOffset, field, what)) return false;
    // A large block gets its pages in one call before resize fills it with
    // default records (std::vector has no uninitialised growth): faulting
    // them in one by one would cost about half the read again.
    if (count * sizeof(T) >= kPrefaultBytes) {
      records.reserve(static_cast<size_t>(count));
      file_access::PrefaultForWriting(records.data(), static_cast<size_t>(count) * sizeof(T));
    }
    records.resize(static_cast<size_t>(count));
    return Take(records.data(), count * sizeof(T));
  }

  bool ReadString(std::string& text, uint64_t length, uint64_t lengthOffset, const Field& field) {
    if (!CheckString(length, lengthOffset, field)) return false;
    text.resize(static_cast<size_t>(length));
    return Take(text.data(), length);
  }

 private:
  static constexpr size_t kBufferBytes = size_t{64} << 10;
  static constexpr uint64_t kPrefaultBytes = uint64_t{8} << 10;

  // The next bytes of the file into `into`: what the buffer holds first, then
  // a large rest read in place, a small one through the refilled buffer. A
  // file that ends early or fails to read fails at offset 0, as opening does.
  bool Take(void* into, uint64_t bytes) {
    auto* out = static_cast<unsigned char*>(into);
    const size_t held = std::min<size_t>(static_cast<size_t>(bytes), end_ - begin_);
    if (held != 0) std::memcpy(out, buffer_.data() + begin_, held);
    begin_ += held;
    offset_ += held;
    out += held;
    size_t rest = static_cast<size_t>(bytes) - held;
    if (rest == 0) return true;
    std::string reason;
    if (rest >= kBufferBytes / 2) {
      if (!file_.Read(out, rest, reason)) return FailReading(std::move(reason));
    } else {
      const size_t fill = static_cast<size_t>(std::min<uint64_t>(kBufferBytes, size_ - offset_));
      if (!file_.Read(buffer_.data(), fill, reason)) return FailReading(std::move(reason));
      std::memcpy(out, buffer_.data(), rest);
      begin_ = rest;
      end_ = fill;
    }
    offset_ += rest;
    return true;
  }

  bool FailReading(std::string reason) {
    if (error_ != nullptr) *error_ = ReadError{0, "", std::move(reason)};
    return false;
  }

  file_access::InputFile& file_;
  std::vector<unsigned char> buffer_;
  size_t begin_ = 0;  // the buffer's unread bytes
  size_t end_ = 0;
};

template <typename In>
bool ReadFlag(In& in, bool& flag, const char* name) {
  const uint64_t at = in.offset();
  uint8_t byte = 0;
  if (!in.ReadValue(byte, {name})) return false;
  if (byte > 1) return in.Fail(at, {name}, "is " + std::to_string(byte) + " but must be 0 or 1");
  flag = byte == 1;
  return true;
}

template <typename In>
bool ReadMesh(In& in, uint64_t m, MeshData& mesh) {
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
template <typename In>
bool ReadHierarchy(In& in, std::vector<Node>& nodes) {
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

template <typename In, typename Key>
bool ReadKeys(In& in, uint64_t b, std::vector<Key>& keys, const char* countName, const char* listName) {
  const uint64_t at = in.offset();
  int32_t count = 0;
  if (!in.ReadValue(count, {"bones", b, countName})) return false;
  if (count < 0)
    return in.Fail(at, {"bones", b, countName}, "is " + std::to_string(count) + " but must not be negative");
  return in.ReadRecords(keys, static_cast<uint64_t>(count), at, {"bones", b, listName}, {"key", "keys"});
}

template <typename In>
bool ReadTrack(In& in, uint64_t b, Track& track) {
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

template <typename In>
bool ReadBoneInfo(In& in, uint64_t b, BoneInfoEntry& info) {
  uint16_t nameLength = 0;
  const uint64_t at = in.offset();
  return in.ReadValue(nameLength, {"boneInfos", b, "name"}) &&
         in.ReadString(info.name, nameLength, at, {"boneInfos", b, "name"}) &&
         in.ReadValue(info.id, {"boneInfos", b, "ID"}) && in.ReadValue(info.offset, {"boneInfos", b, "offset"});
}

template <typename In>
bool ReadAnimation(In& in, Animation& animation) {
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

template <typename In>
bool ReadWholeModel(In& in, Model& model) {
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
  in.ReachAnimation();
  if (model.animated && !ReadAnimation(in, model.animation)) return false;
  if (in.remaining() != 0) {
    return in.Fail(in.offset(), {"end"}, Bytes(in.remaining()) + " follow the last section, where the file must end");
  }
  return true;
}


}  // namespace varndel::decode
