// The archive layout's small rules: positions, volume file names, the
// marker, the folder path rule, and the record layouts at their offsets.
#include <gtest/gtest.h>

#include <cstring>

#include "restore/archive_format.h"

namespace {

using restore::ArchivePosition;

TEST(ArchivePositionTest, AdvanceKeepsByteWithin512) {
  struct Case {
    ArchivePosition from;
    uint32_t n;
    ArchivePosition to;
  };
  const Case cases[] = {
      {{0, 0}, 512, {1, 0}},
      {{0, 412}, 100, {0, 512}},  // exactly 512 stays 512
      {{0, 412}, 101, {1, 1}},
      {{3, 512}, 0, {3, 512}},
      {{3, 512}, 1, {4, 1}},
      {{2, 100}, 0x7E00 + 2, {2 + 63, 102}},
  };
  for (const auto& c : cases) {
    ArchivePosition p = c.from;
    p.advance(c.n);
    EXPECT_EQ(p, c.to) << c.from.sector << "," << c.from.byte << " + " << c.n;
    EXPECT_EQ(p.offset(), c.from.offset() + c.n);
  }
  // Sector numbers above 2^22 do not wrap in the byte offset.
  EXPECT_EQ((ArchivePosition{0x7FFFFFFF, 0}).offset(), int64_t{0x7FFFFFFF} * 512);
}

TEST(VolumeNames, BuildAndParse) {
  EXPECT_EQ(restore::BuildVolumeName(u"Weekly", 2, 3), u"Yarv_Weekly_2_V3.yqb");
  EXPECT_EQ(restore::BuildVolumeName(u"Weekly", 0, 10), u"Yarv_Weekly_0_V10.yqb");
  struct Case {
    std::u16string file;
    bool ok;
    std::u16string name;
    int32_t chain, volume;
  };
  const Case cases[] = {
      {u"Yarv_Weekly_0_V10.yqb", true, u"Weekly", 0, 10},
      {u"Yarv_Weekly_2_V3.yqb", true, u"Weekly", 2, 3},
      {u"Backup.exe", true, u"Backup.exe", 0, 0},
      {u"Yarv_Weekly", false, {}, 0, 0},        // no second "_"
      {u"Yarv_Weekly_2_X3.yqb", false, {}, 0, 0},  // no "V"
      {u"Yarv_Weekly__V3.yqb", false, {}, 0, 0},   // no chain number
      {u"Yarv_Weekly_99999999999_V3.yqb", false, {}, 0, 0},
  };
  for (const auto& c : cases) {
    restore::VolumeName v;
    EXPECT_EQ(restore::ParseVolumeName(c.file, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v.name, c.name);
      EXPECT_EQ(v.chain, c.chain);
      EXPECT_EQ(v.volume, c.volume);
    }
  }
}

TEST(Marker, OffsetFromDigits) {
  EXPECT_EQ(restore::ParseMarkerOffset("CORVELWARESELFEXTRACTING1208320"), 1208320);
  EXPECT_EQ(restore::ParseMarkerOffset(std::string_view("CORVELWARESELFEXTRACTING4096\0\0\0", 31)), 4096);
  EXPECT_EQ(restore::ParseMarkerOffset("CORVELWARESELFEXTRACTING12x4"), 12);
  EXPECT_EQ(restore::ParseMarkerOffset("CORVELWARESELFEXTRACTING"), -1);
  EXPECT_EQ(restore::ParseMarkerOffset("CORVELWARESELFEXTRACTING99999999999"), -1);
  EXPECT_EQ(restore::ParseMarkerOffset("CORVELWARESELFEXTRACTIN1"), -1);
}

TEST(FolderPath, ComponentsEndAtQuestionMarkModulo256) {
  std::u16string names = u"C:?data?a.txt?";
  restore::FolderItemRecord r;
  r.path_bytes = 9;
  r.components[0] = 0;
  r.components[1] = 3;
  r.components[2] = 8;
  EXPECT_EQ(restore::FolderRecordPath(r, names), u"C:\\data\\a.txt");
  // A "?" 300 characters further: the component is cut to 44 characters.
  std::u16string long_names(300, u'x');
  long_names += u"?";
  restore::FolderItemRecord one;
  one.path_bytes = 3;
  EXPECT_EQ(restore::FolderRecordPath(one, long_names), std::u16string(44, u'x'));
  // A component past the pool contributes nothing; the last has no "?".
  restore::FolderItemRecord outside;
  outside.path_bytes = 6;
  outside.components[0] = 8;
  outside.components[1] = 1000;
  EXPECT_EQ(restore::FolderRecordPath(outside, names), u"a.txt\\");
}

// The records at their documented offsets, built byte by byte here rather
// than by the writer's own Store functions.
TEST(Records, FieldsAtTheirOffsets) {
  uint8_t h[restore::kHeaderSize] = {};
  h[0] = 1;
  h[1] = 2;
  h[2] = 1;
  h[3] = 0x10;  // total sectors 0x10
  h[15] = 1;
  h[31] = 2;    // disk items
  h[35] = 3;    // files
  h[39] = 4;    // folders
  h[47] = 0x80;
  h[51] = 0x01;  // backup time 0x0100000080
  h[55] = 9;
  h[57] = 7;
  h[61] = 0x10;
  h[65] = 'D';
  h[67] = 'x';
  h[581] = 5;  // unit count of item 1
  h[641] = 6;
  h[709] = 0x34;
  h[710] = 0x12;
  const auto header = restore::ParseHeader(h);
  EXPECT_EQ(header.type, 1);
  EXPECT_EQ(header.compression, 2);
  EXPECT_EQ(header.total_sectors, 16);
  EXPECT_EQ(header.split, 1);
  EXPECT_EQ(header.disk_count, 2);
  EXPECT_EQ(header.file_count, 3);
  EXPECT_EQ(header.folder_count, 4);
  EXPECT_EQ(header.backup_time, 0x0100000080);
  EXPECT_EQ(header.no_unit_lookup, 9);
  EXPECT_EQ(header.table, (ArchivePosition{7, 16}));
  EXPECT_EQ(header.description, u"Dx");
  EXPECT_EQ(header.unit_counts[1], 5);
  EXPECT_EQ(header.changed_count, 6);
  EXPECT_EQ(header.names_length, 0x1234);

  uint8_t f[restore::kFileRecordSize] = {};
  f[0] = 0xFF;
  f[1] = 9;
  f[5] = 4;
  f[6 + 4] = 1;  // size 2^32
  f[14] = 3;
  f[18] = 0xFE;
  f[19] = 0x01;  // byte 510
  f[20] = 0x21;
  f[40] = 0x55;
  const auto file = restore::ParseFileRecord(f);
  EXPECT_EQ(file.selection, -1);
  EXPECT_EQ(file.name_offset, 9u);
  EXPECT_EQ(file.name_length, 4);
  EXPECT_EQ(file.size, int64_t{1} << 32);
  EXPECT_EQ(file.data, (ArchivePosition{3, 510}));
  EXPECT_EQ(file.attributes, 0x21u);
  EXPECT_EQ(file.write_time, 0x55u);

  uint8_t d[restore::kDiskRecordSize] = {};
  d[0] = 6;
  d[1] = 2;
  d[2] = 'M';
  d[40] = 'C';
  d[42] = ':';
  d[50] = 7;
  d[56 + 1] = 0x3E;  // 0x3E00 sectors per unit
  d[60 + 3] = 0x80;  // first sector with bit 31 set
  d[64] = 2;
  d[68] = 10;
  const auto disk = restore::ParseDiskRecord(d);
  EXPECT_EQ(disk.kind, 6);
  EXPECT_EQ(disk.model, u"M");
  EXPECT_EQ(disk.drive_text, u"C:");
  EXPECT_EQ(disk.partition_type, 7);
  EXPECT_EQ(disk.extent_sectors(), 2 * 0x3E00 + 10);
  EXPECT_EQ(disk.unit_count(), 3);
  EXPECT_EQ(disk.unit_sectors(3), 10);
}

}  // namespace
