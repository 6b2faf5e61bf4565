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
    // Names that were accepted are short, upper-case and not numbers; named
    // resources have no id.
    auto check = [](const std::u16string& name, int id) {
      if (name.empty()) return;
      if (id != 0 || name.size() > rc::kMaxNameLength || name[0] == u'#') __builtin_trap();
      for (char16_t c : name)
        if ((c >= u'a' && c <= u'z') || c == 0) __builtin_trap();
    };
    for (const auto& d : out.dialogs) check(d.name, d.id);
    for (const auto& m : out.menus) check(m.name, m.id);
    for (const auto& b : out.binaries) check(b.name, b.id);
  } else if (error.what.empty()) {
    __builtin_trap();  // every refusal says why
  }
  return 0;
}
