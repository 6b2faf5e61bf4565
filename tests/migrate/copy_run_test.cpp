// The migration's copy run on simulated disks: a tree with long and short
// names, deep folders, read-only, hidden and system files, set times, a
// file with its own access-control list, a junction and a 300 MiB file,
// copied from NTFS to NTFS and to FAT32, checked on the destination images
// with ntfs-3g's tools (ntfsls, ntfscat, ntfsinfo, ntfssecaudit) and mtools.
// A file held open without sharing is copied through the shadow copy.
// Errors: a full destination, an unreadable file and a destination inside
// the source are reported per file and in the outcome, and no partial copy
// is left behind.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <memory>

#include "clone/clone_fixture.h"
#include "disk/disk_context.h"
#include "disk/shadow_copy.h"
#include "disk/volume_space.h"
#include "fixture_migrate_pc.h"
#include "mainapp/migrate/migration_copy.h"
#include "mainapp/migrate/migration_state.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "tests/support/copied_volume.h"
#include "tests/support/ntfs_fuse.h"

namespace {

using clone_fixture::PutFile;
using disk_fixture::Shell;
using migrate_fixture::MigratePc;
using clone_fixture::SetJunction;
using clone_fixture::SetTimes;
using test_support::CopiedVolume;
constexpr uint64_t kMiB = MigratePc::kMiB;
// 2011-03-04 05:06:07 UTC in FILETIME units.
constexpr uint64_t kStamp = 129436887670000000ull;

std::string Utf8(const CString& s) { return platform::to_utf8(s.GetString()); }
bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A DACL of one ACE: S-1-5-21-1-2-3-1001 allowed 0x1301BF.
std::vector<uint8_t> OwnAcl() {
  std::vector<uint8_t> sid = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE9, 3, 0, 0};
  std::vector<uint8_t> acl = {2, 0, 44, 0, 1, 0, 0, 0, 0, 0, 36, 0, 0xBF, 0x01, 0x13, 0x00};
  acl.insert(acl.end(), sid.begin(), sid.end());
  return acl;
}

void SetOwnAcl(const std::u16string& path) {
  const std::vector<uint8_t> acl = OwnAcl();
  std::vector<uint8_t> sd(20, 0);
  sd[0] = 1;
  sd[2] = 0x04;
  sd[3] = 0x80;
  sd[16] = 20;
  sd.insert(sd.end(), acl.begin(), acl.end());
  ASSERT_TRUE(SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd.data()));
}

void ResetRun() {
  DiskContext.ioErrorCount = 0;
  MigrationState = MigrationStateRecord{};
  MigrationProgress = MigrationProgressRecord{};
  FolderDepth = 0;
}

void AddItem(int kind, const std::u16string& path) {
  MigrationItem item;
  item.kind = static_cast<uint8_t>(kind);
  item.path = path;
  MigrationState.items.push_back(item);
  MigrationState.itemCount = static_cast<int32_t>(MigrationState.items.size()) - 1;
}

constexpr int kDeepLevels = 24;

class CopyRunTest : public ::testing::Test {
 protected:
  void MakeTree(bool big) {
    for (const char16_t* folder : {u"C:\\Tree", u"C:\\Tree\\Long Folder Name With Spaces", u"C:\\Tree\\Target",
                                   u"C:\\Tree\\Link", u"C:\\Tree\\RECYCLER", u"C:\\Tree\\Empty"})
      ASSERT_TRUE(CreateDirectoryW(folder, nullptr)) << platform::to_utf8(folder);
    PutFile(u"C:\\Tree\\Long Folder Name With Spaces\\A file with a rather long name.text", "long name");
    PutFile(u"C:\\Tree\\SHORT.TXT", "short");
    PutFile(u"C:\\Tree\\ro.txt", "read only and hidden");
    PutFile(u"C:\\Tree\\sys.dat", "system");
    PutFile(u"C:\\Tree\\acl.txt", "own access list");
    PutFile(u"C:\\Tree\\Target\\inside.txt", "through the junction");
    // The system's own names below the volume's root are a user's items.
    PutFile(u"C:\\Tree\\RECYCLER\\kept.txt", "kept");
    PutFile(u"C:\\Tree\\pagefile.sys", "kept");
    std::u16string deep = u"C:\\Tree";
    for (int level = 1; level <= kDeepLevels; ++level) {
      deep += u"\\d" + platform::to_utf16(std::to_string(level));
      ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    PutFile(deep + u"\\bottom.txt", "at the bottom");
    SetTimes(u"C:\\Tree\\SHORT.TXT", kStamp, false);
    SetTimes(u"C:\\Tree\\ro.txt", kStamp, false);
    SetTimes(u"C:\\Tree\\Long Folder Name With Spaces", kStamp + 10000000, true);
    ASSERT_TRUE(SetFileAttributesW(u"C:\\Tree\\ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(u"C:\\Tree\\sys.dat", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    SetOwnAcl(u"C:\\Tree\\acl.txt");
    SetJunction(u"C:\\Tree\\Link", u"C:\\Tree\\Target");
    if (big) {
      // 300 MiB of a seeded pattern, kept on the host as the reference.
      reference = w->pc.folder() + "/big.ref";
      ASSERT_EQ(Shell("openssl enc -aes-128-ctr -nosalt -pass pass:drum -in /dev/zero 2>/dev/null | head -c " +
                      std::to_string(300 * kMiB) + " > '" + reference + "'"),
                0);
      std::ifstream in(reference, std::ios::binary);
      HANDLE h = CreateFileW(u"C:\\Tree\\big.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      std::vector<char> chunk(8 * kMiB);
      while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h, chunk.data(), static_cast<DWORD>(in.gcount()), &written, nullptr));
      }
      CloseHandle(h);
    }
  }

  void Boot(uint64_t destinationBytes) {
    w = std::make_unique<MigratePc>(
        migrate_fixture::MigratePcOptions{.sourceBytes = 400 * kMiB, .destinationBytes = destinationBytes});
  }

  std::string reference;
  std::unique_ptr<MigratePc> w;
};

TEST_F(CopyRunTest, TreeToNtfsAndFat32KeepsBytesAttributesTimesAndTheAccessList) {
  Boot(400 * kMiB);
  MakeTree(true);
  // Held open by another program without sharing: only the shadow copy reads it.
  PutFile(u"C:\\Tree\\locked.txt", "held open");
  HANDLE holder = CreateFileW(u"C:\\Tree\\locked.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  HANDLE other = CreateFileW(u"C:\\Tree\\locked.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "the live file cannot be opened while it is held";
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  for (const char16_t* destination : {u"D:\\Copy", u"E:\\Copy"}) {
    ResetRun();
    ASSERT_TRUE(CreateDirectoryW(destination, nullptr));
    MigrationState.destination = destination;
    AddItem(1, u"C:\\Tree");
    // FAT keeps no access-control list: the end message says so, once.
    const bool fat = destination[0] == u'E';
    EXPECT_EQ(RunMigrationCopy(), fat ? MigrationOutcome::CompletedWithErrors : MigrationOutcome::Completed)
        << Utf8(MigrationState.failedItems);
    EXPECT_EQ(MigrationState.failedCount, fat ? 1 : 0) << Utf8(MigrationState.failedItems);
    if (fat) EXPECT_TRUE(Has(Utf8(MigrationState.failedItems), "access-control lists")) << Utf8(MigrationState.failedItems);
    EXPECT_EQ(FolderDepth, 0) << "the shared nesting counter ends where it started";
    EXPECT_TRUE(ShadowDevicePath.IsEmpty()) << "the shadow copy was released";
  }
  CloseHandle(holder);

  // NTFS: ntfs-3g's tools on the destination image.
  const CopiedVolume ntfs(w->Volume(1, "ntfs.img"), CopiedVolume::Kind::Ntfs);
  EXPECT_EQ(ntfs.Cat("/Copy/Tree/Long Folder Name With Spaces/A file with a rather long name.text"), "long name");
  EXPECT_EQ(ntfs.Cat("/Copy/Tree/SHORT.TXT"), "short");
  EXPECT_EQ(ntfs.Cat("/Copy/Tree/locked.txt"), "held open");
  EXPECT_EQ(ntfs.Cat("/Copy/Tree/Link/inside.txt"), "through the junction") << "a junction is copied as a folder";
  std::string deepPath = "/Copy/Tree";
  for (int level = 1; level <= kDeepLevels; ++level) deepPath += "/d" + std::to_string(level);
  EXPECT_EQ(ntfs.Cat(deepPath + "/bottom.txt"), "at the bottom");
  EXPECT_TRUE(ntfs.SameBytes("/Copy/Tree/big.bin", reference)) << "300 MiB file";
  std::string out = ntfs.List("/Copy/Tree", "-a");
  EXPECT_EQ(ntfs.Cat("/Copy/Tree/RECYCLER/kept.txt"), "kept") << out;
  EXPECT_EQ(ntfs.Cat("/Copy/Tree/pagefile.sys"), "kept") << out;
  EXPECT_TRUE(Has(out, "Empty")) << "an empty folder is made too\n" << out;
  out = ntfs.ListWithTimes("/Copy/Tree");
  EXPECT_TRUE(Has(out, "Mar  4 05:06 2011 SHORT.TXT")) << out;
  EXPECT_TRUE(Has(out, "Mar  4 05:06 2011 Long Folder Name With Spaces")) << "a folder's times\n" << out;
  out = ntfs.Attributes("/Copy/Tree/ro.txt");
  EXPECT_TRUE(Has(out, "READONLY") && Has(out, "HIDDEN")) << out;
  out = ntfs.Attributes("/Copy/Tree/sys.dat");
  EXPECT_TRUE(Has(out, "SYSTEM")) << out;
  out = ntfs.NtfsInfo("/Copy/Tree/Link");
  EXPECT_FALSE(Has(out, "$REPARSE_POINT")) << "the link data is not copied\n" << out;
  const CopiedVolume source(w->Volume(0, "source.img"), CopiedVolume::Kind::Ntfs);
  EXPECT_EQ(source.Dacl("/Tree/acl.txt"), OwnAcl()) << "the oracle reads the source's list";
  EXPECT_EQ(ntfs.Dacl("/Copy/Tree/acl.txt"), OwnAcl()) << "the copy carries the same list";

  // FAT32: mtools on the destination image, fsck.fat finds nothing.
  const CopiedVolume fat(w->Volume(2, "fat.img"), CopiedVolume::Kind::Fat);
  EXPECT_EQ(fat.Cat("/Copy/Tree/Long Folder Name With Spaces/A file with a rather long name.text"), "long name");
  EXPECT_EQ(fat.Cat("/Copy/Tree/locked.txt"), "held open");
  EXPECT_EQ(fat.Cat(deepPath + "/bottom.txt"), "at the bottom");
  EXPECT_TRUE(fat.SameBytes("/Copy/Tree/big.bin", reference));
  out = fat.Attributes("/Copy/Tree/ro.txt");
  EXPECT_TRUE(Has(out, "R") && Has(out, "H")) << out;
  out = fat.Attributes("/Copy/Tree/sys.dat");
  EXPECT_TRUE(Has(out, "S")) << out;
  out = fat.ListWithTimes("/Copy/Tree");
  EXPECT_TRUE(Has(out, "2011-03-04")) << out;
  EXPECT_TRUE(fat.Consistent(&out)) << out;
}

TEST_F(CopyRunTest, FullDestinationUnreadableFileAndDestinationInsideSourceAreReportedAndLeaveNoPartialCopy) {
  Boot(64 * kMiB);
  MakeTree(false);
  // A file larger than the destination's free space.
  ULARGE_INTEGER freeBytes{}, total{}, freeTotal{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"E:\\", &freeBytes, &total, &freeTotal));
  const uint64_t tooBig = freeBytes.QuadPart + 8 * kMiB;
  ASSERT_LT(tooBig, 390 * kMiB);
  {
    HANDLE h = CreateFileW(u"C:\\huge.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<char> chunk(8 * kMiB, 'h');
    for (uint64_t done = 0; done < tooBig; done += chunk.size()) {
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(h, chunk.data(), static_cast<DWORD>(std::min<uint64_t>(chunk.size(), tooBig - done)),
                            &written, nullptr));
    }
    CloseHandle(h);
  }
  ResetRun();
  MigrationState.destination = u"E:";
  AddItem(0, u"C:\\huge.bin");
  AddItem(0, u"C:\\Tree\\SHORT.TXT");
  AddItem(0, u"C:\\Tree\\missing.txt");
  EXPECT_EQ(RunMigrationCopy(), MigrationOutcome::CompletedWithErrors);
  EXPECT_EQ(MigrationState.failedCount, 3) << Utf8(MigrationState.failedItems);
  const std::string failures = Utf8(MigrationState.failedItems);
  EXPECT_TRUE(Has(failures, "access-control lists")) << "what FAT keeps none of, once\n" << failures;
  EXPECT_TRUE(Has(failures, "huge.bin")) << failures;
  EXPECT_TRUE(Has(failures, "missing.txt")) << failures;
  EXPECT_GT(DiskContext.ioErrorCount, 0);
  const CopiedVolume fat(w->Volume(2, "fat.img"), CopiedVolume::Kind::Fat);
  const std::string listing = fat.List("/");
  EXPECT_FALSE(Has(listing, "huge")) << "the partial copy is removed\n" << listing;
  EXPECT_TRUE(Has(listing, "SHORT.TXT")) << "the next item is copied\n" << listing;
  std::string out;
  EXPECT_TRUE(fat.Consistent(&out)) << out;

  // A destination inside a folder item is refused for that item; the
  // other items are copied.
  ResetRun();
  MigrationState.destination = u"C:\\Tree\\Target\\Out";
  AddItem(1, u"C:\\Tree");
  AddItem(0, u"C:\\Tree\\SHORT.TXT");
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Tree\\Target\\Out", nullptr));
  EXPECT_EQ(RunMigrationCopy(), MigrationOutcome::CompletedWithErrors);
  EXPECT_EQ(MigrationState.failedCount, 1);
  EXPECT_TRUE(Has(Utf8(MigrationState.failedItems), "C:\\Tree: ")) << Utf8(MigrationState.failedItems);
  EXPECT_EQ(GetFileAttributesW(u"C:\\Tree\\Target\\Out\\Tree"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(u"C:\\Tree\\Target\\Out\\SHORT.TXT"), INVALID_FILE_ATTRIBUTES);
}

// A source folder filled by ntfs-3g's own driver (FUSE), migrated onto NTFS
// and FAT32; the copies read with ntfs-3g's tools and mtools.
class CopyRunOfNtfsSource : public ::testing::Test {
 protected:
  // False (the test skips) where FUSE cannot mount.
  bool FillSource(const std::function<void(test_support::NtfsFuseVolume&)>& fill) {
    w = std::make_unique<MigratePc>();
    const std::string image = w->Volume(0, "source.img");
    {
      test_support::NtfsFuseVolume fuse(image);
      if (!fuse.mounted()) return false;
      fill(fuse);
      EXPECT_TRUE(fuse.Unmount());
    }
    w->PutVolume(0, image);
    return true;
  }
  // Migrates C:\Tree into D:\Copy and E:\Copy.
  void MigrateToBoth(MigrationOutcome onNtfs, MigrationOutcome onFat) {
    for (const char16_t* destination : {u"D:\\Copy", u"E:\\Copy"}) {
      ResetRun();
      ASSERT_TRUE(CreateDirectoryW(destination, nullptr));
      MigrationState.destination = destination;
      AddItem(1, u"C:\\Tree");
      EXPECT_EQ(RunMigrationCopy(), destination[0] == u'D' ? onNtfs : onFat) << Utf8(MigrationState.failedItems);
      failures[destination[0] == u'D' ? 0 : 1] = Utf8(MigrationState.failedItems);
    }
  }
  std::unique_ptr<MigratePc> w;
  std::string failures[2];  // NTFS, FAT32
};

TEST_F(CopyRunOfNtfsSource, HardLinksStayLinksOnNtfsAndAreListedOnFat) {
  if (!FillSource([](test_support::NtfsFuseVolume& v) {
        ASSERT_EQ(v.Run("mkdir -p Tree/Other"), 0);
        ASSERT_TRUE(v.Put("/Tree/a.txt", "linked bytes"));
        ASSERT_EQ(v.Run("ln Tree/a.txt Tree/b.txt && ln Tree/a.txt Tree/Other/c.txt"), 0);
      }))
    GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
  MigrateToBoth(MigrationOutcome::Completed, MigrationOutcome::CompletedWithErrors);
  EXPECT_TRUE(failures[0].empty()) << failures[0];
  EXPECT_TRUE(Has(failures[1], "b.txt") && Has(failures[1], "c.txt") && Has(failures[1], "hard link")) << failures[1];

  const CopiedVolume ntfs(w->Volume(1, "ntfs.img"), CopiedVolume::Kind::Ntfs);
  const CopiedVolume fat(w->Volume(2, "fat.img"), CopiedVolume::Kind::Fat);
  for (const char* name : {"/Copy/Tree/a.txt", "/Copy/Tree/b.txt", "/Copy/Tree/Other/c.txt"}) {
    EXPECT_EQ(ntfs.Cat(name), "linked bytes") << name << "\n" << ntfs.List("/Copy/Tree");
    EXPECT_EQ(fat.Cat(name), "linked bytes") << name << "\n" << fat.List("/Copy/Tree");
  }
  const std::string info = ntfs.NtfsInfo("/Copy/Tree/b.txt");
  EXPECT_TRUE(Has(info, "Number of Hard Links:\t 3")) << info;
}

TEST_F(CopyRunOfNtfsSource, StreamsSecurityShortNamesAndCompressionAreKeptOnNtfsAndListedOnFat) {
  if (!FillSource([](test_support::NtfsFuseVolume& v) {
        ASSERT_EQ(v.Run("mkdir Tree"), 0);
        clone_fixture::FillKeptItems(v);
        ASSERT_EQ(v.Run("mv Doc.txt Folder 'Long file name.txt' Packed Packed.txt Tree/"), 0);
        // ntfs-3g's rename gives the moved file a new name without its DOS alias.
        ASSERT_TRUE(v.SetAttribute("/Tree/Long file name.txt", "system.ntfs_dos_name", "LONGFI~9.TXT"));
      }))
    GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
  MigrateToBoth(MigrationOutcome::Completed, MigrationOutcome::CompletedWithErrors);
  EXPECT_TRUE(failures[0].empty()) << failures[0];
  // FAT: the two items' streams, and once what FAT keeps none of.
  EXPECT_TRUE(Has(failures[1], "C:\\Tree\\Doc.txt: ") && Has(failures[1], "C:\\Tree\\Folder: ") &&
              Has(failures[1], "alternate data streams") && Has(failures[1], "access-control lists"))
      << failures[1];

  const CopiedVolume fat(w->Volume(2, "fat.img"), CopiedVolume::Kind::Fat);
  EXPECT_EQ(fat.Cat("/Copy/Tree/Doc.txt"), "main data");
  const CopiedVolume ntfs(w->Volume(1, "ntfs.img"), CopiedVolume::Kind::Ntfs);
  EXPECT_EQ(ntfs.Cat("/Copy/Tree/Doc.txt"), "main data");
  clone_fixture::ExpectCompressionAndShortNameKept(ntfs, "/Copy/Tree");
  test_support::NtfsFuseVolume copy(ntfs.image(), true);
  ASSERT_TRUE(copy.mounted());
  const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\n", note = "a folder's own stream";
  EXPECT_EQ(copy.Attribute("/Copy/Tree/Doc.txt", "user.Zone.Identifier"), std::vector<uint8_t>(zone.begin(), zone.end()));
  EXPECT_EQ(copy.Attribute("/Copy/Tree/Folder", "user.note"), std::vector<uint8_t>(note.begin(), note.end()));
  EXPECT_EQ(clone_fixture::DescriptorParts(copy.Attribute("/Copy/Tree/Doc.txt", "system.ntfs_acl")),
            clone_fixture::DescriptorParts(clone_fixture::OwnDescriptor()));
  EXPECT_TRUE(copy.Unmount());
}

// Short names chosen on the source (not the ones a driver would make) at
// every place the run meets them: a ticked folder and a ticked file (looked
// up on the live volume), and a folder and files inside a ticked folder
// (listed in the shadow copy), one of them read-only. Read back on the NTFS
// copy with ntfs-3g's own driver (getfattr of system.ntfs_dos_name).
TEST_F(CopyRunOfNtfsSource, ChosenShortNamesOfItemsAndTheirContentsAreKeptOnNtfs) {
  struct Named {
    const char* source;  // made on the source, below its root
    const char* copy;    // where the run puts it, below D:\Copy
    const char* shortName;
    bool folder;
  } const named[] = {
      {"/Ticked long folder", "/Ticked long folder", "TICKED~7", true},
      {"/Ticked long folder/Inner long name.txt", "/Ticked long folder/Inner long name.txt", "INNERL~5.TXT", false},
      {"/Ticked long folder/Nested long folder", "/Ticked long folder/Nested long folder", "NESTED~3", true},
      {"/Ticked long folder/Nested long folder/Read only long.txt",
       "/Ticked long folder/Nested long folder/Read only long.txt", "READON~4.TXT", false},
      {"/Ticked long file.txt", "/Ticked long file.txt", "TICKED~2.TXT", false},
  };
  if (!FillSource([&](test_support::NtfsFuseVolume& v) {
        for (const Named& n : named) {
          if (n.folder)
            ASSERT_EQ(v.Run("mkdir '." + std::string(n.source) + "'"), 0) << n.source;
          else
            ASSERT_TRUE(v.Put(n.source, n.shortName));
          ASSERT_TRUE(v.SetAttribute(n.source, "system.ntfs_dos_name", n.shortName)) << n.source;
          EXPECT_EQ(v.Attribute(n.source, "system.ntfs_dos_name"),
                    std::vector<uint8_t>(n.shortName, n.shortName + std::strlen(n.shortName)))
              << "the oracle reads the source's name " << n.source;
        }
        // Read-only: the name is set before the attributes.
        ASSERT_TRUE(v.SetAttribute("/Ticked long folder/Nested long folder/Read only long.txt", "system.ntfs_attrib",
                                   std::vector<uint8_t>{0x01, 0, 0, 0}));
      }))
    GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
  ResetRun();
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Copy", nullptr));
  MigrationState.destination = u"D:\\Copy";
  AddItem(1, u"C:\\Ticked long folder");
  AddItem(0, u"C:\\Ticked long file.txt");
  EXPECT_EQ(RunMigrationCopy(), MigrationOutcome::Completed) << Utf8(MigrationState.failedItems);

  const CopiedVolume ntfs(w->Volume(1, "ntfs.img"), CopiedVolume::Kind::Ntfs);
  std::string report;
  EXPECT_TRUE(ntfs.Consistent(&report)) << report;
  test_support::NtfsFuseVolume copy(ntfs.image(), true);
  ASSERT_TRUE(copy.mounted());
  for (const Named& n : named) {
    const std::string path = std::string("/Copy") + n.copy;
    EXPECT_EQ(copy.Attribute(path, "system.ntfs_dos_name"),
              std::vector<uint8_t>(n.shortName, n.shortName + std::strlen(n.shortName)))
        << path << "\n" << ntfs.List("/Copy", "-x");
  }
  EXPECT_TRUE(copy.Unmount());
}

TEST(CopyRunHelpers, ByteCountsPercentagesRootsAndContainment) {
  struct Text {
    int64_t bytes;
    const char* text;
  } texts[] = {{1023, "1023 Byte"},  {-1, "-1 Byte"},       {1536, "2 KB"},        {1048576, "1 MB"},
               {1572864, "1.50 MB"}, {1073741824, "1 GB"}, {1610612736, "1.50 GB"}, {1099511627776, "1 TB"}};
  for (const Text& t : texts) EXPECT_EQ(Utf8(FormatByteCount(t.bytes)), t.text) << t.bytes;
  // The percentage never divides by zero, also for totals under 100 bytes.
  EXPECT_EQ(CopyPercent(50, 99), 50);
  EXPECT_EQ(CopyPercent(5 << 20, 40), 100);
  EXPECT_EQ(CopyPercent(0, 0), 100);
  EXPECT_EQ(CopyPercent(1, 1000), 0);
  EXPECT_EQ(Utf8(PathRoot(u"C:\\Data\\x")), "C:\\");
  EXPECT_EQ(Utf8(PathRoot(u"\\\\server\\share\\docs\\a.txt")), "\\\\server\\share\\");
  EXPECT_EQ(Utf8(PathRoot(u"\\\\server")), "\\\\server\\");
  EXPECT_TRUE(IsSameOrInside(u"C:\\Data\\Backup", u"C:\\Data"));
  EXPECT_TRUE(IsSameOrInside(u"c:\\data", u"C:\\Data\\"));
  EXPECT_TRUE(IsSameOrInside(u"C:\\Backup", u"C:\\"));
  EXPECT_FALSE(IsSameOrInside(u"C:\\Data2", u"C:\\Data"));
  EXPECT_FALSE(IsSameOrInside(u"D:\\Data", u"C:\\Data"));
}

}  // namespace
