// Varndel optimize (Varndel::optimize): GPU-ready order for compiled models
// and LOD chains, on meshoptimizer. Reordering triangles and renumbering
// vertices changes no field's meaning, so a loader reads the result as before.
// Compiles as C++17 and C++20.
#pragma once

#include <varndel/file_names.h>  // LodPath, LodLevelOf
#include <varndel/reader.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varndel {

struct OptimizeOptions {
  bool overdraw = true;             // false: keep the vertex-cache order of the triangles
  float overdrawThreshold = 1.0f;   // the ACMR may grow by this factor for less overdraw
  // Model units; negative (the default) or NaN: the animation keys stay as
  // they are. Otherwise OptimizeModel reduces them as ReduceKeys does.
  float animationTolerance = -1.0f;
  // Model units: how far from each node the points that carry its
  // orientation into the measure lie (see MeasureAnimationError); negative
  // or NaN: DefaultAnimationDistance of the model.
  float animationDistance = -1.0f;
  // Only the animation keys: the meshes stay byte for byte, so that
  // MeasureAnimationError(input, output) compares like with like.
  bool keysOnly = false;
  // Called now and then while keys are reduced (see ReduceKeys).
  std::function<void(size_t done, size_t total)> progress;
  // Called after each mesh is welded and ordered, with the meshes done and
  // the meshes in all.
  std::function<void(size_t done, size_t total)> meshProgress;
};

// For every mesh, in place: welds vertices whose 88 bytes are identical,
// orders the triangles for the vertex cache, then for overdraw, then
// renumbers the vertices in order of first use. Vertex records travel whole;
// vertices no triangle uses stay, after the used ones. A mesh whose index
// count is not a multiple of 3, or with an index past its vertices, is left
// as it is. With options.keysOnly the meshes are not touched. Then, with an
// animation tolerance, the keys are reduced as ReduceKeys does. Returns the
// warnings, one sentence each, starting "mesh N: ".
std::vector<std::string> OptimizeModel(Model& model, const OptimizeOptions& options = {});

// The keys of an animation: position, rotation and scale keys of every track.
size_t CountKeys(const Animation& animation);

// The largest distance, in model units, between the poses of two models
// whose animations differ only in their keys, played with AnimationPlayer
// at every key time of original's animation and midway between each pair of
// consecutive times: of every node, its global origin and the three points
// at distance along its axes (its global transformation applied to
// (distance, 0, 0), (0, distance, 0) and (0, 0, distance): where a prop
// attached to the node would be), and, when the model has meshes, every
// skinned vertex position. A negative or NaN distance: the default,
// DefaultAnimationDistance(original); 0 measures the origins alone. 0 when
// the poses are identical (NaN where both are NaN counts as identical);
// infinity when the models cannot be compared (different nodes, bone entries
// or meshes).
double MeasureAnimationError(const Model& original, const Model& reduced, double distance = -1.0);

// The diagonal of the model's bounding box, in model units: of its finite
// mesh positions, or, for a skeleton without meshes, of its joints' global
// origins at the times MeasureAnimationError plays. 0 for neither.
double ModelDiagonal(const Model& model);

// The share of ModelDiagonal that DefaultAnimationDistance is.
constexpr double kDefaultAnimationDistanceShare = 0.1;

// The distance MeasureAnimationError and ReduceKeys use unless told
// otherwise: a tenth of ModelDiagonal, or 1 model unit when that is 0.
double DefaultAnimationDistance(const Model& model);

struct KeyReduction {
  size_t keysBefore = 0;
  size_t keysAfter = 0;
  double error = 0;  // MeasureAnimationError of the result, at most the tolerance
};

// Removes from every track's position, rotation and scale lists the keys
// whose removal keeps MeasureAnimationError(before, after, distance) within
// tolerance
// (model units), and checks that before returning: a key is kept rather
// than the bound broken. Kept keys keep their time and value bytes; the
// first and last key of each list, lists of fewer than three keys, the max
// times, duration and tick rate stay. With tolerance 0 only keys that the
// player's interpolation reproduces exactly go. Lists the player would
// reorder (unsorted, repeated or NaN times), lists with a non-finite value
// and tracks the player does not play are left as they are. A static model
// or a negative or NaN tolerance: nothing changes.
// distance is MeasureAnimationError's. progress, when set, is called now and
// then with the poses measured so far and the poses planned: two passes over
// every time, the first and the final check, and in between the times that a
// correction touched, added to the total when it is planned (so the total may
// grow).
KeyReduction ReduceKeys(Model& model, float tolerance, float distance = -1.0f,
                        const std::function<void(size_t done, size_t total)>& progress = nullptr);

// The simplifier's work grows with the square of the triangles around a
// vertex; BuildLod copies a mesh above this sum of squares whole, with a
// warning.
constexpr double kSimplifyWorkBudget = 3e9;

struct LodOptions {
  float ratio = 0.5f;         // the share of each mesh's indices to keep, in (0, 1]
  float targetError = 0.01f;  // the largest error allowed, relative to the mesh's extent
  bool overdraw = true;
  float overdrawThreshold = 1.0f;
};

struct LodLevel {
  Model model;                        // the same animation sections; meshes simplified and compacted
  std::vector<float> errors;          // per mesh: the achieved error, relative to its extent
  std::vector<std::string> warnings;  // "mesh N: ..." where the ratio was not reached, and why
};

// One level of detail of model (normally an optimised one): each mesh
// simplified under options.targetError towards options.ratio of its indices,
// ordered as OptimizeModel orders, and compacted to the vertices it uses.
LodLevel BuildLod(const Model& model, const LodOptions& options);

// The figures of one mesh, for a 16-entry FIFO vertex cache.
struct MeshStats {
  bool valid = false;        // false: no triangles, an index count not a multiple of 3, or an index out of range
  float acmr = 0;            // vertices transformed per triangle
  float atvr = 0;            // vertices transformed per distinct vertex used
  float overfetch = 0;       // vertex bytes fetched per byte used
  bool hasOverdraw = false;  // asked for, every position finite, and within the budget
  float overdraw = 0;        // pixels shaded per pixel covered
  double overdrawWork = 0;   // when asked for: the pixel tests it takes (triangles' boxes in the six views)
};

// The pixel tests AnalyzeMesh spends on the overdraw at most; a mesh that
// needs more gets none (hasOverdraw false, overdrawWork above this).
constexpr double kOverdrawWorkBudget = 4e9;

MeshStats AnalyzeMesh(const MeshData& mesh, bool overdraw);

// The same figures from what they depend on, for meshes held elsewhere (a
// MappedModel's blocks, say): indexCount indices into vertexCount vertex
// records, the indices in an aligned array (meshoptimizer reads them as
// such: copy a mapped index block first) and, for the overdraw only, the
// vertices' positions, vertexCount of them, positionStride bytes apart
// (sizeof(Vertex) inside Vertex records, sizeof(Vec3) packed), aligned as
// floats. positions may be null when overdraw is false.
MeshStats AnalyzeMesh(const uint32_t* indices, size_t indexCount, size_t vertexCount, const float* positions,
                      size_t positionStride, bool overdraw);

}  // namespace varndel
