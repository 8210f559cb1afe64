#include "log/log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>

#include "tests/test_support.h"

TEST(Logger, TagsLevelsAndEchoesToConsole) {
  CaptureStdout console;
  LogError("MC Error: (%d)\n", 5);
  LogInfo("Loading raw model...\n");
  EXPECT_EQ(console.text(),
            "\033[31m[Error]\033[0m MC Error: (5)\n"
            "\033[32m[Info]\033[0m Loading raw model...\n");
  EXPECT_TRUE(messageStream.str().empty());
}

struct WalkCase {
  const char* format;
  std::string expected;
};

TEST(Logger, PlaceholderWalk) {
  const std::string s = "x%dy";
  const uint64_t big = 4294967296ull;
  const WalkCase cases[] = {
      // Every character after '%' takes the argument and is dropped.
      {"a%db", "a7b"},           {"a%sb", "a7b"},     {"a% b", "a7b"},
      {"a%\nb", "a7b"},          {"a%%b%d", "a%%b7"},  // a doubled '%' prints as two and takes none
      {"%d and %d", "7 and %d"},                       // surplus placeholders copied
      {"end%", "end7"},                                // a trailing '%' takes the argument, reads nothing past the end
  };
  for (const WalkCase& c : cases) {
    CaptureStdout console;
    LogInfo(c.format, 7);
    EXPECT_EQ(console.text(), std::string(kInfoTag) + c.expected) << c.format;
  }
  CaptureStdout console;
  LogInfo("%d|%d|%s|%s\n", -3, big, s, "%d");
  LogInfo("100%% %d %s\n");
  EXPECT_EQ(console.text(), std::string(kInfoTag) + "-3|4294967296|x%dy|%d\n" + kInfoTag + "100%% %d %s\n");
}

TEST(Logger, ExtraArgumentsThrowAndPrintNothing) {
  const char* formats[] = {"no placeholder\n", "", "100%%d\n", "end%"};
  for (const char* format : formats) {
    CaptureStdout console;
    if (std::string(format) == "end%") {
      EXPECT_THROW(LogInfo(format, 1, 2), std::logic_error);
    } else {
      try {
        LogError(format, 1);
        ADD_FAILURE() << "no exception for " << format;
      } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Extra arguments provided!");
      }
    }
    EXPECT_EQ(console.text(), "") << format;
    messageStream.str("");
  }
}
