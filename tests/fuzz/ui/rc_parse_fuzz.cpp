// Resource scripts from arbitrary bytes: the compiler must answer with a
// result (tables or an error naming file and line), never crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/rc/rc_compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  rc::ResourceFile out;
  rc::Error error;
  // Named files resolve next to this (missing) script, so pictures are not found.
  if (rc::ParseText(text, "/nonexistent/fuzz.rc", {}, out, error)) {
    std::string code = rc::EmitCpp(out, "fuzz");
    if (code.empty()) __builtin_trap();
  } else if (error.what.empty()) {
    __builtin_trap();  // every refusal says why
  }
  return 0;
}
