// Threads on pthreads.
//
// Each thread runs detached; its state lives in a ThreadObject shared by the
// running thread and the handle, freed when both have let go (the thread
// when it ends, the handle at CloseHandle). CloseHandle therefore never
// waits and never leaks, and a closed handle does not stop the thread, as on
// the device. CREATE_SUSPENDED holds the new thread at a start gate until
// ResumeThread. Priorities are recorded only: the host schedules as it will.
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>

#include "platform/host.h"
#include "platform/signal_mask.h"

namespace {

struct ThreadObject : host::HandleObject {
  LPTHREAD_START_ROUTINE start = nullptr;
  void* parameter = nullptr;
  std::mutex lock;
  std::condition_variable gate;
  bool suspended = false;
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;  // meaningful once finished
  DWORD pendingExit = 0;          // written by the thread itself only
  int priority = THREAD_PRIORITY_NORMAL;
  int references = 2;  // the handle and the running thread
};

thread_local ThreadObject* t_self = nullptr;
std::atomic<DWORD> g_nextThreadId{1};

void Release(ThreadObject* thread) {
  bool last;
  {
    std::lock_guard<std::mutex> guard(thread->lock);
    last = --thread->references == 0;
  }
  if (last) delete thread;
}

// Marks the thread finished with its exit code, also when it leaves through
// ExitThread (the C library unwinds the stack then, running destructors).
struct Finisher {
  ThreadObject* thread;
  ~Finisher() {
    {
      std::lock_guard<std::mutex> guard(thread->lock);
      thread->exitCode = thread->pendingExit;
      thread->finished = true;
    }
    Release(thread);
  }
};

void* Run(void* argument) {
  auto* thread = static_cast<ThreadObject*>(argument);
  {
    std::unique_lock<std::mutex> guard(thread->lock);
    thread->gate.wait(guard, [thread] { return !thread->suspended; });
  }
  t_self = thread;
  Finisher finisher{thread};
  thread->pendingExit = thread->start(thread->parameter);
  return nullptr;
}

ThreadObject* ThreadOf(HANDLE handle) {
  host::HandleObject* object = host::ObjectOf(handle);
  if (!object || object->kind != host::HandleKind::Thread) return nullptr;
  return static_cast<ThreadObject*>(object);
}

}  // namespace

namespace host {

BOOL CloseThreadObject(HandleObject* object) {
  auto* thread = static_cast<ThreadObject*>(object);
  {
    std::lock_guard<std::mutex> guard(thread->lock);
    thread->kind = HandleKind::Closed;
  }
  Release(thread);
  return TRUE;
}

}  // namespace host

HANDLE CreateThread(SECURITY_ATTRIBUTES*, size_t, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD flags, DWORD* threadId) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* thread = new ThreadObject;
  thread->kind = host::HandleKind::Thread;
  thread->start = start;
  thread->parameter = parameter;
  thread->suspended = (flags & CREATE_SUSPENDED) != 0;
  DWORD id = g_nextThreadId++;

  // The requested stack size is a hint on the device as well; the host's
  // default stack is larger than any it would ask for.
  pthread_attr_t attributes;
  pthread_t native;
  int err = pthread_attr_init(&attributes);
  if (err == 0) {
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    InterruptsBlocked blocked;  // the thread leaves them to the main thread
    err = pthread_create(&native, &attributes, Run, thread);
    pthread_attr_destroy(&attributes);
  }
  if (err != 0) {
    delete thread;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (threadId) *threadId = id;
  return thread;
}

DWORD ResumeThread(HANDLE handle) {
  ThreadObject* thread = ThreadOf(handle);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::lock_guard<std::mutex> guard(thread->lock);
  if (!thread->suspended) return 0;  // the previous suspend count
  thread->suspended = false;
  thread->gate.notify_all();
  return 1;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  ThreadObject* thread = ThreadOf(handle);
  if (!thread) return host::Fail(ERROR_INVALID_HANDLE);
  // The device's eight levels: 0 (time critical) to 7 (idle).
  if (priority < 0 || priority > THREAD_PRIORITY_IDLE) return host::Fail(ERROR_INVALID_PARAMETER);
  std::lock_guard<std::mutex> guard(thread->lock);
  thread->priority = priority;
  return TRUE;
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
  ThreadObject* thread = ThreadOf(handle);
  if (!thread || !exitCode) return host::Fail(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> guard(thread->lock);
  *exitCode = thread->finished ? thread->exitCode : STILL_ACTIVE;
  return TRUE;
}

void ExitThread(DWORD exitCode) {
  if (t_self) t_self->pendingExit = exitCode;
  pthread_exit(nullptr);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  while (milliseconds == INFINITE) {
    struct timespec day = {86400, 0};
    nanosleep(&day, nullptr);
  }
  struct timespec rest = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}
