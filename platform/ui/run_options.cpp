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
    if (arg == "--ui") {
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
    } else {
      r.options.program_args.push_back(arg);
    }
  }
  r.ok = true;
  return r;
}

}  // namespace platform::ui
