// Parsing of long-name runs in directory bytes, including damaged runs: a run
// the parser cannot trust leaves the short name standing alone.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/fs/fat/dir_entry.h"

using namespace platform::fs::fat;

namespace {

DirEntryDisk short_entry(const char* name11) {
  DirEntryDisk d{};
  std::memcpy(d.name, name11, 11);
  d.attributes = kAttrArchive;
  return d;
}

// Slots for "A long file name.txt" (two long pieces) followed by its short entry.
std::vector<uint8_t> two_piece_name() {
  return BuildEntrySlots(u"A long file name.txt", true, short_entry("ALONGF~1TXT"));
}

TEST(DirEntryParse, LongNameRuns) {
  struct Row {
    const char* fault;
    void (*damage)(std::vector<uint8_t>&);
    const char16_t* long_name;  // expected; empty when the run is ignored
  } rows[] = {
      {"sound run", [](std::vector<uint8_t>&) {}, u"A long file name.txt"},
      {"wrong checksum in one piece", [](std::vector<uint8_t>& b) { b[32 + 13] ^= 1; }, u""},
      {"missing last-piece flag", [](std::vector<uint8_t>& b) { b[0] &= ~kLastLongEntry; }, u""},
      {"pieces out of order", [](std::vector<uint8_t>& b) { b[32] = 3; }, u""},
      {"a piece numbered 0 after the run",
       [](std::vector<uint8_t>& b) {
         // Insert an extra long-name slot with order 0 between the run and the short entry.
         std::vector<uint8_t> extra(b.begin() + 32, b.begin() + 64);
         extra[0] = 0x20;  // order bits 0, no last-piece flag
         b.insert(b.begin() + 64, extra.begin(), extra.end());
       },
       u""},
      {"a deleted piece", [](std::vector<uint8_t>& b) { b[32] = kDeletedMark; }, u""},
      {"short name changed under the run", [](std::vector<uint8_t>& b) { b[64] = 'B'; }, u""},
      {"order beyond 20 pieces", [](std::vector<uint8_t>& b) { b[0] = kLastLongEntry | 31; }, u""},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(r.fault);
    std::vector<uint8_t> b = two_piece_name();
    ASSERT_EQ(b.size(), 3 * kEntrySize);
    r.damage(b);
    b.resize(b.size() + kEntrySize, 0);  // end marker
    ParsedDirectory dir = ParseDirectory(b.data(), b.size() / kEntrySize, true);
    ASSERT_EQ(dir.entries.size(), 1u);
    EXPECT_EQ(dir.entries[0].long_name, r.long_name);
    EXPECT_EQ(dir.entries[0].short_slot, b.size() / kEntrySize - 2);
    if (dir.entries[0].long_name.empty()) {
      EXPECT_EQ(dir.entries[0].first_slot, dir.entries[0].short_slot);
    } else {
      EXPECT_EQ(dir.entries[0].first_slot, 0u);
    }
  }
}

TEST(DirEntryParse, PieceBoundariesAndFreeSlots) {
  // Names of 12, 13, 14, 26 and 255 units: the 13-unit pieces end with a NUL
  // and 0xFFFF padding only when the name does not fill the last piece.
  for (size_t length : {12u, 13u, 14u, 26u, 255u}) {
    SCOPED_TRACE(length);
    std::u16string name(length, u'n');
    std::vector<uint8_t> b(kEntrySize, 0);
    b[0] = kDeletedMark;  // one deleted slot first
    std::vector<uint8_t> slots = BuildEntrySlots(name, true, short_entry("NNNNNN~1   "));
    EXPECT_EQ(slots.size() / kEntrySize, (length + 12) / 13 + 1);
    b.insert(b.end(), slots.begin(), slots.end());
    b.resize(b.size() + 3 * kEntrySize, 0);
    ParsedDirectory dir = ParseDirectory(b.data(), b.size() / kEntrySize, false);
    ASSERT_EQ(dir.entries.size(), 1u);
    EXPECT_EQ(dir.entries[0].long_name, name);
    EXPECT_EQ(dir.entries[0].first_slot, 1u);
    size_t end = 1 + slots.size() / kEntrySize;
    EXPECT_EQ(dir.end_slot, end);
    // Free: the deleted slot and everything from the end marker on.
    EXPECT_EQ(dir.free_slots[0], 1);
    for (size_t i = 1; i < end; ++i) EXPECT_EQ(dir.free_slots[i], 0) << i;
    for (size_t i = end; i < dir.free_slots.size(); ++i) EXPECT_EQ(dir.free_slots[i], 1) << i;
  }
}

}  // namespace
