// Text for people: numbers, counts and stored names, as the validator and
// varndel-inspect print them. Internal to the reader library and its tools.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace varndel::text {

// Shortest text that reads back as the same float ("0.5", "-1e+20", "nan",
// "inf"). A double the same way.
std::string FormatFloat(float value);
std::string FormatDouble(double value);
// "(x, y, z)" of any float array.
template <typename Array>
std::string FormatVector(const Array& values) {
  std::string text = "(";
  for (size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + FormatFloat(values[i]);
  return text + ")";
}

// Length of the well-formed UTF-8 sequence at bytes[i] (i < bytes.size()),
// or 0.
size_t Utf8SequenceLength(std::string_view bytes, size_t i);
// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// A stored name or path for terminal text, in single quotes: control
// characters (C0, DEL, C1) and bytes that are not part of well-formed UTF-8
// are written as \xNN, everything else as stored.
std::string QuoteName(std::string_view bytes);

// "1 vertex" / "2 vertices".
std::string CountOf(uint64_t count, std::string_view singular, std::string_view plural);

}  // namespace varndel::text
