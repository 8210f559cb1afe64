#include <cstring>
#include <iostream>

#include "inspect/commands.h"
#include "inspect/common.h"
#include "optimize/tool_version.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"info", RunInfo, "summary of a compiled model file"},
    {"json", RunJson, "the same facts as one JSON document"},
    {"check", RunCheck, "judge files the way an engine would load them"},
    {"diff", RunDiff, "compare two compiled files field by field"},
    {"render", RunRender, "draw a compiled file into a PNG"},
    {"report", RunReport, "one HTML page over a library of compiled files"},
};

void PrintUsage(std::ostream& out) {
  out << "usage: varndel-inspect <command> [options] FILE...\n\ncommands:\n";
  for (const Command& command : kCommands) out << "  " << command.name << "\t" << command.summary << "\n";
  out << "\nvarndel-inspect <command> --help shows a command's options.\n"
         "\nResults go to stdout, diagnostics to stderr. Colour only when stdout is a terminal\n"
         "and NO_COLOR is unset or empty.\n"
         "\nexit codes:\n"
         "  0\tsuccess; check: no errors (warnings allowed); diff: the files are equal\n"
         "  1\tcheck: errors found; diff: the files differ; render, report: the output cannot be written\n"
         "  2\ta file cannot be read, a usage error, or not enough memory\n"
         "\noptions:\n"
         "  -h, --help\tthis text\n"
         "  --version\tthe version, and those of Assimp and meshoptimizer\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(std::cerr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintUsage(std::cout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::cout << varndel::ToolVersionText("varndel-inspect");
    return 0;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return inspect::RunGuarded(command.name, command.run, argc - 1, argv + 1);
  }
  std::cerr << "varndel-inspect: unknown command '" << argv[1] << "'\n";
  PrintUsage(std::cerr);
  return 2;
}
