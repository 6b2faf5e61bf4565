// Program code run under the headless driver: a script plays the user while
// `body` (a DoModal, a start-up, a check that shows boxes) runs, with the
// process-exit hook trapped so code that ends the process ends the run.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/headless_driver.h"

namespace test_support {

// What a headless run of program code under a script came to.
struct HeadlessRun {
  std::string failure;  // the script's failure, "script not finished", or empty
  std::string log;      // the driver's log
  bool exited = false;  // the code ended the process (ExitProcess and the like)
  int exit_code = -1;
};

// Runs `body` under the headless driver playing `script` (2 s grace for real waits).
HeadlessRun RunHeadless(const platform::ui::Script& script, const std::function<void()>& body);
// The same with the driver's options adjusted first (such as the device hook
// or a screenshots folder).
HeadlessRun RunHeadless(const platform::ui::Script& script, const std::function<void()>& body,
                        const std::function<void(platform::ui::DriverOptions&)>& configure);

// What a test reports of a run: "" when the script ran to its end, else the
// failure (or the process exit) followed by the driver's log.
std::string FailureReport(const HeadlessRun& run);

}  // namespace test_support
