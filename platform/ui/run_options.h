// Options every program's main takes for its user interface:
//   --ui headless|qt|auto     how to run (auto: the Qt view when a display exists; "view" = qt)
//   --script FILE             headless script
//   --log FILE                where dialogs and message boxes are logged, headless or in the
//                             Qt view (without it: standard error headless, nowhere in the view)
//   --screenshots DIR         where `screenshot` writes (made when missing)
//   --help, -h                asks for the usage text
//   --                        ends the options: every argument after it is the program's, as it stands
// Other arguments not starting with "--" are left for the program, in order;
// an unknown "--" option is an error. A script runs headless, so --script
// cannot go with --ui qt.
#pragma once

#include <string>
#include <vector>

namespace platform::ui {

enum class UiMode { Auto, Headless, View };

struct RunOptions {
  UiMode mode = UiMode::Auto;
  std::string script_path;
  std::string log_path;
  std::string screenshots_dir;
  std::vector<std::string> program_args;  // what the program's own command line holds

  // The mode after Auto is resolved (headless without a display or with a script).
  UiMode effective_mode() const;
};

struct RunOptionsResult {
  bool ok = false;
  bool help = false;  // --help or -h: print the usage and do nothing else
  std::string error;
  RunOptions options;
};

RunOptionsResult ParseRunOptions(int argc, const char* const* argv);

// The lines that describe the options above, for a program's usage text.
extern const char* const kRunOptionsUsage;

}  // namespace platform::ui
