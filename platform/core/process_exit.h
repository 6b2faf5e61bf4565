// Process exit through one hook, so that tests can catch what would end the
// process.
//
// ExitProcess and platform::Exit first ask the interceptor (below), then run
// the exit handlers that other parts
// of the platform registered (named mutexes, the registry: whatever must be
// released or written on the way out), newest first, each once; then they call
// the exit hook. The default hook flushes the C streams and ends the process
// at once with the code (other threads are not waited for, as on the
// platform). A test installs ScopedExitTrap, whose hook throws ProcessExit.
//
// Program code cannot redirect the C library's exit(); it calls
// platform::Exit or ExitProcess.
#pragma once

#include <functional>

#include "platform/core/types.h"

namespace platform {

// Thrown by the hook that ScopedExitTrap installs.
struct ProcessExit {
  int code;
};

using ExitHook = std::function<void(int code)>;

// Installs a hook and returns the one it replaces. An empty hook means the
// default. A hook that returns lets the default exit go ahead.
ExitHook SetExitHook(ExitHook hook);

[[noreturn]] void Exit(int code);

// Consulted first by Exit, before any handler runs: it may end only the
// calling thread (by throwing whatever that thread's runner catches) when the
// caller is not the host program, such as a stand-in program running on a
// thread of this process. If it returns, the exit goes on as usual. The
// process library installs it; empty means none.
using ExitInterceptor = std::function<void(int code)>;
ExitInterceptor SetExitInterceptor(ExitInterceptor interceptor);

// Registers a handler to run at exit; returns an id for RemoveExitHandler.
int AddExitHandler(std::function<void()> handler);
void RemoveExitHandler(int id);
// Runs and forgets every registered handler, newest first.
void RunExitHandlers();

// While alive, process exit throws ProcessExit{code} instead of ending the
// process.
class ScopedExitTrap {
 public:
  ScopedExitTrap();
  ~ScopedExitTrap();
  ScopedExitTrap(const ScopedExitTrap&) = delete;
  ScopedExitTrap& operator=(const ScopedExitTrap&) = delete;

 private:
  ExitHook previous_;
};

}  // namespace platform

[[noreturn]] void ExitProcess(UINT code);
