#include "platform/ui/app_runner.h"

#include <fstream>
#include <iostream>

#include "platform/ui/device_events.h"
#include "platform/ui/headless_driver.h"

namespace platform::ui {

namespace {
ViewRunner& view_runner() {
  static ViewRunner* r = new ViewRunner;
  return *r;
}
}  // namespace

void set_view_runner(ViewRunner runner) { view_runner() = std::move(runner); }

int RunWithOptions(CWinApp& app, const RunOptions& options) {
  ConnectDeviceNotifications();
  if (options.effective_mode() == UiMode::View && view_runner()) return view_runner()(app, options);
  Script script;
  if (!options.script_path.empty()) {
    auto loaded = script.load(options.script_path);
    if (!loaded.ok) {
      std::cerr << loaded.error << "\n";
      return kExitBadScript;
    }
  }
  std::ofstream log_file;
  DriverOptions driver;
  if (!options.log_path.empty()) {
    log_file.open(options.log_path, std::ios::app);
    if (!log_file) {
      std::cerr << "cannot write the log " << options.log_path << "\n";
      return kExitBadScript;
    }
    driver.log = &log_file;
  }
  driver.screenshots_dir = options.screenshots_dir;
  HeadlessSession session(std::move(script), driver);
  try {
    return RunApplication(app);
  } catch (const ScriptFailure& failure) {
    // The driver logged the failure already.
    if (driver.log) std::cerr << "script failed: " << failure.what() << "\n";
    return kExitScriptFailed;
  } catch (const StalledLoop& stalled) {
    std::ostream& out = driver.log ? *driver.log : std::cerr;
    out << "stuck: " << stalled.message << "\n";
    return kExitScriptFailed;
  }
}

}  // namespace platform::ui
