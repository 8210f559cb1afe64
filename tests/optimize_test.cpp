// The writer (byte-identical round trips of every compiled example and
// fixture), the GPU-order step (lossless for rendering), LOD chains, and
// varndel-opt and varndel-edge --optimize against each other.
#include <gtest/gtest.h>
#include <varndel/optimize.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "opt/files.h"
#include "reader/file_access.h"
#include "tests/test_support.h"

namespace {

RunResult RunOpt(const std::vector<std::string>& args, const fs::path& cwd) {
  return RunProcess(VARNDEL_OPT_EXE, args, cwd);
}

bool IsModelSource(const fs::path& path) {
  std::string extension = path.extension().string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".obj" || extension == ".gltf" || extension == ".bvh";
}

// Every example and fixture model, compiled static and animated by the real
// binary (the runs that succeed), once for the whole suite.
const std::vector<fs::path>& CompiledFiles() {
  static const ScratchDir* dir = new ScratchDir;  // kept for the whole run
  static const std::vector<fs::path> files = [] {
    std::vector<fs::path> compiled;
    int source = 0;
    for (const fs::path& tree : {fs::path(VARNDEL_EXAMPLES), fs::path(VARNDEL_FIXTURES)}) {
      const fs::path copy = dir->path / std::to_string(source++);
      fs::copy(tree, copy, fs::copy_options::recursive);
      std::vector<fs::path> models;
      for (const auto& entry : fs::recursive_directory_iterator(copy)) {
        if (entry.is_regular_file() && IsModelSource(entry.path())) models.push_back(entry.path());
      }
      std::sort(models.begin(), models.end());
      for (const fs::path& model : models) {
        for (const char* animated : {"0", "1"}) {
          const std::string name = model.stem().string() + "_" + animated;
          if (RunVarndel({animated, "0", model.string(), name}, copy).exitCode != 0) continue;
          compiled.push_back(model.parent_path() / (name + (animated[0] == '1' ? ".animbin" : ".staticbin")));
        }
      }
    }
    return compiled;
  }();
  return files;
}

varndel::Model ReadOrFail(const fs::path& path) {
  varndel::Model model;
  varndel::ReadError error;
  EXPECT_TRUE(varndel::ReadModelFile(path.string(), model, &error)) << path << ": " << varndel::FormatReadError(error);
  return model;
}

std::string RecordOf(const varndel::Vertex& vertex) {
  return std::string(reinterpret_cast<const char*>(&vertex), sizeof vertex);
}

// What rendering sees of a mesh: its triangles, each as its three vertex
// records in corner order (rotated to start at the smallest, which keeps the
// winding), sorted; and the set of distinct vertex records.
struct Rendered {
  std::vector<std::string> triangles;
  std::set<std::string> records;
  bool operator==(const Rendered& other) const { return triangles == other.triangles && records == other.records; }
};

Rendered RenderedOf(const varndel::MeshData& mesh) {
  Rendered rendered;
  for (size_t i = 0; i + 2 < mesh.indices.size(); i += 3) {
    std::string corners[3];
    for (int c = 0; c < 3; ++c) corners[c] = RecordOf(mesh.vertices.at(mesh.indices[i + c]));
    const int first = int(std::min_element(corners, corners + 3) - corners);
    rendered.triangles.push_back(corners[first] + corners[(first + 1) % 3] + corners[(first + 2) % 3]);
  }
  std::sort(rendered.triangles.begin(), rendered.triangles.end());
  for (const varndel::Vertex& vertex : mesh.vertices) rendered.records.insert(RecordOf(vertex));
  return rendered;
}

// Checks that optimised keeps what original renders, that no two vertices
// are equal, and that the vertices no triangle uses come last.
void ExpectLossless(const varndel::Model& original, const varndel::Model& optimised) {
  ASSERT_EQ(optimised.meshes.size(), original.meshes.size());
  for (size_t m = 0; m < original.meshes.size(); ++m) {
    SCOPED_TRACE("mesh " + std::to_string(m));
    const varndel::MeshData& before = original.meshes[m];
    const varndel::MeshData& after = optimised.meshes[m];
    EXPECT_TRUE(RenderedOf(after) == RenderedOf(before));
    EXPECT_EQ(after.indices.size(), before.indices.size());
    EXPECT_EQ(RenderedOf(after).records.size(), after.vertices.size()) << "a vertex record is left twice";
    uint32_t used = 0;
    for (const uint32_t index : after.indices) used = std::max(used, index + 1);
    std::set<uint32_t> distinct(after.indices.begin(), after.indices.end());
    EXPECT_EQ(distinct.size(), used) << "an unused vertex sits among the used ones";
  }
  // Nothing but the meshes' vertices and indices changes.
  varndel::Model a = original, b = optimised;
  a.meshes.clear();
  b.meshes.clear();
  EXPECT_EQ(varndel::WriteModel(a), varndel::WriteModel(b));
}

float Acmr(const varndel::MeshData& mesh) { return varndel::AnalyzeMesh(mesh, false).acmr; }

// A skinned grid of n x n quads as an unwelded import leaves it: three
// records per triangle, the triangles in a scattered order; bones change
// along x so that welding must keep the skin apart. Three unused vertices
// follow, one of them a copy of a used one.
varndel::Model SkinnedGrid(int n) {
  varndel::Model model;
  model.animated = true;
  model.animation.duration = 10;
  model.animation.ticksPerSecond = 25;
  model.animation.nodes = {{"Root", {}, -1, 1}, {"Hip", {}, 0, 1}, {"Spine", {}, 1, 0}};
  model.animation.tracks.push_back({"Spine", 1, {{{0, 1, 0}, 0}}, {{{0, 0, 0, 1}, 0}}, {{{1, 1, 1}, 0}}, 0, 0, 0});
  model.animation.boneInfos = {{"Hip", 0, {}}, {"Spine", 1, {}}};
  varndel::MeshData& mesh = model.meshes.emplace_back();
  const auto corner = [n](int x, int y) {
    varndel::Vertex v;
    v.position = {float(x), float(y), float((x * y) % 3)};
    v.normal = {0, 0, 1};
    v.texCoords = {float(x) / n, float(y) / n};
    v.tangent = {1, 0, 0};
    v.bitangent = {0, 1, 0};
    const float w = float(x) / n;
    v.boneIDs = {0, 1, -1, -1};
    v.weights = {1 - w, w, 0, 0};
    if (x % 4 == 0) v.boneIDs = {1, 0, -1, -1}, v.weights = {w, 1 - w, 0, 0};  // same influences, other slots
    return v;
  };
  const int quads = n * n;
  for (int k = 0; k < quads; ++k) {
    const int q = int((int64_t(k) * 7919) % quads);  // scattered, each quad once (7919 is prime)
    const int x = q % n, y = q / n;
    for (const auto& [cx, cy] : {std::pair{x, y}, {x + 1, y}, {x + 1, y + 1}, {x, y}, {x + 1, y + 1}, {x, y + 1}}) {
      mesh.indices.push_back(uint32_t(mesh.vertices.size()));
      mesh.vertices.push_back(corner(cx, cy));
    }
  }
  mesh.vertices.push_back(corner(-5, -5));
  mesh.vertices.push_back(corner(0, 0));
  mesh.vertices.push_back(corner(-5, -5));
  return model;
}

TEST(Writer, GivesBackTheBytesOfEveryCompiledExampleAndFixture) {
  ASSERT_GE(CompiledFiles().size(), 10u);
  for (const fs::path& file : CompiledFiles()) {
    const varndel::Model model = ReadOrFail(file);
    EXPECT_TRUE(varndel::WriteModel(model) == ReadFile(file)) << file;
  }
}

TEST(Writer, RefusesACountItsFieldCannotHold) {
  varndel::Model model = SkinnedGrid(1);
  model.animation.tracks.resize(256);
  EXPECT_THROW(varndel::WriteModel(model), std::length_error);
  model = SkinnedGrid(1);
  model.meshes[0].textures.push_back({std::string(70000, 'x'), 1});
  try {
    varndel::WriteModel(model);
    ADD_FAILURE() << "a 70000-byte path was written";
  } catch (const std::length_error& e) {
    EXPECT_STREQ(e.what(), "meshes[0].textures[0].path: 70000 does not fit its 16-bit field");
  }
}

TEST(Optimize, KeepsWhatEveryCompiledFileRenders) {
  for (const fs::path& file : CompiledFiles()) {
    SCOPED_TRACE(file.string());
    const varndel::Model original = ReadOrFail(file);
    varndel::Model optimised = original;
    EXPECT_EQ(varndel::OptimizeModel(optimised), std::vector<std::string>{});
    ExpectLossless(original, optimised);
    for (size_t m = 0; m < original.meshes.size(); ++m) {
      if (original.meshes[m].indices.empty()) continue;
      EXPECT_LE(Acmr(optimised.meshes[m]), Acmr(original.meshes[m]) * 1.0001f) << "mesh " << m;
    }
    // The order is a fixed point of the step.
    varndel::Model again = optimised;
    varndel::OptimizeModel(again);
    EXPECT_EQ(varndel::WriteModel(again), varndel::WriteModel(optimised));
  }
}

TEST(Optimize, WeldsAndOrdersASkinnedMeshWithoutLosingAVertexRecord) {
  const varndel::Model original = SkinnedGrid(24);
  for (const bool overdraw : {true, false}) {
    SCOPED_TRACE(overdraw ? "with overdraw order" : "without overdraw order");
    varndel::Model optimised = original;
    varndel::OptimizeOptions options;
    options.overdraw = overdraw;
    EXPECT_EQ(varndel::OptimizeModel(optimised, options), std::vector<std::string>{});
    ExpectLossless(original, optimised);
    const varndel::MeshData& mesh = optimised.meshes[0];
    // 25 x 25 corners, the x = 0, 4, ... columns (other slot order) apart
    // from nothing: each corner is one record; plus one unused record.
    EXPECT_EQ(mesh.vertices.size(), 25u * 25u + 1u);
    EXPECT_EQ(RecordOf(mesh.vertices.back()), RecordOf(original.meshes[0].vertices.back()));
    EXPECT_FLOAT_EQ(Acmr(original.meshes[0]), 3.0f);
    EXPECT_LT(Acmr(mesh), 0.8f);
  }
}

// A tube in ring order: already better for a 16-entry FIFO than either
// order the optimiser computes, so the step keeps it.
varndel::MeshData Tube(int segments, int rings) {
  varndel::MeshData mesh;
  for (int r = 0; r <= rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      varndel::Vertex v;
      const double a = 6.283185307 * s / segments;
      v.position = {float(std::cos(a)), 0.3f * float(r), float(std::sin(a))};
      mesh.vertices.push_back(v);
    }
  }
  for (int r = 0; r < rings; ++r) {
    for (int s = 0; s < segments; ++s) {
      const uint32_t a = uint32_t(r * segments + s), b = uint32_t(r * segments + (s + 1) % segments);
      mesh.indices.insert(mesh.indices.end(), {a, b, a + segments, b, b + segments, a + segments});
    }
  }
  return mesh;
}

TEST(Optimize, NeverRaisesTheCacheMissesOfAMesh) {
  for (const int rings : {3, 7}) {
    for (const bool overdraw : {true, false}) {
      SCOPED_TRACE(std::to_string(rings) + " rings" + (overdraw ? ", overdraw order" : ""));
      varndel::Model model;
      model.meshes.push_back(Tube(6, rings));
      const varndel::Model original = model;
      varndel::OptimizeOptions options;
      options.overdraw = overdraw;
      varndel::OptimizeModel(model, options);
      EXPECT_LE(Acmr(model.meshes[0]), Acmr(original.meshes[0]));
      ExpectLossless(original, model);
      varndel::LodOptions lod;
      lod.ratio = 1.0f;
      lod.overdraw = overdraw;
      EXPECT_LE(Acmr(varndel::BuildLod(original, lod).model.meshes[0]), Acmr(original.meshes[0]));
    }
  }
}

TEST(Optimize, LeavesMeshesItCannotOrderAsTheyAreWithAWarning) {
  struct Case {
    const char* what;
    void (*damage)(varndel::MeshData&);
    const char* warning;  // "" for none
    bool unchanged;
  };
  const Case cases[] = {
      {"index count not a multiple of 3", [](varndel::MeshData& m) { m.indices.pop_back(); },
       "mesh 0: left as it is: its 5 indices are not a multiple of 3", true},
      {"index past the vertices", [](varndel::MeshData& m) { m.indices[4] = 9; },
       "mesh 0: left as it is: index 4 is 9, past its 6 vertices", true},
      {"no triangles", [](varndel::MeshData& m) { m.indices.clear(); }, "", true},
      {"a NaN position",
       [](varndel::MeshData& m) { m.vertices[5].position[0] = std::numeric_limits<float>::quiet_NaN(); },
       "mesh 0: not ordered for overdraw: it has a NaN or infinite position", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    varndel::Model model;
    varndel::MeshData& mesh = model.meshes.emplace_back();
    for (int i = 0; i < 6; ++i) {
      mesh.vertices.emplace_back().position = {float(i % 3), float(i / 3), 0};
      mesh.indices.push_back(uint32_t(i));
    }
    c.damage(mesh);
    const varndel::Model original = model;
    const std::vector<std::string> warnings = varndel::OptimizeModel(model);
    EXPECT_EQ(warnings, *c.warning ? std::vector<std::string>{c.warning} : std::vector<std::string>{});
    if (c.unchanged) {
      EXPECT_EQ(varndel::WriteModel(model), varndel::WriteModel(original));
    } else {
      ExpectLossless(original, model);
    }
  }
}

TEST(Lod, EachLevelKeepsAtMostItsShareOrSaysWhy) {
  varndel::Model base = SkinnedGrid(40);
  varndel::OptimizeModel(base);
  for (const float ratio : {0.5f, 0.25f, 0.01f}) {
    SCOPED_TRACE(ratio);
    varndel::LodOptions options;
    options.ratio = ratio;
    const varndel::LodLevel level = varndel::BuildLod(base, options);
    const varndel::MeshData& mesh = level.model.meshes[0];
    const size_t target = size_t(double(base.meshes[0].indices.size() / 3) * ratio) * 3;
    if (mesh.indices.size() > target) {
      ASSERT_EQ(level.warnings.size(), 1u);
      EXPECT_NE(level.warnings[0].find("mesh 0: keeps " + std::to_string(mesh.indices.size()) + " of "),
                std::string::npos)
          << level.warnings[0];
    } else {
      EXPECT_EQ(level.warnings, std::vector<std::string>{});
    }
    EXPECT_LT(mesh.indices.size(), base.meshes[0].indices.size());
    EXPECT_LE(level.errors[0], options.targetError);
    // Compact: every vertex used, each one a record of the base mesh.
    EXPECT_EQ(std::set<uint32_t>(mesh.indices.begin(), mesh.indices.end()).size(), mesh.vertices.size());
    const std::set<std::string> records = RenderedOf(base.meshes[0]).records;
    for (const varndel::Vertex& vertex : mesh.vertices) EXPECT_EQ(records.count(RecordOf(vertex)), 1u);
    // The animation sections are those of the base.
    varndel::Model a = base, b = level.model;
    a.meshes.clear();
    b.meshes.clear();
    EXPECT_EQ(varndel::WriteModel(a), varndel::WriteModel(b));
  }
}

// Copies of one large triangle: the simplifier's work and the overdraw's
// pixel tests grow past their budgets, and each says so instead of running.
TEST(Lod, SimplifierAndOverdrawWorkIsBounded) {
  varndel::MeshData mesh;
  for (const varndel::Vec3& p : {varndel::Vec3{0, 0, 0}, varndel::Vec3{10, 0, 0}, varndel::Vec3{0, 10, 0}}) {
    varndel::Vertex v;
    v.position = p;
    mesh.vertices.push_back(v);
  }
  for (int copy = 0; copy < 40000; ++copy) mesh.indices.insert(mesh.indices.end(), {0, 1, 2});
  const varndel::MeshStats stats = varndel::AnalyzeMesh(mesh, true);
  EXPECT_TRUE(stats.valid);
  EXPECT_FALSE(stats.hasOverdraw);
  EXPECT_GT(stats.overdrawWork, varndel::kOverdrawWorkBudget);

  varndel::Model model;
  model.meshes.push_back(mesh);
  const varndel::LodLevel level = varndel::BuildLod(model, {});
  ASSERT_EQ(level.warnings.size(), 1u);
  EXPECT_EQ(level.warnings[0].rfind("mesh 0: copied whole: its vertices are shared by too many triangles", 0), 0u)
      << level.warnings[0];
  EXPECT_EQ(level.model.meshes[0].indices, mesh.indices);

  mesh.indices.resize(30);  // ten copies: measured as before
  EXPECT_TRUE(varndel::AnalyzeMesh(mesh, true).hasOverdraw);
}

TEST(Lod, FileNames) {
  EXPECT_EQ(varndel::LodPath("out/crate.staticbin", 1, false), "out/crate.lod1.staticbin");
  EXPECT_EQ(varndel::LodPath("a.b/walker", 12, true), "a.b/walker.lod12.animbin");
  EXPECT_EQ(varndel::LodLevelOf("out/crate.lod2.staticbin"), 2u);
  EXPECT_EQ(varndel::LodLevelOf("C:\\m\\walker.lod10.animbin"), 10u);
  for (const char* none : {"crate.staticbin", "lod1.staticbin", "crate.lod.staticbin", "crate.lod0.staticbin",
                           "crate.lodx.staticbin", "x.lod1/crate.staticbin"}) {
    EXPECT_EQ(varndel::LodLevelOf(none), 0u) << none;
  }
}

// varndel-opt on a compiled file: the library's bytes, verified files that
// check passes and render draws, and the levels named by their file names.
TEST(VarndelOpt, WritesTheOptimisedFileAndItsLevels) {
  ScratchDir dir;
  const varndel::Model grid = SkinnedGrid(40);
  WriteFile(dir.path / "grid.animbin", varndel::WriteModel(grid));
  fs::create_directories(dir.path / "out");
  // Two levels that differ (at 0.25 the target error stops the simplifier
  // where it stops at 0.5, which would end the chain).
  const RunResult run = RunOpt({"grid.animbin", "-o", "out/grid.animbin", "--lod", "0.75", "--lod", "0.5"}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("lod1: out/grid.lod1.animbin: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("lod2: out/grid.lod2.animbin: "), std::string::npos) << run.out;
  EXPECT_EQ(ReadFile(dir.path / "grid.animbin"), varndel::WriteModel(grid)) << "the input changed";

  varndel::Model expected = grid;
  varndel::OptimizeModel(expected);
  EXPECT_TRUE(ReadFile(dir.path / "out/grid.animbin") == varndel::WriteModel(expected));
  varndel::LodOptions half;
  EXPECT_TRUE(ReadFile(dir.path / "out/grid.lod2.animbin") ==
              varndel::WriteModel(varndel::BuildLod(expected, half).model));

  for (const char* level : {"out/grid.lod1.animbin", "out/grid.lod2.animbin"}) {
    SCOPED_TRACE(level);
    const RunResult check = RunProcess(VARNDEL_INSPECT_EXE, {"check", level}, dir.path);
    EXPECT_EQ(check.exitCode, 0) << check.out;
    const RunResult render =
        RunProcess(VARNDEL_INSPECT_EXE, {"render", level, "-o", "lod.png", "--size", "64x64"}, dir.path);
    EXPECT_EQ(render.exitCode, 0) << render.err;
    EXPECT_GT(fs::file_size(dir.path / "lod.png"), 100u);
    fs::remove(dir.path / "lod.png");
  }
  const RunResult info = RunProcess(VARNDEL_INSPECT_EXE, {"info", "out/grid.lod2.animbin"}, dir.path);
  EXPECT_NE(info.out.find(TextMode("\nlod       2\n")), std::string::npos) << info.out;
  std::vector<std::string> leftovers;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path)) {
    if (entry.path().extension() == ".tmp") leftovers.push_back(entry.path().string());
  }
  EXPECT_EQ(leftovers, std::vector<std::string>{});
}

TEST(VarndelOpt, UsageAndUnreadableInputs) {
  ScratchDir dir;
  WriteFile(dir.path / "grid.staticbin", [] {
    varndel::Model model = SkinnedGrid(2);
    model.animated = false;
    model.animation = {};
    return varndel::WriteModel(model);
  }());
  WriteFile(dir.path / "broken.staticbin", "\x02");
  WriteFile(dir.path / "crate.obj", "mtllib crate.mtl\nv 0 0 0\n");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* err;  // a part of stderr
  };
  const Case cases[] = {
      {{"--help"}, 0, ""},
      {{}, 2, "IN is required"},
      {{"missing.staticbin"}, 2, "no such file"},
      {{"broken.staticbin"}, 2, "broken.staticbin: offset 0, IsAnimatedModel: is 2 but must be 0 or 1"},
      {{"crate.obj"}, 2, "crate.obj: not a compiled model file (.staticbin, .animbin): it looks like a Wavefront OBJ"},
      {{"grid.staticbin", "--lod", "0"}, 2, "the ratio must be above 0"},
      {{"grid.staticbin", "--lod", "1.5"}, 2, "--lod"},
      {{"grid.staticbin", "--lod", "x"}, 2, "--lod"},
      {{"grid.staticbin", "--lod", "nan"}, 2, "--lod nan: the ratio must be a number above 0 and at most 1"},
      {{"grid.lod1.staticbin", "-o", "grid.staticbin", "--lod", "0.5"}, 2, "would overwrite the input"},
      {{"grid.staticbin", "-o", "no/such/dir/out.staticbin"}, 1, "cannot create"},
  };
  fs::copy_file(dir.path / "grid.staticbin", dir.path / "grid.lod1.staticbin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + " ... " + c.args.back());
    const RunResult run = RunOpt(c.args, dir.path);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
  EXPECT_NE(RunOpt({"--help"}, dir.path).out.find("Usage"), std::string::npos);
  const std::string version = RunOpt({"--version"}, dir.path).out;
  EXPECT_EQ(version.substr(0, version.find('\n') + 1), TextMode("varndel-opt 1.1.0\n"));
  EXPECT_NE(version.find("\nAssimp 5."), std::string::npos) << version;
  EXPECT_NE(version.find("\nmeshoptimizer 0."), std::string::npos) << version;
  EXPECT_EQ(version.back(), '\n');
  EXPECT_EQ(version.find("\n\n"), std::string::npos) << version;
  // The help states the range that is enforced.
  EXPECT_NE(RunOpt({"--help"}, dir.path).out.find("in (0, 1]"), std::string::npos);
  // Without -o the result goes beside the input, which stays; -o may name the input.
  const std::string input = ReadFile(dir.path / "grid.staticbin");
  ASSERT_EQ(RunOpt({"grid.staticbin"}, dir.path).exitCode, 0);
  EXPECT_EQ(ReadFile(dir.path / "grid.staticbin"), input);
  const std::string optimised = ReadFile(dir.path / "grid.opt.staticbin");
  EXPECT_NE(optimised, input);
  ASSERT_EQ(RunOpt({"grid.staticbin", "-o", "grid.staticbin"}, dir.path).exitCode, 0);
  EXPECT_EQ(ReadFile(dir.path / "grid.staticbin"), optimised);
}

// varndel-edge --optimize --lod: the bytes of Varndel then varndel-opt.
// A level that cannot be written leaves nothing of the run behind: no
// output, no other level, no temporary, the input untouched; and whatever
// blocked it stays.
TEST(VarndelOpt, WritesEveryFileOfARunOrNone) {
  ScratchDir dir;
  // A grid large enough for two different levels (a level that repeats the
  // one before ends the chain instead of being written).
  const std::string input = varndel::WriteModel(SkinnedGrid(40));
  WriteFile(dir.path / "o.animbin", input);
  for (const char* stem : {"o", "p"}) {  // a level's name taken by a directory
    fs::create_directories(dir.path / (std::string(stem) + ".lod2.animbin") / "inside");
  }
  for (const char* output : {"p", "o"}) {
    SCOPED_TRACE(output);
    const RunResult result = RunOpt(
        {"o.animbin", "-o", std::string(output) + ".animbin", "--lod", "0.75", "--lod", "0.5"}, dir.path);
    EXPECT_EQ(result.exitCode, 1) << result.out;
    EXPECT_NE(result.err.find("cannot write " + std::string(output) + ".lod2.animbin: "), std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(dir.path)) entries.push_back(entry.path().filename().string());
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"o.animbin", "o.lod2.animbin", "p.lod2.animbin"}));
    EXPECT_TRUE(ReadFile(dir.path / "o.animbin") == input);
    EXPECT_TRUE(fs::exists(dir.path / (std::string(output) + ".lod2.animbin") / "inside"));
  }
}

#ifndef _WIN32
// An output that is a link is replaced by the file; the link's target is
// not written.
TEST(VarndelOpt, NeverWritesThroughALink) {
  ScratchDir dir;
  WriteFile(dir.path / "o.animbin", varndel::WriteModel(SkinnedGrid(4)));
  WriteFile(dir.path / "victim", "keep me");
  fs::create_symlink(dir.path / "victim", dir.path / "q.animbin");
  const RunResult run = RunOpt({"o.animbin", "-o", "q.animbin"}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(dir.path / "victim"), "keep me");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path / "q.animbin")));
}

// A run ended by SIGINT or SIGTERM removes the temporaries it registered.
TEST(VarndelOpt, AnInterruptRemovesTheTemporaries) {
  ScratchDir dir;
  for (const int signal : {SIGINT, SIGTERM}) {
    const fs::path path = dir.path / ("partial" + std::to_string(signal));
    const int status = RunInChild(
        [&] {
          std::string temporary;
          std::FILE* file = varndel::file_access::CreateUniqueFile(path.string(), ".tmp", temporary);
          if (file == nullptr) return 1;
          std::fclose(file);
          varndel::file_access::RemoveOnInterrupt(temporary);
          std::raise(signal);
          return 2;
        },
        size_t(1) << 30);
    EXPECT_EQ(status, 128 + signal) << DescribeChildStatus(status);
    EXPECT_TRUE(fs::is_empty(dir.path));
  }
}
#endif

TEST(VarndelOpt, TheEdgeWritesTheBytesOfVarndelThenVarndelOpt) {
  ScratchDir dir;
  fs::copy(fs::path(VARNDEL_EXAMPLES), dir.path / "root", fs::copy_options::recursive);
  for (const auto& [animated, model, extension] :
       {std::tuple{"0", "crate.obj", ".staticbin"}, {"1", "assets/characters/walker.gltf", ".animbin"}}) {
    SCOPED_TRACE(model);
    const std::string stem = fs::path(model).stem().string();
    const RunResult edge = RunProcess(VARNDEL_EDGE_EXE,
                                      {"--optimize", "--lod", "0.5", animated, "0", (dir.path / "root").string(), model,
                                       "edge/" + stem + extension, "log"},
                                      dir.path);
    ASSERT_EQ(edge.exitCode, 0) << edge.err;
    ASSERT_EQ(RunVarndel({animated, "0", model}, dir.path / "root").exitCode, 0);
    const fs::path compiled = (dir.path / "root" / model).parent_path() / (stem + extension);
    fs::create_directories(dir.path / "opt");
    const RunResult opt =
        RunOpt({compiled.string(), "-o", (dir.path / "opt" / (stem + extension)).string(), "--lod", "0.5"}, dir.path);
    ASSERT_EQ(opt.exitCode, 0) << opt.err;
    for (const std::string& name : {stem + extension, stem + ".lod1" + extension}) {
      EXPECT_TRUE(ReadFile(dir.path / "edge" / name) == ReadFile(dir.path / "opt" / name)) << name;
    }
    EXPECT_NE(ReadFile(dir.path / "log" / "lods.txt").find("lod1: "), std::string::npos);
  }
  // A report that cannot be written fails the model, which leaves no output.
  fs::create_directories(dir.path / "blocked" / "lods.txt" / "inside");
  const RunResult blocked = RunProcess(VARNDEL_EDGE_EXE,
                                       {"--optimize", "--lod", "0.5", "0", "0", (dir.path / "root").string(),
                                        "crate.obj", "out/crate.staticbin", "blocked"},
                                       dir.path);
  EXPECT_NE(blocked.exitCode, 0);
  EXPECT_NE(blocked.err.find("lods.txt"), std::string::npos) << blocked.err;
  EXPECT_FALSE(fs::exists(dir.path / "out" / "crate.staticbin"));
  EXPECT_FALSE(fs::exists(dir.path / "out" / "crate.lod1.staticbin"));
  for (const std::vector<std::string>& flags : {std::vector<std::string>{"--lod", "0.5"},
                                                {"--optimize", "--lod", "0"},
                                                {"--optimize", "--lod", "x"},
                                                {"--fast"}}) {
    std::vector<std::string> args = flags;
    for (const char* positional : {"0", "0", "root", "crate.obj", "bad/crate.staticbin", "log"})
      args.push_back(positional);
    const RunResult run = RunProcess(VARNDEL_EDGE_EXE, args, dir.path);
    EXPECT_EQ(run.exitCode, 2) << flags[0] << " " << flags.back();
    EXPECT_FALSE(fs::exists(dir.path / "bad"));
  }
}

}  // namespace

// The crate's faces meet at UV and normal seams: the simplifier cannot
// remove a triangle at any ratio. varndel-opt writes one level and ends the
// chain instead of writing identical files; the build step, whose levels
// are declared outputs, writes them all and says so.
TEST(VarndelOpt, EndsTheLodChainWhereALevelWouldRepeatTheOneBefore) {
  ScratchDir dir;
  fs::copy_file(fs::path(VARNDEL_EXAMPLES) / "crate.obj", dir.path / "crate.obj");
  ASSERT_EQ(RunVarndel({"0", "0", "crate.obj"}, dir.path).exitCode, 0);
  const RunResult run = RunOpt({"crate.staticbin", "--lod", "0.5", "--lod", "0.25", "--lod", "0.1"}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(fs::exists(dir.path / "crate.opt.lod1.staticbin"));
  EXPECT_FALSE(fs::exists(dir.path / "crate.opt.lod2.staticbin"));
  EXPECT_FALSE(fs::exists(dir.path / "crate.opt.lod3.staticbin"));
  EXPECT_NE(run.err.find("lod2: ratio 0.25 gives the same file as lod1"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the chain stops here, and lod2 and the levels after it are not written"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("lod2: mesh"), std::string::npos) << "no warnings of a level not written\n" << run.err;
  EXPECT_EQ(run.out.find("lod2"), std::string::npos) << run.out;

  // Two such meshes: one warning line with the count, each mesh's under --verbose.
  varndel::Model model = ReadOrFail(dir.path / "crate.staticbin");
  varndel::Model twice = model;
  twice.meshes.push_back(twice.meshes[0]);
  WriteFile(dir.path / "twice.staticbin", varndel::WriteModel(twice));
  const RunResult summary = RunOpt({"twice.staticbin", "--lod", "0.5"}, dir.path);
  EXPECT_NE(summary.err.find("warning: lod1: 2 meshes: no further edge can be collapsed"), std::string::npos)
      << summary.err;
  EXPECT_EQ(summary.err.find("mesh 0"), std::string::npos) << summary.err;
  const RunResult verbose = RunOpt({"twice.staticbin", "--lod", "0.5", "--verbose"}, dir.path);
  EXPECT_NE(verbose.err.find("warning: lod1: mesh 0: keeps 36 of 36 indices"), std::string::npos) << verbose.err;
  EXPECT_NE(verbose.err.find("warning: lod1: mesh 1: keeps 36 of 36 indices"), std::string::npos) << verbose.err;

  // Declared outputs: every level is written, the repeat named.
  std::ostringstream report;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(WriteLodFiles(model, (dir.path / "edge.staticbin").string(), LodRequest{{0.5f, 0.25f}, true}, report,
                            warnings, error))
      << error;
  EXPECT_EQ(ReadFile(dir.path / "edge.lod1.staticbin"), ReadFile(dir.path / "edge.lod2.staticbin"));
  EXPECT_NE(std::find(warnings.begin(), warnings.end(),
                      "lod2: ratio 0.25 gives the same file as lod1: the simplifier gets no further within the "
                      "target error"),
            warnings.end());
}
