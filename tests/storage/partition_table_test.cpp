// The partition-table codec against itself and against sfdisk, fdisk and sgdisk.
#include "platform/storage/partition_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <tuple>

#include "platform/core/text.h"
#include "storage/oracle.h"

using namespace platform;
using namespace platform::storage;
using storage_test::RunTool;
using storage_test::ScratchImage;

namespace {

constexpr uint64_t MiB = 1024 * 1024;

GUID Guid(const char* text) {
  GUID g{};
  EXPECT_TRUE(GuidFromText(text, &g)) << text;
  return g;
}

const char* kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
const char* kEsp = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
const char* kMsr = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";

LayoutEntry Mbr(uint64_t start, uint64_t length, uint8_t type, bool boot = false, uint32_t hidden = 0) {
  LayoutEntry e;
  e.style = PartitionStyle::Mbr;
  e.start = start;
  e.length = length;
  e.mbr_type = type;
  e.boot = boot;
  e.hidden_sectors = hidden;
  return e;
}

LayoutEntry Gpt(uint64_t start, uint64_t length, const char* type, const char16_t* name, uint64_t attributes = 0) {
  LayoutEntry e;
  e.style = PartitionStyle::Gpt;
  e.start = start;
  e.length = length;
  e.type_guid = Guid(type);
  e.id_guid = NewRandomGuid();
  e.name = name;
  e.attributes = attributes;
  return e;
}

// A primary NTFS partition, an extended container and three logical drives,
// laid out as the platform lists them after the tables are read.
DiskLayout MbrWithLogicals(uint32_t ss) {
  DiskLayout layout;
  layout.style = PartitionStyle::Mbr;
  layout.mbr_signature = 0xA4B57300;
  layout.entries = {Mbr(1 * MiB, 16 * MiB, 0x07, true), Mbr(17 * MiB, 40 * MiB, 0x0F), {}, {},
                    Mbr(18 * MiB, 8 * MiB, 0x07, false, static_cast<uint32_t>(MiB / ss)), {}, {}, {},
                    Mbr(27 * MiB, 8 * MiB, 0x0B, false, static_cast<uint32_t>(MiB / ss)), {}, {}, {},
                    Mbr(36 * MiB, 20 * MiB, 0x83, false, static_cast<uint32_t>(MiB / ss)), {}, {}, {}};
  return layout;
}

// (start, size, type, boot) in sectors, as a set for comparison with a tool's listing.
using Row = std::tuple<uint64_t, uint64_t, unsigned, bool>;

std::set<Row> RowsOf(const DiskLayout& layout, uint32_t ss) {
  std::set<Row> rows;
  for (size_t i = 0; i < layout.entries.size(); ++i) {
    const auto& e = layout.entries[i];
    if (e.is_empty() || (i >= 4 && e.is_extended())) continue;  // links are not partitions
    rows.insert({e.start / ss, e.length / ss, e.mbr_type, e.boot});
  }
  return rows;
}

// Rows and disk identifier from a partitioning tool's listing: `line` matches
// start, size, type (hex) and an optional boot mark; `id` the identifier (hex).
std::set<Row> ToolRows(const std::string& command, const std::regex& line, const std::regex& id,
                       uint32_t* signature) {
  auto out = RunTool(command);
  EXPECT_EQ(out.exit_code, 0) << out.text;
  std::set<Row> rows;
  for (std::sregex_iterator it(out.text.begin(), out.text.end(), line), end; it != end; ++it)
    rows.insert({std::stoull((*it)[1]), std::stoull((*it)[2]), static_cast<unsigned>(std::stoul((*it)[3], nullptr, 16)),
                 (*it)[4].matched});
  std::smatch found;
  if (signature && std::regex_search(out.text, found, id))
    *signature = static_cast<uint32_t>(std::stoul(found[1], nullptr, 16));
  return rows;
}

std::set<Row> SfdiskRows(const std::string& image, uint32_t* signature) {
  return ToolRows("sfdisk -d " + image, std::regex(R"(start=\s*(\d+), size=\s*(\d+), type=([0-9a-f]+)(, bootable)?)"),
                  std::regex(R"(label-id: 0x([0-9a-f]+))"), signature);
}

// fdisk's listing with an explicit sector size: the oracle for 4096-byte disks.
std::set<Row> FdiskRows(const std::string& image, uint32_t ss, uint32_t* signature) {
  return ToolRows("fdisk -b " + std::to_string(ss) + " -l -o Device,Start,Sectors,Id,Boot " + image,
                  std::regex(R"(\.img\d+\s+(\d+)\s+(\d+)\s+([0-9a-f]+)\s*(\*)?)"),
                  std::regex(R"(Disk identifier: 0x([0-9a-f]+))"), signature);
}

void ExpectSameEntries(const DiskLayout& a, const DiskLayout& b) {
  ASSERT_EQ(a.style, b.style);
  ASSERT_EQ(a.entries.size(), b.entries.size());
  for (size_t i = 0; i < a.entries.size(); ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    const auto& x = a.entries[i];
    const auto& y = b.entries[i];
    EXPECT_EQ(x.start, y.start);
    EXPECT_EQ(x.length, y.length);
    EXPECT_EQ(x.mbr_type, y.mbr_type);
    EXPECT_EQ(x.boot, y.boot);
    EXPECT_EQ(x.number, y.number);
    EXPECT_TRUE(x.type_guid == y.type_guid);
    EXPECT_TRUE(x.id_guid == y.id_guid);
    EXPECT_EQ(x.attributes, y.attributes);
    EXPECT_EQ(x.name, y.name);
  }
}

class CodecBySectorSize : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CodecBySectorSize, MbrWithLogicalDrivesRoundTripsAndToolsAgree) {
  const uint32_t ss = GetParam();
  ScratchImage image(64 * MiB);
  auto disk = image.open(ss);
  ASSERT_TRUE(disk);
  DiskLayout written = MbrWithLogicals(ss);
  TableResult r = WriteDiskLayout(*disk, written);
  ASSERT_TRUE(r.ok()) << r.message;

  DiskLayout read;
  r = ReadDiskLayout(*disk, &read);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_TRUE(read.findings.empty());
  EXPECT_EQ(read.style, PartitionStyle::Mbr);
  EXPECT_EQ(read.mbr_signature, 0xA4B57300u);
  // Four slots per table: the MBR and one EBR per logical drive.
  ASSERT_EQ(read.entries.size(), 16u);
  // Numbers: primary 1, logicals 2..4; the container, links and empty slots 0.
  const uint32_t numbers[16] = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0};
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(read.entries[i].number, numbers[i]) << i;
  // Links: second slot of every EBR but the last, pointing at the next EBR.
  EXPECT_TRUE(read.entries[5].is_extended());
  EXPECT_TRUE(read.entries[9].is_extended());
  EXPECT_TRUE(read.entries[13].is_empty());
  EXPECT_EQ(read.entries[5].start + MiB, written.entries[8].start);
  EXPECT_EQ(read.entries[4].hidden_sectors, MiB / ss);

  uint32_t signature = 0;
  std::set<Row> tool = ss == 512 ? SfdiskRows(image.path(), &signature) : FdiskRows(image.path(), ss, &signature);
  EXPECT_EQ(tool, RowsOf(written, ss));
  EXPECT_EQ(signature, 0xA4B57300u);

  // What we read writes back to the same bytes.
  std::vector<uint8_t> before(disk->size());
  ASSERT_TRUE(disk->read_at(0, before.data(), before.size()));
  ASSERT_TRUE(WriteDiskLayout(*disk, read).ok());
  std::vector<uint8_t> after(disk->size());
  ASSERT_TRUE(disk->read_at(0, after.data(), after.size()));
  EXPECT_TRUE(before == after);
}

TEST_P(CodecBySectorSize, GptRoundTripsAndToolsAgree) {
  const uint32_t ss = GetParam();
  ScratchImage image(64 * MiB);
  auto disk = image.open(ss);
  ASSERT_TRUE(disk);
  DiskLayout written;
  written.style = PartitionStyle::Gpt;
  written.disk_guid = Guid("01234567-89AB-CDEF-0123-456789ABCDEF");
  written.entries = {Gpt(1 * MiB, 4 * MiB, kEsp, u"EFI system partition", 0x8000000000000001ull),
                     Gpt(5 * MiB, 2 * MiB, kMsr, u"Microsoft reserved partition"),
                     Gpt(7 * MiB, 40 * MiB, kBasicData, u"Basic data partition \u00e9\u4e2d")};
  TableResult r = WriteDiskLayout(*disk, written);
  ASSERT_TRUE(r.ok()) << r.message;

  DiskLayout read;
  r = ReadDiskLayout(*disk, &read);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_TRUE(read.findings.empty());
  EXPECT_TRUE(read.disk_guid == written.disk_guid);
  EXPECT_EQ(read.max_partition_count, 128u);
  EXPECT_EQ(read.first_usable, (2 + 128 * 128 / ss) * uint64_t{ss});
  EXPECT_EQ(read.first_usable + read.usable_length, disk->size() - (1 + 128 * 128 / ss) * uint64_t{ss});
  for (size_t i = 0; i < written.entries.size(); ++i) written.entries[i].number = static_cast<uint32_t>(i + 1);
  ExpectSameEntries(written, read);

  if (ss == 512) {
    auto verify = RunTool("sgdisk -v " + image.path());
    EXPECT_NE(verify.text.find("No problems found"), std::string::npos) << verify.text;
    auto print = RunTool("sgdisk -p " + image.path());
    EXPECT_NE(print.text.find("Disk identifier (GUID): 01234567-89AB-CDEF-0123-456789ABCDEF"), std::string::npos) << print.text;
    std::regex line(R"(\n\s+(\d+)\s+(\d+)\s+(\d+)\s+\S+ \S+\s+(\S+)\s+([^\n]*))");
    std::vector<std::tuple<uint64_t, uint64_t, std::string, std::string>> rows;
    for (std::sregex_iterator it(print.text.begin(), print.text.end(), line), end; it != end; ++it)
      rows.emplace_back(std::stoull((*it)[2]), std::stoull((*it)[3]), (*it)[4], (*it)[5]);
    ASSERT_EQ(rows.size(), 3u) << print.text;
    // sgdisk shortens long names with "...".
    EXPECT_EQ(rows[0], std::make_tuple(uint64_t{2048}, uint64_t{10239}, std::string("EF00"), std::string("EFI system partition")));
    EXPECT_EQ(rows[1], std::make_tuple(uint64_t{10240}, uint64_t{14335}, std::string("0C01"), std::string("Microsoft reserved ...")));
    EXPECT_EQ(std::get<0>(rows[2]), 14336u);
    EXPECT_EQ(std::get<1>(rows[2]), 96255u);
    EXPECT_EQ(std::get<2>(rows[2]), "0700");
  }
  // fdisk checks both headers and CRCs on either sector size, and lists the GUIDs.
  auto out = RunTool("fdisk -b " + std::to_string(ss) + " -l -o Start,End,Type-UUID,UUID,Name " + image.path());
  EXPECT_EQ(out.exit_code, 0);
  EXPECT_EQ(out.text.find("corrupt"), std::string::npos) << out.text;
  EXPECT_EQ(out.text.find("checksum"), std::string::npos) << out.text;
  for (const auto& e : written.entries) {
    std::string row = "\\b" + std::to_string(e.start / ss) + "\\s+" + std::to_string((e.start + e.length) / ss - 1) +
                      "\\s+" + GuidToText(e.type_guid) + "\\s+" + GuidToText(e.id_guid) + "\\s+" + platform::to_utf8(e.name);
    EXPECT_TRUE(std::regex_search(out.text, std::regex(row))) << row << "\n" << out.text;
  }
}

INSTANTIATE_TEST_SUITE_P(Sectors, CodecBySectorSize, ::testing::Values(512u, 4096u));

TEST(PartitionCodec, ReadsTablesWrittenBySfdiskAndSgdisk) {
  {
    ScratchImage image(64 * MiB);
    auto script = RunTool("printf 'label: dos\\nlabel-id: 0x11223344\\nstart=2048,size=10000,type=7,bootable\\n"
                      "start=12288,size=100000,type=f\\nstart=14336,size=5000,type=83\\nstart=22528,size=5000,type=b\\n' | "
                      "sfdisk -q " + image.path());
    ASSERT_EQ(script.exit_code, 0) << script.text;
    auto disk = image.open(512);
    DiskLayout layout;
    ASSERT_TRUE(ReadDiskLayout(*disk, &layout).ok());
    EXPECT_EQ(layout.mbr_signature, 0x11223344u);
    ASSERT_EQ(layout.entries.size(), 12u);
    EXPECT_EQ(RowsOf(layout, 512), SfdiskRows(image.path(), nullptr));
    EXPECT_EQ(layout.entries[0].number, 1u);
    EXPECT_EQ(layout.entries[1].number, 0u);   // the container has none
    EXPECT_EQ(layout.entries[4].number, 2u);   // logicals follow the primary
    EXPECT_EQ(layout.entries[8].number, 3u);
    EXPECT_EQ(layout.entries[8].hidden_sectors, 2048u);
    EXPECT_EQ(layout.entries[5].start, 20480u * 512);  // the link names the second EBR
  }
  {
    ScratchImage image(64 * MiB);
    auto made = RunTool("sgdisk -U 0FC63DAF-8483-4772-8E79-3D69D8477DE4 -n1:2048:+1M -t1:ef00 -c1:ESP -A1:set:0 "
                    "-n2:0:+8M -t2:0700 -c2:Data " + image.path());
    ASSERT_EQ(made.exit_code, 0) << made.text;
    auto disk = image.open(512);
    DiskLayout layout;
    TableResult r = ReadDiskLayout(*disk, &layout);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(GuidToText(layout.disk_guid), "0FC63DAF-8483-4772-8E79-3D69D8477DE4");
    ASSERT_EQ(layout.entries.size(), 2u);
    EXPECT_EQ(GuidToText(layout.entries[0].type_guid), kEsp);
    EXPECT_EQ(layout.entries[0].attributes, 1u);
    EXPECT_EQ(layout.entries[0].name, u"ESP");
    EXPECT_EQ(layout.entries[1].start, 4096u * 512);
    EXPECT_EQ(layout.entries[1].length, 8 * MiB);
    EXPECT_EQ(GuidToText(layout.entries[1].type_guid), kBasicData);
    EXPECT_EQ(layout.entries[1].number, 2u);
  }
}

// Damage done to a freshly written GPT, and what the reader must make of it.
struct GptDamage {
  const char* name;
  void (*damage)(std::vector<uint8_t>& image, uint32_t ss);
  TableStatus status;
  bool backup_used;
};

void PokeByte(std::vector<uint8_t>& image, uint64_t at) { image[at] ^= 0xFF; }

// Sets the entry count of the header at `lba` and makes its CRC right again.
void SetEntryCount(std::vector<uint8_t>& image, uint32_t ss, uint64_t lba, uint32_t count) {
  uint8_t* h = image.data() + lba * ss;
  std::memcpy(h + 0x50, &count, 4);
  std::memset(h + 0x10, 0, 4);
  uint32_t crc = Crc32(h, 92);
  std::memcpy(h + 0x10, &crc, 4);
}

const GptDamage kGptDamage[] = {
    {"primary header CRC", [](auto& img, uint32_t ss) { PokeByte(img, ss + 0x28); }, TableStatus::Ok, true},
    {"primary entry array", [](auto& img, uint32_t ss) { PokeByte(img, 2 * ss + 0x20); }, TableStatus::Ok, true},
    {"primary signature", [](auto& img, uint32_t ss) { img[ss] = 'X'; }, TableStatus::Ok, true},
    {"both header CRCs",
     [](auto& img, uint32_t ss) {
       PokeByte(img, ss + 0x28);
       PokeByte(img, img.size() - ss + 0x28);
     },
     TableStatus::BadGptHeader, false},
    {"both entry arrays",
     [](auto& img, uint32_t ss) {
       PokeByte(img, 2 * ss + 0x20);
       PokeByte(img, img.size() - ss - 128 * 128 + 0x20);
     },
     TableStatus::BadGptEntries, false},
    {"absurd entry counts",
     [](auto& img, uint32_t ss) {
       SetEntryCount(img, ss, 1, 0xFFFFFFFF);
       SetEntryCount(img, ss, img.size() / ss - 1, 0x40000000);
     },
     TableStatus::AbsurdEntryCount, false},
    {"absurd primary count, good backup", [](auto& img, uint32_t ss) { SetEntryCount(img, ss, 1, 0xFFFFFFFF); },
     TableStatus::Ok, true},
};

TEST(PartitionCodec, DamagedGptUsesTheBackupOrFailsClearly) {
  for (uint32_t ss : {512u, 4096u}) {
    for (const auto& c : kGptDamage) {
      SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(ss) + "-byte sectors");
      auto disk = std::make_shared<MemoryBlockDevice>(16 * MiB, ss);
      DiskLayout layout;
      layout.style = PartitionStyle::Gpt;
      layout.entries = {Gpt(1 * MiB, 4 * MiB, kBasicData, u"data")};
      ASSERT_TRUE(WriteDiskLayout(*disk, layout).ok());
      c.damage(disk->bytes(), ss);
      DiskLayout read;
      TableResult r = ReadDiskLayout(*disk, &read);
      EXPECT_EQ(r.status, c.status) << r.message;
      if (c.status == TableStatus::Ok) {
        ASSERT_EQ(read.entries.size(), 1u);
        EXPECT_EQ(read.entries[0].start, 1 * MiB);
        EXPECT_EQ(read.entries[0].name, u"data");
        EXPECT_EQ(!read.findings.empty(), c.backup_used);
      } else {
        EXPECT_EQ(read.style, PartitionStyle::Raw);
        EXPECT_TRUE(read.entries.empty());
        EXPECT_FALSE(r.message.empty());
      }
    }
  }
}

// A GPT entry poked over the table itself (the protective MBR, a header, an
// entry array) with its CRCs made right is skipped with a finding; the sound
// entry next to it stays.
TEST(PartitionCodec, GptEntriesOverTheTableAreSkipped) {
  for (uint32_t ss : {512u, 4096u}) {
    const uint64_t total = 16 * MiB / ss;
    const uint64_t array_sectors = 128 * 128 / ss;
    struct Case {
      const char* name;
      uint64_t first, last;
    } cases[] = {
        {"first = last = 0 (the protective MBR)", 0, 0},
        {"over the primary header", 1, 1 * MiB / ss - 1},
        {"inside the primary entry array", 2 + array_sectors / 2, 2 + array_sectors / 2},
        {"over the backup entry array", 8 * MiB / ss, total - 2},
        {"over the backup header", total - 1, total - 1},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(ss) + "-byte sectors");
      MemoryBlockDevice disk(16 * MiB, ss);
      DiskLayout layout;
      layout.style = PartitionStyle::Gpt;
      layout.entries = {Gpt(6 * MiB, 1 * MiB, kBasicData, u"sound")};
      ASSERT_TRUE(WriteDiskLayout(disk, layout).ok());
      uint8_t* header = disk.bytes().data() + ss;
      uint8_t* array = disk.bytes().data() + 2 * ss;
      uint8_t* entry = array + 128;  // the second slot
      std::memcpy(entry, array, 32);  // the basic-data type and an id
      entry[16] ^= 0xFF;
      std::memcpy(entry + 0x20, &c.first, 8);
      std::memcpy(entry + 0x28, &c.last, 8);
      uint32_t crc = Crc32(array, 128 * 128);
      std::memcpy(header + 0x58, &crc, 4);
      std::memset(header + 0x10, 0, 4);
      crc = Crc32(header, 92);
      std::memcpy(header + 0x10, &crc, 4);

      DiskLayout read;
      TableResult r = ReadDiskLayout(disk, &read);
      ASSERT_TRUE(r.ok()) << r.message;
      ASSERT_EQ(read.partitions().size(), 1u);
      EXPECT_EQ(read.partitions()[0].name, u"sound");
      ASSERT_EQ(read.findings.size(), 1u);
      EXPECT_NE(read.findings[0].find("GPT entry 1"), std::string::npos) << read.findings[0];
    }
  }
}

// Hand-made MBR fixtures: sector 0 and EBRs poked into a memory disk.
struct MbrFixture {
  MemoryBlockDevice disk{8 * MiB, 512};
  void slot(uint64_t sector, int index, uint8_t type, uint32_t first, uint32_t count) {
    uint8_t* s = disk.bytes().data() + sector * 512 + 446 + index * 16;
    s[4] = type;
    std::memcpy(s + 8, &first, 4);
    std::memcpy(s + 12, &count, 4);
    disk.bytes()[sector * 512 + 510] = 0x55;
    disk.bytes()[sector * 512 + 511] = 0xAA;
  }
};

TEST(PartitionCodec, MalformedMbrChainsAreCutWithFindings) {
  struct Case {
    const char* name;
    void (*build)(MbrFixture&);
    size_t entries;            // listed entries
    size_t partitions;         // real partitions among them
    const char* finding;       // text expected in a finding, or null for none
  };
  const Case cases[] = {
      {"EBR linking to itself",
       [](MbrFixture& f) {
         f.slot(0, 0, 0x0F, 2048, 8192);
         f.slot(2048, 0, 0x07, 63, 100);
         f.slot(2048, 1, 0x05, 0, 200);
       },
       8, 1, "loops"},
      {"two EBRs linking to each other",
       [](MbrFixture& f) {
         f.slot(0, 0, 0x0F, 2048, 8192);
         f.slot(2048, 0, 0x07, 63, 100);
         f.slot(2048, 1, 0x05, 1000, 200);
         f.slot(3048, 0, 0x07, 63, 100);
         f.slot(3048, 1, 0x05, 0, 200);
       },
       12, 2, "loops"},
      {"link outside the extended partition",
       [](MbrFixture& f) {
         f.slot(0, 0, 0x0F, 2048, 4096);
         f.slot(2048, 0, 0x07, 63, 100);
         f.slot(2048, 1, 0x05, 9000, 200);
       },
       8, 1, "outside the extended partition"},
      {"extended partition starting past the disk's end",
       [](MbrFixture& f) { f.slot(0, 0, 0x0F, 0xFFFFFF00, 100); }, 4, 0, "past the disk's end"},
      {"primary reaching past the disk's end",
       [](MbrFixture& f) { f.slot(0, 1, 0x07, 2048, 0xFFFFFFFF); }, 4, 1, "past the disk's end"},
      {"primary starting at sector 0, over the MBR",
       [](MbrFixture& f) { f.slot(0, 0, 0x07, 0, 100); }, 4, 0, "the table's own sector"},
      {"logical drive starting at its own EBR",
       [](MbrFixture& f) {
         f.slot(0, 0, 0x0F, 2048, 4096);
         f.slot(2048, 0, 0x07, 0, 100);
       },
       8, 0, "the table's own sector"},
      {"EBR without boot signature",
       [](MbrFixture& f) {
         f.slot(0, 0, 0x0F, 2048, 4096);
         f.disk.bytes()[2048 * 512 + 510] = 0;
       },
       4, 0, "no boot signature"},
      {"sound table", [](MbrFixture& f) { f.slot(0, 2, 0x0C, 2048, 4096); }, 4, 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MbrFixture f;
    c.build(f);
    DiskLayout layout;
    TableResult r = ReadDiskLayout(f.disk, &layout);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(layout.style, PartitionStyle::Mbr);
    EXPECT_EQ(layout.entries.size(), c.entries);
    EXPECT_EQ(layout.partitions().size(), c.partitions);
    if (c.finding) {
      ASSERT_FALSE(layout.findings.empty());
      EXPECT_NE(layout.findings[0].find(c.finding), std::string::npos) << layout.findings[0];
    } else {
      EXPECT_TRUE(layout.findings.empty());
    }
  }
}

TEST(PartitionCodec, DisksWithoutTablesAreRaw) {
  MemoryBlockDevice blank(1 * MiB, 512);
  DiskLayout layout;
  ASSERT_TRUE(ReadDiskLayout(blank, &layout).ok());
  EXPECT_EQ(layout.style, PartitionStyle::Raw);
  EXPECT_TRUE(layout.entries.empty());
  MemoryBlockDevice tiny(100, 512);  // not even one sector
  ASSERT_TRUE(ReadDiskLayout(tiny, &layout).ok());
  EXPECT_EQ(layout.style, PartitionStyle::Raw);
}

TEST(PartitionCodec, WriterRefusesLayoutsThatDoNotFitWithoutWriting) {
  struct Case {
    const char* name;
    DiskLayout layout;
    TableStatus status;
    uint64_t disk_size = 8 * MiB;
  };
  auto mbr = [](std::vector<LayoutEntry> entries) {
    DiskLayout l;
    l.style = PartitionStyle::Mbr;
    l.entries = std::move(entries);
    return l;
  };
  auto gpt = [](std::vector<LayoutEntry> entries, uint32_t max = 0) {
    DiskLayout l;
    l.style = PartitionStyle::Gpt;
    l.entries = std::move(entries);
    l.max_partition_count = max;
    return l;
  };
  const Case cases[] = {
      {"MBR partitions overlapping", mbr({Mbr(1 * MiB, 4 * MiB, 7), Mbr(4 * MiB, 2 * MiB, 7)}), TableStatus::InvalidLayout},
      {"MBR partition past the end", mbr({Mbr(1 * MiB, 16 * MiB, 7)}), TableStatus::InvalidLayout},
      {"MBR partition at sector 0", mbr({Mbr(0, 1 * MiB, 7)}), TableStatus::InvalidLayout},
      {"MBR start not on a sector", mbr({Mbr(1 * MiB + 100, 1 * MiB, 7)}), TableStatus::UnalignedLayout},
      {"logical drive without an extended partition", mbr({Mbr(1 * MiB, 1 * MiB, 7), {}, {}, {}, Mbr(3 * MiB, 1 * MiB, 7)}),
       TableStatus::InvalidLayout},
      {"logical drive outside its container",
       mbr({Mbr(1 * MiB, 2 * MiB, 0x0F), {}, {}, {}, Mbr(4 * MiB, 1 * MiB, 7)}), TableStatus::InvalidLayout},
      {"logical drives overlapping",
       mbr({Mbr(1 * MiB, 6 * MiB, 0x0F), {}, {}, {}, Mbr(2 * MiB, 2 * MiB, 7), {}, {}, {}, Mbr(3 * MiB, 2 * MiB, 7)}),
       TableStatus::InvalidLayout},
      {"GPT partition in the entry array", gpt({Gpt(1024, 1 * MiB, kBasicData, u"x")}), TableStatus::InvalidLayout},
      {"GPT partition over the backup", gpt({Gpt(1 * MiB, 7 * MiB, kBasicData, u"x")}), TableStatus::InvalidLayout},
      {"GPT name too long", gpt({Gpt(1 * MiB, 1 * MiB, kBasicData, u"0123456789012345678901234567890123456")}),
       TableStatus::InvalidLayout},
      {"GPT too many entries", gpt({}, 1u << 20), TableStatus::AbsurdEntryCount},
      {"GPT array larger than the disk", gpt({}, 16384), TableStatus::DiskTooSmall, 3 * MiB},
      {"GPT on a 32 KiB disk", gpt({}), TableStatus::DiskTooSmall, 32 * 1024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryBlockDevice disk(c.disk_size, 512);
    std::fill(disk.bytes().begin(), disk.bytes().end(), 0x5A);
    TableResult r = WriteDiskLayout(disk, c.layout);
    EXPECT_EQ(r.status, c.status) << r.message;
    EXPECT_FALSE(r.message.empty());
    EXPECT_TRUE(std::all_of(disk.bytes().begin(), disk.bytes().end(), [](uint8_t b) { return b == 0x5A; }));
  }
}

TEST(PartitionCodec, SwitchingStylesLeavesNoStaleTable) {
  for (uint32_t ss : {512u, 4096u}) {
    SCOPED_TRACE(ss);
    ScratchImage image(32 * MiB);
    auto disk = image.open(ss);
    DiskLayout gpt;
    gpt.style = PartitionStyle::Gpt;
    gpt.entries = {Gpt(1 * MiB, 4 * MiB, kBasicData, u"data")};
    ASSERT_TRUE(WriteDiskLayout(*disk, gpt).ok());
    ASSERT_TRUE(CreateEmptyTable(*disk, PartitionStyle::Mbr, 0xA4B573FF, GUID{}, 0).ok());
    DiskLayout read;
    ASSERT_TRUE(ReadDiskLayout(*disk, &read).ok());
    EXPECT_EQ(read.style, PartitionStyle::Mbr);
    EXPECT_EQ(read.mbr_signature, 0xA4B573FFu);
    EXPECT_EQ(read.entries.size(), 4u);
    EXPECT_TRUE(read.partitions().empty());
    // blkid must not find the old GPT either.
    auto probe = RunTool("blkid -p -o value -s PTTYPE " + image.path());
    EXPECT_EQ(probe.text.find("gpt"), std::string::npos) << probe.text;
    ASSERT_TRUE(CreateEmptyTable(*disk, PartitionStyle::Gpt, 0, GUID{}, 0).ok());
    ASSERT_TRUE(ReadDiskLayout(*disk, &read).ok());
    EXPECT_EQ(read.style, PartitionStyle::Gpt);
    EXPECT_FALSE(IsZeroGuid(read.disk_guid));
    EXPECT_EQ(read.max_partition_count, 128u);
  }
}

TEST(PartitionCodec, GuidTextAndCrc) {
  GUID g;
  ASSERT_TRUE(GuidFromText("{ebd0a0a2-b9e5-4433-87c0-68b6b72699c7}", &g));
  EXPECT_EQ(g.Data1, 0xEBD0A0A2u);
  EXPECT_EQ(g.Data4[7], 0xC7);
  EXPECT_EQ(GuidToText(g), kBasicData);
  for (const char* bad : {"", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C", "EBD0A0A2xB9E5-4433-87C0-68B6B72699C7",
                          "GBD0A0A2-B9E5-4433-87C0-68B6B72699C7"})
    EXPECT_FALSE(GuidFromText(bad, &g)) << bad;
  // The check value of the reflected CRC-32.
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
}

}  // namespace

namespace {

TEST(PartitionCodec, DisksFormattedWithoutATableAnswerOneWholeDiskPartition) {
  struct Case {
    const char* name;
    const char* command;  // run on the image; empty: build sector 0 by hand
    unsigned type;
  };
  const Case cases[] = {
      {"FAT32 by mkfs.fat", "mkfs.fat -F 32 ", 0x0C},
      {"FAT16 by mkfs.fat", "mkfs.fat -F 16 ", 0x06},
      {"NTFS by mkntfs", "mkntfs -F -f -q ", 0x07},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchImage image(40 * MiB);
    auto made = RunTool(std::string(c.command) + image.path());
    ASSERT_EQ(made.exit_code, 0) << made.text;
    auto disk = image.open(512);
    DiskLayout layout;
    ASSERT_TRUE(ReadDiskLayout(*disk, &layout).ok());
    EXPECT_EQ(layout.style, PartitionStyle::Mbr);
    ASSERT_EQ(layout.entries.size(), 1u);
    EXPECT_EQ(layout.entries[0].start, 0u);
    EXPECT_EQ(layout.entries[0].length, 40 * MiB);
    EXPECT_EQ(layout.entries[0].mbr_type, c.type);
    EXPECT_EQ(layout.entries[0].number, 1u);
  }
  // A boot loader's MBR may also begin with a jump; its sound table wins.
  MemoryBlockDevice disk(8 * MiB, 512);
  auto& b = disk.bytes();
  b[0] = 0xEB;
  b[1] = 0x63;
  b[2] = 0x90;
  std::memcpy(&b[3], "NTFS    ", 8);
  b[446 + 4] = 0x07;
  uint32_t first = 2048, count = 4096;
  std::memcpy(&b[446 + 8], &first, 4);
  std::memcpy(&b[446 + 12], &count, 4);
  b[510] = 0x55;
  b[511] = 0xAA;
  DiskLayout layout;
  ASSERT_TRUE(ReadDiskLayout(disk, &layout).ok());
  ASSERT_EQ(layout.entries.size(), 4u);
  EXPECT_EQ(layout.entries[0].start, 2048u * 512);
}

}  // namespace
