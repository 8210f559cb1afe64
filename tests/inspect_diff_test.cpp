// varndel-inspect diff: a recompile with flipped UVs, equal files, and one
// difference in each part of the file.
#include <sstream>

#include "tests/inspect_support.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(InspectDiff, FlippedUVsNameTheTextureCoordinates) {
  ScratchDir dir;
  for (const char* file : {"crate.obj", "crate.mtl"}) fs::copy_file(ExamplePath(file), dir.path / file);
  ASSERT_EQ(RunVarndel({"0", "0", "crate.obj"}, dir.path).exitCode, 0);
  ASSERT_EQ(RunVarndel({"0", "1", "crate.obj", "flipped"}, dir.path).exitCode, 0);

  const RunResult run = RunInspect({"diff", "crate.staticbin", "flipped.staticbin"}, dir.path);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 22u) << run.out;  // 20 shown, the rest counted, the summary
  EXPECT_EQ(lines[0], "flipUVs: false -> true");
  EXPECT_EQ(lines[1], "mesh 0 vertex 0 texCoords: (0, 0) -> (0, 1)");
  EXPECT_EQ(lines[2], "mesh 0 vertex 0 bitangent: (0, 1, 0) -> (0, -1, 0)");
  EXPECT_EQ(lines[20], "... 29 more not shown");
  EXPECT_EQ(lines[21], "49 differences: flipUVs 1, vertex texCoords 24, vertex bitangent 24");

  const RunResult same = RunInspect({"diff", "flipped.staticbin", "flipped.staticbin"}, dir.path);
  EXPECT_EQ(same.out, "no differences\n");
  EXPECT_EQ(same.exitCode, 0);
}

TEST(InspectDiff, OneDifferenceInEachPart) {
  ScratchDir dir;
  const ModelContainer a = SkinnedQuadModel();
  ModelContainer b = a;
  b.meshes[0].vertices.push_back(QuadVertex(2, 2, 0, 0));
  b.meshes[0].indices[2] = 4;
  b.meshes[0].textures["a.png"] = 1;
  b.animDuration = 12;
  b.rootNode.children[0].name = "Hips";
  b.bones[0].m_Rotations[1].orientation = {0, 0, 1, 0};
  b.boneInfoMap["Hip"].ID = 1;
  b.boneInfoMap["Hip"].offset[12] = 0.5f;
  WriteModel(dir.path / "a.bin", a);
  WriteModel(dir.path / "b.bin", b);

  const RunResult all = RunInspect({"diff", "--limit", "0", "a.bin", "b.bin"}, dir.path);
  EXPECT_EQ(all.out,
            "mesh 0 vertices: 4 -> 5\n"
            "mesh 0 index 2: 2 -> 4\n"
            "mesh 0 textures: 0 -> 1\n"
            "duration: 10 -> 12\n"
            "node 1 name: 'Hip' -> 'Hips'\n"
            "track 0 'Hip' rotation key 1 value: (0, 0, 0, 1) -> (0, 0, 1, 0)\n"
            "bone info 0 'Hip' id: 0 -> 1\n"
            "bone info 0 'Hip' offset: (0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) -> (0, 0, 0, 0, 0, 0, 0, 0, 0, "
            "0, 0, 0, 0.5, 0, 0, 0)\n"
            "8 differences: mesh vertex count 1, index 1, mesh texture count 1, duration 1, node name 1, rotation key "
            "value 1, bone info id 1, bone info offset 1\n");
  EXPECT_EQ(all.exitCode, 1);

  const RunResult first = RunInspect({"diff", "-n", "2", "a.bin", "b.bin"}, dir.path);
  EXPECT_EQ(Lines(first.out).size(), 4u) << first.out;
  EXPECT_EQ(Lines(first.out)[2], "... 6 more not shown");
}

TEST(InspectDiff, DifferencesComeInFileOrder) {
  // The mesh count precedes the texture count, a node's matrix its name,
  // and a track's keys its name.
  ScratchDir dir;
  const ModelContainer a = SkinnedQuadModel();
  ModelContainer b = a;
  b.meshes.push_back(b.meshes[0]);
  b.loadedTextures.push_back("a.png");
  b.rootNode.children[0].name = "Hips";
  b.rootNode.children[0].transformation[0] = 2;
  b.bones[0].m_Name = "Hips";
  b.bones[0].m_Positions[0].position = {0, 1, 0};
  WriteModel(dir.path / "a.bin", a);
  WriteModel(dir.path / "b.bin", b);
  const RunResult run = RunInspect({"diff", "--limit", "0", "a.bin", "b.bin"}, dir.path);
  EXPECT_EQ(run.out,
            "meshes: 1 -> 2\n"
            "textureCount: 0 -> 1\n"
            "node 1 'Hip' transformation: (0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) -> (2, 0, 0, 0, 0, 0, 0, "
            "0, 0, 0, 0, 0, 0, 0, 0, 0)\n"
            "node 1 name: 'Hip' -> 'Hips'\n"
            "track 0 'Hip' position key 0 value: (0, 0, 0) -> (0, 1, 0)\n"
            "track 0 name: 'Hip' -> 'Hips'\n"
            "6 differences: mesh count 1, textureCount 1, node transformation 1, node name 1, position key value 1, "
            "track name 1\n");
}

TEST(InspectDiff, KindsDifferWithoutComparingTheAnimation) {
  ScratchDir dir;
  WriteModel(dir.path / "static.bin", QuadModel());
  WriteModel(dir.path / "animated.bin", SkinnedQuadModel());
  const RunResult run = RunInspect({"diff", "static.bin", "animated.bin"}, dir.path);
  EXPECT_EQ(Lines(run.out).front(), "kind: static -> animated");
  EXPECT_EQ(Lines(run.out).back(), "9 differences: kind 1, vertex boneIDs 4, vertex weights 4") << run.out;
  EXPECT_EQ(run.exitCode, 1);
}

}  // namespace
