#include "tests/support/headless_run.h"

#include <sstream>

#include "platform/core/process_exit.h"

namespace test_support {

HeadlessRun RunHeadless(const platform::ui::Script& script, const std::function<void()>& body) {
  return RunHeadless(script, body, {});
}

HeadlessRun RunHeadless(const platform::ui::Script& script, const std::function<void()>& body,
                        const std::function<void(platform::ui::DriverOptions&)>& configure) {
  HeadlessRun run;
  std::ostringstream log;
  platform::ui::DriverOptions options;
  options.log = &log;
  options.real_grace_ms = 2000;
  if (configure) configure(options);
  {
    platform::ui::HeadlessSession session(script, options);
    platform::ScopedExitTrap trap;
    try {
      body();
    } catch (const platform::ProcessExit& e) {
      run.exited = true;
      run.exit_code = e.code;
    } catch (const platform::ui::ScriptFailure& e) {
      run.failure = e.what();
    }
    if (run.failure.empty() && !session.driver().finished()) run.failure = "script not finished";
  }
  run.log = log.str();
  return run;
}

std::string FailureReport(const HeadlessRun& run) {
  std::string failure = run.failure;
  if (run.exited) failure = "the code ended the process with " + std::to_string(run.exit_code);
  return failure.empty() ? "" : failure + "\n" + run.log;
}

}  // namespace test_support
