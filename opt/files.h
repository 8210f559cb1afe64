// varndel-opt's file handling, shared with varndel-edge: verified writes
// through a temporary file, and the LOD files of an optimised model.
#pragma once

#include <varndel/optimize.h>
#include <varndel/reader.h>

#include <iosfwd>
#include <string>
#include <vector>

// Writes bytes to a temporary file beside path, reads it back, checks that
// it holds exactly bytes and that the strict reader accepts it, and renames
// it to path. On failure returns false with error set and leaves path as it was.
bool WriteCheckedModelFile(const std::string& path, const std::string& bytes, std::string& error);

// The temporary beside path that WriteCheckedModelFile writes first.
std::string TemporaryPathFor(const std::string& path);

struct LodRequest {
  std::vector<float> ratios;  // level N+1 keeps ratios[N] of the indices
  bool overdraw = true;
};

// Level n + 1 of base (ratios[n]), its warnings appended to warnings,
// prefixed with the level ("lod1: mesh 0: ...").
varndel::LodLevel BuildLodLevel(const varndel::Model& base, const LodRequest& request, size_t n,
                                std::vector<std::string>& warnings);

// Builds each level of base and writes it to varndel::LodPath(output, N).
// One report line per level goes to report ("lod1: <path>: 600 of 1200
// indices (ratio 0.5), error 0.0012"), warnings appended
// to warnings, prefixed with the level ("lod1: mesh 0: ..."). Stops at the first file that cannot be written.
bool WriteLodFiles(const varndel::Model& base, const std::string& output, const LodRequest& request,
                   std::ostream& report, std::vector<std::string>& warnings, std::string& error);
