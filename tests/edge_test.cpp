// varndel-edge, the build step of varndel_add_models: the same bytes and log
// as a direct run in the asset root, nothing written beside the sources, a
// depfile naming the files the import read, and no output after a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "tests/test_support.h"

namespace {

RunResult RunEdge(const std::vector<std::string>& args, const fs::path& cwd) {
  return RunProcess(VARNDEL_EDGE_EXE, args, cwd);
}

// Every path below root, sorted: what a run may not change.
std::vector<std::string> ListTree(const fs::path& root) {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    paths.push_back(fs::relative(entry.path(), root).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// An asset tree with models in a subdirectory, at the root, and behind an
// upper-case extension, and a glTF with an external buffer.
void MakeAssetTree(const fs::path& root) {
  fs::create_directories(root / "models");
  fs::create_directories(root / "fixtures");
  fs::create_directories(root / "chars with space");
  for (const char* name : {"crate.obj", "crate.mtl"}) fs::copy_file(ExamplePath(name), root / "models" / name);
  fs::copy_file(ExamplePath("walker.gltf"), root / "walker.gltf");
  fs::copy_file(FixturePath("Upper.OBJ"), root / "fixtures" / "Upper.OBJ");
  for (const char* name : {"walker.gltf", "walker.bin"}) {
    fs::copy_file(ExamplePath("assets/characters/") += name, root / "chars with space" / name);
  }
}

struct EdgeCase {
  const char* animated;
  const char* flip;
  const char* model;   // relative to the asset root
  const char* output;  // the direct run's output, relative to the asset root
};

TEST(Edge, WritesTheBytesAndTheLogOfADirectRunInTheAssetRoot) {
  const EdgeCase cases[] = {
      {"0", "0", "models/crate.obj", "models/crate.staticbin"},
      {"0", "1", "models/crate.obj", "models/crate.staticbin"},
      {"1", "0", "walker.gltf", "walker.animbin"},
      {"1", "1", "chars with space/walker.gltf", "chars with space/walker.animbin"},
      {"0", "0", "fixtures/Upper.OBJ", "fixtures/Upper.staticbin"},
  };
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(std::string(c.animated) + " " + c.flip + " " + c.model);
    ScratchDir scratch;
    const fs::path direct = scratch.path / "direct";
    const fs::path root = scratch.path / "root";
    MakeAssetTree(direct);
    MakeAssetTree(root);
    const std::vector<std::string> before = ListTree(root);

    const RunResult reference = RunVarndel({c.animated, c.flip, c.model}, direct);
    ASSERT_EQ(reference.exitCode, 0) << reference.out << reference.err;
    const fs::path output = scratch.path / "build" / "out" / "model.bin";
    const fs::path logDir = scratch.path / "build" / "log";
    const RunResult edge =
        RunEdge({c.animated, c.flip, root.string(), c.model, output.string(), logDir.string()}, scratch.path);
    ASSERT_EQ(edge.exitCode, 0) << edge.err;
    EXPECT_EQ(edge.out + edge.err, "");  // quiet when it works

    EXPECT_EQ(ReadFile(output), ReadFile(direct / c.output));
    EXPECT_EQ(ReadFile(logDir / "Logs" / "Log.txt"), ReadFile(direct / "Logs" / "Log.txt"));
    EXPECT_EQ(ListTree(root), before);
    EXPECT_EQ(ListTree(output.parent_path()), std::vector<std::string>{"model.bin"});  // no temporary left
  }
}

TEST(Edge, DepfileNamesEveryFileTheImportRead) {
  ScratchDir scratch;
  MakeAssetTree(scratch.path / "root");
#ifdef _WIN32
  GTEST_SKIP() << "the expected depfile below is spelled with POSIX paths";
#endif
  const fs::path depfile = scratch.path / "d" / "model.d";
  fs::create_directories(depfile.parent_path());
  const std::string root = (scratch.path / "root").string();
  const auto escaped = [](std::string path) {
    std::string out;
    for (const char c : path) out += c == ' ' ? std::string("\\ ") : std::string(1, c);
    return out;
  };

  RunResult run = RunEdge(
      {"0", "0", root, "models/crate.obj", "out/crate.staticbin", "log", depfile.string(), "out/crate.staticbin"},
      scratch.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string crateDeps =
      "out/crate.staticbin: \\\n  " + root + "/models/crate.mtl \\\n  " + root + "/models/crate.obj\n";
  EXPECT_EQ(ReadFile(depfile), crateDeps);

  // A rebuild that read the same files leaves the depfile alone; one that
  // differs, even by a byte at its end, is replaced.
  const fs::file_time_type old = fs::last_write_time(depfile) - std::chrono::hours(1);
  fs::last_write_time(depfile, old);
  const std::vector<std::string> crate = {"0", "0", root, "models/crate.obj", "out/crate.staticbin", "log",
                                          depfile.string(), "out/crate.staticbin"};
  ASSERT_EQ(RunEdge(crate, scratch.path).exitCode, 0);
  EXPECT_EQ(fs::last_write_time(depfile), old);
  WriteFile(depfile, crateDeps + " ");
  ASSERT_EQ(RunEdge(crate, scratch.path).exitCode, 0);
  EXPECT_EQ(ReadFile(depfile), crateDeps);

  run = RunEdge({"1", "0", root, "chars with space/walker.gltf", "out/walker.animbin", "log", depfile.string()},
                scratch.path);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string dir = escaped(root + "/chars with space");
  EXPECT_EQ(ReadFile(depfile), escaped((scratch.path / "out/walker.animbin").string()) + ": \\\n  " + dir +
                                   "/walker.bin \\\n  " + dir + "/walker.gltf\n");
}

#ifndef _WIN32
TEST(Edge, DepfileEscapesNamesAsNinjaAndMakeReadThemAndRefusesWhatNeitherCan) {
  // Ninja and GNU Make read "\\ " as a space, "\\#" as '#', "$$" as '$' and
  // "\\:" as ':'; a backslash before anything else is itself.
  struct Case {
    std::string directory;
    std::string written;  // "" : the edge fails, naming the path
  };
  const Case cases[] = {
      {"a\\b c#d$e:f", "a\\b\\ c\\#d$$e\\:f"},
      {"two\\\\ spaces\\x", "two\\\\\\\\\\ spaces\\x"},
      {"line\nbreak", ""},
      {"hash\\#", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory);
    ScratchDir scratch;
    const fs::path models = scratch.path / "root" / c.directory;
    fs::create_directories(models);
    for (const char* name : {"crate.obj", "crate.mtl"}) fs::copy_file(ExamplePath(name), models / name);
    const std::string model = c.directory + "/crate.obj";
    const RunResult run = RunEdge({"0", "0", (scratch.path / "root").string(), model, "out/crate.staticbin", "log",
                                   "crate.d", "out/crate.staticbin"},
                                  scratch.path);
    if (c.written.empty()) {
      EXPECT_EQ(run.exitCode, kExitFailure);
      std::string shown = (scratch.path / "root" / c.directory / "crate.mtl").string();
      if (const size_t at = shown.find('\n'); at != std::string::npos) shown.replace(at, 1, "\\n");
      EXPECT_NE(run.err.find("varndel-edge: cannot list '" + shown + "' in the depfile: "), std::string::npos)
          << run.err;
      EXPECT_FALSE(fs::exists(scratch.path / "out" / "crate.staticbin"));
      EXPECT_FALSE(fs::exists(scratch.path / "crate.d"));
      continue;
    }
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string root = (scratch.path / "root").string() + "/" + c.written;
    EXPECT_EQ(ReadFile(scratch.path / "crate.d"),
              "out/crate.staticbin: \\\n  " + root + "/crate.mtl \\\n  " + root + "/crate.obj\n");
  }
}
#endif

TEST(Edge, AFailedModelShowsTheCompilersMessagesAndLeavesNoOutput) {
  ScratchDir scratch;
  MakeAssetTree(scratch.path / "root");
  WriteFile(scratch.path / "root" / "models" / "crate.obj", "v 1 2\nf 1 2 3 4 5\n");
  const fs::path output = scratch.path / "out" / "crate.staticbin";
  fs::create_directories(output.parent_path());
  WriteFile(output, "the previous build's file");
  const std::vector<std::string> before = ListTree(scratch.path / "root");

  const RunResult run =
      RunEdge({"0", "0", (scratch.path / "root").string(), "models/crate.obj", output.string(), "log", "crate.d"},
              scratch.path);
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(Error("Assimp read file error! ")), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(TextMode(Error("MC Error: (4)\n"))), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("models/crate.obj failed"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_empty(output.parent_path()));
  EXPECT_FALSE(fs::exists(scratch.path / "crate.d"));
  EXPECT_NE(ReadFile(scratch.path / "log" / "Logs" / "Log.txt").find("MC Error: (4)"), std::string::npos);
  EXPECT_EQ(ListTree(scratch.path / "root"), before);
}

TEST(Edge, AMissingAssetRootIsNamedAndLeavesNoOutput) {
  ScratchDir scratch;
  const fs::path root = scratch.path / "gone";
  const RunResult run =
      RunEdge({"0", "0", root.string(), "models/crate.obj", "out/crate.staticbin", "log", "crate.d"}, scratch.path);
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find("varndel-edge: cannot enter the asset root " + root.string() + ": "), std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(root));
  EXPECT_TRUE(fs::is_empty(scratch.path / "out"));
  EXPECT_FALSE(fs::exists(scratch.path / "crate.d"));
}

// --inputs: with every file the import reads declared, the same bytes; an
// undeclared side file fails the model whether it is there or not (a
// sandbox hides it), naming it, and leaves no output. With --existing, only
// an undeclared file of that list fails; any other is a probe, absent as in a
// direct run without it. Names compare as the edge was given them, never
// through the working directory's resolved path: outside a sandbox, Bazel's
// execution root reaches the asset root through a link.
TEST(Edge, FailsWhenTheImportOpensAFileThatIsNotDeclared) {
  struct Case {
    const char* model;
    std::vector<std::string> declared;  // relative to the working directory
    bool removeUndeclared;
    const char* undeclared;  // named in the error; nullptr: compiles
    std::vector<std::string> extraOptions = {};
    std::vector<std::string> existing = {};  // with --existing
    const char* root = "root";               // the asset root as the edge is given it
  };
  const Case cases[] = {
      {"models/crate.obj", {"root/models/crate.obj", "root/models/./crate.mtl", "root/walker.gltf"}, false, nullptr},
      {"models/crate.obj", {"root/models/crate.obj"}, false, "root/models/crate.mtl"},
      {"models/crate.obj", {"root/models/crate.obj"}, true, "root/models/crate.mtl"},
      {"chars with space/walker.gltf", {"root/chars with space/walker.gltf"}, false, "root/chars with space/walker.bin"},
      // A link into the tree, as Bazel's execution root has one outside a sandbox.
      {"models/crate.obj", {"linked/models/crate.obj", "linked/models/crate.mtl"}, false, nullptr, {}, {}, "linked"},
      {"models/crate.obj", {"linked/models/crate.obj"}, false, "linked/models/crate.mtl", {}, {}, "linked"},
      // Known to exist but undeclared: named relative to the package.
      {"models/crate.obj", {"root/models/crate.obj"}, false, "models/crate.mtl", {"--package", "root"},
       {"root/models/crate.mtl"}},
      // Not known to exist: a probe, absent as in a direct run without it.
      {"models/crate.obj", {"root/models/crate.obj"}, true, nullptr, {}, {"root/models/crate.obj"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.root) + "/" + c.model + (c.undeclared ? std::string(" without ") + c.undeclared : ""));
    ScratchDir scratch;
    MakeAssetTree(scratch.path / "root");
    std::error_code noLinks;  // Windows may refuse links without privileges
    fs::create_directory_symlink("root", scratch.path / "linked", noLinks);
    if (noLinks && std::string(c.root) == "linked") continue;
    const std::string animated = fs::path(c.model).extension() == ".gltf" ? "1" : "0";
    std::string list;
    for (const std::string& path : c.declared) list += path + "\r\n";
    WriteFile(scratch.path / "inputs", list + "\n");
    std::string existing;
    for (const std::string& path : c.existing) existing += path + "\n";
    WriteFile(scratch.path / "existing", existing);
    if (c.removeUndeclared) fs::remove(scratch.path / "root" / "models" / "crate.mtl");
    const RunResult reference = RunEdge({animated, "0", "root", c.model, "ref/model.bin", "log"}, scratch.path);
    ASSERT_EQ(reference.exitCode, 0) << reference.err;
    if (c.removeUndeclared && c.undeclared == nullptr) {
      ASSERT_EQ(ReadFile(scratch.path / "log" / "Logs" / "Log.txt").find("crate.mtl"), std::string::npos);
    }

    std::vector<std::string> args = {"--inputs", "inputs"};
    if (!c.existing.empty()) args.insert(args.end(), {"--existing", "existing"});
    args.insert(args.end(), c.extraOptions.begin(), c.extraOptions.end());
    args.insert(args.end(), {animated, "0", c.root, c.model, "out/model.bin", "log"});
    const RunResult run = RunEdge(args, scratch.path);
    if (c.undeclared == nullptr) {
      ASSERT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(ReadFile(scratch.path / "out" / "model.bin"), ReadFile(scratch.path / "ref" / "model.bin"));
    } else {
      EXPECT_EQ(run.exitCode, 3);
      EXPECT_NE(run.err.find(TextMode(std::string("varndel-edge: ") + c.undeclared +
                                      " was opened by the import but is not a declared input\n")),
                std::string::npos)
          << run.err;
      EXPECT_TRUE(fs::is_empty(scratch.path / "out"));
    }
  }
}

TEST(Edge, RefusesAnUnreadableInputListAndUnknownOptions) {
  ScratchDir scratch;
  MakeAssetTree(scratch.path / "root");
  RunResult run =
      RunEdge({"--inputs", "missing", "0", "0", "root", "models/crate.obj", "out/crate.staticbin", "log"}, scratch.path);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("varndel-edge: cannot read the list of declared inputs missing"), std::string::npos)
      << run.err;
  run = RunEdge({"--bogus", "0", "0", "root", "models/crate.obj", "out/crate.staticbin", "log"}, scratch.path);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("unknown option or missing value: --bogus"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(scratch.path / "out"));
}

TEST(Edge, RefusesAWrongArgumentCountWithItsUsage) {
  ScratchDir scratch;
  const RunResult run = RunEdge({"0", "0", "root", "model.obj"}, scratch.path);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("Usage: varndel-edge"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(scratch.path));
}

}  // namespace
