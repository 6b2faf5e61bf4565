// Yarv's settings files from untrusted bytes, read as the program reads them
// at start-up on a throw-away machine whose T: is a host folder: the input is
// both the default options (defconfig.cit) and a backup template (*.xqy),
// INI texts whose values go through the password decoder and the template
// source parser. Names stay within their caps, sources within the table's,
// and every source's link points forward inside the table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "restore/yarv_settings.h"
#include "restore/yarv_state.h"
#include "tests/fuzz/restore/host_folder_pc.h"

namespace {

std::string host_folder;

bool Prepare() { return fuzz_support::OpenHostFolderPc("yarv_settings_fuzz", host_folder); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Prepare();
  if (!ready) std::abort();
  for (const char* name : {"/defconfig.cit", "/fuzz.xqy"})
    std::ofstream(host_folder + name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  TemplatesFolder = u"T:";
  ReadDefaultConfig();
  ScanTemplates();
  if (Templates.empty() || Templates.size() > static_cast<size_t>(kMaxTemplates) + 1) std::abort();
  if (TemplateSourceTable.empty() || TemplateSourceTable.size() > static_cast<size_t>(kMaxTemplateSources) + 1)
    std::abort();
  for (const TemplateRecord& t : Templates)
    if (t.name.size() > 63 || t.description.size() > 511 || t.destination.size() > 519) std::abort();
  for (size_t i = 1; i < TemplateSourceTable.size(); ++i) {
    const int32_t next = TemplateSourceTable[i].next;
    if (next != 0 && (next <= static_cast<int32_t>(i) || next >= static_cast<int32_t>(TemplateSourceTable.size())))
      std::abort();
  }
  return 0;
}
