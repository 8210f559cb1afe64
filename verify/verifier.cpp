// Reads a compiled model file back and compares it with the container it was
// written from: header, mesh sections, then (animated models) the animation
// sections, printing a line per difference and a status line per section.
#include <cmath>
#include <iostream>

#include "verify/read_back.h"

// The single-precision value nearest 1e-6.
constexpr float kVertexTolerance = 1e-6f;

// Close within the tolerance component by component (the difference taken in
// single precision, so NaN fails), or NaN throughout on both sides.
template <size_t N>
static bool AttributesMatch(const std::array<float, N>& own, const std::array<float, N>& read) {
  bool close = true;
  bool allNaN = true;
  for (size_t i = 0; i < N; ++i) {
    if (!(std::fabs(own[i] - read[i]) <= kVertexTolerance)) close = false;
    if (!std::isnan(own[i]) || !std::isnan(read[i])) allNaN = false;
  }
  return close || allNaN;
}

static void CheckVector(std::ostream& out, uint64_t i, const char* text, const Vec3& own, const Vec3& read,
                        bool& mismatch) {
  if (AttributesMatch(own, read)) return;
  out << "MISMATCH!!! vertex " << i << text;
  PrintJoined(out, own);
  out << " VS BIN: ";
  PrintJoined(out, read);
  out << std::endl;
  mismatch = true;
}

static void CheckTexCoords(std::ostream& out, uint64_t i, const Vec2& own, const Vec2& read, bool& mismatch) {
  if (AttributesMatch(own, read)) return;
  // Each coordinate is followed by a comma, the last one too.
  out << "MISMATCH!!! vertex " << i << " texCoords does not match! MC: " << own[0] << "," << own[1] << ","
      << " VS BIN: " << read[0] << "," << read[1] << "," << std::endl;
  mismatch = true;
}

static void VerifyHeader(FileReader& reader, const ModelContainer& mc, std::ostream& out, bool& mismatch) {
  const auto isAnimated = ReadValue<uint8_t>(reader);
  if (isAnimated != static_cast<uint8_t>(mc.isAnimatedModel)) {
    PrintMismatch(out, mismatch, "MISMATCH!!! IsAnimatedModel does not match! MC: ", int{mc.isAnimatedModel},
                  int{isAnimated != 0});
  }
  const auto flipUVs = ReadValue<uint8_t>(reader);
  if (flipUVs != static_cast<uint8_t>(mc.flipUVs)) {
    PrintMismatch(out, mismatch, "MISMATCH!!! FlipUVs does not match! MC: ", int{mc.flipUVs}, int{flipUVs != 0});
  }
  const auto numMeshes = ReadValue<uint64_t>(reader);
  if (numMeshes != static_cast<uint64_t>(mc.meshes.size())) {
    PrintMismatch(out, mismatch, "MISMATCH!!! NumMeshes does not match! MC: ", mc.meshes.size(), numMeshes);
  }
  const auto numTextures = ReadValue<uint16_t>(reader);
  if (numTextures != static_cast<uint16_t>(mc.loadedTextures.size())) {
    PrintMismatch(out, mismatch, "MISMATCH!!! NumTextures does not match! MC: ", mc.loadedTextures.size(), numTextures);
  }
}

static void VerifyVertices(FileReader& reader, const Mesh& mesh, std::ostream& out, bool& mismatch) {
  const auto count = ReadValue<uint32_t>(reader);
  if (count != static_cast<uint32_t>(mesh.vertices.size())) {
    PrintMismatch(out, mismatch, "MISMATCH!!! meshNumVert does not match! MC: ", mesh.vertices.size(), count);
  }
  const std::vector<Vertex> read = ReadRecords<Vertex>(reader, count);
  // Surplus records in the file have no counterpart; records past the end of
  // the file compare as zeros.
  const uint64_t compared = std::min<uint64_t>(count, mesh.vertices.size());
  for (uint64_t i = 0; i < compared; ++i) {
    const Vertex& own = mesh.vertices[i];
    const Vertex& file = RecordAt(read, i);
    CheckVector(out, i, " position does not match! MC: ", own.position, file.position, mismatch);
    CheckVector(out, i, " normal does not match! MC: ", own.normal, file.normal, mismatch);
    CheckTexCoords(out, i, own.texCoords, file.texCoords, mismatch);
    CheckVector(out, i, " tangent does not match! MC: ", own.tangent, file.tangent, mismatch);
    CheckVector(out, i, " bitangent does not match! MC: ", own.bitangent, file.bitangent, mismatch);
  }
}

static void VerifyIndices(FileReader& reader, const Mesh& mesh, std::ostream& out, bool& mismatch) {
  const auto count = ReadValue<uint32_t>(reader);
  if (count != static_cast<uint32_t>(mesh.indices.size())) {
    PrintMismatch(out, mismatch, "MISMATCH!!! meshNumInd does not match! MC: ", mesh.indices.size(), count);
  }
  const std::vector<uint32_t> read = ReadRecords<uint32_t>(reader, count);
  const uint64_t compared = std::min<uint64_t>(count, mesh.indices.size());
  for (uint64_t i = 0; i < compared; ++i) {
    const uint32_t file = RecordAt(read, i);
    if (file != mesh.indices[i]) {
      out << "MISMATCH!!! index " << i << " does not match! MC: " << mesh.indices[i] << " VS BIN: " << file
          << std::endl;
      mismatch = true;
    }
  }
}

// Finds the key equal to present followed by missing zero bytes (a path cut
// off by the end of the file), without building that key.
static TextureMap::const_iterator FindTexture(const TextureMap& textures, const std::string& present,
                                              uint64_t missing) {
  if (missing == 0) return textures.find(present);
  // Keys made of present and zero bytes only sort together, shortest first.
  for (auto it = textures.upper_bound(present); it != textures.end(); ++it) {
    const std::string& key = it->first;
    if (key.compare(0, present.size(), present) != 0) break;
    const uint64_t tail = key.size() - present.size();
    if (key.find_first_not_of('\0', present.size()) != std::string::npos || tail > missing) break;
    if (tail == missing) return it;
  }
  return textures.end();
}

static void VerifyTextures(FileReader& reader, const Mesh& mesh, std::ostream& out, bool& mismatch) {
  const auto count = ReadValue<uint16_t>(reader);
  if (count != static_cast<uint16_t>(mesh.textures.size())) {
    PrintMismatch(out, mismatch, "MISMATCH!!! meshNumTex does not match! MC: ", mesh.textures.size(), count);
  }
  for (uint32_t entry = 0; entry < count; ++entry) {
    const auto length = ReadValue<uint16_t>(reader);
    const std::string path = ReadStringBytes(reader, length);
    const auto type = ReadValue<uint8_t>(reader);
    const auto found = FindTexture(mesh.textures, path, length - path.size());
    if (found == mesh.textures.end()) {
      out << "ERROR!!!!! could not find corresponding texture in MC container" << std::endl;
      mismatch = true;
    } else if (found->second != static_cast<uint32_t>(type)) {
      out << "MISMATCH!!! texTypeCheck does not match! MC: " << found->second
          << " VS BIN: " << static_cast<unsigned>(type) << std::endl;
      mismatch = true;
    }
  }
}

bool VerifyModelFile(const std::string& path, const ModelContainer& mc, std::ostream& out) {
  bool mismatch = false;
  out << "\n// TESTING READ BIN FILE..." << std::endl;
  FileReader reader;
  const bool opened = OpenFileReader(reader, path);
  out << "\033[31m";
  // Every value then reads as zero and the comparisons report what differs
  // from that. The open failure counts itself: a model whose every field is
  // zero would otherwise pass without any file.
  if (!opened) {
    out << "ERROR!!! Failed to open bin file!" << std::endl;
    mismatch = true;
  }

  VerifyHeader(reader, mc, out, mismatch);
  if (!mismatch) out << "\033[32m// - BIN FILE HEADER IS GUCCI\033[0m" << std::endl;
  out << "\033[31m";

  // As many sections as the container has meshes, whatever NumMeshes says.
  for (const Mesh& mesh : mc.meshes) {
    VerifyVertices(reader, mesh, out, mismatch);
    PrintStatusLine(out, "vertices", mismatch);
    VerifyIndices(reader, mesh, out, mismatch);
    PrintStatusLine(out, "indices", mismatch);
    VerifyTextures(reader, mesh, out, mismatch);
    PrintStatusLine(out, "textures", mismatch);
  }

  if (mc.isAnimatedModel) VerifyAnimationSections(reader, mc, out, mismatch);

  if (mismatch) {
    out << "\033[31m// - BIN FILE GOT PROBLEM!!!!!!!!!!!\033[0m" << std::endl;
  } else {
    out << "\033[32m// - BIN FILE IS GUCCI GUCCI GUCCI\033[0m" << std::endl;
  }
  out << "\033[0m";
  return mismatch;
}

bool VerifyCompiledFile() { return VerifyModelFile(OutputPathOf(modelContainer), modelContainer, std::cout); }
