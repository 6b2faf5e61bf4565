// Name lookups against short names as other systems leave them: upper-case
// ASCII (compared byte for byte), raw lower-case bytes, OEM bytes beyond
// ASCII and the 0x05 lead byte standing for 0xE5. Slots are written by hand
// into the root folder of an image made by mkfs.fat.
#include <gtest/gtest.h>

#include <cstring>

#include "fat_fixture.h"
#include "platform/core/error.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"

using namespace fat_test;
using platform::fs::FileInfo;

namespace {

// Writes short entries (no long names) into the first free root slots of a FAT16 volume.
void WriteRootEntries(FatImage& image, const std::vector<std::string>& raw_names) {
  auto device = image.device();
  uint8_t boot[512];
  ASSERT_TRUE(device->read_at(0, boot, sizeof boot));
  uint64_t bps = platform::ReadLe16(boot + 11), reserved = platform::ReadLe16(boot + 14), fats = boot[16],
           fat_size = platform::ReadLe16(boot + 22);
  uint64_t root = (reserved + fats * fat_size) * bps;
  size_t slot = 0;
  for (const std::string& raw : raw_names) {
    ASSERT_EQ(raw.size(), 11u);
    uint8_t entry[32];
    for (;; ++slot) {
      ASSERT_LT(slot, 512u);
      ASSERT_TRUE(device->read_at(root + slot * 32, entry, 32));
      if (entry[0] == 0 || entry[0] == 0xE5) break;
    }
    std::memset(entry, 0, sizeof entry);
    std::memcpy(entry, raw.data(), 11);
    entry[11] = 0x20;  // archive
    ASSERT_TRUE(device->write_at(root + slot * 32, entry, 32));
    ++slot;
  }
}

TEST(FatLookup, ShortNamesOfEveryKindAreFoundCaseInsensitively) {
  FatImage image(16, 512, 16 * 1024);
  ASSERT_TRUE(image.ok());
  WriteRootEntries(image, {"PLAIN   TXT", "lower   txt", "Mixed   Doc", "\x81NAME   TXT", "\x05"
                                                                                     "BC     TXT",
                           "NOEXT      ", "A-B_1~2 $$$"});
  DWORD error = 0;
  auto driver = image.mount(&error);
  ASSERT_TRUE(driver) << error;

  struct Row {
    const char16_t* query;
    bool found;
  } rows[] = {
      {u"PLAIN.TXT", true},  {u"plain.txt", true},   {u"Plain.Txt", true},  {u"PLAIN.TX", false},
      {u"PLAIN", false},     {u"PLAINX.TXT", false}, {u"lower.txt", true},  {u"LOWER.TXT", true},
      {u"mixed.doc", true},  {u"MIXED.DOC", true},   {u"noext", true},     
      {u"a-b_1~2.$$$", true}, {u"A-B_1~2.$$", false}, {u"missing.txt", false},
  };
  for (const Row& r : rows) {
    FileInfo info;
    DWORD e = driver->stat({r.query}, &info);
    EXPECT_EQ(e, r.found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND) << platform::to_utf8(r.query);
  }

  // Every listed name, OEM ones included, is found again by its own text in
  // either case, and names the same entry.
  std::vector<FileInfo> listed;
  ASSERT_EQ(driver->list({}, &listed), ERROR_SUCCESS);
  ASSERT_EQ(listed.size(), 7u);
  for (const FileInfo& entry : listed) {
    std::u16string upper = entry.name, lower = entry.name;
    for (auto& c : upper)
      if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
    for (auto& c : lower)
      if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    for (const std::u16string& name : {entry.name, upper, lower}) {
      FileInfo info;
      ASSERT_EQ(driver->stat({name}, &info), ERROR_SUCCESS) << platform::to_utf8(name);
      EXPECT_EQ(info.file_id, entry.file_id) << platform::to_utf8(name);
    }
  }
}

}  // namespace
