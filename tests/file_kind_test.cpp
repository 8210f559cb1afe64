// Telling a compiled model file from what people mistake for one.
#include <gtest/gtest.h>

#include <string>

#include "reader/file_kind.h"

namespace {

TEST(FileKind, NamesWhatIsNoCompiledModel) {
  struct Case {
    std::string bytes;
    std::string name;
    std::string expected;  // a part of the description; empty: none given
  };
  const Case cases[] = {
      // Compiled files, sound or damaged behind the flags: the reader speaks.
      {std::string("\x00\x01", 2) + "rest", "a.staticbin", ""},
      {std::string("\x01", 1), "a.animbin", ""},
      // Unknown bytes: the reader's message (the byte it refuses) stays.
      {"\x02junk", "junk.bin", ""},
      // Source models, by their bytes or, for unknown bytes, their name.
      {"# exported\n\nmtllib crate.mtl\nv 0 0 0\n", "crate.obj", "a Wavefront OBJ model (text); compile it first"},
      {"v 1 2 3\nf 1 2 3\n", "noext", "Wavefront OBJ"},
      {"  {\"asset\": {\"version\": \"2.0\"}}", "walker.gltf", "a glTF model (JSON text); compile it first"},
      {std::string("glTF\x02\x00\x00\x00", 8), "box.glb", "binary glTF"},
      {"Kaydara FBX Binary  \x00\x1a", "a.fbx", "a binary FBX model"},
      {"<?xml version=\"1.0\"?>\n<COLLADA>", "a.dae", "a Collada model"},
      {"\x07\x08\x09binary", "a.fbx", "not a compiled model file (.staticbin, .animbin); compile it first"},
      // Neither models nor compiled files.
      {"\x89PNG\r\n\x1a\n....", "crate.staticbin", "it looks like a PNG image"},
      {"newmtl crate\nmap_Kd t.png\n", "crate.mtl", "it looks like a text file"},
      {"{\"a\": 1}", "x.json", "JSON text"},
      {"", "empty.staticbin", "an empty file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + ": " + c.bytes);
    const std::string description = varndel::DescribeNotCompiledModel(c.bytes.data(), c.bytes.size(), c.name);
    if (c.expected.empty()) {
      EXPECT_EQ(description, "");
    } else {
      EXPECT_NE(description.find(c.expected), std::string::npos) << description;
      EXPECT_NE(description.find("not a compiled model file"), std::string::npos) << description;
    }
  }
  // Only source models are told to be compiled.
  const std::string png = "\x89PNG\r\n\x1a\n";
  EXPECT_EQ(varndel::DescribeNotCompiledModel(png.data(), png.size(), "t.png").find("compile it"), std::string::npos);
}

}  // namespace
