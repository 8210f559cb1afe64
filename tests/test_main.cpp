// Runs every test inside a fresh scratch directory, so that logging
// (Logs/Log.txt) and written models never land in the source or build tree.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/test_support.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/varndel-tests-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) return 1;
  std::filesystem::current_path(dir);
  const int result = RUN_ALL_TESTS();
  std::filesystem::current_path("/");
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}
