#include <filesystem>
#include <iostream>
#include <new>
#include <stdexcept>

#include "driver/large_stack.h"
#include "log/log.h"
#include "model/model.h"

static void PrintUsage() {
  std::cout << "Usage:\nVarndel.exe <isAnimatedModel> <flipUVs> <inputFile> (outputFileName)\n" << std::endl;
  std::cout << "-- Options:" << '\n';
  std::cout << "isAnimatedModel:   0 - The given model is a static model." << '\n';
  std::cout << "                   1 - The given model is an animated model." << '\n';
  std::cout << "flipUVs:           0 - Do not flip the UVs of the given model." << '\n';
  std::cout << "                   1 - Flip the UVs of the given model." << '\n';
  std::cout << "inputFile:         The input file (eg. inputFileName.ext)." << std::endl;
  std::cout << "outputFileName:    The output file name (eg. outputFileName). Default output - "
               "inputFileName.staticbin / inputFileName.animbin"
            << std::endl;
}

// Runs GenerateModelFile, removing what it truncated if it throws part-way.
static int GenerateModelFileOrCleanUp() {
  try {
    return GenerateModelFile();
  } catch (...) {
    if (modelContainer.outputFileOpened) RemoveOutputFile();
    throw;
  }
}

int RunCompiler(int argc, char** argv) {
  std::cout << "\033[0m";
  if (argc < 4) {
    PrintUsage();
    return -1;
  }

  if (const int code = ParseArguments(argc, argv); code != kSuccess) {
    LogError("MC Error: (%d)\n", code);
    return -1;
  }

  if (const int code = GenerateModelFileOrCleanUp(); code != kSuccess) {
    LogError("MC Error: (%d)\n", code);
    // Only a file this run truncated is deleted; after an import or open
    // failure the output path names something this run never wrote.
    if (modelContainer.outputFileOpened) RemoveOutputFile();
    return -1;
  }

  return VerifyCompiledFile() ? -666 : 0;
}

static int RunCompilerCatching(int argc, char** argv) {
  try {
    return RunCompiler(argc, argv);
  } catch (const std::filesystem::filesystem_error& e) {
    std::cout << std::flush;
    std::cerr << "Varndel: " << e.what() << std::endl;
  } catch (const std::bad_alloc&) {
    std::cout << std::flush;
    std::cerr << "Varndel: out of memory" << std::endl;
  } catch (const std::exception& e) {
    std::cout << std::flush;
    std::cerr << "Varndel: " << e.what() << std::endl;
  }
  return -1;
}

int RunCompilerProcess(int argc, char** argv, std::string* outputPath) {
  modelContainer = ModelContainer{};
  ResetLog();
  // Assimp recurses over the scene's node tree: a deep one needs the stack.
  const int code = RunOnLargeStack([&] { return RunCompilerCatching(argc, argv); });
  if (code == 0 && outputPath != nullptr) *outputPath = OutputPathOf(modelContainer);
  modelContainer = ModelContainer{};
  return code;
}
