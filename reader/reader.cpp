#include <varndel/reader.h>

namespace varndel {

std::string FormatReadError(const ReadError& error) { return ""; }
bool ReadModel(const void*, size_t, Model&, ReadError*) noexcept { return false; }
bool ReadModelFile(const std::string&, Model&, ReadError*) noexcept { return false; }

}  // namespace varndel
