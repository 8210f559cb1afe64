#include "verify/read_back.h"

bool OpenFileReader(FileReader& reader, const std::string& path) {
  reader.stream.open(path, std::ios::in | std::ios::binary);
  reader.remaining = 0;
  if (!reader.stream.is_open()) return false;
  // The size bounds every allocation. Asked of the buffer, so that a file
  // that cannot seek leaves the stream state alone and reads as empty.
  std::streambuf& buffer = *reader.stream.rdbuf();
  const std::streampos end = buffer.pubseekoff(0, std::ios::end, std::ios::in);
  const std::streampos begin = buffer.pubseekoff(0, std::ios::beg, std::ios::in);
  if (end != std::streampos(-1) && begin == std::streampos(0)) reader.remaining = static_cast<uint64_t>(end);
  return true;
}

void ReadBytes(FileReader& reader, void* target, uint64_t size) {
  const uint64_t asked = std::min(size, reader.remaining);
  if (asked == 0) return;
  reader.stream.read(static_cast<char*>(target), static_cast<std::streamsize>(asked));
  const auto got = static_cast<uint64_t>(reader.stream.gcount());
  // A short read means the file ended early (it shrank, or cannot be read):
  // nothing more will come, so nothing more may be sized by it either.
  reader.remaining = got < asked ? 0 : reader.remaining - got;
}

std::string ReadStringBytes(FileReader& reader, uint64_t length) {
  std::string bytes(std::min(length, reader.remaining), '\0');
  ReadBytes(reader, bytes.data(), bytes.size());
  return bytes;
}

std::string ReadName(FileReader& reader, uint64_t length) {
  std::string name = ReadStringBytes(reader, length);
  name.resize(std::min(name.size(), name.find('\0')));
  return name;
}

void PrintStatusLine(std::ostream& out, const char* what, bool mismatch) {
  if (mismatch) {
    out << "\033[35mDEBUG: Current mesh " << what << " data DOES NOT MATCH.\033[0m" << std::endl;
  } else {
    out << "\033[33mDEBUG: Current mesh " << what << " data OK.\033[0m" << std::endl;
  }
}
