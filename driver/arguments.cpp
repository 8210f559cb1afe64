#include <cctype>

#include "model/model.h"

static bool IsSwitch(std::string_view arg) { return arg == "0" || arg == "1"; }

int ParseArguments(int argc, char** argv) { return ParseArguments(argc, argv, modelContainer); }

int ParseArguments(int argc, const char* const* argv, ModelContainer& mc) {
  const std::string_view animated = argv[1];
  const std::string_view flip = argv[2];
  const std::string_view input = argv[3];
  if (!IsSwitch(animated) || !IsSwitch(flip)) return kBadArguments;

  mc.isAnimatedModel = animated == "1";
  mc.flipUVs = flip == "1";

  const std::string_view fileName = FileNameOf(input);
  const std::string_view extension = ExtensionOf(fileName);
  std::string lowerExtension(extension);
  for (char& c : lowerExtension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  std::string baseName;
  if (argc == 4) {
    baseName = fileName.substr(0, std::min(fileName.rfind('.'), fileName.size()));
  } else {
    baseName = argv[4];
    if (baseName.find('.') != std::string::npos) return kBadArguments;
  }

  mc.inputFile = std::string(input.substr(0, input.size() - extension.size())) + lowerExtension;
  mc.givenInputFile = std::string(input);
  mc.outputFileName = baseName + (mc.isAnimatedModel ? ".animbin" : ".staticbin");
  return kSuccess;
}
