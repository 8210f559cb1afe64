// Varndel writer: the file image of a compiled model, the inverse of the
// reader. For every model that ReadModel accepted, WriteModel gives back
// exactly the bytes it was read from. Compiles as C++17 and C++20.
#pragma once

#include <varndel/reader.h>

#include <cstddef>
#include <string>

namespace varndel {

// The file bytes of model. Nodes are written in list order with their
// childCount, as the reader keeps them. Throws std::length_error naming the
// field when a count or length does not fit the width the format gives it.
std::string WriteModel(const Model& model);

// The bytes that the animation sections (duration to the last bone-info
// entry) take in the file image of an animated model.
size_t AnimationBytes(const Animation& animation);

}  // namespace varndel
