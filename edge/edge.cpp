// The build step of one model: the compiler's stages with the import in the
// asset root and the log and output in the build tree.
#include "edge/edge.h"

#include <assimp/DefaultIOSystem.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <varndel/optimize.h>
#include <varndel/takes.h>
#include <varndel/writer.h>

#include "extract/textures.h"
#include "log/log.h"
#include "model/model.h"
#include "edge/takes.h"
#include "opt/files.h"
#include "reader/file_access.h"
#include "reader/text.h"

namespace fs = std::filesystem;

namespace {

std::string NormalPath(const fs::path& path) { return fs::absolute(path).lexically_normal().string(); }

// A name as the lists of declared and existing files hold it. The import runs
// in the asset root, and the working directory's own path has its links
// resolved (outside a sandbox, Bazel's execution root links each top
// directory into the source tree), so a relative name is joined to the asset
// root as the edge was given it.
std::string DeclaredForm(const fs::path& assetRoot, const std::string& file) {
  const fs::path path(file);
  return (path.is_relative() ? assetRoot / path : path).lexically_normal().string();
}

// Assimp's own file access, noting each file that was actually opened. With
// a list of declared inputs, any other file is absent to the import (as a
// sandbox shows it); a look at one that is known to exist (or at any, when
// no list of known files is given) is noted as undeclared.
class RecordingIOSystem : public Assimp::DefaultIOSystem {
 public:
  struct Lists {
    const std::optional<std::set<std::string>>& declared;
    const std::optional<std::set<std::string>>& known;
  };
  RecordingIOSystem(fs::path assetRoot, Lists lists, std::set<std::string>& opened,
                    std::set<std::string>& undeclaredOpened, std::set<std::string>& undeclaredLookedFor)
      : assetRoot_(std::move(assetRoot)),
        lists_(lists),
        opened_(opened),
        undeclaredOpened_(undeclaredOpened),
        undeclaredLookedFor_(undeclaredLookedFor) {}
  bool Exists(const char* file) const override {
    if (!lists_.declared) return DefaultIOSystem::Exists(file);
    const std::string key = KeyOf(file);
    if (lists_.declared->count(key) != 0) return DefaultIOSystem::Exists(file);
    // Without a list of known files an existence test stays silent, as before.
    if (lists_.known && lists_.known->count(key) != 0) undeclaredLookedFor_.insert(key);
    return false;
  }
  Assimp::IOStream* Open(const char* file, const char* mode) override {
    if (lists_.declared) {
      const std::string key = KeyOf(file);
      if (lists_.declared->count(key) == 0) {
        if (!lists_.known || lists_.known->count(key) != 0) undeclaredOpened_.insert(key);
        return nullptr;
      }
    }
    Assimp::IOStream* stream = DefaultIOSystem::Open(file, mode);
    if (stream != nullptr) opened_.insert(NormalPath(file));
    return stream;
  }

 private:
  std::string KeyOf(const char* file) const { return DeclaredForm(assetRoot_, file); }

  fs::path assetRoot_;
  Lists lists_;
  std::set<std::string>& opened_;
  std::set<std::string>& undeclaredOpened_;
  std::set<std::string>& undeclaredLookedFor_;
};

}  // namespace

// A path as a case-insensitive file system compares it (ASCII case).
static std::string FoldedPath(std::string path) {
  for (char& c : path) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return path;
}

// Whether the file at path holds exactly text.
static bool FileHolds(const std::string& path, const std::string& text) {
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file) return false;
  std::string held(text.size() + 1, '\0');
  file.read(held.data(), static_cast<std::streamsize>(held.size()));
  return static_cast<size_t>(file.gcount()) == text.size() && held.compare(0, text.size(), text) == 0;
}

// Writes the depfile of a compiled model: the output, then every file that
// the import opened. A rebuild usually reads the same files, and then the
// depfile is left alone: replacing a file by rename makes ext4 start writing
// the new one out at once, which costs a few per cent of a small model.
static void WriteDepfile(const std::string& path, const std::string& target, const std::set<std::string>& inputs) {
  std::string text = EscapeDepfilePath(target) + ":";
  for (const std::string& input : inputs) text += " \\\n  " + EscapeDepfilePath(input);
  text += "\n";
  if (FileHolds(path, text)) return;
  std::string reason;
  if (!varndel::file_access::WriteOutputFile(path, text, reason)) throw std::runtime_error(reason);
}

std::set<std::string> ReadFileList(const std::string& listFile, const std::string& what) {
  std::ifstream file(listFile, std::ios::in | std::ios::binary);
  if (!file) throw std::runtime_error("cannot read the list of " + what + " " + listFile);
  std::set<std::string> inputs;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) inputs.insert(NormalPath(line));
  }
  if (file.bad()) throw std::runtime_error("cannot read the list of " + what + " " + listFile);
  return inputs;
}

// Ninja (1.11) and GNU Make agree on these rules: a space is escaped by a
// backslash, and the backslashes right before it are doubled; '#' takes a
// backslash; '$' is doubled; ':' takes a backslash (Make would read a rule);
// any other backslash is itself. What they read differently (backslashes
// right before '#' or at the end of a name) or not at all (line breaks,
// tabs) cannot be written.
std::string EscapeDepfilePath(const std::string& path) {
  const auto refuse = [&path](const char* why) {
    std::string shown;
    for (const char c : path) shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
    return std::runtime_error("cannot list '" + shown + "' in the depfile: " + why);
  };
  std::string escaped;
  size_t backslashes = 0;  // in a row, just before c
  for (size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '\n' || c == '\r' || c == '\t') throw refuse("Ninja and Make cannot read a line break or tab in a name");
    if (c == '#' && backslashes > 0) throw refuse("Ninja and Make read a backslash before '#' differently");
    if (c == ' ') escaped.append(backslashes + 1, '\\');
    if (c == '#') escaped += '\\';
    if (c == '$') escaped += '$';
#ifdef _WIN32
    const bool driveColon = c == ':' && i == 1;  // "C:/...": both read it as it is
#else
    const bool driveColon = false;
#endif
    if (c == ':' && !driveColon) escaped += '\\';
    escaped += c;
    backslashes = c == '\\' ? backslashes + 1 : 0;
  }
  if (backslashes > 0) throw refuse("Ninja and Make read a backslash at the end of a name differently");
  return escaped;
}

// A previous output at path is removed as a file; a directory there is not
// this tool's output and stays.
static void RemoveOutputFileAt(const std::string& path) {
  std::error_code ignored;
  if (!fs::is_directory(fs::symlink_status(path, ignored))) fs::remove(path, ignored);
}

// The take files that the record beside output lists: names only, each of
// the form "<stem>.<part>.animbin" without a separator, so that an edited
// record cannot name any other file.
static std::vector<std::string> RecordedTakeFiles(const std::string& output) {
  std::ifstream record(varndel::TakesRecordPath(output), std::ios::in | std::ios::binary);
  std::vector<std::string> files;
  const std::string prefix = fs::path(output).replace_extension().filename().string() + ".";
  const std::string suffix = ".animbin";
  for (std::string line; std::getline(record, line);) {
    const std::string name = line.substr(0, line.find('\t'));
    if (line.empty() || line[0] == '#' || name.find_first_of("/\\") != std::string::npos) continue;
    if (name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      files.push_back((fs::path(output).parent_path() / name).string());
    }
  }
  return files;
}

void DiscardEdgeOutputs(const EdgeRequest& request) {
  RemoveOutputFileAt(request.output);
  for (size_t n = 1; n <= request.lods.size(); ++n) {
    RemoveOutputFileAt(varndel::LodPath(request.output, n, request.animated == "1"));
  }
  if (!request.texturesDirectory.empty()) {
    // Only a directory a run of this tool made; anything else stays whole.
    const std::vector<std::string> listed = request.texturesManifest.empty()
                                                ? std::vector<std::string>{}
                                                : varndel::file_access::ReadManifestNames(request.texturesManifest);
    std::string ignored;
    varndel::file_access::RemoveOutputDirectory(request.texturesDirectory, listed, ignored);
  }
  if (!request.texturesManifest.empty()) RemoveOutputFileAt(request.texturesManifest);
  if (!request.animations.empty()) {
    for (const std::string& take : RecordedTakeFiles(request.output)) RemoveOutputFileAt(take);
    RemoveOutputFileAt(varndel::TakesRecordPath(request.output));
  }
}

std::string RefusedEdgeOutput(const EdgeRequest& request) {
  std::error_code ignored;
  const fs::path model = fs::path(request.assetRoot) / request.model;
  std::vector<std::string> files = {request.output, request.depfile, request.texturesManifest};
  for (size_t n = 1; n <= request.lods.size(); ++n) {
    files.push_back(varndel::LodPath(request.output, n, request.animated == "1"));
  }
  for (const std::string& file : files) {
    if (!file.empty() && fs::equivalent(file, model, ignored)) {
      return "refusing to write " + file + ": it is the model " + request.model;
    }
  }
  if (request.texturesDirectory.empty()) return {};
  const std::vector<std::string> listed = request.texturesManifest.empty()
                                              ? std::vector<std::string>{}
                                              : varndel::file_access::ReadManifestNames(request.texturesManifest);
  return varndel::file_access::CheckReplaceableDirectory(request.texturesDirectory, listed);
}

// The embedded textures that the converted model references, as
// CollectEmbeddedTextures finds them; a file the import may not see is no
// file here either.
static std::vector<ExtractedTexture> CollectEdgeTextures(const aiScene& scene, const ModelContainer& mc,
                                                         const EdgeRequest& request, const fs::path& assetRoot,
                                                         const std::set<std::string>& opened) {
  const auto exists = [&](const std::string& path) {
    std::error_code ignored;
    return (!request.declaredInputs || request.declaredInputs->count(DeclaredForm(assetRoot, path)) != 0) &&
           fs::is_regular_file(path, ignored);
  };
  return CollectEmbeddedTextures(scene, mc.loadedTextures, ImportedBytes(opened), exists);
}

// varndel-opt's step on the container's meshes, through the reader's model:
// the same records, so the bytes equal those of Varndel plus varndel-opt.
static void OptimizeContainer(ModelContainer& mc, std::ostream& warnings) {
  varndel::Model model;
  model.meshes.resize(mc.meshes.size());
  for (size_t m = 0; m < mc.meshes.size(); ++m) {
    model.meshes[m].vertices = std::move(mc.meshes[m].vertices);
    model.meshes[m].indices = std::move(mc.meshes[m].indices);
  }
  for (const std::string& warning : varndel::OptimizeModel(model)) {
    warnings << "varndel-opt: warning: " << warning << '\n';
  }
  for (size_t m = 0; m < mc.meshes.size(); ++m) {
    mc.meshes[m].vertices = std::move(model.meshes[m].vertices);
    mc.meshes[m].indices = std::move(model.meshes[m].indices);
  }
}

// varndel-opt's key reduction on the verified output, whose temporary file
// is replaced by one holding the reduced image: the container holds no
// varndel::Animation, the file does.
static void ReduceEdgeKeys(OutputFile& file, float tolerance, float distance) {
  varndel::Model model;
  varndel::ReadError readError;
  if (!varndel::ReadModelFile(file.temporary, model, &readError)) {
    throw std::runtime_error("cannot read back " + file.target + ": " + varndel::FormatReadError(readError));
  }
  if (!model.animated) return;
  varndel::ReduceKeys(model, tolerance, distance);
  std::string error;
  OutputFile reduced;
  if (!WriteCheckedTemporary(file.target, varndel::WriteModel(model), reduced, error)) {
    throw std::runtime_error(error);
  }
  file = std::move(reduced);
}

// The LOD files of the verified output (read back from its temporary), and
// their report in the log directory, all pending for the commit.
static void WriteEdgeLods(const EdgeRequest& request, const OutputFile& output, const fs::path& logDir,
                          std::ostream& warnings, std::vector<OutputFile>& pending) {
  varndel::Model base;
  varndel::ReadError readError;
  if (!varndel::ReadModelFile(output.temporary, base, &readError)) {
    throw std::runtime_error("cannot read back " + output.target + ": " + varndel::FormatReadError(readError));
  }
  std::ostringstream report;
  std::vector<std::string> lodWarnings;
  std::string error;
  const bool written =
      WriteLodFiles(base, request.output, LodRequest{request.lods, true}, report, lodWarnings, error, &pending);
  for (const std::string& warning : lodWarnings) warnings << "varndel-opt: warning: " << warning << '\n';
  if (!written) throw std::runtime_error(error);
  namespace access = varndel::file_access;
  OutputFile& file = pending.emplace_back();
  if (!access::CreateOutputFile((logDir / "lods.txt").string(), file, error) ||
      !access::AppendOutputFile(file, report.str(), error) || !access::CloseOutputFile(file, error)) {
    throw std::runtime_error(error);
  }
}

// The clip form of a take's file: the same image without meshes (and so
// without textures); hierarchy, tracks and bone-info map as they are.
static std::string ClipBytes(const std::string& takeBytes, const std::string& path) {
  varndel::Model model;
  varndel::ReadError readError;
  if (!varndel::ReadModel(takeBytes.data(), takeBytes.size(), model, &readError)) {
    throw std::runtime_error("cannot read back " + path + ": " + varndel::FormatReadError(readError));
  }
  model.meshes.clear();
  model.textureCount = 0;
  return varndel::WriteModel(model);
}

// Compiles each selected take of scene into a temporary beside its file, as
// the output is compiled (optimised, verified against the container, keys
// reduced), appending them to pending, then the record of the take files.
// Returns 0, or the compiler's code (-1, -666) for a take that failed.
static int WriteTakeTemporaries(const aiScene& scene, const ModelContainer& mc, const EdgeRequest& request,
                                std::ostream& console, std::vector<OutputFile>& pending) {
  if (!mc.isAnimatedModel) throw std::runtime_error("--animation needs an animated compile (<isAnimatedModel> 1)");
  const std::vector<TakeInfo> takes = TakesOf(scene);
  const std::vector<size_t> selected = SelectTakes(takes, request.animations, request.model);
  const std::vector<std::string> parts = TakeFileParts(takes);
  CheckTakeFileNames(takes, parts, selected);
  for (const std::string& expected : request.expectedTakes) {
    if (std::any_of(selected.begin(), selected.end(), [&](size_t i) { return parts[i] == expected; })) continue;
    std::string sharing;
    for (size_t i = 0; i < takes.size(); ++i) {
      if (takes[i].name == expected) sharing += (sharing.empty() ? "" : ", ") + std::to_string(i);
    }
    throw std::runtime_error(TakeFilePath(request.output, expected) + " is declared, but no take is written there" +
                             (sharing.empty() ? std::string()
                                              : ": the takes " + sharing + " share the name " +
                                                    varndel::text::QuoteName(expected) +
                                                    ", so each is written as take<N>; select them by index"));
  }
  // The run's other files keep their names: a take named "lod1" would
  // otherwise replace a LOD file.
  std::set<std::string> taken{FoldedPath(request.output)};
  for (size_t n = 1; n <= request.lods.size(); ++n) taken.insert(FoldedPath(varndel::LodPath(request.output, n, true)));
  for (const size_t i : selected) {
    if (taken.count(FoldedPath(TakeFilePath(request.output, parts[i]))) != 0) {
      throw std::runtime_error("take " + std::to_string(i) + " " + varndel::text::QuoteName(takes[i].name) +
                               " would overwrite " + TakeFilePath(request.output, parts[i]) +
                               ", which this run writes too");
    }
  }

  std::string record = "# take files of " + varndel::text::QuoteName(request.model) +
                       " (varndel-edge): file, take index, take name, kind\n";
  std::ostringstream ignoredWarnings;  // the output's warnings, once more
  for (const size_t i : selected) {
    const std::string path = TakeFilePath(request.output, parts[i]);
    ModelContainer take;
    int code = ConvertTake(scene, i, mc, take);
    take.outputFileName = fs::path(path).filename().string();
    if (code == kSuccess && request.optimize) OptimizeContainer(take, ignoredWarnings);
    if (code == kSuccess) code = SerializeModel(take, take.outputBuffer);
    if (code != kSuccess) {
      LogError("MC Error: (%d)\n", code);
      return -1;
    }
    OutputFile& file = pending.emplace_back();
    std::string error;
    if (!WriteCheckedTemporary(path, take.outputBuffer, file, error)) throw std::runtime_error(error);
    if (VerifyModelFile(file.temporary, take, console)) return -666;
    if (request.animationTolerance >= 0.0f) {
      ReduceEdgeKeys(file, request.animationTolerance, request.animationDistance);
    }
    if (request.clipsOnly) {
      std::string bytes, reason;
      if (!varndel::file_access::ReadRegularFile(file.temporary, bytes, reason)) throw std::runtime_error(reason);
      OutputFile clip;
      if (!WriteCheckedTemporary(path, ClipBytes(bytes, path), clip, error)) throw std::runtime_error(error);
      file = std::move(clip);  // the full take's temporary goes
    }
    record += varndel::TakeRecordLine(fs::path(path).filename().string(), i, takes[i].name, request.clipsOnly);
  }
  std::string error;
  if (!WriteCheckedTemporary(varndel::TakesRecordPath(request.output), record, pending.emplace_back(), error)) {
    throw std::runtime_error(error);
  }
  return 0;
}

// The stages of GenerateModelFile and the entry point, in their order and
// with their messages, except that the import runs in the asset root while
// the log and the output live in the build tree. The logger opens
// Logs/Log.txt in the working directory at the first message, so the first
// message is logged from logDir, and only then does the run move to the
// asset root.
int RunEdge(const EdgeRequest& request, std::ostream& console, std::ostream& warnings) {
  const fs::path assetRoot = fs::absolute(request.assetRoot);
  const fs::path output = fs::absolute(request.output);
  const fs::path logDir = fs::absolute(request.logDir);
  const std::string depfile = request.depfile.empty() ? std::string() : fs::absolute(request.depfile).string();
  fs::create_directories(logDir);
  fs::create_directories(output.parent_path());
  fs::current_path(logDir);

  ModelContainer& mc = modelContainer;
  const char* const arguments[] = {"Varndel", request.animated.c_str(), request.flipUVs.c_str(), request.model.c_str()};
  console << "\033[0m";
  if (const int code = ParseArguments(4, arguments, mc); code != kSuccess) {
    LogError("MC Error: (%d)\n", code);
    return -1;
  }

  LogInfo("Loading raw model...\n");
  if (!fs::is_regular_file(logDir / "Logs" / "Log.txt")) {
    // Moving on would let the logger create Logs/ in the asset root.
    throw std::runtime_error("cannot create " + (logDir / "Logs" / "Log.txt").string());
  }
  std::set<std::string> opened;
  std::set<std::string> undeclaredOpened;
  std::set<std::string> undeclaredLookedFor;
  std::error_code error;
  fs::current_path(assetRoot, error);
  if (error) throw std::runtime_error("cannot enter the asset root " + assetRoot.string() + ": " + error.message());
  std::vector<ExtractedTexture> textures;
  // The take files wait as temporaries until the output is in place; any
  // failure before that removes them (OutputFile's destructor).
  std::vector<OutputFile> takeFiles;
  int takesCode = 0;
  SceneVisitor visit;
  if (!request.texturesDirectory.empty() || !request.animations.empty()) {
    visit = [&](const aiScene& scene) {
      if (!request.texturesDirectory.empty()) {
        textures = CollectEdgeTextures(scene, mc, request, assetRoot, opened);
      }
      if (!request.animations.empty()) takesCode = WriteTakeTemporaries(scene, mc, request, console, takeFiles);
    };
  }
  OutputFile file;  // the compiled image, until it is renamed into place
  int code = LoadModel(mc,
                       std::make_unique<RecordingIOSystem>(
                           assetRoot, RecordingIOSystem::Lists{request.declaredInputs, request.knownFiles}, opened,
                           undeclaredOpened, undeclaredLookedFor),
                       visit);
  fs::current_path(logDir);
  if (!undeclaredOpened.empty() || !undeclaredLookedFor.empty()) {
    throw UndeclaredInputsError(std::move(undeclaredOpened), std::move(undeclaredLookedFor));
  }
  if (code == kSuccess) {
    LogInfo("Successfully loaded raw model.\n");
    LogInfo("Generating binary model file...\n");
    if (request.optimize) OptimizeContainer(mc, warnings);
    code = WriteModelImage(mc, output.string(), file);
  }
  if (code != kSuccess) {
    LogError("MC Error: (%d)\n", code);
    return -1;
  }

  if (takesCode != 0) return takesCode;
  if (VerifyModelFile(file.temporary, mc, console)) return -666;
  if (request.animationTolerance >= 0.0f) {
    ReduceEdgeKeys(file, request.animationTolerance, request.animationDistance);
  }
  // Every other file is written aside first; the output is renamed last.
  std::vector<OutputFile> pending;
  if (!request.lods.empty()) WriteEdgeLods(request, file, logDir, warnings, pending);
  varndel::file_access::OutputDirectory texturesDirectory;
  std::string reason;
  if (!request.texturesDirectory.empty()) {
    // What the previous run's manifest lists is that run's own.
    const std::vector<std::string> listed = request.texturesManifest.empty()
                                                ? std::vector<std::string>{}
                                                : varndel::file_access::ReadManifestNames(request.texturesManifest);
    WriteTexturesDirectory(textures, request.texturesDirectory, listed, texturesDirectory);
    if (!request.texturesManifest.empty()) {
      WriteTexturesManifest(textures, request.texturesManifest, pending.emplace_back());
    }
    if (!varndel::file_access::CommitOutputDirectory(texturesDirectory, listed, reason)) {
      throw std::runtime_error(reason);
    }
  }
  pending.push_back(std::move(file));
  if (!CommitFiles(pending, reason)) throw std::runtime_error(reason);
  if (!request.animations.empty()) {
    const std::vector<std::string> previous = RecordedTakeFiles(request.output);
    if (!CommitFiles(takeFiles, reason)) throw std::runtime_error(reason);
    // A take that is gone from the source, or no longer selected, takes its
    // file along, unless this run wrote that name anew (a take once named
    // "lod1" left a file that is now a LOD file).
    std::set<std::string> written{FoldedPath(request.output)};
    for (const OutputFile& take : takeFiles) written.insert(FoldedPath(take.target));
    for (size_t n = 1; n <= request.lods.size(); ++n) {
      written.insert(FoldedPath(varndel::LodPath(request.output, n, true)));
    }
    takeFiles.clear();
    for (const std::string& stale : previous) {
      if (written.count(FoldedPath(stale)) == 0) RemoveOutputFileAt(stale);
    }
  }
  if (!depfile.empty()) WriteDepfile(depfile, request.depfileTarget, opened);
  return 0;
}
