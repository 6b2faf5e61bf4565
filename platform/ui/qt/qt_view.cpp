#include "platform/ui/qt/qt_view.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>

#include "platform/core/clock.h"
#include "platform/ui/device_events.h"
#include "platform/ui/dialog_trace.h"
#include "platform/ui/render.h"
#include "platform/ui/time_source.h"
#include "platform/ui/window.h"

namespace platform::ui::qt {

namespace {

// How often PeekMessage loops bring the widgets in line.
constexpr uint64_t kPeekSyncMs = 30;

WidgetMirror*& live_mirror() {
  static WidgetMirror* m = nullptr;
  return m;
}

bool has_display() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display && *display) || (wayland && *wayland);
}

// Turns on the window model between the view's thread and the other
// user-interface threads whose windows it shows.
struct ModelTurn {
  std::mutex mutex;
  std::atomic<int> others_waiting{0};
  // Threads that take turns; changed and read only by the turn's holder.
  std::set<const UiThread*> takers;
};
ModelTurn& model_turn() {
  static ModelTurn* t = new ModelTurn;  // threads may end after static destruction begins
  return *t;
}

// The calling thread's part in the turns.
struct TurnState {
  bool held = false;
  bool takes_turns = false;         // a CWinThread thread under the view
  std::vector<bool> given_up;       // per nested block: whether it gave the turn up
  ~TurnState() {
    if (!held) return;
    model_turn().mutex.unlock();
    SignalThreadStateChange();
  }
};
thread_local TurnState turn_state;

void take_turn(bool view_thread) {
  if (turn_state.held) return;
  ModelTurn& t = model_turn();
  if (view_thread) {
    // Others first: a thread that asked waits for nobody but us.
    WaitServingSends([&t] { return t.others_waiting.load() == 0 && t.mutex.try_lock(); });
  } else {
    ++t.others_waiting;
    // Wakes the view's thread out of Qt's event processing so it gives the turn up.
    if (QCoreApplication::instance()) QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::User));
    WaitServingSends([&t] { return t.mutex.try_lock(); });
    --t.others_waiting;
  }
  turn_state.held = true;
}

void give_up_turn() {
  if (!turn_state.held) return;
  turn_state.held = false;
  model_turn().mutex.unlock();
  SignalThreadStateChange();
}

// The view's thread holds the turn for a scope (nested scopes keep it).
class ViewTurn {
 public:
  ViewTurn() : taken_(!turn_state.held) { take_turn(true); }
  ~ViewTurn() {
    if (taken_) give_up_turn();
  }
  ViewTurn(const ViewTurn&) = delete;
  ViewTurn& operator=(const ViewTurn&) = delete;

 private:
  bool taken_;
};

bool others_may_post() { return UiThreadCount() > 1 || platform::Clock::instance().active_threads() > 0; }

bool any_visible_window(const UiThread& thread) {
  for (Window* w : TopLevelWindows())
    if (w->thread == &thread && w->visible()) return true;
  return false;
}

std::string picture_name(size_t serial, const Window& w) {
  std::string what;
  switch (w.role) {
    case DialogRole::MessageBox: what = "message-box"; break;
    case DialogRole::FileOpen: what = "file-open"; break;
    case DialogRole::FileSave: what = "file-save"; break;
    case DialogRole::FolderBrowse: what = "folder"; break;
    case DialogRole::Page: what = w.template_id ? "dialog-" + std::to_string(w.template_id) : "window"; break;
  }
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%03zu-", serial);
  return prefix + what + ".png";
}

}  // namespace

bool EnsureWidgetApplication(UiMode mode, std::string* error) {
  if (QCoreApplication::instance()) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) return true;
    if (error) *error = "a Qt application without widgets was made before the view";
    return false;
  }
  if ((mode != UiMode::View || !has_display()) && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "drum";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
  return true;
}

QtLoopBackend::QtLoopBackend(WidgetMirror& mirror, std::string screenshots_dir, std::ostream* log)
    : mirror_(mirror), dir_(std::move(screenshots_dir)), log_(log) {
  device_known_ = LatestDeviceChange();
  // Read while the view holds the turn, when the takers stand still.
  mirror_.set_other_threads([](const UiThread* t) { return model_turn().takers.count(t) > 0; });
  watcher_ = std::thread([this] { watch(); });
}

QtLoopBackend::~QtLoopBackend() {
  mirror_.set_other_threads(nullptr);
  UiThread& t = *mirror_.thread();
  {
    std::lock_guard lock(t.mutex);
    stop_ = true;
  }
  t.wake.notify_all();
  watcher_.join();
}

void QtLoopBackend::watch() {
  UiThread& t = *mirror_.thread();
  std::unique_lock lock(t.mutex);
  for (;;) {
    // One wake per wait of the view thread: it clears wake_pending_ when it
    // next waits, so a queue it has not drained yet does not spin here.
    t.wake.wait(lock, [&] {
      return stop_ || (!wake_pending_ && (!t.posted.empty() || !t.cross_sent.empty() || t.quit_posted ||
                                          LatestDeviceChange() > device_known_));
    });
    if (stop_) return;
    wake_pending_ = true;
    // Thread-safe: wakes the view thread's processEvents.
    QCoreApplication::postEvent(QCoreApplication::instance(), new QEvent(QEvent::User));
  }
}

void QtLoopBackend::save_new_dialogs() {
  if (dir_.empty()) return;
  for (Window* w : TopLevelWindows()) {
    if (!w->visible() || (w->kind != WindowKind::Dialog && w->role == DialogRole::Page) || saved_.count(w->handle))
      continue;
    saved_.insert(w->handle);
    if (!QDir().mkpath(QString::fromStdString(dir_))) {
      screenshot_error_ = "cannot make the pictures folder " + dir_;
      continue;
    }
    std::string path = dir_ + "/" + picture_name(written_.size() + 1, *w);
    if (!mirror_.grab(*w).save(QString::fromStdString(path), "PNG")) {
      screenshot_error_ = "cannot write picture " + path;
      continue;
    }
    written_.push_back(path);
  }
}

void QtLoopBackend::thread_started(UiThread& thread) {
  if (&thread == mirror_.thread()) return;
  turn_state.takes_turns = true;
  take_turn(false);
  model_turn().takers.insert(&thread);
}

void QtLoopBackend::thread_ending(UiThread& thread) {
  if (!turn_state.takes_turns) return;
  take_turn(false);
  model_turn().takers.erase(&thread);
  turn_state.takes_turns = false;
  give_up_turn();
}

void QtLoopBackend::blocking(UiThread&, bool begin) {
  // A thread blocked in a send or a join gives its turn to the others.
  if (begin) {
    bool held = turn_state.held;
    turn_state.given_up.push_back(held);
    give_up_turn();
    return;
  }
  if (turn_state.given_up.empty()) return;
  bool retake = turn_state.given_up.back();
  turn_state.given_up.pop_back();
  if (retake) take_turn(!turn_state.takes_turns);
}

void QtLoopBackend::trace(const std::string& line) {
  if (!log_ || line.empty()) return;
  std::lock_guard lock(log_mutex_);
  *log_ << line << "\n";
  log_->flush();
}

void QtLoopBackend::modal_started(ModalLoop& loop) { trace(ModalStartedLine(loop)); }
void QtLoopBackend::modal_ended(ModalLoop& loop) { trace(ModalEndedLine(loop)); }

IdleResult QtLoopBackend::wait(UiThread& thread) {
  if (&thread != mirror_.thread()) {
    if (!turn_state.takes_turns) return other_threads_.wait(thread);
    give_up_turn();
    IdleResult result = other_threads_.wait(thread);
    take_turn(false);
    return result;
  }
  {
    std::lock_guard lock(thread.mutex);
    wake_pending_ = false;
    device_known_ = LatestDeviceChange();
  }
  thread.wake.notify_all();  // the watcher looks again
  {
    ViewTurn turn;
    mirror_.sync();
    save_new_dialogs();
    // Input that arrived meanwhile, without waiting.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  if (mirror_.run_deferred() || HasPendingMessages(thread)) return IdleResult::Retry;

  TimeSource& clock = time_source();
  uint64_t due = NextTimerDue(thread);
  if (due != UINT64_MAX && clock.is_virtual()) {
    clock.advance_to(due);
    return IdleResult::Retry;
  }
  int timeout = -1;
  // On a real clock an idle view still looks for disks come and gone.
  if (!clock.is_virtual() && any_visible_window(thread)) due = std::min(due, NextDevicePoll(thread));
  if (due != UINT64_MAX) {
    uint64_t now = clock.now_ms();
    timeout = due <= now ? 0 : static_cast<int>(std::min<uint64_t>(due - now, INT_MAX));
  }
  if (timeout == 0) return IdleResult::Retry;
  // Nothing on screen, no timer and nobody else: no input can ever come.
  if (timeout < 0 && !any_visible_window(thread) && !others_may_post()) return IdleResult::Stalled;
  {
    ViewTurn turn;
    // Another thread that wants the turn posts an event, which ends this wait.
    if (model_turn().others_waiting.load() == 0) {
      QTimer wake;
      wake.setSingleShot(true);
      if (timeout > 0) wake.start(timeout);
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  mirror_.run_deferred();
  return IdleResult::Retry;
}

void QtLoopBackend::peek_idle(UiThread& thread) {
  if (&thread != mirror_.thread()) return;
  uint64_t now = time_source().now_ms();
  {
    ViewTurn turn;
    if (now - last_peek_sync_ >= kPeekSyncMs || now < last_peek_sync_) {
      last_peek_sync_ = now;
      mirror_.sync();
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  }
  mirror_.run_deferred();
}

void QtLoopBackend::stalled(UiThread& thread) {
  if (&thread != mirror_.thread()) return other_threads_.stalled(thread);
  throw StalledLoop{"no window is shown and nothing can wake the loop; open: " + DescribeOpenWindows()};
}

int RunQtView(CWinApp& app, const RunOptions& options) {
  std::string error;
  if (!EnsureWidgetApplication(UiMode::View, &error)) {
    std::cerr << error << "\n";
    return kExitScriptFailed;
  }
  std::ofstream log_file;
  if (!OpenRunLog(options, log_file, &error)) {
    std::cerr << error << "\n";
    return kExitBadScript;
  }
  platform::Clock::instance().set_mode(platform::Clock::Mode::Real);
  WidgetMirror mirror(MirrorMode::OnScreen);
  QtLoopBackend backend(mirror, options.screenshots_dir, log_file.is_open() ? &log_file : nullptr);
  live_mirror() = &mirror;
  set_loop_backend(&backend);
  struct Restore {
    ~Restore() {
      set_loop_backend(nullptr);
      live_mirror() = nullptr;
    }
  } restore;
  try {
    int code = RunApplication(app);
    if (!backend.screenshot_error().empty()) std::cerr << backend.screenshot_error() << "\n";
    return code;
  } catch (const StalledLoop& stalled) {
    // As a headless run, the log tells why the run ended too.
    if (log_file.is_open()) log_file << "stuck: " << stalled.message << "\n";
    std::cerr << "stuck: " << stalled.message << "\n";
    return kExitScriptFailed;
  }
}

namespace {
// The live view's widgets, or in headless runs widgets laid out off screen,
// made on first use.
WidgetMirror& picture_mirror() {
  if (WidgetMirror* live = live_mirror()) return *live;
  static std::unique_ptr<WidgetMirror> pictures;
  if (!pictures) pictures = std::make_unique<WidgetMirror>(MirrorMode::Invisible);
  return *pictures;
}
}  // namespace

QImage RenderWithWidgets(Window& window) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return RenderWindow(window);
  return picture_mirror().grab(window);
}

std::vector<TextOverflow> OverflowsWithWidgets(Window& window) {
  std::vector<TextOverflow> out;
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return out;
  WidgetMirror& mirror = picture_mirror();
  mirror.sync();
  for (const ClippedText& c : mirror.clipped_texts(window.handle))
    out.push_back(TextOverflow{c.id, c.text, c.needed, c.available});
  return out;
}

void InstallQtView(const RunOptions& options) {
  std::string error;
  if (!EnsureWidgetApplication(options.effective_mode(), &error)) return;  // model drawings stay
  set_view_runner(RunQtView);
  set_window_renderer(RenderWithWidgets);
  set_text_fit_check(OverflowsWithWidgets);
}

}  // namespace platform::ui::qt
