// The tools' progress line (inspect/progress.h): its text, when it shows
// nothing, the counts the long steps report, and --quiet on every tool that
// shows it.
#include <gtest/gtest.h>
#include <varndel/optimize.h>
#include <varndel/reader.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <utility>

#include "inspect/progress.h"
#include "opt/files.h"
#include "tests/inspect_support.h"

namespace {

using Counts = std::vector<std::pair<size_t, size_t>>;

// What a line wrote to a file, after the steps in draw ran on it.
template <typename Draw>
std::string Drawn(const fs::path& file, progress::Timing timing, Draw draw) {
  std::FILE* out = std::fopen(file.string().c_str(), "wb+");
  EXPECT_NE(out, nullptr);
  {
    progress::Line line("tool: step", out, timing);
    draw(line);
  }
  std::fclose(out);
  return ReadFile(file);
}

TEST(Progress, DrawsTheCountOverItselfAndEndsTheLine) {
  ScratchDir dir;
  const progress::Timing now{std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
  EXPECT_EQ(progress::FormatLine("varndel-opt: optimising meshes", 3, 12), "varndel-opt: optimising meshes: 3/12");

  EXPECT_EQ(Drawn(dir.path / "a", now,
                  [](progress::Line& line) {
                    line.Update(10, 12);
                    line.Update(9, 12);  // shorter: the stale digit is covered
                    line.Update(12, 12);
                    line.Update(12, 12);  // nothing after the line ended
                  }),
            "\rtool: step: 10/12\rtool: step: 9/12 \rtool: step: 12/12\n");

  // Other output wipes the line first; a step stopped short ends it at
  // destruction, so the next output starts on a line of its own.
  EXPECT_EQ(Drawn(dir.path / "b", now,
                  [](progress::Line& line) {
                    line.Update(1, 4);
                    line.Clear();
                    line.Clear();
                    line.Update(2, 4);
                  }),
            "\rtool: step: 1/4\r" + std::string(15, ' ') + "\r\rtool: step: 2/4\n");
}

TEST(Progress, ShowsNothingBeforeTheDelayOrWhenOff) {
  ScratchDir dir;
  const progress::Timing later{std::chrono::hours(1), std::chrono::milliseconds(0)};
  EXPECT_EQ(Drawn(dir.path / "a", later,
                  [](progress::Line& line) {
                    line.Update(1, 2);
                    line.Update(2, 2);
                    line.Finish();
                  }),
            "");
  progress::Line quiet("tool: step", false);
  EXPECT_FALSE(quiet.Active());
  EXPECT_FALSE(quiet.Callback());
  if (!progress::StderrIsTerminal()) {
    EXPECT_FALSE(progress::Line("tool: step", true).Active());
  }
}

// The counts the long steps of varndel-opt report: every mesh, a skipped
// one included, so the count reaches the total; every level written.
TEST(Progress, OptimisationCountsMeshesAndLevels) {
  varndel::Model model;
  const std::string image = ModelImage(QuadModel());
  ASSERT_TRUE(varndel::ReadModel(image.data(), image.size(), model));
  model.meshes.push_back(model.meshes[0]);
  model.meshes[1].indices.pop_back();  // not whole triangles: left as it is
  Counts meshes;
  varndel::OptimizeOptions options;
  options.meshProgress = [&](size_t done, size_t total) { meshes.emplace_back(done, total); };
  EXPECT_EQ(varndel::OptimizeModel(model, options).size(), 1u);
  EXPECT_EQ(meshes, (Counts{{1, 2}, {2, 2}}));

  ScratchDir dir;
  Counts levels;
  std::ostringstream report;
  std::vector<std::string> warnings;
  std::string error;
  model.meshes.pop_back();
  ASSERT_TRUE(WriteLodFiles(model, (dir.path / "quad.staticbin").string(), LodRequest{{1.0f, 0.9f}}, report, warnings,
                            error, nullptr, [&](size_t done, size_t total) { levels.emplace_back(done, total); }))
      << error;
  EXPECT_EQ(levels, (Counts{{1, 2}, {2, 2}}));
}

TEST(Progress, EveryToolTakesQuiet) {
  ScratchDir dir;
  WriteModel(dir.path / "quad.staticbin", QuadModel());
  const struct {
    const char* exe;
    std::vector<std::string> args;
  } cases[] = {
      {VARNDEL_OPT_EXE, {"quad.staticbin", "-o", "opt.staticbin", "--lod", "1", "--quiet"}},
      {VARNDEL_OPT_EXE, {"-q", "quad.staticbin", "-o", "opt.staticbin"}},
      {VARNDEL_INSPECT_EXE, {"render", "quad.staticbin", "-o", "quad.png", "--size", "16x16", "--quiet"}},
      {VARNDEL_INSPECT_EXE, {"report", "quad.staticbin", "-o", "report.html", "-q"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const RunResult run = RunProcess(c.exe, c.args, dir.path);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
