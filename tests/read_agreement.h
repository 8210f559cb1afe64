// One verdict from every way the reader library reads a file: ReadModel over
// the bytes, ReadModelFile, and MappedModel over the bytes and over the file.
// They must accept the same files, refuse the rest with the same ReadError,
// show the same values and give the same ValidateModel findings.
#pragma once

#include <gtest/gtest.h>
#include <varndel/mapped.h>
#include <varndel/reader.h>
#include <varndel/validate.h>
#include <varndel/writer.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/test_support.h"

// The model a view shows, rebuilt through its accessors only.
inline varndel::Model ModelShownBy(const varndel::MappedModel& view) {
  varndel::Model model;
  model.animated = view.animated();
  model.flipUVs = view.flipUVs();
  model.textureCount = view.textureCount();
  const auto* begin = static_cast<const unsigned char*>(view.data());
  for (const varndel::MappedMesh& mesh : view.meshes()) {
    varndel::MeshData& data = model.meshes.emplace_back();
    EXPECT_EQ(mesh.vertexBytes(), mesh.vertexCount() * sizeof(varndel::Vertex));
    EXPECT_EQ(mesh.indexBytes(), mesh.indexCount() * sizeof(uint32_t));
    // The blocks lie inside the image: pointers into it, never copies.
    const auto* vertices = static_cast<const unsigned char*>(mesh.vertexData());
    const auto* indices = static_cast<const unsigned char*>(mesh.indexData());
    EXPECT_TRUE(vertices >= begin && vertices + mesh.vertexBytes() <= begin + view.size());
    EXPECT_TRUE(indices >= begin && indices + mesh.indexBytes() <= begin + view.size());
    for (size_t i = 0; i < mesh.vertexCount(); ++i) data.vertices.push_back(mesh.vertex(i));
    for (size_t i = 0; i < mesh.indexCount(); ++i) data.indices.push_back(mesh.index(i));
    EXPECT_TRUE(mesh.vertexCount() == 0 ||
                std::memcmp(data.vertices.data(), mesh.vertexData(), mesh.vertexBytes()) == 0);
    for (const varndel::MappedTexture& texture : mesh.textures())
      data.textures.push_back({std::string(texture.path), texture.type});
  }
  model.animation = view.animation();
  return model;
}

// ValidateModel's findings on a model and on a view of the same file: the
// same lines in the same order. Every texture is reported missing, so the
// texture rule runs as well.
inline void ExpectSameFindings(const varndel::Model& model, const varndel::MappedModel& view) {
  const varndel::TextureLookup missing = [](const std::string& stored) { return "no " + stored; };
  const auto lines = [](const std::vector<varndel::Finding>& findings) {
    std::vector<std::string> text;
    for (const varndel::Finding& finding : findings) {
      text.push_back(std::string(finding.severity == varndel::Severity::kError ? "error: " : "warning: ") +
                     finding.element + ": " + finding.message);
    }
    return text;
  };
  EXPECT_EQ(lines(varndel::ValidateModel(model, missing)), lines(varndel::ValidateModel(view, missing)));
}

// Reads bytes all four ways (the file ones through scratch, a path to
// overwrite) and expects one verdict; returns whether they were accepted.
inline bool ExpectOneVerdict(const std::string& bytes, const fs::path& scratch) {
  varndel::Model model;
  varndel::ReadError error;
  const bool accepted = varndel::ReadModel(bytes.data(), bytes.size(), model, &error);
  WriteFile(scratch, bytes);

  varndel::Model fromFile;
  varndel::ReadError fileError;
  EXPECT_EQ(varndel::ReadModelFile(scratch.string(), fromFile, &fileError), accepted);
  varndel::MappedModel overBytes, overFile;
  varndel::ReadError bytesError, mappedError;
  EXPECT_EQ(overBytes.Open(bytes.data(), bytes.size(), &bytesError), accepted);
  EXPECT_EQ(overFile.Open(scratch.string(), &mappedError), accepted);
  if (!accepted) {
    const std::string expected = varndel::FormatReadError(error);
    EXPECT_EQ(varndel::FormatReadError(fileError), expected);
    EXPECT_EQ(varndel::FormatReadError(bytesError), expected);
    EXPECT_EQ(varndel::FormatReadError(mappedError), expected);
    EXPECT_TRUE(fromFile.meshes.empty() && fromFile.animation.nodes.empty());
    EXPECT_FALSE(overBytes.isOpen() || overFile.isOpen());
    EXPECT_TRUE(overFile.meshes().empty() && overFile.data() == nullptr);
    return false;
  }
  // The writer gives back exactly the bytes of any accepted model.
  EXPECT_TRUE(varndel::WriteModel(fromFile) == bytes) << "ReadModelFile";
  EXPECT_TRUE(varndel::WriteModel(ModelShownBy(overBytes)) == bytes) << "view over the bytes";
  EXPECT_TRUE(varndel::WriteModel(ModelShownBy(overFile)) == bytes) << "view over the file";
  varndel::Model converted;
  EXPECT_TRUE(overFile.ToModel(converted));
  EXPECT_TRUE(varndel::WriteModel(converted) == bytes) << "view converted";
  ExpectSameFindings(fromFile, overBytes);
  ExpectSameFindings(fromFile, overFile);
  return true;
}
