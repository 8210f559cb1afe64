// The takes of a source file (see takes.h).
#include "edge/takes.h"

#include <assimp/scene.h>

#include <algorithm>
#include <assimp/IOSystem.hpp>
#include <assimp/Importer.hpp>
#include <cmath>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include <varndel/file_names.h>

#include "driver/large_stack.h"
#include "import/scene_access.h"
#include "model/model.h"
#include "reader/text.h"

namespace fs = std::filesystem;
using varndel::text::QuoteName;

namespace {

constexpr size_t kListedInErrors = 20;  // takes named in a message; the rest are counted

std::string FormatNumber(double value) { return varndel::text::FormatDouble(value); }

// The takes as a message lists them: at most kListedInErrors of them.
std::string ListForMessage(const std::vector<TakeInfo>& takes) {
  if (takes.empty()) return "it has no takes";
  std::string text = "its takes:";
  for (size_t i = 0; i < takes.size() && i < kListedInErrors; ++i) {
    text += "\n  " + std::to_string(i) + " " + QuoteName(takes[i].name);
  }
  if (takes.size() > kListedInErrors) {
    text += "\n  ... and " + std::to_string(takes.size() - kListedInErrors) +
            " more (varndel-edge --list-animations lists them all)";
  }
  return text;
}

std::string FoldAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}


bool IsIndex(std::string_view text) {
  return !text.empty() && text.size() <= 19 && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

// Length of the character at text[i]: a whole UTF-8 sequence, or one byte.
size_t CharacterLength(std::string_view text, size_t i) {
  const size_t length = varndel::text::Utf8SequenceLength(text, i);
  return length == 0 ? 1 : length;
}

}  // namespace

std::vector<TakeInfo> TakesOf(const aiScene& scene) {
  std::vector<TakeInfo> takes;
  if (scene.mAnimations == nullptr) return takes;
  takes.reserve(scene.mNumAnimations);
  for (unsigned i = 0; i < scene.mNumAnimations; ++i) {
    TakeInfo take;
    if (const aiAnimation* animation = scene.mAnimations[i]) {
      take.name = TextOf(animation->mName);
      take.durationTicks = animation->mDuration;
      take.ticksPerSecond = animation->mTicksPerSecond;
      take.channels = animation->mChannels != nullptr ? animation->mNumChannels : 0;
    }
    takes.push_back(std::move(take));
  }
  return takes;
}

std::vector<TakeInfo> ReadTakes(const std::string& path) {
  std::error_code ignored;
  if (!fs::is_regular_file(path, ignored)) throw std::runtime_error("cannot read " + QuoteName(path) + ": no such file");
  std::vector<TakeInfo> takes;
  // Assimp recurses over the scene's node tree: a deep one needs the stack.
  RunOnLargeStack([&] {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, ImportFlags(false));
    if (scene == nullptr || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) != 0) {
      throw std::runtime_error("cannot read " + QuoteName(path) + ": " + QuoteName(importer.GetErrorString()));
    }
    takes = TakesOf(*scene);
    return 0;
  });
  return takes;
}

std::string FormatTakeList(const std::vector<TakeInfo>& takes) {
  std::string text;
  for (size_t i = 0; i < takes.size(); ++i) {
    const TakeInfo& take = takes[i];
    const std::string seconds =
        take.ticksPerSecond > 0.0 ? FormatNumber(take.durationTicks / take.ticksPerSecond) + " s" : "? s";
    text += std::to_string(i) + " " + QuoteName(take.name) + ": " + FormatNumber(take.durationTicks) + " ticks (" +
            seconds + ") at " + FormatNumber(take.ticksPerSecond) + " ticks/s, " +
            varndel::text::CountOf(take.channels, "channel", "channels") + "\n";
  }
  return text;
}

std::string FormatTakeListJson(const std::vector<TakeInfo>& takes) {
  using nlohmann::json;
  const auto number = [](double value) { return std::isfinite(value) ? json(value) : json(nullptr); };
  json list = json::array();
  for (size_t i = 0; i < takes.size(); ++i) {
    const TakeInfo& take = takes[i];
    json entry = json::object();
    entry["index"] = i;
    entry["name"] = take.name;
    if (!varndel::text::IsValidUtf8(take.name)) {
      static const char kDigits[] = "0123456789abcdef";
      std::string hex;
      for (const unsigned char byte : take.name) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
      }
      entry["nameHex"] = hex;
    }
    entry["durationTicks"] = number(take.durationTicks);
    entry["durationSeconds"] =
        take.ticksPerSecond > 0.0 ? number(take.durationTicks / take.ticksPerSecond) : json(nullptr);
    entry["ticksPerSecond"] = number(take.ticksPerSecond);
    entry["channels"] = take.channels;
    list.push_back(std::move(entry));
  }
  json document = json::object();
  document["animations"] = std::move(list);
  return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

// Greedy matching with one point of return (the last '*'): linear in the
// name for each '*', no recursion.
bool MatchesTakePattern(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n += CharacterLength(name, n);
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      starN += CharacterLength(name, starN);
      n = starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<size_t> SelectTakes(const std::vector<TakeInfo>& takes, const std::vector<std::string>& selectors,
                                const std::string& model) {
  std::vector<bool> picked(takes.size(), false);
  for (const std::string& selector : selectors) {
    bool any = false;
    const auto pick = [&](size_t i) {
      picked[i] = true;
      any = true;
    };
    if (selector == "all") {
      for (size_t i = 0; i < takes.size(); ++i) pick(i);
    } else if (IsIndex(selector)) {
      const unsigned long long index = std::stoull(selector);
      if (index < takes.size()) pick(size_t(index));
    } else {
      const bool pattern = selector.find_first_of("*?") != std::string::npos;
      for (size_t i = 0; i < takes.size(); ++i) {
        if (pattern ? MatchesTakePattern(selector, takes[i].name) : selector == takes[i].name) pick(i);
      }
    }
    if (!any) {
      throw std::runtime_error("--animation " + QuoteName(selector) + " selects no take of " + QuoteName(model) +
                               "; " + ListForMessage(takes));
    }
  }
  std::vector<size_t> selected;
  for (size_t i = 0; i < takes.size(); ++i) {
    if (picked[i]) selected.push_back(i);
  }
  return selected;
}

std::vector<std::string> TakeFileParts(const std::vector<TakeInfo>& takes) {
  std::vector<std::string> parts(takes.size());
  std::map<std::string, size_t> uses;  // folded safe name -> takes
  for (size_t i = 0; i < takes.size(); ++i) {
    if (!takes[i].name.empty()) parts[i] = varndel::SafeFileName(takes[i].name);
    if (!parts[i].empty()) ++uses[FoldAsciiCase(parts[i])];
  }
  for (size_t i = 0; i < takes.size(); ++i) {
    if (parts[i].empty() || uses[FoldAsciiCase(parts[i])] > 1) parts[i] = "take" + std::to_string(i);
  }
  // A fallback may equal a name ("take3"): neither can be written.
  std::map<std::string, std::vector<size_t>> owners;
  for (size_t i = 0; i < takes.size(); ++i) owners[FoldAsciiCase(parts[i])].push_back(i);
  for (const auto& [part, indices] : owners) {
    if (indices.size() < 2) continue;
    for (const size_t i : indices) parts[i].clear();
  }
  return parts;
}

void CheckTakeFileNames(const std::vector<TakeInfo>& takes, const std::vector<std::string>& parts,
                        const std::vector<size_t>& selected) {
  std::string clashing;
  for (const size_t i : selected) {
    if (parts[i].empty()) clashing += "\n  " + std::to_string(i) + " " + QuoteName(takes[i].name);
  }
  if (clashing.empty()) return;
  throw std::runtime_error(
      "these takes would share a file name with another take (even as take<N>), and none is overwritten:" + clashing);
}

std::string TakeFilePath(const std::string& output, const std::string& part) {
  return fs::path(output).replace_extension().string() + "." + part + ".animbin";
}

int ConvertTake(const aiScene& scene, size_t index, const ModelContainer& settings, ModelContainer& taken) {
  taken = ModelContainer();
  taken.isAnimatedModel = settings.isAnimatedModel;
  taken.flipUVs = settings.flipUVs;
  taken.inputFile = settings.inputFile;
  taken.givenInputFile = settings.givenInputFile;
  taken.outputFileName = settings.outputFileName;
  // The conversion reads the first animation only, so a swap puts the take
  // where a file holding it first would have it. The importer owns the
  // scene and nothing else sees it meanwhile; the order is put back at once.
  aiAnimation** animations = const_cast<aiScene&>(scene).mAnimations;
  struct Restore {
    aiAnimation** animations;
    size_t index;
    ~Restore() {
      if (index != 0) std::swap(animations[0], animations[index]);
    }
  };
  if (index != 0) std::swap(animations[0], animations[index]);
  const Restore restore{animations, index};
  return ConvertScene(scene, taken);
}

int CompileTake(int argc, const char* const* argv, const std::string& selector, std::string& bytes,
                std::string& path) {
  ModelContainer mc;
  int code = ParseArguments(argc, argv, mc);
  if (code != kSuccess) return code;
  code = LoadModel(mc, nullptr, [&](const aiScene& scene) {
    const std::vector<TakeInfo> takes = TakesOf(scene);
    const std::vector<size_t> selected = SelectTakes(takes, {selector}, mc.givenInputFile);
    if (selected.size() != 1) {
      std::string indices;
      for (const size_t i : selected) indices += (indices.empty() ? "" : ", ") + std::to_string(i);
      throw std::runtime_error(QuoteName(selector) + " selects " + std::to_string(selected.size()) + " takes (" +
                               indices + "); compile one at a time");
    }
    const std::vector<std::string> parts = TakeFileParts(takes);
    CheckTakeFileNames(takes, parts, selected);
    ModelContainer take;
    int converted = ConvertTake(scene, selected[0], mc, take);
    if (converted == kSuccess) converted = SerializeModel(take, bytes);
    if (converted != kSuccess) throw std::runtime_error("take " + std::to_string(selected[0]) + " cannot be compiled");
    path = TakeFilePath(OutputPathOf(mc), parts[selected[0]]);
  });
  return code;
}
