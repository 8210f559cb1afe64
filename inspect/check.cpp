// varndel-inspect check FILE...: judges compiled files the way an engine
// would load them (varndel::ValidateModel, plus the texture files), one line
// per finding. Files are mapped, not read into memory.
#include <CLI/CLI.hpp>
#include <varndel/mapped.h>
#include <varndel/textures.h>

#include <filesystem>
#include <iostream>
#include <system_error>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "inspect/report.h"

namespace inspect {

namespace {

// Stored texture paths resolved against the working directory and the
// compiled file's own.
varndel::TextureLookup TexturesBeside(const std::string& path) {
  return [&path](const std::string& stored) {
    std::vector<std::string> candidates;
    if (varndel::ResolveTexture(stored, path, &candidates)) return std::string();
    std::string tried;
    for (const std::string& candidate : candidates) tried += (tried.empty() ? "" : ", ") + QuoteName(candidate);
    if (varndel::EmbeddedTextureIndex(stored)) {
      // Advice to extract only when nothing was: a directory that lacks the
      // file was extracted without it.
      for (const std::string& directory : varndel::TexturesDirectoriesOf(path)) {
        std::error_code ignored;
        if (std::filesystem::is_directory(directory, ignored)) {
          return "embedded texture not among the extracted textures (no " + tried + ")";
        }
      }
      return "embedded texture not extracted (no " + tried +
             "); compile with varndel-edge --extract-textures, or EXTRACT_TEXTURES in varndel_add_models";
    }
    return "file not found; tried " + tried;
  };
}

}  // namespace

std::vector<Finding> CheckModel(const varndel::Model& model, const std::string& path) {
  return varndel::ValidateModel(model, TexturesBeside(path));
}

std::vector<Finding> CheckModel(const varndel::MappedModel& view, const std::string& path) {
  return varndel::ValidateModel(view, TexturesBeside(path));
}

std::string FormatFinding(const Finding& finding, const std::string& path, const Palette& palette) {
  const bool error = finding.severity == varndel::Severity::kError;
  return (error ? palette.Red("error") : palette.Yellow("warning")) + ": " + path + ": " + finding.element + ": " +
         finding.message;
}

}  // namespace inspect

int RunCheck(int argc, char** argv) {
  CLI::App app{
      "Judges compiled model files the way an engine would load them. Prints one line per finding and a "
      "summary.\nExit 0 without errors (warnings allowed), 1 with errors, 2 when a file cannot be read.",
      "varndel-inspect check"};
  std::vector<std::string> files;
  app.add_option("FILE", files, "compiled model files")->required();
  const int parsed = inspect::ParseCommandLine(app, argc, argv);
  if (parsed >= 0) return parsed;

  const inspect::Palette palette{inspect::StdoutWantsColour()};
  uint64_t errors = 0, warnings = 0, unreadable = 0;
  for (const std::string& file : files) {
    // Used in place: the checks read each record once, so copying the
    // blocks into a Model first would only double the memory.
    varndel::MappedModel view;
    varndel::ReadError readError;
    if (!view.Open(file, &readError)) {
      ++unreadable;
      const std::string kind = varndel::DescribeNotCompiledModelFile(file);
      std::cout << palette.Red("error") << ": " << file << ": "
                << (kind.empty() ? inspect::DescribeReadError(readError) : kind) << "\n";
      continue;
    }
    for (const inspect::Finding& finding : inspect::CheckModel(view, file)) {
      ++(finding.severity == varndel::Severity::kError ? errors : warnings);
      std::cout << inspect::FormatFinding(finding, file, palette) << "\n";
    }
  }
  std::cout << "checked " << inspect::CountOf(files.size(), "file", "files") << ": "
            << inspect::CountOf(errors, "error", "errors") << ", " << inspect::CountOf(warnings, "warning", "warnings");
  if (unreadable > 0) std::cout << ", " << unreadable << " unreadable";
  std::cout << std::endl;
  if (unreadable > 0) return inspect::kExitUnreadable;
  return errors > 0 ? inspect::kExitFindings : inspect::kExitOk;
}
