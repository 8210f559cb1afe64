#include <gtest/gtest.h>

#include "model/model.h"

struct PathCase {
  const char* path;
  const char* fileName;
  const char* extension;
  const char* parent;
};

TEST(PathVocabulary, DecomposesWithBothSeparatorsAndDrivePrefixes) {
  const PathCase cases[] = {
      {"D:\\art\\crate.obj", "crate.obj", ".obj", "D:\\art"},
      {"Models/Hero.fbx", "Hero.fbx", ".fbx", "Models"},
      {"Models/Hero.FBX", "Hero.FBX", ".FBX", "Models"},
      {"dir//a.fbx", "a.fbx", ".fbx", "dir"},
      {"dir/", "", "", "dir"},
      {"dir\\\\", "", "", "dir"},
      {"/a.fbx", "a.fbx", ".fbx", "/"},
      {"D:\\a.fbx", "a.fbx", ".fbx", "D:\\"},
      {"D:a.fbx", "a.fbx", ".fbx", "D:"},
      {"D:", "", "", "D:"},
      {"a.fbx", "a.fbx", ".fbx", ""},
      {"", "", "", ""},
      {"/", "", "", "/"},
      {"a\\b/c.d.fbx", "c.d.fbx", ".fbx", "a\\b"},
      {"dir.old/model", "model", "", "dir.old"},
      {"x/.hidden", ".hidden", "", "x"},
      {"x/name.", "name.", ".", "x"},
      {"x/..", "..", "", "x"},
      {"x/.", ".", "", "x"},
      {"art/E:wood.png", "E:wood.png", ".png", "art"},
      {"1:a.fbx", "1:a.fbx", ".fbx", ""},  // a digit is no drive letter
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileNameOf(c.path), c.fileName);
    EXPECT_EQ(ExtensionOf(FileNameOf(c.path)), c.extension);
    EXPECT_EQ(ParentPathOf(c.path), c.parent);
  }
}

TEST(PathVocabulary, OutputPathJoinsDirectoryAsPlainTextOrUsesWorkingDirectory) {
  ModelContainer mc;
  mc.outputFileName = "Hero.animbin";
  EXPECT_EQ(OutputPathOf(mc), "Hero.animbin");
  mc.modelDirectory = "Models";
  EXPECT_EQ(OutputPathOf(mc), "Models/Hero.animbin");
  mc.modelDirectory = "D:\\";
  EXPECT_EQ(OutputPathOf(mc), "D:\\/Hero.animbin");
}

struct ArgumentCase {
  std::vector<const char*> args;  // user arguments, without the program path
  int result;
  bool animated;
  bool flip;
  const char* inputFile;
  const char* outputFileName;
};

TEST(ParseArguments, ChecksSwitchesAndDerivesInputAndOutputNames) {
  const ArgumentCase cases[] = {
      {{"1", "0", "Models/Hero.FBX"}, 0, true, false, "Models/Hero.fbx", "Hero.animbin"},
      {{"0", "1", "D:\\Art\\Crate.OBJ", "Crate01"}, 0, false, true, "D:\\Art\\Crate.obj", "Crate01.staticbin"},
      {{"0", "0", "a.fbx", ""}, 0, false, false, "a.fbx", ".staticbin"},
      {{"0", "0", "a.FBX", "out", "extra"}, 0, false, false, "a.fbx", "out.staticbin"},
      {{"0", "0", "dir.old/model"}, 0, false, false, "dir.old/model", "model.staticbin"},
      {{"0", "0", "archive.tar.GZ"}, 0, false, false, "archive.tar.gz", "archive.tar.staticbin"},
      {{"0", "0", "x/.hidden"}, 0, false, false, "x/.hidden", ".staticbin"},
      {{"0", "0", "dir/"}, 0, false, false, "dir/", ".staticbin"},
      {{"0", "0", "Dir.A/B.\xC3\x89Z"}, 0, false, false, "Dir.A/B.\xC3\x89z", "B.staticbin"},
      {{"1", "1", "m.Fbx", "sub/name"}, 0, true, true, "m.fbx", "sub/name.animbin"},
  };
  for (const ArgumentCase& c : cases) {
    SCOPED_TRACE(c.args[2]);
    std::vector<const char*> argv{"Varndel"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ModelContainer mc;
    ASSERT_EQ(ParseArguments(static_cast<int>(argv.size()), argv.data(), mc), c.result);
    EXPECT_EQ(mc.isAnimatedModel, c.animated);
    EXPECT_EQ(mc.flipUVs, c.flip);
    EXPECT_EQ(mc.inputFile, c.inputFile);
    EXPECT_EQ(mc.outputFileName, c.outputFileName);
  }
}

TEST(ParseArguments, RejectsBadSwitchesAndDottedOutputNamesWithCode2) {
  const std::vector<std::vector<const char*>> rejected = {
      {"2", "0", "a.fbx"},  {"00", "0", "a.fbx"},         {"0", "01", "a.fbx"},
      {" 1", "0", "a.fbx"}, {"true", "0", "a.fbx"},       {"", "0", "a.fbx"},
      {"0", "", "a.fbx"},   {"0", "0", "a.fbx", "out.b"}, {"1", "0", "a.fbx", "."},
  };
  for (const auto& args : rejected) {
    std::vector<const char*> argv{"Varndel"};
    argv.insert(argv.end(), args.begin(), args.end());
    ModelContainer mc;
    EXPECT_EQ(ParseArguments(static_cast<int>(argv.size()), argv.data(), mc), 2) << args[0] << " " << args[1];
    EXPECT_TRUE(mc.inputFile.empty());
    EXPECT_TRUE(mc.outputFileName.empty());
  }
}
