#include "platform/fs/fat/dir_entry.h"

#include <algorithm>
#include <cstring>

namespace platform::fs::fat {

namespace {

void long_chars(const LongNameEntryDisk& e, char16_t* out) {
  for (int i = 0; i < 5; ++i) out[i] = char16_t(e.name1[i]);
  for (int i = 0; i < 6; ++i) out[5 + i] = char16_t(e.name2[i]);
  for (int i = 0; i < 2; ++i) out[11 + i] = char16_t(e.name3[i]);
}

}  // namespace

std::u16string DirectoryEntry::name() const {
  if (!long_name.empty()) return long_name;
  return ShortNameText(short_name, disk.case_flags);
}

ParsedDirectory ParseDirectory(const uint8_t* bytes, size_t slot_count, bool fat32) {
  ParsedDirectory dir;
  dir.free_slots.assign(slot_count, 0);
  dir.end_slot = slot_count;

  // A long-name run being collected: its checksum, expected next order and text.
  bool collecting = false;
  size_t run_start = 0;
  unsigned expected = 0;
  uint8_t checksum = 0;
  std::u16string pieces[20];
  unsigned run_count = 0;

  for (size_t i = 0; i < slot_count; ++i) {
    const uint8_t* slot = bytes + i * kEntrySize;
    if (slot[0] == 0) {
      dir.end_slot = i;
      for (size_t k = i; k < slot_count; ++k) dir.free_slots[k] = 1;
      break;
    }
    if (slot[0] == kDeletedMark) {
      dir.free_slots[i] = 1;
      collecting = false;
      continue;
    }
    if ((slot[11] & 0x3F) == kAttrLongName) {
      LongNameEntryDisk e;
      std::memcpy(&e, slot, sizeof e);
      unsigned order = e.order & 0x1F;
      if (e.order & kLastLongEntry) {
        collecting = order >= 1 && order <= 20;
        if (collecting) {
          run_start = i;
          run_count = order;
          expected = order;
          checksum = e.checksum;
          for (auto& p : pieces) p.clear();
        }
      } else if (!collecting || order == 0 || order != expected || e.checksum != checksum) {
        collecting = false;
      }
      if (collecting) {
        char16_t chars[kCharsPerLongEntry];
        long_chars(e, chars);
        pieces[order - 1].assign(chars, kCharsPerLongEntry);
        expected = order - 1;
      }
      continue;
    }
    DirectoryEntry entry;
    std::memcpy(&entry.disk, slot, sizeof entry.disk);
    if (!fat32) entry.disk.cluster_high = 0;
    std::memcpy(entry.short_name.data(), slot, 11);
    entry.plain_short = entry.short_name[0] != 0x05 &&
                        std::none_of(entry.short_name.begin(), entry.short_name.end(),
                                     [](uint8_t b) { return b >= 0x80 || (b >= 'a' && b <= 'z'); });
    entry.short_slot = i;
    entry.first_slot = i;
    if (collecting && expected == 0 && ShortNameChecksum(entry.short_name) == checksum &&
        !(entry.disk.attributes & kAttrVolumeLabel)) {
      std::u16string name;
      for (unsigned k = 0; k < run_count; ++k) name += pieces[k];
      size_t nul = name.find(u'\0');
      if (nul != std::u16string::npos) name.resize(nul);
      if (IsValidLongName(name)) {
        entry.long_name = name;
        entry.first_slot = run_start;
      }
    }
    collecting = false;
    dir.entries.push_back(std::move(entry));
  }
  return dir;
}

std::vector<uint8_t> BuildEntrySlots(const std::u16string& long_name, bool with_long_entries,
                                     const DirEntryDisk& short_entry) {
  std::vector<uint8_t> out;
  if (with_long_entries) {
    size_t count = (long_name.size() + kCharsPerLongEntry - 1) / kCharsPerLongEntry;
    ShortName sn;
    std::memcpy(sn.data(), short_entry.name, 11);
    uint8_t sum = ShortNameChecksum(sn);
    out.resize(count * kEntrySize);
    for (size_t n = count; n >= 1; --n) {
      LongNameEntryDisk e{};
      e.order = uint8_t(n | (n == count ? kLastLongEntry : 0));
      e.attributes = kAttrLongName;
      e.checksum = sum;
      char16_t chars[kCharsPerLongEntry];
      for (size_t k = 0; k < kCharsPerLongEntry; ++k) {
        size_t at = (n - 1) * kCharsPerLongEntry + k;
        chars[k] = at < long_name.size() ? long_name[at] : (at == long_name.size() ? u'\0' : char16_t(0xFFFF));
      }
      for (int k = 0; k < 5; ++k) e.name1[k] = chars[k];
      for (int k = 0; k < 6; ++k) e.name2[k] = chars[5 + k];
      for (int k = 0; k < 2; ++k) e.name3[k] = chars[11 + k];
      std::memcpy(&out[(count - n) * kEntrySize], &e, sizeof e);
    }
  }
  size_t at = out.size();
  out.resize(at + kEntrySize);
  std::memcpy(&out[at], &short_entry, sizeof short_entry);
  return out;
}

}  // namespace platform::fs::fat
