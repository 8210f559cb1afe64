// varndel-inspect: one function per subcommand. Each takes the arguments
// from the subcommand's name on (argv[0] is "info", "render", ...), prints
// results on stdout and diagnostics on stderr, and returns the exit code.
#pragma once

#include <string>
#include <vector>

int RunInfo(int argc, char** argv);
int RunJson(int argc, char** argv);
int RunCheck(int argc, char** argv);
int RunDiff(int argc, char** argv);
int RunRender(int argc, char** argv);

// Where a stored texture path may be found: the path with '\' turned into
// '/' and as stored, each relative to the working directory and then to the
// directory of the compiled file (absolute paths as they are). Candidates in
// the order to try, without duplicates.
std::vector<std::string> TextureCandidates(const std::string& storedPath, const std::string& compiledFile);

// The first candidate that names a regular file, or "" when none does.
std::string ResolveTexturePath(const std::string& storedPath, const std::string& compiledFile);
