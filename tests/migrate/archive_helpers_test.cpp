// The backup product's helpers: the log record's 523-byte layout read back
// with od (an independent reader of the bytes), texts cut at 128 characters
// and never written past their fields, the hex form checked against xxd,
// the field and name helpers with negative and out-of-range indexes, and the
// partition-active test against an MBR written by sfdisk.
#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "disk/fixture_images.h"
#include "program_support/language_table.h"
#include "fixture_migrate_pc.h"
#include "mainapp/migrate/archive_helpers.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"

namespace {

using disk_fixture::Shell;
using migrate_fixture::MigratePc;

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }

TEST(ArchiveHelpers, LogRecordsAre523BytesWithTextsCutAtTheirFields) {
  MigratePc w;
  LogFolder = u"P:";
  const std::u16string longText(200, u'x');
  ASSERT_TRUE(WriteBackupLogRecord(7, 9, u"short", CString(longText)));
  ASSERT_TRUE(WriteBackupLogRecord(1, 2, CString(std::u16string(128, u'y')), u""));
  const std::string log = w.pc.folder() + "/program/yarv.log";
  std::string out;
  Shell("stat -c %s '" + log + "'", &out);
  EXPECT_EQ(std::stoi(out), 2 * 523);
  // Codes, reserved byte and the first text, read by od.
  Shell("od -An -tu1 -N3 '" + log + "'", &out);
  EXPECT_NE(out.find("7   9   0"), std::string::npos) << out;
  Shell("dd if='" + log + "' bs=1 skip=11 count=12 2>/dev/null | iconv -f UTF-16LE -t UTF-8", &out);
  EXPECT_EQ(out, std::string("short") + std::string(1, '\0')) << "the text and its terminator";
  // The 200-character text fills its 256 bytes and stops there: the next
  // record starts with its own codes.
  Shell("dd if='" + log + "' bs=1 skip=267 count=256 2>/dev/null | iconv -f UTF-16LE -t UTF-8", &out);
  EXPECT_EQ(out, std::string(128, 'x'));
  Shell("od -An -tu1 -j523 -N2 '" + log + "'", &out);
  EXPECT_NE(out.find("1   2"), std::string::npos) << out;
  // The time is the writing time, little-endian seconds.
  std::ifstream in(log, std::ios::binary);
  BackupLogRecordDisk disk{};
  in.read(reinterpret_cast<char*>(&disk), sizeof disk);
  const BackupLogRecord back = DecodeLogRecord(disk);
  EXPECT_EQ(back.time, CurrentLogRecord.time);
  EXPECT_EQ(Utf8(back.text2), std::string(128, 'x'));
  // No folder: the record is not written and nothing else happens.
  LogFolder = u"Q:\\missing";
  EXPECT_FALSE(WriteBackupLogRecord(1, 1, u"a", u"b"));
  LogFolder.Empty();
}

TEST(ArchiveHelpers, HexAndTextFields) {
  std::array<uint8_t, 32> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 5);
  std::string raw(bytes.begin(), bytes.end());
  std::string hex;
  Shell("printf '" + [&] {
          std::string escaped;
          char b[8];
          for (uint8_t c : bytes) {
            std::snprintf(b, sizeof b, "\\%03o", c);
            escaped += b;
          }
          return escaped;
        }() + "' | xxd -p -c 64",
        &hex);
  EXPECT_EQ(Utf8(BytesToHex(bytes)) + "\n", hex);

  struct Field {
    const char16_t* text;
    int n;
    const char* expected;
  } fields[] = {{u"a?bb?ccc", 1, "a"}, {u"a?bb?ccc", 2, "bb"}, {u"a?bb?ccc", 3, "ccc"}, {u"a?bb?ccc", 4, ""},
                {u"a?bb?ccc", 0, ""},  {u"a?bb?ccc", -3, ""},  {u"", 1, ""},          {u"solo", 1, "solo"}};
  for (const Field& f : fields) EXPECT_EQ(Utf8(NthQuestionField(f.text, f.n)), f.expected) << f.n;
  EXPECT_EQ(Utf8(TextBeforeDot(u"image.v2.tib")), "image");
  EXPECT_EQ(Utf8(TextBeforeDot(u"nodot")), "");
  EXPECT_EQ(Utf8(StemLessOne(u"name1.tib")), "name");
  EXPECT_EQ(Utf8(StemLessOne(u".tib")), "");
  EXPECT_EQ(Utf8(ArchiveNameOfVolume(u"vol01Backup_2.tib")), "Backup");
  EXPECT_EQ(Utf8(ArchiveNameOfVolume(u"vol0")), "");
  EXPECT_EQ(Utf8(ArchiveNameOfVolume(u"vol01Backup")), "");
  EXPECT_EQ(Utf8(TrimmedText(u"  a b \t")), "a b");
  uint8_t low[4] = {9, 9, 9, 9};
  EXPECT_EQ(WideLowBytes(u"A\u0142BCDEF", low, 3), 3u);
  EXPECT_EQ(low[0], 'A');
  EXPECT_EQ(low[1], 0x42);
  EXPECT_EQ(low[3], 9) << "nothing past the buffer";
  struct Fs {
    int code;
    const char* name;
  } names[] = {{7, "NTFS(7)"}, {-1, "RAW(-1)"}, {12, "FAT32(12)"}, {6, "FAT16(6)"}, {131, "LINUX(131)"}};
  for (const Fs& f : names) EXPECT_EQ(Utf8(FsNameWithCode(f.code)), f.name);
}

TEST(ArchiveHelpers, PartitionActiveAtItsStartSector) {
  MigratePc w;
  // Disk 0 holds one partition at sector 2048; sfdisk marks it active.
  ASSERT_EQ(Shell("sfdisk --activate '" + w.pc.Image(0) + "' 1"), 0);
  platform::fs::ReleaseAllDrivers();
  EXPECT_TRUE(IsPartitionActiveAt(0, 2048));
  EXPECT_FALSE(IsPartitionActiveAt(0, 63)) << "no entry starts there";
  EXPECT_FALSE(IsPartitionActiveAt(1, 2048)) << "disk 1's partition is not active";
  EXPECT_FALSE(IsPartitionActiveAt(7, 2048)) << "no such disk";
}

}  // namespace
