// The file-level copy of a partition on simulated PCs (512- and 4096-byte
// sectors, NTFS and FAT32 destinations): contents, attributes, times, a
// folder's short name, folder links and the skip list, checked on the
// destination image with ntfs-3g's tools (ntfscat, ntfsls, ntfsinfo) or
// mtools; the verify pass that repairs a damaged file through a writable
// handle; files the copy must leave out reported; the folder nesting bound.
#include "mainapp/clone/tree_copy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clone/clone_fixture.h"
#include "disk/disk_access.h"
#include "disk/fixture_images.h"
#include "disk/reparse_points.h"
#include "disk/shadow_copy.h"
#include "disk/volume_space.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "tests/support/copied_volume.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

struct TreeCase {
  uint32_t sectorSize;
  std::string destinationFs;  // "ntfs" or "fat32"
};
void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.sectorSize << " " << c.destinationFs; }

const std::string kSmall = disk_fixture::Pattern(5000, 1);
const std::string kBig = disk_fixture::Pattern((9u << 20) + 1234, 2);  // three 4 MiB chunks
const std::string kReadOnly = "read only and hidden";

using clone_fixture::PutFile;
using clone_fixture::SetJunction;

using clone_fixture::SetTimes;

// 2011-03-04 05:06:07 UTC in FILETIME units.
constexpr uint64_t kStamp = 129436887670000000ull;

class TreeCopyTest : public ::testing::TestWithParam<TreeCase> {
 protected:
  void SetUp() override {
    DiskContext = DiskContextRecord{};
    CloneSettings = CloneSettingsRecord{};
    CloneSettings.basicDuplication = 1;
    CloneRunState = CloneRunStateRecord{};
    CopyProgressPage = nullptr;
    ShadowSourceVolume.Empty();
    ShadowDevicePath.Empty();
    FolderDepth = 0;
    ss = GetParam().sectorSize;
    start = (1u << 20) / ss;
    count = (160ull << 20) / ss;
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 256ull << 20, .sectorSize = ss});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 256ull << 20, .sectorSize = ss, .serial = "SN0002"});
    pc.WriteMbr(0, {{.start = start, .count = count, .mbrType = 0x07, .fs = "ntfs", .label = "SOURCEVOL"}});
    const bool ntfs = GetParam().destinationFs == "ntfs";
    pc.WriteMbr(1, {{.start = start, .count = count, .mbrType = static_cast<uint8_t>(ntfs ? 0x07 : 0x0C),
                     .fs = GetParam().destinationFs, .label = "EMPTY"}});
    pc.Boot();
    MakeSourceTree();
  }

  void MakeSourceTree() {
    for (const char16_t* folder :
         {u"C:\\Data", u"C:\\Data\\Sub", u"C:\\Program Files Wide", u"C:\\System Volume Information",
          u"C:\\RECYCLER", u"C:\\$Recycle.Bin", u"C:\\Recycled2", u"C:\\recycled", u"C:\\Junction",
          u"C:\\ProgramData", u"C:\\Users", u"C:\\Users\\All Users", u"C:\\Windows", u"C:\\Windows\\System32"})
      ASSERT_TRUE(CreateDirectoryW(folder, nullptr)) << platform::to_utf8(folder);
    PutFile(u"C:\\Data\\small.txt", kSmall);
    PutFile(u"C:\\Data\\Sub\\big.bin", kBig);
    PutFile(u"C:\\Data\\ro.txt", kReadOnly);
    PutFile(u"C:\\Program Files Wide\\x.txt", "x");
    PutFile(u"C:\\System Volume Information\\tracking.log", "skip");
    PutFile(u"C:\\RECYCLER\\a", "skip");
    PutFile(u"C:\\$Recycle.Bin\\b", "skip");
    PutFile(u"C:\\Recycled2\\c", "skip");
    PutFile(u"C:\\recycled\\kept.txt", "kept");
    PutFile(u"C:\\pagefile.sys", "skip");
    PutFile(u"C:\\Data\\hiberfil.sys.old", "skip");
    SetTimes(u"C:\\Data\\small.txt", kStamp, false);
    SetTimes(u"C:\\Data\\Sub", kStamp + 10000000, true);
    ASSERT_TRUE(SetFileAttributesW(u"C:\\Data\\ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    // The folder's short name as Windows would have made it.
    HANDLE folder = CreateFileW(u"C:\\Program Files Wide", GENERIC_ALL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    EnableRestorePrivilege();
    ASSERT_TRUE(SetFileShortNameW(folder, u"PROGRA~7"));
    CloseHandle(folder);
    // A junction to another folder of the volume.
    // Junctions to other folders of the volume; "All Users" is made again by
    // a command script (cmd.exe is found in the system folder C:\Windows\System32).
    SetJunction(u"C:\\Junction", u"C:\\Data");
    SetJunction(u"C:\\Users\\All Users", u"C:\\ProgramData");
  }

  // The destination volume, read with its file system's own tools.
  test_support::CopiedVolume Destination() {
    platform::fs::ReleaseAllDrivers();
    return test_support::CopiedVolume(pc.ExtractVolume(1, start, count, "destination.img"), GetParam().destinationFs);
  }

  bool ntfs() const { return GetParam().destinationFs == "ntfs"; }
  // A FAT volume holds no links: both junctions are reported as left out.
  int linkSkips() const { return ntfs() ? 0 : 2; }

  uint32_t ss = 512;
  uint64_t start = 0, count = 0;
  SimulatedPc pc;
};

bool Has(const std::string& listing, const std::string& name) {
  return listing.find(name) != std::string::npos;
}

TEST_P(TreeCopyTest, CopiesTheTreeWithItsMetadataAndLeavesOutSystemItems) {
  CloneRunState.copyDescription = u"Copying";
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips()) << platform::to_utf8(CloneRunState.skippedItems.str());
  EXPECT_EQ(CloneRunState.copiedBytes, CloneRunState.operationSectors * 512);
  EXPECT_EQ(CloneRunState.operationSectors,
            kSmall.size() / 512 + kBig.size() / 512 + kReadOnly.size() / 512 + 1 / 512 + 4 / 512);
  EXPECT_EQ(CloneRunState.copyItemCount, 5) << "small, big, ro, x, kept";
  EXPECT_EQ(FolderDepth, 0);

  const test_support::CopiedVolume image = Destination();
  EXPECT_TRUE(image.Cat("/Data/small.txt") == kSmall) << "/Data/small.txt";
  EXPECT_TRUE(image.Cat("/Data/Sub/big.bin") == kBig) << "/Data/Sub/big.bin";
  EXPECT_TRUE(image.Cat("/Data/ro.txt") == kReadOnly) << "/Data/ro.txt";
  EXPECT_TRUE(image.Cat("/recycled/kept.txt") == "kept") << "/recycled/kept.txt";
  const std::string root = image.List("/", "-a");
  for (const char* kept : {"Data", "recycled"}) EXPECT_TRUE(Has(root, kept)) << kept << "\n" << root;
  for (const char* left : {"System Volume Information", "RECYCLER", "Recycle.Bin", "Recycled2", "pagefile"})
    EXPECT_FALSE(Has(root, left)) << left << "\n" << root;
  EXPECT_FALSE(Has(image.List("/Data", "-a"), "hiberfil")) << "any path holding HIBERFIL.SYS";

  std::string info;
  if (ntfs()) {
    // Times of a file and of a folder, the attributes, the folder's short name.
    info = image.ListWithTimes("/Data");
    EXPECT_TRUE(Has(info, "Mar  4 05:06 2011 small.txt")) << info;
    EXPECT_TRUE(Has(info, "Mar  4 05:06 2011 Sub")) << "a folder's times\n" << info;
    info = image.Attributes("/Data/ro.txt");
    EXPECT_TRUE(Has(info, "READONLY") && Has(info, "HIDDEN")) << info;
    info = image.List("/", "-x");
    EXPECT_TRUE(Has(info, "PROGRA~7")) << info;
    info = image.NtfsInfo("/Junction");
    EXPECT_TRUE(Has(info, "$REPARSE_POINT")) << "the link is made again\n" << info;
    info = image.NtfsInfo("/Users/All Users");
    EXPECT_TRUE(Has(info, "$REPARSE_POINT")) << "All Users is made by mklink\n" << info;
    EXPECT_FALSE(Has(image.List("/", "-a"), "drummet.cmd")) << "the script is deleted";
    info = image.Label();
    EXPECT_TRUE(Has(info, "SOURCEVOL")) << info;
  } else {
    info = image.ListWithTimes("/Data");
    EXPECT_TRUE(Has(info, "2011-03-04")) << info;
    info = image.Attributes("/Data/ro.txt");
    EXPECT_TRUE(Has(info, "R") && Has(info, "H")) << info;
    info = image.Label();
    EXPECT_TRUE(Has(info, "SOURCEVOL")) << info;
    EXPECT_TRUE(image.Consistent(&info)) << info;
  }
}

// The clone copies from a shadow copy of the source: the files come through
// the shadow device path, the short names and links from the live volume.
TEST_P(TreeCopyTest, CopiesFromAShadowCopyOfTheSource) {
  // As the clone's source preparation leaves them.
  ShadowSourceVolume = u"C:";
  ShadowDevicePath = CreateShadowCopy(u"C:");
  const CString shadow = ShadowDevicePath;
  ASSERT_FALSE(shadow.IsEmpty());
  ASSERT_TRUE(CopyPartitionContents(shadow, u"D:", false));
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips()) << platform::to_utf8(CloneRunState.skippedItems.str());
  ReleaseShadowCopy();
  const test_support::CopiedVolume image = Destination();
  EXPECT_TRUE(image.Cat("/Data/Sub/big.bin") == kBig);
  EXPECT_TRUE(image.Cat("/Data/ro.txt") == kReadOnly);
  if (ntfs()) {
    std::string info = image.List("/", "-x");
    EXPECT_TRUE(Has(info, "PROGRA~7")) << info;
    info = image.NtfsInfo("/Junction");
    EXPECT_TRUE(Has(info, "$REPARSE_POINT")) << info;
  }
}

TEST_P(TreeCopyTest, VerifyRepairsADamagedFileThroughAWritableHandle) {
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  CloneRunState.operationSectors = 0;
  CloneRunState.skippedItemCount = 0;
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", true));
  EXPECT_EQ(CloneRunState.verifyMismatchCount, 0) << "identical files";
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips());

  // Damage the second chunk of the big file, and make it read-only.
  std::string damaged = kBig;
  for (size_t i = 5u << 20; i < (5u << 20) + 4096; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  PutFile(u"D:\\Data\\Sub\\big.bin", damaged);
  ASSERT_TRUE(SetFileAttributesW(u"D:\\Data\\Sub\\big.bin", FILE_ATTRIBUTE_READONLY));
  CloneRunState.skippedItemCount = 0;
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", true));
  EXPECT_EQ(CloneRunState.verifyMismatchCount, 0) << "the chunk was rewritten and verified";
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips());
  EXPECT_TRUE(Destination().Cat("/Data/Sub/big.bin") == kBig) << "/Data/Sub/big.bin";
  EXPECT_EQ(GetFileAttributesW(u"D:\\Data\\Sub\\big.bin") & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST_P(TreeCopyTest, ItemsLeftOutAreReportedAndNestingIsBounded) {
  // The destination already holds a folder where a file must go.
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Data", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Data\\small.txt", nullptr));
  // The walk starts deep enough that Data is the last level it may enter.
  FolderDepth = kFolderDepthLimit - 1;
  EXPECT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  EXPECT_EQ(FolderDepth, kFolderDepthLimit - 1);
  EXPECT_EQ(CloneRunState.skippedItemCount, 3 + linkSkips()) << "small.txt, Data\\Sub, Windows\\System32";
  EXPECT_TRUE(Has(platform::to_utf8(CloneRunState.skippedItems.str()), "C:\\Data\\small.txt"));
  EXPECT_TRUE(Has(platform::to_utf8(CloneRunState.skippedItems.str()), "C:\\Data\\Sub"));
  const test_support::CopiedVolume image = Destination();
  EXPECT_TRUE(image.Cat("/Data/ro.txt") == kReadOnly) << "/Data/ro.txt" << "the rest is copied";
  EXPECT_FALSE(Has(image.List("/Data/Sub"), "big")) << "the folder too deep is not entered";

  // A cancelled copy copies nothing more and fails.
  CloneRunState.cloneAborted = 1;
  EXPECT_FALSE(CopyPartitionContents(u"C:", u"D:", false));
}

INSTANTIATE_TEST_SUITE_P(Volumes, TreeCopyTest,
                         ::testing::Values(TreeCase{512, "ntfs"}, TreeCase{4096, "ntfs"}, TreeCase{512, "fat32"}),
                         [](const auto& info) {
                           return std::to_string(info.param.sectorSize) + "_" + info.param.destinationFs;
                         });

TEST(TreeCopySkipList, NamesAndPaths) {
  struct Case {
    const char16_t* name;
    const char16_t* path;
    bool folder;
    bool skipped;
  } cases[] = {
      {u"System Volume Information", u"C:\\System Volume Information", true, true},
      {u"system volume information", u"C:\\system volume information", true, false},
      {u"RECYCLER", u"C:\\RECYCLER", true, true},
      {u"recycler", u"C:\\recycler", true, true},
      {u"$Recycle.Bin", u"C:\\$Recycle.Bin", true, true},
      {u"Recycled", u"C:\\Recycled", true, true},
      {u"Recycled2", u"C:\\Recycled2", true, true},
      {u"recycled", u"C:\\recycled", true, false},
      {u".", u"C:\\.", true, true},
      {u"..", u"C:\\..", true, true},
      {u"hiberfil.sys.old", u"D:\\Data\\hiberfil.sys.old", false, true},
      {u"pagefile.sys", u"C:\\pagefile.sys", false, true},
      {u"pagefile.sys", u"C:\\pagefile.sys", true, false},
      {u"notes.txt", u"C:\\Data\\notes.txt", false, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSkippedEntry(c.name, c.path, c.folder), c.skipped) << platform::to_utf8(c.path) << " " << c.folder;
}

}  // namespace
