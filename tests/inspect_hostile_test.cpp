// varndel-inspect and the reader under hostile files and paths: memory and
// work stay within their budgets (shown under an address-space cap and by
// counting), stored names never reach the terminal raw, non-regular files
// are refused at once, and render never writes through a planted link.
#include <varndel/reader.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <sstream>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "inspect/render/render.h"
#include "reader/file_access.h"
#include "tests/inspect_support.h"

namespace {

// Runs a subcommand in this process the way main does, stderr captured.
int RunCommand(int (*run)(int, char**), std::vector<std::string> args, std::string* err = nullptr) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::ostringstream captured;
  std::streambuf* saved = std::cerr.rdbuf(captured.rdbuf());
  const int code = inspect::RunGuarded(args[0].c_str(), run, int(args.size()), argv.data());
  std::cerr.rdbuf(saved);
  if (err != nullptr) *err = captured.str();
  return code;
}

void WritePng(const fs::path& path, int width, int height, render::Rgb colour) {
  std::string bytes;
  ASSERT_TRUE(render::EncodePng(render::MakeImage(width, height, colour), bytes));
  WriteFile(path, bytes);
}

// count quads, each covering the whole frame, in one mesh whose diffuse
// texture is stored as texture.
ModelContainer QuadsModel(size_t count, const std::string& texture = "") {
  ModelContainer mc;
  std::vector<Vertex> vertices;
  std::vector<uint32_t> indices;
  for (size_t q = 0; q < count; ++q) {
    const uint32_t base = uint32_t(vertices.size());
    for (const auto& [x, y] : {std::pair{-1.f, -1.f}, {1.f, -1.f}, {1.f, 1.f}, {-1.f, 1.f}})
      vertices.push_back(QuadVertex(x, y, (x + 1) / 2, (y + 1) / 2));
    for (uint32_t i : {0u, 1u, 2u, 0u, 2u, 3u}) indices.push_back(base + i);
  }
  TextureMap textures;
  if (!texture.empty()) textures[texture] = 1;
  mc.meshes.emplace_back(vertices, indices, textures);
  if (!texture.empty()) mc.loadedTextures.push_back(texture);
  return mc;
}

TEST(InspectHostile, OneTextureUnderManySpellingsIsDecodedOnce) {
  // 200 meshes name one 2048x2048 PNG (16 MiB decoded) by 200 spellings.
  // Decoded once per spelling they would need 3.2 GB; the child has 256 MB.
  ScratchDir dir;
  WritePng(dir.path / "t.png", 2048, 2048, {200, 40, 40});
  ModelContainer mc;
  for (int m = 0; m < 200; ++m) {
    const std::string spelling = "k" + std::to_string(m) + "/../t.png";
    mc.meshes.push_back(QuadsModel(1, spelling).meshes[0]);
    mc.loadedTextures.push_back(spelling);
  }
  const fs::path model = dir.path / "m.staticbin";
  WriteModel(model, mc);
  const fs::path png = dir.path / "out.png";
  std::string err;
  const int status = RunInChild(
      [&] { return RunCommand(RunRender, {"render", model.string(), "-o", png.string(), "--size", "32x32"}, &err); },
      256 << 20);
  EXPECT_EQ(status, 0) << DescribeChildStatus(status);
  EXPECT_TRUE(fs::exists(png));

  // Counted through the cache: spellings, a second name through a link where
  // there are links, and the same file twice, all one decoded image.
  render::TextureCache cache(render::kTextureByteBudget);
  std::vector<std::string> warnings;
  const render::Texture* first = cache.Find("k0/../t.png", model.string(), warnings);
  for (const char* other : {"k1/../t.png", "./t.png", "t.png", "k\\..\\t.png"})
    EXPECT_EQ(cache.Find(other, model.string(), warnings), first) << other;
  EXPECT_EQ(cache.DecodedBytes(), 2048u * 2048u * 4u);
  EXPECT_EQ(warnings, std::vector<std::string>{});
}

TEST(InspectHostile, DecodedTexturesStayWithinTheirBudget) {
  ScratchDir dir;
  for (const char* name : {"a.png", "b.png", "c.png"}) WritePng(dir.path / name, 16, 16, {0, 0, 255});
  const std::string model = (dir.path / "m.staticbin").string();
  render::TextureCache cache(2 * 16 * 16 * 4 + 100);  // room for two
  std::vector<std::string> warnings;
  const render::Texture* a = cache.Find("a.png", model, warnings);
  const render::Texture* b = cache.Find("b.png", model, warnings);
  const render::Texture* c = cache.Find("c.png", model, warnings);
  EXPECT_EQ(a->width, 16);
  EXPECT_EQ(b->width, 16);
  EXPECT_EQ(c->width, 64);  // the checker
  EXPECT_EQ(cache.DecodedBytes(), 2u * 16 * 16 * 4);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("c.png' (16x16) would take the decoded textures past"), std::string::npos)
      << warnings[0];
}

TEST(InspectHostile, AnAllocationFailureIsExitTwoNotAnAbort) {
  if (!kChildMemoryCap) GTEST_SKIP() << "needs a child process with an address-space cap";
  ScratchDir dir;
  const fs::path model = dir.path / "quad.staticbin";
  WriteModel(model, QuadModel());
  // A 4096x4096 picture and its depth buffer need 112 MB; the child has 48.
  std::string err;
  const int status = RunInChild(
      [&] {
        return RunCommand(RunRender, {"render", model.string(), "-o", (dir.path / "out.png").string(), "--size",
                                      "4096x4096"},
                          &err);
      },
      48 << 20);
  EXPECT_EQ(status, 2) << DescribeChildStatus(status);
  EXPECT_FALSE(fs::exists(dir.path / "out.png"));
}

TEST(InspectHostile, RenderStopsAtItsPixelTestBudgetAndStillDrawsThePicture) {
  // 2,000 quads over the whole frame: each costs 2 x 64 x 64 tests.
  const std::string image = ModelImage(QuadsModel(2000));
  varndel::Model model;
  ASSERT_TRUE(varndel::ReadModel(image.data(), image.size(), model));
  render::Request request;
  request.width = request.height = 64;
  request.view = render::View::kFront;
  request.pixelTests = 100 * 2 * 64 * 64;
  std::vector<std::string> warnings;
  const render::Image picture = render::DrawPicture(model, "m.staticbin", request, warnings);
  EXPECT_NE(render::PixelAt(picture, 32, 32), render::kBackground);  // what was drawn is kept
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].find("drawing stopped after "), 0u) << warnings[0];

  // The count itself: no test past the budget, and a triangle the budget
  // cannot pay for is not begun.
  const render::Pose pose = render::PoseModel(model, 0);
  render::Bounds bounds;
  render::AddToBounds(pose, false, bounds);
  render::Image cell = render::MakeImage(64, 64);
  render::DrawStats stats;
  render::PixelBudget budget{1000};
  render::DrawPose(model, pose, {}, render::FrameCamera(bounds, render::View::kFront, 64, 64), cell, stats, budget);
  EXPECT_TRUE(budget.exhausted);
  EXPECT_EQ(budget.used, 0u);
}

TEST(InspectHostile, StoredNamesReachTheTerminalQuoted) {
  // An OSC sequence that retitles a terminal, a C1 control and a broken
  // UTF-8 byte, in a texture path and in every kind of stored name.
  const std::string hostile = "\x1b]2;owned\x07\xc2\x9b\xff";
  ScratchDir dir;
  ModelContainer mc = SkinnedQuadModel();
  mc.meshes[0].textures[hostile + ".png"] = 1;
  mc.loadedTextures.push_back(hostile + ".png");
  mc.rootNode.name = hostile;
  mc.bones[0].m_Name = hostile + "b";
  mc.boneInfoMap[hostile + "i"] = BoneInfo{1, {}};
  WriteModel(dir.path / "a.animbin", mc);
  mc.rootNode.name = "Root";
  mc.bones[0].m_Name = "Hip";
  WriteModel(dir.path / "b.animbin", mc);
  const std::vector<std::vector<std::string>> commands = {
      {"info", "a.animbin"},
      {"check", "a.animbin"},
      {"diff", "a.animbin", "b.animbin", "--limit", "0"},
      {"render", "a.animbin", "-o", "a.png", "--size", "16x16", "--skeleton"},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const RunResult run = RunInspect(args, dir.path);
    const std::string text = run.out + run.err;
    EXPECT_NE(text.find("\\x1b]2;owned\\x07\\xc2\\x9b\\xff"), std::string::npos) << text;
    for (const char c : text) EXPECT_TRUE(c == '\n' || c == '\r' || !(uint8_t(c) < 0x20 || uint8_t(c) == 0x7f)) << text;
  }
}

#ifndef _WIN32
TEST(InspectHostile, TheReaderRefusesEveryFileButARegularOneAtOnce) {
  ScratchDir dir;
  const fs::path fifo = dir.path / "model.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {fifo.string(), "'" + fifo.string() + "' is a FIFO, not a model file"},
      {"/dev/null", "'/dev/null' is a character device, not a model file"},
      {dir.path.string(), "'" + dir.path.string() + "' is a directory, not a model file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    // Opening a FIFO for reading waits for a writer: in a child, with a time limit.
    const int status = RunInChild(
        [&] {
          varndel::Model model;
          varndel::ReadError error;
          if (varndel::ReadModelFile(c.path, model, &error)) return 1;
          std::cerr << error.message << "\n";
          return error.offset == 0 && error.field.empty() && error.message == c.message ? 0 : 2;
        },
        64 << 20, 20);
    EXPECT_EQ(status, 0) << DescribeChildStatus(status);
  }
  const RunResult run = RunInspect({"info", "model.fifo"}, dir.path);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "varndel-inspect: info: 'model.fifo' is a FIFO, not a model file\n");
}

TEST(InspectHostile, AFileLargerThanTheAddressSpaceIsRefusedBeforeAnyAllocation) {
  // 4 GiB + 100 bytes, sparse, as a 32-bit build's size_t would see it.
  ScratchDir dir;
  const fs::path big = dir.path / "big.staticbin";
  WriteFile(big, "");
  fs::resize_file(big, (uint64_t{1} << 32) + 100);
  std::string bytes, reason;
  EXPECT_FALSE(varndel::file_access::ReadRegularFile(big.string(), bytes, reason, UINT32_MAX));
  EXPECT_EQ(reason, "cannot read '" + big.string() +
                        "': its 4294967396 bytes are more than this program can hold in memory");
  EXPECT_EQ(bytes.capacity() < 1024, true);
}

TEST(InspectHostile, RenderWritesThroughANewTemporaryFileNeverALink) {
  ScratchDir dir;
  WriteModel(dir.path / "quad.staticbin", QuadModel());
  WriteFile(dir.path / "victim", "keep me");
  // Links planted at the name the temporary file once had, and at the output.
  fs::create_symlink(dir.path / "victim", dir.path / "out.png.partial");
  fs::create_symlink(dir.path / "victim", dir.path / "out.png");
  const RunResult run = RunInspect({"render", "quad.staticbin", "-o", "out.png", "--size", "8x8"}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(dir.path / "victim"), "keep me");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path / "out.png")));
  EXPECT_EQ(ReadFile(dir.path / "out.png").substr(1, 3), "PNG");
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir.path)) entries += (void(entry), 1);
  EXPECT_EQ(entries, 4u);  // the model, the victim, the old link and the picture: no temporary left

  // The seam itself: an existing name, a dangling link, a link to a file.
  fs::create_symlink(dir.path / "nowhere", dir.path / "dangling");
  for (const char* name : {"victim", "dangling", "out.png.partial"}) {
    std::FILE* file = varndel::file_access::CreateNewFile((dir.path / name).string());
    EXPECT_EQ(file, nullptr) << name;
    if (file != nullptr) std::fclose(file);
  }
  EXPECT_FALSE(fs::exists(dir.path / "nowhere"));
  EXPECT_EQ(ReadFile(dir.path / "victim"), "keep me");
}
#endif

}  // namespace
