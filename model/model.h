// Varndel: the compiled model and every stage of the pipeline that builds,
// writes and checks it. Records whose memory image is the file image carry
// static_asserts; the rest are ordinary owning values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <varndel/records.h>

namespace varndel::file_access {
struct OutputFile;
}

struct aiScene;
struct aiNode;
struct aiMesh;
struct aiMaterial;
struct aiAnimation;
struct aiNodeAnim;
template <typename TReal>
class aiMatrix4x4t;
namespace Assimp {
class IOSystem;
}

using Vec2 = varndel::Vec2;
using Vec3 = varndel::Vec3;
using Vec4 = varndel::Vec4;
using Mat4 = varndel::Mat4;

// ---------------------------------------------------------------------------
// Records (shared with the reader library)

using Vertex = varndel::Vertex;
using PositionKey = varndel::PositionKey;
using RotationKey = varndel::RotationKey;
using ScaleKey = varndel::ScaleKey;

// Texture path -> aiTextureType number. std::string compares like memcmp, so
// the map iterates in unsigned byte-wise order, which the file layout needs.
using TextureMap = std::map<std::string, uint32_t>;

struct Mesh {
  std::vector<uint32_t> indices;
  std::vector<Vertex> vertices;
  TextureMap textures;

  Mesh() = default;
  Mesh(std::vector<Vertex> v, std::vector<uint32_t> i, TextureMap t)
      : indices(std::move(i)), vertices(std::move(v)), textures(std::move(t)) {}
};

struct HierarchyNode {
  Mat4 transformation{};  // a new node is all zeros, not the identity
  std::string name;
  uint32_t childrenCount = 0;  // equals children.size() once filled
  std::vector<HierarchyNode> children;

  HierarchyNode() = default;
  HierarchyNode(const HierarchyNode&) = default;
  HierarchyNode(HierarchyNode&&) noexcept = default;
  HierarchyNode& operator=(const HierarchyNode&) = default;
  HierarchyNode& operator=(HierarchyNode&&) noexcept = default;
  // Tears the subtree down with an explicit stack: trees read from a hostile
  // file can be far deeper than the call stack allows.
  ~HierarchyNode();
};

struct Bone {
  std::vector<PositionKey> m_Positions;
  std::vector<RotationKey> m_Rotations;
  std::vector<ScaleKey> m_Scales;
  int32_t m_NumPositions = 0;
  int32_t m_NumRotations = 0;
  int32_t m_NumScalings = 0;
  float m_PosKeyMaxTime = 0.0f;  // never below 0
  float m_RotKeyMaxTime = 0.0f;
  float m_ScaleKeyMaxTime = 0.0f;
  std::string m_Name;
  int32_t m_ID = 0;
};

struct BoneInfo {
  int32_t ID = 0;
  Mat4 offset{};  // mesh space to bone space
};

using BoneInfoMap = std::map<std::string, BoneInfo>;

// The one state of a compilation run ("MC" in the verifier's report).
struct ModelContainer {
  // run settings, from the command line
  bool isAnimatedModel = false;
  bool flipUVs = false;
  std::string inputFile;       // extension lower-cased
  std::string givenInputFile;  // argv[3] as given, opened when inputFile is not found
  std::string outputFileName;  // file name with extension, never a directory
  // set by the import
  std::string modelDirectory;
  std::vector<Mesh> meshes;
  std::vector<std::string> loadedTextures;  // distinct texture paths, first-seen order
  float animDuration = 0.0f;                // ticks
  double TicksPerSecond = 0.0;
  HierarchyNode rootNode;
  std::vector<Bone> bones;
  BoneInfoMap boneInfoMap;
  int32_t boneCounter = 0;
  // set by the writer
  std::string outputBuffer;
  bool outputFileOpened = false;  // the run began writing the output path
};

// The process-wide container that the argument-less stages work on.
extern ModelContainer modelContainer;

// ---------------------------------------------------------------------------
// Pipeline error codes (0 is success)

enum ErrorCode : int {
  kSuccess = 0,
  kBadArguments = 2,
  kImportFailed = 4,
  kOutputOpenFailed = 5,
  kOutputWriteFailed = 6,
  kMeshTooLarge = 7,
  kFormatLimitExceeded = 8,  // the model has more than the layout can count
};

// ---------------------------------------------------------------------------
// driver/: entry point, arguments, paths, removal

// The whole run; returns the exit code (-1, 0 or -666).
int RunCompiler(int argc, char** argv);
// The whole run as the Varndel executable makes it, repeatable in one
// process: starts from an empty container and a closed log, and ends a run
// whose failure arrives as an exception (log directory, removal, memory, a
// logger misuse) with one line on standard error and -1. On success
// outputPath (when given) receives the compiled file's path. The container's
// model is released before returning.
int RunCompilerProcess(int argc, char** argv, std::string* outputPath = nullptr);

int ParseArguments(int argc, char** argv);
int ParseArguments(int argc, const char* const* argv, ModelContainer& mc);

// Path vocabulary: '\' and '/' both separate components on every platform.
bool IsSeparator(char c);
size_t RootLength(std::string_view path);  // drive prefix plus separators after it
std::string_view FileNameOf(std::string_view path);
std::string_view ExtensionOf(std::string_view fileName);
std::string_view ParentPathOf(std::string_view path);

// Where the output file goes: next to the input, or the working directory
// when the input has no directory part. Writer, verifier and removal share it.
std::string OutputPathOf(const ModelContainer& mc);

void RemoveOutputFile();
void RemoveOutputFile(const ModelContainer& mc);

// ---------------------------------------------------------------------------
// import/: scene import and conversion

// Assimp post-processing flags: 73, or 8388681 with flipped UVs.
unsigned ImportFlags(bool flipUVs);

int LoadModel();
int LoadModel(ModelContainer& mc);
// Sees the imported scene after a successful conversion, while it still lives.
using SceneVisitor = std::function<void(const aiScene& scene)>;
// As above, with every file the import opens going through io (null: Assimp's
// default file access), and the scene shown to visit when given.
int LoadModel(ModelContainer& mc, std::unique_ptr<Assimp::IOSystem> io, const SceneVisitor& visit = nullptr);

// Turns an imported scene into the container (animation, model directory,
// meshes). Returns 0, or 4 when the scene's indices point outside its arrays.
int ConvertScene(const aiScene& scene, ModelContainer& mc);

Mat4 ToColumnMajor(const aiMatrix4x4t<float>& m);

Mesh BuildMesh(const aiMesh& mesh, const aiScene& scene, ModelContainer& mc);
TextureMap CollectMaterialTextures(const aiMaterial& material, ModelContainer& mc);
// Texture file name joined onto the model directory, Windows-style.
std::string JoinTexturePath(std::string_view modelDirectory, std::string_view fileName);
void AssignBoneWeights(std::vector<Vertex>& vertices, const aiMesh& mesh, ModelContainer& mc);

void ImportAnimation(const aiScene& scene, ModelContainer& mc);
void CopyNodeHierarchy(HierarchyNode& destination, const aiNode& source);
void BuildBoneTracks(const aiAnimation& animation, ModelContainer& mc);
Bone BuildBone(const std::string& name, int32_t id, const aiNodeAnim& channel);

// ---------------------------------------------------------------------------
// format/: file image and writer

// Appends the file image of mc to out. Returns 0, 7 or 8 (and logs why).
int SerializeModel(const ModelContainer& mc, std::string& out);

int GenerateModelFile();
int GenerateModelFile(ModelContainer& mc);
// The second half of GenerateModelFile: writes the image of the imported mc
// to an exclusive temporary beside path, renames it over path and logs the
// success line. Returns 0, 5, 6, 7 or 8; on failure (and on an interrupt)
// path keeps what it held.
int WriteModelImage(ModelContainer& mc, const std::string& path);
// The same without the rename: file then holds the image under
// file.temporary, closed, for the caller to check and commit.
int WriteModelImage(ModelContainer& mc, const std::string& path, varndel::file_access::OutputFile& file);

// ---------------------------------------------------------------------------
// verify/: read-back verifier

// Reads the file at path back and compares it with mc, printing the report on
// out. Returns true when anything differed.
bool VerifyModelFile(const std::string& path, const ModelContainer& mc, std::ostream& out);
bool VerifyCompiledFile();
