#include "driver/large_stack.h"

#include <cstdint>
#include <exception>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

thread_local bool onLargeStack = false;

struct Job {
  const std::function<int()>* work = nullptr;
  int result = 0;
  std::exception_ptr error;
};

void RunJob(Job& job) {
  onLargeStack = true;
  try {
    job.result = (*job.work)();
  } catch (...) {
    job.error = std::current_exception();
  }
}

#ifdef _WIN32
unsigned __stdcall ThreadMain(void* argument) {
  RunJob(*static_cast<Job*>(argument));
  return 0;
}

bool RunThread(Job& job, size_t stackBytes) {
  const uintptr_t handle = _beginthreadex(nullptr, static_cast<unsigned>(stackBytes), &ThreadMain, &job,
                                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (handle == 0) return false;
  WaitForSingleObject(reinterpret_cast<HANDLE>(handle), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}
#else
void* ThreadMain(void* argument) {
  RunJob(*static_cast<Job*>(argument));
  return nullptr;
}

bool RunThread(Job& job, size_t stackBytes) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_t thread;
  const bool started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                       pthread_create(&thread, &attributes, &ThreadMain, &job) == 0;
  pthread_attr_destroy(&attributes);
  if (started) pthread_join(thread, nullptr);
  return started;
}
#endif

}  // namespace

int RunOnLargeStack(const std::function<int()>& work) {
  if (onLargeStack) return work();
  Job job;
  job.work = &work;
  // Under an address-space limit the full reservation may not fit: take the
  // largest stack that does.
  bool ran = false;
  for (size_t bytes = kLargeStackBytes; !ran && bytes >= (size_t{8} << 20); bytes /= 2) ran = RunThread(job, bytes);
  if (!ran) return work();
  if (job.error) std::rethrow_exception(job.error);
  return job.result;
}
