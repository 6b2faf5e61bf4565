// The driver against independent tools: what it writes passes fsck.fat and
// reads back identically with mtools; what mtools writes reads back through
// the driver. Every case runs on FAT12, FAT16 and FAT32 with 512- and
// 4096-byte sectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "fat_fixture.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/fat/short_name.h"

using namespace fat_test;
using platform::fs::FileInfo;
using platform::fs::VolumeInfo;
using platform::fs::VolumePath;

namespace {

struct Layout {
  int fat_bits;
  uint32_t sector;
  uint64_t kib;
};

std::string LayoutName(const testing::TestParamInfo<Layout>& info) {
  return "FAT" + std::to_string(info.param.fat_bits) + "_" + std::to_string(info.param.sector);
}

class FatInterop : public testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    image_ = std::make_unique<FatImage>(GetParam().fat_bits, GetParam().sector, GetParam().kib);
    ASSERT_TRUE(image_->ok());
  }
  std::unique_ptr<FatImage> image_;
};

std::string dos(const VolumePath& p) {
  std::string s;
  for (auto& c : p) s += "/" + U8(c);
  return s;
}

void ExpectClean(const FatImage& image) {
  CommandResult r = image.fsck();
  EXPECT_EQ(r.status, 0) << r.output;
}

TEST_P(FatInterop, WrittenTreePassesFsckAndReadsBackWithMtools) {
  DWORD err;
  auto v = image_->mount(&err);
  ASSERT_TRUE(v) << err;
  VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  uint32_t cb = vi.bytes_per_cluster;
  EXPECT_EQ(vi.file_system, GetParam().fat_bits == 32 ? u"FAT32" : u"FAT");

  ASSERT_EQ(v->create_folder(P({u"Program Files"})), 0u);
  ASSERT_EQ(v->create_folder(P({u"Program Files", u"Sub Folder with a long name"})), 0u);
  ASSERT_EQ(v->create_folder(P({u"EFI"})), 0u);
  ASSERT_EQ(v->create_folder(P({u"EFI", u"Microsoft"})), 0u);
  ASSERT_EQ(v->create_folder(P({u"EFI", u"Microsoft", u"Boot"})), 0u);
  struct File {
    VolumePath path;
    size_t size;
  };
  std::vector<File> files = {
      {P({u"empty.txt"}), 0},
      {P({u"one"}), 1},
      {P({u"Program Files", u"almost a cluster.bin"}), size_t(cb - 1)},
      {P({u"Program Files", u"exactly one cluster.bin"}), size_t(cb)},
      {P({u"Program Files", u"Sub Folder with a long name", u"a bit more.dat"}), size_t(cb + 1)},
      {P({u"EFI", u"Microsoft", u"Boot", u"BCD"}), size_t(3 * cb + 17)},
      {P({u"big file with ünïcödé name.bin"}), 200 * 1024 + 3},
  };
  // Enough entries to make a sub-folder grow past its first cluster.
  for (int i = 0; i < 40; ++i) {
    std::u16string name = u"many entries number " + platform::to_utf16(std::to_string(i)) + u".txt";
    files.push_back({{u"EFI", name}, size_t(i * 7)});
  }
  for (size_t i = 0; i < files.size(); ++i)
    ASSERT_EQ(WriteFile(*v, files[i].path, Pattern(files[i].size, uint32_t(i)), 1000), 0u) << dos(files[i].path);
  ASSERT_EQ(v->flush(), 0u);

  ExpectClean(*image_);
  for (size_t i = 0; i < files.size(); ++i) {
    CommandResult r = image_->mtools_read(dos(files[i].path));
    ASSERT_EQ(r.status, 0) << dos(files[i].path) << ": " << r.output;
    std::vector<uint8_t> want = Pattern(files[i].size, uint32_t(i));
    EXPECT_TRUE(Bytes(r.output) == want) << dos(files[i].path);
  }
  // Our own reading agrees after a remount.
  v.reset();
  v = image_->mount(&err);
  ASSERT_TRUE(v);
  for (size_t i = 0; i < files.size(); ++i) {
    std::vector<uint8_t> got;
    ASSERT_EQ(ReadFile(*v, files[i].path, &got), 0u) << dos(files[i].path);
    EXPECT_EQ(got, Pattern(files[i].size, uint32_t(i))) << dos(files[i].path);
  }
  std::vector<FileInfo> list;
  ASSERT_EQ(v->list(P({u"EFI"}), &list), 0u);
  EXPECT_EQ(list.size(), 41u);
}

TEST_P(FatInterop, MtoolsWrittenTreeReadsBack) {
  std::string img = image_->mtools_image();
  std::string src = image_->path() + ".src";
  std::vector<uint8_t> data = Pattern(70000, 7);
  FILE* f = fopen(src.c_str(), "wb");
  ASSERT_TRUE(f);
  fwrite(data.data(), 1, data.size(), f);
  fclose(f);
  ASSERT_EQ(Shell("mmd " + img + " ::/Boot ::/Boot/Fonts '::/Documents and Settings'").status, 0);
  ASSERT_EQ(Shell("mcopy " + img + " " + Quote(src) + " ::/Boot/BCD").status, 0);
  ASSERT_EQ(Shell("mcopy " + img + " " + Quote(src) + " '::/Documents and Settings/A Long Document Name.docx'").status, 0);
  ASSERT_EQ(Shell("mcopy " + img + " " + Quote(src) + " ::/Boot/Fonts/readme.txt").status, 0);
  ASSERT_EQ(Shell("mattrib " + img + " +r +h +s ::/Boot/BCD").status, 0);
  ASSERT_EQ(Shell("mattrib " + img + " -a ::/Boot/Fonts/readme.txt").status, 0);
  unlink(src.c_str());

  auto v = image_->mount();
  ASSERT_TRUE(v);
  for (auto path : {P({u"Boot", u"BCD"}), P({u"documents AND settings", u"a long document name.DOCX"}),
                    P({u"BOOT", u"FONTS", u"README.TXT"}), P({u"DOCUME~1", u"ALONGD~1.DOC"})}) {
    std::vector<uint8_t> got;
    ASSERT_EQ(ReadFile(*v, path, &got), 0u) << dos(path);
    EXPECT_EQ(got, data) << dos(path);
  }
  FileInfo info;
  ASSERT_EQ(v->stat(P({u"Boot", u"BCD"}), &info), 0u);
  EXPECT_EQ(info.attributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_EQ(v->stat(P({u"Boot", u"Fonts", u"readme.txt"}), &info), 0u);
  EXPECT_EQ(info.attributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(info.name, u"readme.txt");  // a lowercase 8.3 name kept through the case flags
  EXPECT_EQ(info.short_name, u"");
  ASSERT_EQ(v->stat(P({u"Documents and Settings"}), &info), 0u);
  EXPECT_EQ(info.attributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(info.short_name, u"DOCUME~1");
  std::vector<FileInfo> list;
  ASSERT_EQ(v->list({}, &list), 0u);
  std::set<std::u16string> names;
  for (auto& e : list) names.insert(e.name);
  EXPECT_EQ(names, (std::set<std::u16string>{u"Boot", u"Documents and Settings"}));
  // Our writes into the mtools tree keep it clean.
  ASSERT_EQ(WriteFile(*v, P({u"Boot", u"Fonts", u"another font file.ttf"}), data), 0u);
  ASSERT_EQ(v->flush(), 0u);
  ExpectClean(*image_);
}

TEST_P(FatInterop, DeleteRenameTruncateKeepVolumeClean) {
  auto v = image_->mount();
  ASSERT_TRUE(v);
  VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  uint32_t cb = vi.bytes_per_cluster;
  ASSERT_EQ(v->create_folder(P({u"Source Folder"})), 0u);
  ASSERT_EQ(v->create_folder(P({u"Source Folder", u"Inner"})), 0u);
  ASSERT_EQ(v->create_folder(P({u"Target"})), 0u);
  for (int i = 0; i < 12; ++i) {
    std::u16string name = u"file number " + platform::to_utf16(std::to_string(i)) + u".bin";
    ASSERT_EQ(WriteFile(*v, {u"Source Folder", name}, Pattern(size_t(cb) * (i % 4) + 100, uint32_t(i))), 0u);
  }
  ASSERT_EQ(WriteFile(*v, P({u"Source Folder", u"Inner", u"deep.txt"}), Pattern(5000, 99)), 0u);
  // Deletes, including the removal of now-empty folders.
  for (int i = 0; i < 12; i += 3) {
    std::u16string name = u"file number " + platform::to_utf16(std::to_string(i)) + u".bin";
    ASSERT_EQ(v->remove({u"Source Folder", name}), 0u);
  }
  EXPECT_EQ(v->remove(P({u"Source Folder", u"Inner"})), uint32_t(ERROR_DIR_NOT_EMPTY));
  // Renames: in place, a case change, across folders, a folder moved to another parent.
  ASSERT_EQ(v->rename(P({u"Source Folder", u"file number 1.bin"}), P({u"Source Folder", u"renamed one.bin"})), 0u);
  ASSERT_EQ(v->rename(P({u"Source Folder", u"file number 2.bin"}), P({u"Source Folder", u"FILE NUMBER 2.BIN"})), 0u);
  ASSERT_EQ(v->rename(P({u"Source Folder", u"file number 4.bin"}), P({u"Target", u"moved four.bin"})), 0u);
  ASSERT_EQ(v->rename(P({u"Source Folder", u"Inner"}), P({u"Target", u"Inner Moved"})), 0u);
  EXPECT_EQ(v->rename(P({u"Target"}), P({u"Target", u"Inner Moved", u"loop"})), uint32_t(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(v->rename(P({u"Source Folder", u"file number 5.bin"}), P({u"Target", u"moved four.bin"})),
            uint32_t(ERROR_ALREADY_EXISTS));
  // Truncation: shrink to a partial cluster, to zero, and grow with zeros.
  {
    std::unique_ptr<platform::fs::OpenFile> f;
    ASSERT_EQ(v->open(P({u"Source Folder", u"file number 7.bin"}), true, &f), 0u);
    ASSERT_EQ(f->set_size(cb + 10), 0u);
    ASSERT_EQ(v->open(P({u"Source Folder", u"file number 10.bin"}), true, &f), 0u);
    ASSERT_EQ(f->set_size(0), 0u);
    ASSERT_EQ(v->open(P({u"Source Folder", u"file number 11.bin"}), true, &f), 0u);
    ASSERT_EQ(f->set_size(3 * size_t(cb) + 500), 0u);
  }
  ASSERT_EQ(v->flush(), 0u);
  ExpectClean(*image_);

  // mtools sees the result.
  std::map<std::string, bool> expected = {{"file number 5.bin", false}, {"renamed one.bin", false},
                                          {"FILE NUMBER 2.BIN", false}, {"file number 7.bin", false},
                                          {"file number 8.bin", false}, {"file number 10.bin", false},
                                          {"file number 11.bin", false}};
  std::map<std::string, bool> seen;
  for (auto& row : Mdir(*image_, "/Source Folder"))
    seen[row.long_name.empty() ? row.short_name : row.long_name] = row.directory;
  EXPECT_EQ(seen, expected);
  CommandResult r = image_->mtools_read("/Target/Inner Moved/deep.txt");
  std::vector<uint8_t> deep = Pattern(5000, 99);
  EXPECT_EQ(Bytes(r.output), deep);
  r = image_->mtools_read("/Target/moved four.bin");
  std::vector<uint8_t> four = Pattern(size_t(cb) * 0 + 100, 4);
  EXPECT_EQ(Bytes(r.output), four);
  r = image_->mtools_read("/Source Folder/file number 7.bin");
  std::vector<uint8_t> seven = Pattern(size_t(cb) * 3 + 100, 7);
  seven.resize(cb + 10);
  EXPECT_EQ(Bytes(r.output), seven);
  r = image_->mtools_read("/Source Folder/file number 11.bin");
  std::vector<uint8_t> eleven = Pattern(size_t(cb) * 3 + 100, 11);
  eleven.resize(3 * size_t(cb) + 500, 0);
  EXPECT_EQ(Bytes(r.output), eleven);

  // Free space agrees with fsck's count of used clusters.
  r = image_->fsck();
  uint64_t used = 0, total = 0;
  ASSERT_TRUE(FsckClusters(r, &used, &total)) << r.output;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  EXPECT_EQ(vi.total_clusters, total);
  EXPECT_EQ(vi.total_clusters - vi.free_clusters, used);
}

TEST_P(FatInterop, AttributesTimesAndLabelSeenByMtools) {
  auto v = image_->mount();
  ASSERT_TRUE(v);
  ASSERT_EQ(WriteFile(*v, P({u"attrs.txt"}), Pattern(10, 1)), 0u);
  ASSERT_EQ(WriteFile(*v, P({u"plain.txt"}), Pattern(10, 2)), 0u);
  ASSERT_EQ(v->create_folder(P({u"Hidden Folder"})), 0u);
  ASSERT_EQ(v->set_attributes(P({u"attrs.txt"}), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE),
            0u);
  ASSERT_EQ(v->set_attributes(P({u"plain.txt"}), FILE_ATTRIBUTE_NORMAL), 0u);
  ASSERT_EQ(v->set_attributes(P({u"Hidden Folder"}), FILE_ATTRIBUTE_HIDDEN), 0u);
  // 2031-02-03 04:05:06 UTC as the write time; creation keeps 10 ms units.
  const uint64_t write_time = 135723315060000000ull;
  const uint64_t creation = 135723315060000000ull + 1'230'000;  // +0.123 s, kept as +0.12 s
  ASSERT_EQ(v->set_times(P({u"plain.txt"}), &creation, nullptr, &write_time), 0u);
  ASSERT_EQ(v->set_label(u"Data Disk"), 0u);
  ASSERT_EQ(v->flush(), 0u);
  ExpectClean(*image_);

  std::string letters = Mattrib(*image_, "/attrs.txt");
  std::sort(letters.begin(), letters.end());
  EXPECT_EQ(letters, "AHRS");
  EXPECT_EQ(Mattrib(*image_, "/plain.txt"), "");
  EXPECT_EQ(Mattrib(*image_, "/Hidden Folder"), "H");
  std::map<std::string, MdirRow> rows;
  for (auto& row : Mdir(*image_, "/")) rows[row.long_name.empty() ? row.short_name : row.long_name] = row;
  ASSERT_TRUE(rows.count("plain.txt"));
  EXPECT_EQ(rows["plain.txt"].date, "2031-02-03");
  EXPECT_EQ(rows["plain.txt"].time, "04:05");
  ASSERT_TRUE(rows.count("attrs.txt"));
  EXPECT_EQ(rows["attrs.txt"].date, "2024-05-17");  // the fixed clock at creation
  EXPECT_EQ(rows["attrs.txt"].time, "13:45");
  CommandResult r = Shell("mlabel -s " + image_->mtools_image() + " ::");
  EXPECT_NE(r.output.find("Volume label is DATA DISK"), std::string::npos) << r.output;
  r = Shell("blkid -p -o value -s LABEL " + Quote(image_->path()));
  EXPECT_EQ(r.output, "DATA DISK\n");

  auto again = image_->mount();
  v.reset();
  v = std::move(again);
  FileInfo info;
  ASSERT_EQ(v->stat(P({u"plain.txt"}), &info), 0u);
  EXPECT_EQ(info.last_write_time, write_time);
  EXPECT_EQ(info.creation_time, creation - 30'000);
  // The access date is the fixed clock's day (2024-05-17), at midnight.
  EXPECT_EQ(info.last_access_time, kFixedNow - (13 * 3600 + 45 * 60 + 26) * 10'000'000ull - 3'700'000);
  VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  EXPECT_EQ(vi.label, u"DATA DISK");
  ASSERT_EQ(v->set_label(u""), 0u);
  ASSERT_EQ(v->flush(), 0u);
  r = Shell("mlabel -s " + image_->mtools_image() + " ::");
  EXPECT_NE(r.output.find("has no label"), std::string::npos) << r.output;
  ExpectClean(*image_);
}

TEST_P(FatInterop, LargeWritesTakeOneContiguousRun) {
  auto v = image_->mount();
  ASSERT_TRUE(v);
  VolumeInfo vi;
  ASSERT_EQ(v->volume_info(&vi), 0u);
  // A fragmented start: small files with holes between them.
  for (int i = 0; i < 6; ++i)
    ASSERT_EQ(WriteFile(*v, {platform::to_utf16("small" + std::to_string(i))}, Pattern(vi.bytes_per_cluster, i)), 0u);
  for (int i = 0; i < 6; i += 2) ASSERT_EQ(v->remove({platform::to_utf16("small" + std::to_string(i))}), 0u);
  size_t size = std::min<size_t>(size_t(vi.bytes_per_cluster) * 300, (vi.free_clusters / 2) * vi.bytes_per_cluster);
  std::vector<uint8_t> data = Pattern(size, 42);
  ASSERT_EQ(WriteFile(*v, P({u"big.bin"}), data, 8192), 0u);
  ASSERT_EQ(v->flush(), 0u);
  CommandResult r = Shell("mshowfat " + image_->mtools_image() + " ::/big.bin");
  // One run: "<first-last>" and nothing else.
  EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '<'), 1) << r.output;
  r = image_->mtools_read("/big.bin");
  EXPECT_TRUE(Bytes(r.output) == data);
  ExpectClean(*image_);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FatInterop,
                         testing::Values(Layout{12, 512, 4096}, Layout{16, 512, 32768}, Layout{32, 512, 65536},
                                         Layout{12, 4096, 8192}, Layout{16, 4096, 65536},
                                         Layout{32, 4096, 307200}),
                         LayoutName);

}  // namespace
