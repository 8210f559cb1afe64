// Varndel model validation: judges a model read by reader.h, or a file
// mapped by mapped.h, the way an engine would load it, so that an engine can
// refuse a broken file at load time. The same rules as `varndel-inspect
// check`, which prints these findings. Compiles as C++17 and C++20.
//
// Errors are the findings an engine should treat as fatal, since using the
// model as it is reads out of bounds or poisons a whole draw:
//   - an index at or past its mesh's vertex count;
//   - a NaN or infinite vertex position;
//   - (animated models) a bone slot whose bone number has no bone-info entry.
// Warnings describe data that loads safely but may look wrong: index counts
// that are not a multiple of 3, degenerate triangles, normals of zero or not
// unit length, weights not summing to 1, unbound vertices in a skinned mesh,
// tracks naming no node, keys out of order, past the duration or at a NaN
// time, and (when the caller looks them up) texture files not found.
#pragma once

#include <varndel/reader.h>

#include <functional>
#include <string>
#include <vector>

namespace varndel {

class MappedModel;  // mapped.h

enum class Severity { kError, kWarning };

// One defect, or several of one kind in one element: the first occurrence is
// described in full, then "(and N more <things>: <positions>, ...)".
// Element and message are printable text: names and paths are quoted, with
// control characters and bytes that are not UTF-8 written as \xNN.
struct Finding {
  Severity severity = Severity::kError;
  std::string element;  // "mesh 2 index 17", "mesh 0 vertex 3 normal", "track 'Spine' position key 4"
  std::string message;  // "9 is at or past the vertex count 4 (and 3 more indices: 18, 19, 20)"
};

// Looks a stored texture path up wherever the caller keeps textures: returns
// "" when the file is there, otherwise the message of the warning (for
// example "file not found; tried ...").
using TextureLookup = std::function<std::string(const std::string& storedPath)>;

// Every finding of the model: errors first, then warnings, each in file
// order. Texture files are only judged when findTexture is given; the
// validation itself touches no file.
std::vector<Finding> ValidateModel(const Model& model, const TextureLookup& findTexture = nullptr);

// The same findings, in the same order and words, for a file used in place:
// vertices and indices are read one record at a time from the mapping, never
// copied as blocks; only the animation is decoded into values.
std::vector<Finding> ValidateModel(const MappedModel& view, const TextureLookup& findTexture = nullptr);

}  // namespace varndel
