// Path vocabulary shared by the arguments, the import and the output path.
// Written by hand: std::filesystem on POSIX treats '\' as an ordinary
// character, and model paths from Windows tools carry both separators.
#include "model/model.h"

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

static bool HasDrivePrefix(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

size_t RootLength(std::string_view path) {
  size_t n = HasDrivePrefix(path) ? 2 : 0;
  while (n < path.size() && IsSeparator(path[n])) ++n;
  return n;
}

std::string_view FileNameOf(std::string_view path) {
  const size_t root = RootLength(path);
  size_t start = path.size();
  while (start > root && !IsSeparator(path[start - 1])) --start;
  return path.substr(start);
}

std::string_view ExtensionOf(std::string_view fileName) {
  if (fileName == "." || fileName == "..") return {};
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return fileName.substr(dot);
}

std::string_view ParentPathOf(std::string_view path) {
  const size_t root = RootLength(path);
  size_t end = path.size() - FileNameOf(path).size();
  while (end > root && IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

std::string OutputPathOf(const ModelContainer& mc) {
  // An input without a directory part writes to the working directory, never
  // to the file-system root.
  if (mc.modelDirectory.empty()) return mc.outputFileName;
  return mc.modelDirectory + "/" + mc.outputFileName;
}
