// The take record beside take files (see varndel/takes.h).
#include <varndel/takes.h>

#include <filesystem>
#include <fstream>

#include "reader/text.h"

namespace fs = std::filesystem;

namespace varndel {

namespace {

constexpr size_t kMaxRecordLine = 8192;  // a quoted name of 1024 bytes is at most 4098

// The entry for fileName in the record at recordPath, if it lists it.
std::optional<TakeRecordEntry> FindInRecord(const std::string& recordPath, const std::string& fileName) {
  std::ifstream record(recordPath, std::ios::in | std::ios::binary);
  if (!record) return std::nullopt;
  for (std::string line; std::getline(record, line);) {
    if (line.size() > kMaxRecordLine || line.empty() || line[0] == '#') continue;
    const size_t a = line.find('\t');
    const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    const size_t c = b == std::string::npos ? b : line.rfind('\t');
    if (c == std::string::npos || c == b || line.compare(0, a, fileName) != 0 || a != fileName.size()) continue;
    TakeRecordEntry entry;
    entry.recordFile = recordPath;
    entry.fileName = fileName;
    const std::string index = line.substr(a + 1, b - a - 1);
    if (index.empty() || index.size() > 19 || index.find_first_not_of("0123456789") != std::string::npos) continue;
    entry.index = std::stoull(index);
    entry.quotedName = line.substr(b + 1, c - b - 1);
    entry.clip = line.compare(c + 1, std::string::npos, "clip") == 0;
    // The name is shown as listed: only printable text may reach a terminal.
    if (!text::IsValidUtf8(entry.quotedName) || text::QuoteName(entry.quotedName) != "'" + entry.quotedName + "'") {
      entry.quotedName = text::QuoteName(entry.quotedName);
    }
    return entry;
  }
  return std::nullopt;
}

}  // namespace

std::string TakesRecordPath(const std::string& output) {
  return fs::path(output).replace_extension().string() + ".takes.txt";
}

std::string TakeRecordLine(const std::string& fileName, uint64_t index, const std::string& name, bool clip) {
  return fileName + "\t" + std::to_string(index) + "\t" + text::QuoteName(name) + "\t" + (clip ? "clip" : "model") +
         "\n";
}

std::optional<TakeRecordEntry> FindTakeRecord(const std::string& path) {
  const fs::path file(path);
  const std::string fileName = file.filename().string();
  const std::string stem = file.stem().string();  // without the last extension
  for (size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0; dot = stem.rfind('.', dot - 1)) {
    const fs::path record = file.parent_path() / (stem.substr(0, dot) + ".takes.txt");
    if (std::optional<TakeRecordEntry> entry = FindInRecord(record.string(), fileName)) return entry;
  }
  return std::nullopt;
}

}  // namespace varndel
