// The real binary on small static models: console text, exit codes, bytes.
#include <gtest/gtest.h>

#include "tests/test_support.h"

// tri.obj by hand: three vertices in the XY plane, normal +Z, UVs equal to
// X and Y, so the tangent space is +X/+Y; flipping makes v = 1 - v, which
// turns the bitangent to -Y.
static std::string TriangleImage(bool flip, const std::string& texturePath) {
  Bytes b;
  b.u8(0).u8(flip).u64(1).u16(1).u32(3);
  const float sign = flip ? -1.f : 1.f;
  const float v0 = flip ? 1.f : 0.f;
  const float v1 = flip ? 0.f : 1.f;
  StaticVertex(b, {0, 0, 0}, {0, 0, 1}, {0, v0}, {1, 0, 0}, {0, sign, 0});
  StaticVertex(b, {1, 0, 0}, {0, 0, 1}, {1, v0}, {1, 0, 0}, {0, sign, 0});
  StaticVertex(b, {0, 1, 0}, {0, 0, 1}, {0, v1}, {1, 0, 0}, {0, sign, 0});
  b.u32(3).u32(0).u32(1).u32(2);
  b.u16(1).u16(static_cast<uint16_t>(texturePath.size())).raw(texturePath).u8(1);
  return b.data;
}

static void CopyTriangle(const fs::path& dir, const std::string& objName = "tri.obj") {
  fs::copy_file(FixturePath("tri.obj"), dir / objName);
  fs::copy_file(FixturePath("tri.mtl"), dir / "tri.mtl");
}

TEST(StaticPipeline, CompilesTriangleToExactBytesAndVerifies) {
  for (bool flip : {false, true}) {
    ScratchDir dir;
    CopyTriangle(dir.path / "");
    const std::string input = (dir.path / "tri.obj").string();
    RunResult run = RunVarndel({"0", flip ? "1" : "0", input}, dir.path);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out, TextMode("\033[0m" + SuccessLog(false, "tri.staticbin", input) + MatchingReport(1)));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(dir.path / "tri.staticbin"), TriangleImage(flip, dir.path.string() + "\\tri.png"));
    EXPECT_EQ(ReadFile(dir.path / "Logs/Log.txt"), TextMode(SuccessLog(false, "tri.staticbin", input)));
  }
}

TEST(StaticPipeline, OutputNamesAndPlaces) {
  struct Case {
    std::string objName;
    std::vector<std::string> args;  // after the switches; "DIR" stands for the model directory
    std::string inputShown;
    std::string output;  // relative to the working directory
  };
  const Case cases[] = {
      {"tri.obj", {"m/tri.obj", "custom"}, "m/tri.obj", "m/custom.staticbin"},
      {"tri.obj", {"m/tri.obj", "out", "ignored", "also"}, "m/tri.obj", "m/out.staticbin"},
      {"Tri.OBJ", {"m/Tri.OBJ"}, "m/Tri.obj", "m/Tri.staticbin"},  // upper-case extension on Linux
      {"tri.obj", {"m//tri.obj"}, "m//tri.obj", "m/tri.staticbin"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    fs::create_directory(dir.path / "m");
    CopyTriangle(dir.path / "m", c.objName);
    std::vector<std::string> args{"0", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = RunVarndel(args, dir.path);
    const std::string outputName = fs::path(c.output).filename().string();
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out, TextMode("\033[0m" + SuccessLog(false, outputName, c.inputShown) + MatchingReport(1)));
    EXPECT_EQ(ReadFile(dir.path / c.output), TriangleImage(false, "m\\tri.png"));
  }
}

TEST(StaticPipeline, InputWithoutDirectoryWritesIntoWorkingDirectory) {
  ScratchDir dir;
  CopyTriangle(dir.path);
  RunResult run = RunVarndel({"0", "0", "tri.obj"}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(ReadFile(dir.path / "tri.staticbin"), TriangleImage(false, "tri.png"));
}

TEST(StaticPipeline, UnreadableInputFailsWithCode4AndDeletesNothing) {
  for (const std::string name : {"missing", "folder"}) {
    ScratchDir dir;
    fs::create_directory(dir.path / "folder.obj");  // Linux would let Assimp read it as an empty model
    WriteFile(dir.path / (name + ".staticbin"), "an older compile");
    RunResult run = RunVarndel({"0", "0", name + ".obj"}, dir.path);
    EXPECT_EQ(run.exitCode, kExitFailure);
    const std::string log = Info("Loading raw model...\n") +
                            Error("Assimp read file error! Unable to open file \"" + name + ".obj\".\n") +
                            Error("MC Error: (4)\n");
    EXPECT_EQ(run.out, TextMode("\033[0m" + log));
    EXPECT_EQ(ReadFile(dir.path / "Logs/Log.txt"), TextMode(log));
    EXPECT_EQ(ReadFile(dir.path / (name + ".staticbin")), "an older compile");
  }
}

TEST(StaticPipeline, UnopenableOutputFailsWithCode5AndDeletesNothing) {
  ScratchDir dir;
  CopyTriangle(dir.path);
  fs::create_directory(dir.path / "tri.staticbin");  // the output path is taken by a directory
  WriteFile(dir.path / "tri.staticbin/keep", "x");
  RunResult run = RunVarndel({"0", "0", "tri.obj"}, dir.path);
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, TextMode("\033[0m" + Info("Loading raw model...\n") + Info("Successfully loaded raw model.\n") +
                              Info("Generating binary model file...\n") + Error("MC Error: (5)\n")));
  EXPECT_EQ(ReadFile(dir.path / "tri.staticbin/keep"), "x");

  // A directory that does not exist is not created.
  RunResult noDir = RunVarndel({"0", "0", "tri.obj", "nowhere/name"}, dir.path);
  EXPECT_EQ(noDir.exitCode, kExitFailure);
  EXPECT_FALSE(fs::exists(dir.path / "nowhere"));
}

TEST(StaticPipeline, FailedWriteRemovesThePartialFile) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a file size limit (ulimit -f)";
#endif
  ScratchDir dir;
  fs::copy_file(ExamplePath("crate.obj"), dir.path / "crate.obj");
  fs::copy_file(ExamplePath("crate.mtl"), dir.path / "crate.mtl");
  WriteFile(dir.path / "crate.staticbin", "stale");
  // 512-byte file size limit: the log fits, the 2 KiB image does not.
  RunResult run = RunVarndel({"0", "0", "crate.obj"}, dir.path, "trap '' XFSZ; ulimit -f 1");
  EXPECT_EQ(run.exitCode, kExitFailure) << run.out << run.err;
  EXPECT_EQ(run.out, TextMode("\033[0m" + Info("Loading raw model...\n") + Info("Successfully loaded raw model.\n") +
                              Info("Generating binary model file...\n") + Error("MC Error: (6)\n")));
  EXPECT_FALSE(fs::exists(dir.path / "crate.staticbin"));
}

TEST(StaticPipeline, MaterialTexturesAreJoinedAndSortedPerMeshAndCountedOnce) {
  ScratchDir dir;
  fs::create_directory(dir.path / "m");
  fs::copy_file(FixturePath("materials.obj"), dir.path / "m/materials.obj");
  fs::copy_file(FixturePath("materials.mtl"), dir.path / "m/materials.mtl");
  RunResult run = RunVarndel({"0", "0", "m/materials.obj"}, dir.path);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(run.out,
            TextMode("\033[0m" + SuccessLog(false, "materials.staticbin", "m/materials.obj") + MatchingReport(3)));

  const std::string image = ReadFile(dir.path / "m/materials.staticbin");
  EXPECT_EQ(image.substr(0, 12), Bytes().u8(0).u8(0).u64(3).u16(4).data);
  // Each mesh is one triangle: 4 + 3 * 88 + 4 + 3 * 4 bytes before its textures.
  const size_t texturesAt = 4 + 3 * 88 + 4 + 3 * 4;
  Bytes wood;  // directories dropped, "\" inserted; the ambient copy of wood.png is left out
  wood.u16(3);
  wood.u16(15).raw("m\\Wood_spec.png").u8(2).u16(10).raw("m\\wood.png").u8(1);
  wood.u16(15).raw("m\\wood_bump.png").u8(5);
  Bytes metal;  // b/wood.png is the same stored path as Wood's a/wood.png, counted once in the header
  metal.u16(2).u16(18).raw("m\\metal_normal.png").u8(6).u16(10).raw("m\\wood.png").u8(1);
  size_t at = 12 + texturesAt;
  EXPECT_EQ(image.substr(at, wood.data.size()), wood.data);
  at += wood.data.size() + texturesAt;
  EXPECT_EQ(image.substr(at, metal.data.size()), metal.data);
  at += metal.data.size() + texturesAt;
  EXPECT_EQ(image.substr(at), wood.data);  // the third mesh's material is Wood again
}

TEST(StaticPipeline, ReadBackMismatchExitsWithMinus666AndKeepsTheFile) {
  ScratchDir dir;
  WriteFile(dir.path / "nan.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");  // NaN never compares equal
  RunResult run = RunVarndel({"0", "0", "nan.obj"}, dir.path);
  EXPECT_EQ(run.exitCode, kExitMismatch);
  EXPECT_NE(run.out.find(TextMode("\033[31m// - BIN FILE GOT PROBLEM!!!!!!!!!!!\033[0m\n")), std::string::npos)
      << run.out;
  EXPECT_EQ(ReadFile(dir.path / "nan.staticbin").size(), 12u + 4 + 3 * 88 + 4 + 3 * 4 + 2);
}

#ifdef _WIN32
// Windows file names: any case matches, '\' alone separates, a drive letter
// starts an absolute path (under Wine also Z:, the build machine's root).
TEST(StaticPipeline, WindowsPathForms) {
  auto check = [](const std::string& input, const std::string& inputShown, const std::string& outputName,
                  const std::string& modelDirectory, const fs::path& cwd) {
    RunResult run = RunVarndel({"0", "0", input}, cwd);
    EXPECT_EQ(run.exitCode, 0) << input << run.out;
    EXPECT_EQ(run.out, TextMode("\033[0m" + SuccessLog(false, outputName, inputShown) + MatchingReport(1)));
    EXPECT_EQ(ReadFile(cwd / "m" / outputName), TriangleImage(false, modelDirectory + "\\tri.png")) << input;
    EXPECT_EQ(ReadFile(cwd / "Logs/Log.txt"), TextMode(SuccessLog(false, outputName, inputShown)));
  };
  struct Case {
    std::string input, inputShown, outputName, modelDirectory;
  };
  const Case relative[] = {
      {"M\\TRI.OBJ", "M\\TRI.obj", "TRI.staticbin", "M"},  // the file is m\tri.obj
      {"m\\tri.obj", "m\\tri.obj", "tri.staticbin", "m"},
      {".\\m\\\\Tri.Obj", ".\\m\\\\Tri.obj", "Tri.staticbin", ".\\m"},
  };
  for (const Case& c : relative) {
    ScratchDir dir;
    fs::create_directory(dir.path / "m");
    CopyTriangle(dir.path / "m");
    check(c.input, c.inputShown, c.outputName, c.modelDirectory, dir.path);
  }
  for (size_t form = 0;; ++form) {
    ScratchDir dir;
    const std::vector<std::string> forms = DriveLetterForms(dir.path);
    if (form >= forms.size()) break;
    fs::create_directory(dir.path / "m");
    CopyTriangle(dir.path / "m");
    const std::string input = forms[form] + "\\M\\tri.OBJ";
    check(input, forms[form] + "\\M\\tri.obj", "tri.staticbin", forms[form] + "\\M", dir.path);
  }
}
#endif
