#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/core/clock.h"
#include "platform/process/sync.h"
#include "platform/process/thread.h"
#include "process/fake_pc.h"

using process_test::FakePc;

namespace {

DWORD ReturnParameter(LPVOID p) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)); }

TEST(Threads, ExitCodesAndWaits) {
  platform::Clock::instance().reset();
  DWORD id = 0;
  HANDLE t = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(uintptr_t{42}), 0, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(GetThreadId(t), id);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(t);

  // Suspended until resumed; ExitThread ends it with its code.
  HANDLE s = CreateThread(nullptr, 0, [](LPVOID) -> DWORD { ExitThread(9); }, nullptr, CREATE_SUSPENDED, nullptr);
  EXPECT_EQ(WaitForSingleObject(s, 1000), WAIT_TIMEOUT);
  ASSERT_TRUE(GetExitCodeThread(s, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(ResumeThread(s), 1u);
  EXPECT_EQ(WaitForSingleObject(s, INFINITE), WAIT_OBJECT_0);
  GetExitCodeThread(s, &code);
  EXPECT_EQ(code, 9u);
  CloseHandle(s);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Threads, TerminateStopsAThreadAtItsNextWait) {
  platform::Clock::instance().reset();
  static std::atomic<bool> after_wait{false};
  static HANDLE never;
  never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    WaitForSingleObject(never, INFINITE);
    after_wait = true;
    return 0;
  }, nullptr, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(t, 500), WAIT_TIMEOUT);
  ASSERT_TRUE(TerminateThread(t, 77));
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 77u);
  // Give the unwound thread a moment of real time, then check it never went on.
  SetEvent(never);
  for (int i = 0; i < 50 && !after_wait; ++i) usleep(1000);
  EXPECT_FALSE(after_wait.load());
  CloseHandle(t);
  CloseHandle(never);
}

TEST(Events, AutoAndManualReset) {
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  SetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays set
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);  // taken by the first wait

  HANDLE both[] = {manual, automatic};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
  SetEvent(automatic);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  SetEvent(automatic);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);  // manual still clear
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);        // and nothing was taken
  SetEvent(manual);
  SetEvent(automatic);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects(0, both, TRUE, 0), WAIT_FAILED);
  HANDLE bad[] = {manual, reinterpret_cast<HANDLE>(0x7777)};
  EXPECT_EQ(WaitForMultipleObjects(2, bad, FALSE, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(reinterpret_cast<HANDLE>(0x7777)));
  CloseHandle(manual);
  CloseHandle(automatic);
}

TEST(Events, ThreadSignalsAWaiter) {
  platform::Clock::instance().reset();
  static HANDLE go, done;
  go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    if (WaitForSingleObject(go, INFINITE) != WAIT_OBJECT_0) return 1;
    SetEvent(done);
    return 0;
  }, nullptr, 0, nullptr);
  SetEvent(go);
  EXPECT_EQ(WaitForSingleObject(done, 30000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  for (HANDLE h : {go, done, t}) CloseHandle(h);
}

TEST(Mutexes, OwnershipIsPerThreadAndRecursive) {
  FakePc pc;
  HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // owner may take it again
  EXPECT_TRUE(ReleaseMutex(m));
  static HANDLE shared;
  shared = m;
  HANDLE t = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
    DWORD r = WaitForSingleObject(shared, 0);
    BOOL released = ReleaseMutex(shared);
    return r == WAIT_TIMEOUT && !released && GetLastError() == ERROR_NOT_OWNER ? 1 : 0;
  }, nullptr, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 1u);
  CloseHandle(t);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  CloseHandle(m);
}

TEST(Mutexes, NamedMutexSecondCreateInOneProcess) {
  FakePc pc;
  const char16_t* name = u"Local\\{B5436CCA-6E9F-4428-B6D3-D4574B80AC03}";
  HANDLE first = CreateMutexW(nullptr, FALSE, name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  HANDLE second = CreateMutexW(nullptr, FALSE, name);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, name);
  EXPECT_NE(opened, nullptr);
  EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, u"Local\\{other}"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  for (HANDLE h : {first, second, opened}) CloseHandle(h);
  // All handles closed: the name is free again.
  HANDLE again = CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseHandle(again);
}

// Runs the helper that creates the named mutex in a separate host process and
// prints "first" or "exists"; it keeps the mutex until its stdin closes.
struct Helper {
  pid_t pid = 0;
  int to_child = -1;
  int from_child = -1;
  std::string answer;
};

Helper StartHelper(const std::filesystem::path& machine) {
  Helper h;
  int in[2], out[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string exe = PROCESS_MUTEX_HELPER;
  std::string dir = machine.string();
  char* argv[] = {exe.data(), dir.data(), nullptr};
  EXPECT_EQ(posix_spawn(&h.pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  h.to_child = in[1];
  h.from_child = out[0];
  char buffer[64] = {};
  ssize_t n = read(h.from_child, buffer, sizeof(buffer) - 1);
  if (n > 0) h.answer.assign(buffer, static_cast<size_t>(n));
  while (!h.answer.empty() && (h.answer.back() == '\n' || h.answer.back() == '\r')) h.answer.pop_back();
  return h;
}

void Finish(Helper& h, bool crash) {
  if (crash) kill(h.pid, SIGKILL);
  close(h.to_child);
  int status = 0;
  waitpid(h.pid, &status, 0);
  close(h.from_child);
}

TEST(Mutexes, SecondInstanceRefusedAcrossRealProcessesUntilEveryHolderIsGone) {
  FakePc pc;
  Helper first = StartHelper(pc.folder());
  EXPECT_EQ(first.answer, "first");
  Helper second = StartHelper(pc.folder());
  EXPECT_EQ(second.answer, "exists");
  // This process, too, sees the name taken.
  HANDLE here = CreateMutexW(nullptr, FALSE, u"Local\\{371A4C21-B578-4180-8FF1-99EFB86CF281}");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(here);
  Finish(first, true);  // killed: its lock goes with it, but the second still has the name open
  Helper third = StartHelper(pc.folder());
  EXPECT_EQ(third.answer, "exists");
  Finish(third, false);
  Finish(second, false);
  Helper fourth = StartHelper(pc.folder());
  EXPECT_EQ(fourth.answer, "first");
  Finish(fourth, false);
  // Another machine folder is another PC: the name is free there.
  FakePc other;
  Helper elsewhere = StartHelper(other.folder());
  EXPECT_EQ(elsewhere.answer, "first");
  Finish(elsewhere, false);
}

TEST(CriticalSections, ProtectACounterAcrossThreads) {
  static CRITICAL_SECTION section;
  static long counter;
  static LONG atomic_counter;
  counter = 0;
  atomic_counter = 0;
  InitializeCriticalSection(&section);
  HANDLE threads[4];
  for (auto& t : threads)
    t = CreateThread(nullptr, 0, [](LPVOID) -> DWORD {
      for (int i = 0; i < 10000; ++i) {
        EnterCriticalSection(&section);
        EnterCriticalSection(&section);  // recursive entry by the owner
        ++counter;
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
        InterlockedIncrement(&atomic_counter);
      }
      return 0;
    }, nullptr, 0, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(counter, 40000);
  EXPECT_EQ(atomic_counter, 40000);
  for (HANDLE t : threads) CloseHandle(t);
  DeleteCriticalSection(&section);

  LONG v = 5;
  EXPECT_EQ(InterlockedCompareExchange(&v, 9, 4), 5);  // no swap
  EXPECT_EQ(v, 5);
  EXPECT_EQ(InterlockedCompareExchange(&v, 9, 5), 5);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedExchange(&v, 1), 9);
  EXPECT_EQ(InterlockedExchangeAdd(&v, 10), 1);
  EXPECT_EQ(InterlockedDecrement(&v), 10);
}

}  // namespace
