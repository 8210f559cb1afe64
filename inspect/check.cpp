#include <iostream>

#include "inspect/commands.h"

int RunCheck(int, char**) {
  std::cerr << "varndel-inspect: check: not implemented yet" << std::endl;
  return 2;
}
