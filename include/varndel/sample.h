// Varndel animation sampling and skinning: poses a compiled animated model
// (varndel::Model from reader.h) at a time in ticks, the way an engine is
// meant to play it. Plain float code, no dependencies. Compiles as C++17 and
// C++20. These functions are the reference: every call resolves names anew
// and returns new vectors. To play every frame, use player.h, which gives
// the same values from a one-time setup, without allocating.
//
// A pose is computed in three steps:
//   1. SampleTrack: each track's keys at the time. Positions and scales are
//      interpolated linearly between the neighbouring keys, rotations by
//      normalised spherical interpolation along the shorter arc. Outside a
//      kind's key range the nearest key's value is held. At a key's time the
//      key's value is returned exactly.
//   2. ComputeGlobalTransforms: every node's transformation relative to the
//      root. A track replaces the local transformation of the node with its
//      name; a kind without keys keeps that part (translation, rotation or
//      scale) of the node's own transformation.
//   3. ComputeSkinningMatrices: for each bone-info entry, the global
//      transformation of the node with its name times the entry's offset.
//      SkinVertices then blends a mesh's vertices with their four slots.
//
// Where the file layout leaves a choice, this is what happens:
//   - Keys need not be sorted: the neighbours of a time are the key with the
//     largest time not after it and the key with the smallest time after it
//     (the first in file order among equal times). Keys with a NaN time are
//     ignored, unless no other key of that kind exists.
//   - Two tracks for one node: the first track in file order animates it;
//     later tracks with the same name are ignored.
//   - Several nodes with one name: a track animates each of them; a bone-info
//     entry follows the first of them in file order.
//   - Tick rate 0 (the source gave none), negative or not finite: 25 ticks
//     per second (TicksPerSecond).
//   - A bone-info entry with no node of its name: its skinning matrix is the
//     identity, so the vertices it moves stay where the mesh put them.
//   - Bone-info entries with equal IDs: a slot selects the first of them.
//   - A slot whose number matches no bone-info entry is skipped like a free
//     slot. Weights are used as stored, not normalised (as a vertex shader
//     would); a vertex whose used slots weigh 0 in total, or that has none,
//     keeps its position and normal.
//   - Bones are numbered once per model: the bone-info map holds every bone
//     of every mesh, and the slots of every mesh are resolved against it,
//     exactly as stored. Files written before version 1.1 numbered bones per
//     mesh and kept the map of the last mesh only: only their last mesh
//     skins correctly.
//   - A node transformation that is decomposed (a track lacks a kind of key)
//     loses any shear; a node without a track keeps its matrix untouched.
#pragma once

#include <varndel/reader.h>
#include <varndel/records.h>

#include <cstddef>
#include <vector>

namespace varndel {

// Identity matrix (column-major, as Mat4 everywhere).
Mat4 IdentityMat4();
// a * b: b is applied first.
Mat4 MultiplyMat4(const Mat4& a, const Mat4& b);
// m applied to the point p (w = 1) and to the direction d (w = 0).
Vec3 TransformPoint(const Mat4& m, const Vec3& p);
Vec3 TransformDirection(const Mat4& m, const Vec3& d);
// Translation * rotation * scale. The quaternion (x, y, z, w) is normalised
// first; a zero quaternion counts as no rotation.
Mat4 ComposeTransform(const Vec3& translation, const Vec4& rotation, const Vec3& scale);

// Ticks per second to play the animation at: the stored rate, or 25 when the
// stored rate is 0, negative or not finite.
double TicksPerSecond(const Animation& animation);

// One track at one time. A has* flag is false when the track has no keys of
// that kind; the value is then meaningless.
struct TrackSample {
  Vec3 position{};
  Vec4 rotation{0.0f, 0.0f, 0.0f, 1.0f};  // x, y, z, w
  Vec3 scale{1.0f, 1.0f, 1.0f};
  bool hasPosition = false;
  bool hasRotation = false;
  bool hasScale = false;
};
TrackSample SampleTrack(const Track& track, float ticks);

// The global transformation of every node at the time, indexed like
// animation.nodes. Walks the flat pre-order array without recursion; a node
// whose parent index is not an earlier node is treated as a root.
std::vector<Mat4> ComputeGlobalTransforms(const Animation& animation, float ticks);

// The skinning matrix of every bone-info entry, indexed like
// animation.boneInfos, from the globals of ComputeGlobalTransforms.
std::vector<Mat4> ComputeSkinningMatrices(const Animation& animation, const std::vector<Mat4>& globals);

// The mesh's vertex positions and normals blended by their bone slots: each
// used slot contributes weight * skinning matrix of its entry. Normals are
// transformed by the inverse transpose of that blend and renormalised, so
// that non-uniform scale keeps them perpendicular to the surface. Both outputs are resized to
// the vertex count; normals may be null.
void SkinVertices(const MeshData& mesh, const Animation& animation, const std::vector<Mat4>& skinning,
                  std::vector<Vec3>& positions, std::vector<Vec3>* normals = nullptr);

}  // namespace varndel
