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
  for (const auto& entry : fs::directory_iterator(directory)) {
    // The marker of a directory a tool made is no texture.
    if (entry.path().filename() != varndel::file_access::kOutputDirectoryMarker) {
      names.push_back(entry.path().filename().string());
    }
  }
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

    EXPECT_EQ(ListNames(textures), c.files);
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

TEST(EmbeddedTextures, LodAndOptimisedFilesUseTheExtractedTextures) {
  // As varndel_add_models(... EXTRACT_TEXTURES OPTIMIZE LODS 0.5) builds it,
  // then varndel-opt on the result.
  ScratchDir dir;
  const RunResult run = RunEdge({"--optimize", "--lod", "0.5", "--extract-textures", "out/embedded.textures", "0", "1",
                                 fs::path(VARNDEL_FIXTURES).string(), "embedded.glb", "out/embedded.staticbin", "log"},
                                dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const RunResult opt = RunProcess(VARNDEL_OPT_EXE, {"out/embedded.staticbin", "--lod", "0.5"}, dir.path);
  ASSERT_EQ(opt.exitCode, 0) << opt.err;
  const std::vector<std::string> files = {"out/embedded.lod1.staticbin", "out/embedded.opt.staticbin",
                                          "out/embedded.opt.lod1.staticbin"};
  std::vector<std::string> args = {"check"};
  args.insert(args.end(), files.begin(), files.end());
  const RunResult check = RunInspect(args, dir.path);
  EXPECT_EQ(check.out, "checked 3 files: 0 errors, 0 warnings\n");
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(Reddish(RenderedPixel(dir.path / file, dir.path / "picture.png", 32, 32)));
  }
}

// A GLB of one triangle whose images all share one buffer view of viewBytes
// bytes, each image the texture of its own material and mesh.
std::string SharedViewGlb(size_t images, size_t viewBytes) {
  std::string json = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[)";
  std::string nodes, meshes, materials, textures, imageList;
  for (size_t i = 0; i < images; ++i) {
    const std::string n = std::to_string(i), comma = i == 0 ? "" : ",";
    json += comma + n;
    nodes += comma + R"({"mesh":)" + n + "}";
    meshes += comma + R"({"primitives":[{"attributes":{"POSITION":0},"material":)" + n + "}]}";
    materials += comma + R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":)" + n + "}}}";
    textures += comma + R"({"source":)" + n + "}";
    imageList += comma + R"({"bufferView":1,"mimeType":"image/png"})";
  }
  json += "]}],\"nodes\":[" + nodes + "],\"meshes\":[" + meshes + "],\"materials\":[" + materials +
          "],\"textures\":[" + textures + "],\"images\":[" + imageList +
          R"(],"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}],)" +
          R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":)" +
          std::to_string(viewBytes) + R"(}],"buffers":[{"byteLength":)" + std::to_string(36 + viewBytes) + "}]}";
  while (json.size() % 4 != 0) json += ' ';
  const float positions[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  std::string bin(reinterpret_cast<const char*>(positions), sizeof positions);
  bin += "\x89PNG\r\n\x1a\n";
  bin.resize(36 + viewBytes, 'x');
  while (bin.size() % 4 != 0) bin += '\0';
  const auto word = [](uint32_t value) { return std::string(reinterpret_cast<const char*>(&value), 4); };
  return "glTF" + word(2) + word(uint32_t(12 + 8 + json.size() + 8 + bin.size())) + word(uint32_t(json.size())) +
         "JSON" + json + word(uint32_t(bin.size())) + std::string("BIN\0", 4) + bin;
}

TEST(EmbeddedTextures, ImagesSharingOneBufferViewAreBoundedAsAWhole) {
  struct Case {
    size_t images;
    bool fits;
  };
  for (const Case c : {Case{3, true}, Case{200, false}}) {
    SCOPED_TRACE(c.images);
    ScratchDir dir;
    WriteFile(dir.path / "shared.glb", SharedViewGlb(c.images, 100 * 1000));
    const RunResult run = RunEdge({"--extract-textures", "out/shared.textures", "--textures-manifest",
                                   "out/shared.textures.txt", "0", "0", ".", "shared.glb", "out/shared.staticbin", "log"},
                                  dir.path);
    if (c.fits) {
      ASSERT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(ListNames(dir.path / "out" / "shared.textures"), (std::vector<std::string>{"0.png", "1.png", "2.png"}));
      continue;
    }
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.err.find("the most one model extracts (4 times the "), std::string::npos) << run.err;
    EXPECT_EQ(ListNames(dir.path / "out"), std::vector<std::string>{});  // no output, textures or temporary
  }
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

TEST(EmbeddedTextures, NamesComeFromTheNumberOrAreMadeSafeAndNeverShareAFile) {
  const std::unique_ptr<aiScene> scene = SceneWith({
      {4, 0, "../x", 1},          // *0: a hint that is no extension
      {4, 0, "JPG", 1},           // *1
      {4, 0, "abcdefghi", 1},     // *2: nine bytes, no terminator within the hint
      {4, 0, "png", 1, "C:\\art\\..\\evil\x01name.png"},
      {4, 0, "png", 1, "up/.."},
      {4, 0, "png", 1, "beside.png"},
      {4, 0, "png", 1, "never.png"},  // referenced by no path
      // Names that an earlier rule folded into one file: by '_' for every
      // unsafe byte, by case, and a name in the form of a numbered file.
      {4, 0, "png", 1, "EVIL_NAME.png"},
      {4, 0, "png", 1, "evil_name.png"},
      {4, 0, "png", 1, "a<b.png"},
      {4, 0, "png", 1, "a>b.png"},
      {4, 0, "png", 1, "0.png"},
  });
  for (unsigned i = 0; i < scene->mNumTextures; ++i) scene->mTextures[i]->pcData[0].b = uint8_t(i);
  const std::vector<std::string> stored = {
      "m\\*0",          "*1",           "*2",             "*99",          "m\\evil\x01name.png",
      "m\\..",          "m\\beside.png", "m\\missing.png", "m\\*x",        "m\\EVIL_NAME.png",
      "n/evil_name.png", "a<b.png",      "a>b.png",        "x/0.png",      "y\\a<b.png" /* the same texture again */};
  const auto exists = [](const std::string& path) { return path == "m/beside.png"; };
  std::map<std::string, int> written;  // name -> the texture whose bytes it holds
  for (const ExtractedTexture& texture : CollectEmbeddedTextures(*scene, stored, 100, exists)) {
    ASSERT_EQ(texture.bytes.size(), 4u) << texture.name;
    EXPECT_TRUE(written.emplace(texture.name, uint8_t(texture.bytes[0])).second) << texture.name;
  }
  EXPECT_EQ(written, (std::map<std::string, int>{{"0.bin", 0},
                                                  {"1.jpg", 1},
                                                  {"2.bin", 2},
                                                  {"evil%01name.png", 3},
                                                  {"%2E%2E", 4},
                                                  {"%45%56%49%4C_%4E%41%4D%45.png", 7},
                                                  {"evil_name.png", 8},
                                                  {"a%3Cb.png", 9},
                                                  {"a%3Eb.png", 10},
                                                  {"%30.png", 11}}));
}

TEST(EmbeddedTextures, TheTotalOfOneModelIsBounded) {
  // Twenty images of 40 KiB each from 100 KiB of input (glTF images may share
  // one buffer view): the 12th passes the bound of 4 * 100 KiB + 64 KiB.
  const std::unique_ptr<aiScene> scene = SceneWith(std::vector<TextureShape>(20, {40 * 1024, 0, "png", 10 * 1024}));
  std::vector<std::string> references;
  for (int i = 0; i < 20; ++i) references.push_back("*" + std::to_string(i));
  const auto exists = [](const std::string&) { return false; };
  EXPECT_EQ(ExtractionBound(100 * 1024), 4u * 100 * 1024 + 64 * 1024);
  EXPECT_EQ(ExtractionBound(UINT64_MAX / 2), UINT64_MAX);
  EXPECT_EQ(CollectEmbeddedTextures(*scene, std::vector<std::string>(references.begin(), references.begin() + 11),
                                    100 * 1024, exists)
                .size(),
            11u);
  try {
    CollectEmbeddedTextures(*scene, references, 100 * 1024, exists);
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "embedded texture 11: the embedded textures of this model pass 475136 bytes, the most one model "
              "extracts (4 times the 102400 bytes of the imported files, plus 65536)");
  }
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
  const std::string longCut = std::string(107, 'a') + "~";  // then 16 hex digits, ".png"
  const std::vector<std::pair<std::string, std::string>> names = {
      {"dir\\sub/a b.png", "a b.png"},
      {"wood-1_(2)+x.png", "wood-1_(2)+x.png"},
      {"a<b>:c|d?.png", "a%3Cb%3E%3Ac%7Cd%3F.png"},
      {"Wood.PNG", "%57ood.%50%4E%47"},  // apart from wood.png where case folds
      {"100%.png", "100%25.png"},
      {"a~1.png", "a%7E1.png"},  // the form of a Windows short name
      {"..", "%2E%2E"},
      {".hidden.png", "%2Ehidden.png"},
      {"con.png", "%63on.png"},
      {"com7", "%63om7"},
      {"console.png", "console.png"},
      {"12.png", "%312.png"},  // apart from the file of the reference *12
      {"12b.png", "12b.png"},
      {"name. ", "name.%20"},
      {" x", "%20x"},
      {"t\x01\x7f.png", "t%01%7F.png"},
      {"\xff\xc2\x85\xc3\xa9.png", "%FF%C2%85%C3%A9.png"},
      {"dir/", ""},
  };
  for (const auto& [stored, name] : names) EXPECT_EQ(varndel::ExtractedTextureName(stored), name) << stored;
  // Long names are cut, keeping a short extension, and told apart by a hash.
  const std::string cut = varndel::ExtractedTextureName(longName);
  EXPECT_EQ(cut.size(), 128u);
  EXPECT_EQ(cut.substr(0, longCut.size()), longCut);
  EXPECT_EQ(cut.substr(cut.size() - 4), ".png");
  EXPECT_NE(varndel::ExtractedTextureName(std::string(300, 'a') + "b.png"), cut);
  // The cut at 111 bytes would fall inside the 23rd %41: it goes before it.
  const std::string encodedCut = varndel::ExtractedTextureName(std::string(43, 'a') + std::string(100, 'A'));
  EXPECT_EQ(encodedCut.size(), 43u + 3 * 22 + 17);
  EXPECT_EQ(encodedCut.substr(43 + 3 * 21), "%41~" + encodedCut.substr(43 + 3 * 22 + 1));
  EXPECT_EQ(varndel::EmbeddedTextureIndex("m\\*12"), std::optional<uint32_t>(12));
  EXPECT_EQ(varndel::EmbeddedTextureIndex("*4294967295"), std::optional<uint32_t>(4294967295u));
  for (const char* notReference : {"*", "*1a", "*-1", "x*1", "*4294967296", "*1/x"}) {
    EXPECT_EQ(varndel::EmbeddedTextureIndex(notReference), std::nullopt) << notReference;
  }
  EXPECT_EQ(varndel::TexturesDirectoryOf((fs::path("lib") / "crate.staticbin").string()),
            (fs::path("lib") / "crate.textures").string());
}

TEST(TextureResolution, LodAndOptimisedFilesNameTheirBase) {
  EXPECT_EQ(varndel::OptimizedPath("lib/crate.staticbin"), "lib/crate.opt.staticbin");
  EXPECT_EQ(varndel::OptimizedPath("a.b\\walker"), "a.b\\walker.opt");
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"lib/m.lod1.staticbin", {"lib/m.staticbin"}},
      {"lib/m.opt.staticbin", {"lib/m.staticbin"}},
      {"lib\\m.opt.lod12.animbin", {"lib\\m.opt.animbin", "lib\\m.animbin"}},
      {"m.lod1.opt.staticbin", {"m.lod1.staticbin", "m.staticbin"}},  // varndel-opt on a LOD file
      {"m.staticbin", {}},
      {"m.lod0.staticbin", {}},
      {".opt.staticbin", {}},
      {"x.opt/m.staticbin", {}},
  };
  for (const auto& [path, bases] : cases) EXPECT_EQ(varndel::BaseModelPaths(path), bases) << path;
  // Both directions agree: what LodPath and OptimizedPath write leads back.
  const std::string lod = varndel::LodPath(varndel::OptimizedPath("m.staticbin"), 3, false);
  EXPECT_EQ(lod, "m.opt.lod3.staticbin");
  EXPECT_EQ(varndel::BaseModelPaths(lod), (std::vector<std::string>{"m.opt.staticbin", "m.staticbin"}));
}

TEST(TextureResolution, LodAndOptimisedFilesFindTheTexturesOfTheirBase) {
  ScratchDir dir;
  for (const char* directory : {"m.textures", "m.opt.textures", "m.lod3.textures"}) {
    fs::create_directories(dir.path / directory);
  }
  WriteFile(dir.path / "m.textures" / "0.png", "base");
  WriteFile(dir.path / "m.textures" / "tex.png", "base named");
  WriteFile(dir.path / "m.opt.textures" / "1.png", "optimised");
  WriteFile(dir.path / "m.lod3.textures" / "0.png", "own");
  struct Case {
    const char* compiled;
    const char* stored;
    const char* found;
  };
  const std::vector<Case> cases = {
      {"m.lod1.staticbin", "*0", "base"},
      {"m.opt.staticbin", "*0", "base"},
      {"m.opt.lod2.staticbin", "*0", "base"},
      {"m.opt.lod2.staticbin", "*1", "optimised"},  // the nearer base first
      {"m.lod1.animbin", "dir\\tex.png", "base named"},
      {"m.lod3.staticbin", "*0", "own"},  // extracted for the file itself
      {"m.lod0.staticbin", "*0", "none"},
      {"other.lod1.staticbin", "*0", "none"},
  };
  for (const Case& c : cases) {
    const std::optional<std::string> file = varndel::ResolveTexture(c.stored, (dir.path / c.compiled).string());
    EXPECT_EQ(file ? ReadFile(*file) : std::string("none"), c.found) << c.compiled << " " << c.stored;
  }
  std::vector<std::string> tried;
  EXPECT_EQ(varndel::ResolveTexture("*4", (dir.path / "m.opt.lod1.staticbin").string(), &tried), std::nullopt);
  EXPECT_EQ(tried, (std::vector<std::string>{(dir.path / "m.opt.lod1.textures" / "4.*").lexically_normal().string(),
                                             (dir.path / "m.opt.textures" / "4.*").lexically_normal().string(),
                                             (dir.path / "m.textures" / "4.*").lexically_normal().string()}));
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

  // check names the option that extracts a missing reference, unless the
  // textures were extracted and the file is not among them.
  ModelContainer mc = QuadModel();
  mc.meshes[0].textures = {{"*4", 1}, {"*3", 1}};
  mc.loadedTextures = {"*3", "*4"};
  WriteModel(compiled, mc);
  mc.meshes[0].textures = {{"*4", 1}};
  mc.loadedTextures = {"*4"};
  WriteModel(dir.path / "n.lod1.staticbin", mc);
  const RunResult check = RunInspect({"check", "m.staticbin", "n.lod1.staticbin"}, dir.path);
  EXPECT_EQ(check.out, "warning: m.staticbin: mesh 0 texture '*4': embedded texture not among the extracted "
                       "textures (no '" + (fs::path("m.textures") / "4.*").string() + "')\n"
                       "warning: n.lod1.staticbin: mesh 0 texture '*4': embedded texture not extracted (no '" +
                           (fs::path("n.lod1.textures") / "4.*").string() + "', '" +
                           (fs::path("n.textures") / "4.*").string() +
                           "'); compile with varndel-edge --extract-textures, or EXTRACT_TEXTURES in "
                           "varndel_add_models\nchecked 2 files: 0 errors, 2 warnings\n");
}

}  // namespace
