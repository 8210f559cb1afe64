#include <iostream>

#include "inspect/commands.h"

int RunRender(int, char**) {
  std::cerr << "varndel-inspect: render: not implemented yet" << std::endl;
  return 2;
}
