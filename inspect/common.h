// Helpers shared by the info, json, check and diff subcommands: loading a
// file with a diagnostic, command-line parsing, colour, number and name
// formatting, bounding boxes and hierarchy depth.
#pragma once

#include <varndel/mapped.h>
#include <varndel/optimize.h>
#include <varndel/reader.h>

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "reader/file_kind.h"
#include "reader/text.h"

namespace CLI {
class App;
}

namespace inspect {

// Exit codes shared by every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFindings = 1;    // check found errors, diff found differences
constexpr int kExitUnreadable = 2;  // a file cannot be read, or a usage error

// Runs a subcommand. An allocation failure, or any other exception, ends it
// with a message on stderr and exit 2: no input may abort the program.
int RunGuarded(const char* name, int (*run)(int argc, char** argv), int argc, char** argv) noexcept;

// Parses argv with app. Returns -1 when the command should run, otherwise
// the exit code: 0 after --help (printed on stdout), 2 after a usage error
// (printed on stderr with a pointer to --help).
int ParseCommandLine(CLI::App& app, int argc, char** argv);

// Reads the file at path into model and its size in bytes into bytes. On
// failure writes "varndel-inspect: <command>: <path>: <reason>" on stderr.
bool LoadModelFile(const std::string& command, const std::string& path, varndel::Model& model, uint64_t& bytes);

// Opens the file at path as a view (headers checked, blocks left in the
// file), with LoadModelFile's diagnostics. For what only reads.
bool OpenModelFile(const std::string& command, const std::string& path, varndel::MappedModel& view);


// Writes bytes through the output seam (varndel::file_access::
// WriteOutputFile): a new temporary file beside path, renamed over path, so a failed write leaves no half-written file behind and two
// writers of one output never share a file. The one place the inspector
// writes an output file (render's PNG, report's page and JSON). On failure
// returns false with the reason.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& reason);

// "offset 130, meshes[2].indices: ..." or, for a file that cannot be opened,
// the reader's message alone.
std::string DescribeReadError(const varndel::ReadError& error);

// Colour only for a terminal, and never when NO_COLOR is set to anything
// but the empty string.
bool ColourWanted(bool stdoutIsTerminal, const char* noColor);
bool StdoutWantsColour();

struct Palette {
  bool on = false;
  std::string Bold(std::string_view text) const { return Wrap("\033[1m", text); }
  std::string Red(std::string_view text) const { return Wrap("\033[31m", text); }
  std::string Yellow(std::string_view text) const { return Wrap("\033[33m", text); }
  std::string Green(std::string_view text) const { return Wrap("\033[32m", text); }

 private:
  std::string Wrap(const char* code, std::string_view text) const {
    return on ? code + std::string(text) + "\033[0m" : std::string(text);
  }
};

// Numbers, counts and names as the validator prints them (reader/text.h).
using varndel::text::CountOf;
using varndel::text::FormatDouble;
using varndel::text::FormatFloat;
using varndel::text::FormatVector;
using varndel::text::IsValidUtf8;
using varndel::text::QuoteName;

template <typename Array>
std::string FormatIntVector(const Array& values) {
  std::string text = "(";
  for (size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + std::to_string(values[i]);
  return text + ")";
}

// Axis-aligned box over the finite positions; empty when there are none.
struct Box {
  bool empty = true;
  varndel::Vec3 min{};
  varndel::Vec3 max{};
  void Add(const varndel::Vec3& p);
  void Add(const Box& other);
};
// Streams the positions out of the mesh's vertex block, record by record.
Box MeshBounds(const varndel::MappedMesh& mesh);
// Each mesh's box, in mesh order; overall grows to hold them all.
std::vector<Box> MeshBounds(const varndel::MappedModel& model, Box& overall);
std::string FormatBox(const Box& box);

// AnalyzeMesh of a mapped mesh, at the cost of a copy of its indices (and,
// for the overdraw, of its positions), never of its vertex records.
varndel::MeshStats AnalyzeMappedMesh(const varndel::MappedMesh& mesh, bool overdraw);

// Levels of the hierarchy (a lone root is 1; 0 without nodes). The nodes
// are in pre-order, so a parent always comes before its children.
uint32_t HierarchyDepth(const std::vector<varndel::Node>& nodes);

// aiTextureType names of the types the compiler stores.
const char* TextureTypeName(uint8_t type);

}  // namespace inspect
