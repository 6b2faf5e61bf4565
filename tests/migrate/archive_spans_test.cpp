// The backup product's span readers and file-list builder. Volume files with
// framed blocks, a location table and a changed-block table are written by
// Python's struct module (not by our code) into the PC's P: folder and read
// through the platform's file API; the recorder's entries are compared with
// struct's packing of the same values. The file list of a host folder tree
// made by mkdir, printf and touch is compared with find's listing of it;
// sectors read for a block request are compared with dd of the disk image.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "disk/disk_access.h"
#include "disk/fixture_images.h"
#include "disk/volume_space.h"
#include "fixture_migrate_pc.h"
#include "mainapp/migrate/archive_spans.h"
#include "mainapp/migrate/file_list.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"

namespace {

using disk_fixture::Shell;
using migrate_fixture::MigratePc;

// Writes host files with a Python program (struct packs every field).
void Python(const std::string& program) {
  ASSERT_EQ(Shell("python3 -c '" + program + "'"), 0) << program;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

class ArchiveSpansTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = w.pc.folder() + "/program";
    SpanVolumes.clear();
    SpanRecord = SpanRecorder{};
  }
  void TearDown() override {
    CloseVolumeFiles(static_cast<int>(SpanVolumes.size()));
    FreeVolumeNameTables(static_cast<int>(SpanVolumes.size()));
    SpanVolumes.clear();
  }
  void Open(const char* name) {
    ArchiveSpanVolume v;
    v.file = CreateFileW((u"P:\\" + platform::to_utf16(name)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(v.file, INVALID_HANDLE_VALUE) << name;
    SpanVolumes.push_back(v);
  }
  MigratePc w;
  std::string folder;
};

TEST(SpanPositions, AdvanceKeepsAByteAtFiveHundredTwelve) {
  struct Case {
    SpanPosition from;
    int64_t n;
    SpanPosition to;
  } cases[] = {{{0, 0}, 512, {1, 0}},     {{0, 412}, 100, {0, 512}}, {{0, 500}, 20, {1, 8}},
               {{3, 512}, 1, {4, 1}},     {{2, 7}, 0, {2, 7}},       {{2, 7}, -5, {2, 7}},
               {{1, 0}, 5 * 512 + 3, {6, 3}}};
  for (const Case& c : cases) {
    SpanPosition p = c.from;
    p.advance(c.n);
    EXPECT_EQ(p, c.to) << c.from.sector << "," << c.from.byte << " + " << c.n;
  }
}

// Member 0 finds blocks through its location table, item after item; a later
// member through its changed-block table, matching item and block.
TEST_F(ArchiveSpansTest, BlocksAreLocatedInBothKindsOfTable) {
  Python(
      "import struct\n"
      "f = open(\"" + folder + "/full.vol\", \"wb\")\n"
      "f.write(bytes(2048))\n"
      // Item 1: blocks at (5,0) (5,100); item 2: (6,512) (7,3) (9,0).
      "for s, b in [(5,0),(5,100),(6,512),(7,3),(9,0)]: f.write(struct.pack(\"<qi\", s, b))\n"
      "f.close()\n"
      "f = open(\"" + folder + "/member.vol\", \"wb\")\n"
      "f.write(bytes(1024))\n"
      // Two entries of block 1: item 2 first, then item 1.
      "for i, k, s, b in [(2,1,11,0),(1,1,12,200),(1,4,13,5)]: f.write(struct.pack(\"<Biqi\", i, k, s, b))\n"
      "f.close()\n");
  Open("full.vol");
  Open("member.vol");
  SpanVolumes[0].table = {4, 0};
  SpanVolumes[0].blockCounts[1] = 2;
  SpanVolumes[0].blockCounts[2] = 3;
  SpanVolumes[1].table = {2, 0};
  SpanVolumes[1].changedCount = 3;
  struct Case {
    int member, item;
    int64_t block;
    bool found;
    SpanPosition at;
  } cases[] = {
      {0, 1, 1, true, {5, 0}},   {0, 1, 2, true, {5, 100}},   {0, 2, 1, true, {6, 512}},
      {0, 2, 3, true, {9, 0}},   {1, 1, 1, true, {12, 200}},  {1, 2, 1, true, {11, 0}},
      {1, 1, 4, true, {13, 5}},  {1, 3, 1, false, {}},        {1, 1, 2, false, {}},
      // Out of range: no entry of another item, no negative index.
      {0, 1, 3, false, {}},      {0, 2, 4, false, {}},        {0, 1, 0, false, {}},
      {0, 1, -1, false, {}},     {0, 0, 1, false, {}},        {0, 16, 1, false, {}},
      {-1, 1, 1, false, {}},     {2, 1, 1, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.member) + " " + std::to_string(c.item) + " " + std::to_string(c.block));
    const SpanLocation l = LocateSpanBlock(c.member, c.item, c.block);
    EXPECT_EQ(l.file != INVALID_HANDLE_VALUE, c.found);
    if (c.found) {
      EXPECT_EQ(l.file, SpanVolumes[static_cast<size_t>(c.member)].file);
      EXPECT_EQ(l.position, c.at);
    }
  }
  // A table that claims more entries than its file holds is not read past it.
  SpanVolumes[1].changedCount = 50;
  EXPECT_EQ(LocateSpanBlock(1, 1, 1).file, INVALID_HANDLE_VALUE);
  // A damaged entry (sector 0 or a byte offset past 512) gives nothing.
  Python("import struct\nf = open(\"" + folder + "/full.vol\", \"r+b\")\nf.seek(2048)\n"
         "f.write(struct.pack(\"<qi\", 0, 0) + struct.pack(\"<qi\", 5, 9999))\n");
  EXPECT_EQ(LocateSpanBlock(0, 1, 1).file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(LocateSpanBlock(0, 1, 2).file, INVALID_HANDLE_VALUE);
}

// Blocks come from the last volume with a position first; a length word past
// 32,768 or past the buffer sends the search on; a block cut short is an
// error and that volume reads no more.
TEST_F(ArchiveSpansTest, NextBlockComesFromTheLastVolumeWithAPosition) {
  Python(
      "import struct\n"
      "f = open(\"" + folder + "/a.vol\", \"wb\")\n"
      "f.write(bytes(1024) + struct.pack(\"<H\", 5) + b\"hello\" + struct.pack(\"<H\", 3) + b\"abc\""
      " + struct.pack(\"<H\", 40000))\n"
      "f.close()\n"
      "f = open(\"" + folder + "/b.vol\", \"wb\")\n"
      "f.write(bytes(512) + struct.pack(\"<H\", 4) + b\"WXYZ\" + struct.pack(\"<H\", 32768) + bytes(32768)"
      " + struct.pack(\"<H\", 0xFFFF))\n"
      "f.close()\n"
      "f = open(\"" + folder + "/c.vol\", \"wb\")\n"
      "f.write(bytes(512) + struct.pack(\"<H\", 100) + b\"short\")\n"
      "f.close()\n");
  Open("a.vol");
  Open("b.vol");
  Open("c.vol");
  SpanVolumes[0].current = {2, 0};
  SpanVolumes[1].current = {1, 0};
  SpanVolumes[2].current = {1, 0};
  std::vector<uint8_t> buffer(kSpanBlockLimit);
  auto next = [&]() {
    const int32_t n = ReadNextSpanBlock(buffer.data(), buffer.size());
    return n <= 0 ? std::to_string(n) : std::string(buffer.begin(), buffer.begin() + std::min(n, 5));
  };
  EXPECT_EQ(next(), "-1") << "c.vol's block is cut short";
  EXPECT_EQ(SpanVolumes[2].current, SpanPosition{}) << "and c.vol reads no more";
  EXPECT_EQ(next(), "WXYZ");
  EXPECT_EQ(SpanVolumes[1].current, (SpanPosition{1, 6}));
  EXPECT_EQ(next(), std::string(5, '\0')) << "a block of exactly 32,768 bytes";
  EXPECT_EQ(SpanVolumes[1].current, (SpanPosition{65, 8})) << "1 x 512 + 6 + 2 + 32768";
  EXPECT_EQ(next(), "hello") << "b.vol's next length word is too long";
  EXPECT_EQ(next(), "abc");
  EXPECT_EQ(SpanVolumes[0].current, (SpanPosition{2, 12}));
  EXPECT_EQ(next(), "0") << "no volume has a block";
  // A buffer too small for the block is never written past.
  SpanVolumes[0].current = {2, 0};
  std::vector<uint8_t> small(4, 0xEE);
  EXPECT_EQ(ReadNextSpanBlock(small.data(), small.size()), 0);
  EXPECT_EQ(small, std::vector<uint8_t>(4, 0xEE));
  CloseVolumeFiles(2);
  EXPECT_EQ(SpanVolumes[0].file, INVALID_HANDLE_VALUE);
  EXPECT_NE(SpanVolumes[2].file, INVALID_HANDLE_VALUE) << "only the first two are closed";
}

// The recorder keeps each item's blocks after those of the items before it;
// with the changed-block mode it appends entries whose file form is what
// struct packs.
TEST_F(ArchiveSpansTest, RecordedLocationsAndChangedBlockEntries) {
  SpanRecord.position = {5, 0};
  EXPECT_TRUE(RecordBlockLocation(1, 0));
  SpanRecord.position = {5, 100};
  EXPECT_TRUE(RecordBlockLocation(1, 1));
  SpanRecord.position = {8, 512};
  EXPECT_TRUE(RecordBlockLocation(2, 0));
  EXPECT_FALSE(RecordBlockLocation(0, 0));
  EXPECT_FALSE(RecordBlockLocation(16, 0));
  EXPECT_FALSE(RecordBlockLocation(1, -1));
  EXPECT_EQ(SpanRecord.locations, (std::vector<SpanPosition>{{5, 0}, {5, 100}, {8, 512}}));
  EXPECT_EQ(SpanRecord.blockCounts[1], 2);
  EXPECT_EQ(SpanRecord.blockCounts[2], 1);

  SpanRecord.changedOnly = true;
  SpanRecord.position = {0x123456789A, 511};
  EXPECT_TRUE(RecordBlockLocation(3, 70000));
  ASSERT_EQ(SpanRecord.changed.size(), 1u);
  const auto bytes = EncodeChangedBlock(SpanRecord.changed[0]);
  std::string packed;
  Shell("python3 -c 'import struct,sys; sys.stdout.write(struct.pack(\"<Biqi\", 3, 70000, 0x123456789A, 511).hex())'",
        &packed);
  EXPECT_EQ(Hex(bytes.data(), bytes.size()), packed);
  EXPECT_EQ(DecodeChangedBlock(bytes.data()), SpanRecord.changed[0]);
  EXPECT_EQ(SpanRecord.locations.size(), 3u) << "the location table is left alone";
}

// The file list of a host tree against find's listing: every item once, its
// type, size, modification time and nesting, its parent chain giving its
// path; the shared depth counter bounds the walk and ends where it began.
TEST_F(ArchiveSpansTest, FileListOfATreeMatchesFind) {
  const std::string tree = folder + "/tree";
  ASSERT_EQ(Shell("mkdir -p '" + tree + "/Docs/Old/Older' '" + tree + "/Empty' '" + tree +
                  "/Long folder name' && printf 12345 > '" + tree + "/a.txt' && head -c 70000 /dev/zero > '" +
                  tree + "/Docs/big.bin' && printf x > '" + tree + "/Docs/Old/Older/deep.txt' && printf yz > '" +
                  tree + "/Long folder name/file with spaces.txt' && touch -d '2011-03-04 05:06:07 UTC' '" + tree +
                  "/a.txt'"),
            0);
  std::string listing;
  ASSERT_EQ(Shell("cd '" + tree + "' && find . -mindepth 1 -printf '%y %s %T@ %P\\n'", &listing), 0);
  // path -> "type size seconds"
  std::map<std::string, std::string> expected;
  std::istringstream lines(listing);
  std::string type, size, time, path;
  while (lines >> type >> size >> time && std::getline(lines >> std::ws, path))
    expected[path] = type + " " + (type == "d" ? "-" : size) + " " + time.substr(0, time.find('.'));
  ASSERT_EQ(expected.size(), 9u) << listing;

  FileList = FileListState{};
  FolderDepth = 0;
  ASSERT_TRUE(BuildFileList(u"P:\\tree", -1));
  EXPECT_EQ(FolderDepth, 0);
  std::map<std::string, std::string> got;
  for (const FileListEntry& e : FileList.entries) {
    std::string full = platform::to_utf8(FileListName(e).GetString());
    int depth = 0;
    for (int32_t p = e.parent; p >= 0; p = FileList.entries[static_cast<size_t>(p)].parent, ++depth)
      full = platform::to_utf8(FileListName(FileList.entries[static_cast<size_t>(p)]).GetString()) + "/" + full;
    EXPECT_EQ(e.indent, depth * 3 + 3) << full;
    const uint64_t size = (uint64_t{e.find.nFileSizeHigh} << 32) | e.find.nFileSizeLow;
    const uint64_t stamp = (uint64_t{e.find.ftLastWriteTime.dwHighDateTime} << 32) | e.find.ftLastWriteTime.dwLowDateTime;
    const bool folderEntry = e.type == kFileListFolder;
    EXPECT_EQ(folderEntry, (e.find.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) << full;
    got[full] = std::string(folderEntry ? "d" : "f") + " " + (folderEntry ? "-" : std::to_string(size)) + " " +
                std::to_string(stamp / 10000000 - 11644473600ull);
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(FileList.entryCount, 9);
  EXPECT_EQ(FileList.nameCount, 9);
  EXPECT_EQ(std::count(FileList.names.begin(), FileList.names.end(), u'?'), 9) << "each name ends with '?'";

  // Started one level short of the bound: the top folders are entered, the
  // folders inside them listed but not entered.
  FileList = FileListState{};
  FolderDepth = kFolderDepthLimit - 1;
  ASSERT_TRUE(BuildFileList(u"P:\\tree", -1));
  EXPECT_EQ(FolderDepth, kFolderDepthLimit - 1);
  std::set<std::string> names;
  for (const FileListEntry& e : FileList.entries) names.insert(platform::to_utf8(FileListName(e).GetString()));
  EXPECT_TRUE(names.count("Old") && names.count("big.bin")) << "one level down is listed";
  EXPECT_FALSE(names.count("Older")) << "two levels down is past the bound";
  // A folder that is not there lists nothing.
  FileList = FileListState{};
  FolderDepth = 0;
  EXPECT_TRUE(BuildFileList(u"P:\\missing", -1));
  EXPECT_TRUE(FileList.entries.empty());
}

// Sectors of the current disk at base + (block - 1) x block size + index x
// unit, against dd of the same place of the disk's image; requests that
// would take a negative index or overflow read nothing.
TEST_F(ArchiveSpansTest, ArchiveSectorsAreReadWhereTheRequestPoints) {
  ASSERT_GT(ReadDiskGeometry(0), 0u) << "the disk's multiplier, which sector reads need";
  ASSERT_NE(OpenDiskRead(0), nullptr);
  std::vector<uint8_t> got(2 * 512, 0xEE);
  // 2000 + (2 - 1) x 40 + 1 x 8 = 2048: the NTFS volume's first two sectors.
  SpanSectorRequest r{.baseSector = 2000, .block = 2, .blockSectors = 40, .index = 1, .unit = 8, .count = 2,
                      .buffer = got.data()};
  EXPECT_EQ(ReadArchiveSectors(r), 0);
  CloseCurrentDisk();
  std::string expected;
  ASSERT_EQ(Shell("dd if='" + w.pc.Image(0) + "' bs=512 skip=2048 count=2 2>/dev/null", &expected), 0);
  ASSERT_EQ(expected.size(), got.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin(),
                         [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));
  EXPECT_EQ(std::string(got.begin() + 3, got.begin() + 7), "NTFS");

  ASSERT_NE(OpenDiskRead(0), nullptr);
  std::fill(got.begin(), got.end(), 0xEE);
  for (SpanSectorRequest bad : {SpanSectorRequest{.block = 0, .count = 1, .buffer = got.data()},
                                SpanSectorRequest{.index = -1, .unit = 8, .count = 1, .buffer = got.data()},
                                SpanSectorRequest{.block = 2, .blockSectors = -4, .count = 1, .buffer = got.data()},
                                SpanSectorRequest{.baseSector = ~uint64_t{0} - 4, .index = 1, .unit = 8, .count = 1,
                                                  .buffer = got.data()},
                                SpanSectorRequest{.block = INT64_MAX, .blockSectors = 1 << 20, .count = 1,
                                                  .buffer = got.data()},
                                SpanSectorRequest{.count = 0, .buffer = got.data()}})
    EXPECT_EQ(ReadArchiveSectors(bad), -1);
  EXPECT_EQ(got, std::vector<uint8_t>(got.size(), 0xEE)) << "nothing was read for them";
  CloseCurrentDisk();
}

}  // namespace
