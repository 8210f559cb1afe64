// varndel-inspect: one function per subcommand. Each takes the arguments
// from the subcommand's name on (argv[0] is "info", "render", ...), prints
// results on stdout and diagnostics on stderr, and returns the exit code.
#pragma once

#include <string>

int RunInfo(int argc, char** argv);
int RunJson(int argc, char** argv);
int RunCheck(int argc, char** argv);
int RunDiff(int argc, char** argv);
int RunRender(int argc, char** argv);
int RunReport(int argc, char** argv);

