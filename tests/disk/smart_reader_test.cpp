// S.M.A.R.T. reader on a simulated PC: IDENTIFY, attribute and threshold pages
// given in machine.ini, drives found through fixed drive letters (C: is drive
// 0 whatever disk it is on), and the attribute catalogue read from the INI
// file beside the program.
#include "disk/smart_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <vector>

#include "fixture_images.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/process/process_context.h"
#include "platform/storage/volume_api.h"

namespace {

namespace fs = std::filesystem;
using disk_fixture::DiskSpec;
using disk_fixture::SimulatedPc;

using Page = std::vector<uint8_t>;

// ATA text: padded with blanks to the field, the two bytes of each word exchanged.
void PutAtaText(Page& page, size_t offset, size_t length, const std::string& text) {
  std::string padded = text;
  padded.resize(length, ' ');
  for (size_t i = 0; i + 1 < length; i += 2) {
    page[offset + i] = static_cast<uint8_t>(padded[i + 1]);
    page[offset + i + 1] = static_cast<uint8_t>(padded[i]);
  }
}

Page IdentifyPage(const std::string& serial, const std::string& firmware, const std::string& model) {
  Page page(512, 0);
  PutAtaText(page, 20, 20, serial);
  page[40] = 0x03;  // buffer type and size words stay as the drive sent them
  page[42] = 0x40;
  PutAtaText(page, 46, 8, firmware);
  PutAtaText(page, 54, 40, model);
  return page;
}

struct Entry {
  int slot;
  uint8_t id;
  uint8_t current;
  uint8_t worst;
  std::vector<uint8_t> raw;  // bytes 5-10
};

Page AttributePage(const std::vector<Entry>& entries) {
  Page page(512, 0);
  page[0] = 0x10;
  for (const auto& e : entries) {
    uint8_t* p = &page[2 + e.slot * 12];
    p[0] = e.id;
    p[1] = 0x33;
    p[3] = e.current;
    p[4] = e.worst;
    for (size_t i = 0; i < e.raw.size() && i < 6; ++i) p[5 + i] = e.raw[i];
    p[11] = 0xAA;
  }
  return page;
}

Page ThresholdPage(const std::vector<std::pair<int, std::pair<uint8_t, uint8_t>>>& entries) {
  Page page(512, 0);
  page[0] = 0x10;
  for (const auto& [slot, value] : entries) {
    page[2 + slot * 12] = value.first;
    page[2 + slot * 12 + 1] = value.second;
  }
  return page;
}

void WriteHex(const std::string& path, const Page& page) {
  std::ofstream out(path);
  for (size_t i = 0; i < page.size(); ++i)
    out << std::hex << std::setw(2) << std::setfill('0') << int(page[i]) << ((i % 16 == 15) ? "\n" : " ");
}

std::u16string FieldText(const BYTE* field, int length) {
  std::u16string text;
  for (int i = 0; i + 1 < length; i += 2) {
    char16_t unit = static_cast<char16_t>(field[i] | field[i + 1] << 8);
    if (!unit) return text;
    text += unit;
  }
  ADD_FAILURE() << "no terminating zero inside the field";
  return text;
}

class SmartReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int n = 0; n < 3; ++n) pc_.AddDisk(DiskSpec{.number = n, .sizeBytes = 8ull << 20, .sectorSize = n == 1 ? 4096u : 512u});
    const std::string dir = pc_.folder();
    // Disk 0: every page. Disk 1: no thresholds. Disk 2: no S.M.A.R.T. at all.
    WriteHex(dir + "/id0.hex", IdentifyPage("  S3Z9NB0K123456A", "SVT01B6Q", "Samsung SSD 870 EVO 500GB"));
    WriteHex(dir + "/at0.hex", AttributePage({{0, 5, 100, 100, {0xE8, 0x03, 0x05, 0, 0, 0}},
                                              {1, 9, 98, 97, {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A}},
                                              {3, 194, 64, 40, {0x1F, 0, 0x12, 0, 0x2D, 0}},
                                              {29, 231, 99, 99, {0x01, 0x02}}}));
    WriteHex(dir + "/th0.hex", ThresholdPage({{0, {5, 10}}, {1, {9, 0}}, {2, {194, 45}}, {3, {200, 51}}}));
    WriteHex(dir + "/id1.hex", IdentifyPage("X", "1", "Short"));
    WriteHex(dir + "/at1.hex", AttributePage({{0, 1, 200, 200, {0x10, 0x27}}}));
    pc_.SetIni("disk 0", "smart_identify", "id0.hex");
    pc_.SetIni("disk 0", "smart_attributes", "at0.hex");
    pc_.SetIni("disk 0", "smart_thresholds", "th0.hex");
    pc_.SetIni("disk 1", "smart_identify", "id1.hex");
    pc_.SetIni("disk 1", "smart_attributes", "at1.hex");

    // Drive letters: C:, D:, E: and A: fixed host folders, F: removable; the
    // program and its catalogue live on P:.
    std::ofstream ini(dir + "/machine.ini", std::ios::app);
    for (const char* letter : {"A", "C", "D", "E", "F", "P"}) {
      fs::create_directories(dir + "/drive" + letter);
      ini << "\n[mount " << letter << "]\npath = " << letter << ":\nhost = " << dir << "/drive" << letter
          << "\ndrive_type = " << (std::string(letter) == "F" ? "removable" : "fixed") << "\n";
    }
    ini.close();
    fs::create_directories(dir + "/driveP/Drum");
    platform::process::SetProgramImage(u"P:\\Drum\\Drummetworks.exe", u"Drummetworks.exe");
  }
  void TearDown() override { platform::process::SetProgramImage(u"", u""); }

  void Boot() {
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
  }

  SimulatedPc pc_;
};

TEST_F(SmartReaderTest, ReadsEveryFixedLetterAsADriveNumber) {
  Boot();
  ASSERT_EQ(GetDriveTypeW(u"A:\\"), DRIVE_FIXED);
  SmartReader reader;
  // C: -> drive 0 (all pages), D: -> 1 (thresholds fail: 0), E: -> 2 (no
  // S.M.A.R.T.: 0), P: -> 13 (no such disk: 0). A: would be drive 254,
  // outside the records: not tried. F: is removable.
  EXPECT_EQ(reader.ReadAllDrives(), 0);
  EXPECT_EQ(reader.triedCount, 4);
  EXPECT_EQ(reader.readCount, 1);
  EXPECT_EQ(SmartVersionText, u"0.0") << "the last drive read (E:) answered no version";

  struct Expect {
    int drive;
    int id;
    uint32_t raw;
    int current;
    int worst;
    int threshold;
  } attributes[] = {
      {0, 5, 1000, 100, 100, 10},     // E8 03 05 00 00 00: only the low 16 bits
      {0, 9, 0x5678, 98, 97, 0},
      {0, 194, 0x001F, 64, 40, 45},   // threshold entry in another slot, matched by id
      {0, 231, 0x0201, 99, 99, -1},   // no threshold entry
      {1, 1, 10000, 200, 200, -1},    // threshold read failed
  };
  for (const auto& a : attributes) {
    SCOPED_TRACE(testing::Message() << a.drive << "/" << a.id);
    SmartAttribute* found = reader.FindAttribute(a.drive, a.id);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->rawValue, a.raw);
    EXPECT_EQ(found->current, a.current);
    EXPECT_EQ(found->worst, a.worst);
    EXPECT_EQ(found->threshold, a.threshold);
  }
  EXPECT_EQ(reader.FindAttribute(0, 200), nullptr) << "a threshold alone makes no attribute";
  EXPECT_EQ(reader.FindAttribute(2, 5), nullptr);
  EXPECT_EQ(reader.attributeMap.size(), 5u);
  EXPECT_EQ(reader.GetDriveRecord(0).attributeCount, 4);
  EXPECT_EQ(reader.GetDriveRecord(0).driveNumber, 0);
  EXPECT_EQ(reader.GetDriveRecord(1).attributeCount, 1);
  // Numbers beyond the 32 records get an empty stand-in, never another record.
  EXPECT_EQ(reader.GetDriveRecord(254).attributeCount, 0);
  EXPECT_EQ(reader.GetDriveRecord(256 + 0).attributeCount, 4) << "only the low 8 bits count";
}

TEST_F(SmartReaderTest, IdentifyTextsEndInsideTheirFields) {
  Boot();
  SmartReader reader;
  ASSERT_EQ(reader.ReadDrive(0), 1);
  EXPECT_EQ(SmartVersionText, u"1.1");
  const BYTE* id = reader.GetDriveRecord(0).identifyData;
  EXPECT_EQ(FieldText(id + 54, 39), u"Samsung SSD 870 EV");  // 18 characters and a zero in 39 bytes
  EXPECT_EQ(FieldText(id + 20, 20), u"S3Z9NB0K1");            // 9 and a zero in 20
  EXPECT_EQ(FieldText(id + 46, 8), u"SVT");                   // 3 and a zero in 8
  EXPECT_EQ(id[40], 0x03);
  EXPECT_EQ(id[42], 0x40);
  ASSERT_EQ(reader.ReadDrive(1), 0);
  const BYTE* short_id = reader.GetDriveRecord(1).identifyData;
  EXPECT_EQ(FieldText(short_id + 54, 39), u"Short");
  EXPECT_EQ(FieldText(short_id + 20, 20), u"X");
  EXPECT_EQ(reader.ReadDrive(2), 0) << "no S.M.A.R.T. pages: the version query fails";
  EXPECT_EQ(reader.ReadDrive(9), 0) << "no such disk";
  EXPECT_EQ(reader.ReadDrive(200), 0) << "outside the records";
}

TEST(SmartDecodeIdText, OddAndFullFields) {
  struct Case {
    std::string raw;  // the field's bytes as the drive sends them
    int length;
    std::u16string text;
  } cases[] = {
      {"aSsmnu g", 8, u"Sam"},
      {"  ABCD  ", 8, u"BAD"},   // "  BADC  " trimmed, 3 characters and a zero
      {"bA", 1, u""},           // a one-byte field holds only a zero's half: empty
      {"bAdC", 3, u""},
      {"bAdCfE", 6, u"Ab"},
      {std::string("A\0CD", 4), 4, u""},  // the text ends at its first zero (after the swap: "\0A...")
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    std::vector<BYTE> field(c.raw.begin(), c.raw.end());
    field.resize(field.size() + 8, 0xCC);  // guard bytes after the field
    SmartReader::DecodeIdText(field.data(), c.length);
    std::u16string text;
    for (int i = 0; i + 1 < c.length; i += 2) {
      char16_t unit = static_cast<char16_t>(field[i] | field[i + 1] << 8);
      if (!unit) break;
      text += unit;
    }
    EXPECT_EQ(text, c.text);
    for (size_t i = static_cast<size_t>(c.length); i < field.size(); ++i)
      ASSERT_EQ(field[i], i < c.raw.size() ? static_cast<BYTE>(c.raw[i]) : 0xCC) << "byte " << i << " is outside the field";
  }
}

TEST_F(SmartReaderTest, CatalogueFromTheIniBesideTheProgram) {
  std::ofstream(pc_.folder() + "/driveP/Drum/Drummetworks.ini")
      << "[General]\r\nMax Attributes=4\r\n"
         "[Attrib0]\r\nId=5\r\nCritical=1\r\nName=Reallocated Sectors Count\r\nDetails=Sectors moved to the spare area.\r\n"
         "[Attrib1]\r\nId=194\r\nName=Temperature\r\n"
         "[Attrib2]\r\nId=5\r\nCritical=0\r\nName=Second name for 5\r\n"
         "[Attrib3]\r\nId=266\r\nName=\"Quoted\"\r\n"
         "[Attrib4]\r\nId=9\r\nName=Beyond Max Attributes\r\n";
  Boot();
  SmartReader reader;
  ASSERT_EQ(reader.catalogue.size(), 3u);
  const SmartCatalogueEntry* reallocated = reader.FindCatalogueEntry(5);
  ASSERT_NE(reallocated, nullptr);
  EXPECT_EQ(reallocated->name, u"Reallocated Sectors Count") << "a repeated id keeps the first section";
  EXPECT_EQ(reallocated->critical, 1);
  EXPECT_EQ(reallocated->details, u"Sectors moved to the spare area.");
  const SmartCatalogueEntry* temperature = reader.FindCatalogueEntry(194);
  ASSERT_NE(temperature, nullptr);
  EXPECT_EQ(temperature->critical, 0);
  EXPECT_EQ(temperature->details, u"");
  ASSERT_NE(reader.FindCatalogueEntry(266 & 0xFF), nullptr) << "the id is taken as a byte";
  EXPECT_EQ(reader.FindCatalogueEntry(266 & 0xFF)->name, u"Quoted");
  EXPECT_EQ(reader.FindCatalogueEntry(9), nullptr);
}

TEST_F(SmartReaderTest, MissingOrHostileCatalogue) {
  Boot();
  EXPECT_TRUE(SmartReader().catalogue.empty()) << "no INI file: an empty catalogue";
  // A damaged count is capped rather than looping over billions of sections;
  // a UTF-16 file with its byte-order mark reads like an ANSI one.
  std::u16string text = u"\uFEFF[General]\r\nMax Attributes=2000000000\r\n[Attrib7]\r\nId=12\r\nName=\u96FB\u6E90\r\n";
  std::ofstream out(pc_.folder() + "/driveP/Drum/Drummetworks.ini", std::ios::binary);
  for (char16_t unit : text) out.put(static_cast<char>(unit & 0xFF)).put(static_cast<char>(unit >> 8));
  out.close();
  SmartReader reader;
  ASSERT_EQ(reader.catalogue.size(), 2u) << "sections without an entry give id 0 once";
  ASSERT_NE(reader.FindCatalogueEntry(12), nullptr);
  EXPECT_EQ(reader.FindCatalogueEntry(12)->name, u"\u96FB\u6E90");
}

}  // namespace
