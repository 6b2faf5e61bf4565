#include "platform/core/process_exit.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {
namespace {

struct ExitState {
  std::mutex mutex;
  ExitHook hook;
  ExitInterceptor interceptor;
  std::vector<std::pair<int, std::function<void()>>> handlers;
  int next_id = 1;
};

ExitState& state() {
  static ExitState* s = new ExitState;  // never destroyed: exit may run during static destruction
  return *s;
}

}  // namespace

ExitHook SetExitHook(ExitHook hook) {
  std::lock_guard lock(state().mutex);
  std::swap(state().hook, hook);
  return hook;
}

int AddExitHandler(std::function<void()> handler) {
  std::lock_guard lock(state().mutex);
  int id = state().next_id++;
  state().handlers.emplace_back(id, std::move(handler));
  return id;
}

void RemoveExitHandler(int id) {
  std::lock_guard lock(state().mutex);
  auto& h = state().handlers;
  for (auto it = h.begin(); it != h.end(); ++it)
    if (it->first == id) {
      h.erase(it);
      return;
    }
}

void RunExitHandlers() {
  // Taken one at a time, outside the lock: a handler may register or remove others.
  for (;;) {
    std::function<void()> handler;
    {
      std::lock_guard lock(state().mutex);
      if (state().handlers.empty()) return;
      handler = std::move(state().handlers.back().second);
      state().handlers.pop_back();
    }
    if (handler) handler();
  }
}

ExitInterceptor SetExitInterceptor(ExitInterceptor interceptor) {
  std::lock_guard lock(state().mutex);
  std::swap(state().interceptor, interceptor);
  return interceptor;
}

void Exit(int code) {
  ExitInterceptor interceptor;
  {
    std::lock_guard lock(state().mutex);
    interceptor = state().interceptor;
  }
  if (interceptor) interceptor(code);
  RunExitHandlers();
  ExitHook hook;
  {
    std::lock_guard lock(state().mutex);
    hook = state().hook;
  }
  if (hook) hook(code);
  std::fflush(nullptr);
  std::_Exit(code);
}

ScopedExitTrap::ScopedExitTrap() : previous_(SetExitHook([](int code) { throw ProcessExit{code}; })) {}

ScopedExitTrap::~ScopedExitTrap() { SetExitHook(std::move(previous_)); }

}  // namespace platform

void ExitProcess(UINT code) { platform::Exit(static_cast<int>(code)); }
