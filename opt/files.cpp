#include "opt/files.h"

#include <varndel/optimize.h>
#include <varndel/writer.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "reader/file_access.h"

namespace fs = std::filesystem;

namespace {

// Whether the file at path holds exactly bytes, read a block at a time.
bool HoldsExactly(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<char> block(size_t(1) << 20);
  size_t done = 0;
  bool same = true;
  while (same) {
    const size_t got = std::fread(block.data(), 1, block.size(), file);
    if (got == 0) break;
    same = got <= bytes.size() - done && std::memcmp(block.data(), bytes.data() + done, got) == 0;
    done += got;
  }
  same = same && !std::ferror(file) && done == bytes.size();
  std::fclose(file);
  return same;
}

}  // namespace

bool WriteCheckedTemporary(const std::string& path, const std::string& bytes, OutputFile& pending,
                           std::string& error) {
  namespace access = varndel::file_access;
  if (!access::CreateOutputFile(path, pending, error) || !access::AppendOutputFile(pending, bytes, error) ||
      !access::CloseOutputFile(pending, error)) {
    return false;
  }
  // The file holds exactly the bytes meant. They are WriteModel's image of
  // a model whose lists the reader took (only reordered or shortened since),
  // which the strict reader accepts, so the file is compared, not parsed
  // again: a second parse of a large file cost as much as its write.
  if (!HoldsExactly(pending.temporary, bytes)) {
    access::DiscardOutputFile(pending);
    error = "cannot write " + path + ": the written file does not hold the bytes written";
    return false;
  }
  return true;
}

bool CommitFiles(std::vector<OutputFile>& files, std::string& error) {
  // A directory at a file's name would fail its rename after others had
  // been made: refused before any.
  for (const OutputFile& file : files) {
    std::error_code ignored;
    if (fs::is_directory(fs::symlink_status(file.target, ignored))) {
      error = "cannot write " + file.target + ": it is a directory";
      DiscardFiles(files);
      return false;
    }
  }
  for (OutputFile& file : files) {
    if (!varndel::file_access::CommitOutputFile(file, error)) {
      DiscardFiles(files);
      return false;
    }
  }
  return true;
}

void DiscardFiles(std::vector<OutputFile>& files) {
  for (OutputFile& file : files) varndel::file_access::DiscardOutputFile(file);
}

bool WriteCheckedModelFile(const std::string& path, const std::string& bytes, std::string& error) {
  OutputFile pending;
  return WriteCheckedTemporary(path, bytes, pending, error) && varndel::file_access::CommitOutputFile(pending, error);
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
                   std::ostream& report, std::vector<std::string>& warnings, std::string& error,
                   std::vector<OutputFile>* pending,
                   const std::function<void(size_t done, size_t total)>& progress) {
  std::string previous;  // the bytes of the level before
  for (size_t n = 0; n < request.ratios.size(); ++n) {
    std::vector<std::string> levelWarnings;
    const varndel::LodLevel level = BuildLodLevel(base, request, n, levelWarnings);
    const std::string path = varndel::LodPath(output, n + 1, base.animated);
    std::string bytes = varndel::WriteModel(level.model);
    if (n > 0 && bytes == previous) {
      const std::string same = LodName(n) + ": ratio " + Figure(request.ratios[n]) + " gives the same file as " +
                               LodName(n - 1) + ": the simplifier gets no further within the target error";
      if (request.stopAtRepeat) {
        warnings.push_back(same + "; the chain stops here, and " + LodName(n) +
                           (n + 1 < request.ratios.size() ? " and the levels after it are" : " is") + " not written");
        break;
      }
      warnings.push_back(same);
    }
    warnings.insert(warnings.end(), levelWarnings.begin(), levelWarnings.end());
    if (pending != nullptr) {
      if (!WriteCheckedTemporary(path, bytes, pending->emplace_back(), error)) {
        pending->pop_back();
        return false;
      }
    } else if (!WriteCheckedModelFile(path, bytes, error)) {
      return false;
    }
    previous = std::move(bytes);
    const float worst = level.errors.empty() ? 0.0f : *std::max_element(level.errors.begin(), level.errors.end());
    report << LodName(n) << ": " << path << ": " << IndexCount(level.model) << " of " << IndexCount(base)
           << " indices (ratio " << Figure(request.ratios[n]) << "), error " << Figure(worst) << '\n';
    if (progress) progress(n + 1, request.ratios.size());
  }
  return true;
}

