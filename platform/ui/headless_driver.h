// The headless driver: runs the programs on the window model alone, with a
// script that acts whenever the innermost modal loop is idle. One
// vocabulary in two forms: Script's builder methods for tests, and a text
// file (one verb per line, '#' comments, "quoted" texts) for users.
//
//   expect dialog ID | expect text ID "..." | expect enabled|disabled|visible|hidden ID
//   expect checked ID [ROW] | expect state ID PATH N | expect progress ID PERCENT
//   click ID [X Y] [shift] | dblclick ID | rclick ID [ROW | X Y] [shift] | move ID
//     (a point form may name a hidden control, such as a frame that marks a drawn
//     area: the click lands on what lies at that point)
//   tick ID [ROW] | untick ID [ROW] | select ID ROW | expand ID PATH | type ID "text"
//   key enter|escape|space|tab|shift+tab|f1|left|right|up|down|LETTER|alt+LETTER
//     (a letter goes to the focus as typed, with alt as a mnemonic) | menu COMMAND
//   answer ok|cancel|yes|no|retry|abort|ignore | choose "path"
//   wait MS | screenshot FILE.png | device arrive|remove N
//   fits (every static, button, check box, radio, group box and rich edit of
//     the open window shows its whole text in the widget view's fonts, a
//     multi-line rich edit within its height, every report-list cell within
//     its column, a closed combo box its item and clear of other controls,
//     and no wrapped Japanese text ends in a lone character; fails naming
//     those cut off)
//
// X Y is a point in the control's client area (the centre when left out);
// "shift" holds the Shift key down for the click. ROW is a row number (from 0) or a "quoted" item text; PATH is tree item
// texts joined by '/'. On a tree, tick and untick click an item's box once
// unless its state image already means ticked or not (SetTreeTickImages: a
// tree with partly ticked looks may need the step again); expect state reads
// the image number itself, partial states included. expect progress waits until a progress
// bar passes PERCENT of its range: seen below it while the step waits, then at or above it
// (at once for 0), so a bar left full by an earlier stage waits for the next one. As every
// expectation it is also tried from the message pump of a long operation, so a following
// click (Cancel) lands while that operation runs.
// In quoted texts only \" and \\ are escapes, so paths keep their backslashes.
// Expectations wait (in virtual time) until they hold or the budget runs
// out; a failure names the step, its line and what was open. Every dialog and message box opened or closed goes to the log.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/message_queue.h"
#include "platform/ui/time_source.h"

namespace platform::ui {

class TreeViewModel;
struct TreeNode;

struct ScriptStep {
  std::string verb;               // "expect", "click", ...
  std::vector<std::string> args;  // words and unquoted texts, in order
  int line = 0;                   // 0 for steps built in code
  std::string describe() const;
};

struct ScriptParseResult {
  bool ok = false;
  std::string error;  // "FILE:LINE: what"
};

class Script {
 public:
  std::vector<ScriptStep> steps;

  // Parses script text; on error leaves `steps` as parsed so far.
  ScriptParseResult parse(const std::string& text, const std::string& file_name);
  ScriptParseResult load(const std::string& path);

  Script& expect_dialog(int id);
  Script& expect_text(int id, const std::string& text);
  Script& expect_enabled(int id);
  Script& expect_disabled(int id);
  Script& expect_visible(int id);
  Script& expect_hidden(int id);
  Script& expect_checked(int id, int row = -1);
  // The state image index of a tree item ("Desktop/Computer/Local Disk (C:)").
  Script& expect_state(int id, const std::string& path, int image);
  // The progress bar ID passes PERCENT (0-100) of its range.
  Script& expect_progress(int id, int percent);
  Script& click(int id);
  Script& dblclick(int id);
  Script& rclick(int id, int row = -1);
  Script& click_at(int id, int x, int y, bool shift = false);
  Script& rclick_at(int id, int x, int y, bool shift = false);
  Script& shift_click(int id);
  Script& move(int id);
  Script& tick(int id, int row);
  Script& tick_text(int id, const std::string& row_text);  // the row whose first column reads so
  Script& untick(int id, int row);
  Script& tick_path(int id, const std::string& path);
  Script& untick_path(int id, const std::string& path);
  Script& select(int id, int row);
  Script& select_text(int id, const std::string& text);
  Script& expand(int id, const std::string& path);
  Script& type(int id, const std::string& text);
  Script& key(const std::string& name);
  Script& menu(int command);
  Script& answer(const std::string& button);
  Script& choose(const std::string& path);
  Script& wait(uint64_t ms);
  Script& screenshot(const std::string& file);
  Script& device(bool arrive, int disk);
  Script& fits();
  // The user logs off: every top-level window is asked (WM_QUERYENDSESSION);
  // each answer is logged as "logoff allowed by ..." or "logoff refused by ...".
  Script& logoff();

 private:
  Script& add(std::string verb, std::vector<std::string> args);
};

class ScriptFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DriverOptions {
  std::ostream* log = nullptr;      // null: standard error
  std::string screenshots_dir;      // where `screenshot` writes; empty: the current folder
  uint64_t wait_budget_ms = 120000; // virtual time an expectation may wait
  // Real time to wait for another thread's post before calling a loop
  // stuck (no timers, no script step that can run). Tests use 0.
  uint64_t real_grace_ms = 300;
  // `device arrive|remove N`: tells the simulated PC; when unset the driver
  // only broadcasts WM_DEVICECHANGE.
  std::function<bool(bool arrive, int disk, std::string* error)> device_hook;
};

class HeadlessDriver : public LoopBackend {
 public:
  enum class Outcome { Done, Waiting, Failed };

  // A step being run: the step, the thread, the innermost window and, for
  // verbs that act on a control, the control its first word names.
  struct StepRun {
    const ScriptStep& step;
    UiThread& thread;
    Window* top = nullptr;
    Window* control = nullptr;
    bool may_wait = false;  // time may pass (the idle loop, not a peek)
    std::string& error;     // why the step waits or failed
  };

  // How a verb behaves, besides its handler.
  enum VerbFlags : unsigned {
    kAction = 1,         // counts as done before it runs (its handler may open dialogs)
    kOnControl = 2,      // acts on the control its first word names
    kInMessageBox = 4,   // allowed while a message box is open
    kPassesTime = 8,     // lets virtual time pass; never run from a peek
    kPointMayHide = 16,  // with a point, the control may be hidden: it only places the point
  };

  // One row of the verb table: the script parser checks the argument counts
  // and the words (`check` returns what is wrong, or nothing), the driver
  // runs the handler. A new verb is a row and a handler.
  struct Verb {
    const char* name;
    size_t min_args;  // "expect" counts its kind word
    size_t max_args;
    std::string (*check)(const std::vector<std::string>& args);
    Outcome (HeadlessDriver::*run)(StepRun& run);
    unsigned flags;
  };
  // The row for a verb, or null for an unknown one.
  static const Verb* FindVerb(const std::string& name);

  HeadlessDriver(Script script, DriverOptions options);
  ~HeadlessDriver() override;

  IdleResult wait(UiThread& thread) override;
  void peek_idle(UiThread& thread) override;
  void stalled(UiThread& thread) override;
  void modal_started(ModalLoop& loop) override;
  void modal_ended(ModalLoop& loop) override;

  bool finished() const { return next_ >= script_.steps.size(); }
  size_t steps_done() const { return next_; }
  // The step the script waits at ("line 7: click 1"), or empty when finished.
  std::string next_step() const { return finished() ? std::string() : script_.steps[next_].describe(); }
  // Every line written to the log, for tests.
  const std::vector<std::string>& log_lines() const { return log_lines_; }

 private:
  Outcome run_step(const ScriptStep& step, bool may_wait, std::string& error);
  // The verbs' handlers.
  Outcome run_expect(StepRun& run);
  Outcome run_wait(StepRun& run);
  Outcome run_answer(StepRun& run);
  Outcome run_choose(StepRun& run);
  Outcome run_screenshot(StepRun& run);
  Outcome run_device(StepRun& run);
  Outcome run_fits(StepRun& run);
  Outcome run_logoff(StepRun& run);
  Outcome run_key(StepRun& run);
  Outcome run_menu(StepRun& run);
  Outcome run_click(StepRun& run);  // click, rclick, dblclick
  Outcome run_move(StepRun& run);
  Outcome run_tick(StepRun& run);  // tick, untick
  Outcome run_select(StepRun& run);
  Outcome run_expand(StepRun& run);
  Outcome run_type(StepRun& run);
  Outcome step_once(bool may_wait);
  [[noreturn]] void fail(const std::string& message);
  void log(const std::string& line);

  Script script_;
  DriverOptions options_;
  size_t next_ = 0;
  std::string last_error_;  // why the current step is still waiting
  uint64_t waiting_since_ = UINT64_MAX;  // virtual time the current step began waiting
  uint64_t wait_until_ = 0;              // `wait MS`: its end
  bool wait_started_ = false;
  int tree_tick_clicks_ = 0;  // clicks the current tree tick or untick has made
  size_t progress_below_step_ = SIZE_MAX;  // the expect progress step that saw its bar below
  std::vector<std::string> log_lines_;
};

// The move of a script's tick (want true) or untick of a tree item: nothing
// when the item's state image already means so (SetTreeTickImages), else one
// click on its box. `clicks` counts the clicks of consecutive ticks that have
// not reached the wanted image; more than kMaxTreeTickClicks of them fail.
enum class TreeTick { Done, Click, Failed };
constexpr int kMaxTreeTickClicks = 4;
TreeTick NextTreeTick(const TreeViewModel& tree, const TreeNode& item, bool want, int& clicks, std::string& error);

// Sends WM_DEVICECHANGE to every top-level window (posted, in z-order).
void BroadcastDeviceChange(UINT event, LPARAM data);

// Told of each window's answer to a dispatched WM_QUERYENDSESSION (the
// driver logs them); null stops it.
void SetEndSessionObserver(std::function<void(HWND window, LRESULT answer)> observer);

// Installs a driver for the time it lives, with the platform clock in
// virtual mode; restores the default backend afterwards.
class HeadlessSession {
 public:
  HeadlessSession(Script script, DriverOptions options);
  ~HeadlessSession();
  HeadlessDriver& driver() { return *driver_; }

 private:
  std::unique_ptr<HeadlessDriver> driver_;
};

}  // namespace platform::ui
