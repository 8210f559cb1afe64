#include "tests/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

static void ReadBoth(int outFd, int errFd, std::string& out, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

RunResult RunVarndel(const std::vector<std::string>& args, const fs::path& cwd, const std::string& shellPrefix) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<std::string> argvStrings;
    if (!shellPrefix.empty()) {
      argvStrings = {"/bin/sh", "-c", shellPrefix + "; exec \"$0\" \"$@\"", VARNDEL_EXE};
    } else {
      argvStrings = {VARNDEL_EXE};
    }
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  RunResult result;
  ReadBoth(outPipe[0], errPipe[0], result.out, result.err);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  path = fs::absolute("scratch-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
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
