#include <varndel/reader.h>

#include "reader/decode.h"
#include "reader/file_map.h"

#include <cstring>
#include <new>
#include <system_error>
#include <type_traits>
#include <utility>

namespace varndel {

std::string FormatReadError(const ReadError& error) {
  std::string text = "offset " + std::to_string(error.offset);
  if (!error.field.empty()) text += ", " + error.field;
  return text + ": " + error.message;
}

void decode::SetFailure(ReadError* error, const char* message) noexcept {
  if (error == nullptr) return;
  try {
    *error = ReadError{0, "", message};
  } catch (...) {
  }
}

bool ReadModel(const void* data, size_t size, Model& model, ReadError* error) noexcept {
  model = Model{};
  try {
    decode::MemoryCursor in(static_cast<const unsigned char*>(data), size, error);
    if (decode::ReadWholeModel(in, model)) return true;
  } catch (const std::bad_alloc&) {
    decode::SetFailure(error, "not enough memory to hold the model");
  } catch (...) {
    decode::SetFailure(error, "unexpected failure while reading the model");
  }
  model = Model{};
  return false;
}

// The file's bytes go straight to where they belong: each vertex, index and
// key block is read into its vector in place, so the file is never held
// twice. The vectors are sized before the read, which fills them once with
// default records: std::vector offers no uninitialised growth, and that pass
// costs a fraction of the read itself (docs/loading.md).
bool ReadModelFile(const std::string& path, Model& model, ReadError* error) noexcept {
  model = Model{};
  try {
    file_access::InputFile file;
    std::string reason;
    if (!file.Open(path, reason)) {
      if (error != nullptr) *error = ReadError{0, "", std::move(reason)};
      return false;
    }
    decode::FileCursor in(file, error);
    if (decode::ReadWholeModel(in, model)) return true;
  } catch (const std::bad_alloc&) {
    decode::SetFailure(error, "not enough memory to read the file");
  } catch (...) {
    decode::SetFailure(error, "unexpected failure while reading the file");
  }
  model = Model{};
  return false;
}

}  // namespace varndel
