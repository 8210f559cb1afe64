#include <iostream>

#include "inspect/commands.h"

int RunJson(int, char**) {
  std::cerr << "varndel-inspect: json: not implemented yet" << std::endl;
  return 2;
}
