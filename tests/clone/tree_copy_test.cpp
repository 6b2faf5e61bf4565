// The file-level copy of a partition on simulated PCs (512- and 4096-byte
// sectors, NTFS and FAT32 destinations): contents, attributes, times, a
// folder's short name, folder links and the skip list, checked on the
// destination image with ntfs-3g's tools (ntfscat, ntfsls, ntfsinfo) or
// mtools; the verify pass that repairs a damaged file through a writable
// handle; files the copy must leave out reported; the folder nesting bound.
#include "mainapp/clone/tree_copy.h"

#include <gtest/gtest.h>

#include <functional>
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
#include "tests/support/ntfs_fuse.h"
#include "tests/support/shell.h"

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

// The records a file copy reads and moves, as a clone run starts them.
void ResetCopyState() {
  DiskContext = DiskContextRecord{};
  CloneSettings = CloneSettingsRecord{};
  CloneSettings.basicDuplication = 1;
  CloneRunState = CloneRunStateRecord{};
  CopyProgressPage = nullptr;
  ShadowSourceVolume.Empty();
  ShadowDevicePath.Empty();
  FolderDepth = 0;
}

class TreeCopyTest : public ::testing::TestWithParam<TreeCase> {
 protected:
  void SetUp() override {
    ResetCopyState();
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
    PutFile(u"C:\\Recycled2\\c", "kept");
    PutFile(u"C:\\recycled\\kept.txt", "kept");
    PutFile(u"C:\\pagefile.sys", "skip");
    PutFile(u"C:\\Data\\hiberfil.sys.old", "kept");
    // The system's own names below the root are a user's items.
    ASSERT_TRUE(CreateDirectoryW(u"C:\\Data\\RECYCLER", nullptr));
    PutFile(u"C:\\Data\\pagefile.sys", "kept");
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
  // Nor security, short names or compression: said once by the copy.
  int securitySkips() const { return ntfs() ? 0 : 1; }

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
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips() + securitySkips())
      << platform::to_utf8(CloneRunState.skippedItems.str());
  EXPECT_EQ(CloneRunState.copiedBytes, CloneRunState.operationSectors * 512);
  EXPECT_EQ(CloneRunState.operationSectors,
            kSmall.size() / 512 + kBig.size() / 512 + kReadOnly.size() / 512 + 1 / 512 + 4 / 512);
  EXPECT_EQ(CloneRunState.copyItemCount, 8)
      << "small, big, ro, x, recycled\\kept, Recycled2\\c, Data\\hiberfil.sys.old, Data\\pagefile.sys";
  EXPECT_EQ(FolderDepth, 0);

  const test_support::CopiedVolume image = Destination();
  EXPECT_TRUE(image.Cat("/Data/small.txt") == kSmall) << "/Data/small.txt";
  EXPECT_TRUE(image.Cat("/Data/Sub/big.bin") == kBig) << "/Data/Sub/big.bin";
  EXPECT_TRUE(image.Cat("/Data/ro.txt") == kReadOnly) << "/Data/ro.txt";
  EXPECT_TRUE(image.Cat("/recycled/kept.txt") == "kept") << "/recycled/kept.txt";
  const std::string root = image.List("/", "-a");
  for (const char* kept : {"Data", "recycled", "Recycled2"}) EXPECT_TRUE(Has(root, kept)) << kept << "\n" << root;
  for (const char* left : {"System Volume Information", "RECYCLER", "Recycle.Bin", "pagefile"})
    EXPECT_FALSE(Has(root, left)) << left << "\n" << root;
  EXPECT_TRUE(image.Cat("/Recycled2/c") == "kept") << "/Recycled2/c";
  EXPECT_TRUE(image.Cat("/Data/hiberfil.sys.old") == "kept") << "/Data/hiberfil.sys.old";
  EXPECT_TRUE(image.Cat("/Data/pagefile.sys") == "kept") << "/Data/pagefile.sys";
  const std::string data = image.List("/Data", "-a");
  EXPECT_TRUE(Has(data, "RECYCLER") || Has(data, "recycler")) << data;

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
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips() + securitySkips())
      << platform::to_utf8(CloneRunState.skippedItems.str());
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
  EXPECT_EQ(CloneRunState.verifyDifferingFiles, 0) << "identical files";
  EXPECT_EQ(CloneRunState.verifyUncomparedFiles, 0);
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips());

  // Damage the second chunk of the big file, and make it read-only.
  std::string damaged = kBig;
  for (size_t i = 5u << 20; i < (5u << 20) + 4096; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  PutFile(u"D:\\Data\\Sub\\big.bin", damaged);
  ASSERT_TRUE(SetFileAttributesW(u"D:\\Data\\Sub\\big.bin", FILE_ATTRIBUTE_READONLY));
  CloneRunState.skippedItemCount = 0;
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", true));
  EXPECT_EQ(CloneRunState.verifyDifferingFiles, 0) << "the chunk was rewritten and verified";
  EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips());
  EXPECT_TRUE(Destination().Cat("/Data/Sub/big.bin") == kBig) << "/Data/Sub/big.bin";
  EXPECT_EQ(GetFileAttributesW(u"D:\\Data\\Sub\\big.bin") & FILE_ATTRIBUTE_READONLY,
            static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// The verify pass counts files, never chunks: a copy it mends counts
// nothing; one that keeps differing (a rewrite the destination refuses,
// another size, missing) counts once however many of its chunks differ; one
// it cannot read counts as not compared. None of them is called an item the
// copy left out. What the copy then holds is read with the file system's tools.
TEST_P(TreeCopyTest, VerifyCountsTheFilesThatStillDifferOrWentUncompared) {
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  const std::string cut = kSmall.substr(0, 1000);
  auto damaged = [](std::string data, std::initializer_list<size_t> at) {
    for (size_t offset : at)
      for (size_t i = offset; i < offset + 4096 && i < data.size(); ++i) data[i] = static_cast<char>(~data[i]);
    return data;
  };
  // Another program holds the file open for reading and lets no one write it.
  HANDLE holder = INVALID_HANDLE_VALUE;
  auto hold = [&](const char16_t* path) {
    holder = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  };
  struct Case {
    const char* what;
    std::function<void()> change;
    int32_t differ, uncompared;
    std::function<void(const test_support::CopiedVolume&)> check;
  };
  const Case cases[] = {
      {"chunks of two files changed in place: mended",
       [&] {
         PutFile(u"D:\\Data\\Sub\\big.bin", damaged(kBig, {100, 5u << 20, 9u << 20}));
         PutFile(u"D:\\Data\\small.txt", damaged(kSmall, {0}));
       },
       0, 0,
       [&](const test_support::CopiedVolume& image) {
         EXPECT_TRUE(image.Cat("/Data/Sub/big.bin") == kBig);
         EXPECT_TRUE(image.Cat("/Data/small.txt") == kSmall);
       }},
      {"three chunks of a file that cannot be written",
       [&] {
         PutFile(u"D:\\Data\\Sub\\big.bin", damaged(kBig, {100, 5u << 20, 9u << 20}));
         hold(u"D:\\Data\\Sub\\big.bin");
       },
       1, 0,
       [&](const test_support::CopiedVolume& image) {
         EXPECT_TRUE(image.Cat("/Data/Sub/big.bin") == damaged(kBig, {100, 5u << 20, 9u << 20}));
       }},
      {"one file cut short, one grown, one deleted",
       [&] {
         PutFile(u"D:\\Data\\small.txt", cut);
         PutFile(u"D:\\Program Files Wide\\x.txt", "x and more");
         ASSERT_TRUE(DeleteFileW(u"D:\\Data\\Sub\\big.bin"));
       },
       3, 0,
       [&](const test_support::CopiedVolume& image) {
         EXPECT_TRUE(image.Cat("/Data/small.txt") == cut);
         EXPECT_FALSE(Has(image.List("/Data/Sub"), "big")) << "nothing is copied by the verify";
       }},
      {"a folder where the copy of a file should be: it cannot be read",
       [&] {
         ASSERT_TRUE(DeleteFileW(u"D:\\Data\\small.txt"));
         ASSERT_TRUE(CreateDirectoryW(u"D:\\Data\\small.txt", nullptr));
       },
       0, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each case starts from a whole copy.
    RemoveDirectoryW(u"D:\\Data\\small.txt");
    for (const auto& [path, data] : {std::pair{u"D:\\Data\\small.txt", kSmall}, std::pair{u"D:\\Data\\Sub\\big.bin", kBig},
                                     std::pair{u"D:\\Program Files Wide\\x.txt", std::string("x")}})
      PutFile(path, data);
    c.change();
    CloneRunState.verifyDifferingFiles = 0;
    CloneRunState.verifyUncomparedFiles = 0;
    CloneRunState.verifyMismatchCount = 0;
    CloneRunState.skippedItemCount = 0;
    DiskContext.ioErrorCount = 0;
    CopyPartitionContents(u"C:", u"D:", true);
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
    holder = INVALID_HANDLE_VALUE;
    EXPECT_EQ(CloneRunState.verifyDifferingFiles, c.differ);
    EXPECT_EQ(CloneRunState.verifyUncomparedFiles, c.uncompared);
    EXPECT_EQ(CloneRunState.verifyMismatchCount, 0) << "no blocks were compared";
    EXPECT_EQ(DiskContext.ioErrorCount, 0) << "no read failed";
    EXPECT_EQ(CloneRunState.skippedItemCount, linkSkips()) << platform::to_utf8(CloneRunState.skippedItems.str());
    EXPECT_EQ(CloneRunHadErrors(), c.differ + c.uncompared + linkSkips() > 0);
    if (c.check) c.check(Destination());
  }
}

TEST_P(TreeCopyTest, ItemsLeftOutAreReportedAndNestingIsBounded) {
  // The destination already holds a folder where a file must go.
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Data", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Data\\small.txt", nullptr));
  // The walk starts deep enough that Data is the last level it may enter.
  FolderDepth = kFolderDepthLimit - 1;
  EXPECT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  EXPECT_EQ(FolderDepth, kFolderDepthLimit - 1);
  EXPECT_EQ(CloneRunState.skippedItemCount, 4 + linkSkips() + securitySkips())
      << "small.txt, Data\\Sub, Data\\RECYCLER, Windows\\System32";
  EXPECT_TRUE(Has(platform::to_utf8(CloneRunState.skippedItems.str()), "C:\\Data\\small.txt"));
  EXPECT_TRUE(Has(platform::to_utf8(CloneRunState.skippedItems.str()), "C:\\Data\\Sub"));
  const test_support::CopiedVolume image = Destination();
  EXPECT_TRUE(image.Cat("/Data/ro.txt") == kReadOnly) << "/Data/ro.txt" << "the rest is copied";
  EXPECT_FALSE(Has(image.List("/Data/Sub"), "big")) << "the folder too deep is not entered";

  // A destination that names no volume (no new volume was found at the
  // planned place) fails: paths below it would name the current drive, here
  // the source itself, whose files would be written over.
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\"));
  const int32_t errors = DiskContext.ioErrorCount;
  EXPECT_FALSE(CopyPartitionContents(u"C:", u"", false));
  EXPECT_GT(DiskContext.ioErrorCount, errors);
  {
    HANDLE h = CreateFileW(u"C:\\Data\\small.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string bytes(kSmall.size() + 1, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr));
    CloseHandle(h);
    EXPECT_EQ(bytes.substr(0, got), kSmall) << "the source's file is untouched";
  }

  // A cancelled copy copies nothing more and fails.
  CloneRunState.cloneAborted = 1;
  EXPECT_FALSE(CopyPartitionContents(u"C:", u"D:", false));
}

INSTANTIATE_TEST_SUITE_P(Volumes, TreeCopyTest,
                         ::testing::Values(TreeCase{512, "ntfs"}, TreeCase{4096, "ntfs"}, TreeCase{512, "fat32"}),
                         [](const auto& info) {
                           return std::to_string(info.param.sectorSize) + "_" + info.param.destinationFs;
                         });

// A source volume made by mkntfs and filled by ntfs-3g's own driver (FUSE),
// copied onto NTFS or FAT32; the copy read with ntfs-3g's tools or mtools.
class TreeCopyOfNtfsSource : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    ResetCopyState();
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 128ull << 20});
    pc.AddDisk(DiskSpec{.number = 1, .sizeBytes = 128ull << 20, .serial = "SN0002"});
    pc.WriteMbr(0, {{.start = kStart, .count = kCount, .mbrType = 0x07, .fs = "ntfs", .label = "SOURCEVOL"}});
    pc.WriteMbr(1, {{.start = kStart, .count = kCount, .mbrType = static_cast<uint8_t>(ntfs() ? 0x07 : 0x0C),
                     .fs = GetParam(), .label = "EMPTY"}});
  }

  // Fills the source through ntfs-3g, then starts the PC. False (and the test
  // skips) where FUSE cannot mount.
  bool FillSource(const std::function<void(test_support::NtfsFuseVolume&)>& fill) {
    const std::string image = pc.ExtractVolume(0, kStart, kCount, "source.img");
    {
      test_support::NtfsFuseVolume fuse(image);
      if (!fuse.mounted()) return false;
      fill(fuse);
      EXPECT_TRUE(fuse.Unmount());
    }
    EXPECT_EQ(test_support::Shell("dd if=" + image + " of=" + pc.Image(0) + " bs=512 seek=" + std::to_string(kStart) +
                                  " conv=notrunc,sparse"),
              0);
    pc.Boot();
    return true;
  }

  test_support::CopiedVolume Destination() {
    platform::fs::ReleaseAllDrivers();
    return test_support::CopiedVolume(pc.ExtractVolume(1, kStart, kCount, "destination.img"), GetParam());
  }
  std::string Skipped() const { return platform::to_utf8(CloneRunState.skippedItems.str()); }
  bool ntfs() const { return GetParam() == "ntfs"; }

  static constexpr uint64_t kStart = 2048, kCount = (96ull << 20) / 512;
  SimulatedPc pc;
};

// The inode number ntfsinfo reports for an item.
std::string InodeOf(const test_support::CopiedVolume& image, const std::string& path) {
  const std::string info = image.NtfsInfo(path);
  const size_t at = info.find("Dumping Inode ");
  return at == std::string::npos ? std::string("none") : info.substr(at, info.find('\n', at) - at);
}

TEST_P(TreeCopyOfNtfsSource, HardLinksStayLinksWhereTheDestinationHoldsThem) {
  if (!FillSource([](test_support::NtfsFuseVolume& v) {
        ASSERT_TRUE(v.Put("/a.txt", "linked bytes"));
        ASSERT_EQ(v.Run("mkdir Data Other && mv a.txt Data/ && ln Data/a.txt Data/b.txt && "
                        "ln Data/a.txt Other/c.txt"),
                  0);
      }))
    GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  const test_support::CopiedVolume image = Destination();
  for (const char* name : {"/Data/a.txt", "/Data/b.txt", "/Other/c.txt"})
    EXPECT_EQ(image.Cat(name), "linked bytes") << name << "\n" << image.List("/Data");
  if (ntfs()) {
    EXPECT_EQ(CloneRunState.skippedItemCount, 0) << Skipped();
    const std::string a = InodeOf(image, "/Data/a.txt");
    EXPECT_EQ(InodeOf(image, "/Data/b.txt"), a) << "one file under two names in one folder";
    EXPECT_EQ(InodeOf(image, "/Other/c.txt"), a) << "and a third name elsewhere";
    EXPECT_TRUE(Has(image.NtfsInfo("/Data/a.txt"), "Number of Hard Links:\t 3")) << image.NtfsInfo("/Data/a.txt");
  } else {
    // FAT keeps no hard links: the further names are separate files, and said
    // so (after the line on the security FAT keeps none of).
    EXPECT_EQ(CloneRunState.skippedItemCount, 3) << Skipped();
    EXPECT_TRUE(Has(Skipped(), "C:\\Data\\b.txt: ") && Has(Skipped(), "C:\\Other\\c.txt: ")) << Skipped();
  }
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }
std::vector<uint8_t> Le64(uint64_t v) {
  std::vector<uint8_t> b(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  return b;
}

TEST_P(TreeCopyOfNtfsSource, LinksStayLinksPointingIntoTheCopy) {
  using disk_fixture::LinkData;
  const auto relative = LinkData(IO_REPARSE_TAG_SYMLINK, u"..\\Target", u"..\\Target", 1);
  if (!FillSource([&](test_support::NtfsFuseVolume& v) {
        ASSERT_EQ(v.Run("mkdir -p Target Dir/rel J && touch abs.txt"), 0);
        ASSERT_TRUE(v.Put("/Target/inner", "inner bytes"));
        ASSERT_TRUE(v.SetAttribute("/Dir/rel", "system.ntfs_reparse_data", relative));
        ASSERT_TRUE(v.SetAttribute(
            "/abs.txt", "system.ntfs_reparse_data",
            LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\C:\\Target\\inner", u"C:\\Target\\inner", 0)));
        ASSERT_TRUE(v.SetAttribute("/J", "system.ntfs_reparse_data",
                                   LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\Target", u"C:\\Target")));
        // The link folder's own attributes and times.
        ASSERT_TRUE(v.SetAttribute("/J", "system.ntfs_attrib", std::vector<uint8_t>{0x06, 0, 0, 0}));  // hidden, system
        std::vector<uint8_t> times;
        for (int i = 0; i < 3; ++i) {
          const std::vector<uint8_t> t = Le64(kStamp);
          times.insert(times.end(), t.begin(), t.end());
        }
        ASSERT_TRUE(v.SetAttribute("/J", "system.ntfs_times", times));
      }))
    GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  const test_support::CopiedVolume image = Destination();
  if (!ntfs()) {
    // FAT holds no links: each is listed, a file link's target is copied.
    EXPECT_EQ(CloneRunState.skippedItemCount, 4) << Skipped();
    for (const char* name : {"abs.txt", "J", "rel"}) EXPECT_TRUE(Has(Skipped(), name)) << Skipped();
    EXPECT_EQ(image.Cat("/abs.txt"), "inner bytes");
    return;
  }
  EXPECT_EQ(CloneRunState.skippedItemCount, 0) << Skipped();
  // The copy read back by ntfs-3g.
  test_support::NtfsFuseVolume copy(image.image(), true);
  ASSERT_TRUE(copy.mounted());
  EXPECT_EQ(copy.Attribute("/Dir/rel", "system.ntfs_reparse_data"), relative) << "a relative link as it is";
  EXPECT_EQ(copy.Attribute("/abs.txt", "system.ntfs_reparse_data"),
            LinkData(IO_REPARSE_TAG_SYMLINK, u"\\??\\D:\\Target\\inner", u"D:\\Target\\inner", 0))
      << "an absolute link into the copied volume points into the copy";
  EXPECT_EQ(copy.Attribute("/J", "system.ntfs_reparse_data"),
            LinkData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\D:\\Target", u"D:\\Target"));
  ASSERT_TRUE(copy.Unmount());
  EXPECT_EQ(image.Cat("/abs.txt"), "") << "a file link stays a link, not a copy of its target";
  const std::string info = image.NtfsInfo("/J");
  EXPECT_TRUE(Has(info, "HIDDEN") && Has(info, "SYSTEM")) << info;
  EXPECT_TRUE(Has(info, "File Creation Time:\t Fri Mar  4 05:06:07 2011")) << info;
}

// A 200 MiB sparse file holding 2 MiB of data, onto a 96 MiB volume: NTFS
// keeps it sparse and whole; FAT cannot hold it, and the copy says so.
TEST_P(TreeCopyOfNtfsSource, SparseFilesStaySparseOrAreNamedWhenTheyDoNotFit) {
  const std::string make =
      "truncate -s 200M sparse.bin && yes sparse-data | head -c 1048576 | dd of=sparse.bin bs=1M seek=10 "
      "conv=notrunc status=none && yes tail-data | head -c 1048576 | dd of=sparse.bin bs=1M seek=199 conv=notrunc "
      "status=none";
  ASSERT_EQ(test_support::Shell("cd " + pc.folder() + " && " + make), 0);
  const std::string reference = pc.folder() + "/sparse.bin";
  if (!FillSource([&](test_support::NtfsFuseVolume& v) { ASSERT_EQ(v.Run(make), 0); }))
    GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
  {
    platform::fs::ReleaseAllDrivers();
    const test_support::CopiedVolume source(pc.ExtractVolume(0, kStart, kCount, "source-check.img"), "ntfs");
    ASSERT_TRUE(Has(source.Attributes("/sparse.bin"), "SPARSE")) << "ntfs-3g made the source sparse";
  }
  const bool copied = CopyPartitionContents(u"C:", u"D:", false);
  const test_support::CopiedVolume image = Destination();
  if (ntfs()) {
    EXPECT_TRUE(copied);
    EXPECT_EQ(CloneRunState.skippedItemCount, 0) << Skipped();
    EXPECT_TRUE(image.SameBytes("/sparse.bin", reference)) << "every byte, holes as zeros";
    EXPECT_TRUE(Has(image.Attributes("/sparse.bin"), "SPARSE")) << image.NtfsInfo("/sparse.bin");
    std::string report;
    EXPECT_TRUE(image.Consistent(&report)) << report;
  } else {
    EXPECT_EQ(CloneRunState.skippedItemCount, 2) << Skipped();
    EXPECT_TRUE(Has(Skipped(), "C:\\sparse.bin")) << Skipped();
    EXPECT_GT(DiskContext.ioErrorCount, 0) << "the run does not say complete";
    std::string report;
    EXPECT_TRUE(image.Consistent(&report)) << report;
  }
}

using clone_fixture::DescriptorParts;
using clone_fixture::FillKeptItems;
using clone_fixture::OwnDescriptor;

TEST_P(TreeCopyOfNtfsSource, StreamsSecurityShortNamesAndCompressionAreKeptOrListed) {
  if (!FillSource(FillKeptItems)) GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
  {
    platform::fs::ReleaseAllDrivers();
    const test_support::CopiedVolume source(pc.ExtractVolume(0, kStart, kCount, "source-check.img"), "ntfs");
    ASSERT_TRUE(source.StoredCompressed("/Packed/c.txt")) << source.NtfsInfo("/Packed/c.txt");
    ASSERT_TRUE(source.StoredCompressed("/Packed.txt")) << source.NtfsInfo("/Packed.txt");
  }
  ASSERT_TRUE(CopyPartitionContents(u"C:", u"D:", false));
  const test_support::CopiedVolume image = Destination();
  EXPECT_EQ(image.Cat("/Doc.txt"), "main data");
  EXPECT_EQ(image.Cat("/Packed/c.txt"), std::string(256 * 1024, 'z'));
  if (!ntfs()) {
    // Listed: the two items' streams, and once what FAT keeps none of.
    EXPECT_EQ(CloneRunState.skippedItemCount, 3) << Skipped();
    EXPECT_TRUE(Has(Skipped(), "C:\\Doc.txt: ") && Has(Skipped(), "C:\\Folder: ")) << Skipped();
    return;
  }
  EXPECT_EQ(CloneRunState.skippedItemCount, 0) << Skipped();
  clone_fixture::ExpectCompressionAndShortNameKept(image, "");
  test_support::NtfsFuseVolume copy(image.image(), true);
  ASSERT_TRUE(copy.mounted());
  EXPECT_EQ(copy.Attribute("/Doc.txt", "user.Zone.Identifier"), Bytes("[ZoneTransfer]\r\nZoneId=3\r\n"));
  EXPECT_EQ(copy.Attribute("/Folder", "user.note"), Bytes("a folder's own stream"));
  EXPECT_EQ(DescriptorParts(copy.Attribute("/Doc.txt", "system.ntfs_acl")), DescriptorParts(OwnDescriptor()));
  EXPECT_TRUE(copy.Unmount());
}

INSTANTIATE_TEST_SUITE_P(Destinations, TreeCopyOfNtfsSource, ::testing::Values("ntfs", "fat32"),
                         [](const auto& info) { return info.param; });

// Paths below the volume root: only the system's own items at the root are
// left out, in any case; a user's item of a similar name, or of the same name
// deeper down, is copied.
TEST(TreeCopySkipList, OnlyTheSystemsOwnItemsAtTheRoot) {
  struct Case {
    const char16_t* path;  // below the volume root
    bool folder;
    bool skipped;
  } cases[] = {
      {u"pagefile.sys", false, true},
      {u"hiberfil.sys", false, true},
      {u"swapfile.sys", false, true},
      {u"PAGEFILE.SYS", false, true},
      {u"System Volume Information", true, true},
      {u"system volume information", true, true},
      {u"$Recycle.Bin", true, true},
      {u"RECYCLER", true, true},
      {u"recycler", true, true},
      {u"Recycled", true, true},
      {u"RECYCLED", true, true},
      {u"recycled", true, false},
      {u".", true, true},
      {u"..", true, true},
      {u"Recycled paper.docx", false, false},
      {u"Recycled2", true, false},
      {u"Docs\\Recycled2\\keep.txt", false, false},
      {u"Docs\\hiberfil.sys.old", false, false},
      {u"hiberfil.sys.old", false, false},
      {u"notes on pagefile.sys.txt", false, false},
      {u"Docs\\recycler", true, false},
      {u"Docs\\pagefile.sys", false, false},
      {u"Docs\\System Volume Information", true, false},
      {u"pagefile.sys", true, false},
      {u"RECYCLER", false, false},
  };
  for (const auto& c : cases) {
    const CString path(c.path);
    const int cut = path.ReverseFind(u'\\');
    EXPECT_EQ(IsSkippedEntry(path.Mid(cut + 1), c.folder, cut < 0), c.skipped)
        << platform::to_utf8(c.path) << (c.folder ? " (folder)" : " (file)");
  }
}

}  // namespace
