// Read-back of a compiled model file, shared by the header, mesh and
// animation checks. Reads are capped by the bytes the file still holds, so a
// count read from the file never sizes memory beyond what the file can fill,
// and a field cut off by the end of the file reads as its bytes present
// followed by zeros.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "model/model.h"

struct FileReader {
  std::ifstream stream;
  uint64_t remaining = 0;  // bytes not consumed yet; 0 when the open failed
};

// Opens path for binary input; false (and nothing left to read) when it
// cannot be opened.
bool OpenFileReader(FileReader& reader, const std::string& path);

// Reads up to size bytes into target, as many as the file still holds. The
// caller zeroes target first.
void ReadBytes(FileReader& reader, void* target, uint64_t size);

template <typename T>
T ReadValue(FileReader& reader) {
  static_assert(std::is_trivially_copyable_v<T>);
  T value{};
  std::memset(static_cast<void*>(&value), 0, sizeof(T));
  ReadBytes(reader, &value, sizeof(T));
  return value;
}

// A record whose every byte is zero: what a record past the end of the file
// reads as.
template <typename T>
const T& ZeroRecord() {
  static const T zero = [] {
    T record{};
    std::memset(static_cast<void*>(&record), 0, sizeof(T));
    return record;
  }();
  return zero;
}

// Reads a list of count records with one read. Only the records the file
// still holds are allocated (the last one possibly cut, its tail zero); the
// rest of the announced records lie past the end of the file, and RecordAt
// gives them as zero records.
template <typename T>
std::vector<T> ReadRecords(FileReader& reader, uint64_t count) {
  static_assert(std::is_trivially_copyable_v<T>);
  const uint64_t present = std::min(count, (reader.remaining + sizeof(T) - 1) / sizeof(T));
  std::vector<T> records(present);
  if (present == 0) return records;
  std::memset(static_cast<void*>(records.data()), 0, present * sizeof(T));
  ReadBytes(reader, records.data(), present * sizeof(T));
  return records;
}

template <typename T>
const T& RecordAt(const std::vector<T>& records, uint64_t i) {
  return i < records.size() ? records[i] : ZeroRecord<T>();
}

// The bytes present of a string field length bytes long; the missing rest of
// the field would read as zeros.
std::string ReadStringBytes(FileReader& reader, uint64_t length);

// A name field: its text up to the first zero byte.
std::string ReadName(FileReader& reader, uint64_t length);

// Floats in the stream's default format, joined by ",".
template <size_t N>
void PrintJoined(std::ostream& out, const std::array<float, N>& values) {
  for (size_t i = 0; i < N; ++i) out << (i == 0 ? "" : ",") << values[i];
}

// A mismatch line: the message (ending in "MC: "), the container's value,
// " VS BIN: ", the value read. Sets the run's flag. One-byte values are
// passed widened, so that they print as numbers.
template <typename Own, typename Read>
void PrintMismatch(std::ostream& out, bool& mismatch, const char* message, const Own& own, const Read& read) {
  out << message << own << " VS BIN: " << read << std::endl;
  mismatch = true;
}

// "DEBUG: Current mesh <what> data OK." or "... DOES NOT MATCH.", coloured.
void PrintStatusLine(std::ostream& out, const char* what, bool mismatch);

// The animation sections, read on from the current position; sets mismatch
// at every reported problem.
void VerifyAnimationSections(FileReader& reader, const ModelContainer& mc, std::ostream& out, bool& mismatch);

// Fills node, which must be a default node, from the next node record and
// those of its whole subtree (depth-first pre-order, as written).
void ReadHierarchyNode(FileReader& reader, HierarchyNode& node);
// Prints a line for every difference between the read-back tree and the
// container's; true when any node differs.
bool CompareHierarchyNode(const HierarchyNode& fileNode, const HierarchyNode& containerNode, std::ostream& out);
// Exact element-wise comparison; a NaN element always differs.
bool MatrixDiffers(const Mat4& a, const Mat4& b);
