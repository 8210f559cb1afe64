// varndel-inspect info and json on the compiled examples and on files with
// awkward names and numbers; usage errors; colour rules.
#include <varndel/mapped.h>
#include <varndel/optimize.h>
#include <varndel/writer.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

#include "inspect/common.h"
#include "tests/inspect_support.h"

namespace {

using nlohmann::json;

// Compiles examples/<name> inside dir (with its material file) and returns
// the compiled file's name there.
std::string CompileExample(const fs::path& dir, const std::string& name, bool animated, bool flip,
                           const std::string& outputName = "") {
  for (const char* file : {"crate.obj", "crate.mtl", "walker.gltf"}) {
    if (!fs::exists(dir / file)) fs::copy_file(ExamplePath(file), dir / file);
  }
  std::vector<std::string> args = {animated ? "1" : "0", flip ? "1" : "0", name};
  if (!outputName.empty()) args.push_back(outputName);
  const RunResult run = RunVarndel(args, dir);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  const std::string base = outputName.empty() ? fs::path(name).stem().string() : outputName;
  return base + (animated ? ".animbin" : ".staticbin");
}

json JsonOf(const std::vector<std::string>& args, const fs::path& cwd) {
  const RunResult run = RunInspect(args, cwd);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  return json::parse(run.out);  // throws, failing the test, on invalid JSON or UTF-8
}

TEST(InspectJson, ExamplesGiveTheExpectedDocuments) {
  ScratchDir dir;
  const std::string crate = CompileExample(dir.path, "crate.obj", false, false);
  EXPECT_EQ(JsonOf({"json", crate}, dir.path), json::parse(R"({
    "kind": "static", "flipUVs": false, "bytes": 2338, "textureCount": 3,
    "bounds": {"min": [-0.5, -0.5, -0.5], "max": [0.5, 0.5, 0.5]},
    "meshes": [{"vertices": 24, "indices": 36,
                "textures": [{"path": "crate_diffuse.png", "type": 1}, {"path": "crate_normal.png", "type": 5},
                             {"path": "crate_specular.png", "type": 2}],
                "bounds": {"min": [-0.5, -0.5, -0.5], "max": [0.5, 0.5, 0.5]},
                "acmr": 2.0, "atvr": 1.0, "overfetch": 1.0}]})"));

  const std::string walker = CompileExample(dir.path, "walker.gltf", true, false);
  EXPECT_EQ(JsonOf({"json", walker}, dir.path), json::parse(R"({
    "kind": "animated", "flipUVs": false, "bytes": 1744, "textureCount": 0,
    "bounds": {"min": [-0.5, 0.0, 0.0], "max": [0.5, 2.6, 0.0]},
    "meshes": [{"vertices": 4, "indices": 6, "textures": [],
                "bounds": {"min": [-0.5, 0.0, 0.0], "max": [0.5, 2.0, 0.0]},
                "acmr": 2.0, "atvr": 1.0, "overfetch": 1.0909091},
               {"vertices": 3, "indices": 3, "textures": [],
                "bounds": {"min": [-0.3, 2.0, 0.0], "max": [0.3, 2.6, 0.0]},
                "acmr": 3.0, "atvr": 1.0, "overfetch": 1.2121212}],
    "animation": {"duration": 1000.0, "ticksPerSecond": 1000.0, "keys": 15, "animationBytes": 1060,
                  "nodes": 6, "depth": 4,
                  "tracks": [{"name": "Head", "id": 0, "positionKeys": 1, "rotationKeys": 1, "scaleKeys": 3},
                             {"name": "Spine", "id": 1, "positionKeys": 1, "rotationKeys": 3, "scaleKeys": 1},
                             {"name": "Hip", "id": 2, "positionKeys": 3, "rotationKeys": 1, "scaleKeys": 1}],
                  "boneInfo": [{"name": "Head", "id": 2}, {"name": "Hip", "id": 0},
                               {"name": "Spine", "id": 1}]}})"));
}

template <typename Array>
void ExpectSameFloats(const json& values, const Array& expected, const std::string& where) {
  ASSERT_EQ(values.size(), expected.size()) << where;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(static_cast<float>(values[i].get<double>()), expected[i]) << where << "[" << i << "]";
  }
}

// Every number of --full reads back as the very float the reader gives.
TEST(InspectJson, FullHoldsEveryVertexIndexKeyAndMatrix) {
  ScratchDir dir;
  const std::string walker = CompileExample(dir.path, "walker.gltf", true, false);
  varndel::Model model;
  ASSERT_TRUE(varndel::ReadModelFile((dir.path / walker).string(), model));
  const json doc = JsonOf({"json", "--full", walker}, dir.path);

  ASSERT_EQ(doc["meshes"].size(), model.meshes.size());
  for (size_t m = 0; m < model.meshes.size(); ++m) {
    const json& mesh = doc["meshes"][m];
    const varndel::MeshData& expected = model.meshes[m];
    EXPECT_EQ(mesh["indexData"].get<std::vector<uint32_t>>(), expected.indices);
    ASSERT_EQ(mesh["vertexData"].size(), expected.vertices.size());
    for (size_t v = 0; v < expected.vertices.size(); ++v) {
      const json& vertex = mesh["vertexData"][v];
      const varndel::Vertex& e = expected.vertices[v];
      const std::string where = "mesh " + std::to_string(m) + " vertex " + std::to_string(v);
      ExpectSameFloats(vertex["position"], e.position, where);
      ExpectSameFloats(vertex["normal"], e.normal, where);
      ExpectSameFloats(vertex["texCoords"], e.texCoords, where);
      ExpectSameFloats(vertex["tangent"], e.tangent, where);
      ExpectSameFloats(vertex["bitangent"], e.bitangent, where);
      ExpectSameFloats(vertex["weights"], e.weights, where);
      EXPECT_EQ(vertex["boneIDs"].get<std::vector<int32_t>>(),
                std::vector<int32_t>(e.boneIDs.begin(), e.boneIDs.end()));
    }
  }
  const json& animation = doc["animation"];
  ASSERT_EQ(animation["hierarchy"].size(), model.animation.nodes.size());
  for (size_t n = 0; n < model.animation.nodes.size(); ++n) {
    const varndel::Node& node = model.animation.nodes[n];
    EXPECT_EQ(animation["hierarchy"][n]["name"], node.name);
    EXPECT_EQ(animation["hierarchy"][n]["parent"], node.parent);
    EXPECT_EQ(animation["hierarchy"][n]["children"], node.childCount);
    ExpectSameFloats(animation["hierarchy"][n]["transformation"], node.transformation, node.name);
  }
  ASSERT_EQ(animation["tracks"].size(), model.animation.tracks.size());
  for (size_t t = 0; t < model.animation.tracks.size(); ++t) {
    const varndel::Track& track = model.animation.tracks[t];
    const json& keys = animation["tracks"][t];
    EXPECT_EQ(keys["scaleMaxTime"].get<double>(), track.scaleMaxTime);
    ASSERT_EQ(keys["rotations"].size(), track.rotations.size());
    for (size_t k = 0; k < track.rotations.size(); ++k) {
      EXPECT_EQ(keys["rotations"][k]["time"].get<double>(), track.rotations[k].timeStamp);
      ExpectSameFloats(keys["rotations"][k]["value"], track.rotations[k].orientation, track.name);
    }
    ASSERT_EQ(keys["positions"].size(), track.positions.size());
    ASSERT_EQ(keys["scales"].size(), track.scales.size());
  }
  ASSERT_EQ(animation["boneInfo"].size(), model.animation.boneInfos.size());
  for (size_t b = 0; b < model.animation.boneInfos.size(); ++b) {
    ExpectSameFloats(animation["boneInfo"][b]["offset"], model.animation.boneInfos[b].offset, "offset");
  }
}

TEST(InspectJson, NamesThatAreNotUtf8AndNonFiniteNumbersStayValidJson) {
  ScratchDir dir;
  ModelContainer mc = SkinnedQuadModel();
  mc.rootNode.children[0].name =
      "H\xfc"
      "fte";  // Latin-1 u-umlaut: not UTF-8
  mc.bones[0].m_Name =
      "H\xc3\xbc"
      "fte\n";  // UTF-8 u-umlaut and a control character
  mc.meshes[0].textures["\xff.png"] = 1;
  mc.meshes[0].vertices[0].position[1] = std::numeric_limits<float>::quiet_NaN();
  mc.animDuration = std::numeric_limits<float>::infinity();
  WriteModel(dir.path / "m.bin", mc);

  const json doc = JsonOf({"json", "--full", "m.bin"}, dir.path);
  const json& track = doc["animation"]["tracks"][0];
  EXPECT_EQ(track["name"],
            "H\xc3\xbc"
            "fte\n");
  EXPECT_FALSE(track.contains("nameHex"));
  const json& node = doc["animation"]["hierarchy"][1];
  EXPECT_EQ(node["name"],
            "H\xef\xbf\xbd"
            "fte");  // U+FFFD in place of the byte
  EXPECT_EQ(node["nameHex"], "48fc667465");
  EXPECT_EQ(doc["meshes"][0]["textures"][0],
            json::parse(R"({"path": "\ufffd.png", "pathHex": "ff2e706e67", "type": 1})"));
  EXPECT_EQ(doc["meshes"][0]["vertexData"][0]["position"], json::parse("[0.0, null, 0.0]"));
  EXPECT_EQ(doc["animation"]["duration"], nullptr);
  // The box leaves the non-finite position out; the vertex count keeps it.
  EXPECT_EQ(doc["meshes"][0]["bounds"], json::parse(R"({"min": [0.0, 0.0, 0.0], "max": [1.0, 1.0, 0.0]})"));
}

TEST(InspectInfo, AnimatedExampleSummary) {
  ScratchDir dir;
  const std::string walker = CompileExample(dir.path, "walker.gltf", true, false);
  const RunResult run = RunInspect({"info", walker}, dir.path);
  EXPECT_EQ(run.out,
            "file      walker.animbin\n"
            "kind      animated\n"
            "flipUVs   no\n"
            "size      1744 bytes\n"
            "textures  0 distinct paths\n"
            "meshes    2\n"
            "bounds    min (-0.5, 0, 0)  max (0.5, 2.6, 0)\n"
            "mesh 0    4 vertices, 6 indices, 2 triangles, 0 texture entries\n"
            "  bounds  min (-0.5, 0, 0)  max (0.5, 2, 0)\n"
            "  gpu     ACMR 2.000, ATVR 1.000, overfetch 1.091\n"
            "mesh 1    3 vertices, 3 indices, 1 triangle, 0 texture entries\n"
            "  bounds  min (-0.3, 2, 0)  max (0.3, 2.6, 0)\n"
            "  gpu     ACMR 3.000, ATVR 1.000, overfetch 1.212\n"
            "animation\n"
            "  duration  1000 ticks, 1 s at 1000 ticks/s\n"
            "  keys      15, animation sections 1060 bytes\n"
            "  nodes     6, depth 4\n"
            "  tracks    3\n"
            "    0 'Head' id 0: 1 position, 1 rotation, 3 scale keys\n"
            "    1 'Spine' id 1: 1 position, 3 rotation, 1 scale keys\n"
            "    2 'Hip' id 2: 3 position, 1 rotation, 1 scale keys\n"
            "  bone info 3 entries\n"
            "    'Head' id 2\n"
            "    'Hip' id 0\n"
            "    'Spine' id 1\n");
  EXPECT_EQ(run.exitCode, 0);
}

TEST(InspectInfo, EmptyMeshTexturesAndMissingTickRate) {
  ScratchDir dir;
  ModelContainer mc = SkinnedQuadModel();
  mc.TicksPerSecond = 0;
  mc.meshes[0].textures["tex\\a\x01.png"] = 6;
  mc.meshes.emplace_back();
  mc.loadedTextures = {"tex\\a\x01.png"};
  WriteModel(dir.path / "m.bin", mc);
  const RunResult run = RunInspect({"info", "m.bin"}, dir.path);
  EXPECT_NE(run.out.find("textures  1 distinct path\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  texture 'tex\\a\\x01.png' type 6 (normals)\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("mesh 1    0 vertices, 0 indices, 0 triangles, 0 texture entries\n"
                         "  bounds  none (no finite positions)\n"
                         "  gpu     no figures (no whole triangles, or an index out of range)\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  duration  10 ticks, 0.4 s at 25 ticks/s (the file gives 0, played as 25)\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  nodes     2, depth 2\n"), std::string::npos) << run.out;
}

// The GPU figures: overdraw only when asked for, null where a mesh has no
// figure; the LOD level from the file name.
TEST(InspectJson, GpuFiguresAndTheLodLevel) {
  ScratchDir dir;
  ModelContainer mc = QuadModel();
  mc.meshes.push_back(mc.meshes[0]);
  mc.meshes[1].indices[4] = 7;  // past the vertices
  mc.meshes.push_back(mc.meshes[0]);
  mc.meshes[2].vertices[3].position[0] = std::numeric_limits<float>::infinity();
  WriteModel(dir.path / "quad.lod2.staticbin", mc);
  const auto figures = [](const json& mesh) {
    json picked = json::object();
    for (const char* key : {"acmr", "atvr", "overfetch", "overdraw"}) {
      if (mesh.contains(key)) picked[key] = mesh[key];
    }
    return picked;
  };
  json doc = JsonOf({"json", "quad.lod2.staticbin"}, dir.path);
  EXPECT_EQ(doc["lod"], 2);
  EXPECT_EQ(figures(doc["meshes"][0]), json::parse(R"({"acmr": 2.0, "atvr": 1.0, "overfetch": 1.0909091})"));
  EXPECT_EQ(figures(doc["meshes"][1]), json::parse(R"({"acmr": null, "atvr": null, "overfetch": null})"));
  for (const char* flag : {"--stats", "--full"}) {
    SCOPED_TRACE(flag);
    doc = JsonOf({"json", flag, "quad.lod2.staticbin"}, dir.path);
    EXPECT_EQ(figures(doc["meshes"][0]),
              json::parse(R"({"acmr": 2.0, "atvr": 1.0, "overfetch": 1.0909091, "overdraw": 1.0})"));
    EXPECT_EQ(figures(doc["meshes"][1]),
              json::parse(R"({"acmr": null, "atvr": null, "overfetch": null, "overdraw": null})"));
    EXPECT_EQ(figures(doc["meshes"][2])["overdraw"], nullptr);
  }
  fs::rename(dir.path / "quad.lod2.staticbin", dir.path / "quad.staticbin");
  EXPECT_FALSE(JsonOf({"json", "quad.staticbin"}, dir.path).contains("lod"));
  const RunResult info = RunInspect({"info", "--stats", "quad.staticbin"}, dir.path);
  EXPECT_NE(info.out.find("  gpu     ACMR 2.000, ATVR 1.000, overfetch 1.091, overdraw 1.000\n"
                          "mesh 1 "),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("overdraw unknown (a position is not finite)\n"), std::string::npos) << info.out;
  EXPECT_EQ(info.out.find("\nlod "), std::string::npos) << info.out;
}

// info and json take their figures from the view: bounds streamed out of the
// vertex block and the GPU figures over copied indices and positions. On a
// file image at an odd address, so that every block is unaligned, they agree
// with AnalyzeMesh and the positions of the meshes ReadModel gives, mesh by
// mesh: overlapping triangles, an index past the vertices, a count that is no
// multiple of 3, a NaN position, an empty mesh.
TEST(InspectJson, ViewFiguresAgreeWithTheModelsOnUnalignedBlocks) {
  varndel::Model model;
  const auto vertex = [](float x, float y, float z) {
    varndel::Vertex v;
    v.position = {x, y, z};
    return v;
  };
  varndel::MeshData fan;  // 24 triangles around one centre, each over the last
  fan.textures = {{"odd.png", 1}};
  fan.vertices.push_back(vertex(0, 0, 0));
  for (int i = 0; i < 25; ++i) fan.vertices.push_back(vertex(std::cos(i * 0.5f), std::sin(i * 0.5f), i * 0.1f));
  for (uint32_t i = 1; i < 25; ++i) fan.indices.insert(fan.indices.end(), {0, i, i + 1});
  model.meshes.push_back(fan);
  varndel::MeshData pastTheEnd = fan;
  pastTheEnd.indices.back() = 26;
  model.meshes.push_back(pastTheEnd);
  varndel::MeshData ragged = fan;
  ragged.indices.pop_back();
  model.meshes.push_back(ragged);
  varndel::MeshData notFinite = fan;
  notFinite.vertices[3].position[1] = std::numeric_limits<float>::quiet_NaN();
  model.meshes.push_back(notFinite);
  model.meshes.emplace_back();
  model.textureCount = 1;

  const std::string image = varndel::WriteModel(model);
  const std::string shifted = "?" + image;
  varndel::MappedModel view;
  ASSERT_TRUE(view.Open(shifted.data() + 1, image.size()));
  ASSERT_EQ(view.meshes().size(), model.meshes.size());
  const auto unaligned = [](const void* block) { return reinterpret_cast<uintptr_t>(block) % 4 != 0; };
  EXPECT_TRUE(unaligned(view.meshes()[0].vertexData()));
  EXPECT_TRUE(unaligned(view.meshes()[0].indexData()));

  for (size_t m = 0; m < model.meshes.size(); ++m) {
    SCOPED_TRACE("mesh " + std::to_string(m));
    const varndel::MeshData& mesh = model.meshes[m];
    inspect::Box expected;
    for (const varndel::Vertex& v : mesh.vertices) expected.Add(v.position);
    const inspect::Box box = inspect::MeshBounds(view.meshes()[m]);
    EXPECT_EQ(box.empty, expected.empty);
    EXPECT_EQ(box.min, expected.min);
    EXPECT_EQ(box.max, expected.max);
    for (const bool overdraw : {false, true}) {
      const varndel::MeshStats want = varndel::AnalyzeMesh(mesh, overdraw);
      const varndel::MeshStats got = inspect::AnalyzeMappedMesh(view.meshes()[m], overdraw);
      EXPECT_EQ(got.valid, want.valid);
      EXPECT_EQ(got.acmr, want.acmr);
      EXPECT_EQ(got.atvr, want.atvr);
      EXPECT_EQ(got.overfetch, want.overfetch);
      EXPECT_EQ(got.hasOverdraw, want.hasOverdraw);
      EXPECT_EQ(got.overdraw, want.overdraw);
      EXPECT_EQ(got.overdrawWork, want.overdrawWork);
    }
  }
  // The table is what it says: figures for the fan alone, overdraw for it.
  EXPECT_TRUE(varndel::AnalyzeMesh(model.meshes[0], true).hasOverdraw);
  EXPECT_GT(varndel::AnalyzeMesh(model.meshes[0], true).overdraw, 1.0f);
  EXPECT_FALSE(varndel::AnalyzeMesh(model.meshes[1], false).valid);
  EXPECT_FALSE(varndel::AnalyzeMesh(model.meshes[2], false).valid);
  EXPECT_TRUE(varndel::AnalyzeMesh(model.meshes[3], true).valid);
  EXPECT_FALSE(varndel::AnalyzeMesh(model.meshes[3], true).hasOverdraw);
}

TEST(InspectCommandLine, UsageErrorsAndUnreadableFilesExit2) {
  ScratchDir dir;
  WriteModel(dir.path / "m.bin", QuadModel());
  WriteFile(dir.path / "junk.bin", "\x02junk");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"bogus"},
      {"info"},
      {"info", "--nope", "m.bin"},
      {"json"},
      {"json", "m.bin", "m.bin"},
      {"check"},
      {"diff", "m.bin"},
      {"diff", "--limit", "x", "m.bin", "m.bin"},
      {"info", "missing.bin"},
      {"info", "junk.bin"},
      {"json", "missing.bin"},
      {"json", "junk.bin"},
      {"diff", "m.bin", "junk.bin"},
      {"diff", "missing.bin", "m.bin"},
  };
  for (const std::vector<std::string>& args : cases) {
    std::string joined;
    for (const std::string& arg : args) joined += arg + " ";
    SCOPED_TRACE(joined);
    const RunResult run = RunInspect(args, dir.path);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err, "");
  }
  EXPECT_EQ(RunInspect({"json", "junk.bin"}, dir.path).err,
            "varndel-inspect: json: junk.bin: offset 0, IsAnimatedModel: is 2 but must be 0 or 1\n");
  EXPECT_EQ(RunInspect({"info", "missing.bin"}, dir.path).err,
            "varndel-inspect: info: cannot open 'missing.bin': no such file\n");
}

TEST(InspectCommandLine, HelpAndVersionGoToStdout) {
  ScratchDir dir;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"info", "--help"}, {"json", "-h"}, {"check", "--help"}, {"diff", "--help"}}) {
    const RunResult run = RunInspect(args, dir.path);
    EXPECT_EQ(run.exitCode, 0) << args[0];
    EXPECT_NE(run.out.find("sage"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
  // The version, then those of the libraries that decide the figures.
  const std::string version = RunInspect({"--version"}, dir.path).out;
  EXPECT_EQ(version.substr(0, version.find('\n') + 1), "varndel-inspect 1.1.0\n");
  EXPECT_NE(version.find("\nAssimp 5."), std::string::npos) << version;
  EXPECT_NE(version.find("\nmeshoptimizer 0."), std::string::npos) << version;
}

TEST(InspectCommandLine, ColourOnlyOnATerminalWithoutNoColor) {
  EXPECT_TRUE(inspect::ColourWanted(true, nullptr));
  EXPECT_TRUE(inspect::ColourWanted(true, ""));
  EXPECT_FALSE(inspect::ColourWanted(true, "1"));
  EXPECT_FALSE(inspect::ColourWanted(false, nullptr));
  EXPECT_EQ(inspect::Palette{true}.Red("error"), "\033[31merror\033[0m");
  EXPECT_EQ(inspect::Palette{false}.Red("error"), "error");
}

}  // namespace
