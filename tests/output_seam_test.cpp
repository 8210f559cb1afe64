// The one way the tools write files (reader/file_access.h): a hostile
// user's folders, links and earlier outputs come out of every run whole, and
// an interrupt leaves no temporary and no truncated output.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

#include "bench/ply_grid.h"
#include "reader/file_access.h"
#include "test_support.h"

namespace seam = varndel::file_access;

namespace {

// Everything below root: each path with what it is and holds ("link -> x",
// "dir", or the bytes), except the names in skipped (a run's own files).
std::map<std::string, std::string> Snapshot(const fs::path& root, const std::vector<std::string>& skipped = {}) {
  std::map<std::string, std::string> tree;
  for (auto entry = fs::recursive_directory_iterator(root); entry != fs::recursive_directory_iterator(); ++entry) {
    const std::string name = entry->path().lexically_relative(root).generic_string();
    if (std::find(skipped.begin(), skipped.end(), name) != skipped.end()) {
      if (entry->is_directory() && !entry->is_symlink()) entry.disable_recursion_pending();
      continue;
    }
    if (entry->is_symlink()) {
      tree[name] = "link -> " + fs::read_symlink(entry->path()).string();
    } else if (entry->is_directory()) {
      tree[name] = "dir";
    } else {
      tree[name] = ReadFile(entry->path());
    }
  }
  return tree;
}

}  // namespace

// Which existing directories a run may replace: only one a tool made.
TEST(OutputSeam, ReplacesOnlyADirectoryAToolMade) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // "" content: a directory
    std::vector<std::string> listed;
    std::string refusal;  // empty: may be replaced
  };
  const std::vector<Case> cases = {
      {"absent", {}, {}, ""},
      {"empty", {{"", ""}}, {}, ""},
      {"marked", {{"", ""}, {seam::kOutputDirectoryMarker, "x"}, {"0.png", "p"}, {"old.png", "q"}}, {}, ""},
      {"listed", {{"", ""}, {"0.png", "p"}, {"1.png", "q"}}, {"0.png", "1.png", "2.png"}, ""},
      {"users", {{"", ""}, {"a.psd", "keep"}, {"0.png", "p"}}, {"0.png"}, "it holds 'a.psd'"},
      {"nested", {{"", ""}, {seam::kOutputDirectoryMarker, "x"}, {"sub/", ""}}, {}, "the directory 'sub'"},
      {"file", {{"", "a model"}}, {}, "it is a file, not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path target = dir.path / c.name;
    for (const auto& [name, bytes] : c.files) {
      if (name.empty() && bytes.empty()) fs::create_directories(target);
      else if (name.empty()) WriteFile(target, bytes);
      else if (name.back() == '/') fs::create_directories(target / name);
      else WriteFile(target / name, bytes);
    }
    const auto before = fs::exists(target) ? Snapshot(dir.path) : std::map<std::string, std::string>{};
    const std::string refusal = seam::CheckReplaceableDirectory(target.string(), c.listed);
    if (!c.refusal.empty()) {
      EXPECT_NE(refusal.find("'" + target.string() + "'"), std::string::npos) << refusal;
      EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
      seam::OutputDirectory built;
      std::string reason;
      EXPECT_FALSE(seam::CreateOutputDirectory(target.string(), c.listed, built, reason));
      EXPECT_FALSE(seam::RemoveOutputDirectory(target.string(), c.listed, reason));
      EXPECT_EQ(Snapshot(dir.path), before);
      continue;
    }
    EXPECT_EQ(refusal, "");
    seam::OutputDirectory built;
    std::string reason;
    ASSERT_TRUE(seam::CreateOutputDirectory(target.string(), c.listed, built, reason)) << reason;
    ASSERT_TRUE(seam::AddOutputDirectoryFile(built, "new.png", "n", reason)) << reason;
    ASSERT_TRUE(seam::CommitOutputDirectory(built, c.listed, reason)) << reason;
    EXPECT_EQ(Snapshot(target), (std::map<std::string, std::string>{
                                    {seam::kOutputDirectoryMarker, ReadFile(target / seam::kOutputDirectoryMarker)},
                                    {"new.png", "n"}}));
  }
  // ".", "..", a link: never, whatever they hold.
  std::vector<fs::path> never = {dir.path / "marked" / ".", dir.path / "marked" / ".."};
#ifndef _WIN32
  fs::create_directories(dir.path / "real");
  fs::create_directory_symlink(dir.path / "real", dir.path / "link");
  never.push_back(dir.path / "link");
#endif
  for (const fs::path& target : never) {
    EXPECT_NE(seam::CheckReplaceableDirectory(target.string(), {}), "") << target;
  }
  // Nothing of the temporaries is left beside them.
  for (const auto& entry : fs::directory_iterator(dir.path)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

// A failure while the directory is built leaves the previous one whole and
// nothing temporary.
TEST(OutputSeam, AFailedDirectoryLeavesThePreviousWhole) {
  ScratchDir dir;
  const fs::path target = dir.path / "tex";
  fs::create_directories(target);
  WriteFile(target / seam::kOutputDirectoryMarker, "x");
  WriteFile(target / "0.png", "previous");
  const auto before = Snapshot(dir.path);
  {
    seam::OutputDirectory built;
    std::string reason;
    ASSERT_TRUE(seam::CreateOutputDirectory(target.string(), {}, built, reason)) << reason;
    ASSERT_TRUE(seam::AddOutputDirectoryFile(built, "1.png", "new", reason)) << reason;
    EXPECT_FALSE(seam::AddOutputDirectoryFile(built, "../escape.png", "new", reason));
    EXPECT_NE(reason.find("not a plain file name"), std::string::npos) << reason;
  }
  {
    seam::OutputDirectory abandoned;  // dropped before its commit
    std::string reason;
    ASSERT_TRUE(seam::CreateOutputDirectory(target.string(), {}, abandoned, reason)) << reason;
    ASSERT_TRUE(seam::AddOutputDirectoryFile(abandoned, "1.png", "new", reason)) << reason;
  }
  EXPECT_EQ(Snapshot(dir.path), before);
}

#ifndef _WIN32
// Any number of temporaries in flight are removed by any of the three
// signals, which then end the process as they would have.
TEST(OutputSeam, AnInterruptRemovesEveryTemporaryInFlight) {
  ScratchDir dir;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const int status = RunInChild(
        [&] {
          std::vector<seam::OutputFile> files(200);
          std::string reason;
          for (size_t i = 0; i < files.size(); ++i) {
            const fs::path target = dir.path / ("out" + std::to_string(i) + std::string(i * 13 % 200, 'x'));
            if (!seam::CreateOutputFile(target.string(), files[i], reason)) return 1;
            if (!seam::AppendOutputFile(files[i], "partial", reason)) return 1;
          }
          // A directory being filled goes too, its files first.
          seam::OutputDirectory built;
          if (!seam::CreateOutputDirectory((dir.path / "tex").string(), {}, built, reason)) return 1;
          if (!seam::AddOutputDirectoryFile(built, "0.png", "p", reason)) return 1;
          std::raise(signal);
          return 2;
        },
        size_t(1) << 30);
    EXPECT_EQ(status, 128 + signal) << DescribeChildStatus(status);
    EXPECT_TRUE(fs::is_empty(dir.path)) << Snapshot(dir.path).begin()->first;
  }
}

int handled = 0;
void CountSignal(int) { ++handled; }

// A library call installs nothing for good: a handler found is called (the
// temporaries stay for their owner) and is back once the last temporary is
// gone; an ignored signal stays ignored; the default comes back too.
TEST(OutputSeam, HandlersFoundAreChainedAndPutBack) {
  ScratchDir dir;
  const int status = RunInChild(
      [&] {
        struct sigaction user {};
        user.sa_handler = CountSignal;
        sigemptyset(&user.sa_mask);
        if (sigaction(SIGINT, &user, nullptr) != 0) return 10;
        std::signal(SIGTERM, SIG_IGN);
        std::signal(SIGHUP, SIG_DFL);
        std::string reason;
        {
          seam::OutputFile first, second;
          if (!seam::CreateOutputFile((dir.path / "a").string(), first, reason)) return 11;
          if (!seam::CreateOutputFile((dir.path / "b").string(), second, reason)) return 11;
          std::raise(SIGINT);
          if (handled != 1) return 12;
          if (!fs::exists(first.temporary)) return 13;  // the process lives on: its owner decides
          std::raise(SIGTERM);  // ignored, as before
          if (!seam::CommitOutputFile(first, reason)) return 14;
          struct sigaction current {};
          sigaction(SIGINT, nullptr, &current);
          if (current.sa_handler == CountSignal) return 15;  // still ours while b is in flight
        }
        struct sigaction current {};
        sigaction(SIGINT, nullptr, &current);
        if (current.sa_handler != CountSignal) return 16;
        sigaction(SIGTERM, nullptr, &current);
        if (current.sa_handler != SIG_IGN) return 17;
        sigaction(SIGHUP, nullptr, &current);
        if (current.sa_handler != SIG_DFL) return 18;
        if (fs::exists(dir.path / "b") || !fs::exists(dir.path / "a")) return 19;
        return 0;
      },
      size_t(1) << 30);
  EXPECT_EQ(status, 0) << DescribeChildStatus(status);
}
#endif

// The reproductions of a hostile review, through varndel-edge and Varndel:
// nothing outside the run's own files changes; the user's folder, the
// model, a link's target and the previous output stay byte for byte.
TEST(OutputSeam, HostileTargetsLeaveTheUsersFilesWhole) {
  struct Case {
    const char* name;
    std::vector<std::string> args;     // run in the scratch directory, which holds root/ with the models
    int exitCode;                      // 0: compiled
    std::string error;                 // in stderr
    std::vector<std::string> ownFiles;  // what the run may write (relative names)
    const char* tool = VARNDEL_EDGE_EXE;
  };
  const std::vector<Case> cases = {
      {"a user's folder as the textures directory",
       {"--extract-textures", "tex", "0", "0", "root", "embedded.glb", "out/b.staticbin", "log"},
       2,
       "it holds '0.png', which this tool did not write",
       {"log"}},
      {"a user's folder whose files the manifest lists only in part",
       {"--extract-textures", "tex", "--textures-manifest", "tex.txt", "0", "0", "root", "embedded.glb",
        "out/b.staticbin", "log"},
       2,
       "it holds 'a.psd'",
       {"log"}},
      {"the working directory as the textures directory",
       {"--extract-textures", ".", "0", "0", "root", "embedded.glb", "out/b.staticbin", "log"},
       2,
       "refusing to replace",
       {"log"}},
      {"the model as the textures directory",
       {"--extract-textures", "root/embedded.glb", "0", "0", "root", "embedded.glb", "out/b.staticbin", "log"},
       2,
       "it is a file, not a directory",
       {"log"}},
      {"a failing model with a user's folder as the textures directory",
       {"--extract-textures", "tex", "0", "0", "root", "broken.obj", "out/b.staticbin", "log"},
       2,
       "it holds '0.png'",
       {"log"}},
      {"the model as the output",
       {"0", "0", "root", "crate.obj", "root/crate.obj", "log"},
       2,
       "it is the model crate.obj",
       {"log"}},
      {"links planted at every output",
       {"--optimize", "--lod", "0.5", "--extract-textures", "out/b.textures", "--textures-manifest", "out/b.txt", "0",
        "0", "root", "embedded.glb", "out/b.staticbin", "lods", "out/b.d"},
       0,
       "",
       {"out/b.staticbin", "out/b.lod1.staticbin", "out/b.textures", "out/b.txt", "out/b.d", "lods"}},
      {"Varndel's output a link",
       {"0", "0", "root/crate.obj"},
       0,
       "",
       {"root/crate.staticbin", "Logs"},
       VARNDEL_EXE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
#ifdef _WIN32
    if (std::string(c.name).find("link") != std::string::npos) continue;  // no links to plant
#endif
    ScratchDir dir;
    fs::create_directories(dir.path / "root");
    fs::copy_file(FixturePath("embedded.glb"), dir.path / "root" / "embedded.glb");
    for (const char* name : {"crate.obj", "crate.mtl"}) fs::copy_file(ExamplePath(name), dir.path / "root" / name);
    WriteFile(dir.path / "root" / "broken.obj", "v 1 2\nf 1 2 3 4 5\n");
    fs::create_directories(dir.path / "tex");
    WriteFile(dir.path / "tex" / "a.psd", "keep");
    WriteFile(dir.path / "tex" / "0.png", "mine too");
    WriteFile(dir.path / "tex.txt", "0.png\n");
    fs::create_directories(dir.path / "out");
    WriteFile(dir.path / "out" / "b.staticbin", "the previous output");
    // A link at each output name, to a victim of its own.
    fs::create_directories(dir.path / "lods");
#ifndef _WIN32
    for (const char* output : {"out/b.lod1.staticbin", "out/b.txt", "out/b.d", "lods/lods.txt",
                               "root/crate.staticbin"}) {
      const fs::path victim = dir.path / ("victim-" + fs::path(output).filename().string());
      WriteFile(victim, "the victim's own bytes");
      fs::create_symlink(victim, dir.path / output);
    }
#endif
    const auto before = Snapshot(dir.path, c.ownFiles);

    const RunResult run = RunProcess(c.tool, c.args, dir.path);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(dir.path, c.ownFiles), before);
    if (c.exitCode != 0) {
      EXPECT_EQ(ReadFile(dir.path / "out" / "b.staticbin"), "the previous output");
      continue;
    }
    // The run's own outputs are files now, never links.
    for (const std::string& own : c.ownFiles) {
      EXPECT_FALSE(fs::is_symlink(dir.path / own)) << own;
    }
  }
}

#ifndef _WIN32
namespace {

// Starts program with args in cwd, its output discarded.
pid_t StartProcess(const std::string& program, const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);  // as a shell starts it
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// Whether a temporary of the seam (".<name>.<16 hex>.tmp") is in directory.
bool HoldsTemporary(const fs::path& directory) {
  std::error_code ignored;
  for (fs::directory_iterator entry(directory, ignored); !ignored && entry != fs::directory_iterator();
       entry.increment(ignored)) {
    const std::string name = entry->path().filename().string();
    if (name.size() > 4 && name[0] == '.' && name.compare(name.size() - 4, 4, ".tmp") == 0) return true;
  }
  return false;
}

}  // namespace

// Each tool interrupted while its temporary is being written (a large
// generated model): no temporary and no truncated output are left, and the
// previous output is whole. When the run wins the race and finishes, its
// output is complete instead.
TEST(OutputSeam, AnInterruptedToolLeavesThePreviousOutputWhole) {
  ScratchDir dir;
  WritePlyGrid(dir.path / "grid.ply", 400, 400, {"x", "y", "z"}, false, [](int c, int r, float* v) {
    v[0] = float(c);
    v[1] = float(r);
    v[2] = float((c * 7 + r * 3) % 11);
  });
  ASSERT_EQ(RunVarndel({"0", "0", "grid.ply", "complete"}, dir.path).exitCode, 0);
  const std::string complete = ReadFile(dir.path / "complete.staticbin");
  fs::create_directories(dir.path / "out");
  struct Case {
    const char* name;
    std::string program;
    std::vector<std::string> args;
    fs::path output;
    int signal;
  };
  const std::vector<Case> cases = {
      {"Varndel", VARNDEL_EXE, {"0", "0", "grid.ply"}, dir.path / "grid.staticbin", SIGINT},
      {"varndel-edge", VARNDEL_EDGE_EXE, {"0", "0", ".", "grid.ply", "out/grid.staticbin", "log"},
       dir.path / "out" / "grid.staticbin", SIGTERM},
      {"varndel-opt", VARNDEL_OPT_EXE, {"complete.staticbin", "-o", "out/opt.staticbin", "--lod", "0.5"},
       dir.path / "out" / "opt.staticbin", SIGHUP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.output, "the previous output");
    // The temporary lives for a fraction of a second: a run that finishes
    // unseen is tried again.
    int status = 0;
    bool signalled = false;
    for (int attempt = 0; attempt < 5 && !signalled; ++attempt) {
      const pid_t pid = StartProcess(c.program, c.args, dir.path);
      ASSERT_GT(pid, 0);
      for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (!signalled && HoldsTemporary(c.output.parent_path())) {
          kill(pid, c.signal);
          signalled = true;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      if (!signalled) WriteFile(c.output, "the previous output");
    }
    EXPECT_TRUE(signalled) << "no temporary was seen";
    EXPECT_FALSE(HoldsTemporary(c.output.parent_path()));
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), c.signal);
      EXPECT_EQ(ReadFile(c.output), "the previous output");
    } else {  // finished before the signal arrived
      EXPECT_EQ(WEXITSTATUS(status), 0);
      if (c.program != VARNDEL_OPT_EXE) {
        EXPECT_TRUE(ReadFile(c.output) == complete);
      }
    }
  }
}
#endif
