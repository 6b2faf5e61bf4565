// Per-thread message queues, timers and the modal-loop stack.
//
// Retrieval order matches the platform: messages sent from other threads are
// delivered first, then posted messages, then input, then WM_QUIT, then
// WM_PAINT for invalid visible windows, and WM_TIMER last. Timers read the
// installed TimeSource; a timer fires at most once per retrieval (no backlog).
//
// When a thread has nothing to retrieve it asks the installed LoopBackend to
// wait: the headless backend lets a script act or jumps virtual time to the
// next timer; a view backend would wait for real input.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/winuser.h"

class CWinThread;

namespace platform::ui {

struct Window;

// One running modal loop (a dialog's DoModal, a message box, a popup menu).
struct ModalLoop {
  Window* window = nullptr;  // valid only while FindWindowModel(handle) finds it
  HWND handle = nullptr;     // set when the loop starts
  bool ended = false;
  INT_PTR result = 0;
};

struct UiThread {
  DWORD id = 0;
  // Guards `posted`, `cross_sent`, `input`, `quit_*` and `idle`: other
  // threads post, send and deliver input to this queue.
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<MSG> posted;
  std::deque<std::function<void()>> cross_sent;  // sends from other threads
  std::deque<MSG> input;
  bool quit_posted = false;
  int quit_code = 0;
  // The thread waits in its message loop with nothing left to retrieve.
  bool idle = false;
  // The framework thread object running on this thread (CWinThread::CreateThread,
  // or the application object on the thread that runs it), or null.
  ::CWinThread* thread_object = nullptr;

  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT interval;
    uint64_t due;
    uint64_t serial;
    TIMERPROC proc;
  };
  std::vector<Timer> timers;
  uint64_t timer_serial = 0;
  std::vector<Window*> windows;  // windows this thread made
  std::vector<ModalLoop*> loops; // innermost last
  HWND focus = nullptr;
  HWND active = nullptr;
  HWND capture = nullptr;
  bool paint_dirty = false;  // some window may need WM_PAINT
  uint64_t device_seen = 0;  // device-change events already posted here
  uint64_t next_device_poll = 0;  // clock time (ms) of this loop's next look for disks come and gone
  bool started_by_another = false;  // a CWinThread: its creator may post at any time

  ~UiThread();
};

// The calling thread's queue (made on first use).
UiThread& CurrentUiThread();
// The calling thread's queue, or null when it has none yet.
UiThread* CurrentUiThreadIfAny();
// The queue of a thread by id, or null. Ids come from SetCurrentUiThreadId
// or are assigned in creation order starting at 1.
UiThread* UiThreadById(DWORD id);
// Lets the process layer give the calling thread its platform thread id.
void SetCurrentUiThreadId(DWORD id);
// Where new queues take their thread id from (the process layer's
// GetCurrentThreadId); without one, ids count up from 1.
void set_thread_id_source(DWORD (*source)());
// Number of threads with a message queue.
size_t UiThreadCount();
// Wakes every thread waiting for messages (something global changed).
void WakeAllUiThreads();

// Earliest timer due time of a thread, or UINT64_MAX when it has none.
uint64_t NextTimerDue(const UiThread& thread);
// Whether anything is retrievable now (without running the backend).
bool HasPendingMessages(UiThread& thread);

// Queues an input message (mouse, keyboard) for a window, on the queue of
// the thread that owns the window (which may be another thread: a view on
// the main thread delivers input to every user-interface thread this way).
void PostInputMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Runs `job` on the thread that owns `hwnd` and waits for it, like a sent
// message (at once when that is the calling thread). False when the window
// is gone or its thread ended before running it.
bool RunOnWindowThread(HWND hwnd, const std::function<void()>& job);

// Hands a window-less (thread) message to the current thread's CWinThread:
// first its PreTranslateMessage, then its message map (ON_THREAD_MESSAGE).
// True when the thread has an object to take it. DispatchMessageW does this
// for window-less messages, so every loop of the thread (CWinThread::Run,
// modal dialogs, message boxes, menu tracking, hand-written pumps) serves
// thread messages.
bool DispatchThreadMessage(MSG& msg);

// Blocks until `done()` holds, running the messages other threads send to
// the calling thread meanwhile (so a thread that sends to us while we wait
// for it cannot deadlock). `done` is re-checked whenever a thread goes idle,
// ends, or something is sent; SignalThreadStateChange() wakes it otherwise.
void WaitServingSends(const std::function<bool()>& done);
void SignalThreadStateChange();

// Waits (serving sends as above) until thread `id` is idle in its message
// loop with an empty queue, or has no queue any more. False when no thread
// with that id exists when the call starts, or when it is the calling thread.
bool WaitUntilThreadIdle(DWORD id);

// Runs a message to its window: the attached framework object, the raw
// window procedure, or the default behaviour.
LRESULT CallWindow(HWND hwnd, UINT message, WPARAM w, LPARAM l);

// Offers a retrieved message to PreTranslateMessage of the window and its
// ancestors, then to IsDialogMessage of `dialog` when given; true when consumed.
bool PreTranslate(MSG& msg, HWND dialog);

// What the thread should do after LoopBackend::wait.
enum class IdleResult { Retry, Stalled };

class LoopBackend {
 public:
  virtual ~LoopBackend() = default;
  // GetMessage found nothing: make something happen (script step, time,
  // input from a view) and return Retry, or Stalled when nothing ever will.
  virtual IdleResult wait(UiThread& thread) = 0;
  // PeekMessage found nothing: a chance to act without waiting (no time passes).
  virtual void peek_idle(UiThread& thread) {}
  // Called when GetMessage is stalled; must not return normally in a
  // meaningful run (the headless backend reports and ends the run).
  virtual void stalled(UiThread& thread) = 0;
  // A modal loop started or ended (for logs and views).
  virtual void modal_started(ModalLoop&) {}
  virtual void modal_ended(ModalLoop&) {}
  // True when the backend may be called from every user-interface thread
  // (it keeps per-thread state apart); otherwise threads other than the one
  // that installed it use the built-in waiting.
  virtual bool serves_all_threads() const { return false; }
  // A CWinThread's thread begins (before InitInstance) and ends (after
  // ExitInstance), on that thread. Only for backends that serve all threads.
  virtual void thread_started(UiThread&) {}
  virtual void thread_ending(UiThread&) {}
  // The calling thread is about to block (begin) in WaitServingSends, or
  // has stopped blocking (end).
  virtual void blocking(UiThread&, bool begin) { (void)begin; }
};

// The built-in backend: jumps virtual time to the next timer, waits in real
// time for other threads' posts, and reports a stall by throwing StalledLoop.
class DefaultLoopBackend : public LoopBackend {
 public:
  IdleResult wait(UiThread& thread) override;
  void stalled(UiThread& thread) override;
};

struct StalledLoop {
  std::string message;
};

// The backend that serves the calling thread's loops: the installed one on
// the thread that installed it (and on every thread when it says it serves
// them all), the built-in one on other user-interface threads.
LoopBackend& loop_backend();
// Installs a backend (not owned) for the calling thread. Null restores the default.
void set_loop_backend(LoopBackend* backend);

// Runs a modal loop for `loop.window` until `loop.ended` (or WM_QUIT, which is
// re-posted). Pushes and pops the loop on the thread's stack even on unwind.
void RunModalLoop(ModalLoop& loop);

// Describes the open top-level windows ("dialog 102 \"Drummet\"; message box
// \"...\"") for failure messages.
std::string DescribeOpenWindows();

}  // namespace platform::ui
