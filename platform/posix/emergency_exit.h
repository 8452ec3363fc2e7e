// Last words of a dying process. A process ended by a signal, or one that
// leaves at once because its terminal is gone, runs no destructors: whatever
// it changed outside itself stays changed. The terminal would be left raw
// without a cursor; the serial line would be left raw and held exclusively,
// so that the next start could not open it. The code that changes such
// things registers a hook here that puts them back, and the handlers of the
// ending signals and the lost-terminal exit run the hooks before dying.
//
// Hooks run inside a signal handler, possibly in the middle of any other
// code: they may make only async-signal-safe calls (tcsetattr, ioctl, close,
// write) on state that is complete whenever the hook could run, and never
// allocate, lock or use stdio.
#pragma once

namespace tv {

using ExitHook = void (*)();
inline constexpr int ExitHookCapacity = 8;

// Adds a hook; adding one that is already registered does nothing. False when
// every slot is taken.
bool AddExitHook(ExitHook hook);
// Runs the registered hooks, the latest first. Only the first call in a
// process runs them: a second signal, or a fault inside a hook, goes
// straight on to dying.
void RunExitHooks();
// The hooks, then the end of the process with this status: no destructors,
// no atexit handlers, no stdio flush.
[[noreturn]] void ExitAfterHooks(int status);
// Handlers that run the hooks and then die of the same signal, so that the
// parent still sees what happened: SIGTERM, SIGHUP, SIGINT and SIGQUIT
// (unless already ignored, as under nohup) and the fault signals.
void InstallFatalSignalHandlers();

}  // namespace tv
