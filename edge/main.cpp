// varndel-edge: one model's build step for varndel_add_models. It compiles a
// model exactly as `Varndel <animated> <flipUVs> <model>` run in the asset
// root would (same stages, same file bytes, same Logs/Log.txt), but writes
// the compiled file to a given path in the build tree, keeps the log in a
// private directory, and lists every file the import read in a depfile. One
// process per model: a helper process per step would cost more than the
// compile of a small model.
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <sstream>
#include <string>

#include "edge/edge.h"

namespace fs = std::filesystem;

static constexpr const char* kUsage =
    "Usage: varndel-edge <isAnimatedModel> <flipUVs> <assetRoot> <model> <output> <logDir> [<depfile> "
    "[<depfileTarget>]]\n"
    "\n"
    "Compiles <model> (a path relative to <assetRoot>, as Varndel would be given it when run\n"
    "in <assetRoot>) into <output>. The compiled bytes are those of that direct run.\n"
    "Logs/Log.txt is written below <logDir>; <depfile> (Makefile syntax) lists every file\n"
    "the import read, as the rule for <depfileTarget> (default: <output> made absolute).\n"
    "Nothing is written into <assetRoot>. The compiler's messages are\n"
    "printed on stderr only when the model fails; then no <output> is left behind.\n"
    "\n"
    "Exit codes: 0 compiled; 255 (-1) the model failed; 102 (-666) the read-back differed;\n"
    "2 bad usage.\n";

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc < 7 || argc > 9) {
    std::cerr << kUsage;
    return 2;
  }
  EdgeRequest request;
  request.animated = argv[1];
  request.flipUVs = argv[2];
  request.assetRoot = fs::absolute(argv[3]).string();
  request.model = argv[4];
  request.output = fs::absolute(argv[5]).string();
  request.logDir = fs::absolute(argv[6]).string();
  if (argc >= 8) request.depfile = fs::absolute(argv[7]).string();
  request.depfileTarget = argc == 9 ? argv[8] : request.output;

  // The compiler's console text (logger echo, read-back report) is kept and
  // shown only when the model fails.
  std::ostringstream console;
  std::streambuf* const savedCout = std::cout.rdbuf(console.rdbuf());
  int code = -1;
  std::string failure;
  try {
    code = RunEdge(request, console);
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
  } catch (const std::exception& e) {
    failure = e.what();
  }
  std::cout.rdbuf(savedCout);
  if (code == 0) return 0;

  DiscardEdgeOutputs(request);
  std::cerr << console.str();
  if (!failure.empty()) std::cerr << "varndel-edge: " << failure << '\n';
  std::cerr << "varndel-edge: " << request.model << " failed (exit " << code << "); log in "
            << (fs::path(request.logDir) / "Logs" / "Log.txt").string() << '\n';
  return code;
}
