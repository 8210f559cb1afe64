// Runs every test inside a fresh scratch directory, so that logging
// (Logs/Log.txt) and written models never land in the source or build tree.
#include <gtest/gtest.h>

#include "tests/test_support.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const fs::path dir = MakeTemporaryDirectory();
  fs::current_path(dir);
  const int result = RUN_ALL_TESTS();
  fs::current_path(dir.parent_path());
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return result;
}
