// Helpers for the window-framework tests: run code under the headless
// driver with a script, and collect what happened.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ui/headless_driver.h"
#include "platform/ui/message_queue.h"

namespace ui_test {

struct ScriptedRun {
  std::string failure;               // empty when the script ran to its end
  std::vector<std::string> log;      // the driver's log lines
};

// Runs `body` (which opens dialogs) with `script` answering them.
inline ScriptedRun RunScripted(platform::ui::Script script, const std::function<void()>& body,
                               uint64_t budget_ms = 60000) {
  ScriptedRun run;
  std::ostringstream sink;
  platform::ui::DriverOptions options;
  options.log = &sink;
  options.wait_budget_ms = budget_ms;
  options.real_grace_ms = 0;
  platform::ui::HeadlessSession session(std::move(script), options);
  try {
    body();
    if (!session.driver().finished())
      run.failure = "script stopped after " + std::to_string(session.driver().steps_done()) + " steps";
  } catch (const platform::ui::ScriptFailure& f) {
    run.failure = f.what();
  } catch (const platform::ui::StalledLoop& s) {
    run.failure = s.message;
  }
  run.log = session.driver().log_lines();
  return run;
}

// Drains a thread's queue the way the programs' pump does.
inline void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!platform::ui::PreTranslate(msg, nullptr)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace ui_test
