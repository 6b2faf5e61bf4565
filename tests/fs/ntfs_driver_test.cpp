// The NTFS driver against ntfs-3g's own tools on the same image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "fs/fs_fixture.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/ntfs/ntfs_driver.h"
#include "tests/support/ntfs_fuse.h"

using namespace platform;
using namespace platform::fs;
using fstest::Quote;


namespace {

constexpr uint64_t kImageSize = 64ull << 20;

struct NtfsImage {
  fstest::ScratchDir dir;
  std::string image;
  uint32_t sector_size;
  explicit NtfsImage(uint32_t ss, const std::string& label = "DATA") : image(dir.file("ntfs.img")), sector_size(ss) {
    EXPECT_TRUE(fstest::MakeNtfsImage(image, kImageSize, ss, label));
  }
  std::unique_ptr<ntfs::NtfsDriver> mount(DWORD* error = nullptr) {
    DWORD e = 0;
    auto dev = std::shared_ptr<BlockDevice>(FileBlockDevice::open(image, sector_size));
    auto d = ntfs::Mount(dev, false, &e);
    if (error) *error = e;
    return d;
  }
  std::vector<uint8_t> cat(const std::string& path) {
    auto r = fstest::Run("ntfscat " + Quote(image) + " " + Quote(path) + " > " + Quote(dir.file("cat.out")));
    if (r.status != 0) return {};
    return fstest::ReadHostFile(dir.file("cat.out"));
  }
  bool checks_clean() {
    auto r = fstest::Run("ntfsfix -n " + Quote(image));
    return r.status == 0;
  }
};

VolumePath P(std::initializer_list<const char16_t*> parts) {
  VolumePath p;
  for (auto s : parts) p.push_back(s);
  return p;
}

DWORD WriteAll(VolumeDriver& d, const VolumePath& path, const std::vector<uint8_t>& bytes) {
  DWORD e = d.create_file(path, 0);
  if (e && e != ERROR_ALREADY_EXISTS) return e;
  std::unique_ptr<OpenFile> f;
  if ((e = d.open(path, true, &f))) return e;
  // Uneven chunks cross cluster boundaries.
  size_t pos = 0, chunk = 7000;
  while (pos < bytes.size()) {
    size_t n = std::min(chunk, bytes.size() - pos);
    if ((e = f->write(pos, bytes.data() + pos, n))) return e;
    pos += n;
    chunk = chunk * 3 + 1;
  }
  return f->flush();
}

std::vector<uint8_t> ReadAll(VolumeDriver& d, const VolumePath& path) {
  std::unique_ptr<OpenFile> f;
  if (d.open(path, false, &f)) return {};
  std::vector<uint8_t> out(f->size());
  size_t done = 0;
  if (f->read(0, out.data(), out.size(), &done) || done != out.size()) return {};
  return out;
}

class NtfsBySector : public ::testing::TestWithParam<uint32_t> {};

TEST_P(NtfsBySector, FilesWrittenByDriverReadBackWithNtfsTools) {
  NtfsImage img(GetParam());
  auto big = fstest::Pattern(3 * 1024 * 1024 + 123, 1);
  auto small = fstest::Pattern(300, 2);  // stays resident in the MFT record
  {
    DWORD e = 0;
    auto d = img.mount(&e);
    ASSERT_TRUE(d) << e;
    ASSERT_EQ(d->create_folder(P({u"Docs"})), ERROR_SUCCESS);
    ASSERT_EQ(d->create_folder(P({u"Docs", u"Sub Folder"})), ERROR_SUCCESS);
    ASSERT_EQ(WriteAll(*d, P({u"Docs", u"Sub Folder", u"big.bin"}), big), ERROR_SUCCESS);
    ASSERT_EQ(WriteAll(*d, P({u"small.txt"}), small), ERROR_SUCCESS);
    ASSERT_EQ(WriteAll(*d, P({u"Docs", u"Gr\u00fc\u00dfe \u65e5\u672c.txt"}), small), ERROR_SUCCESS);
    // Truncate a copy down and check the tail is gone.
    ASSERT_EQ(WriteAll(*d, P({u"cut.bin"}), big), ERROR_SUCCESS);
    std::unique_ptr<OpenFile> f;
    ASSERT_EQ(d->open(P({u"cut.bin"}), true, &f), ERROR_SUCCESS);
    ASSERT_EQ(f->set_size(5000), ERROR_SUCCESS);
  }
  EXPECT_EQ(img.cat("/Docs/Sub Folder/big.bin"), big);
  EXPECT_EQ(img.cat("/small.txt"), small);
  EXPECT_EQ(img.cat("/cut.bin"), std::vector<uint8_t>(big.begin(), big.begin() + 5000));
  auto ls = fstest::Run("ntfsls " + Quote(img.image) + " -p /Docs");
  EXPECT_NE(ls.output.find("Sub Folder"), std::string::npos) << ls.output;
  EXPECT_NE(ls.output.find("Gr\u00fc\u00dfe \u65e5\u672c.txt"), std::string::npos) << ls.output;
  EXPECT_TRUE(img.checks_clean());
}

TEST_P(NtfsBySector, FilesCopiedInByNtfscpReadThroughDriver) {
  NtfsImage img(GetParam());
  auto bytes = fstest::Pattern(200000, 7);
  fstest::WriteHostFile(img.dir.file("src.bin"), bytes);
  ASSERT_EQ(fstest::Run("ntfscp -f " + Quote(img.image) + " " + Quote(img.dir.file("src.bin")) + " /Copied.BIN").status, 0);
  DWORD e = 0;
  auto d = img.mount(&e);
  ASSERT_TRUE(d) << e;
  // Any spelling finds it; the stored one is reported.
  EXPECT_EQ(ReadAll(*d, P({u"copied.bin"})), bytes);
  FileInfo info;
  ASSERT_EQ(d->stat(P({u"COPIED.bin"}), &info), ERROR_SUCCESS);
  EXPECT_EQ(info.name, u"Copied.BIN");
  EXPECT_EQ(info.size, bytes.size());
  std::vector<FileInfo> root;
  ASSERT_EQ(d->list({}, &root), ERROR_SUCCESS);
  ASSERT_EQ(root.size(), 1u) << "metadata files must stay hidden";
  EXPECT_EQ(root[0].name, u"Copied.BIN");
  VolumeInfo vi;
  ASSERT_EQ(d->volume_info(&vi), ERROR_SUCCESS);
  EXPECT_EQ(vi.file_system, u"NTFS");
  EXPECT_EQ(vi.label, u"DATA");
  EXPECT_EQ(vi.bytes_per_sector, GetParam());
  EXPECT_GT(vi.free_clusters, 0u);
  EXPECT_LT(vi.free_clusters, vi.total_clusters);
  // The serial number asked alone (as every file's identity asks it) is the
  // boot sector's, as od reads it, and the one the full answer gives.
  const auto od = fstest::Run("od -An -tx4 -j72 -N4 " + Quote(img.image));
  ASSERT_EQ(od.status, 0);
  DWORD serial = 0;
  ASSERT_EQ(d->volume_serial(&serial), ERROR_SUCCESS);
  EXPECT_EQ(serial, std::stoul(od.output, nullptr, 16));
  EXPECT_EQ(vi.serial_number, serial);
}

INSTANTIATE_TEST_SUITE_P(Sectors, NtfsBySector, ::testing::Values(512u, 4096u));

// A device that counts the bytes read through it.
class CountingDevice : public BlockDevice {
 public:
  explicit CountingDevice(std::shared_ptr<BlockDevice> inner) : inner_(std::move(inner)) {}
  uint64_t size() const override { return inner_->size(); }
  uint32_t sector_size() const override { return inner_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override {
    read += length;
    return inner_->read_at(offset, buffer, length);
  }
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    return inner_->write_at(offset, buffer, length);
  }
  bool flush() override { return inner_->flush(); }
  uint64_t read = 0;

 private:
  std::shared_ptr<BlockDevice> inner_;
};

// Every file's identity asks for the volume's serial number (a copy asks it
// once a file): on a 2 TiB volume, whose cluster bitmap (64 MiB) is more than
// the driver keeps cached, it must not read the bitmap as counting the free
// clusters does. A hundred answers read less than one bitmap.
TEST(NtfsDriver, SerialNumberAloneReadsNoClusterBitmap) {
  fstest::ScratchDir dir;
  const std::string image = dir.file("big.img");
  ASSERT_TRUE(fstest::MakeNtfsImage(image, 2ull << 40, 512, "BIG"));
  auto counted = std::make_shared<CountingDevice>(std::shared_ptr<BlockDevice>(FileBlockDevice::open(image, 512)));
  DWORD e = 0;
  auto d = ntfs::Mount(counted, false, &e);
  ASSERT_TRUE(d) << e;
  const auto od = fstest::Run("od -An -tx4 -j72 -N4 " + Quote(image));
  ASSERT_EQ(od.status, 0);
  counted->read = 0;
  for (int i = 0; i < 100; ++i) {
    DWORD serial = 0;
    ASSERT_EQ(d->volume_serial(&serial), ERROR_SUCCESS);
    ASSERT_EQ(serial, std::stoul(od.output, nullptr, 16));
  }
  EXPECT_LT(counted->read, 1ull << 20) << "bytes read for 100 serial numbers";
}

TEST(NtfsDriver, FlushLeavesACheckableVolumeWhileMounted) {
  NtfsImage img(512);
  auto d = img.mount();
  ASSERT_TRUE(d);
  auto bytes = fstest::Pattern(123456, 8);
  ASSERT_EQ(d->create_folder(P({u"dir"})), ERROR_SUCCESS);
  ASSERT_EQ(WriteAll(*d, P({u"dir", u"f.bin"}), bytes), ERROR_SUCCESS);
  ASSERT_EQ(d->set_attributes(P({u"dir", u"f.bin"}), FILE_ATTRIBUTE_HIDDEN), ERROR_SUCCESS);
  ASSERT_EQ(d->flush(), ERROR_SUCCESS);
  EXPECT_TRUE(img.checks_clean());
  EXPECT_EQ(img.cat("/dir/f.bin"), bytes);
  // And the driver goes on working after the check.
  ASSERT_EQ(WriteAll(*d, P({u"dir", u"g.bin"}), bytes), ERROR_SUCCESS);
  ASSERT_EQ(d->flush(), ERROR_SUCCESS);
  EXPECT_EQ(img.cat("/dir/g.bin"), bytes);
}

// Compression: an empty file or a folder takes the flag, and what is written
// afterwards is stored compressed (ntfsinfo's compressed size), reading back
// whole through ntfs-3g. NTFS cannot compress with clusters over 4 KiB, and a
// file that already holds data keeps its stored form: both are refused.
TEST(NtfsDriver, CompressedFilesAndFoldersStoreTheirDataCompressed) {
  std::vector<uint8_t> text;
  for (int i = 0; text.size() < 700000; ++i) {
    const std::string line = "line " + std::to_string(i % 997) + " of a text that compresses well\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  struct Case {
    uint32_t cluster;
    bool compresses;
  } cases[] = {{512, true}, {4096, true}, {8192, false}, {65536, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE("cluster " + std::to_string(c.cluster));
    fstest::ScratchDir dir;
    const std::string image = dir.file("ntfs.img");
    fstest::MakeSparseFile(image, kImageSize);
    ASSERT_EQ(fstest::Run("mkntfs -F -Q -q -c " + std::to_string(c.cluster) + " " + Quote(image)).status, 0);
    {
      DWORD e = 0;
      auto d = ntfs::Mount(std::shared_ptr<BlockDevice>(FileBlockDevice::open(image, 512)), false, &e);
      ASSERT_TRUE(d) << e;
      ASSERT_EQ(d->create_file(P({u"packed.txt"}), 0), ERROR_SUCCESS);
      ASSERT_EQ(d->create_folder(P({u"Packed"})), ERROR_SUCCESS);
      const DWORD expected = c.compresses ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
      EXPECT_EQ(d->set_compressed(P({u"packed.txt"})), expected);
      EXPECT_EQ(d->set_compressed(P({u"Packed"})), expected);
      ASSERT_EQ(WriteAll(*d, P({u"packed.txt"}), text), ERROR_SUCCESS);
      ASSERT_EQ(WriteAll(*d, P({u"Packed", u"inner.txt"}), text), ERROR_SUCCESS);
      // Data already stored is not compressed after the fact.
      ASSERT_EQ(WriteAll(*d, P({u"plain.txt"}), text), ERROR_SUCCESS);
      EXPECT_EQ(d->set_compressed(P({u"plain.txt"})), ERROR_NOT_SUPPORTED);
    }
    fstest::WriteHostFile(dir.file("t"), text);
    for (const char* path : {"/packed.txt", "/Packed/inner.txt", "/plain.txt"}) {
      SCOPED_TRACE(path);
      EXPECT_EQ(fstest::Run("ntfscat " + Quote(image) + " " + Quote(path) + " | cmp - " + Quote(dir.file("t"))).status, 0);
      const std::string info = fstest::Run("ntfsinfo -F " + Quote(path) + " " + Quote(image)).output;
      const bool plain = std::string(path) == "/plain.txt";
      const bool compressed = c.compresses && !plain;
      EXPECT_EQ(info.find("COMPRESSED") != std::string::npos, compressed) << info;
      // The compressed size is what the data's clusters take.
      const size_t at = info.find("Compressed size:");
      EXPECT_EQ(at != std::string::npos, compressed) << info;
      if (at != std::string::npos) EXPECT_LT(std::stoull(info.substr(at + 16)), text.size() / 4) << info;
    }
    const std::string folder = fstest::Run("ntfsinfo -F /Packed " + Quote(image)).output;
    EXPECT_EQ(folder.find("COMPRESSED") != std::string::npos, c.compresses) << folder;
    EXPECT_EQ(fstest::Run("ntfsfix -n " + Quote(image)).status, 0);
  }
}

TEST(NtfsDriver, MetadataSurvivesRemount) {
  NtfsImage img(512);
  const uint64_t created = 132000000000000000ull, accessed = 132100000000000000ull, written = 132200000000000000ull;
  // A junction to \??\C:\Target.
  std::u16string target = u"\\??\\C:\\Target";
  std::u16string print = u"C:\\Target";
  std::vector<uint8_t> reparse;
  auto put16 = [&](uint16_t v) {
    reparse.push_back(v & 0xFF);
    reparse.push_back(v >> 8);
  };
  uint16_t tlen = static_cast<uint16_t>(target.size() * 2), plen = static_cast<uint16_t>(print.size() * 2);
  put16(0x0003);
  put16(0xA000);  // IO_REPARSE_TAG_MOUNT_POINT
  put16(static_cast<uint16_t>(8 + tlen + 2 + plen + 2));
  put16(0);
  put16(0);
  put16(tlen);
  put16(static_cast<uint16_t>(tlen + 2));
  put16(plen);
  for (auto c : target) put16(c);
  put16(0);
  for (auto c : print) put16(c);
  put16(0);
  std::vector<uint8_t> sd;
  {
    auto d = img.mount();
    ASSERT_TRUE(d);
    ASSERT_EQ(d->create_file(P({u"a long file name.text"}), 0), ERROR_SUCCESS);
    ASSERT_EQ(d->set_attributes(P({u"a long file name.text"}),
                                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              ERROR_SUCCESS);
    ASSERT_EQ(d->set_times(P({u"a long file name.text"}), &created, &accessed, &written), ERROR_SUCCESS);
    FileInfo now;
    ASSERT_EQ(d->stat(P({u"a long file name.text"}), &now), ERROR_SUCCESS);
    EXPECT_EQ(now.creation_time, created) << "set_times takes effect at once";
    ASSERT_EQ(d->set_short_name(P({u"a long file name.text"}), u"ALONGF~1.TEX"), ERROR_SUCCESS);
    ASSERT_EQ(d->stat(P({u"a long file name.text"}), &now), ERROR_SUCCESS);
    EXPECT_EQ(now.creation_time, created) << "changing the alias keeps the times";
    ASSERT_EQ(d->create_folder(P({u"Junction"})), ERROR_SUCCESS);
    ASSERT_EQ(d->set_reparse_point(P({u"Junction"}), reparse), ERROR_SUCCESS);
    ASSERT_EQ(d->get_security(P({u"a long file name.text"}), &sd), ERROR_SUCCESS);
    ASSERT_GE(sd.size(), 20u);
    EXPECT_EQ(sd[0], 1);  // revision
    // Flip the DACL-present control bit's companion "auto-inherited" flag as a visible change.
    sd[3] ^= 0x04;
    ASSERT_EQ(d->set_security(P({u"a long file name.text"}), sd), ERROR_SUCCESS);
    EXPECT_EQ(d->set_label(u"Renamed"), ERROR_SUCCESS);
  }
  ASSERT_TRUE(img.checks_clean());
  auto d = img.mount();
  ASSERT_TRUE(d);
  FileInfo info;
  ASSERT_EQ(d->stat(P({u"A LONG FILE NAME.TEXT"}), &info), ERROR_SUCCESS);
  EXPECT_EQ(info.attributes & 0xFF, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  EXPECT_EQ(info.creation_time, created);
  EXPECT_EQ(info.last_access_time, accessed);
  EXPECT_EQ(info.last_write_time, written);
  EXPECT_EQ(info.short_name, u"ALONGF~1.TEX");
  std::vector<FileInfo> list;
  ASSERT_EQ(d->list({}, &list), ERROR_SUCCESS);
  auto it = std::find_if(list.begin(), list.end(), [](auto& f) { return f.name == u"a long file name.text"; });
  ASSERT_NE(it, list.end());
  EXPECT_EQ(it->short_name, u"ALONGF~1.TEX");
  EXPECT_EQ(it->creation_time, created);
  ASSERT_EQ(d->stat(P({u"Junction"}), &info), ERROR_SUCCESS);
  EXPECT_TRUE(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_TRUE(info.attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(info.reparse_tag, IO_REPARSE_TAG_MOUNT_POINT);
  std::vector<uint8_t> got;
  ASSERT_EQ(d->get_reparse_point(P({u"junction"}), &got), ERROR_SUCCESS);
  EXPECT_EQ(got, reparse);
  std::vector<uint8_t> sd2;
  ASSERT_EQ(d->get_security(P({u"a long file name.text"}), &sd2), ERROR_SUCCESS);
  EXPECT_EQ(sd2, sd);
  VolumeInfo vi;
  ASSERT_EQ(d->volume_info(&vi), ERROR_SUCCESS);
  EXPECT_EQ(vi.label, u"Renamed");
  // Not a reparse point.
  EXPECT_EQ(d->get_reparse_point(P({u"a long file name.text"}), &got), ERROR_NOT_A_REPARSE_POINT);
  d.reset();
  auto info_out = fstest::Run("ntfsinfo -F '/a long file name.text' " + Quote(img.image));
  EXPECT_NE(info_out.output.find("ALONGF~1.TEX"), std::string::npos) << info_out.output;
}

TEST(NtfsDriver, NamespaceOperationsAndTheirErrors) {
  NtfsImage img(4096);
  auto d = img.mount();
  ASSERT_TRUE(d);
  auto bytes = fstest::Pattern(40000, 3);
  ASSERT_EQ(d->create_folder(P({u"A"})), ERROR_SUCCESS);
  ASSERT_EQ(d->create_folder(P({u"A", u"B"})), ERROR_SUCCESS);
  ASSERT_EQ(WriteAll(*d, P({u"A", u"B", u"f.bin"}), bytes), ERROR_SUCCESS);
  ASSERT_EQ(d->create_folder(P({u"C"})), ERROR_SUCCESS);
  struct Case {
    const char* what;
    std::function<DWORD()> op;
    DWORD expected;
  } cases[] = {
      {"create existing file", [&] { return d->create_file(P({u"a", u"b", u"F.BIN"}), 0); }, ERROR_ALREADY_EXISTS},
      {"create existing folder", [&] { return d->create_folder(P({u"a"})); }, ERROR_ALREADY_EXISTS},
      {"create under missing parent", [&] { return d->create_file(P({u"missing", u"x"}), 0); }, ERROR_PATH_NOT_FOUND},
      {"create under a file", [&] { return d->create_file(P({u"A", u"B", u"f.bin", u"x"}), 0); }, ERROR_PATH_NOT_FOUND},
      {"remove non-empty folder", [&] { return d->remove(P({u"A"})); }, ERROR_DIR_NOT_EMPTY},
      {"remove missing", [&] { return d->remove(P({u"nope"})); }, ERROR_FILE_NOT_FOUND},
      {"rename onto existing", [&] { return d->rename(P({u"C"}), P({u"a"})); }, ERROR_ALREADY_EXISTS},
      {"stat missing in missing", [&] {
         FileInfo i;
         return d->stat(P({u"x", u"y"}), &i);
       }, ERROR_PATH_NOT_FOUND},
      {"open a folder for data", [&] {
         std::unique_ptr<OpenFile> f;
         return d->open(P({u"A"}), false, &f);
       }, ERROR_ACCESS_DENIED},
      {"name too long", [&] { return d->create_file(P({std::u16string(256, u'x').c_str()}), 0); },
       ERROR_FILENAME_EXCED_RANGE},
  };
  for (auto& c : cases) EXPECT_EQ(c.op(), c.expected) << c.what;

  // Moving a non-empty folder into another folder keeps its contents.
  ASSERT_EQ(d->rename(P({u"A", u"B"}), P({u"C", u"Moved"})), ERROR_SUCCESS);
  EXPECT_EQ(ReadAll(*d, P({u"C", u"Moved", u"f.bin"})), bytes);
  // A case-only rename keeps the file and changes the spelling.
  ASSERT_EQ(d->rename(P({u"C", u"Moved", u"f.bin"}), P({u"C", u"Moved", u"F.Bin"})), ERROR_SUCCESS);
  FileInfo info;
  ASSERT_EQ(d->stat(P({u"c", u"moved", u"f.bin"}), &info), ERROR_SUCCESS);
  EXPECT_EQ(info.name, u"F.Bin");
  ASSERT_EQ(d->remove(P({u"A"})), ERROR_SUCCESS);
  d.reset();
  EXPECT_EQ(img.cat("/C/Moved/F.Bin"), bytes);
  auto ls = fstest::Run("ntfsls " + Quote(img.image));
  EXPECT_EQ(ls.output.find("A\n"), std::string::npos) << ls.output;
  EXPECT_TRUE(img.checks_clean());
}

TEST(NtfsDriver, DamagedImagesAreRefusedNotCrashed) {
  struct Case {
    const char* fault;
    uint64_t offset;
    size_t length;
    uint8_t fill;
  } cases[] = {
      {"zeroed boot sector", 0, 512, 0},
      {"garbage boot sector fields", 11, 40, 0xFF},
  };
  for (auto& c : cases) {
    NtfsImage img(512);
    auto bytes = fstest::ReadHostFile(img.image);
    ASSERT_GE(bytes.size(), c.offset + c.length);
    std::memset(bytes.data() + c.offset, c.fill, c.length);
    fstest::WriteHostFile(img.image, bytes);
    DWORD e = 0;
    auto d = img.mount(&e);
    EXPECT_FALSE(d) << c.fault;
    EXPECT_TRUE(e == ERROR_UNRECOGNIZED_VOLUME || e == ERROR_FILE_CORRUPT) << c.fault << " gave " << e;
  }
  // A device shorter than the volume its boot sector describes.
  {
    NtfsImage img(512);
    auto whole = std::shared_ptr<BlockDevice>(FileBlockDevice::open(img.image, 512));
    auto cut = std::make_shared<WindowBlockDevice>(whole, 0, 8ull << 20);
    DWORD e = 0;
    auto d = ntfs::Mount(cut, false, &e);
    if (d) {
      std::vector<FileInfo> list;
      auto bytes = fstest::Pattern(20ull << 20, 4);  // more than the device holds
      EXPECT_NE(WriteAll(*d, P({u"big"}), bytes), ERROR_SUCCESS);
    } else {
      EXPECT_NE(e, ERROR_SUCCESS);
    }
  }
  // The first MFT record without its signature.
  {
    NtfsImage img(512);
    ntfs::NtfsVolumeData vd;
    {
      auto d = img.mount();
      ASSERT_TRUE(d);
      ASSERT_EQ(d->volume_data(&vd), ERROR_SUCCESS);
    }
    auto bytes = fstest::ReadHostFile(img.image);
    std::memcpy(bytes.data() + vd.mft_start_lcn * vd.bytes_per_cluster, "BAAD", 4);
    fstest::WriteHostFile(img.image, bytes);
    DWORD e = 0;
    auto d = img.mount(&e);
    if (d) {
      // Mounted from the mirror copy: the volume reads as the empty volume it is.
      std::vector<FileInfo> list;
      EXPECT_EQ(d->list({}, &list), ERROR_SUCCESS);
      EXPECT_TRUE(list.empty());
    } else {
      EXPECT_NE(e, ERROR_SUCCESS);
    }
  }
  // A smashed MFT record of the root folder: the mount or the listing fails cleanly.
  NtfsImage img(512);
  {
    auto d = img.mount();
    ASSERT_TRUE(d);
    ntfs::NtfsVolumeData vd;
    ASSERT_EQ(d->volume_data(&vd), ERROR_SUCCESS);
    d.reset();
    auto bytes = fstest::ReadHostFile(img.image);
    uint64_t root = vd.mft_start_lcn * vd.bytes_per_cluster + 5 * vd.bytes_per_mft_record;
    std::memset(bytes.data() + root + 0x30, 0xEE, 200);
    fstest::WriteHostFile(img.image, bytes);
  }
  DWORD e = 0;
  auto d = img.mount(&e);
  if (d) {
    std::vector<FileInfo> list;
    EXPECT_NE(d->list({}, &list), ERROR_SUCCESS);
  } else {
    EXPECT_NE(e, ERROR_SUCCESS);
  }
}

// Hard links made by ntfs-3g itself: each directory entry is listed under its
// own name, and stat, remove and a new link go by the name asked for.
TEST(NtfsHardLinks, EachNameOfAFileIsItsOwnEntry) {
  NtfsImage img(512);
  {
    test_support::NtfsFuseVolume fuse(img.image);
    if (!fuse.mounted()) GTEST_SKIP() << "no FUSE mount of ntfs-3g here";
    ASSERT_TRUE(fuse.Put("/a.txt", "one file"));
    ASSERT_EQ(fuse.Run("mkdir Other && ln a.txt b.txt && ln a.txt Other/c.txt"), 0);
    ASSERT_TRUE(fuse.Unmount());
  }
  auto d = img.mount();
  ASSERT_TRUE(d);
  std::vector<FileInfo> list;
  ASSERT_EQ(d->list({}, &list), ERROR_SUCCESS);
  std::vector<std::u16string> names;
  for (auto& e : list)
    if (!(e.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      names.push_back(e.name);
      EXPECT_EQ(e.link_count, 3u) << to_utf8(e.name);
    }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"a.txt", u"b.txt"}));
  FileInfo a, b;
  ASSERT_EQ(d->stat(P({u"B.TXT"}), &b), ERROR_SUCCESS);
  EXPECT_EQ(b.name, u"b.txt") << "the spelling of the name asked for";
  ASSERT_EQ(d->stat(P({u"a.txt"}), &a), ERROR_SUCCESS);
  EXPECT_EQ(a.name, u"a.txt");
  EXPECT_EQ(a.file_id, b.file_id);

  // Our own link, and removing one name removes that name only.
  ASSERT_EQ(d->create_link(P({u"a.txt"}), P({u"Other", u"d.txt"})), ERROR_SUCCESS);
  EXPECT_EQ(d->create_link(P({u"a.txt"}), P({u"b.txt"})), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(d->create_link(P({u"Other"}), P({u"e"})), ERROR_ACCESS_DENIED) << "no hard links to folders";
  ASSERT_EQ(d->remove(P({u"b.txt"})), ERROR_SUCCESS);
  ASSERT_EQ(d->flush(), ERROR_SUCCESS);
  d.reset();
  const auto root = fstest::Run("ntfsls " + Quote(img.image));
  EXPECT_NE(root.output.find("a.txt"), std::string::npos) << root.output;
  EXPECT_EQ(root.output.find("b.txt"), std::string::npos) << root.output;
  const auto other = fstest::Run("ntfsls " + Quote(img.image) + " -p /Other");
  EXPECT_NE(other.output.find("c.txt"), std::string::npos) << other.output;
  EXPECT_NE(other.output.find("d.txt"), std::string::npos) << other.output;
  EXPECT_EQ(img.cat("/Other/d.txt"), std::vector<uint8_t>({'o', 'n', 'e', ' ', 'f', 'i', 'l', 'e'}));
  EXPECT_TRUE(img.checks_clean());
}

}  // namespace
