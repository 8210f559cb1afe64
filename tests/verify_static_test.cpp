// The read-back of the header and mesh sections: the exact report for files
// that match, differ, or are cut short.
#include <cmath>

#include "tests/verify_helpers.h"

TEST(VerifyStatic, MatchingFilePrintsGucciReport) {
  const ModelContainer mc = StaticModel();
  const Report report = VerifyImage(mc, ImageOf(mc));
  EXPECT_FALSE(report.mismatch);
  EXPECT_EQ(report.text,
            "\n// TESTING READ BIN FILE...\n"
            "\033[31m\033[32m// - BIN FILE HEADER IS GUCCI\033[0m\n"
            "\033[31m"
            "\033[33mDEBUG: Current mesh vertices data OK.\033[0m\n"
            "\033[33mDEBUG: Current mesh indices data OK.\033[0m\n"
            "\033[33mDEBUG: Current mesh textures data OK.\033[0m\n"
            "\033[32m// - BIN FILE IS GUCCI GUCCI GUCCI\033[0m\n"
            "\033[0m");
  // The builder the other tests use agrees with the literal text.
  EXPECT_EQ(report.text, ExpectedReport().header().mesh().end());
}

TEST(VerifyStatic, HeaderMismatchTurnsEveryLaterStatusLine) {
  const ModelContainer mc = StaticModel();
  std::string image = ImageOf(mc);
  image[1] = 1;  // FlipUVs
  const Report report = VerifyImage(mc, image);
  EXPECT_TRUE(report.mismatch);
  EXPECT_EQ(report.text,
            "\n// TESTING READ BIN FILE...\n"
            "\033[31mMISMATCH!!! FlipUVs does not match! MC: 0 VS BIN: 1\n"
            "\033[31m"
            "\033[35mDEBUG: Current mesh vertices data DOES NOT MATCH.\033[0m\n"
            "\033[35mDEBUG: Current mesh indices data DOES NOT MATCH.\033[0m\n"
            "\033[35mDEBUG: Current mesh textures data DOES NOT MATCH.\033[0m\n"
            "\033[31m// - BIN FILE GOT PROBLEM!!!!!!!!!!!\033[0m\n"
            "\033[0m");
}

struct StaticCase {
  const char* name;
  // Applied before the file is written from `file`; `container` is what the
  // file is verified against.
  void (*change)(ModelContainer& file, ModelContainer& container);
  std::string header;
  std::vector<MeshLines> meshes;
};

TEST(VerifyStatic, ReportsEachDifference) {
  const StaticCase cases[] = {
      {"position 5e-7 off in every component",
       [](ModelContainer& f, ModelContainer&) {
         f.meshes[0].vertices[0].position = {0.5f + 5e-7f, 5e-7f, -5e-7f};
       },
       "",
       {{}}},
      {"position 2e-6 off in one component",
       [](ModelContainer& f, ModelContainer&) { f.meshes[0].vertices[0].position[0] = 0.5f + 2e-6f; },
       "",
       {{.vertices = "MISMATCH!!! vertex 0 position does not match! MC: 0.5,0,0 VS BIN: 0.500002,0,0\n"}}},
      {"NaN normal on both sides",
       [](ModelContainer& f, ModelContainer& c) {
         f.meshes[0].vertices[1].normal = c.meshes[0].vertices[1].normal = {kNaN, kNaN, kNaN};
       },
       "",
       {{}}},
      {"partly NaN normal on both sides",
       [](ModelContainer& f, ModelContainer& c) {
         f.meshes[0].vertices[1].normal = c.meshes[0].vertices[1].normal = {kNaN, 0, 0};
       },
       "",
       {{.vertices = "MISMATCH!!! vertex 1 normal does not match! MC: nan,0,0 VS BIN: nan,0,0\n"}}},
      {"every attribute of a vertex, in order, texCoords with trailing commas",
       [](ModelContainer& f, ModelContainer&) {
         Vertex& v = f.meshes[0].vertices[1];
         v.position[2] = 1e-7f;
         v.normal = {kNaN, kNaN, kNaN};
         v.texCoords[0] = 0.5f;
         v.tangent[0] = 0.333333333f;
         v.bitangent[1] = 1e6f;
       },
       "",
       {{.vertices = "MISMATCH!!! vertex 1 position does not match! MC: 1,2,3 VS BIN: 1,2,1e-07\n"
                     "MISMATCH!!! vertex 1 normal does not match! MC: 0,1,0 VS BIN: nan,nan,nan\n"
                     "MISMATCH!!! vertex 1 texCoords does not match! MC: 0.25,0.75, VS BIN: 0.5,0.75,\n"
                     "MISMATCH!!! vertex 1 tangent does not match! MC: 0,0,1 VS BIN: 0.333333,0,1\n"
                     "MISMATCH!!! vertex 1 bitangent does not match! MC: 1,0,0 VS BIN: 1,1e+06,0\n"}}},
      {"bone slots are not compared",
       [](ModelContainer& f, ModelContainer&) {
         f.meshes[0].vertices[0].boneIDs = {3, 1, -1, -1};
         f.meshes[0].vertices[0].weights = {0.5f, 0.5f, 0, 0};
       },
       "",
       {{}}},
      {"an index",
       [](ModelContainer& f, ModelContainer&) { f.meshes[0].indices[1] = 7; },
       "",
       {{.indices = "MISMATCH!!! index 1 does not match! MC: 1 VS BIN: 7\n"}}},
      {"a texture path one byte off: not found, type not compared",
       [](ModelContainer& f, ModelContainer&) {
         f.meshes[0].textures.erase("tex\\a.png");
         f.meshes[0].textures["tex\\a.pnG"] = 5;
       },
       "",
       {{.textures = "ERROR!!!!! could not find corresponding texture in MC container\n"}}},
      {"a texture type",
       [](ModelContainer& f, ModelContainer&) { f.meshes[0].textures["tex\\b.png"] = 6; },
       "",
       {{.textures = "MISMATCH!!! texTypeCheck does not match! MC: 2 VS BIN: 6\n"}}},
      {"the texture count of a mesh",
       [](ModelContainer& f, ModelContainer&) { f.meshes[0].textures["tex\\c.png"] = 1; },
       "",
       {{.textures = "MISMATCH!!! meshNumTex does not match! MC: 2 VS BIN: 3\n"
                     "ERROR!!!!! could not find corresponding texture in MC container\n"}}},
      {"IsAnimatedModel; the animation sections behind are ignored",
       [](ModelContainer& f, ModelContainer&) { f.isAnimatedModel = true; },
       "MISMATCH!!! IsAnimatedModel does not match! MC: 0 VS BIN: 1\n",
       {{}}},
      {"NumMeshes: only the container's meshes are read",
       [](ModelContainer& f, ModelContainer&) { f.meshes.push_back(f.meshes[0]); },
       "MISMATCH!!! NumMeshes does not match! MC: 1 VS BIN: 2\n",
       {{}}},
      {"NumTextures",
       [](ModelContainer& f, ModelContainer&) { f.loadedTextures.push_back("tex\\c.png"); },
       "MISMATCH!!! NumTextures does not match! MC: 2 VS BIN: 3\n",
       {{}}},
      {"more vertices in the file: the surplus is read, not compared",
       [](ModelContainer& f, ModelContainer&) { f.meshes[0].vertices.push_back(Vertex{}); },
       "",
       {{.vertices = "MISMATCH!!! meshNumVert does not match! MC: 2 VS BIN: 3\n"}}},
      {"fewer vertices and indices in the file: only those are compared",
       [](ModelContainer& f, ModelContainer&) {
         f.meshes[0].vertices.pop_back();
         f.meshes[0].indices = {0};
       },
       "",
       {{.vertices = "MISMATCH!!! meshNumVert does not match! MC: 2 VS BIN: 1\n",
         .indices = "MISMATCH!!! meshNumInd does not match! MC: 3 VS BIN: 1\n"}}},
      {"a problem in the first mesh carries into the second",
       [](ModelContainer& f, ModelContainer& c) {
         c.meshes.push_back(c.meshes[0]);
         f.meshes.push_back(f.meshes[0]);
         f.meshes[0].textures["tex\\a.png"] = 3;
       },
       "",
       {{.textures = "MISMATCH!!! texTypeCheck does not match! MC: 1 VS BIN: 3\n"}, {}}},
  };
  for (const StaticCase& c : cases) {
    ModelContainer file = StaticModel();
    ModelContainer container = StaticModel();
    c.change(file, container);
    ExpectedReport expected;
    expected.header(c.header);
    for (const MeshLines& lines : c.meshes) expected.mesh(lines);
    const Report report = VerifyImage(container, ImageOf(file));
    EXPECT_EQ(report.text, expected.end()) << c.name;
    EXPECT_EQ(report.mismatch, expected.problem) << c.name;
  }
}

TEST(VerifyStatic, MissingFileComparesAgainstZeros) {
  const ModelContainer mc = StaticModel();
  std::ostringstream out;
  ScratchDir dir;
  EXPECT_TRUE(VerifyModelFile((dir.path / "absent.staticbin").string(), mc, out));
  EXPECT_EQ(out.str(),
            "\n// TESTING READ BIN FILE...\n"
            "\033[31mERROR!!! Failed to open bin file!\n"
            "MISMATCH!!! NumMeshes does not match! MC: 1 VS BIN: 0\n"
            "MISMATCH!!! NumTextures does not match! MC: 2 VS BIN: 0\n"
            "\033[31mMISMATCH!!! meshNumVert does not match! MC: 2 VS BIN: 0\n"
            "\033[35mDEBUG: Current mesh vertices data DOES NOT MATCH.\033[0m\n"
            "MISMATCH!!! meshNumInd does not match! MC: 3 VS BIN: 0\n"
            "\033[35mDEBUG: Current mesh indices data DOES NOT MATCH.\033[0m\n"
            "MISMATCH!!! meshNumTex does not match! MC: 2 VS BIN: 0\n"
            "\033[35mDEBUG: Current mesh textures data DOES NOT MATCH.\033[0m\n"
            "\033[31m// - BIN FILE GOT PROBLEM!!!!!!!!!!!\033[0m\n"
            "\033[0m");
}

TEST(VerifyStatic, MissingFileIsAProblemEvenWhenNothingDiffersFromZero) {
  // An empty static model reads as all zeros; only the failed open tells.
  const ModelContainer mc;
  std::ostringstream out;
  EXPECT_TRUE(VerifyModelFile("no-such-dir/none.staticbin", mc, out));
  EXPECT_EQ(out.str(), kStart + "ERROR!!! Failed to open bin file!\n\033[31m" + kProblem);
}

struct CutCase {
  const char* name;
  size_t length;  // bytes of the image kept
  MeshLines lines;
};

TEST(VerifyStatic, CutFileReadsZerosPastItsEnd) {
  const std::string lostIndices = "MISMATCH!!! meshNumInd does not match! MC: 3 VS BIN: 0\n";
  const std::string lostTextures = "MISMATCH!!! meshNumTex does not match! MC: 2 VS BIN: 0\n";
  const std::string lostVertex1 =
      "MISMATCH!!! vertex 1 normal does not match! MC: 0,1,0 VS BIN: 0,0,0\n"
      "MISMATCH!!! vertex 1 texCoords does not match! MC: 0.25,0.75, VS BIN: 0,0,\n"
      "MISMATCH!!! vertex 1 tangent does not match! MC: 0,0,1 VS BIN: 0,0,0\n"
      "MISMATCH!!! vertex 1 bitangent does not match! MC: 1,0,0 VS BIN: 0,0,0\n";
  const CutCase cases[] = {
      // The count still says 2: the record past the end compares as zeros.
      {"before vertex 1",
       kVerticesAt + kVertexSize,
       {"MISMATCH!!! vertex 1 position does not match! MC: 1,2,3 VS BIN: 0,0,0\n" + lostVertex1, lostIndices,
        lostTextures}},
      // 1.0f is 00 00 80 3f; three bytes of it read as 00 00 80 00.
      {"inside a float of vertex 1",
       kVerticesAt + kVertexSize + 3,
       {"MISMATCH!!! vertex 1 position does not match! MC: 1,2,3 VS BIN: 1.17549e-38,0,0\n" + lostVertex1, lostIndices,
        lostTextures}},
      // One byte of meshNumInd holds the whole count 3; the indices are gone.
      {"inside meshNumInd",
       kNumIndAt + 1,
       {"",
        "MISMATCH!!! index 1 does not match! MC: 1 VS BIN: 0\n"
        "MISMATCH!!! index 2 does not match! MC: 1 VS BIN: 0\n",
        lostTextures}},
      // The rest of the path and the type read as zeros; the second entry is
      // an empty path.
      {"inside a texture path",
       kFirstPathAt + 4,
       {"", "",
        "ERROR!!!!! could not find corresponding texture in MC container\n"
        "ERROR!!!!! could not find corresponding texture in MC container\n"}},
  };
  const ModelContainer mc = StaticModel();
  const std::string image = ImageOf(mc);
  for (const CutCase& c : cases) {
    const Report report = VerifyImage(mc, image.substr(0, c.length));
    EXPECT_EQ(report.text, ExpectedReport().header().mesh(c.lines).end()) << c.name;
    EXPECT_TRUE(report.mismatch) << c.name;
  }
}

TEST(VerifyStatic, CutPathReadsAsItsBytesFollowedByZeros) {
  // A key ending in zero bytes is what a path cut after "tex\a" reads as.
  ModelContainer mc = StaticModel();
  mc.meshes[0].textures = {{"tex\\a", 1}, {std::string("tex\\a\0\0\0\0", 9), 2}, {std::string("tex\\a\0\1", 7), 1}};
  mc.loadedTextures.push_back("third");
  ModelContainer file = mc;
  file.meshes[0].textures = {{"tex\\a.png", 1}};
  const std::string image = ImageOf(file).substr(0, kNumTexAt + 2 + 2 + 5);
  const Report report = VerifyImage(mc, image);
  EXPECT_EQ(report.text, ExpectedReport()
                             .header()
                             .mesh({.textures = "MISMATCH!!! meshNumTex does not match! MC: 3 VS BIN: 1\n"
                                                "MISMATCH!!! texTypeCheck does not match! MC: 2 VS BIN: 0\n"})
                             .end());
}

TEST(VerifyStatic, HugeCountsInATinyFileReadOnlyWhatIsThere) {
  const ModelContainer mc = StaticModel();
  const std::string image = ImageOf(mc);
  // A 100-byte file: meshNumVert 0xFFFFFFFF, then 84 bytes of vertex 0, whose
  // compared attributes are all present.
  std::string vertices = image.substr(0, 100);
  Patch<uint32_t>(vertices, 12, 0xFFFFFFFFu);
  // The index count claims 4 billion, and the texture entries announced are
  // never there.
  std::string indices = image.substr(0, kNumIndAt + 12);
  Patch<uint32_t>(indices, kNumIndAt, 0xFFFFFFFFu);

  const std::string lostVertex1 =
      "MISMATCH!!! vertex 1 position does not match! MC: 1,2,3 VS BIN: 0,0,0\n"
      "MISMATCH!!! vertex 1 normal does not match! MC: 0,1,0 VS BIN: 0,0,0\n"
      "MISMATCH!!! vertex 1 texCoords does not match! MC: 0.25,0.75, VS BIN: 0,0,\n"
      "MISMATCH!!! vertex 1 tangent does not match! MC: 0,0,1 VS BIN: 0,0,0\n"
      "MISMATCH!!! vertex 1 bitangent does not match! MC: 1,0,0 VS BIN: 0,0,0\n";
  Report report = VerifyImageWithin(mc, vertices, 64 << 20);
  EXPECT_EQ(report.text, ExpectedReport()
                             .header()
                             .mesh({"MISMATCH!!! meshNumVert does not match! MC: 2 VS BIN: 4294967295\n" + lostVertex1,
                                    "MISMATCH!!! meshNumInd does not match! MC: 3 VS BIN: 0\n",
                                    "MISMATCH!!! meshNumTex does not match! MC: 2 VS BIN: 0\n"})
                             .end());
  report = VerifyImageWithin(mc, indices, 64 << 20);
  EXPECT_EQ(report.text, ExpectedReport()
                             .header()
                             .mesh({"",
                                    "MISMATCH!!! meshNumInd does not match! MC: 3 VS BIN: 4294967295\n"
                                    "MISMATCH!!! index 2 does not match! MC: 1 VS BIN: 0\n",
                                    "MISMATCH!!! meshNumTex does not match! MC: 2 VS BIN: 0\n"})
                             .end());
}
