// Headless scripts from arbitrary bytes: parsing gives steps or an error
// naming the line, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ui/headless_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  platform::ui::Script script;
  auto result = script.parse(text, "fuzz.script");
  if (!result.ok && result.error.find("fuzz.script:") != 0) __builtin_trap();
  for (const auto& step : script.steps)
    if (step.verb.empty() || step.line <= 0) __builtin_trap();
  return 0;
}
