// varndel-opt: rewrites a compiled model file in GPU-ready order, and writes
// its LOD chain beside it (see OptimizeModel and BuildLod).
#include <varndel/optimize.h>
#include <varndel/reader.h>
#include <varndel/writer.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "inspect/progress.h"
#include "opt/files.h"
#include "optimize/tool_version.h"
#include "reader/file_kind.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitWriteFailed = 1;
constexpr int kExitUsage = 2;  // also: the input cannot be read

constexpr const char* kFooter =
    "--anim-tolerance T checks every joint's origin, the points at distance D along its axes\n"
    "and every skinned vertex at every key time and midway between; with --keys-only the\n"
    "meshes are not touched, so MeasureAnimationError(IN, OUT) gives the achieved error.\n"
    "\n"
    "Without -o the result goes to <IN without its extension>.opt<extension>; the input is\n"
    "overwritten only when -o names it. Level N goes to <OUT stem>.lodN<extension>.\n"
    "Every file is written through a temporary file and read back; only when every file of\n"
    "the run has passed are they renamed into place, the output last.\n"
    "\n"
    "Exit codes: 0 written (warnings on stderr); 1 a file could not be written or did not\n"
    "read back; 2 bad usage, or IN cannot be read.";

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code code;
  return fs::equivalent(a, b, code) || fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
}

// The help says the range the checks after parsing enforce: above 0 (0, a
// negative number and NaN are refused there, with their own messages) and at
// most 1 (refused here).
const CLI::Validator kRatioRange(
    [](std::string& text) -> std::string {
      char* end = nullptr;
      const float ratio = std::strtof(text.c_str(), &end);
      if (end != text.c_str() && *end == '\0' && ratio > 1.0f) return "the ratio must be above 0 and at most 1";
      return {};
    },
    "in (0, 1]");

// The warnings on stderr. Those that repeat one reason for several meshes
// ("lod1: mesh 3: keeps 90 of 120 indices, not 60: <reason>") become one
// line with the count, unless verbose; every other warning is printed as is.
void PrintWarnings(const std::vector<std::string>& warnings, bool verbose) {
  static const std::regex kMeshWarning(R"(^((?:lod[0-9]+: )?)mesh [0-9]+: (?:.*: )?([^:]*)$)");
  std::vector<std::pair<std::string, size_t>> groups;  // "<level><reason>", count; in order met
  std::vector<std::string> keys(warnings.size());
  for (size_t i = 0; i < warnings.size(); ++i) {
    std::smatch match;
    if (verbose || !std::regex_match(warnings[i], match, kMeshWarning)) continue;
    keys[i] = match[1].str() + '\0' + match[2].str();
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == keys[i]; });
    if (group == groups.end()) {
      groups.emplace_back(keys[i], 1);
    } else {
      ++group->second;
    }
  }
  std::vector<bool> printed(groups.size());
  for (size_t i = 0; i < warnings.size(); ++i) {
    const auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == keys[i]; });
    if (keys[i].empty() || group == groups.end() || group->second < 2) {
      std::cerr << "varndel-opt: warning: " << warnings[i] << '\n';
    } else if (!printed[group - groups.begin()]) {
      printed[group - groups.begin()] = true;
      const size_t split = keys[i].find('\0');
      std::cerr << "varndel-opt: warning: " << keys[i].substr(0, split) << group->second
                << " meshes: " << keys[i].substr(split + 1) << " (--verbose names them)\n";
    }
  }
}

int Fail(int code, const std::string& message) {
  std::cerr << "varndel-opt: " << message << '\n';
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Rewrites a compiled model file (.staticbin, .animbin) with each mesh's vertices welded and its\n"
      "triangles and vertices ordered for the GPU's vertex cache, overdraw and vertex fetch, and writes\n"
      "levels of detail beside it.",
      "varndel-opt"};
  std::string input;
  std::string output;
  std::vector<float> ratios;
  bool noOverdraw = false;
  std::optional<std::string> animationTolerance;
  std::optional<std::string> animationDistance;
  bool keysOnly = false;
  bool quiet = false;
  app.add_option("IN", input, "the compiled model file")->required();
  app.add_option("-o,--output", output, "where the result goes");
  app.add_option("--lod", ratios, "add a level of detail keeping RATIO of each mesh's indices (0 < RATIO <= 1)")
      ->type_name("RATIO")
      ->take_last()
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(kRatioRange);
  app.add_flag("--no-overdraw", noOverdraw, "keep the vertex-cache order of the triangles");
  app.add_option("--anim-tolerance", animationTolerance,
                 "drop the animation keys whose removal moves no joint's origin, point at distance D along a "
                 "joint's axes or skinned vertex by more than T (model units, T >= 0)")
      ->type_name("T");
  app.add_option("--anim-distance", animationDistance,
                 "with --anim-tolerance: the distance D from each joint, along its axes, at which its orientation is "
                 "measured (model units, D >= 0; default: a tenth of the model's bounding-box diagonal)")
      ->type_name("D");
  app.add_flag("--keys-only", keysOnly,
               "with --anim-tolerance: reduce the animation keys alone; vertices, indices and meshes stay byte for "
               "byte");
  app.add_flag("-q,--quiet", quiet, "no progress on stderr");
  bool verbose = false;
  app.add_flag("-v,--verbose", verbose,
               "one warning line per mesh, instead of one line with a count for each reason that repeats");
  std::string version = varndel::ToolVersionText("varndel-opt");
  version.pop_back();  // CLI11 ends the text with its own line break
  app.set_version_flag("--version", version, "print the version, and those of Assimp and meshoptimizer");
  app.footer(kFooter);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "varndel-opt: " << e.what() << "\nRun 'varndel-opt --help' for the options.\n";
    return kExitUsage;
  }
  for (const float ratio : ratios) {
    if (std::isnan(ratio)) return Fail(kExitUsage, "--lod nan: the ratio must be a number above 0 and at most 1");
    if (!(ratio > 0.0f)) return Fail(kExitUsage, "--lod: the ratio must be above 0");
  }
  float tolerance = -1.0f;
  if (animationTolerance) {
    char* end = nullptr;
    tolerance = std::strtof(animationTolerance->c_str(), &end);
    if (animationTolerance->empty() || *end != '\0' || !(tolerance >= 0.0f) || std::isinf(tolerance)) {
      return Fail(kExitUsage,
                  "--anim-tolerance " + *animationTolerance + ": the tolerance must be a finite number >= 0");
    }
  }
  float distance = -1.0f;
  if (animationDistance) {
    char* end = nullptr;
    distance = std::strtof(animationDistance->c_str(), &end);
    if (animationDistance->empty() || *end != '\0' || !(distance >= 0.0f) || std::isinf(distance)) {
      return Fail(kExitUsage, "--anim-distance " + *animationDistance + ": the distance must be a finite number >= 0");
    }
    if (!animationTolerance) return Fail(kExitUsage, "--anim-distance needs --anim-tolerance");
  }
  if (keysOnly && !animationTolerance) return Fail(kExitUsage, "--keys-only needs --anim-tolerance");
  if (keysOnly && !ratios.empty()) return Fail(kExitUsage, "--keys-only leaves the meshes alone: it takes no --lod");
  if (keysOnly && noOverdraw) return Fail(kExitUsage, "--keys-only leaves the meshes alone: it takes no --no-overdraw");
  if (output.empty()) output = varndel::OptimizedPath(input);
  for (size_t n = 0; n < ratios.size(); ++n) {
    if (SameFile(varndel::LodPath(output, n + 1, false), input) ||
        SameFile(varndel::LodPath(output, n + 1, true), input)) {
      return Fail(kExitUsage, "level " + std::to_string(n + 1) + " would overwrite the input " + input);
    }
  }

  varndel::Model model;
  varndel::ReadError readError;
  if (!varndel::ReadModelFile(input, model, &readError)) {
    if (const std::string kind = varndel::DescribeNotCompiledModelFile(input); !kind.empty()) {
      return Fail(kExitUsage, input + ": " + kind);
    }
    const bool fileLevel = readError.offset == 0 && readError.field.empty();
    return Fail(kExitUsage, (fileLevel ? "" : input + ": ") +
                                (fileLevel ? readError.message : varndel::FormatReadError(readError)));
  }
  std::vector<OutputFile> pending;  // temporaries not yet renamed
  try {
    varndel::OptimizeOptions options;
    options.overdraw = !noOverdraw;
    options.animationTolerance = tolerance;
    options.animationDistance = distance;
    options.keysOnly = keysOnly;
    // Progress lines for the long steps, on a terminal's stderr only.
    progress::Line meshes("varndel-opt: optimising meshes", !quiet);
    progress::Line keys("varndel-opt: reducing keys, poses measured", !quiet && tolerance >= 0.0f);
    progress::Line levels("varndel-opt: levels of detail", !quiet);
    options.meshProgress = meshes.Callback();
    options.progress = keys.Callback();
    const size_t keysBefore = varndel::CountKeys(model.animation);
    if (tolerance >= 0.0f && model.animated && distance < 0.0f)
      options.animationDistance = distance = float(varndel::DefaultAnimationDistance(model));
    const std::vector<std::string> optimizeWarnings = varndel::OptimizeModel(model, options);
    meshes.Finish();
    keys.Finish();
    PrintWarnings(optimizeWarnings, verbose);
    if (tolerance >= 0.0f && model.animated) {
      std::cout << "keys: " << keysBefore << " -> " << varndel::CountKeys(model.animation) << " (tolerance "
                << tolerance << ", distance " << distance << ")\n";
    }
    // Every file goes to a temporary first; they are renamed, the output
    // last, only when all are written and checked.
    std::string error;
    pending.resize(1);
    if (!WriteCheckedTemporary(output, varndel::WriteModel(model), pending[0], error)) {
      return Fail(kExitWriteFailed, error);
    }
    LodRequest request{ratios, !noOverdraw, true};
    std::vector<std::string> warnings;
    std::ostringstream report;
    const bool written = WriteLodFiles(model, output, request, report, warnings, error, &pending, levels.Callback());
    levels.Finish();
    PrintWarnings(warnings, verbose);
    if (!written) {
      DiscardFiles(pending);
      return Fail(kExitWriteFailed, error);
    }
    std::rotate(pending.begin(), pending.begin() + 1, pending.end());
    if (!CommitFiles(pending, error)) return Fail(kExitWriteFailed, error);
    std::cout << "wrote " << output << '\n' << report.str();
  } catch (const std::bad_alloc&) {
    DiscardFiles(pending);
    return Fail(kExitWriteFailed, "out of memory");
  } catch (const std::exception& e) {
    DiscardFiles(pending);
    return Fail(kExitWriteFailed, e.what());
  }
  return kExitOk;
}
