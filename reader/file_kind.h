// Telling a compiled model file from the files people mistake for one: a
// source model (.obj, .gltf, .fbx, ...), an image, any text. The tools ask
// after the reader has refused a file, so the reader's own errors (offset,
// field, reason) stay as they are for damaged compiled files.
// Internal to the project: not an installed header.
#pragma once

#include <cstddef>
#include <string>

namespace varndel {

// Empty when the first bytes could start a compiled model (isAnimatedModel
// and flipUVs, each 0 or 1), or when they look like nothing known and the
// name is no source model's (the reader's error says best what is wrong);
// otherwise one sentence that says so, naming
// what the bytes look like when that is easy to tell ("it looks like a
// Wavefront OBJ model (text)") and, for a source model, that Varndel compiles
// it. name is the file's name as the user gave it (its extension helps).
std::string DescribeNotCompiledModel(const void* data, size_t size, const std::string& name);

// The same for a file on disk, from its first bytes; empty when the file
// cannot be read (the reader's own message says why).
std::string DescribeNotCompiledModelFile(const std::string& path);

}  // namespace varndel
