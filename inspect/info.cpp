#include <iostream>

#include "inspect/commands.h"

int RunInfo(int, char**) {
  std::cerr << "varndel-inspect: info: not implemented yet" << std::endl;
  return 2;
}
