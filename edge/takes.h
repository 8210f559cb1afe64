// The animations ("takes") of a source file: listing, selection, the file
// each selected take is compiled into, and the conversion of one take as
// the compiler converts a file's first animation. The compiler itself
// compiles the first animation only; these are for the tools around it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct aiScene;
struct ModelContainer;

struct TakeInfo {
  std::string name;             // as the file stores it: untrusted bytes
  double durationTicks = 0.0;
  double ticksPerSecond = 0.0;  // as stored; 0 when the file gives none
  unsigned channels = 0;        // node channels (tracks)
};

// The takes of an imported scene, in its order (a missing animation is a
// take with no name and no channels).
std::vector<TakeInfo> TakesOf(const aiScene& scene);

// Imports the model file at path (with the compiler's import settings) and
// returns its takes. Writes nothing, not even a log. Throws
// std::runtime_error naming the file when the import fails.
std::vector<TakeInfo> ReadTakes(const std::string& path);

// One line per take: index, quoted name, duration in ticks and seconds,
// ticks per second, channel count. Names never reach the terminal raw.
std::string FormatTakeList(const std::vector<TakeInfo>& takes);
// The same list as one JSON document. A name that is not well-formed UTF-8
// is written with U+FFFD in place of its ill-formed parts, and "nameHex"
// carries its exact bytes.
std::string FormatTakeListJson(const std::vector<TakeInfo>& takes);

// Whether name matches pattern, where '*' matches any run of characters and
// '?' exactly one (a whole UTF-8 sequence, or one stray byte).
bool MatchesTakePattern(std::string_view pattern, std::string_view name);

// The takes a list of selectors picks, ascending and without duplicates.
// A selector is "all", a decimal index, a pattern with '*' or '?', or an
// exact name (in this order: a take named "all" or "3" is picked by its
// index). Throws std::runtime_error, listing the takes, when a selector
// picks nothing; model names the file in that message.
std::vector<size_t> SelectTakes(const std::vector<TakeInfo>& takes, const std::vector<std::string>& selectors,
                                const std::string& model);

// The part between the output stem and ".animbin" of every take's file, by
// a rule of the whole file (the same whatever is selected):
// - varndel::SafeFileName of the name (injective, and apart even where case
//   is ignored), unless the name is empty or another take has the same name;
// - otherwise "take<N>", N the take's index.
// An entry is "" when even that clashes with another take's part (a take
// literally named "take3" beside a take 3 whose name is taken): such takes
// cannot be written, and selecting one fails (see CheckTakeFileNames).
std::vector<std::string> TakeFileParts(const std::vector<TakeInfo>& takes);

// Throws std::runtime_error naming the selected takes whose part is "".
void CheckTakeFileNames(const std::vector<TakeInfo>& takes, const std::vector<std::string>& parts,
                        const std::vector<size_t>& selected);

// "<output without its last extension>.<part>.animbin".
std::string TakeFilePath(const std::string& output, const std::string& part);

// Converts scene as the compiler would if take index were its first
// animation, into taken, which starts from the run settings of settings
// (animated, flipUVs, input and output names) and an empty model.
// Returns ConvertScene's code. The scene's animation order is restored
// before returning.
int ConvertTake(const aiScene& scene, size_t index, const ModelContainer& settings, ModelContainer& taken);

// The run of `Varndel 1 <flipUVs> <model> [<output name>]` (argv as Varndel
// gets it) with the one take that selector selects as the first animation:
// the image goes to bytes, and path receives <the output Varndel would
// write, without its extension>.<part>.animbin. Returns the compiler's stage
// code (0 on success; the log says why not). Throws std::runtime_error when
// the selector selects no take, or several, or one whose file name clashes.
int CompileTake(int argc, const char* const* argv, const std::string& selector, std::string& bytes,
                std::string& path);
