// varndel-inspect check: one damaged or suspicious file per defect, with the
// exact finding line and exit code; grouping; unreadable files.
#include <varndel/mapped.h>

#include <cmath>
#include <limits>

#include "inspect/report.h"
#include "tests/inspect_support.h"

namespace {

// The places tried for the missing 'tex\\gone.png', the extracted textures
// last. Windows takes '/' and '\\' as one separator, so there each place is
// tried once.
#ifdef _WIN32
const std::string kTriedGone = "'tex\\gone.png', 'm.textures\\gone.png'";
const std::string kTriedGoneInModels =
    "'tex\\gone.png', 'models\\tex\\gone.png', 'models\\m.textures\\gone.png'";
#else
const std::string kTriedGone = "'tex/gone.png', 'tex\\gone.png', 'm.textures/gone.png'";
const std::string kTriedGoneInModels =
    "'tex/gone.png', 'models/tex/gone.png', 'tex\\gone.png', 'models/tex\\gone.png', 'models/m.textures/gone.png'";
#endif

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct DefectCase {
  const char* what;
  bool animated;
  void (*damage)(ModelContainer&);
  std::string finding;  // the one line after "error: m.bin: " or "warning: m.bin: "
  int exitCode;
};

TEST(InspectCheck, EachDefectGivesItsLine) {
  const DefectCase cases[] = {
      {"index past the vertex count", false, [](ModelContainer& mc) { mc.meshes[0].indices[4] = 7; },
       "error: m.bin: mesh 0 index 4: 7 is at or past the vertex count 4", 1},
      {"index equal to the vertex count", false, [](ModelContainer& mc) { mc.meshes[0].indices[0] = 4; },
       "error: m.bin: mesh 0 index 0: 4 is at or past the vertex count 4", 1},
      {"NaN position", false, [](ModelContainer& mc) { mc.meshes[0].vertices[2].position[0] = kNaN; },
       "error: m.bin: mesh 0 vertex 2 position: not finite (nan, 1, 0)", 1},
      {"infinite positions, grouped", false,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[1].position[2] = -kInf;
         mc.meshes[0].vertices[3].position[1] = kInf;
       },
       "error: m.bin: mesh 0 vertex 1 position: not finite (1, 0, -inf) (and 1 more vertex: 3)", 1},
      {"bone slot without bone-info entry", true,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[1].boneIDs = {0, 3, -1, -1};
         mc.meshes[0].vertices[1].weights = {0.5f, 0.5f, 0, 0};
       },
       "error: m.bin: mesh 0 vertex 1 boneIDs: slot 1 names bone 3, which has no bone-info entry", 1},
      {"index count not a multiple of 3", false, [](ModelContainer& mc) { mc.meshes[0].indices.push_back(1); },
       "warning: m.bin: mesh 0: 7 indices is not a multiple of 3 (points or lines survived triangulation)", 0},
      {"triangle repeating a corner", false, [](ModelContainer& mc) { mc.meshes[0].indices[5] = 2; },
       "warning: m.bin: mesh 0 triangle 1: degenerate: a corner repeats (indices 0, 2, 2)", 0},
      {"triangle of zero area", false,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[2].position = {2, 0, 0};
       },
       "warning: m.bin: mesh 0 triangle 0: degenerate: zero area (indices 0, 1, 2)", 0},
      {"zero normal", false,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[0].normal = {0, 0, 0};
       },
       "warning: m.bin: mesh 0 vertex 0 normal: zero", 0},
      {"normal not of unit length", false,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[3].normal = {0, 0, 2};
       },
       "warning: m.bin: mesh 0 vertex 3 normal: (0, 0, 2) has length 2, not 1 within 1e-3", 0},
      {"normal just within 1e-3", false,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[3].normal = {0, 0, 1.0009f};
       },
       "", 0},
      {"weights summing to less than 1", true, [](ModelContainer& mc) { mc.meshes[0].vertices[2].weights[0] = 0.5f; },
       "warning: m.bin: mesh 0 vertex 2 weights: sum 0.5 is not 1 within 1e-3", 0},
      {"four slots taken, weights short of 1", true,
       [](ModelContainer& mc) {
         for (int32_t id : {1, 2, 3}) mc.boneInfoMap["B" + std::to_string(id)] = BoneInfo{id, {}};
         mc.meshes[0].vertices[0].boneIDs = {0, 1, 2, 3};
         mc.meshes[0].vertices[0].weights = {0.25f, 0.25f, 0.25f, 0.125f};
       },
       "warning: m.bin: mesh 0 vertex 0 weights: sum 0.875 is not 1 within 1e-3; all four slots are taken, so "
       "influences beyond four may have been dropped",
       0},
      {"vertex without influence in a skinned mesh", true,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[3].boneIDs = {-1, -1, -1, -1};
         mc.meshes[0].vertices[3].weights = {0, 0, 0, 0};
       },
       "warning: m.bin: mesh 0 vertex 3: no bone influence in a skinned mesh", 0},
      {"several skinned meshes: bone numbers are per model, so one map serves all", true,
       [](ModelContainer& mc) { mc.meshes.push_back(mc.meshes[0]); }, "", 0},
      {"track naming no node", true, [](ModelContainer& mc) { mc.bones[0].m_Name = "Ghost"; },
       "warning: m.bin: track 'Ghost': names no node of the hierarchy", 0},
      {"keys out of time order", true, [](ModelContainer& mc) { mc.bones[0].m_Positions[2].timeStamp = 4; },
       "warning: m.bin: track 'Hip' position key 2: time 4 is before the previous key's 5", 0},
      {"key past the duration", true, [](ModelContainer& mc) { mc.bones[0].m_Rotations[2].timeStamp = 12; },
       "warning: m.bin: track 'Hip' rotation key 2: time 12 is past the duration 10", 0},
      {"key time not a number", true, [](ModelContainer& mc) { mc.bones[0].m_Scales[1].timeStamp = kNaN; },
       "warning: m.bin: track 'Hip' scale key 1: time is not a number", 0},
      {"missing texture", false, [](ModelContainer& mc) { mc.meshes[0].textures["tex\\gone.png"] = 1; },
       "warning: m.bin: mesh 0 texture 'tex\\gone.png': file not found; tried " + kTriedGone, 0},
      {"static file: bone slots mean nothing", false,
       [](ModelContainer& mc) {
         mc.meshes[0].vertices[0].boneIDs = {9, -1, -1, -1};
       },
       "", 0},
  };
  for (const DefectCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    ModelContainer mc = c.animated ? SkinnedQuadModel() : QuadModel();
    c.damage(mc);
    WriteModel(dir.path / "m.bin", mc);
    const RunResult run = RunInspect({"check", "m.bin"}, dir.path);
    const bool error = c.finding.rfind("error", 0) == 0;
    const std::string summary = c.finding.empty() ? "checked 1 file: 0 errors, 0 warnings\n"
                                : error           ? "checked 1 file: 1 error, 0 warnings\n"
                                                  : "checked 1 file: 0 errors, 1 warning\n";
    EXPECT_EQ(run.out, (c.finding.empty() ? "" : c.finding + "\n") + summary);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, c.exitCode);

    // check reads through the view; the report judges a Model. Same lines.
    const std::string file = (dir.path / "m.bin").string();
    varndel::Model model;
    varndel::MappedModel view;
    ASSERT_TRUE(varndel::ReadModelFile(file, model));
    ASSERT_TRUE(view.Open(file));
    const auto lines = [&file](const std::vector<inspect::Finding>& findings) {
      std::string text;
      for (const inspect::Finding& finding : findings) text += inspect::FormatFinding(finding, file, {}) + "\n";
      return text;
    };
    EXPECT_EQ(lines(inspect::CheckModel(model, file)), lines(inspect::CheckModel(view, file)));
  }
}

TEST(InspectCheck, RepeatedFindingsGiveOneLineWithCountAndFirstPositions) {
  ScratchDir dir;
  ModelContainer mc = QuadModel();
  mc.meshes[0].indices.assign(300000, 9);  // 100000 triangles, each out of range
  for (Vertex& vertex : mc.meshes[0].vertices) vertex.normal = {0, 0, 0};
  WriteModel(dir.path / "m.bin", mc);
  const RunResult run = RunInspect({"check", "m.bin"}, dir.path);
  EXPECT_EQ(run.out,
            "error: m.bin: mesh 0 index 0: 9 is at or past the vertex count 4 (and 299999 more indices: 1, 2, 3, 4, "
            "...)\n"
            "warning: m.bin: mesh 0 triangle 0: degenerate: a corner repeats (indices 9, 9, 9) (and 99999 more "
            "triangles: 1, 2, 3, 4, ...)\n"
            "warning: m.bin: mesh 0 vertex 0 normal: zero (and 3 more vertices: 1, 2, 3)\n"
            "checked 1 file: 1 error, 2 warnings\n");
  EXPECT_EQ(run.exitCode, 1);
}

TEST(InspectCheck, TexturesResolveAgainstWorkingAndFileDirectory) {
  ScratchDir dir;
  fs::create_directories(dir.path / "models" / "tex");
  fs::create_directories(dir.path / "shared");
  WriteFile(dir.path / "models" / "tex" / "wood.png", "png");
  WriteFile(dir.path / "shared" / "stone.png", "png");
  ModelContainer mc = QuadModel();
  mc.meshes[0].textures = {{"tex\\wood.png", 1}, {"shared/stone.png", 2}, {"tex\\gone.png", 6}};
  mc.meshes.push_back(mc.meshes[0]);
  mc.loadedTextures = {"tex\\wood.png", "shared/stone.png", "tex\\gone.png"};
  WriteModel(dir.path / "models" / "m.bin", mc);
  const RunResult run = RunInspect({"check", "models/m.bin"}, dir.path);
  // One line for the path, naming every mesh that uses it.
  EXPECT_EQ(run.out, "warning: models/m.bin: mesh 0 texture 'tex\\gone.png': file not found; tried " +
                         kTriedGoneInModels +
                         " (and 1 more mesh: 1)\n"
                         "checked 1 file: 0 errors, 1 warning\n");
  EXPECT_EQ(run.exitCode, 0);
}

TEST(InspectCheck, ErrorsComeFirstAndNamesAreEscaped) {
  ScratchDir dir;
  ModelContainer mc = SkinnedQuadModel();
  mc.bones[0].m_Name = "Sp\x1b[31mine\xff";  // a terminal escape and a byte that is not UTF-8
  mc.meshes[0].indices[1] = 40;
  WriteModel(dir.path / "m.bin", mc);
  const RunResult run = RunInspect({"check", "m.bin"}, dir.path);
  EXPECT_EQ(run.out,
            "error: m.bin: mesh 0 index 1: 40 is at or past the vertex count 4\n"
            "warning: m.bin: track 'Sp\\x1b[31mine\\xff': names no node of the hierarchy\n"
            "checked 1 file: 1 error, 1 warning\n");
  EXPECT_EQ(run.exitCode, 1);
}

TEST(InspectCheck, UnreadableFilesExit2AndTheRestIsStillChecked) {
  ScratchDir dir;
  std::string image = ModelImage(QuadModel());
  WriteFile(dir.path / "cut.bin", image.substr(0, 100));
  ModelContainer bad = QuadModel();
  bad.meshes[0].indices[0] = 5;
  WriteModel(dir.path / "bad.bin", bad);
  const RunResult run = RunInspect({"check", "cut.bin", "missing.bin", "bad.bin"}, dir.path);
  EXPECT_EQ(run.out,
            "error: cut.bin: offset 12, meshes[0].vertices: announces 4 vertices of 88 bytes each but only 84 bytes "
            "remain\n"
            "error: missing.bin: cannot open 'missing.bin': no such file\n"
            "error: bad.bin: mesh 0 index 0: 5 is at or past the vertex count 4\n"
            "checked 3 files: 1 error, 0 warnings, 2 unreadable\n");
  EXPECT_EQ(run.exitCode, 2);
}

}  // namespace
