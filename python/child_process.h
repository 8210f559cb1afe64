// Runs a piece of work in a forked child process, so that a crash, a runaway
// allocation or an endless loop inside it cannot take the interpreter down.
// Linux only, as the module is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct ChildOutcome {
  enum class End { kFinished, kSignalled, kTimedOut, kNoResult };
  End end = End::kNoResult;
  int signal = 0;      // kSignalled: the signal that ended the child
  int exitStatus = 0;  // kNoResult: how the child exited without a result
  std::string result;  // kFinished: what work returned
};

struct ChildLimits {
  double timeoutSeconds = 0;  // 0: none
  uint64_t memoryBytes = 0;   // address space the child may add to what it starts with; 0: none
};

// Forks; the child runs work on a large stack under the limits, flushes its
// standard streams and leaves with _exit, never returning. The parent waits,
// calling checkInterrupt about every 100 ms; when that throws, or the time is
// up, the child is ended (SIGTERM, then SIGKILL) and reaped. Throws
// std::system_error when no child can be started.
ChildOutcome RunInChildProcess(const std::function<std::string()>& work, const ChildLimits& limits,
                               const std::function<void()>& checkInterrupt);
