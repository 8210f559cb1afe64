// The tests' one way to start a program: both output streams captured
// whole, the exit status as the platform reports it. The only place in the
// tests that knows how processes are made.
#include <stdexcept>
#include <thread>

#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef _WIN32

// One argument quoted for the C runtime's command-line parser: backslashes
// double only where they precede a quote.
static std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  return quoted + "\"";
}

static void ReadAll(HANDLE pipe, std::string& sink) {
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink.append(buffer, n);
}

RunResult RunProcess(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0))
    throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

  std::string commandLine = QuoteArgument(program.string());
  for (const std::string& arg : args) commandLine += " " + QuoteArgument(arg);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const std::string directory = cwd.string();
  const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      directory.c_str(), &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (!started) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    throw std::runtime_error("CreateProcess failed for " + commandLine);
  }
  RunResult result;
  std::thread errReader(ReadAll, errRead, std::ref(result.err));
  ReadAll(outRead, result.out);
  errReader.join();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  result.exitCode = static_cast<int>(status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

fs::path MakeTemporaryDirectory() {
  const fs::path base = fs::temp_directory_path();
  for (unsigned attempt = 0;; ++attempt) {
    const fs::path dir = base / ("varndel-tests-" + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount64() + attempt));
    if (fs::create_directory(dir)) return dir;
  }
}

std::vector<std::string> DriveLetterForms(const fs::path& dir) {
  std::string native = fs::absolute(dir).string();
  for (char& c : native) c = c == '/' ? '\\' : c;
  std::vector<std::string> forms{native};
  using UnixName = char*(__cdecl*)(const wchar_t*);
  // Through void*: FARPROC is a generic function pointer of another type.
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return forms;  // not under Wine
  char* name = unixName(fs::absolute(dir).wstring().c_str());
  if (name == nullptr) return forms;
  std::string z = std::string("Z:") + name;
  HeapFree(GetProcessHeap(), 0, name);
  for (char& c : z) c = c == '/' ? '\\' : c;
  if (z != native) forms.push_back(z);
  return forms;
}

#else

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

RunResult RunProcess(const fs::path& program, const std::vector<std::string>& args, const fs::path& cwd) {
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argvStrings{program.string()};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argvStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
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
    execvp(argv[0], argv.data());
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

fs::path MakeTemporaryDirectory() {
  std::string pattern = (fs::temp_directory_path() / "varndel-tests-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  return pattern;
}

#endif
