// The records of a whole-disk choice on a simulated PC: a GPT disk, an MBR
// disk of 4096-byte sectors and an empty disk, each listed from its probed
// model. Choices that name no listed disk, or the same disk twice, change
// nothing. A listed index and a physical number do not stand in for each
// other at the records and the lookups between them: a mix-up does not compile.
#include <gtest/gtest.h>

#include <concepts>
#include <string>
#include <type_traits>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "mainapp/clone/raw_copy.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/records/whole_disk_choice.h"
#include "platform/core/text.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "tests/disk/fixture_images.h"

namespace {

static_assert(!std::is_convertible_v<ListedDiskIndex, PhysicalDiskNumber>);
static_assert(!std::is_convertible_v<PhysicalDiskNumber, ListedDiskIndex>);
static_assert(!std::is_convertible_v<int32_t, ListedDiskIndex> && !std::is_convertible_v<ListedDiskIndex, int32_t>);
static_assert(!std::is_convertible_v<int32_t, PhysicalDiskNumber> && !std::is_convertible_v<PhysicalDiskNumber, int32_t>);
static_assert(!std::equality_comparable_with<ListedDiskIndex, PhysicalDiskNumber>);
static_assert(!std::equality_comparable_with<ListedDiskIndex, int32_t>);
static_assert(!std::equality_comparable_with<PhysicalDiskNumber, int32_t>);
// The records' fields take only their own kind of number.
static_assert(!std::is_assignable_v<decltype((CloneSettings.chosenDestinationDisk)), PhysicalDiskNumber>);
static_assert(!std::is_assignable_v<decltype((CloneSettings.copySourceDisk)), PhysicalDiskNumber>);
static_assert(!std::is_assignable_v<decltype((CloneSettings.sourceDisk)), int32_t>);
static_assert(!std::is_assignable_v<decltype((DestinationSelection.diskNumber)), ListedDiskIndex>);
static_assert(!std::is_assignable_v<decltype((DiskContext.systemDisk)), ListedDiskIndex>);
static_assert(!std::is_assignable_v<decltype((DiskContext.destinationDisk)), PhysicalDiskNumber>);
// The lookups and the routines that take listed indexes refuse physical numbers
// (and take their own).
static_assert(std::is_invocable_v<decltype(&ListedPhysicalDisk), ListedDiskIndex>);
static_assert(std::is_invocable_v<decltype(&ListedIndexOfPhysical), PhysicalDiskNumber>);
static_assert(std::is_invocable_v<decltype(&CopyDiskSectors), CWnd*, ListedDiskIndex, ListedDiskIndex, RawPass>);
static_assert(!std::is_invocable_v<decltype(&ListedPhysicalDisk), PhysicalDiskNumber>);
static_assert(!std::is_invocable_v<decltype(&ListedIndexOfPhysical), ListedDiskIndex>);
static_assert(!std::is_invocable_v<decltype(&ListedSize), PhysicalDiskNumber>);
static_assert(!std::is_invocable_v<decltype(&RecordWholeDiskChoice), PhysicalDiskNumber, PhysicalDiskNumber>);
static_assert(!std::is_invocable_v<decltype(&CopyDiskSectors), CWnd*, PhysicalDiskNumber, PhysicalDiskNumber, RawPass>);
// The records keep their layout: each number is one int32_t.
static_assert(sizeof(ListedDiskIndex) == sizeof(int32_t) && std::is_trivially_copyable_v<ListedDiskIndex>);
static_assert(sizeof(PhysicalDiskNumber) == sizeof(int32_t) && std::is_trivially_copyable_v<PhysicalDiskNumber>);

using disk_fixture::DiskSpec;
using disk_fixture::Part;

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }
std::string Utf8(const WCHAR* s) { return platform::to_utf8(std::u16string(s)); }

class WholeDiskChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pc_.AddDisk(DiskSpec{.number = 0, .sizeBytes = 128ull << 20, .product = "Gpt Disk"});
    pc_.WriteGpt(0, {{.start = 2048, .count = 32 * 2048}});
    pc_.AddDisk(DiskSpec{.number = 1, .sizeBytes = 256ull << 20, .sectorSize = 4096, .product = "Mbr Disk"});
    pc_.WriteMbr(1, {{.start = 256, .count = 16 * 256, .mbrType = 0x07}});
    pc_.AddDisk(DiskSpec{.number = 2, .sizeBytes = 64ull << 20, .product = "Empty Disk"});
    pc_.Boot();
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"IDS_Drive", u"Disk "};
    LanguageTable.languageLineCount = 1;
    DiskContext = DiskContextRecord{};
    DiskContext.diskCount = ReadDiskCount();
    EnumerateDisks();
    CloneSettings = CloneSettingsRecord{};
    DiskSelection = DiskSelectionRecord{};
    DestinationSelection = DiskSelectionRecord{};
  }
  void TearDown() override {
    LanguageTable = LanguageTableRecord{};
    DiskContext = DiskContextRecord{};
    CloneSettings = CloneSettingsRecord{};
  }
  disk_fixture::SimulatedPc pc_;
};

TEST_F(WholeDiskChoiceTest, SnapshotOfSourceAndDestination) {
  struct Case {
    int32_t source, destination;
    int32_t sourceIsGpt;
    const char* sourceModel;
    const char* destinationModel;
  } cases[] = {
      {0, 1, 1, "Gpt Disk", "Mbr Disk"},
      {1, 2, 0, "Mbr Disk", "Empty Disk"},
      {2, 0, 0, "Empty Disk", "Gpt Disk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    CloneSettings.systemMigration = 1;
    CloneSettings.migrationPartitionCount = 3;
    CloneSettings.sourceMapItem = 4;
    CloneSettings.copySourceStart = 999;
    CloneSettings.sourceIsGpt = 7;
    ASSERT_TRUE(RecordWholeDiskChoice(ListedDiskIndex{c.source}, ListedDiskIndex{c.destination}));
    const uint64_t size = DiskContext.listedDiskSize[c.source + 1];
    EXPECT_GT(size, 0u);
    EXPECT_EQ(CloneSettings.copySourceDisk.value, c.source);
    EXPECT_EQ(CloneSettings.copySourceStart, 0u);
    EXPECT_EQ(CloneSettings.copySourceLength, size);
    EXPECT_EQ(CloneSettings.sourceIsGpt, c.sourceIsGpt);
    EXPECT_EQ(CloneSettings.systemMigration, 0);
    EXPECT_EQ(CloneSettings.migrationPartitionCount, 0);
    EXPECT_EQ(CloneSettings.sourceMapItem, -1);
    EXPECT_EQ(Utf8(CloneSettings.sourceName), "Disk " + std::to_string(c.source));
    // The physical numbers equal the listed indexes on this machine.
    const std::string sourceText = Utf8(CloneSettings.sourceDescription);
    EXPECT_TRUE(sourceText.starts_with("Disk " + std::to_string(c.source) + ":")) << sourceText;
    EXPECT_NE(sourceText.find(c.sourceModel), std::string::npos) << sourceText;
    EXPECT_TRUE(sourceText.ends_with(" " + Utf8(FormatSectorCount(size)))) << sourceText;
    const std::string destinationText = Utf8(CloneSettings.destinationDescription);
    EXPECT_TRUE(destinationText.starts_with("Disk " + std::to_string(c.destination) + ":")) << destinationText;
    EXPECT_NE(destinationText.find(c.destinationModel), std::string::npos) << destinationText;
    EXPECT_EQ(DiskSelection.diskNumber.value, c.source);
    EXPECT_NE(Utf8(DiskSelection.model).find(c.sourceModel), std::string::npos);
    EXPECT_EQ(DestinationSelection.diskNumber.value, c.destination);
    EXPECT_NE(Utf8(DestinationSelection.model).find(c.destinationModel), std::string::npos);
  }
}

TEST_F(WholeDiskChoiceTest, ChoicesWithoutTwoListedDisksChangeNothing) {
  struct Case {
    const char* what;
    int32_t source, destination;
  } cases[] = {
      {"same disk", 1, 1},          {"no source", -1, 1},           {"no destination", 0, -1},
      {"unlisted number", 0, 3},    {"past the table", 15, 0},      {"far past the table", 0, 1 << 30},
  };
  CloneSettings.copySourceDisk = ListedDiskIndex{11};
  CloneSettings.sourceName = u"before";
  DiskSelection.diskNumber = PhysicalDiskNumber{12};
  DestinationSelection.diskNumber = PhysicalDiskNumber{13};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(RecordWholeDiskChoice(ListedDiskIndex{c.source}, ListedDiskIndex{c.destination}));
    EXPECT_EQ(CloneSettings.copySourceDisk.value, 11);
    EXPECT_EQ(Utf8(CloneSettings.sourceName), "before");
    EXPECT_EQ(DiskSelection.diskNumber.value, 12);
    EXPECT_EQ(DestinationSelection.diskNumber.value, 13);
  }
}

}  // namespace
