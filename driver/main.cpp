#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <stdexcept>

#include "model/model.h"

// Failures that arrive as exceptions (log directory, removal, memory, a
// logger misuse) end the run with one line on standard error and exit -1.
int main(int argc, char** argv) {
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
