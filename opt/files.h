// varndel-opt's file handling, shared with varndel-edge: verified writes
// through the output seam (reader/file_access.h), and the LOD files of an optimised model.
#pragma once

#include <varndel/optimize.h>
#include <varndel/reader.h>

#include <cstddef>
#include <functional>
#include <iosfwd>

#include "reader/file_access.h"
#include <string>
#include <vector>

using varndel::file_access::OutputFile;

// Writes bytes to a new temporary file beside path (the output seam's:
// created exclusively, never through a link, removed if an interrupt ends
// the process), and checks that it holds exactly bytes (a WriteModel image
// of a model the reader gave, which it accepts). On failure removes the
// temporary and returns false with error naming path and the reason.
bool WriteCheckedTemporary(const std::string& path, const std::string& bytes, OutputFile& pending,
                           std::string& error);

// Renames every pending file into place, in order, so that the last one
// (the main output) is replaced only after the others. On failure returns
// false with error set and removes the temporaries not yet renamed.
bool CommitFiles(std::vector<OutputFile>& files, std::string& error);

// Removes the temporaries of files that were not committed.
void DiscardFiles(std::vector<OutputFile>& files);

// WriteCheckedTemporary, then the rename: on failure path is left as it was.
bool WriteCheckedModelFile(const std::string& path, const std::string& bytes, std::string& error);

struct LodRequest {
  std::vector<float> ratios;  // level N+1 keeps ratios[N] of the indices
  bool overdraw = true;
  // A level with the bytes of the one before (the simplifier got no
  // further) ends the chain, with a warning; otherwise it is written all the
  // same (a build that declared every level needs them), with a warning.
  bool stopAtRepeat = false;
};

// Level n + 1 of base (ratios[n]), its warnings appended to warnings,
// prefixed with the level ("lod1: mesh 0: ...").
varndel::LodLevel BuildLodLevel(const varndel::Model& base, const LodRequest& request, size_t n,
                                std::vector<std::string>& warnings);

// Builds each level of base and writes it to varndel::LodPath(output, N).
// One report line per level goes to report ("lod1: <path>: 600 of 1200
// indices (ratio 0.5), error 0.0012"), warnings appended
// to warnings, prefixed with the level ("lod1: mesh 0: ..."). Stops at the first file that cannot be written.
// With pending, the levels are only written to temporaries and appended
// there, for CommitFiles. progress, when set, is called after each level
// with the levels done and requested.
bool WriteLodFiles(const varndel::Model& base, const std::string& output, const LodRequest& request,
                   std::ostream& report, std::vector<std::string>& warnings, std::string& error,
                   std::vector<OutputFile>* pending = nullptr,
                   const std::function<void(size_t done, size_t total)>& progress = nullptr);
