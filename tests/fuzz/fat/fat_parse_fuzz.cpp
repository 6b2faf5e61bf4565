// Directory bytes and names straight from the input: parsing never reads
// outside the buffer, and every long name the parser accepts survives being
// written out again as entries (with a generated short name) and parsed back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/fs/fat/dir_entry.h"
#include "platform/fs/fat/short_name.h"

using namespace platform::fs::fat;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t slots = size / kEntrySize;
  if (slots == 0) return 0;
  ParsedDirectory dir = ParseDirectory(data, slots, size % 2 == 0);
  if (dir.free_slots.size() != slots || dir.end_slot > slots) abort();
  std::set<ShortName> taken;
  for (const DirectoryEntry& e : dir.entries) {
    if (e.first_slot > e.short_slot || e.short_slot >= slots) abort();
    ShortNameText(e.short_name, e.disk.case_flags);
    taken.insert(e.short_name);
    if (e.long_name.empty()) continue;
    NamePlan plan = PlanName(e.long_name);
    ShortName sn = plan.short_name;
    if (plan.needs_long_entries &&
        !GenerateShortName(e.long_name, [&](const ShortName& s) { return taken.count(s) > 0; }, &sn))
      continue;
    DirEntryDisk d{};
    std::memcpy(d.name, sn.data(), 11);
    std::vector<uint8_t> again = BuildEntrySlots(e.long_name, true, d);
    ParsedDirectory back = ParseDirectory(again.data(), again.size() / kEntrySize, true);
    if (back.entries.size() != 1 || back.entries[0].long_name != e.long_name) abort();
  }
  return 0;
}
