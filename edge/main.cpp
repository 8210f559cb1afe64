// varndel-edge: one model's build step for varndel_add_models. It compiles a
// model exactly as `Varndel <animated> <flipUVs> <model>` run in the asset
// root would (same stages, same file bytes, same Logs/Log.txt), but writes
// the compiled file to a given path in the build tree, keeps the log in a
// private directory, and lists every file the import read in a depfile. One
// process per model: a helper process per step would cost more than the
// compile of a small model.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <sstream>
#include <string>

#include "driver/large_stack.h"
#include "edge/edge.h"
#include "edge/takes.h"
#include "optimize/tool_version.h"

namespace fs = std::filesystem;

static constexpr const char* kUsage =
    "Usage: varndel-edge [--inputs <list> [--existing <list>] [--package <dir>]]\n"
    "                    [--optimize [--lod <ratio>]... [--anim-tolerance <T> [--anim-distance <D>]]]\n"
    "                    [--extract-textures <dir> [--textures-manifest <file>]]\n"
    "                    [--animation <sel>... [--clips-only]] <isAnimatedModel> <flipUVs>\n"
    "                    <assetRoot> <model> <output> <logDir> [<depfile> [<depfileTarget>]]\n"
    "       varndel-edge --list-animations <model> [--json]\n"
    "\n"
    "Compiles <model> (a path relative to <assetRoot>, as Varndel would be given it when run\n"
    "in <assetRoot>) into <output>. The compiled bytes are those of that direct run.\n"
    "Logs/Log.txt is written below <logDir>; <depfile> (Makefile syntax) lists every file\n"
    "the import read, as the rule for <depfileTarget> (default: <output> made absolute).\n"
    "--optimize runs varndel-opt's step before the write (the bytes are those of varndel-opt\n"
    "on the direct run's file); each --lod adds <output stem>.lodN<extension>, N counting\n"
    "from 1, with the achieved errors in <logDir>/lods.txt. --anim-tolerance drops the animation\n"
    "keys whose removal moves no joint's origin, point at distance D along a joint's axes or\n"
    "skinned vertex by more than T model units; --anim-distance sets D (default: a tenth of\n"
    "the model's bounding-box diagonal).\n"
    "Nothing is written into <assetRoot>. The compiler's messages are\n"
    "printed on stderr only when the model fails; then no <output> is left behind.\n"
    "\n"
    "--extract-textures <dir>: <dir> is made to hold exactly the embedded textures the model\n"
    "references (created even when there are none), built aside and swapped in. An existing\n"
    "<dir> is replaced only when a run made it (it holds the file .varndel-output, or only\n"
    "what the previous manifest lists); anything else is refused and left whole. A reference\n"
    "*N as <N>.<ext>, an embedded file name as its last component percent-encoded, unless the\n"
    "stored path names an existing file. The compiled bytes do not change. varndel-inspect finds\n"
    "these files, for <output> and its LOD files, when <dir> is <output stem>.textures beside\n"
    "<output>. An embedded texture larger than the imported files can hold, or textures that\n"
    "together pass four times their size, fail the model. --textures-manifest <file> lists the\n"
    "files written, one per line.\n"
    "\n"
    "--list-animations <model>: prints each animation (take) of <model> (a path as given):\n"
    "index, quoted name, duration in ticks and seconds, ticks per second, channel count;\n"
    "--json prints the same list as JSON. Nothing is written.\n"
    "--animation <sel> (repeatable; needs <isAnimatedModel> 1): also compiles each selected\n"
    "take, as if it were the file's first animation, into <output stem>.<take>.animbin, and\n"
    "lists those files in <output stem>.takes.txt. <sel> is 'all', an index, a pattern with\n"
    "'*' and '?', or an exact name. <take> is the name made safe (a-z, 0-9 and -_+() kept,\n"
    "any other byte as %XX), or take<N> when the name is empty or another take has it too.\n"
    "A selector that\n"
    "picks nothing fails, listing the takes. Take files of an earlier run that this run does\n"
    "not write are removed. --clips-only writes the take files without meshes: hierarchy,\n"
    "tracks and bone-info map, which drive the vertices of <output>. --expect-take <take>\n"
    "(repeatable) fails the run unless a selected take is written to <output stem>.<take>.animbin\n"
    "(for build files that declare it).\n"
    "\n"
    "--inputs <list>: a file naming the declared inputs, one path per line (relative to the\n"
    "working directory, or absolute). The import may open no other file: any other is\n"
    "treated as absent, and an attempt to open one fails the model, naming the file.\n"
    "--existing <list>: the files that exist beside the declared ones (same form). Only a\n"
    "look at one of these fails the model; any other undeclared file is absent, as a file\n"
    "that an importer merely probes for is in a direct run.\n"
    "--package <dir>: messages name files relative to <dir>, as a build file names them.\n"
    "\n"
    "Exit codes: 0 compiled; 255 (-1) the model failed; 102 (-666) the read-back differed;\n"
    "2 bad usage, an unreadable list, or an output that would replace what is not the run's own\n"
    "(the model, a directory this tool did not make); 3 the import opened a file that is not declared.\n"
    "Every file is written under a random name beside it and renamed into place; an\n"
    "interrupted run leaves the previous outputs whole.\n";

static constexpr int kUsageError = 2;
static constexpr int kUndeclaredInput = 3;

// A path for a message: relative to base (the working directory, or the
// package) when below it, as build systems name their inputs.
static std::string DisplayPath(const fs::path& path, const fs::path& base) {
  const fs::path relative = path.lexically_relative(base);
  if (relative.empty() || *relative.begin() == "..") return path.string();
  return relative.generic_string();
}

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << varndel::ToolVersionText("varndel-edge");
    return 0;
  }
  // Leading options, then the positional arguments.
  EdgeRequest request;
  std::string inputList;
  std::string existingList;
  fs::path package;
  std::string listModel;
  bool json = false;
  int first = 1;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    if (std::strcmp(argv[first], "--inputs") == 0 && first + 1 < argc) {
      inputList = argv[++first];
    } else if (std::strcmp(argv[first], "--existing") == 0 && first + 1 < argc) {
      existingList = argv[++first];
    } else if (std::strcmp(argv[first], "--package") == 0 && first + 1 < argc) {
      package = argv[++first];
    } else if (std::strcmp(argv[first], "--extract-textures") == 0 && first + 1 < argc && *argv[first + 1] != '\0') {
      request.texturesDirectory = fs::absolute(argv[++first]).string();
    } else if (std::strcmp(argv[first], "--textures-manifest") == 0 && first + 1 < argc && *argv[first + 1] != '\0') {
      request.texturesManifest = fs::absolute(argv[++first]).string();
    } else if (std::strcmp(argv[first], "--list-animations") == 0 && first + 1 < argc && *argv[first + 1] != '\0') {
      listModel = argv[++first];
    } else if (std::strcmp(argv[first], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[first], "--animation") == 0 && first + 1 < argc && *argv[first + 1] != '\0') {
      request.animations.emplace_back(argv[++first]);
    } else if (std::strcmp(argv[first], "--expect-take") == 0 && first + 1 < argc && *argv[first + 1] != '\0') {
      request.expectedTakes.emplace_back(argv[++first]);
    } else if (std::strcmp(argv[first], "--clips-only") == 0) {
      request.clipsOnly = true;
    } else if (std::strcmp(argv[first], "--optimize") == 0) {
      request.optimize = true;
    } else if (std::strcmp(argv[first], "--lod") == 0 && first + 1 < argc) {
      char* end = nullptr;
      const float ratio = std::strtof(argv[++first], &end);
      if (*argv[first] == '\0' || *end != '\0' || !(ratio > 0.0f && ratio <= 1.0f)) {
        std::cerr << "varndel-edge: --lod " << argv[first] << ": the ratio must be a number in (0, 1]\n";
        return kUsageError;
      }
      request.lods.push_back(ratio);
    } else if (std::strcmp(argv[first], "--anim-tolerance") == 0 && first + 1 < argc) {
      char* end = nullptr;
      const float tolerance = std::strtof(argv[++first], &end);
      if (*argv[first] == '\0' || *end != '\0' || !(tolerance >= 0.0f) || std::isinf(tolerance)) {
        std::cerr << "varndel-edge: --anim-tolerance " << argv[first]
                  << ": the tolerance must be a finite number >= 0\n";
        return kUsageError;
      }
      request.animationTolerance = tolerance;
    } else if (std::strcmp(argv[first], "--anim-distance") == 0 && first + 1 < argc) {
      char* end = nullptr;
      const float distance = std::strtof(argv[++first], &end);
      if (*argv[first] == '\0' || *end != '\0' || !(distance >= 0.0f) || std::isinf(distance)) {
        std::cerr << "varndel-edge: --anim-distance " << argv[first] << ": the distance must be a finite number >= 0\n";
        return kUsageError;
      }
      request.animationDistance = distance;
    } else {
      std::cerr << "varndel-edge: unknown option or missing value: " << argv[first] << "\n\n" << kUsage;
      return kUsageError;
    }
  }
  if (!listModel.empty()) {
    if (first != argc) {
      std::cerr << "varndel-edge: --list-animations takes one model and no other arguments\n";
      return kUsageError;
    }
    try {
      const std::vector<TakeInfo> takes = ReadTakes(listModel);
      std::cout << (json ? FormatTakeListJson(takes) : FormatTakeList(takes)) << std::flush;
      return std::cout ? 0 : 1;
    } catch (const std::bad_alloc&) {
      std::cerr << "varndel-edge: out of memory\n";
    } catch (const std::exception& e) {
      std::cerr << "varndel-edge: " << e.what() << '\n';
    }
    return -1;
  }
  if (json) {
    std::cerr << "varndel-edge: --json needs --list-animations\n";
    return kUsageError;
  }
  if ((request.clipsOnly || !request.expectedTakes.empty()) && request.animations.empty()) {
    std::cerr << "varndel-edge: --clips-only and --expect-take need --animation\n";
    return kUsageError;
  }
  if (inputList.empty() && (!existingList.empty() || !package.empty())) {
    std::cerr << "varndel-edge: --existing and --package need --inputs\n";
    return kUsageError;
  }
  if (!request.lods.empty() && !request.optimize) {
    std::cerr << "varndel-edge: --lod needs --optimize\n";
    return kUsageError;
  }
  if (!request.texturesManifest.empty() && request.texturesDirectory.empty()) {
    std::cerr << "varndel-edge: --textures-manifest needs --extract-textures\n";
    return kUsageError;
  }
  if (request.animationDistance >= 0.0f && request.animationTolerance < 0.0f) {
    std::cerr << "varndel-edge: --anim-distance needs --anim-tolerance\n";
    return kUsageError;
  }
  if (request.animationTolerance >= 0.0f && !request.optimize) {
    std::cerr << "varndel-edge: --anim-tolerance needs --optimize\n";
    return kUsageError;
  }
  const int positional = argc - first;
  if (positional < 6 || positional > 8) {
    std::cerr << kUsage;
    return kUsageError;
  }
  char** const args = argv + first - 1;  // args[1] is the first positional argument
  request.animated = args[1];
  if (!request.animations.empty() && request.animated != "1") {
    std::cerr << "varndel-edge: --animation needs an animated compile (<isAnimatedModel> 1)\n";
    return kUsageError;
  }
  request.flipUVs = args[2];
  request.assetRoot = fs::absolute(args[3]).string();
  request.model = args[4];
  request.output = fs::absolute(args[5]).string();
  request.logDir = fs::absolute(args[6]).string();
  if (positional >= 7) request.depfile = fs::absolute(args[7]).string();
  request.depfileTarget = positional == 8 ? args[8] : request.output;
  const fs::path namesBase = package.empty() ? fs::current_path() : fs::absolute(package).lexically_normal();
  if (!inputList.empty()) {
    try {
      request.declaredInputs = ReadFileList(inputList, "declared inputs");
      if (!existingList.empty()) request.knownFiles = ReadFileList(existingList, "existing files");
    } catch (const std::exception& e) {
      std::cerr << "varndel-edge: " << e.what() << '\n';
      return kUsageError;
    }
  }

  // Checked before anything is written: a refused request touches nothing.
  if (const std::string refused = RefusedEdgeOutput(request); !refused.empty()) {
    std::cerr << "varndel-edge: " << refused << '\n';
    return kUsageError;
  }

  // The compiler's console text (logger echo, read-back report) is kept and
  // shown only when the model fails.
  std::ostringstream console;
  std::streambuf* const savedCout = std::cout.rdbuf(console.rdbuf());
  int code = -1;
  std::string failure;
  try {
    // Assimp recurses over the scene's node tree: a deep one needs the stack.
    code = RunOnLargeStack([&] { return RunEdge(request, console, std::cerr); });
  } catch (const UndeclaredInputsError& e) {
    code = kUndeclaredInput;
    for (const auto& [files, verb] : {std::pair{&e.opened, "opened"}, std::pair{&e.lookedFor, "looked for"}}) {
      for (const std::string& file : *files) {
        if (files == &e.lookedFor && e.opened.count(file) != 0) continue;  // named once
        failure += (failure.empty() ? "" : "\nvarndel-edge: ") + DisplayPath(file, namesBase) + " was " + verb +
                   " by the import but is not a declared input";
      }
    }
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
  } catch (const std::exception& e) {
    failure = e.what();
  }
  std::cout.rdbuf(savedCout);
  if (code == 0) return 0;

  DiscardEdgeOutputs(request);
  std::cerr << console.str();
  if (!failure.empty()) std::cerr << "varndel-edge: " << failure << '\n';
  std::cerr << "varndel-edge: " << request.model << " failed (exit " << code << "); log in "
            << (fs::path(request.logDir) / "Logs" / "Log.txt").string() << '\n';
  return code;
}
