// varndel-edge: compiles one model for a build system (see main.cpp).
#pragma once

#include <iosfwd>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct ModelContainer;

// Paths are absolute by the time RunEdge sees them: it changes directory.
struct EdgeRequest {
  std::string animated;       // "0" or "1", as Varndel takes it
  std::string flipUVs;        // "0" or "1"
  std::string assetRoot;      // the directory a direct run would be started in
  std::string model;          // relative to assetRoot, exactly as a direct run gets it
  std::string output;         // the compiled file
  std::string logDir;         // receives Logs/Log.txt
  std::string depfile;        // empty: none written
  std::string depfileTarget;  // the output as the build file names it
  // When set, the only files the import may open (absolute, lexically
  // normal, made so from the starting working directory, never from a
  // resolved link): a sandbox that shows only declared files would otherwise
  // change the output silently. Any other file is absent to the import.
  std::optional<std::set<std::string>> declaredInputs;
  // When set (with declaredInputs), the files that exist beside the declared
  // ones (same form): only a look at one of these fails the model. A look at
  // any other undeclared file is a probe for an optional file, which is
  // simply absent, as in a direct run. Unset: every undeclared look fails.
  std::optional<std::set<std::string>> knownFiles;
  bool optimize = false;      // run varndel-opt's step before writing
  std::vector<float> lods;    // LOD ratios (with optimize): <stem>.lodN<ext> beside the output
  std::string texturesDirectory;  // when set, receives the embedded textures (extract/textures.h)
  std::string texturesManifest;   // when set (with texturesDirectory), lists that directory's files
  float animationTolerance = -1.0f;  // model units (with optimize); negative: keys untouched
  float animationDistance = -1.0f;   // model units (with a tolerance); negative: the default
  // Take selectors (edge/takes.h): each selected take is also compiled, as
  // if it were the file's first animation, into TakeFilePath(output, part),
  // and varndel::TakesRecordPath(output) lists those files.
  std::vector<std::string> animations;
  // Parts that a build file declares: each must be the file of a selected
  // take, or the run fails (a name that several takes share gets take<N>).
  std::vector<std::string> expectedTakes;
  bool clipsOnly = false;  // take files without meshes (hierarchy, tracks, bone-info map)
};

// The import opened, or looked for, files that are not among the declared
// inputs (absolute paths, sorted). Nothing is written then.
struct UndeclaredInputsError : std::runtime_error {
  explicit UndeclaredInputsError(std::set<std::string> opened, std::set<std::string> lookedFor)
      : std::runtime_error("undeclared inputs"), opened(std::move(opened)), lookedFor(std::move(lookedFor)) {}
  std::set<std::string> opened;
  std::set<std::string> lookedFor;  // by an existence test alone
};

// Runs the compiler's stages; returns its exit code (0, -1 or -666). The
// compiled file appears at request.output only on success. console receives
// what the compiler prints, warnings the optimiser's warnings. Throws
// UndeclaredInputsError.
int RunEdge(const EdgeRequest& request, std::ostream& console, std::ostream& warnings);

// Removes the outputs of a failed model: the output and LOD files and the
// manifest (a directory at their names stays), and the textures directory
// only when a run of this tool made it. The run's temporaries are gone
// already (RunEdge removes them on every way out).
void DiscardEdgeOutputs(const EdgeRequest& request);

// Why request cannot run without harming a file that is not its own (an
// output naming the model, a textures directory this tool did not make), or
// empty. Checked before anything is written.
std::string RefusedEdgeOutput(const EdgeRequest& request);

// Reads a list of files, one path per line (relative to the working
// directory, or absolute), into the form of declaredInputs. what names the
// list in errors.
std::set<std::string> ReadFileList(const std::string& listFile, const std::string& what);

// A path as Make and Ninja read it in a depfile. Throws std::runtime_error,
// naming the path, for one that they cannot both read back.
std::string EscapeDepfilePath(const std::string& path);
