// Little helpers for the compiled file's byte image. The file is a plain
// concatenation of little-endian fields; records whose memory image is the
// file image are appended as one block.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "reader/append.h"

static_assert(std::endian::native == std::endian::little, "the file layout is little-endian");

// Largest values the count and length fields can hold.
inline constexpr uint64_t kMaxMeshElements = std::numeric_limits<uint32_t>::max();
inline constexpr uint64_t kMaxTextures = std::numeric_limits<uint16_t>::max();
inline constexpr uint64_t kMaxShortLength = std::numeric_limits<uint16_t>::max();
inline constexpr uint64_t kMaxNodeNameLength = std::numeric_limits<uint32_t>::max();
inline constexpr uint64_t kMaxBones = std::numeric_limits<uint8_t>::max();
inline constexpr uint64_t kMaxKeys = std::numeric_limits<int32_t>::max();

using varndel::AppendBlock;
using varndel::AppendValue;
