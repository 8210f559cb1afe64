// Runs the real binary: usage text, exit codes, argument errors, log file.
#include <gtest/gtest.h>

#include "tests/test_support.h"

static const std::string kReset = "\033[0m";
static const std::string kUsage =
    "Usage:\nVarndel.exe <isAnimatedModel> <flipUVs> <inputFile> (outputFileName)\n\n"
    "-- Options:\n"
    "isAnimatedModel:   0 - The given model is a static model.\n"
    "                   1 - The given model is an animated model.\n"
    "flipUVs:           0 - Do not flip the UVs of the given model.\n"
    "                   1 - Flip the UVs of the given model.\n"
    "inputFile:         The input file (eg. inputFileName.ext).\n"
    "outputFileName:    The output file name (eg. outputFileName). Default output - "
    "inputFileName.staticbin / inputFileName.animbin\n";
static const std::string kArgumentError = "\033[31m[Error]\033[0m MC Error: (2)\n";

TEST(Driver, TooFewArgumentsPrintUsageAndLogNothing) {
  const std::vector<std::vector<std::string>> commandLines = {{}, {"0"}, {"0", "0"}};
  for (const auto& args : commandLines) {
    ScratchDir dir;
    RunResult run = RunVarndel(args, dir.path);
    EXPECT_EQ(run.out, TextMode(kReset + kUsage));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_FALSE(fs::exists(dir.path / "Logs"));
  }
  // An earlier run's log survives a usage-only run byte for byte.
  ScratchDir dir;
  fs::create_directory(dir.path / "Logs");
  WriteFile(dir.path / "Logs/Log.txt", "previous run\n");
  RunVarndel({"1", "1"}, dir.path);
  EXPECT_EQ(ReadFile(dir.path / "Logs/Log.txt"), "previous run\n");
}

TEST(Driver, BadArgumentsGiveCode2OnConsoleAndInLog) {
  const std::vector<std::vector<std::string>> commandLines = {
      {"2", "0", "model.obj"},
      {"00", "0", "model.obj"},
      {"0", "1 ", "model.obj"},
      {"0", "0", "model.obj", "out.name"},
  };
  for (const auto& args : commandLines) {
    ScratchDir dir;
    fs::create_directory(dir.path / "Logs");
    WriteFile(dir.path / "Logs/Log.txt", "an older run's text that must go\n");
    RunResult run = RunVarndel(args, dir.path);
    EXPECT_EQ(run.out, TextMode(kReset + kArgumentError)) << args[0];
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(ReadFile(dir.path / "Logs/Log.txt"), TextMode(kArgumentError));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);  // Logs only
  }
}

TEST(Driver, RegularFileNamedLogsEndsTheRunWithAClearError) {
  ScratchDir dir;
  WriteFile(dir.path / "Logs", "not a directory");
  RunResult run = RunVarndel({"2", "0", "model.obj"}, dir.path);
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, TextMode(kReset));  // the message never reached the console
#ifdef _WIN32
  const std::string reason = "Not a directory";
#else
  const std::string reason = "File exists";
#endif
  EXPECT_EQ(run.err, TextMode("Varndel: filesystem error: cannot create directories: " + reason + " [Logs/]\n"));
  EXPECT_EQ(ReadFile(dir.path / "Logs"), "not a directory");
}

TEST(Driver, UnopenableLogFileStillEchoesEveryMessage) {
  ScratchDir dir;
  fs::create_directories(dir.path / "Logs/Log.txt");  // a directory where the file should be
  RunResult run = RunVarndel({"0", "7", "model.obj"}, dir.path);
  EXPECT_EQ(run.out, TextMode(kReset + kArgumentError));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitCode, kExitFailure);
}

#ifdef _WIN32
// Text-mode streams end lines with CRLF on Windows, and the caller sees the
// whole exit status.
TEST(Driver, WindowsCrLfLinesAndFullExitStatus) {
  ScratchDir dir;
  RunResult run = RunVarndel({"2", "0", "model.obj"}, dir.path);
  EXPECT_EQ(run.exitCode, -1);
  EXPECT_EQ(run.out, "\033[0m\033[31m[Error]\033[0m MC Error: (2)\r\n");
  EXPECT_EQ(ReadFile(dir.path / "Logs/Log.txt"), "\033[31m[Error]\033[0m MC Error: (2)\r\n");
  RunResult usage = RunVarndel({}, dir.path);
  EXPECT_EQ(usage.exitCode, -1);
  EXPECT_EQ(usage.out.substr(0, 15), "\033[0mUsage:\r\nVar");
}
#endif
