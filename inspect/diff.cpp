#include <iostream>

#include "inspect/commands.h"

int RunDiff(int, char**) {
  std::cerr << "varndel-inspect: diff: not implemented yet" << std::endl;
  return 2;
}
