// --compare OLD.json: which files of the library were added, removed or
// changed since an earlier report, and by how many bytes.
#include <map>

#include "inspect/library_report.h"

namespace inspect {

namespace {

using Json = nlohmann::json;

// Files are matched by their key's exact bytes.
std::string MatchKey(const Json& file) {
  if (file.contains("keyHex") && file["keyHex"].is_string()) return "hex:" + file["keyHex"].get<std::string>();
  if (file.contains("key") && file["key"].is_string()) return "key:" + file["key"].get<std::string>();
  return std::string();
}

int64_t TotalBytes(const Json& file) {
  const Json* bytes = file.contains("bytes") ? &file["bytes"] : nullptr;
  if (bytes == nullptr || !bytes->is_object() || !bytes->contains("total") || !(*bytes)["total"].is_number_unsigned())
    return 0;
  return int64_t((*bytes)["total"].get<uint64_t>());
}

Json Field(const Json& file, const char* name) { return file.contains(name) ? file[name] : Json(); }

}  // namespace

bool CompareReports(const Json& old, Json& current, std::string& error) {
  if (!old.is_object() || !old.contains("files") || !old["files"].is_array()) {
    error = "not the JSON of a report (it has no \"files\" list)";
    return false;
  }
  std::map<std::string, const Json*> before;
  for (const Json& file : old["files"]) {
    if (!file.is_object() || MatchKey(file).empty()) {
      error = "not the JSON of a report (a file entry has no \"key\")";
      return false;
    }
    before.emplace(MatchKey(file), &file);
  }
  uint64_t added = 0, changed = 0;
  for (Json& file : current["files"]) {
    const auto found = before.find(MatchKey(file));
    if (found == before.end()) {
      ++added;
      file["change"] = Json{{"status", "added"}, {"bytesDelta", TotalBytes(file)}};
      continue;
    }
    const Json& was = *found->second;
    bool same = true;
    for (const char* name : {"hash", "error", "figures", "findings"}) same = same && Field(was, name) == Field(file, name);
    changed += same ? 0 : 1;
    file["change"] = Json{{"status", same ? "same" : "changed"}, {"bytesDelta", TotalBytes(file) - TotalBytes(was)}};
    before.erase(found);
  }
  Json removed = Json::array();
  for (const auto& [key, file] : before) {
    Json entry = Json::object();
    for (const char* name : {"key", "keyHex", "path", "pathHex", "name", "nameHex"})
      if (file->contains(name)) entry[name] = (*file)[name];
    entry["change"] = Json{{"status", "removed"}, {"bytesDelta", -TotalBytes(*file)}};
    removed.push_back(std::move(entry));
  }
  current["compare"] = Json{{"added", added}, {"changed", changed}, {"removed", removed.size()}};
  current["removed"] = std::move(removed);
  return true;
}

}  // namespace inspect
