// The interrupting signals (SIGINT, SIGTERM, SIGHUP) are the main thread's:
// its handler removes the member being written, and it is the thread that
// writes it. A thread made while an InterruptsBlocked lives inherits the
// block, so the kernel never hands such a signal to it; threads that a
// library makes inside a call are covered by holding one around the call.
#pragma once

#include <signal.h>

class InterruptsBlocked {
 public:
  InterruptsBlocked() {
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &block, &previous_);
  }
  ~InterruptsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  InterruptsBlocked(const InterruptsBlocked&) = delete;
  InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

 private:
  sigset_t previous_;
};
