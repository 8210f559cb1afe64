// The work behind info, json, check and diff, apart from argument parsing
// and file loading, so that tests and benchmarks can run it on a model in
// memory.
#pragma once

#include <varndel/mapped.h>
#include <varndel/reader.h>
#include <varndel/validate.h>

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "inspect/common.h"

namespace inspect {

// info: the human summary of one file. stats adds each mesh's overdraw,
// which rasterises the mesh; the LOD level comes from path's file name.
// Works on the view: headers, positions and one mesh's indices at a time.
void WriteInfo(std::ostream& out, const std::string& path, const varndel::MappedModel& model, uint64_t bytes,
               const Palette& palette, bool stats = false);

// json: one JSON document, ending in a newline. full adds every vertex,
// index, key, node and matrix; full or stats each mesh's overdraw; lod, when
// not 0, is the level the file name says. With compiledFile, each texture
// entry whose file varndel::ResolveTexture finds gets its "file".
// Works on the view, as WriteInfo does; --full's records are copied out of
// it one at a time.
void WriteJson(std::ostream& out, const varndel::MappedModel& model, uint64_t bytes, bool full, bool stats = false,
               size_t lod = 0, const std::string& compiledFile = std::string());

// check: one finding line, grouped (several occurrences of one defect in
// one element give one Finding).
using Finding = varndel::Finding;
// ValidateModel, with stored texture paths resolved against the working
// directory and path, the compiled file's path. Errors come before
// warnings, each in file order.
std::vector<Finding> CheckModel(const varndel::Model& model, const std::string& path);
// The same for a mapped file, read in place.
std::vector<Finding> CheckModel(const varndel::MappedModel& view, const std::string& path);
// "error: FILE: element: what" without colour.
std::string FormatFinding(const Finding& finding, const std::string& path, const Palette& palette);

// diff: every difference is counted; the first `limit` (all when 0) are
// written as "element: a -> b". Returns the number of differences.
struct DiffSummary {
  uint64_t total = 0;
  std::vector<std::pair<std::string, uint64_t>> byField;  // first-seen order
};
DiffSummary DiffModels(const varndel::Model& a, const varndel::Model& b, std::ostream& out, uint64_t limit,
                       const Palette& palette);

}  // namespace inspect
