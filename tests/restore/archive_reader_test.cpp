// The reader against archives of every form the writer makes: compression
// x encryption x split x incremental chains, with file, folder, disk and
// partition items read back and compared with their source bytes; and
// damaged or incomplete archives, which give a clear error and no data.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/core/text.h"
#include "restore/archive_session.h"
#include "tools/archive_writer/archive_writer.h"
#include "tests/support/host_archive_files.h"

namespace {

namespace fs = std::filesystem;
using archive_writer::DiskEntry;
using archive_writer::FileEntry;
using archive_writer::FolderEntry;
using restore::ArchiveResult;
using restore::ArchiveSession;
using restore::Compression;

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  // Runs and noise, so that every compression has work to do.
  for (size_t i = 0; i < n; ++i) v[i] = (i / 700) % 3 == 0 ? static_cast<uint8_t>(i / 700) : static_cast<uint8_t>(rng());
  return v;
}

std::u16string u16(const std::string& s) { return platform::to_utf16(s); }

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/archive-reader-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir_); }

  archive_writer::Written write(const archive_writer::Options& o, const std::vector<FileEntry>& files,
                                const std::vector<FolderEntry>& folders, const std::vector<DiskEntry>& disks,
                                const std::string& sub = "") {
    archive_writer::Written w;
    std::string error;
    EXPECT_TRUE(archive_writer::Write(o, files, folders, disks, dir_ + sub, w, error)) << error;
    return w;
  }

  // Reads every block of file item k (or folder item k).
  static ArchiveResult read_file(ArchiveSession& s, int k, int64_t size, std::vector<uint8_t>& out,
                                 bool folder = false) {
    out.clear();
    ArchiveResult r = folder ? s.BeginFolderItem(k) : s.BeginFileItem(k);
    std::vector<uint8_t> block;
    for (int64_t at = 0; r == ArchiveResult::Ok && at < size; at += restore::kBlockBytes) {
      r = s.ReadItemBlock(static_cast<size_t>(std::min<int64_t>(restore::kBlockBytes, size - at)), block);
      out.insert(out.end(), block.begin(), block.end());
    }
    return r;
  }
  // The extent of disk item j as the disk restore writes it; units that no
  // member holds are left as `fill`.
  static ArchiveResult read_disk(ArchiveSession& s, int j, std::vector<uint8_t>& out, uint8_t fill = 0xEE) {
    const auto& d = s.disk_records()[j];
    out.assign(static_cast<size_t>(d.extent_sectors() * 512), fill);
    std::vector<uint8_t> block;
    for (int64_t u = 1; u <= d.unit_count(); ++u) {
      bool found = false;
      ArchiveResult r = s.LocateUnit(j, u, found);
      if (r != ArchiveResult::Ok) return r;
      if (!found) continue;
      const int64_t sectors = d.unit_sectors(u);
      for (int64_t at = 0; at < sectors; at += 63) {
        const int64_t n = std::min<int64_t>(63, sectors - at);
        r = s.ReadUnitBlock(static_cast<size_t>(n * 512), block);
        if (r != ArchiveResult::Ok) return r;
        std::copy(block.begin(), block.end(), out.begin() + ((u - 1) * d.sectors_per_unit + at) * 512);
      }
    }
    return ArchiveResult::Ok;
  }

  std::string dir_;
};

DiskEntry disk_item(int8_t kind, int64_t sectors, int32_t per_unit, uint32_t seed, std::u16string drive = u"C:") {
  DiskEntry d;
  d.record.kind = kind;
  d.record.disk_number = 1;
  d.record.model = u"SIM DISK";
  d.record.drive_text = drive;
  d.record.partition_type = 7;
  d.record.sectors_per_unit = per_unit;
  d.record.first_sector = 2048;
  d.record.full_units = static_cast<int32_t>(sectors / per_unit);
  d.record.last_unit_sectors = static_cast<int32_t>(sectors % per_unit);
  d.bytes = random_bytes(static_cast<size_t>(sectors * 512), seed);
  return d;
}

// Every form: compression x encryption x split, with every item kind.
TEST_F(ReaderTest, EveryFormRoundTrips) {
  const std::vector<size_t> sizes = {0, 1, 0x7E00, 2 * 0x7E00 + 100, 100000};
  std::vector<FileEntry> files;
  for (size_t k = 0; k < sizes.size(); ++k) {
    FileEntry f;
    f.path = u16("C:\\data\\file" + std::to_string(k) + ".bin");
    f.data = random_bytes(sizes[k], static_cast<uint32_t>(k + 1));
    f.attributes = 0x21;
    f.times = {0x01D0000000000001, 0x01D0000000000002, 0x01D0000000000003};
    files.push_back(f);
  }
  std::vector<FolderEntry> folders(2);
  folders[0].components = {u"C:", u"docs"};
  folders[1].components = {u"C:", u"docs", u"report.doc"};
  folders[1].is_folder = false;
  folders[1].data = random_bytes(70000, 99);
  // A partition of 1000 sectors with 16065-sector units: no full unit, a
  // last unit of 15 blocks of 63 and one of 55 sectors; and a disk of
  // three 100-sector units and one of 37.
  const std::vector<DiskEntry> disks = {disk_item(6, 1000, 16065, 7), disk_item(1, 337, 100, 8, u"")};

  for (Compression c : {Compression::None, Compression::Rle, Compression::Zlib})
    for (bool encrypted : {false, true})
      for (bool split : {false, true}) {
        SCOPED_TRACE(testing::Message() << "compression " << int(c) << " encrypted " << encrypted << " split " << split);
        const std::string sub = "/form" + std::to_string(int(c)) + std::to_string(encrypted) + std::to_string(split);
        archive_writer::Options o;
        o.compression = c;
        if (encrypted) o.passkey = u"open sesame";
        if (split) o.volume_size = 40000;
        o.name = "Weekly";
        o.prefix = std::vector<uint8_t>(1000, 0x90);
        const auto w = write(o, files, folders, disks, sub);
        ASSERT_FALSE(w.files.empty());
        EXPECT_EQ(w.files.size() > 3, split) << w.files.size();

        test_support::HostArchiveFiles io;
        ArchiveSession s(io);
        ASSERT_EQ(s.ReadCatalog(u16(w.files[0]), 1000), ArchiveResult::Ok) << s.error_detail();
        EXPECT_EQ(s.header().file_count, 5);
        EXPECT_EQ(s.FilePath(2), u"C:\\data\\file1.bin");
        EXPECT_EQ(s.FolderPath(2), u"C:\\docs\\report.doc");
        EXPECT_EQ(s.header().is_split(), split);
        if (encrypted) {
          EXPECT_FALSE(s.VerifyPasskey(u"open sesame!"));
          std::vector<uint8_t> out;
          ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok) << s.error_detail();
          EXPECT_EQ(read_file(s, 2, 1, out), ArchiveResult::BadBlock);
          EXPECT_TRUE(s.VerifyPasskey(u"open sesame"));
        }
        ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok) << s.error_detail();
        EXPECT_EQ(s.archive_name(), u"Weekly");
        std::vector<uint8_t> out;
        for (size_t k = 0; k < files.size(); ++k) {
          EXPECT_EQ(s.file_records()[k + 1].size, static_cast<int64_t>(sizes[k]));
          EXPECT_EQ(s.file_records()[k + 1].attributes, 0x21u);
          EXPECT_EQ(s.file_records()[k + 1].write_time, 0x01D0000000000003u);
          ASSERT_EQ(read_file(s, static_cast<int>(k + 1), static_cast<int64_t>(sizes[k]), out), ArchiveResult::Ok)
              << s.error_detail();
          EXPECT_EQ(out, files[k].data) << k;
        }
        EXPECT_TRUE(s.folder_records()[1].is_folder_entry());
        ASSERT_EQ(read_file(s, 2, 70000, out, true), ArchiveResult::Ok) << s.error_detail();
        EXPECT_EQ(out, folders[1].data);
        s.set_member_count(1);
        ASSERT_EQ(s.LoadBlockTable(), ArchiveResult::Ok);
        for (int j = 1; j <= 2; ++j) {
          ASSERT_EQ(read_disk(s, j, out), ArchiveResult::Ok) << s.error_detail();
          EXPECT_EQ(out, disks[j - 1].bytes) << j;
        }
        s.CloseChain();
      }
}

// Member 0 is the full archive; member 1 changes one file, refers to the
// other, and stores two changed units; member 2 refers to everything and
// changes one more unit. Each member's blocks resolve to the right source.
TEST_F(ReaderTest, IncrementalChainResolvesEveryBlock) {
  const auto a = random_bytes(3 * 0x7E00 + 10, 1), b0 = random_bytes(5000, 2), b1 = random_bytes(6000, 3);
  DiskEntry disk0 = disk_item(2, 5 * 200, 200, 10, u"D:");
  DiskEntry disk1 = disk0, disk2 = disk0;
  auto overwrite_unit = [](DiskEntry& d, int64_t unit, uint32_t seed) {
    const auto fresh = random_bytes(200 * 512, seed);
    std::copy(fresh.begin(), fresh.end(), d.bytes.begin() + (unit - 1) * 200 * 512);
    d.units.push_back(unit);
  };
  overwrite_unit(disk1, 2, 20);
  overwrite_unit(disk1, 4, 21);
  overwrite_unit(disk2, 5, 22);
  std::copy(disk1.bytes.begin() + 200 * 512, disk1.bytes.begin() + 2 * 200 * 512, disk2.bytes.begin() + 200 * 512);
  std::copy(disk1.bytes.begin() + 3 * 200 * 512, disk1.bytes.begin() + 4 * 200 * 512, disk2.bytes.begin() + 3 * 200 * 512);

  for (Compression c : {Compression::Rle, Compression::Zlib}) {
    SCOPED_TRACE(int(c));
    const std::string sub = "/chain" + std::to_string(int(c));
    archive_writer::Options o;
    o.compression = c;
    o.passkey = u"chain";
    o.name = "Daily";
    o.prefix = std::vector<uint8_t>(700, 0x4D);
    auto file = [](const std::vector<uint8_t>& data, const std::string& name, bool refer) {
      FileEntry f;
      f.path = u16("C:\\" + name);
      f.data = data;
      f.refer_to_older = refer;
      return f;
    };
    o.chain = 0;
    write(o, {file(a, "a.bin", false), file(b0, "b.bin", false)}, {}, {disk0}, sub);
    o.type = 1;
    o.chain = 1;
    write(o, {file(a, "a.bin", true), file(b1, "b.bin", false)}, {}, {disk1}, sub);
    o.chain = 2;
    const auto w = write(o, {file(a, "a.bin", true), file(b1, "b.bin", true)}, {}, {disk2}, sub);

    test_support::HostArchiveFiles io;
    ArchiveSession s(io);
    ASSERT_EQ(s.ReadCatalog(u16(w.files[0]), 700), ArchiveResult::Ok) << s.error_detail();
    ASSERT_TRUE(s.VerifyPasskey(u"chain"));
    ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok) << s.error_detail();
    EXPECT_EQ(s.chain_index(), 2);
    // The file pass walks the predecessors only.
    s.set_member_count(2);
    std::vector<uint8_t> out;
    ASSERT_EQ(read_file(s, 1, static_cast<int64_t>(a.size()), out), ArchiveResult::Ok) << s.error_detail();
    EXPECT_EQ(out, a);
    ASSERT_EQ(read_file(s, 2, static_cast<int64_t>(b1.size()), out), ArchiveResult::Ok) << s.error_detail();
    EXPECT_EQ(out, b1);
    // Without the predecessors a reference finds nothing: an error, not stale bytes.
    s.set_member_count(0);
    EXPECT_EQ(read_file(s, 1, static_cast<int64_t>(a.size()), out), ArchiveResult::MissingBlock);
    // The disk pass: the youngest member holding each unit.
    s.set_member_count(3);
    ASSERT_EQ(read_disk(s, 1, out), ArchiveResult::Ok) << s.error_detail();
    EXPECT_EQ(out, disk2.bytes);
    // Only the first two members: unit 5 comes from member 0.
    s.set_member_count(2);
    ASSERT_EQ(read_disk(s, 1, out), ArchiveResult::Ok) << s.error_detail();
    EXPECT_EQ(out, disk1.bytes);
  }
}

// An incremental member that lacks a unit everywhere leaves it untouched.
TEST_F(ReaderTest, UnitMissingFromEveryMemberIsNotFound) {
  DiskEntry d = disk_item(2, 300, 100, 5);
  d.units = {1, 3};
  archive_writer::Options o;
  o.name = "Gap";
  const auto w = write(o, {}, {}, {d});
  test_support::HostArchiveFiles io;
  ArchiveSession s(io);
  ASSERT_EQ(s.ReadCatalog(u16(w.files[0]), 0), ArchiveResult::Ok) << s.error_detail();
  ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok);
  s.set_member_count(1);
  std::vector<uint8_t> out;
  ASSERT_EQ(read_disk(s, 1, out, 0xEE), ArchiveResult::Ok) << s.error_detail();
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 100 * 512, d.bytes.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + 100 * 512, out.begin() + 200 * 512, [](uint8_t v) { return v == 0xEE; }));
  EXPECT_TRUE(std::equal(out.begin() + 200 * 512, out.end(), d.bytes.begin() + 200 * 512));
}

TEST_F(ReaderTest, MissingVolumeIsAskedForAndCancelIsClear) {
  archive_writer::Options o;
  o.name = "Split";
  o.volume_size = 20000;
  o.compression = Compression::None;
  FileEntry f;
  f.path = u"C:\\big.bin";
  f.data = random_bytes(90000, 4);
  const auto w = write(o, {f}, {}, {});
  ASSERT_GE(w.files.size(), 4u);
  // Volume 2 moves to another folder.
  fs::create_directories(dir_ + "/elsewhere");
  const std::string moved = dir_ + "/elsewhere/" + fs::path(w.files[2]).filename().string();
  fs::rename(w.files[2], moved);

  test_support::HostArchiveFiles io;
  ArchiveSession s(io);
  ASSERT_EQ(s.ReadCatalog(u16(w.files[0]), 0), ArchiveResult::Ok);
  std::vector<std::u16string> asked;
  ASSERT_EQ(s.OpenArchiveChain([&](const std::u16string& name) -> std::optional<std::u16string> {
              asked.push_back(name);
              return std::nullopt;
            }),
            ArchiveResult::Ok);
  std::vector<uint8_t> out;
  EXPECT_EQ(read_file(s, 1, 90000, out), ArchiveResult::VolumeCancelled);
  EXPECT_EQ(asked, std::vector<std::u16string>{u"Yarv_Split_0_V2.yqb"});
  EXPECT_NE(s.error_detail().find("Yarv_Split_0_V2.yqb"), std::string::npos);

  ASSERT_EQ(s.OpenArchiveChain([&](const std::u16string&) -> std::optional<std::u16string> {
              return u16(dir_ + "/elsewhere");
            }),
            ArchiveResult::Ok);
  ASSERT_EQ(read_file(s, 1, 90000, out), ArchiveResult::Ok) << s.error_detail();
  EXPECT_EQ(out, f.data);

  // A volume cut short ends the read with a clear error.
  fs::rename(moved, w.files[2]);
  fs::resize_file(w.files.back(), fs::file_size(w.files.back()) - 100);
  ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok);
  EXPECT_EQ(read_file(s, 1, 90000, out), ArchiveResult::Truncated);
  EXPECT_NE(s.error_detail().find("runs past the end of volume"), std::string::npos) << s.error_detail();
}

TEST_F(ReaderTest, MissingChainMemberIsNamed) {
  archive_writer::Options o;
  o.name = "Chain";
  o.type = 1;
  o.chain = 1;
  const auto w = write(o, {}, {}, {});
  test_support::HostArchiveFiles io;
  ArchiveSession s(io);
  ASSERT_EQ(s.ReadCatalog(u16(w.files[0]), 0), ArchiveResult::Ok);
  EXPECT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::OpenFailed);
  EXPECT_NE(s.error_detail().find("member 0"), std::string::npos) << s.error_detail();
  EXPECT_NE(s.error_detail().find("Yarv_Chain_0_V0.yqb"), std::string::npos) << s.error_detail();
}

// Damaged archives, each named by its fault: the catalogue or the block
// read fails with the field named, and nothing is handed out as data.
TEST_F(ReaderTest, HostileArchivesGiveClearErrors) {
  FileEntry f;
  f.path = u"C:\\x.bin";
  f.data = random_bytes(40000, 6);
  archive_writer::Options o;
  o.name = "Bad";
  o.compression = Compression::Zlib;
  const auto w = write(o, {f}, {}, {disk_item(2, 200, 100, 9)});
  std::ifstream in(w.files[0], std::ios::binary);
  const std::vector<uint8_t> good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t file_record = restore::kHeaderSize;
  const size_t disk_record = file_record + restore::kFileRecordSize;
  const size_t names = disk_record + restore::kDiskRecordSize;
  const size_t first_block = names + (8 + 1) * 2;

  struct Case {
    const char* fault;
    std::function<void(std::vector<uint8_t>&)> damage;
    bool catalog_fails;
    ArchiveResult result;
    const char* detail;
  };
  auto put32 = [](std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
  };
  const Case cases[] = {
      {"file count past the end", [&](auto& v) { put32(v, 35, 0x10000000); }, true, ArchiveResult::Truncated, "catalogue"},
      {"negative folder count", [&](auto& v) { put32(v, 39, 0xFFFFFFFF); }, true, ArchiveResult::BadHeader, "+39"},
      {"unknown compression", [&](auto& v) { v[1] = 7; }, true, ArchiveResult::BadHeader, "+1"},
      {"name outside the pool", [&](auto& v) { put32(v, file_record + 1, 100); }, true, ArchiveResult::BadRecord, "names pool"},
      {"unit count mismatch", [&](auto& v) { put32(v, 581, 3); }, true, ArchiveResult::BadRecord, "+581"},
      {"header cut short", [&](auto& v) { v.resize(600); }, true, ArchiveResult::Truncated, "717-byte header"},
      {"damaged zlib block", [&](auto& v) { v[first_block + 20] ^= 0xFF; v[first_block + 21] ^= 0xFF; },
       false, ArchiveResult::BadBlock, "zlib"},
      {"block longer than its file", [&](auto& v) { v.resize(first_block + 100); }, false, ArchiveResult::Truncated,
       "runs past the end"},
      {"reference in a full archive", [&](auto& v) { v[first_block] = 0x00; v[first_block + 1] = 0x90; },
       false, ArchiveResult::MissingBlock, "older member"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    auto bad = good;
    c.damage(bad);
    restore::MemoryArchiveFiles io;
    io.files[u"Yarv_Bad_0_V0.yqb"] = bad;
    ArchiveSession s(io);
    const ArchiveResult cat = s.ReadCatalog(u"Yarv_Bad_0_V0.yqb", 0);
    if (c.catalog_fails) {
      EXPECT_EQ(cat, c.result);
    } else {
      ASSERT_EQ(cat, ArchiveResult::Ok) << s.error_detail();
      ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok);
      std::vector<uint8_t> out;
      EXPECT_EQ(read_file(s, 1, 40000, out), c.result);
    }
    EXPECT_NE(s.error_detail().find(c.detail), std::string::npos) << s.error_detail();
  }
  // The table entry of a unit pointing at a length word above 0x8000.
  auto bad = good;
  restore::ArchiveHeader h = restore::ParseHeader(bad.data());
  const size_t entry = static_cast<size_t>(h.table.offset());
  const auto unit1 = restore::ParseBlockLocation(bad.data() + entry);
  bad[static_cast<size_t>(unit1.offset()) + 1] = 0x9F;
  restore::MemoryArchiveFiles io;
  io.files[u"Yarv_Bad_0_V0.yqb"] = bad;
  ArchiveSession s(io);
  ASSERT_EQ(s.ReadCatalog(u"Yarv_Bad_0_V0.yqb", 0), ArchiveResult::Ok);
  ASSERT_EQ(s.OpenArchiveChain(nullptr), ArchiveResult::Ok);
  s.set_member_count(1);
  std::vector<uint8_t> out;
  EXPECT_EQ(read_disk(s, 1, out), ArchiveResult::BadBlock);
  EXPECT_NE(s.error_detail().find("length word"), std::string::npos) << s.error_detail();
  // No archive after the program: the shipped marker's case.
  restore::MemoryArchiveFiles plain;
  plain.files[u"yarv.exe"] = std::vector<uint8_t>(4096, 0);
  ArchiveSession p(plain);
  EXPECT_EQ(p.ReadCatalog(u"yarv.exe", 4096), ArchiveResult::NoArchive);
}

}  // namespace
