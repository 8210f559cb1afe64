// Models whose node tree is deeper than a thread's default stack: Assimp
// recurses over it, so the compiler and the edge import on a large stack.
#include <gtest/gtest.h>
#include <varndel/reader.h>

#include <stdexcept>
#include <string>

#include "driver/large_stack.h"
#include "tests/test_support.h"

namespace {

// A glTF whose nodes form one chain `depth` deep, a triangle at its end.
std::string DeepChainGltf(int depth) {
  std::string nodes;
  for (int i = 0; i + 1 < depth; ++i) nodes += "{\"children\":[" + std::to_string(i + 1) + "]},";
  nodes += "{\"mesh\":0}";
  // Three vertices (0,0,0), (1,0,0), (0,1,0) as little-endian floats.
  return "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],\"nodes\":[" + nodes +
         "],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0}}]}],"
         "\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":3,\"type\":\"VEC3\","
         "\"min\":[0,0,0],\"max\":[1,1,0]}],\"bufferViews\":[{\"buffer\":0,\"byteLength\":36}],"
         "\"buffers\":[{\"byteLength\":36,\"uri\":\"data:application/octet-stream;base64,"
         "AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA\"}]}";
}

constexpr int kHostileDepth = 24000;  // overflows an 8 MB stack inside Assimp

void ExpectOneTriangle(const fs::path& file) {
  varndel::Model model;
  varndel::ReadError error;
  ASSERT_TRUE(varndel::ReadModelFile(file.string(), model, &error)) << error.message;
  ASSERT_EQ(model.meshes.size(), 1u);
  EXPECT_EQ(model.meshes[0].vertices.size(), 3u);
}

TEST(DeepModels, VarndelCompilesADeepChainStaticAndAnimated) {
  ScratchDir dir;
  WriteFile(dir.path / "deep.gltf", DeepChainGltf(kHostileDepth));
  for (const char* animated : {"0", "1"}) {
    SCOPED_TRACE(animated);
    const RunResult run = RunVarndel({animated, "0", "deep.gltf"}, dir.path);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    ExpectOneTriangle(dir.path / (animated[0] == '1' ? "deep.animbin" : "deep.staticbin"));
  }
}

TEST(DeepModels, EdgeCompilesADeepChain) {
  ScratchDir dir;
  WriteFile(dir.path / "deep.gltf", DeepChainGltf(kHostileDepth));
  const RunResult run =
      RunProcess(VARNDEL_EDGE_EXE, {"0", "0", ".", "deep.gltf", "out/deep.staticbin", "log"}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  ExpectOneTriangle(dir.path / "out/deep.staticbin");
}

// Uses about `frames` KiB of stack, which the optimiser cannot fold away.
int Descend(int frames) {
  volatile char page[1024];
  page[0] = static_cast<char>(frames);
  return frames == 0 ? page[0] : Descend(frames - 1) + page[0] - page[0] + 1;
}

TEST(DeepModels, LargeStackRunsDeepWorkReturnsItsResultAndRethrows) {
  // 32 MB of frames: far past a default stack, well inside the reservation.
  EXPECT_EQ(RunOnLargeStack([] { return Descend(32 * 1024); }), 32 * 1024);
  // Nested calls run on the stack they are already on.
  EXPECT_EQ(RunOnLargeStack([] { return RunOnLargeStack([] { return 7; }); }), 7);
  EXPECT_THROW(RunOnLargeStack([]() -> int { throw std::runtime_error("thrown on the large stack"); }),
               std::runtime_error);
}

}  // namespace
