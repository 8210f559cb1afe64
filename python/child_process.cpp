#include "python/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <system_error>
#include <thread>

#include "driver/large_stack.h"

namespace {

// The child's address space now, from /proc/self/statm (0 when unknown).
uint64_t AddressSpaceBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  statm >> pages;
  return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// The interpreter's own mappings count towards RLIMIT_AS, so the limit is
// what the child has (stack included) plus the budget.
void LimitAddressSpace(uint64_t budget) {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0) return;
  const uint64_t wanted = AddressSpaceBytes() + budget;
  if (limit.rlim_max == RLIM_INFINITY || wanted < limit.rlim_max) limit.rlim_cur = wanted;
  setrlimit(RLIMIT_AS, &limit);
}

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

[[noreturn]] void RunChild(int resultFd, const std::function<std::string()>& work, const ChildLimits& limits) {
  // The interpreter's handlers only set flags that nothing here reads: an
  // interrupt of the terminal ends the child as it ends a command.
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) signal(number, SIG_DFL);
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
  std::string result;
  bool finished = false;
  try {
    RunOnLargeStack([&] {
      if (limits.memoryBytes != 0) LimitAddressSpace(limits.memoryBytes);
      result = work();
      return 0;
    });
    finished = true;
  } catch (...) {
  }
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  _exit(finished && WriteAll(resultFd, result) ? 0 : 70);
}

// Ends the child and reaps it: SIGTERM lets it remove what it was writing,
// SIGKILL follows when it has not gone within a second.
void EndChild(pid_t child) {
  kill(child, SIGTERM);
  for (int tries = 0; tries < 100; ++tries) {
    if (waitpid(child, nullptr, WNOHANG) == child) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

ChildOutcome RunInChildProcess(const std::function<std::string()>& work, const ChildLimits& limits,
                               const std::function<void()>& checkInterrupt) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  // Whatever the parent's stdio holds would otherwise be written twice.
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    const int error = errno;
    close(fds[0]);
    close(fds[1]);
    throw std::system_error(error, std::generic_category(), "fork");
  }
  if (child == 0) {
    close(fds[0]);
    RunChild(fds[1], work, limits);
  }
  close(fds[1]);

  ChildOutcome outcome;
  const auto start = std::chrono::steady_clock::now();
  bool timedOut = false;
  try {
    char buffer[4096];
    for (;;) {
      pollfd readable{fds[0], POLLIN, 0};
      const int ready = poll(&readable, 1, 100);
      if (ready > 0) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n == 0) break;
        if (n > 0) outcome.result.append(buffer, static_cast<size_t>(n));
        if (n < 0 && errno != EINTR && errno != EAGAIN) break;
      }
      checkInterrupt();
      const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      if (limits.timeoutSeconds > 0 && elapsed.count() >= limits.timeoutSeconds) {
        timedOut = true;
        break;
      }
    }
  } catch (...) {
    close(fds[0]);
    EndChild(child);
    throw;
  }
  close(fds[0]);
  if (timedOut) {
    EndChild(child);
    outcome.end = ChildOutcome::End::kTimedOut;
    outcome.result.clear();
    return outcome;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
  }
  if (WIFSIGNALED(status)) {
    outcome.end = ChildOutcome::End::kSignalled;
    outcome.signal = WTERMSIG(status);
  } else if (WEXITSTATUS(status) != 0) {
    outcome.end = ChildOutcome::End::kNoResult;
    outcome.exitStatus = WEXITSTATUS(status);
  } else {
    outcome.end = ChildOutcome::End::kFinished;
  }
  if (outcome.end != ChildOutcome::End::kFinished) outcome.result.clear();
  return outcome;
}
