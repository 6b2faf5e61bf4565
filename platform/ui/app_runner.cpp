#include "platform/ui/app_runner.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "platform/core/process_exit.h"

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

bool OpenRunLog(const RunOptions& options, std::ofstream& file, std::string* error) {
  if (options.log_path.empty()) return true;
  file.open(options.log_path, std::ios::app);
  if (file) return true;
  if (error) *error = "cannot write the log " + options.log_path;
  return false;
}

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
  std::string log_error;
  if (!OpenRunLog(options, log_file, &log_error)) {
    std::cerr << log_error << "\n";
    return kExitBadScript;
  }
  DriverOptions driver;
  if (log_file.is_open()) driver.log = &log_file;
  driver.screenshots_dir = options.screenshots_dir;
  if (!options.screenshots_dir.empty()) {
    std::error_code made;
    std::filesystem::create_directories(options.screenshots_dir, made);
    if (made) {
      std::cerr << "cannot make the pictures folder " << options.screenshots_dir << ": " << made.message() << "\n";
      return kExitBadScript;
    }
  }
  HeadlessSession session(std::move(script), driver);
  // A program that ends before its script is done has not done what the
  // script asked: that is a failure, whichever way the program ends.
  std::ostream& report = driver.log ? *driver.log : std::cerr;
  auto unfinished = [&]() -> bool {
    if (session.driver().finished()) return false;
    report << "script failed: the program ended before " << session.driver().next_step() << "\n";
    if (driver.log) std::cerr << "script failed: the program ended before " << session.driver().next_step() << "\n";
    return true;
  };
  struct RestoreHook {
    platform::ExitHook previous;
    ~RestoreHook() { platform::SetExitHook(std::move(previous)); }
  } restore_hook;
  restore_hook.previous = platform::SetExitHook([&](int code) {
    if (unfinished()) code = kExitScriptFailed;
    if (restore_hook.previous) restore_hook.previous(code);
    report.flush();
    std::fflush(nullptr);
    std::_Exit(code);
  });
  try {
    const int code = RunApplication(app);
    return unfinished() ? kExitScriptFailed : code;
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
