#include "reader/text.h"

#include <charconv>
#include <cmath>

namespace varndel::text {
namespace {

// The shortest text that reads back as the same value of its type.
template <typename Real>
std::string FormatShortest(Real value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace

size_t Utf8SequenceLength(std::string_view bytes, size_t i) {
  const auto at = [&bytes](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = at(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > bytes.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  return length;
}

namespace {

void AppendHexByte(std::string& out, unsigned char byte) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 15];
}

}  // namespace

std::string FormatFloat(float value) { return FormatShortest(value); }

std::string FormatDouble(double value) { return FormatShortest(value); }

bool IsValidUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string QuoteName(std::string_view bytes) {
  std::string out = "'";
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char byte = static_cast<unsigned char>(bytes[i]);
    const size_t length = Utf8SequenceLength(bytes, i);
    const bool control = byte < 0x20 || byte == 0x7F;
    // U+0080..U+009F: C1 controls, which some terminals obey
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0;
    if (length == 0 || control || c1) {
      const size_t escaped = length == 0 ? 1 : length;
      for (size_t k = 0; k < escaped; ++k) AppendHexByte(out, static_cast<unsigned char>(bytes[i + k]));
      i += escaped;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out + "'";
}

std::string CountOf(uint64_t count, std::string_view singular, std::string_view plural) {
  return std::to_string(count) + " " + std::string(count == 1 ? singular : plural);
}

}  // namespace varndel::text
