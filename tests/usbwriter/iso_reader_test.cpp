// The ISO reader on images built by xorriso: the descriptor walk and the El
// Torito default entry (no emulation, 1.44 MB diskette, Windows loader
// names), the tree copied onto a FAT32 volume of a simulated PC compared with
// xorriso's own extraction (names, sizes, bytes; fsck.fat clean), file
// attributes and times, and damaged input: no ISO at all, a truncated image,
// a directory that leads back to the root.
#include "usbwriter/iso/iso_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "disk/fixture_images.h"
#include "fixture_iso.h"
#include "platform/core/system_time.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::Shell;
using disk_fixture::SimulatedPc;
using iso_fixture::BootKind;
using iso_fixture::IsoSpec;
using iso_fixture::TreeFile;

class RecordingHost : public IsoCopyHost {
 public:
  void UpdateProgress(int64_t position) override {
    position_ = position;
    ++updates;
  }
  int64_t ProgressPosition() const override { return position_; }
  bool CancelRequested() const override { return cancel; }
  int64_t position_ = 0;
  int updates = 0;
  bool cancel = false;
};

constexpr uint64_t kPartStart = 2048;
constexpr uint64_t kPartCount = 500000;

// A simulated PC with a FAT32 volume (C:) to copy into and the test's scratch
// folder shown as I:, where the images lie.
class IsoReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pc_.AddDisk(DiskSpec{});
    pc_.WriteMbr(0, {Part{kPartStart, kPartCount, 0x0C, false, false, {}, {}, "fat32", "STICK"}});
    pc_.AppendIni("\n[mount iso]\npath = I:\nhost = " + scratch_.path + "\ndrive_type = fixed\n");
    pc_.Boot();
    IsoImageInfo = IsoImageInfoRecord{};
    WriteBootLoader = true;
    CopyErrorCount = 0;
    CopyNestingDepth = 0;
  }

  void Build(const IsoSpec& spec, const std::string& name = "test.iso") {
    iso_fixture::MakeIso(spec, scratch_.file(name));
    SourceIsoPath = CString(platform::to_utf16("I:\\" + name).c_str());
  }

  // The FAT volume's bytes after the drivers let go of it.
  std::string Volume() {
    platform::fs::ReleaseAllDrivers();
    return pc_.ExtractVolume(0, kPartStart, kPartCount, "c.vol");
  }

  std::string CopyAndCompare(const std::string& name = "test.iso") {
    RecordingHost host;
    CopyIsoImageTree(&host, u"C:");
    EXPECT_EQ(CopyErrorCount, 0);
    EXPECT_EQ(CopyNestingDepth, 0);
    std::string volume = Volume();
    std::string out;
    EXPECT_EQ(Shell("fsck.fat -n " + volume + " 2>&1", &out), 0) << out;
    iso_fixture::XorrisoExtract(scratch_.file(name), scratch_.file("want"));
    iso_fixture::McopyTree(volume, scratch_.file("have"));
    return iso_fixture::CompareTrees(scratch_.file("want"), scratch_.file("have"));
  }

  SimulatedPc pc_;
  iso_fixture::TempFolder scratch_;
};

std::vector<TreeFile> SampleTree() {
  std::vector<TreeFile> files = {
      {"/README.TXT", "read me\n"},
      {"/NOEXT", "no extension"},
      {"/EMPTY.DAT", ""},
      {"/BOOT/BIG.BIN", disk_fixture::Pattern(70000, 7)},
      {"/BOOT/DEEP/ER/FILE.CFG", "timeout 5\n"},
      {"/SOURCES/LARGE.WIM", disk_fixture::Pattern(3 * 1024 * 1024 + 123, 9)},
  };
  // Enough entries that one folder spans several blocks.
  for (int i = 0; i < 220; ++i) files.push_back({"/MANY/F" + std::to_string(i) + ".TXT", std::to_string(i)});
  return files;
}

TEST_F(IsoReaderTest, JolietTreeWithNoEmulationBootIsCopiedAsXorrisoExtractsIt) {
  IsoSpec spec;
  spec.files = SampleTree();
  spec.files.push_back({"/Größe €.txt", "u+20ac"});
  spec.files.push_back({"/日本語/Ünïcode ĀŁŒ name.txt", "beyond latin-1"});
  spec.volumeId = "LINUX_LIVE";
  spec.boot = BootKind::NoEmulation;
  spec.bootImage = std::string(2048, 'B');
  Build(spec);
  ASSERT_TRUE(ScanIsoDescriptors(0, false));
  EXPECT_TRUE(IsoImageInfo.joliet);
  EXPECT_TRUE(IsoImageInfo.elTorito);
  EXPECT_EQ(IsoImageInfo.mediaType, 0);
  EXPECT_EQ(IsoImageInfo.bootSectorCount, 4u) << "xorriso loads 2,048 bytes";
  EXPECT_EQ(IsoImageInfo.bootImageBytes, 2048u);
  EXPECT_EQ(IsoImageInfo.loadSegment, 0x07C0) << "load segment 0 means 0x07C0";
  EXPECT_FALSE(IsoImageInfo.bootmgr);
  std::string volumeSize;
  Shell("isoinfo -d -i " + scratch_.file("test.iso") + " | sed -n 's/^Volume size is: //p'", &volumeSize);
  EXPECT_EQ(IsoImageInfo.volume.volumeSpaceSize, std::stoul(volumeSize));

  CString text = DescribeIso();
  std::string expected = "ISO Type: Linux\r\nEmulation: No Emulation\r\nVolumeId: LINUX_LIVE" + std::string(22, ' ') +
                         "\r\nVolume Size:" + platform::to_utf8(FormatDiskSizeText(std::stoul(volumeSize) * 4).str());
  EXPECT_EQ(platform::to_utf8(text.str()), expected);
  EXPECT_EQ(VolumeSectorCount, std::stoull(volumeSize) * 4);
  EXPECT_EQ(CopyAndCompare(), "");
}

TEST_F(IsoReaderTest, PlainIsoWithDisketteEmulationLosesVersionSuffixes) {
  IsoSpec spec;
  spec.files = SampleTree();
  spec.joliet = false;
  spec.boot = BootKind::Diskette144;
  spec.bootImage = "diskette";
  Build(spec);
  ASSERT_TRUE(ScanIsoDescriptors(0, false));
  EXPECT_FALSE(IsoImageInfo.joliet);
  EXPECT_EQ(IsoImageInfo.mediaType, 2);
  EXPECT_EQ(IsoImageInfo.bootSectorCount, 2880u);
  EXPECT_EQ(IsoImageInfo.bootCountByte, 1);
  EXPECT_EQ(IsoImageInfo.bootImageBytes, 1474560u);
  CString text = DescribeIso();
  EXPECT_NE(text.Find(u"Emulation: 1.44 meg diskette Emulation"), -1);
  EXPECT_NE(text.Find(u"ISO Type: Unknown"), -1);
  EXPECT_EQ(CopyAndCompare(), "");
}

// A boot image whose loader strings begin at 405 with one of 107
// characters that fills the first sector to its last byte 511 and ends with
// "BOOTMGR"; `after` is byte 512.
std::string LoaderStringToTheEdge(size_t size, char after) {
  std::string image(size, 'z');
  image.replace(405, 100, std::string(100, 'a'));
  image.replace(505, 7, "BOOTMGR");
  image[512] = after;
  return image;
}

TEST_F(IsoReaderTest, WindowsLoaderNamesAreFoundOnlyInsideTheFirstSector) {
  struct Case {
    std::string image;
    std::string volumeId;
    const char16_t* type;
  } cases[] = {
      {iso_fixture::WindowsLikeBootImage("BOOTMGR"), "LINUX_PE", u"ISO Type: WinPE\r\n"},
      {iso_fixture::WindowsLikeBootImage("CDBOOT"), "CD", u"ISO Type: Windows CD\r\n"},
      // A string that starts at 500 would end beyond byte 511: not looked at.
      {[] {
         std::string image(2048, 'x');
         image.replace(405, 1, std::string(1, '\0'));
         image.replace(406, 100, std::string(100, 'a'));
         image[506] = '\0';
         image.replace(507, 7, "BOOTMGR");
         return image;
       }(),
       "OTHER", u"ISO Type: Unknown\r\n"},
      // 107 characters from 405 end with "BOOTMGR" at byte 511, the last one
      // the rule allows; the terminating zero lies at 512, past the sector.
      {LoaderStringToTheEdge(2048, '\0'), "OTHER", u"ISO Type: WinPE\r\n"},
      // The same string with no zero at 512 runs on past byte 511.
      {LoaderStringToTheEdge(2048, 'y'), "OTHER", u"ISO Type: Unknown\r\n"},
  };
  for (const Case& c : cases) {
    IsoSpec spec;
    spec.files = {{"/A.TXT", "a"}};
    spec.volumeId = c.volumeId;
    spec.boot = BootKind::NoEmulation;
    spec.bootImage = c.image;
    Build(spec);
    CString text = DescribeIso();
    EXPECT_EQ(text.Find(c.type), 0) << platform::to_utf8(text.str());
  }
}

TEST_F(IsoReaderTest, CopiedFilesAreReadOnlyWithTheImagesTime) {
  IsoSpec spec;
  spec.files = {{"/BIG.BIN", disk_fixture::Pattern(70000, 3), "2020-02-03 04:05:06 UTC"}};
  Build(spec);
  ASSERT_TRUE(ScanIsoDescriptors(0, false));
  RecordingHost host;
  CopyIsoImageTree(&host, u"C:");
  ASSERT_EQ(CopyErrorCount, 0);
  EXPECT_EQ(host.position_, 70000 / 512) << "the progress ends at the file's size in sectors";
  DWORD attributes = GetFileAttributesW(u"C:\\BIG.BIN");
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_HIDDEN);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(u"C:\\BIG.BIN", GetFileExInfoStandard, &data));
  SYSTEMTIME time{};
  ASSERT_TRUE(FileTimeToSystemTime(&data.ftLastWriteTime, &time));
  EXPECT_EQ(std::vector<int>({time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond}),
            std::vector<int>({2020, 2, 3, 4, 5, 6}));
  std::string out;
  Shell("MTOOLS_SKIP_CHECK=1 mattrib -i " + Volume() + " ::/BIG.BIN", &out);
  EXPECT_NE(out.find("R"), std::string::npos) << out;
}

TEST_F(IsoReaderTest, ImagesThatAreNoIsoOrCannotBeOpenedFailTheWalk) {
  std::ofstream(scratch_.file("random.iso"), std::ios::binary) << disk_fixture::Pattern(64 * 1024, 1);
  std::ofstream(scratch_.file("short.iso"), std::ios::binary) << std::string(1000, 'C');
  for (const char16_t* path : {u"I:\\random.iso", u"I:\\short.iso", u"I:\\missing.iso"}) {
    SourceIsoPath = path;
    EXPECT_FALSE(ScanIsoDescriptors(0, false)) << platform::to_utf8(path);
    EXPECT_TRUE(DescribeIso().IsEmpty());
  }
  // Without boot sectors to write, nothing is analysed and nothing fails.
  WriteBootLoader = false;
  EXPECT_TRUE(ScanIsoDescriptors(0, false));
}

TEST_F(IsoReaderTest, TruncatedImageStopsTheCopyWithAMessage) {
  IsoSpec spec;
  spec.files = {{"/A.TXT", "a"}, {"/Z/LAST.BIN", disk_fixture::Pattern(200000, 5)}};
  Build(spec);
  std::string iso = scratch_.file("test.iso");
  // Keep the descriptors and directories, lose the end of the last file.
  std::string bytes;
  {
    std::ifstream in(iso, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  size_t at = bytes.find(disk_fixture::Pattern(200000, 5).substr(0, 4096));
  ASSERT_NE(at, std::string::npos);
  std::ofstream(iso, std::ios::binary | std::ios::trunc) << bytes.substr(0, at + 100000);
  ASSERT_TRUE(ScanIsoDescriptors(0, false));
  RecordingHost host;
  platform::ui::Script script;
  script.answer("ok");
  auto run = disk_fixture::RunHeadless(script, [&] { CopyIsoImageTree(&host, u"C:"); });
  EXPECT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(CopyErrorCount, 1);
  EXPECT_NE(run.log.find("IDS_ISOREADERROR"), std::string::npos) << run.log;
  EXPECT_EQ(CopyNestingDepth, 0);
}

TEST_F(IsoReaderTest, DirectoryLeadingBackToTheRootIsNotFollowed) {
  IsoSpec spec;
  spec.joliet = false;
  spec.files = {{"/A.TXT", "a"}, {"/SUB/B.TXT", "b"}};
  Build(spec);
  std::string iso = scratch_.file("test.iso");
  std::fstream file(iso, std::ios::binary | std::ios::in | std::ios::out);
  uint8_t pvd[2048];
  file.seekg(16 * 2048);
  file.read(reinterpret_cast<char*>(pvd), 2048);
  uint32_t root = pvd[158] | pvd[159] << 8 | pvd[160] << 16 | pvd[161] << 24;
  std::string directory(2048, '\0');
  file.seekg(static_cast<std::streamoff>(root) * 2048);
  file.read(directory.data(), 2048);
  size_t sub = directory.find("SUB");
  ASSERT_NE(sub, std::string::npos);
  // Both halves of the extent field of SUB's record (identifier at +33).
  file.seekp(static_cast<std::streamoff>(root) * 2048 + sub - 33 + 2);
  uint8_t both[8] = {uint8_t(root), uint8_t(root >> 8), uint8_t(root >> 16), uint8_t(root >> 24),
                     uint8_t(root >> 24), uint8_t(root >> 16), uint8_t(root >> 8), uint8_t(root)};
  file.write(reinterpret_cast<char*>(both), 8);
  file.close();
  ASSERT_TRUE(ScanIsoDescriptors(0, false));
  RecordingHost host;
  CopyIsoImageTree(&host, u"C:");
  EXPECT_EQ(CopyErrorCount, 0);
  EXPECT_EQ(CopyNestingDepth, 0);
  EXPECT_NE(GetFileAttributesW(u"C:\\A.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(u"C:\\SUB\\A.TXT"), INVALID_FILE_ATTRIBUTES) << "the loop was followed";
}

// Empty files recorded at extent 0 (they have no data to point at), first
// in their folder and in the root: each is created empty and every record
// after it in the same block is read on. Built by genisoimage and by
// xorriso, the empty files' extents then set to 0 in both the ISO 9660 and
// the Joliet records; the copy must equal xorriso's own extraction of the
// patched image, and the FAT volume must pass fsck.fat.
class EmptyFileImages : public IsoReaderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EmptyFileImages, EmptyFilesAtExtentZeroAreCreatedEmptyAndTheirBlockIsReadOn) {
  {
    const char* tool = GetParam();
    const std::string tree = scratch_.file(std::string(tool) + ".tree");
    std::vector<TreeFile> files = {{"/A0.TXT", ""}, {"/ROOT.TXT", "root file"}};
    for (int i = 1; i <= 17; ++i) files.push_back({"/DIR/F" + std::to_string(i) + ".TXT", "file " + std::to_string(i)});
    files.push_back({"/DIR/A0.TXT", ""});
    for (const TreeFile& f : files) {
      std::filesystem::create_directories(std::filesystem::path(tree + f.path).parent_path());
      std::ofstream(tree + f.path, std::ios::binary) << f.content;
    }
    const std::string iso = scratch_.file(std::string(tool) + ".iso");
    std::string out;
    const std::string make = std::string(tool) == "genisoimage"
                                 ? "genisoimage -quiet -J -o " + iso + " " + tree
                                 : "xorriso -outdev " + iso + " -blank as_needed -rockridge off -joliet on -map " +
                                       tree + " / -commit";
    ASSERT_EQ(Shell(make + " 2>&1", &out), 0) << out;
    // Every record named A0.TXT (ISO 9660 bytes or Joliet UTF-16BE, with or
    // without its version) gets extent 0 in both halves of the field.
    std::fstream file(iso, std::ios::binary | std::ios::in | std::ios::out);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    int patched = 0;
    for (const std::string name : {std::string("A0.TXT;1"), std::string("A0.TXT"),
                                   std::string("\0A\0" "0\0.\0T\0X\0T\0;\0" "1", 16), std::string("\0A\0" "0\0.\0T\0X\0T", 12)}) {
      for (size_t at = bytes.find(name, 16 * 2048); at != std::string::npos; at = bytes.find(name, at + 1)) {
        if (at < 33 || static_cast<uint8_t>(bytes[at - 1]) != name.size()) continue;
        const size_t record = at - 33;
        if (bytes.compare(record + 10, 8, std::string(8, '\0')) != 0) continue;  // not an empty file
        file.seekp(static_cast<std::streamoff>(record + 2));
        file.write(std::string(8, '\0').data(), 8);
        bytes.replace(record + 2, 8, std::string(8, '\0'));
        ++patched;
      }
    }
    file.close();
    ASSERT_EQ(patched, 4) << "two empty files, each in both trees";
    SourceIsoPath = CString(platform::to_utf16("I:\\" + std::string(tool) + ".iso").c_str());
    ASSERT_TRUE(ScanIsoDescriptors(0, false));
    EXPECT_EQ(CopyAndCompare(std::string(tool) + ".iso"), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, EmptyFileImages, ::testing::Values("genisoimage", "xorriso"));

TEST(IsoNames, IdentifiersBecomeSafeFileNames) {
  auto ucs2 = [](std::u16string text) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    return bytes;
  };
  struct Case {
    std::string identifier;
    bool joliet;
    std::u16string name;
  } cases[] = {
      {"README.TXT;1", false, u"README.TXT"},
      {"NOEXT.;1", false, u"NOEXT"},
      {"DIR", false, u"DIR"},
      {std::string(1, '\0'), false, u""},
      {std::string(1, '\1'), false, u""},
      {"..", false, u""},
      {"A\\B", false, u""},
      {"\xC4""X.TXT;1", false, u"\u00C4X.TXT"},
      {"\x83\x41\x83\x43.TXT", false, u"\u30A2\u30A4.TXT"},  // Shift-JIS katakana
      {ucs2(u"Gr\u00F6\u00DFe \u20AC.txt;1"), true, u"Gr\u00F6\u00DFe \u20AC.txt"},
      {ucs2(u"\u65E5\u672C\u8A9E"), true, u"\u65E5\u672C\u8A9E"},
      {ucs2(u"name;x"), true, u"name;x"},
      {ucs2(u"..\\..\\evil"), true, u""},
      {ucs2(u"C:"), true, u""},
      {ucs2(u"odd") + "Z", true, u"odd"},
  };
  for (const Case& c : cases) {
    CString name = DecodeIsoName(reinterpret_cast<const uint8_t*>(c.identifier.data()), c.identifier.size(), c.joliet);
    EXPECT_EQ(name.str(), c.name) << c.identifier;
  }
}

TEST(IsoSizeText, SectorCountsAsShownBesideImages) {
  struct Case {
    uint64_t sectors;
    const char16_t* text;
  } cases[] = {
      {7864320, u"3.75 GB"}, {8388608, u"4 GB"}, {1000, u"500 KB"}, {20480, u"10 MB"}, {20479, u"9 MB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatDiskSizeText(c.sectors).str(), c.text) << c.sectors;
}

}  // namespace
