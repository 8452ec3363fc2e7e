// The hook registry is a fixed array of atomic function pointers: a signal
// that lands while a hook is being added sees either the old or the new
// slot, never half of one, and nothing is allocated.
#include "platform/posix/emergency_exit.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace tv {

namespace {

static_assert(std::atomic<ExitHook>::is_always_lock_free, "hooks are read from a signal handler");

std::atomic<ExitHook> gHooks[ExitHookCapacity] = {};
std::atomic<bool> gHooksRan{false};

constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr int kFaultSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};

extern "C" void RunHooksAndDie(int sig) {
  RunExitHooks();
  // The signal stays blocked until the handler returns; then, with the
  // default action back, it ends the process. A fault re-executes the
  // faulting instruction and ends it the same way.
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

bool AddExitHook(ExitHook hook) {
  for (const auto& slot : gHooks)
    if (slot.load() == hook) return true;
  for (auto& slot : gHooks) {
    ExitHook empty = nullptr;
    if (slot.compare_exchange_strong(empty, hook)) return true;
  }
  return false;
}

void RunExitHooks() {
  if (gHooksRan.exchange(true)) return;
  for (int i = ExitHookCapacity - 1; i >= 0; --i)
    if (const ExitHook hook = gHooks[i].load()) hook();
}

void ExitAfterHooks(int status) {
  RunExitHooks();
  _exit(status);
}

void InstallFatalSignalHandlers() {
  struct sigaction sa = {};
  sa.sa_handler = RunHooksAndDie;
  sigemptyset(&sa.sa_mask);
  for (int sig : kEndingSignals) {
    struct sigaction old = {};
    sigaction(sig, nullptr, &old);
    if (old.sa_handler != SIG_IGN) sigaction(sig, &sa, nullptr);
  }
  for (int sig : kFaultSignals) sigaction(sig, &sa, nullptr);
}

}  // namespace tv
