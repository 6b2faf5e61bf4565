#include "platform/ui/message_queue.h"

#include <algorithm>
#include <chrono>
#include <atomic>
#include <future>
#include <memory>
#include <unordered_map>

#include "platform/core/error.h"
#include "platform/ui/device_events.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/window_owner.h"
#include "platform/ui/time_source.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

struct ThreadRegistry {
  std::mutex mutex;
  std::unordered_map<DWORD, UiThread*> by_id;
  DWORD next = 1;
};
ThreadRegistry& threads() {
  static ThreadRegistry* r = new ThreadRegistry;
  return *r;
}

struct ThreadSlot {
  std::unique_ptr<UiThread> thread;
  ~ThreadSlot() {
    if (!thread) return;
    {
      // Posts look the queue up under this lock and push while holding it,
      // so nobody can still be pushing once it is out of the table.
      std::lock_guard lock(threads().mutex);
      threads().by_id.erase(thread->id);
      thread.reset();
    }
    SignalThreadStateChange();
  }
};

// Threads waiting in WaitServingSends look again whenever this moves.
struct StateSignal {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t generation = 0;
};
StateSignal& state_signal() {
  static StateSignal* s = new StateSignal;
  return *s;
}
thread_local ThreadSlot slot;

bool in_range(UINT message, UINT min, UINT max) {
  if (min == 0 && max == 0) return true;
  return message >= min && message <= max;
}

bool matches(const MSG& m, HWND filter, UINT min, UINT max) {
  if (!in_range(m.message, min, max)) return false;
  if (!filter || filter == reinterpret_cast<HWND>(-1)) return filter == nullptr || m.hwnd == nullptr;
  if (m.hwnd == filter) return true;
  Window* w = FindWindowModel(m.hwnd);
  for (; w && w->is_child(); w = w->parent)
    if (w->parent->handle == filter) return true;
  return false;
}

bool window_matches(Window* w, HWND filter) {
  if (!filter) return true;
  for (; w; w = w->is_child() ? w->parent : nullptr)
    if (w->handle == filter) return true;
  return false;
}

DWORD message_time() { return static_cast<DWORD>(time_source().now_ms()); }

std::atomic<LoopBackend*> installed_backend{nullptr};
std::atomic<UiThread*> backend_thread{nullptr};  // the thread that installed it

void run_cross_sent(UiThread& t) {
  for (;;) {
    std::function<void()> job;
    {
      std::lock_guard lock(t.mutex);
      if (t.cross_sent.empty()) return;
      job = std::move(t.cross_sent.front());
      t.cross_sent.pop_front();
    }
    job();
  }
}

// One retrieval step in the platform's order; false when nothing is there.
// A posted or input message (or a quit) waits for this filter.
bool has_queued(UiThread& t, HWND filter, UINT min, UINT max) {
  std::lock_guard lock(t.mutex);
  for (const MSG& m : t.posted)
    if (matches(m, filter, min, max)) return true;
  for (const MSG& m : t.input)
    if (matches(m, filter, min, max)) return true;
  return t.quit_posted && !filter && in_range(WM_QUIT, min, max);
}

bool retrieve(UiThread& t, MSG* out, HWND filter, UINT min, UINT max, bool remove) {
  run_cross_sent(t);
  DeliverDeviceChanges(t);
  {
    std::lock_guard lock(t.mutex);
    for (auto it = t.posted.begin(); it != t.posted.end(); ++it) {
      if (!matches(*it, filter, min, max)) continue;
      *out = *it;
      if (remove) t.posted.erase(it);
      return true;
    }
  }
  {
    std::lock_guard lock(t.mutex);
    for (auto it = t.input.begin(); it != t.input.end(); ++it) {
      if (!matches(*it, filter, min, max)) continue;
      *out = *it;
      if (remove) t.input.erase(it);
      return true;
    }
    if (t.quit_posted && !filter && in_range(WM_QUIT, min, max)) {
      *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(t.quit_code), 0, message_time(), {}};
      if (remove) t.quit_posted = false;
      return true;
    }
  }
  if (t.paint_dirty && in_range(WM_PAINT, min, max)) {
    bool any = false;
    for (Window* w : t.windows) {
      if (!w->invalid) continue;
      if (!w->showing()) continue;
      any = true;
      if (!window_matches(w, filter)) continue;
      *out = MSG{w->handle, WM_PAINT, 0, 0, message_time(), {}};
      return true;
    }
    if (!any) t.paint_dirty = false;
  }
  if (!t.timers.empty() && in_range(WM_TIMER, min, max)) {
    uint64_t now = time_source().now_ms();
    UiThread::Timer* best = nullptr;
    for (auto& timer : t.timers) {
      if (timer.due > now) continue;
      if (timer.hwnd && !window_matches(FindWindowModel(timer.hwnd), filter)) continue;
      if (!timer.hwnd && filter) continue;
      if (!best || timer.due < best->due || (timer.due == best->due && timer.serial < best->serial))
        best = &timer;
    }
    if (best) {
      *out = MSG{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc),
                 static_cast<DWORD>(now), {}};
      if (remove) best->due = now + std::max<UINT>(best->interval, 1);
      return true;
    }
  }
  return false;
}

}  // namespace

UiThread::~UiThread() = default;

std::atomic<DWORD (*)()> thread_id_source{nullptr};

void set_thread_id_source(DWORD (*source)()) { thread_id_source.store(source); }

UiThread& CurrentUiThread() {
  if (!slot.thread) {
    slot.thread = std::make_unique<UiThread>();
    slot.thread->device_seen = LatestDeviceChange();
    DWORD (*source)() = thread_id_source.load();
    DWORD given = source ? source() : 0;
    std::lock_guard lock(threads().mutex);
    slot.thread->id = given ? given : threads().next++;
    threads().by_id[slot.thread->id] = slot.thread.get();
  }
  return *slot.thread;
}

UiThread* CurrentUiThreadIfAny() { return slot.thread.get(); }

UiThread* UiThreadById(DWORD id) {
  std::lock_guard lock(threads().mutex);
  auto it = threads().by_id.find(id);
  return it == threads().by_id.end() ? nullptr : it->second;
}

void SetCurrentUiThreadId(DWORD id) {
  UiThread& t = CurrentUiThread();
  std::lock_guard lock(threads().mutex);
  threads().by_id.erase(t.id);
  t.id = id;
  threads().by_id[id] = &t;
}

size_t UiThreadCount() {
  std::lock_guard lock(threads().mutex);
  return threads().by_id.size();
}

void WakeAllUiThreads() {
  std::lock_guard lock(threads().mutex);
  for (auto& [id, t] : threads().by_id) t->wake.notify_all();
}

uint64_t NextTimerDue(const UiThread& t) {
  uint64_t best = UINT64_MAX;
  for (const auto& timer : t.timers) best = std::min(best, timer.due);
  return best;
}

bool HasPendingMessages(UiThread& t) {
  MSG m;
  return retrieve(t, &m, nullptr, 0, 0, false);
}

void PostInputMessage(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  Window* win = FindWindowModel(hwnd);
  if (!win) return;
  UiThread* target = win->thread;
  {
    std::lock_guard lock(target->mutex);
    target->input.push_back(MSG{hwnd, message, w, l, message_time(), {}});
  }
  target->wake.notify_all();
}

void SignalThreadStateChange() {
  StateSignal& s = state_signal();
  {
    std::lock_guard lock(s.mutex);
    ++s.generation;
  }
  s.changed.notify_all();
}

void WaitServingSends(const std::function<bool()>& done) {
  UiThread& self = CurrentUiThread();
  StateSignal& s = state_signal();
  LoopBackend& backend = loop_backend();
  struct Blocking {
    LoopBackend& backend;
    UiThread& self;
    Blocking(LoopBackend& b, UiThread& t) : backend(b), self(t) { backend.blocking(self, true); }
    ~Blocking() { backend.blocking(self, false); }
  } blocking(backend, self);
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard lock(s.mutex);
      seen = s.generation;
    }
    run_cross_sent(self);
    if (done()) return;
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return s.generation != seen; });
  }
}

bool WaitUntilThreadIdle(DWORD id) {
  if (!UiThreadById(id)) return false;
  if (UiThread* self = CurrentUiThreadIfAny(); self && self->id == id) return false;  // never idle while asking
  WaitServingSends([id] {
    std::lock_guard registry(threads().mutex);
    auto it = threads().by_id.find(id);
    if (it == threads().by_id.end()) return true;  // it ended
    UiThread& t = *it->second;
    std::lock_guard lock(t.mutex);
    return t.idle && t.posted.empty() && t.cross_sent.empty() && t.input.empty() && !t.quit_posted;
  });
  return true;
}

namespace {

// A job sent to another thread: the sender waits until it ran or the
// thread ended without running it.
struct SentJob {
  std::atomic<bool> done{false};
};

bool run_on_thread(UiThread* target, const std::function<void()>& job) {
  if (target == &CurrentUiThread()) {
    job();
    return true;
  }
  auto state = std::make_shared<SentJob>();
  DWORD target_id = 0;
  {
    std::lock_guard registry(threads().mutex);
    // The window's thread must still have its queue.
    bool alive = false;
    for (auto& [id, t] : threads().by_id)
      if (t == target) {
        alive = true;
        target_id = id;
      }
    if (!alive) return false;
    std::lock_guard lock(target->mutex);
    target->cross_sent.push_back([state, job] {
      job();
      state->done = true;
      SignalThreadStateChange();
    });
    target->wake.notify_all();
  }
  SignalThreadStateChange();  // the target may itself be waiting for us
  WaitServingSends([&] { return state->done.load() || !UiThreadById(target_id); });
  return state->done.load();
}

}  // namespace

bool RunOnWindowThread(HWND hwnd, const std::function<void()>& job) {
  Window* win = FindWindowModel(hwnd);
  if (!win) return false;
  return run_on_thread(win->thread, job);
}

namespace {
std::atomic<ThreadMessageRoute> thread_message_route{nullptr};
}  // namespace

void SetThreadMessageRoute(ThreadMessageRoute route) { thread_message_route = route; }

bool DispatchThreadMessage(MSG& msg) {
  ThreadMessageRoute route = thread_message_route;
  return route && route(msg);
}

LRESULT CallWindow(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  Window* win = FindWindowModel(hwnd);
  if (!win) return 0;
  if (win->object) return win->object->OwnerWindowProc(message, w, l);
  if (win->proc) return win->proc(hwnd, message, w, l);
  return DefWindowProcW(hwnd, message, w, l);
}

bool PreTranslate(MSG& msg, HWND dialog) {
  if (!msg.hwnd) return false;  // thread messages go to the thread (DispatchThreadMessage)
  std::vector<HWND> chain;
  for (Window* w = FindWindowModel(msg.hwnd); w; w = w->is_child() ? w->parent : nullptr)
    chain.push_back(w->handle);
  for (HWND h : chain) {
    Window* w = FindWindowModel(h);
    if (w && w->object && w->object->OwnerPreTranslate(msg)) return true;
  }
  if (dialog) {
    Window* d = FindWindowModel(dialog);
    if (d && !d->object && IsDialogMessageW(dialog, &msg)) return true;
  }
  return false;
}

LoopBackend& loop_backend() {
  static DefaultLoopBackend fallback;
  LoopBackend* installed = installed_backend.load();
  if (!installed) return fallback;
  if (installed->serves_all_threads() || CurrentUiThreadIfAny() == backend_thread.load()) return *installed;
  return fallback;
}

void set_loop_backend(LoopBackend* backend) {
  backend_thread = backend ? &CurrentUiThread() : nullptr;
  installed_backend = backend;
}

IdleResult DefaultLoopBackend::wait(UiThread& t) {
  uint64_t due = NextTimerDue(t);
  TimeSource& clock = time_source();
  if (clock.is_virtual()) {
    if (due != UINT64_MAX) {
      clock.advance_to(due);
      return IdleResult::Retry;
    }
    std::unique_lock lock(t.mutex);
    auto has_work = [&] {
      return !t.posted.empty() || !t.cross_sent.empty() || !t.input.empty() || t.quit_posted;
    };
    if (t.started_by_another) {
      // A thread started by another one waits for its posts as long as it takes.
      t.wake.wait(lock, has_work);
      return IdleResult::Retry;
    }
    bool woke = t.wake.wait_for(lock, std::chrono::milliseconds(200), has_work);
    return woke ? IdleResult::Retry : IdleResult::Stalled;
  }
  // On a real clock an idle loop still looks for disks come and gone.
  due = std::min(due, NextDevicePoll(t));
  std::unique_lock lock(t.mutex);
  auto has_work = [&] {
    return !t.posted.empty() || !t.cross_sent.empty() || !t.input.empty() || t.quit_posted;
  };
  if (due == UINT64_MAX) {
    t.wake.wait(lock, has_work);
  } else {
    uint64_t now = clock.now_ms();
    if (due > now) t.wake.wait_for(lock, std::chrono::milliseconds(due - now), has_work);
  }
  return IdleResult::Retry;
}

void DefaultLoopBackend::stalled(UiThread&) {
  throw StalledLoop{"the message loop waits for input that never comes; open: " +
                    DescribeOpenWindows()};
}

namespace {
struct LoopGuard {
  UiThread& thread;
  ModalLoop& loop;
  LoopGuard(UiThread& t, ModalLoop& l) : thread(t), loop(l) {
    loop.handle = loop.window ? loop.window->handle : nullptr;
    thread.loops.push_back(&loop);
    loop_backend().modal_started(loop);
  }
  ~LoopGuard() {
    auto it = std::find(thread.loops.begin(), thread.loops.end(), &loop);
    if (it != thread.loops.end()) thread.loops.erase(it);
    loop_backend().modal_ended(loop);
  }
};
}  // namespace

void RunModalLoop(ModalLoop& loop) {
  UiThread& t = CurrentUiThread();
  LoopGuard guard(t, loop);
  HWND dialog = loop.window ? loop.window->handle : nullptr;
  while (!loop.ended) {
    MSG m;
    if (!GetMessageW(&m, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    if (!PreTranslate(m, dialog)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
}

std::string DescribeOpenWindows() {
  std::string out;
  for (Window* w : TopLevelWindows()) {
    if (!w->visible()) continue;
    if (!out.empty()) out += "; ";
    switch (w->role) {
      case DialogRole::MessageBox: out += "message box"; break;
      case DialogRole::FileOpen: case DialogRole::FileSave: out += "file dialog"; break;
      case DialogRole::FolderBrowse: out += "folder dialog"; break;
      case DialogRole::Page:
        out += w->template_id ? "dialog " + std::to_string(w->template_id) : "window";
        break;
    }
    std::string title;
    for (char16_t c : w->text) title += c < 0x80 ? static_cast<char>(c) : '?';
    out += " \"" + title + "\"";
  }
  return out.empty() ? "no visible window" : out;
}

}  // namespace platform::ui

using platform::ui::CurrentUiThread;
using platform::ui::FindWindowModel;
using platform::ui::UiThread;
using platform::ui::Window;

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  Window* win = FindWindowModel(hwnd);
  if (!win) return 0;
  UiThread& current = CurrentUiThread();
  if (win->thread == &current) return platform::ui::CallWindow(hwnd, message, w, l);
  // Another thread's window: run it on that thread and wait for the result,
  // serving what is sent to this thread meanwhile. A thread that ends
  // without running it gives 0.
  auto result = std::make_shared<LRESULT>(0);
  platform::ui::RunOnWindowThread(hwnd, [=] { *result = platform::ui::CallWindow(hwnd, message, w, l); });
  return *result;
}

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  if (!hwnd) return PostThreadMessageW(CurrentUiThread().id, message, w, l);
  Window* win = FindWindowModel(hwnd);
  if (!win) return FALSE;
  UiThread* target = win->thread;
  {
    std::lock_guard lock(target->mutex);
    target->posted.push_back(MSG{hwnd, message, w, l, platform::ui::message_time(), {}});
  }
  target->wake.notify_all();
  return TRUE;
}

BOOL PostThreadMessageW(DWORD thread_id, UINT message, WPARAM w, LPARAM l) {
  // Pushed under the table's lock: the queue cannot end meanwhile.
  std::lock_guard registry(platform::ui::threads().mutex);
  auto it = platform::ui::threads().by_id.find(thread_id);
  if (it == platform::ui::threads().by_id.end()) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  UiThread* target = it->second;
  {
    std::lock_guard lock(target->mutex);
    target->posted.push_back(MSG{nullptr, message, w, l, platform::ui::message_time(), {}});
  }
  target->wake.notify_all();
  return TRUE;
}

void PostQuitMessage(int exit_code) {
  UiThread& t = CurrentUiThread();
  std::lock_guard lock(t.mutex);
  t.quit_posted = true;
  t.quit_code = exit_code;
}

BOOL PeekMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max, UINT remove) {
  if (!msg) return FALSE;
  UiThread& t = CurrentUiThread();
  // With nothing posted or typed, only paints and due timers (which a long
  // operation's own progress keeps making) stand between the pump and idle:
  // the user may act here, as between the paints of a real progress bar.
  if (!platform::ui::has_queued(t, hwnd, min, max)) platform::ui::loop_backend().peek_idle(t);
  return platform::ui::retrieve(t, msg, hwnd, min, max, remove & PM_REMOVE) ? TRUE : FALSE;
}

BOOL GetMessageW(LPMSG msg, HWND hwnd, UINT min, UINT max) {
  if (!msg) return FALSE;
  UiThread& t = CurrentUiThread();
  for (;;) {
    if (platform::ui::retrieve(t, msg, hwnd, min, max, true)) return msg->message != WM_QUIT;
    // A loop ended by a handler or the driver gets control back before
    // anyone waits: its owner checks the flag after each message.
    if (!t.loops.empty() && t.loops.back()->ended) {
      *msg = MSG{nullptr, WM_NULL, 0, 0, 0, {}};
      return TRUE;
    }
    auto& backend = platform::ui::loop_backend();
    {
      std::lock_guard lock(t.mutex);
      t.idle = true;
    }
    platform::ui::SignalThreadStateChange();
    platform::ui::IdleResult waited = backend.wait(t);
    {
      std::lock_guard lock(t.mutex);
      t.idle = false;
    }
    if (waited == platform::ui::IdleResult::Stalled) {
      backend.stalled(t);
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(-1), 0, 0, {}};
      return FALSE;
    }
  }
}

BOOL TranslateMessage(const MSG* msg) {
  if (!msg || msg->message != WM_KEYDOWN) return FALSE;
  UINT key = static_cast<UINT>(msg->wParam);
  WPARAM ch = 0;
  if (key == VK_RETURN) ch = u'\r';
  else if (key == VK_ESCAPE) ch = 0x1B;
  else if (key == VK_TAB) ch = u'\t';
  else if (key == VK_SPACE) ch = u' ';
  else if (key == VK_BACK) ch = 0x08;
  if (!ch) return FALSE;
  platform::ui::PostInputMessage(msg->hwnd, WM_CHAR, ch, msg->lParam);
  return TRUE;
}

namespace platform::ui {

namespace {
std::function<void(HWND, LRESULT)>& end_session_observer() {
  static auto* f = new std::function<void(HWND, LRESULT)>;
  return *f;
}
}  // namespace

void SetEndSessionObserver(std::function<void(HWND window, LRESULT answer)> observer) {
  end_session_observer() = std::move(observer);
}

}  // namespace platform::ui

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  if (!msg->hwnd) {
    // A thread message: the thread object's PreTranslateMessage, then its map.
    if (msg->message != WM_NULL && msg->message != WM_QUIT) {
      MSG copy = *msg;
      platform::ui::DispatchThreadMessage(copy);
    }
    return 0;
  }
  if (msg->message == WM_TIMER && msg->lParam) {
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    proc(msg->hwnd, WM_TIMER, static_cast<UINT_PTR>(msg->wParam), msg->time);
    return 0;
  }
  LRESULT r = platform::ui::CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
  if (msg->message == WM_QUERYENDSESSION && platform::ui::end_session_observer())
    platform::ui::end_session_observer()(msg->hwnd, r);
  if (msg->message == WM_PAINT) {
    // A handler that did not paint must not make WM_PAINT come back forever.
    if (Window* w = FindWindowModel(msg->hwnd)) {
      w->invalid = false;
      w->erase = false;
    }
  }
  return r;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc) {
  UiThread& t = CurrentUiThread();
  if (hwnd && !FindWindowModel(hwnd)) return 0;
  uint64_t now = platform::ui::time_source().now_ms();
  UINT interval = std::max<UINT>(elapse_ms, 1);
  for (auto& timer : t.timers) {
    if (timer.hwnd == hwnd && timer.id == id && hwnd) {
      timer.interval = interval;
      timer.due = now + interval;
      timer.proc = proc;
      timer.serial = ++t.timer_serial;
      return id;
    }
  }
  if (!hwnd) id = 0x7000 + static_cast<UINT_PTR>(++t.timer_serial);
  t.timers.push_back({hwnd, id, interval, now + interval, ++t.timer_serial, proc});
  return hwnd ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  UiThread& t = CurrentUiThread();
  auto it = std::find_if(t.timers.begin(), t.timers.end(),
                         [&](const UiThread::Timer& x) { return x.hwnd == hwnd && x.id == id; });
  if (it == t.timers.end()) return FALSE;
  t.timers.erase(it);
  return TRUE;
}
