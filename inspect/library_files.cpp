// Finding the compiled files of a library report.
#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "inspect/library_report.h"

namespace inspect {

namespace fs = std::filesystem;

namespace {

bool IsCompiledName(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return extension == ".staticbin" || extension == ".animbin";
}

}  // namespace

bool FindCompiledFiles(const std::vector<std::string>& paths, std::vector<LibraryFile>& files, std::string& error) {
  std::set<std::string> seen;  // canonical paths: a file reached twice is listed once
  const auto add = [&](const fs::path& path, std::string key) {
    std::error_code failed;
    fs::path canonical = fs::weakly_canonical(path, failed);
    if (!seen.insert(failed ? path.string() : canonical.string()).second) return;
    files.push_back({path.string(), std::move(key)});
  };
  for (const std::string& argument : paths) {
    const fs::path root(argument);
    std::error_code failed;
    const fs::file_status status = fs::status(root, failed);
    if (failed || !fs::exists(status)) {
      error = argument + ": no such file or directory";
      return false;
    }
    if (!fs::is_directory(status)) {
      add(root, argument);  // named: taken whatever it is, so that its row can say what is wrong
      continue;
    }
    // Directories below are walked without following their links; an
    // unreadable one is skipped rather than ending the report.
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, failed), end;
    if (failed) {
      error = argument + ": " + failed.message();
      return false;
    }
    for (; it != end; it.increment(failed)) {
      if (failed) {
        error = argument + ": " + failed.message();
        return false;
      }
      std::error_code typeFailed;
      if (!it->is_regular_file(typeFailed) || !IsCompiledName(it->path())) continue;
      add(it->path(), it->path().lexically_relative(root).generic_string());
    }
    if (failed) {
      error = argument + ": " + failed.message();
      return false;
    }
  }
  std::stable_sort(files.begin(), files.end(),
                   [](const LibraryFile& a, const LibraryFile& b) { return a.key < b.key; });
  return true;
}

}  // namespace inspect
