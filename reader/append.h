// Appends to a file image in the file's byte order (the machine's, which the
// layout requires to be little-endian): one value, or a block of records.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

namespace varndel {

template <typename T>
void AppendValue(std::string& out, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  out.append(reinterpret_cast<const char*>(&value), sizeof(T));
}

template <typename T>
void AppendBlock(std::string& out, const std::vector<T>& records) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (!records.empty()) out.append(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(T));
}

}  // namespace varndel
