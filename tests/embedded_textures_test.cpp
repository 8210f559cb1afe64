// Embedded textures: extraction by varndel-edge --extract-textures (the
// compiled bytes unchanged), the names and sizes it refuses, and how the
// reader library and varndel-inspect find the extracted files.
#include <assimp/scene.h>
#include <assimp/texture.h>
#include <gtest/gtest.h>
#include <varndel/textures.h>

#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "extract/textures.h"
#include "inspect/commands.h"
#include "inspect/render/render.h"
#include "tests/inspect_support.h"
#include "tests/test_support.h"

namespace {

RunResult RunEdge(const std::vector<std::string>& args, const fs::path& cwd) {
  return RunProcess(VARNDEL_EDGE_EXE, args, cwd);
}

std::vector<std::string> ListNames(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

render::Rgb RenderedPixel(const fs::path& compiled, const fs::path& picture, int x, int y) {
  std::vector<std::string> args = {"render", compiled.string(), "-o", picture.string(), "--size", "64x64",
                                   "--view", "front"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  std::ostringstream err;
  std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
  const int code = RunRender(int(args.size()), argv.data());
  std::cerr.rdbuf(saved);
  EXPECT_EQ(code, 0) << err.str();
  EXPECT_EQ(err.str(), "");  // no warning: the texture was found and decoded
  render::Texture decoded;
  std::string reason;
  EXPECT_TRUE(render::LoadTexture(picture.string(), decoded, reason)) << reason;
  if (decoded.width != 64) return {};
  const uint8_t* p = &decoded.rgba[(size_t(y) * 64 + size_t(x)) * 4];
  return {p[0], p[1], p[2]};
}

bool Reddish(render::Rgb c) { return c.r > 2 * c.g && c.r > 2 * c.b; }
bool Bluish(render::Rgb c) { return c.b > 2 * c.r && c.b > 2 * c.g; }

TEST(EmbeddedTextures, ExtractedBesideTheCompiledFileFoundByCheckAndDrawnByRender) {
  const std::string red = ReadFile(FixturePath("embedded_texture.png"));
  struct Case {
    std::string model;
    std::vector<std::string> files;                  // the textures directory, exactly
    std::vector<std::pair<int, bool>> redPixels;     // x at y = 32 of a front view: red, or else blue
  };
  const std::vector<Case> cases = {
      {"embedded.glb", {"0.png"}, {{32, true}}},                      // *0
      {"embedded.gltf", {"0.png", "1.png"}, {{12, true}, {52, false}}},  // *0, *1 (data URIs)
      {"embedded.fbx", {"crate_paint.png"}, {{32, true}}},            // by name, "paint\crate_paint.png"
      {"quad.obj", {}, {}},                                          // nothing embedded: an empty directory
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    ScratchDir dir;
    const std::string stem = fs::path(c.model).stem().string();
    const fs::path compiled = dir.path / "out" / (stem + ".staticbin");
    const fs::path textures = dir.path / "out" / (stem + ".textures");
    // An earlier build's directory, as its manifest lists it: replaced whole.
    fs::create_directories(textures);
    WriteFile(textures / "stale.png", "from an earlier build");
    WriteFile(dir.path / "out" / (stem + ".textures.txt"), "stale.png\n");
    const RunResult run = RunEdge({"--extract-textures", textures.string(), "--textures-manifest",
                                   (dir.path / "out" / (stem + ".textures.txt")).string(), "0", "1",
                                   fs::path(VARNDEL_FIXTURES).string(), c.model, compiled.string(), (dir.path / "log").string()},
                                  dir.path);
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // The compiled bytes are those of a direct run.
    fs::copy(fs::path(VARNDEL_FIXTURES), dir.path / "direct", fs::copy_options::recursive);
    ASSERT_EQ(RunVarndel({"0", "1", c.model}, dir.path / "direct").exitCode, 0);
    EXPECT_EQ(ReadFile(compiled), ReadFile(dir.path / "direct" / (stem + ".staticbin")));

    std::vector<std::string> files = c.files;
    files.insert(files.begin(), ".varndel-output");  // the marker of a tool's directory
    EXPECT_EQ(ListNames(textures), files);
    std::string manifest;
    for (const std::string& file : c.files) manifest += file + "\n";
    EXPECT_EQ(ReadFile(dir.path / "out" / (stem + ".textures.txt")), manifest);
    if (c.files.empty()) continue;
    EXPECT_EQ(ReadFile(textures / c.files[0]), red);  // the embedded bytes, as they were

    const RunResult check = RunInspect({"check", compiled.string()}, dir.path);
    EXPECT_EQ(check.out, "checked 1 file: 0 errors, 0 warnings\n");
    for (const auto& [x, isRed] : c.redPixels) {
      const render::Rgb pixel = RenderedPixel(compiled, dir.path / "picture.png", x, 32);
      EXPECT_TRUE(isRed ? Reddish(pixel) : Bluish(pixel))
          << "pixel " << x << ": " << int(pixel.r) << " " << int(pixel.g) << " " << int(pixel.b);
    }
  }
}

TEST(EmbeddedTextures, AFailedModelLeavesNoTexturesAndTheManifestNeedsTheDirectory) {
  ScratchDir dir;
  WriteFile(dir.path / "broken.obj", "v 1 2\nf 1 2 3 4 5\n");
  fs::create_directories(dir.path / "out" / "broken.textures");
  WriteFile(dir.path / "out" / "broken.textures" / "0.png", "from an earlier build");
  WriteFile(dir.path / "out" / "broken.textures.txt", "0.png\n");
  const std::vector<std::string> positional = {"0", "0", dir.path.string(), "broken.obj", "out/broken.staticbin", "log"};
  std::vector<std::string> args = {"--extract-textures", "out/broken.textures", "--textures-manifest",
                                   "out/broken.textures.txt"};
  args.insert(args.end(), positional.begin(), positional.end());
  EXPECT_EQ(RunEdge(args, dir.path).exitCode, kExitFailure);
  EXPECT_EQ(ListNames(dir.path / "out"), std::vector<std::string>{});  // nothing stale, nothing temporary

  args = {"--textures-manifest", "out/m.txt"};
  args.insert(args.end(), positional.begin(), positional.end());
  const RunResult usage = RunEdge(args, dir.path);
  EXPECT_EQ(usage.exitCode, 2);
  EXPECT_NE(usage.err.find("--textures-manifest needs --extract-textures"), std::string::npos) << usage.err;
}

// An aiTexture owning its data (aiTexture's destructor frees pcData).
struct TextureShape {
  unsigned width = 0, height = 0;
  const char* hint = "";
  size_t dataTexels = 0;  // allocated texels; 0: no data
  const char* fileName = "";
};
aiTexture* MakeTexture(const TextureShape& shape) {
  auto* texture = new aiTexture();
  texture->mWidth = shape.width;
  texture->mHeight = shape.height;
  std::memcpy(texture->achFormatHint, shape.hint, std::min(std::strlen(shape.hint), sizeof texture->achFormatHint));
  if (shape.dataTexels > 0) {
    texture->pcData = new aiTexel[shape.dataTexels];
    for (size_t i = 0; i < shape.dataTexels; ++i) {
      texture->pcData[i] = aiTexel{uint8_t(i * 3), uint8_t(i * 5 + 1), uint8_t(i * 7 + 2), uint8_t(255 - i)};
    }
  }
  texture->mFilename = aiString(shape.fileName);
  return texture;
}

std::unique_ptr<aiScene> SceneWith(const std::vector<TextureShape>& shapes) {
  auto scene = std::make_unique<aiScene>();
  scene->mNumTextures = unsigned(shapes.size());
  scene->mTextures = new aiTexture*[shapes.size()];
  for (size_t i = 0; i < shapes.size(); ++i) scene->mTextures[i] = MakeTexture(shapes[i]);
  return scene;
}

TEST(EmbeddedTextures, TexelsRoundTripThroughPng) {
  const std::unique_ptr<aiTexture> texture(MakeTexture({3, 2, "rgba8888", 6}));
  const EncodedImage image = EncodeEmbeddedTexture(*texture, 100, "texture");
  EXPECT_EQ(image.extension, "png");
  ScratchDir dir;
  WriteFile(dir.path / "t.png", image.bytes);
  render::Texture decoded;
  std::string reason;
  ASSERT_TRUE(render::LoadTexture((dir.path / "t.png").string(), decoded, reason)) << reason;
  ASSERT_EQ(decoded.width, 3);
  ASSERT_EQ(decoded.height, 2);
  for (size_t i = 0; i < 6; ++i) {  // aiTexel is BGRA; the PNG RGBA, rows top to bottom
    const aiTexel& t = texture->pcData[i];
    EXPECT_EQ(std::vector<uint8_t>(decoded.rgba.begin() + i * 4, decoded.rgba.begin() + i * 4 + 4),
              (std::vector<uint8_t>{t.r, t.g, t.b, t.a}))
        << "texel " << i;
  }
}

TEST(EmbeddedTextures, NamesComeFromTheNumberOrAreMadeSafe) {
  const std::unique_ptr<aiScene> scene = SceneWith({
      {4, 0, "../x", 1},          // *0: a hint that is no extension
      {4, 0, "JPG", 1},           // *1
      {4, 0, "abcdefghi", 1},     // *2: nine bytes, no terminator within the hint
      {4, 0, "png", 1, "C:\\art\\..\\evil\x01name.png"},
      {4, 0, "png", 1, "up/.."},
      {4, 0, "png", 1, "beside.png"},
      {4, 0, "png", 1, "never.png"},      // referenced by no path
      {4, 0, "png", 1, "EVIL_NAME.png"},  // but for case, the name "evil_name.png" gets
  });
  const std::vector<std::string> stored = {"m\\*0", "*1", "*2", "*9", "m\\evil\x01name.png", "m\\..", "m\\beside.png",
                                           "m\\missing.png", "m\\*x"};
  std::vector<std::string> warnings;
  const auto exists = [](const std::string& path) { return path == "m/beside.png"; };
  std::vector<std::string> names;
  for (const ExtractedTexture& texture : CollectEmbeddedTextures(*scene, stored, 100, exists, warnings)) {
    names.push_back(texture.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"0.bin", "1.jpg", "2.bin", "evil_name.png", "__"}));
  EXPECT_EQ(warnings, (std::vector<std::string>{}));
  // A clash: the first texture written under a name keeps it.
  warnings.clear();
  const std::vector<std::string> clashing = {"m\\evil\x01name.png", "m\\EVIL_NAME.png"};
  names.clear();
  for (const ExtractedTexture& texture : CollectEmbeddedTextures(*scene, clashing, 100, exists, warnings)) {
    names.push_back(texture.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"evil_name.png"}));
  EXPECT_EQ(warnings, (std::vector<std::string>{"embedded texture 'EVIL_NAME.png' is not extracted: another "
                                                "embedded texture is written as evil_name.png"}));
}

TEST(EmbeddedTextures, SizesPastTheImportedBytesAreRefused) {
  struct Case {
    const char* what;
    TextureShape shape;
    uint64_t inputBytes;
  };
  const std::vector<Case> cases = {
      {"compressed, more bytes than the files hold", {1000, 0, "png", 1}, 999},
      {"compressed, empty", {0, 0, "png", 0}, 999},
      {"compressed, no data", {10, 0, "png", 0}, 999},
      {"texels, more than two per input byte", {100, 100, "", 1}, 4999},
      {"texels, a product past 64 bits", {0xFFFFFFFFu, 0xFFFFFFFFu, "", 1}, UINT64_MAX / 4},
      {"texels, more bytes than a PNG row counts", {0x20000000u, 1, "", 1}, UINT64_MAX / 4},
      {"texels, no data", {2, 2, "", 0}, 999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::unique_ptr<aiTexture> texture(MakeTexture(c.shape));
    try {
      EncodeEmbeddedTexture(*texture, c.inputBytes, "embedded texture 0");
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("embedded texture 0: ", 0), 0u) << e.what();
    }
  }
}

TEST(TextureResolution, ExtractedNamesAndReferences) {
  const std::string longName = std::string(300, 'a') + ".png";
  const std::vector<std::pair<std::string, std::string>> names = {
      {"dir\\sub/a b.png", "a b.png"}, {"a<b>:c|d?.png", "a_b__c_d_.png"}, {"..", "__"},
      {".hidden.png", "_hidden.png"},  {"con.png", "_con.png"},           {"name. ", "name__"},
      {"t\x01\x7f.png", "t__.png"},    {"\xff\xc2\x85\xc3\xa9.png", "__\xc3\xa9.png"},
      {"dir/", ""},                    {longName, std::string(124, 'a') + ".png"},
  };
  for (const auto& [stored, name] : names) EXPECT_EQ(varndel::ExtractedTextureName(stored), name) << stored;
  EXPECT_EQ(varndel::EmbeddedTextureIndex("m\\*12"), std::optional<uint32_t>(12));
  EXPECT_EQ(varndel::EmbeddedTextureIndex("*4294967295"), std::optional<uint32_t>(4294967295u));
  for (const char* notReference : {"*", "*1a", "*-1", "x*1", "*4294967296", "*1/x"}) {
    EXPECT_EQ(varndel::EmbeddedTextureIndex(notReference), std::nullopt) << notReference;
  }
  EXPECT_EQ(varndel::TexturesDirectoryOf((fs::path("lib") / "crate.staticbin").string()),
            (fs::path("lib") / "crate.textures").string());
}

TEST(TextureResolution, ExtractedFilesComeAfterThePlacesSearchedToday) {
  ScratchDir dir;
  const fs::path compiled = dir.path / "m.staticbin";
  fs::create_directories(dir.path / "m.textures" / "0.png");  // a directory is no file
  WriteFile(dir.path / "m.textures" / "3.jpg", "jpeg");
  WriteFile(dir.path / "m.textures" / "tex.png", "extracted");
  WriteFile(dir.path / "m.textures" / "own.png", "extracted");
  fs::create_directories(dir.path / "dir");
  WriteFile(dir.path / "dir" / "own.png", "real");
  const auto resolve = [&](const std::string& stored) {
    const std::optional<std::string> file = varndel::ResolveTexture(stored, compiled.string());
    return file ? ReadFile(*file) : std::string("none");
  };
  EXPECT_EQ(resolve("models\\*3"), "jpeg");
  EXPECT_EQ(resolve("*0"), "none");
  EXPECT_EQ(resolve("dir\\tex.png"), "extracted");
  EXPECT_EQ(resolve("dir\\own.png"), "real");
  EXPECT_EQ(resolve("tex.png\\.."), "none");

  std::vector<std::string> tried;
  EXPECT_EQ(varndel::ResolveTexture("*4", compiled.string(), &tried), std::nullopt);
  EXPECT_EQ(tried, std::vector<std::string>{(dir.path / "m.textures" / "4.*").lexically_normal().string()});

  // check names the option that extracts a missing reference.
  ModelContainer mc = QuadModel();
  mc.meshes[0].textures = {{"*4", 1}, {"*3", 1}};
  mc.loadedTextures = {"*3", "*4"};
  WriteModel(compiled, mc);
  const RunResult check = RunInspect({"check", "m.staticbin"}, dir.path);
  EXPECT_EQ(check.out, "warning: m.staticbin: mesh 0 texture '*4': embedded texture not extracted (no '" +
                           (fs::path("m.textures") / "4.*").string() +
                           "'); compile with varndel-edge --extract-textures, or EXTRACT_TEXTURES in "
                           "varndel_add_models\nchecked 1 file: 0 errors, 1 warning\n");
}

}  // namespace
