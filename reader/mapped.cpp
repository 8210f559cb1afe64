#include <varndel/mapped.h>

#include <new>
#include <utility>

#include "reader/decode.h"
#include "reader/file_map.h"

namespace varndel {

struct MappedModel::State {
  file_access::FileMapping mapping;  // empty for a caller's buffer
  const unsigned char* data = nullptr;
  size_t size = 0;
  Model skeleton;  // header fields; no block, no string
  uint64_t animationOffset = 0;
  std::vector<MappedMesh> meshes;
};

MappedModel::MappedModel() = default;
MappedModel::MappedModel(MappedModel&&) noexcept = default;
MappedModel& MappedModel::operator=(MappedModel&&) noexcept = default;
MappedModel::~MappedModel() = default;

// Checks the image with the reader's walk, skimming blocks and strings, and
// points each mesh into it.
bool MappedModel::Check(State& state, ReadError* error) {
  decode::SkimCursor in(state.data, state.size, error);
  if (!decode::ReadWholeModel(in, state.skeleton)) return false;
  state.animationOffset = in.animationOffset;
  state.meshes.resize(state.skeleton.meshes.size());
  size_t string = 0;  // texture paths come first, mesh by mesh
  for (size_t m = 0; m < state.meshes.size(); ++m) {
    const decode::Span vertices = in.blocks[2 * m];
    const decode::Span indices = in.blocks[2 * m + 1];
    MappedMesh& mesh = state.meshes[m];
    mesh.vertices_ = state.data + vertices.offset;
    mesh.vertexCount_ = size_t(vertices.count);
    mesh.indices_ = state.data + indices.offset;
    mesh.indexCount_ = size_t(indices.count);
    const std::vector<TextureRef>& textures = state.skeleton.meshes[m].textures;
    mesh.textures_.reserve(textures.size());
    for (const TextureRef& texture : textures) {
      const decode::Span path = in.strings[string++];
      mesh.textures_.push_back(
          {std::string_view(reinterpret_cast<const char*>(state.data + path.offset), size_t(path.count)), texture.type});
    }
  }
  state.skeleton.meshes.clear();
  state.skeleton.meshes.shrink_to_fit();
  state.skeleton.animation = Animation{};  // decoded on request
  return true;
}

bool MappedModel::Open(const std::string& path, ReadError* error) noexcept {
  state_.reset();
  try {
    auto state = std::make_unique<State>();
    std::string reason;
    if (!state->mapping.Map(path, reason)) {
      if (error != nullptr) *error = ReadError{0, "", std::move(reason)};
      return false;
    }
    state->data = state->mapping.data();
    state->size = state->mapping.size();
    state->mapping.ExpectSparseReads(true);
    const bool valid = Check(*state, error);
    state->mapping.ExpectSparseReads(false);
    if (!valid) return false;
    state_ = std::move(state);
    return true;
  } catch (const std::bad_alloc&) {
    decode::SetFailure(error, "not enough memory to read the file");
  } catch (...) {
    decode::SetFailure(error, "unexpected failure while reading the file");
  }
  return false;
}

bool MappedModel::Open(const void* data, size_t size, ReadError* error) noexcept {
  state_.reset();
  try {
    auto state = std::make_unique<State>();
    state->data = data == nullptr ? nullptr : static_cast<const unsigned char*>(data);
    state->size = data == nullptr ? 0 : size;
    if (!Check(*state, error)) return false;
    state_ = std::move(state);
    return true;
  } catch (const std::bad_alloc&) {
    decode::SetFailure(error, "not enough memory to hold the model");
  } catch (...) {
    decode::SetFailure(error, "unexpected failure while reading the model");
  }
  return false;
}

bool MappedModel::isOpen() const { return state_ != nullptr; }
const void* MappedModel::data() const { return state_ ? state_->data : nullptr; }
size_t MappedModel::size() const { return state_ ? state_->size : 0; }
bool MappedModel::animated() const { return state_ && state_->skeleton.animated; }
bool MappedModel::flipUVs() const { return state_ && state_->skeleton.flipUVs; }
uint16_t MappedModel::textureCount() const { return state_ ? state_->skeleton.textureCount : 0; }

const std::vector<MappedMesh>& MappedModel::meshes() const {
  static const std::vector<MappedMesh> none;
  return state_ ? state_->meshes : none;
}

Animation MappedModel::animation() const {
  Animation animation;
  if (!animated()) return animation;
  // Checked when opened: the walk from the animation's start cannot fail.
  decode::MemoryCursor in(state_->data, state_->size, nullptr, state_->animationOffset);
  decode::ReadAnimation(in, animation);
  return animation;
}

bool MappedModel::ToModel(Model& model, ReadError* error) const noexcept {
  if (!state_) {
    model = Model{};
    decode::SetFailure(error, "no file is open");
    return false;
  }
  return ReadModel(state_->data, state_->size, model, error);
}

}  // namespace varndel
