#include "opt/files.h"

#include <varndel/optimize.h>
#include <varndel/writer.h>
#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>

namespace fs = std::filesystem;

std::string TemporaryPathFor(const std::string& path) {
  const fs::path target(path);
  return (target.parent_path() / ("." + target.filename().string() + "." + std::to_string(getpid()) + ".tmp")).string();
}

bool WriteCheckedModelFile(const std::string& path, const std::string& bytes, std::string& error) {
  const std::string temporary = TemporaryPathFor(path);
  const auto fail = [&](std::string message) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    error = std::move(message);
    return false;
  };
  {
    std::ofstream file(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
    if (!file.is_open()) return fail("cannot create " + temporary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) return fail("cannot write " + temporary);
  }
  // The file holds exactly the bytes meant, and the strict reader accepts
  // them (WriteModel is the reader's inverse, so they are the model meant).
  std::string written;
  {
    std::ifstream file(temporary, std::ios::in | std::ios::binary);
    written.resize(bytes.size() + 1);
    file.read(written.data(), static_cast<std::streamsize>(written.size()));
    if (file.bad() || static_cast<size_t>(file.gcount()) != bytes.size()) {
      return fail("the written file " + temporary + " does not hold the bytes written");
    }
    written.resize(bytes.size());
  }
  if (written != bytes) return fail("the written file " + temporary + " does not hold the bytes written");
  varndel::Model model;
  varndel::ReadError readError;
  if (!varndel::ReadModel(written.data(), written.size(), model, &readError)) {
    return fail("the written file does not read back: " + varndel::FormatReadError(readError));
  }
  std::error_code code;
  fs::rename(temporary, path, code);
  if (code) return fail("cannot rename " + temporary + " to " + path + ": " + code.message());
  return true;
}

namespace {

size_t IndexCount(const varndel::Model& model) {
  size_t count = 0;
  for (const varndel::MeshData& mesh : model.meshes) count += mesh.indices.size();
  return count;
}

// "lod1" for level index 0.
std::string LodName(size_t n) { return "lod" + std::to_string(n + 1); }

std::string Figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

}  // namespace

varndel::LodLevel BuildLodLevel(const varndel::Model& base, const LodRequest& request, size_t n,
                                std::vector<std::string>& warnings) {
  varndel::LodOptions options;
  options.ratio = request.ratios[n];
  options.overdraw = request.overdraw;
  varndel::LodLevel level = varndel::BuildLod(base, options);
  for (const std::string& warning : level.warnings) warnings.push_back(LodName(n) + ": " + warning);
  return level;
}

bool WriteLodFiles(const varndel::Model& base, const std::string& output, const LodRequest& request,
                   std::ostream& report, std::vector<std::string>& warnings, std::string& error) {
  for (size_t n = 0; n < request.ratios.size(); ++n) {
    const varndel::LodLevel level = BuildLodLevel(base, request, n, warnings);
    const std::string path = varndel::LodPath(output, n + 1, base.animated);
    if (!WriteCheckedModelFile(path, varndel::WriteModel(level.model), error)) return false;
    const float worst = level.errors.empty() ? 0.0f : *std::max_element(level.errors.begin(), level.errors.end());
    report << LodName(n) << ": " << path << ": " << IndexCount(level.model) << " of " << IndexCount(base)
           << " indices (ratio " << Figure(request.ratios[n]) << "), error " << Figure(worst) << '\n';
  }
  return true;
}
