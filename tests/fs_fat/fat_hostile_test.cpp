// Damaged volumes, named by fault: each gives a clear error, never a crash,
// and the image is left exactly as it was.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "fat_fixture.h"
#include "platform/core/error.h"
#include "platform/core/little_endian.h"
#include "platform/fs/fat/fat_volume.h"

using namespace fat_test;
using platform::fs::FileInfo;

namespace {

// Layout figures read straight from the boot sector, independently of the driver.
struct Layout {
  uint32_t bps, spc, reserved, fats, fat_sectors, root_entries, root_cluster;
  bool fat32;
  uint64_t fat(uint32_t copy) const { return uint64_t(reserved + copy * fat_sectors) * bps; }
  uint64_t root() const { return fat(fats); }
  uint64_t data() const { return root() + uint64_t((root_entries * 32 + bps - 1) / bps) * bps; }
  uint64_t cluster(uint32_t c) const { return data() + uint64_t(c - 2) * spc * bps; }
};

Layout layout_of(const std::vector<uint8_t>& b) {
  Layout l;
  l.bps = platform::ReadLe16(&b[11]);
  l.spc = b[13];
  l.reserved = platform::ReadLe16(&b[14]);
  l.fats = b[16];
  l.root_entries = platform::ReadLe16(&b[17]);
  l.fat32 = platform::ReadLe16(&b[22]) == 0;
  l.fat_sectors = l.fat32 ? platform::ReadLe32(&b[36]) : platform::ReadLe16(&b[22]);
  l.root_cluster = l.fat32 ? platform::ReadLe32(&b[44]) : 0;
  return l;
}

void save(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Sets a FAT16 entry in every copy.
void set_fat16(std::vector<uint8_t>& b, const Layout& l, uint32_t cluster, uint32_t value) {
  for (uint32_t k = 0; k < l.fats; ++k) platform::WriteLe16(&b[l.fat(k) + cluster * 2], value);
}

// Offset of the short entry named `name11` inside the directory at `start` (one cluster or the fixed root).
size_t find_entry(const std::vector<uint8_t>& b, uint64_t start, size_t bytes, const char* name11) {
  for (size_t at = start; at < start + bytes; at += 32)
    if (std::memcmp(&b[at], name11, 11) == 0) return at;
  return 0;
}

class Hostile : public testing::Test {
 protected:
  void SetUp() override {
    image_ = std::make_unique<FatImage>(16, 512, 32768);
    ASSERT_TRUE(image_->ok());
    std::string src = image_->path() + ".src";
    save(src, Pattern(3 * 2048, 5));  // three 2 KiB clusters
    std::string img = image_->mtools_image();
    ASSERT_EQ(Shell("mcopy " + img + " " + Quote(src) + " ::/VICTIM.BIN").status, 0);
    ASSERT_EQ(Shell("mcopy " + img + " " + Quote(src) + " ::/GOOD.BIN").status, 0);
    ASSERT_EQ(Shell("mmd " + img + " ::/A ::/A/B").status, 0);
    unlink(src.c_str());
    bytes_ = image_->raw();
    l_ = layout_of(bytes_);
    ASSERT_EQ(l_.spc * l_.bps, 2048u);
    victim_ = find_entry(bytes_, l_.root(), l_.root_entries * 32, "VICTIM  BIN");
    ASSERT_NE(victim_, 0u);
    victim_cluster_ = platform::ReadLe16(&bytes_[victim_ + 26]);
  }
  // Saves the damaged bytes, runs `check` on a mounted driver, then confirms nothing was written.
  template <typename Check>
  void expect_untouched(Check check) {
    save(image_->path(), bytes_);
    {
      DWORD err;
      auto v = image_->mount(&err);
      ASSERT_TRUE(v) << err;
      check(*v);
      // The sound file beside the damage still reads.
      std::vector<uint8_t> good;
      EXPECT_EQ(ReadFile(*v, P({u"GOOD.BIN"}), &good), 0u);
      EXPECT_EQ(good, Pattern(3 * 2048, 5));
    }
    EXPECT_TRUE(image_->raw() == bytes_) << "the driver wrote to a damaged volume";
  }
  // `entry_is_bad`: the damage is in the directory entry itself, so listing its folder fails too.
  void expect_file_corrupt(platform::fs::VolumeDriver& v, bool entry_is_bad = false) {
    std::unique_ptr<platform::fs::OpenFile> f;
    EXPECT_EQ(v.open(P({u"VICTIM.BIN"}), false, &f), uint32_t(ERROR_FILE_CORRUPT));
    EXPECT_EQ(v.open(P({u"VICTIM.BIN"}), true, &f), uint32_t(ERROR_FILE_CORRUPT));
    EXPECT_EQ(v.remove(P({u"VICTIM.BIN"})), uint32_t(ERROR_FILE_CORRUPT));
    std::vector<FileInfo> list;
    EXPECT_EQ(v.list({}, &list), entry_is_bad ? uint32_t(ERROR_FILE_CORRUPT) : 0u);
  }

  std::unique_ptr<FatImage> image_;
  std::vector<uint8_t> bytes_;
  Layout l_{};
  size_t victim_ = 0;
  uint32_t victim_cluster_ = 0;
};

TEST_F(Hostile, CircularChain) {
  set_fat16(bytes_, l_, victim_cluster_ + 2, victim_cluster_);
  expect_untouched([&](auto& v) { expect_file_corrupt(v); });
}

TEST_F(Hostile, ChainThroughAFreeCluster) {
  set_fat16(bytes_, l_, victim_cluster_ + 1, 0);
  expect_untouched([&](auto& v) { expect_file_corrupt(v); });
}

TEST_F(Hostile, ClusterPastEnd) {
  platform::WriteLe16(&bytes_[victim_ + 26], 0xFFF0);
  expect_untouched([&](auto& v) { expect_file_corrupt(v, true); });
}

TEST_F(Hostile, ForbiddenBytesInShortName) {
  // A control character and a '?' in the short name of an entry without a long name.
  bytes_[victim_ + 2] = 0x01;
  expect_untouched([&](auto& v) {
    std::vector<FileInfo> list;
    EXPECT_EQ(v.list({}, &list), uint32_t(ERROR_FILE_CORRUPT));
  });
  bytes_[victim_ + 2] = '?';
  expect_untouched([&](auto& v) {
    std::vector<FileInfo> list;
    EXPECT_EQ(v.list({}, &list), uint32_t(ERROR_FILE_CORRUPT));
  });
}

TEST_F(Hostile, ChainLinkPastEnd) {
  set_fat16(bytes_, l_, victim_cluster_ + 1, 0xFF00);
  expect_untouched([&](auto& v) { expect_file_corrupt(v); });
}

TEST_F(Hostile, ChainShorterThanSize) {
  platform::WriteLe32(&bytes_[victim_ + 28], 10 * 2048);
  expect_untouched([&](auto& v) { expect_file_corrupt(v); });
}

TEST_F(Hostile, ChainLongerThanSize) {
  platform::WriteLe32(&bytes_[victim_ + 28], 1);
  expect_untouched([&](auto& v) { expect_file_corrupt(v); });
}

TEST_F(Hostile, DirectoryLoop) {
  // A/B points back at A: walking into A/B would never end.
  size_t a = find_entry(bytes_, l_.root(), l_.root_entries * 32, "A          ");
  ASSERT_NE(a, 0u);
  uint32_t a_cluster = platform::ReadLe16(&bytes_[a + 26]);
  size_t b = find_entry(bytes_, l_.cluster(a_cluster), 2048, "B          ");
  ASSERT_NE(b, 0u);
  platform::WriteLe16(&bytes_[b + 26], a_cluster);
  expect_untouched([&](auto& v) {
    std::vector<FileInfo> list;
    EXPECT_EQ(v.list(P({u"A"}), &list), 0u);
    EXPECT_EQ(v.list(P({u"A", u"B"}), &list), uint32_t(ERROR_FILE_CORRUPT));
    EXPECT_EQ(v.list(P({u"A", u"B", u"B", u"B"}), &list), uint32_t(ERROR_FILE_CORRUPT));
    EXPECT_EQ(v.create_file(P({u"A", u"B", u"new.txt"}), 0), uint32_t(ERROR_FILE_CORRUPT));
    EXPECT_EQ(v.remove(P({u"A", u"B"})), uint32_t(ERROR_FILE_CORRUPT));
  });
}

TEST_F(Hostile, FolderClusterOutOfRange) {
  size_t a = find_entry(bytes_, l_.root(), l_.root_entries * 32, "A          ");
  ASSERT_NE(a, 0u);
  platform::WriteLe16(&bytes_[a + 26], 1);
  expect_untouched([&](auto& v) {
    std::vector<FileInfo> list;
    EXPECT_EQ(v.list({}, &list), uint32_t(ERROR_FILE_CORRUPT));
    EXPECT_EQ(v.list(P({u"A"}), &list), uint32_t(ERROR_FILE_CORRUPT));
    EXPECT_EQ(v.remove(P({u"A"})), uint32_t(ERROR_FILE_CORRUPT));
  });
}

// Two files whose chains share clusters (cross-linked). Reading either still
// works; nothing that would free, extend or overwrite a shared cluster is
// allowed, on either side, and the image stays as it was.
struct CrossLink {
  const char* fault;
  // Edits the image so that VICTIM.BIN shares clusters with GOOD.BIN; returns
  // what VICTIM.BIN then reads.
  std::vector<uint8_t> (*damage)(std::vector<uint8_t>& b, const Layout& l, size_t victim, uint32_t good);
};

const CrossLink kCrossLinks[] = {
    {"tails merge: the victim's second link leads into the good chain",
     [](std::vector<uint8_t>& b, const Layout& l, size_t victim, uint32_t good) {
       uint32_t v = platform::ReadLe16(&b[victim + 26]);
       set_fat16(b, l, v, good + 1);
       std::vector<uint8_t> want = Pattern(3 * 2048, 5);
       return want;  // both files hold the same pattern, so the merged bytes read alike
     }},
    {"the victim starts inside the good chain",
     [](std::vector<uint8_t>& b, const Layout&, size_t victim, uint32_t good) {
       platform::WriteLe16(&b[victim + 26], good + 1);
       platform::WriteLe32(&b[victim + 28], 2 * 2048);
       std::vector<uint8_t> all = Pattern(3 * 2048, 5);
       return std::vector<uint8_t>(all.begin() + 2048, all.end());
     }},
    {"both entries name the same first cluster",
     [](std::vector<uint8_t>& b, const Layout&, size_t victim, uint32_t good) {
       platform::WriteLe16(&b[victim + 26], good);
       return Pattern(3 * 2048, 5);
     }},
};

TEST_F(Hostile, CrossLinkedChainsRefuseChanges) {
  const std::vector<uint8_t> sound = bytes_;
  size_t good_entry = find_entry(sound, l_.root(), l_.root_entries * 32, "GOOD    BIN");
  ASSERT_NE(good_entry, 0u);
  uint32_t good = platform::ReadLe16(&sound[good_entry + 26]);
  for (const CrossLink& c : kCrossLinks) {
    SCOPED_TRACE(c.fault);
    bytes_ = sound;
    std::vector<uint8_t> victim_reads = c.damage(bytes_, l_, victim_, good);
    expect_untouched([&](platform::fs::VolumeDriver& v) {
      std::vector<uint8_t> got;
      EXPECT_EQ(ReadFile(v, P({u"VICTIM.BIN"}), &got), 0u);
      EXPECT_EQ(got, victim_reads);
      for (const char16_t* name : {u"VICTIM.BIN", u"GOOD.BIN"}) {
        SCOPED_TRACE(U8(name));
        std::unique_ptr<platform::fs::OpenFile> f;
        ASSERT_EQ(v.open(P({name}), true, &f), 0u);
        uint64_t size = f->size();
        const std::vector<uint8_t> data(4096, 0xAB);
        struct Change {
          const char* what;
          DWORD got;
        } changes[] = {
            {"overwrite the last cluster", f->write(size - 100, data.data(), 100)},
            {"extend the file", f->write(size, data.data(), data.size())},
            {"grow by set_size", f->set_size(size + 10000)},
            {"truncate to one byte", f->set_size(1)},
            {"truncate to zero", f->set_size(0)},
        };
        for (const Change& ch : changes) EXPECT_EQ(ch.got, uint32_t(ERROR_DISK_CORRUPT)) << ch.what;
        EXPECT_EQ(f->size(), size);
        f.reset();
        EXPECT_EQ(v.remove(P({name})), uint32_t(ERROR_DISK_CORRUPT));
      }
      EXPECT_EQ(ReadFile(v, P({u"VICTIM.BIN"}), &got), 0u);
      EXPECT_EQ(got, victim_reads);
    });
  }
}

// Work elsewhere on a cross-linked volume goes on, and never lands on the
// shared clusters: a new file's writes leave both linked files intact.
TEST_F(Hostile, CrossLinkedVolumeStillTakesNewFiles) {
  size_t good_entry = find_entry(bytes_, l_.root(), l_.root_entries * 32, "GOOD    BIN");
  ASSERT_NE(good_entry, 0u);
  uint32_t good = platform::ReadLe16(&bytes_[good_entry + 26]);
  platform::WriteLe16(&bytes_[victim_ + 26], good);
  save(image_->path(), bytes_);
  auto v = image_->mount();
  ASSERT_TRUE(v);
  ASSERT_EQ(WriteFile(*v, P({u"A", u"B", u"new file.bin"}), Pattern(20000, 9)), 0u);
  ASSERT_EQ(v->rename(P({u"A", u"B", u"new file.bin"}), P({u"moved.bin"})), 0u);
  ASSERT_EQ(v->remove(P({u"moved.bin"})), 0u);
  ASSERT_EQ(WriteFile(*v, P({u"again.bin"}), Pattern(50000, 10)), 0u);
  ASSERT_EQ(v->flush(), 0u);
  for (const char16_t* name : {u"VICTIM.BIN", u"GOOD.BIN"}) {
    std::vector<uint8_t> got;
    EXPECT_EQ(ReadFile(*v, P({name}), &got), 0u);
    EXPECT_EQ(got, Pattern(3 * 2048, 5)) << U8(name);
  }
  std::vector<uint8_t> again;
  EXPECT_EQ(ReadFile(*v, P({u"again.bin"}), &again), 0u);
  EXPECT_EQ(again, Pattern(50000, 10));
  // fsck.fat sees the one cross-link it was given and nothing else.
  CommandResult r = image_->fsck();
  EXPECT_NE(r.output.find("share clusters"), std::string::npos) << r.output;
}

// A chain that runs into an entry marked free still names that cluster: the
// allocator must not hand it out, even when the volume is nearly full, so the
// damaged file's bytes stay for a repair.
TEST_F(Hostile, ClusterNamedByABrokenChainIsNotReused) {
  const uint32_t named = victim_cluster_ + 1;
  set_fat16(bytes_, l_, named, 0);
  save(image_->path(), bytes_);
  const std::vector<uint8_t> before(bytes_.begin() + l_.cluster(named), bytes_.begin() + l_.cluster(named) + 2048);
  {
    auto v = image_->mount();
    ASSERT_TRUE(v);
    platform::fs::VolumeInfo vi;
    ASSERT_EQ(v->volume_info(&vi), 0u);
    // Leave three clusters the FAT calls free: the named one and two others.
    ASSERT_GT(vi.free_clusters, 3u);
    ASSERT_EQ(WriteFile(*v, P({u"filler.bin"}), Pattern(size_t(vi.free_clusters - 3) * 2048, 1), 1 << 20), 0u);
    ASSERT_EQ(WriteFile(*v, P({u"last two.bin"}), Pattern(2 * 2048, 2)), 0u);
    EXPECT_EQ(WriteFile(*v, P({u"one more.bin"}), Pattern(100, 3)), uint32_t(ERROR_DISK_FULL));
    std::vector<uint8_t> got;
    ASSERT_EQ(ReadFile(*v, P({u"last two.bin"}), &got), 0u);
    EXPECT_EQ(got, Pattern(2 * 2048, 2));
  }
  std::vector<uint8_t> after = image_->raw();
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin() + l_.cluster(named)))
      << "the named cluster was handed to another file";
}

struct BadBoot {
  const char* fault;
  size_t offset;
  uint32_t value;
  int width;
  DWORD error;
};

TEST_F(Hostile, BadBootSectorFields) {
  const BadBoot cases[] = {
      {"zero sectors per cluster", 13, 0, 1, ERROR_FILE_CORRUPT},
      {"sectors per cluster not a power of two", 13, 3, 1, ERROR_FILE_CORRUPT},
      {"bytes per sector 300", 11, 300, 2, ERROR_FILE_CORRUPT},
      {"bytes per sector 0", 11, 0, 2, ERROR_FILE_CORRUPT},
      {"no reserved sectors", 14, 0, 2, ERROR_FILE_CORRUPT},
      {"no FATs", 16, 0, 1, ERROR_FILE_CORRUPT},
      {"FAT too small for the volume", 22, 2, 2, ERROR_FILE_CORRUPT},
      {"no root entries", 17, 0, 2, ERROR_FILE_CORRUPT},
      {"volume larger than the device", 32, 0x00FFFFFF, 4, ERROR_FILE_CORRUPT},
      {"no total sectors", 32, 0, 4, ERROR_FILE_CORRUPT},
      {"FATs fill the volume", 14, 0xFFFF, 2, ERROR_FILE_CORRUPT},
      {"no boot signature", 510, 0, 2, ERROR_UNRECOGNIZED_VOLUME},
      {"no jump instruction", 0, 0, 1, ERROR_UNRECOGNIZED_VOLUME},
  };
  const std::vector<uint8_t> sound = bytes_;
  ASSERT_EQ(platform::ReadLe16(&sound[19]), 0u);  // this fixture keeps its size in the 32-bit field
  for (const BadBoot& c : cases) {
    SCOPED_TRACE(c.fault);
    std::vector<uint8_t> b = sound;
    platform::WriteLe(&b[c.offset], c.value, c.width);
    save(image_->path(), b);
    DWORD err = 0;
    EXPECT_EQ(image_->mount(&err), nullptr);
    EXPECT_EQ(err, c.error);
    platform::fs::fat::FatKind kind;
    EXPECT_EQ(platform::fs::fat::Probe(*image_->device(), &kind), c.error);
    EXPECT_TRUE(image_->raw() == b);
  }
}

TEST(HostileFat32, RootClusterOutOfRange) {
  FatImage image(32, 512, 65536);
  ASSERT_TRUE(image.ok());
  std::vector<uint8_t> b = image.raw();
  platform::WriteLe32(&b[44], 0x0FFFFFF0);
  save(image.path(), b);
  DWORD err = 0;
  EXPECT_EQ(image.mount(&err), nullptr);
  EXPECT_EQ(err, uint32_t(ERROR_FILE_CORRUPT));
}

TEST(HostileFat32, RootChainCycle) {
  FatImage image(32, 512, 65536);
  ASSERT_TRUE(image.ok());
  std::vector<uint8_t> b = image.raw();
  Layout l = layout_of(b);
  for (uint32_t k = 0; k < l.fats; ++k) platform::WriteLe32(&b[l.fat(k) + l.root_cluster * 4], l.root_cluster);
  save(image.path(), b);
  DWORD err = 0;
  EXPECT_EQ(image.mount(&err), nullptr);
  EXPECT_EQ(err, uint32_t(ERROR_FILE_CORRUPT));
  EXPECT_TRUE(image.raw() == b);
}

TEST(HostileDevice, TooSmallOrEmpty) {
  for (size_t size : {0u, 100u, 512u, 4096u}) {
    auto dev = std::make_shared<platform::MemoryBlockDevice>(size, 512);
    DWORD err = 0;
    EXPECT_EQ(platform::fs::fat::Mount(dev, &err), nullptr);
    EXPECT_EQ(err, uint32_t(ERROR_UNRECOGNIZED_VOLUME)) << size;
  }
  DWORD err = 0;
  EXPECT_EQ(platform::fs::fat::Mount(nullptr, &err), nullptr);
  EXPECT_EQ(err, uint32_t(ERROR_INVALID_PARAMETER));
}

}  // namespace
