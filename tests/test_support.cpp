#include "tests/test_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

RunResult RunVarndel(const std::vector<std::string>& args, const fs::path& cwd, const std::string& shellPrefix) {
  if (shellPrefix.empty()) return RunProcess(VARNDEL_EXE, args, cwd);
#ifdef _WIN32
  throw std::logic_error("a shell prefix needs /bin/sh");
#else
  std::vector<std::string> shellArgs{"-c", shellPrefix + "; exec \"$0\" \"$@\"", VARNDEL_EXE};
  shellArgs.insert(shellArgs.end(), args.begin(), args.end());
  return RunProcess("/bin/sh", shellArgs, cwd);
#endif
}

int RunInChild(const std::function<int()>& body, size_t budget, unsigned seconds) {
#ifdef _WIN32
  (void)budget, (void)seconds;
  return body();
#else
  std::cout.flush();
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);
    if (kChildMemoryCap) {
      size_t pages = 0;
      std::ifstream("/proc/self/statm") >> pages;
      const rlim_t limit = pages * static_cast<size_t>(sysconf(_SC_PAGESIZE)) + budget;
      const rlimit space{limit, limit};
      setrlimit(RLIMIT_AS, &space);
    }
    int result = 128 + SIGABRT;  // as std::terminate would end a program
    try {
      result = body();
    } catch (...) {
    }
    std::cout.flush();
    std::cerr.flush();
    _exit(result);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string DescribeChildStatus(int status) {
  if (status > 128) return "signal " + std::to_string(status - 128);
  return "exit code " + std::to_string(status);
}

std::string TextMode(const std::string& text) {
#ifdef _WIN32
  std::string converted;
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
#else
  return text;
#endif
}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  // Unique within the process; each test process has a working directory of its own.
  path = fs::absolute("scratch-" + std::to_string(counter++));
  fs::remove_all(path);
  fs::create_directories(path);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

Bytes& StaticVertex(Bytes& b, std::initializer_list<float> position, std::initializer_list<float> normal,
                    std::initializer_list<float> texCoords, std::initializer_list<float> tangent,
                    std::initializer_list<float> bitangent) {
  b.floats(position).floats(normal).floats(texCoords).floats(tangent).floats(bitangent);
  return b.i32(-1).i32(-1).i32(-1).i32(-1).floats({0, 0, 0, 0});
}

std::string SuccessLog(bool animated, const std::string& output, const std::string& input,
                       const std::string& afterLoading) {
  const std::string kind = animated ? "\033[95manimated" : "\033[36mstatic";
  return Info("Loading raw model...\n") + afterLoading + Info("Successfully loaded raw model.\n") +
         Info("Generating binary model file...\n") +
         Info("Successfully generated " + kind + "\033[0m model file (\033[1m\033[33m" + output + "\033[0m) from " +
              input + ".\033[0m\n");
}

std::string MatchingReport(int meshes, bool animated) {
  std::string report = "\n// TESTING READ BIN FILE...\n\033[31m\033[32m// - BIN FILE HEADER IS GUCCI\033[0m\n\033[31m";
  for (int i = 0; i < meshes; ++i) {
    report +=
        "\033[33mDEBUG: Current mesh vertices data OK.\033[0m\n"
        "\033[33mDEBUG: Current mesh indices data OK.\033[0m\n"
        "\033[33mDEBUG: Current mesh textures data OK.\033[0m\n";
  }
  if (animated) {
    report +=
        "\033[33mDEBUG: Current mesh anim hierarchy data OK.\033[0m\n"
        "\033[31m\033[95m\033[31m\033[33mDEBUG: Current mesh bone data OK.\033[0m\n";
  }
  return report + "\033[32m// - BIN FILE IS GUCCI GUCCI GUCCI\033[0m\n\033[0m";
}
