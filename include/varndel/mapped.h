// Varndel mapped view: a compiled model file used in place. Opening maps the
// file read-only and checks its whole structure with ReadModel's rules,
// touching only headers, counts and strings; it refuses exactly what
// ReadModel refuses, with the same ReadError. Vertex and index blocks are
// then handed out as pointers into the mapping, ready for a GPU upload, and
// are never copied by the view.
//
// Hazard: the view reads the file itself, not a copy. If another process
// truncates the file while it is mapped, touching a page past the new end
// kills this process with SIGBUS (POSIX; Windows refuses to truncate a mapped
// file), and a file rewritten in place changes under the view. For files that may
// change while in use, read them with ReadModelFile (reader.h), which owns a
// copy. Writers that replace a file by renaming a new one over it (as
// Varndel does) leave existing mappings intact.
// Compiles as C++17 and C++20.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <varndel/reader.h>
#include <varndel/records.h>

namespace varndel {

struct MappedTexture {
  std::string_view path;  // into the mapping, as stored
  uint8_t type = 0;       // aiTextureType, as TextureRef::type
};

// One mesh of a mapped file. Its pointers stay valid while the MappedModel
// that gave it lives (moving the MappedModel keeps them valid).
class MappedMesh {
 public:
  // The vertex block: vertexCount() records of 88 bytes, in the file's byte
  // order, at any alignment (read them with vertex() or memcpy).
  const void* vertexData() const { return vertices_; }
  size_t vertexBytes() const { return vertexCount_ * sizeof(Vertex); }
  size_t vertexCount() const { return vertexCount_; }

  // The index block: indexCount() 32-bit indices, at any alignment.
  const void* indexData() const { return indices_; }
  size_t indexBytes() const { return indexCount_ * sizeof(uint32_t); }
  size_t indexCount() const { return indexCount_; }

  // Copies of one record; i must be below the count.
  Vertex vertex(size_t i) const {
    Vertex v;
    std::memcpy(&v, vertices_ + i * sizeof(Vertex), sizeof(Vertex));
    return v;
  }
  uint32_t index(size_t i) const {
    uint32_t value;
    std::memcpy(&value, indices_ + i * sizeof(uint32_t), sizeof(uint32_t));
    return value;
  }

  // Ascending byte order of path, as stored.
  const std::vector<MappedTexture>& textures() const { return textures_; }

 private:
  friend class MappedModel;
  const unsigned char* vertices_ = nullptr;
  size_t vertexCount_ = 0;
  const unsigned char* indices_ = nullptr;
  size_t indexCount_ = 0;
  std::vector<MappedTexture> textures_;
};

class MappedModel {
 public:
  MappedModel();
  MappedModel(MappedModel&&) noexcept;
  MappedModel& operator=(MappedModel&&) noexcept;
  MappedModel(const MappedModel&) = delete;
  MappedModel& operator=(const MappedModel&) = delete;
  ~MappedModel();

  // Maps the file at path and checks it. A path that is no regular file (a
  // directory, a FIFO, a device) is refused before mapping; a file that
  // cannot be opened or mapped fails at offset 0 with an empty field, as in
  // ReadModelFile. On failure returns false, fills error (when given) and
  // leaves the view empty.
  bool Open(const std::string& path, ReadError* error = nullptr) noexcept;

  // Views size bytes at data, which the caller keeps alive and unchanged
  // while this view (or anything taken from it) is in use.
  bool Open(const void* data, size_t size, ReadError* error = nullptr) noexcept;

  // Whether a file is open.
  bool isOpen() const;

  // The whole image the view stands on.
  const void* data() const;
  size_t size() const;

  // Header fields, as Model holds them.
  bool animated() const;
  bool flipUVs() const;
  uint16_t textureCount() const;

  const std::vector<MappedMesh>& meshes() const;

  // The animation of an animated file, decoded into values (names and keys
  // copied out of the mapping); empty for a static file.
  Animation animation() const;

  // The whole file decoded into values, as ReadModel gives it, for what
  // needs a Model (the player, the validator, the writer).
  bool ToModel(Model& model, ReadError* error = nullptr) const noexcept;

 private:
  struct State;
  static bool Check(State& state, ReadError* error);
  std::unique_ptr<State> state_;
};

}  // namespace varndel
