#include "platform/ui/run_options.h"

#include <cstdlib>

namespace platform::ui {

UiMode RunOptions::effective_mode() const {
  if (mode != UiMode::Auto) return mode;
  if (!script_path.empty()) return UiMode::Headless;
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  bool has_display = (display && *display) || (wayland && *wayland);
  return has_display ? UiMode::View : UiMode::Headless;
}

RunOptionsResult ParseRunOptions(int argc, const char* const* argv) {
  RunOptionsResult r;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    auto value = [&](const std::string& name, std::string& out) {
      if (i + 1 >= argc || !argv[i + 1]) {
        r.error = name + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    if (arg == "--") {
      for (++i; i < argc; ++i) r.options.program_args.push_back(argv[i] ? argv[i] : "");
      break;
    }
    if (arg == "--help" || arg == "-h") {
      r.help = true;
    } else if (arg == "--ui") {
      std::string mode;
      if (!value(arg, mode)) return r;
      if (mode == "headless") r.options.mode = UiMode::Headless;
      else if (mode == "view" || mode == "qt") r.options.mode = UiMode::View;
      else if (mode == "auto") r.options.mode = UiMode::Auto;
      else {
        r.error = "--ui takes headless, qt (or view) or auto, not '" + mode + "'";
        return r;
      }
    } else if (arg == "--script") {
      if (!value(arg, r.options.script_path)) return r;
    } else if (arg == "--log") {
      if (!value(arg, r.options.log_path)) return r;
    } else if (arg == "--screenshots") {
      if (!value(arg, r.options.screenshots_dir)) return r;
    } else if (arg.rfind("--", 0) == 0) {
      r.error = "unknown option " + arg + " (program arguments go after --)";
      return r;
    } else {
      r.options.program_args.push_back(arg);
    }
  }
  if (r.options.mode == UiMode::View && !r.options.script_path.empty()) {
    r.error = "--script runs headless and cannot go with --ui qt";
    return r;
  }
  r.ok = true;
  return r;
}

const char* const kRunOptionsUsage =
    "  --ui headless|qt|auto  how to run: headless (scripted), qt (windows), auto (qt when a display exists)\n"
    "  --script FILE          run headless, driven by the steps of FILE\n"
    "  --log FILE             where dialogs, message boxes and script steps are logged, in either view\n"
    "                         (headless without it: standard error)\n"
    "  --screenshots DIR      where the script's screenshots go (made when missing)\n"
    "  --help                 this text\n"
    "  -- ARGS                the program's own command line, as it stands\n";

}  // namespace platform::ui
