// machine.ini from untrusted bytes: every text the parser accepts is written
// out again, and what was written must read back to the same machine, and
// write to the same text (the writer is what simpc and the programs use to
// rewrite the file, so a difference loses or changes a user's setting).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/machine/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace platform::machine;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto config = ParseMachineIni(text, &error);
  if (!config) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  std::string written = FormatMachineIni(*config);
  auto back = ParseMachineIni(written, &error);
  if (!back || !(*back == *config)) std::abort();
  if (FormatMachineIni(*back) != written) std::abort();
  // Setting a listed disk's flag keeps the file readable and changes that flag only.
  for (auto& d : config->disks) {
    std::string edited = SetDiskIniValue(text, d.number, "attached", d.attached ? "no" : "yes");
    auto after = ParseMachineIni(edited, &error);
    if (!after) std::abort();
    DiskConfig* changed = after->find_disk(d.number);
    if (!changed || changed->attached == d.attached) std::abort();
    changed->attached = d.attached;
    if (!(*after == *config)) std::abort();
    break;
  }
  return 0;
}
