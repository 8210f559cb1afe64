// The takes of a source file through varndel-edge: listing, selection, one
// file per take equal to the compile of the source with that take first,
// names that cannot escape or overwrite, clip files that drive the model's
// vertices, and the files of takes that are gone.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <nlohmann/json.hpp>
#include <set>

#include <varndel/player.h>
#include <varndel/reader.h>
#include <varndel/validate.h>

#include "edge/takes.h"
#include "model/model.h"
#include "tests/test_support.h"

namespace {

RunResult RunEdgeTool(const std::vector<std::string>& args, const fs::path& cwd) {
  return RunProcess(VARNDEL_EDGE_EXE, args, cwd);
}

std::set<std::string> FilesIn(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
  return names;
}

// Compiles root/model with the edge into out/<stem>.animbin, with extra
// options first.
RunResult CompileTakes(const fs::path& root, const std::string& model, const fs::path& out,
                       std::vector<std::string> options) {
  options.insert(options.end(), {"1", "0", root.string(), model,
                                 (out / fs::path(model).stem()).string() + ".animbin", (out / "log").string()});
  return RunEdgeTool(options, root);
}

// A glTF document with animations in the given order.
std::string Reordered(const std::string& gltf, const std::vector<size_t>& order) {
  nlohmann::json document = nlohmann::json::parse(gltf);
  nlohmann::json animations = nlohmann::json::array();
  for (const size_t i : order) animations.push_back(document["animations"][i]);
  document["animations"] = animations;
  return document.dump();
}

// root/takes.gltf, a copy of the fixture; returns its text.
std::string CopyTakesFixture(const fs::path& root) {
  fs::create_directories(root);
  const std::string gltf = ReadFile(FixturePath("takes.gltf"));
  WriteFile(root / "takes.gltf", gltf);
  return gltf;
}

bool PrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return c == '\n' || c == '\t' || c == '\r' || (c >= 0x20 && c < 0x7F);  // '\r': a text-mode line end
  });
}

TEST(Takes, ListsEachTakeQuotedWithItsTiming) {
  ScratchDir scratch;
  const RunResult text = RunEdgeTool({"--list-animations", FixturePath("takes.gltf").string()}, scratch.path);
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(text.out,
            TextMode("0 '': 1000 ticks (1 s) at 1000 ticks/s, 1 channel\n"
                     "1 'bend': 2000 ticks (2 s) at 1000 ticks/s, 1 channel\n"
                     "2 'bend': 500 ticks (0.5 s) at 1000 ticks/s, 1 channel\n"));
  const RunResult json =
      RunEdgeTool({"--list-animations", FixturePath("takes.gltf").string(), "--json"}, scratch.path);
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const nlohmann::json list = nlohmann::json::parse(json.out)["animations"];
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[1]["name"], "bend");
  EXPECT_EQ(list[2]["durationSeconds"], 0.5);
  EXPECT_EQ(list[2]["ticksPerSecond"], 1000.0);
  EXPECT_EQ(list[0]["channels"], 1);

  const RunResult missing = RunEdgeTool({"--list-animations", "no such.gltf"}, scratch.path);
  EXPECT_EQ(missing.exitCode, kExitFailure);
  EXPECT_NE(missing.err.find("'no such.gltf'"), std::string::npos) << missing.err;
  EXPECT_TRUE(FilesIn(scratch.path).empty());  // no log, nothing
}

// The file of take i is the compile of the source with take i moved first,
// byte for byte; names are a rule of the whole file.
TEST(Takes, EachTakeFileIsTheCompileOfTheSourceWithThatTakeFirst) {
  ScratchDir scratch;
  const fs::path root = scratch.path / "root";
  const std::string gltf = CopyTakesFixture(root);
  const fs::path out = scratch.path / "out";
  const RunResult run = CompileTakes(root, "takes.gltf", out, {"--animation", "all"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // '' has no name, and 'bend' is the name of two takes.
  EXPECT_EQ(FilesIn(out), (std::set<std::string>{"log", "takes.animbin", "takes.take0.animbin", "takes.take1.animbin",
                                                 "takes.take2.animbin", "takes.takes.txt"}));
  EXPECT_EQ(ReadFile(out / "takes.takes.txt"),
            "# take files of 'takes.gltf' (varndel-edge): file, take index, take name, kind\n"
            "takes.take0.animbin\t0\t''\tmodel\n"
            "takes.take1.animbin\t1\t'bend'\tmodel\n"
            "takes.take2.animbin\t2\t'bend'\tmodel\n");

  for (const std::vector<size_t>& order : {std::vector<size_t>{0, 1, 2}, {1, 0, 2}, {2, 0, 1}}) {
    SCOPED_TRACE("take " + std::to_string(order[0]));
    const fs::path direct = scratch.path / ("direct" + std::to_string(order[0]));
    fs::create_directories(direct);
    WriteFile(direct / "takes.gltf", Reordered(gltf, order));
    const RunResult reference = RunVarndel({"1", "0", "takes.gltf"}, direct);
    ASSERT_EQ(reference.exitCode, 0) << reference.out;
    EXPECT_EQ(ReadFile(out / ("takes.take" + std::to_string(order[0]) + ".animbin")),
              ReadFile(direct / "takes.animbin"));
  }
  EXPECT_EQ(ReadFile(out / "takes.animbin"), ReadFile(scratch.path / "direct0" / "takes.animbin"));
}

TEST(Takes, SelectsByIndexNamePatternAndAllAndRefusesASelectionOfNothing) {
  const std::vector<TakeInfo> takes{{"walk"}, {"run"}, {"walk_fast"}, {""}, {"3"}};
  struct Case {
    std::vector<std::string> selectors;
    std::vector<size_t> selected;
  };
  const Case cases[] = {
      {{"all"}, {0, 1, 2, 3, 4}},
      {{"1"}, {1}},
      {{"3"}, {3}},  // a digit string is an index, even where a take has it as its name
      {{"walk"}, {0}},
      {{"walk*"}, {0, 2}},
      {{"?un"}, {1}},
      {{"*"}, {0, 1, 2, 3, 4}},
      {{"run", "0", "walk"}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.selectors.front());
    EXPECT_EQ(SelectTakes(takes, c.selectors, "m.fbx"), c.selected);
  }
  for (const std::vector<std::string>& nothing :
       std::vector<std::vector<std::string>>{{"Walk"}, {"5"}, {"walk", "jump*"}}) {
    try {
      SelectTakes(takes, nothing, "m.fbx");
      ADD_FAILURE() << nothing.back() << " selected something";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("selects no take of 'm.fbx'; its takes:\n  0 'walk'\n  1 'run'\n"),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_TRUE(MatchesTakePattern("a*b*c", "axxbyyc"));
  EXPECT_FALSE(MatchesTakePattern("a*b*c", "axxbyy"));
  EXPECT_TRUE(MatchesTakePattern("?", "\xc3\xa9"));  // one character, two bytes

  // Through the tool: nothing written, the takes listed.
  ScratchDir scratch;
  fs::create_directories(scratch.path / "root");
  fs::copy_file(FixturePath("takes.gltf"), scratch.path / "root" / "takes.gltf");
  const RunResult run = CompileTakes(scratch.path / "root", "takes.gltf", scratch.path / "out", {"--animation", "Run"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find(TextMode("--animation 'Run' selects no take of 'takes.gltf'; its takes:\n  0 ''\n  1 'bend'\n  2 'bend'")),
            std::string::npos)
      << run.err;
  EXPECT_EQ(FilesIn(scratch.path / "out"), std::set<std::string>{"log"});
}

// Untrusted names: none leaves the output directory, reaches the terminal
// raw or takes another take's file.
TEST(Takes, HostileNamesStayInTheOutputDirectoryAndNeverShareAFile) {
  const std::vector<std::string> names{"../x",           "/abs", "C:\\x", std::string(300, 'n'), "\x1b[31mred\x07",
                                       "caf\xe9 latin-1", "",     "x",     "take6",               "nul"};
  nlohmann::json gltf = nlohmann::json::parse(ReadFile(FixturePath("takes.gltf")));
  const nlohmann::json animation = gltf["animations"][1];
  gltf["animations"] = nlohmann::json::array();
  ScratchDir scratch;
  const fs::path root = scratch.path / "root";
  fs::create_directories(root);
  std::string text = gltf.dump();
  // nlohmann writes only UTF-8, so the names go in as placeholders.
  std::string animations;
  for (size_t i = 0; i < names.size(); ++i) {
    nlohmann::json take = animation;
    take["name"] = "@" + std::to_string(i) + "@";
    animations += (i ? "," : "") + take.dump();
  }
  text.replace(text.find("\"animations\":[]"), 15, "\"animations\":[" + animations + "]");
  for (size_t i = 0; i < names.size(); ++i) {
    std::string escaped;
    for (const char c : names[i]) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
      escaped += c == '\\' ? "\\\\" : static_cast<unsigned char>(c) < 0x20 ? code : std::string(1, c);
    }
    const std::string placeholder = "@" + std::to_string(i) + "@";
    text.replace(text.find(placeholder), placeholder.size(), escaped);
  }
  WriteFile(root / "hostile.gltf", text);

  const RunResult list = RunEdgeTool({"--list-animations", "hostile.gltf"}, root);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_TRUE(PrintableAscii(list.out.substr(0, 400))) << list.out;
  EXPECT_NE(list.out.find("4 '\\x1b[31mred\\x07'"), std::string::npos) << list.out;
  const RunResult json = RunEdgeTool({"--list-animations", "hostile.gltf", "--json"}, root);
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const nlohmann::json listed = nlohmann::json::parse(json.out)["animations"];  // well-formed UTF-8
  EXPECT_EQ(listed[5]["nameHex"], "636166e9206c6174696e2d31");  // "caf\xe9 latin-1"
  EXPECT_EQ(listed[4]["name"], "\x1b[31mred\x07");

  const fs::path out = scratch.path / "build" / "out";
  const RunResult run = CompileTakes(root, "hostile.gltf", out, {"--animation", "all"});
  // "take6" equals the file name of take 6, which has no name: both refuse,
  // named.
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find(TextMode("none is overwritten:\n  6 ''\n  8 'take6'")), std::string::npos) << run.err;
  EXPECT_EQ(FilesIn(out), std::set<std::string>{"log"});

  // Every other take, written: one file each in out, and nothing anywhere else.
  std::vector<std::string> options;
  for (const char* index : {"0", "1", "2", "3", "4", "5", "7", "9"}) options.insert(options.end(), {"--animation", index});
  const RunResult some = CompileTakes(root, "hostile.gltf", out, options);
  ASSERT_EQ(some.exitCode, 0) << some.err;
  const std::set<std::string> files = FilesIn(out);
  EXPECT_EQ(files.size(), 1 + 1 + 1 + 8u) << ::testing::PrintToString(files);  // log, model, record, takes
  for (const std::string& file : files) {
    EXPECT_LE(file.size(), 160u);
    EXPECT_TRUE(file == "log" || file.rfind("hostile.", 0) == 0) << file;
  }
  EXPECT_EQ(FilesIn(scratch.path), (std::set<std::string>{"build", "root"}));
  EXPECT_EQ(FilesIn(scratch.path / "build"), std::set<std::string>{"out"});
  EXPECT_EQ(FilesIn(root), std::set<std::string>{"hostile.gltf"});
  EXPECT_TRUE(PrintableAscii(ReadFile(out / "hostile.takes.txt")));
}

// A take that is no longer written (gone from the source, or no longer
// selected) takes its file along; the others stay.
TEST(Takes, ATakeThatIsGoneTakesItsFileAlong) {
  ScratchDir scratch;
  const fs::path root = scratch.path / "root";
  const std::string gltf = CopyTakesFixture(root);
  const fs::path out = scratch.path / "out";
  ASSERT_EQ(CompileTakes(root, "takes.gltf", out, {"--animation", "all"}).exitCode, 0);
  WriteFile(root / "takes.gltf", Reordered(gltf, {0, 1}));  // take 2 removed: 'bend' is a name of its own now
  const RunResult run = CompileTakes(root, "takes.gltf", out, {"--animation", "all"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(FilesIn(out), (std::set<std::string>{"log", "takes.animbin", "takes.take0.animbin", "takes.bend.animbin",
                                                 "takes.takes.txt"}));

  // A take once named "lod1" left a file that is a LOD file of this run:
  // the LOD file stays.
  nlohmann::json renamed = nlohmann::json::parse(gltf);
  renamed["animations"][1]["name"] = "lod1";
  WriteFile(root / "takes.gltf", renamed.dump());
  ASSERT_EQ(CompileTakes(root, "takes.gltf", out, {"--animation", "1"}).exitCode, 0);
  ASSERT_TRUE(fs::exists(out / "takes.lod1.animbin"));
  const RunResult lods = CompileTakes(root, "takes.gltf", out, {"--optimize", "--lod", "0.5", "--animation", "0"});
  ASSERT_EQ(lods.exitCode, 0) << lods.err;
  varndel::Model lod;
  ASSERT_TRUE(varndel::ReadModelFile((out / "takes.lod1.animbin").string(), lod));
  EXPECT_FALSE(fs::exists(out / "takes.bend.animbin"));
}

// A clip file holds no meshes but the whole animation, and a player prepared
// from it drives the model file's vertices as the model file's own player.
TEST(Takes, AClipFileDrivesTheModelFilesVerticesAsTheFullFileDoes) {
  ScratchDir scratch;
  const fs::path root = scratch.path / "root";
  fs::create_directories(root);
  fs::copy_file(ExamplePath("walker.gltf"), root / "walker.gltf");
  const fs::path out = scratch.path / "out";
  const RunResult run = CompileTakes(root, "walker.gltf", out, {"--animation", "0", "--clips-only"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string record = ReadFile(out / "walker.takes.txt");
  const std::string clipName = record.substr(record.find('\n') + 1, record.find('\t') - record.find('\n') - 1);
  EXPECT_NE(record.find("\tclip\n"), std::string::npos) << record;

  varndel::Model model, clip;
  ASSERT_TRUE(varndel::ReadModelFile((out / "walker.animbin").string(), model));
  ASSERT_TRUE(varndel::ReadModelFile((out / clipName).string(), clip));
  EXPECT_TRUE(clip.animated);
  EXPECT_TRUE(clip.meshes.empty());
  EXPECT_EQ(clip.textureCount, 0);
  ASSERT_FALSE(model.meshes.empty());
  for (const varndel::Finding& finding : varndel::ValidateModel(clip)) {
    EXPECT_NE(finding.severity, varndel::Severity::kError) << finding.message;
  }
  ASSERT_EQ(clip.animation.boneInfos.size(), model.animation.boneInfos.size());
  for (size_t b = 0; b < clip.animation.boneInfos.size(); ++b) {
    EXPECT_EQ(clip.animation.boneInfos[b].name, model.animation.boneInfos[b].name);
    EXPECT_EQ(clip.animation.boneInfos[b].id, model.animation.boneInfos[b].id);
    EXPECT_EQ(clip.animation.boneInfos[b].offset, model.animation.boneInfos[b].offset);
  }
  varndel::AnimationPlayer fromModel(model.animation), fromClip(clip.animation);
  ASSERT_EQ(fromClip.BoneCount(), fromModel.BoneCount());
  std::vector<varndel::Mat4> expected(fromModel.BoneCount()), actual(fromClip.BoneCount());
  for (const float ticks : {0.0f, 0.25f * model.animation.duration, 0.8f * model.animation.duration}) {
    fromModel.Evaluate(ticks, expected.data());
    fromClip.Evaluate(ticks, actual.data());
    EXPECT_EQ(actual, expected) << "at " << ticks;
    for (const varndel::MeshData& mesh : model.meshes) {
      std::vector<varndel::Vec3> byModel(mesh.vertices.size()), byClip(mesh.vertices.size());
      fromModel.SkinVertices(mesh, expected.data(), byModel.data(), nullptr);
      fromClip.SkinVertices(mesh, actual.data(), byClip.data(), nullptr);
      EXPECT_EQ(byClip, byModel);
    }
  }
}

// The reference of take k: a fresh import whose animations are rotated so
// that k comes first, through the compiler's conversion and serialisation.
// Run in the model's directory, as the edge runs the import in its asset root.
std::string ReferenceTakeImage(const fs::path& model, size_t k) {
  struct InDirectory {
    fs::path saved = fs::current_path();
    explicit InDirectory(const fs::path& directory) { fs::current_path(directory); }
    ~InDirectory() { fs::current_path(saved); }
  } in(model.parent_path());
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(model.filename().string(), ImportFlags(false));
  if (scene == nullptr || k >= scene->mNumAnimations) return "no scene";
  aiScene* owned = importer.GetOrphanedScene();
  std::unique_ptr<aiScene> holder(owned);
  std::rotate(owned->mAnimations, owned->mAnimations + k, owned->mAnimations + k + 1);
  const std::string path = model.filename().string();
  const char* argv[] = {"Varndel", "1", "0", path.c_str()};
  ModelContainer mc;
  if (ParseArguments(4, argv, mc) != kSuccess || ConvertScene(*owned, mc) != kSuccess) return "no conversion";
  std::string image;
  if (SerializeModel(mc, image) != kSuccess) return "no image";
  return image;
}

// Debian's Assimp test models with several animations: every take compiles
// with "all" and equals its reference.
TEST(Takes, EveryTakeOfTheCorpusEqualsItsReference) {
#ifdef _WIN32
  // Assimp's HL1 loader finds a model's companion files by POSIX paths alone.
  GTEST_SKIP() << "the corpus is Debian's package, compared on the Linux build";
#endif
  const fs::path hl1 = "/usr/share/assimp/models/MDL/MDL (HL1)";
  const fs::path corpus[] = {hl1 / "man.mdl",
                             hl1 / "duplicate_sequences.mdl",
                             hl1 / "sequence_transitions.mdl",
                             hl1 / "unnamed_sequences.mdl",
                             hl1 / "duplicate_sequence_groups/duplicate_sequence_groups.mdl",
                             hl1 / "unnamed_sequence_groups/unnamed_sequence_groups.mdl",
                             "/usr/share/assimp/models/X/Testwuson.X"};
  if (!fs::exists(corpus[0])) GTEST_SKIP() << "the Debian package assimp-testmodels is not installed";
  ScratchDir scratch;
  size_t total = 0;
  for (const fs::path& model : corpus) {
    SCOPED_TRACE(model.string());
    const fs::path out = scratch.path / model.stem();
    const RunResult run = RunEdgeTool({"--animation", "all", "1", "0", model.parent_path().string(),
                                       model.filename().string(), (out / "m.animbin").string(), (out / "log").string()},
                                      scratch.path);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string record = ReadFile(out / "m.takes.txt");
    std::istringstream lines(record);
    std::string line;
    std::getline(lines, line);  // the comment
    size_t k = 0;
    for (; std::getline(lines, line); ++k) {
      const std::string file = line.substr(0, line.find('\t'));
      EXPECT_EQ(line.substr(file.size() + 1, line.find('\t', file.size() + 1) - file.size() - 1), std::to_string(k));
      EXPECT_TRUE(ReadFile(out / file) == ReferenceTakeImage(model, k)) << "take " << k << " " << file;
    }
    EXPECT_EQ(k, ReadTakes(model.string()).size());
    total += k;
  }
  EXPECT_EQ(total, 52u);
}

}  // namespace
