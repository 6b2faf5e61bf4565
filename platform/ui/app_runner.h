// Runs a program's application object as its main() asks: parses nothing
// itself (see run_options.h), sets up the headless driver or the view, and
// turns a failed script or a stuck loop into an exit status.
//
//   int main(int argc, char** argv) {
//     auto parsed = platform::ui::ParseRunOptions(argc, argv);
//     if (!parsed.ok) { fprintf(stderr, "%s\n", parsed.error.c_str()); return 2; }
//     return platform::ui::RunWithOptions(theApp, parsed.options);
//   }
#pragma once

#include <fstream>
#include <functional>
#include <string>

#include "platform/ui/cwnd.h"
#include "platform/ui/run_options.h"

namespace platform::ui {

// Exit statuses besides the application's own.
constexpr int kExitBadScript = 2;     // the script could not be read or parsed, or the log not written
constexpr int kExitScriptFailed = 3;  // a step failed, or a loop waited for input forever

// Headless: loads the script, logs to the log file (or standard error),
// runs the application, and returns its exit code or one of the above.
// View: runs the installed view runner (the Qt view); without one, headless.
int RunWithOptions(CWinApp& app, const RunOptions& options);

// Opens the --log file for appending into `file`; true without one (the file
// stays closed). False with the reason when it cannot be written.
bool OpenRunLog(const RunOptions& options, std::ofstream& file, std::string* error);

// The view installs itself here at start-up.
using ViewRunner = std::function<int(CWinApp&, const RunOptions&)>;
void set_view_runner(ViewRunner runner);

}  // namespace platform::ui
