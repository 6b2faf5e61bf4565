// The Qt view: runs a program's windows as real Qt windows (see
// widget_mirror.h), waits in the model's loops on Qt's event processing,
// and renders screenshots from real widgets, on a display or on Qt's
// offscreen platform.
//
//   int main(int argc, char** argv) {
//     auto parsed = platform::ui::ParseRunOptions(argc, argv);
//     ...
//     platform::ui::qt::InstallQtView(parsed.options);
//     return platform::ui::RunWithOptions(theApp, parsed.options);
//   }
#pragma once

#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/app_runner.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/render.h"

namespace platform::ui::qt {

// Makes the widget application object unless one exists: the offscreen
// platform for headless runs and when no display exists. False with a
// reason when an application object without widgets was made first.
bool EnsureWidgetApplication(UiMode mode, std::string* error);

// Waits for Qt events while the model has nothing to do: user input, the
// next timer (real time; a virtual clock jumps instead), and other threads'
// posts and sends, which a watcher thread turns into a Qt event (it sleeps
// on the queue's condition variable, so nothing polls). Before each wait the mirror is brought in line with the model, and
// with a pictures folder each dialog is saved once as a PNG when first shown.
// Only the mirror's thread waits on Qt.
//
// Windows of other user-interface threads (CWinThread::CreateThread) are
// shown too. Such a thread and the view's thread take turns on the model:
// the other thread holds the turn while it runs and gives it up while it
// waits for messages (or blocks in a send or join); the view's thread
// holds it only while it brings widgets in line and lets Qt deliver paint
// and input. A thread that wants the turn wakes Qt and goes first. Input
// on another thread's window is posted to that thread; its waiting blocks
// on its own queue, never polls.
//
// With a log, each dialog and message box that opens or closes, on any of
// these threads, is written to it as the headless run writes it (see
// dialog_trace.h).
class QtLoopBackend : public LoopBackend {
 public:
  QtLoopBackend(WidgetMirror& mirror, std::string screenshots_dir, std::ostream* log = nullptr);
  ~QtLoopBackend() override;
  QtLoopBackend(const QtLoopBackend&) = delete;
  QtLoopBackend& operator=(const QtLoopBackend&) = delete;
  IdleResult wait(UiThread& thread) override;
  void peek_idle(UiThread& thread) override;
  void stalled(UiThread& thread) override;
  bool serves_all_threads() const override { return true; }
  void thread_started(UiThread& thread) override;
  void thread_ending(UiThread& thread) override;
  void blocking(UiThread& thread, bool begin) override;
  void modal_started(ModalLoop& loop) override;
  void modal_ended(ModalLoop& loop) override;
  // Paths written for shown dialogs, in order.
  const std::vector<std::string>& screenshots() const { return written_; }
  // Why a dialog picture could not be written, or empty.
  const std::string& screenshot_error() const { return screenshot_error_; }

 private:
  void save_new_dialogs();
  void trace(const std::string& line);
  WidgetMirror& mirror_;
  // Other user-interface threads wait as the built-in backend does, with
  // the turn given up meanwhile.
  DefaultLoopBackend other_threads_;
  std::string dir_;
  std::set<HWND> saved_;
  std::vector<std::string> written_;
  std::string screenshot_error_;
  std::ostream* log_;
  std::mutex log_mutex_;  // threads' loops start and end apart from the turns
  uint64_t last_peek_sync_ = 0;
  // Watcher state, guarded by the view thread's queue mutex.
  std::thread watcher_;
  bool stop_ = false;
  bool wake_pending_ = false;
  uint64_t device_known_ = 0;
  void watch();
};

// The view runner behind `--ui view`: real windows until the program ends.
int RunQtView(CWinApp& app, const RunOptions& options);

// Installs the view runner and makes screenshots (the `screenshot` step,
// SaveWindowPicture) render real widgets, also in headless runs.
void InstallQtView(const RunOptions& options);

// The picture of a window from real widgets (the live view's when it runs).
QImage RenderWithWidgets(Window& window);
// The texts of a top-level window cut off in those widgets (the `fits` step).
std::vector<TextOverflow> OverflowsWithWidgets(Window& window);

}  // namespace platform::ui::qt
