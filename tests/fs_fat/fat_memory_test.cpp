// The driver's memory stays bounded on large volumes: the FAT is read through
// a small window cache and chains are held as runs. Checked against plain
// lists (ClusterChain), against the table's own bound, and against fsck.fat and
// mtools on a volume whose FAT is far larger than the cache, written so that
// changed windows leave the cache before the flush.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "fat_fixture.h"
#include "platform/core/error.h"
#include "platform/fs/fat/fat_volume.h"
#include "platform/fs/fat/boot_sector.h"
#include "platform/fs/fat/cluster_chain.h"
#include "platform/fs/fat/fat_table.h"

using namespace fat_test;
using platform::fs::fat::ClusterChain;
using platform::fs::fat::FatGeometry;
using platform::fs::fat::FatTable;

namespace {

void ExpectSame(const ClusterChain& chain, const std::vector<uint32_t>& list) {
  ASSERT_EQ(chain.size(), list.size());
  for (size_t i = 0; i < list.size(); ++i) ASSERT_EQ(chain[i], list[i]) << "index " << i;
  if (!list.empty()) {
    EXPECT_EQ(chain.front(), list.front());
    EXPECT_EQ(chain.back(), list.back());
  }
  // Runs are maximal: no run continues the one before it.
  for (size_t r = 1; r < chain.runs().size(); ++r)
    EXPECT_NE(uint64_t(chain.runs()[r - 1].first) + chain.runs()[r - 1].count, chain.runs()[r].first);
}

TEST(ClusterChain, AgreesWithAPlainList) {
  // Runs of several lengths, single clusters, a step backwards, a repeat.
  std::vector<uint32_t> list;
  for (uint32_t c = 100; c < 140; ++c) list.push_back(c);
  list.push_back(7);
  list.push_back(9);
  for (uint32_t c = 10; c < 13; ++c) list.push_back(c);
  list.push_back(140);
  list.push_back(140);
  for (uint32_t c = 5000; c < 5100; ++c) list.push_back(c);
  ClusterChain chain;
  for (uint32_t c : list) chain.push_back(c);
  ExpectSame(chain, list);
  EXPECT_EQ(chain.runs().size(), 6u);  // 9 and 10..12 make one run

  for (size_t cut : {size_t(0), size_t(1), size_t(39), size_t(40), size_t(41), size_t(44), size_t(46), size_t(100),
                     list.size() - 1, list.size()}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    ClusterChain tail = chain.tail(cut);
    ExpectSame(tail, std::vector<uint32_t>(list.begin() + cut, list.end()));
    ClusterChain head = chain;
    head.truncate(cut);
    ExpectSame(head, std::vector<uint32_t>(list.begin(), list.begin() + cut));
    // Head and tail joined give the chain back, runs merged where they meet.
    head.append(tail);
    ExpectSame(head, list);
  }
}

TEST(FatWindows, TheTableStaysWithinItsCacheOnALargeFat) {
  // 1 GiB of 512-byte clusters: an 8 MiB FAT, 128 windows.
  FatImage image(32, 512, 1 << 20, 0, "-s 1");
  ASSERT_TRUE(image.ok());
  auto device = image.device();
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(device->read_at(0, sector.data(), sector.size()));
  FatGeometry g;
  ASSERT_EQ(platform::fs::fat::ParseBootSector(sector.data(), sector.size(), device->size(), &g), 0u);
  ASSERT_GT(uint64_t(g.fat_sectors) * g.bytes_per_sector, 64 * uint64_t(FatTable::kWindowBytes));
  FatTable fat;
  ASSERT_EQ(fat.load(*device, g), 0u);
  EXPECT_LE(fat.cached_windows(), FatTable::kCachedWindows);
  EXPECT_EQ(fat.free_clusters(), g.cluster_count - 1);  // the root folder's cluster is in use

  // Entries changed all over the table reach every FAT copy, evicted or flushed.
  std::vector<uint32_t> touched;
  for (uint32_t c = 100; c < g.max_cluster(); c += 40000) touched.push_back(c);
  for (uint32_t c : touched) fat.set(c, FatTable::kEndOfChain);
  EXPECT_LE(fat.cached_windows(), FatTable::kCachedWindows);
  EXPECT_EQ(fat.free_clusters(), g.cluster_count - 1 - touched.size());
  ASSERT_EQ(fat.flush(*device), 0u);
  for (uint32_t copy = 0; copy < g.fat_count; ++copy)
    for (uint32_t c : touched) {
      uint32_t v = 0;
      ASSERT_TRUE(device->read_at(g.fat_offset(copy) + uint64_t(c) * 4, &v, 4));
      EXPECT_EQ(v & 0x0FFFFFFF, 0x0FFFFFFFu) << "copy " << copy << " cluster " << c;
    }
  FatTable again;
  ASSERT_EQ(again.load(*device, g), 0u);
  EXPECT_EQ(again.free_clusters(), fat.free_clusters());
}

TEST(FatWindows, FilesSpanningManyWindowsPassFsck) {
  FatImage image(32, 512, 1 << 20, 0, "-s 1");
  ASSERT_TRUE(image.ok());
  {
    auto v = image.mount();
    ASSERT_TRUE(v);
    // Two files written in turns, 64 KiB at a time: fragmented chains whose
    // FAT entries lie in about 20 windows, so changed windows are evicted
    // before the flush.
    const size_t total = 80u << 20, piece = 64u << 10;
    auto a = Pattern(total, 11), b = Pattern(total, 12);
    std::unique_ptr<platform::fs::OpenFile> fa, fb;
    ASSERT_EQ(v->create_file(P({u"a.bin"}), 0), 0u);
    ASSERT_EQ(v->create_file(P({u"b.bin"}), 0), 0u);
    ASSERT_EQ(v->open(P({u"a.bin"}), true, &fa), 0u);
    ASSERT_EQ(v->open(P({u"b.bin"}), true, &fb), 0u);
    for (size_t at = 0; at < total; at += piece) {
      ASSERT_EQ(fa->write(at, &a[at], piece), 0u);
      ASSERT_EQ(fb->write(at, &b[at], piece), 0u);
    }
    // Cut one back across many windows, then read both through the driver.
    ASSERT_EQ(fb->set_size(total / 3), 0u);
    fa.reset();
    fb.reset();
    std::vector<uint8_t> back;
    ASSERT_EQ(ReadFile(*v, P({u"a.bin"}), &back), 0u);
    EXPECT_TRUE(back == a);
    ASSERT_EQ(v->flush(), 0u);
  }
  CommandResult r = image.fsck();
  EXPECT_EQ(r.status, 0) << r.output;
  CommandResult a = image.mtools_read("/A.BIN");
  ASSERT_EQ(a.status, 0);
  EXPECT_TRUE(std::vector<uint8_t>(a.output.begin(), a.output.end()) == Pattern(80u << 20, 11));
  CommandResult b = image.mtools_read("/B.BIN");
  ASSERT_EQ(b.status, 0);
  auto want = Pattern(80u << 20, 12);
  want.resize((80u << 20) / 3);
  EXPECT_TRUE(std::vector<uint8_t>(b.output.begin(), b.output.end()) == want);
}

// Fails reads of the FAT area while `fail` is set.
class FatReadFaults : public platform::BlockDevice {
 public:
  FatReadFaults(std::shared_ptr<platform::BlockDevice> inner, uint64_t fat_end)
      : inner_(std::move(inner)), fat_end_(fat_end) {}
  uint64_t size() const override { return inner_->size(); }
  uint32_t sector_size() const override { return inner_->sector_size(); }
  bool read_at(uint64_t offset, void* buffer, size_t length) override {
    if (fail && offset < fat_end_) {
      SetLastError(ERROR_CRC);
      return false;
    }
    return inner_->read_at(offset, buffer, length);
  }
  bool write_at(uint64_t offset, const void* buffer, size_t length) override {
    return inner_->write_at(offset, buffer, length);
  }
  bool flush() override { return inner_->flush(); }
  bool fail = false;

 private:
  std::shared_ptr<platform::BlockDevice> inner_;
  uint64_t fat_end_;
};

TEST(FatWindows, AWindowThatCannotBeReadAfterTheMountIsAnErrorNotData) {
  FatImage image(32, 512, 1 << 20, 0, "-s 1");
  ASSERT_TRUE(image.ok());
  // A file behind 40 MiB of filler: its FAT entries sit in the sixth window,
  // which neither the mount's pass over the table (it ends with the last
  // windows cached) nor the root folder (the first window) keeps in the cache.
  auto data = Pattern(300 * 1024, 4);
  const std::string src = image.path() + ".src";
  for (auto [name, bytes] : {std::pair{"::/FILLER.BIN", Pattern(40 << 20, 1)}, std::pair{"::/FIRST.BIN", data}}) {
    FILE* f = fopen(src.c_str(), "wb");
    ASSERT_TRUE(f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    ASSERT_EQ(Shell("mcopy " + image.mtools_image() + " " + Quote(src) + " " + name).status, 0);
  }
  std::remove(src.c_str());
  std::vector<uint8_t> sector(512);
  ASSERT_TRUE(image.device()->read_at(0, sector.data(), sector.size()));
  FatGeometry g;
  ASSERT_EQ(platform::fs::fat::ParseBootSector(sector.data(), sector.size(), image.device()->size(), &g), 0u);
  auto faulty = std::make_shared<FatReadFaults>(image.device(), g.fat_offset(g.fat_count - 1) +
                                                                    uint64_t(g.fat_sectors) * g.bytes_per_sector);
  DWORD error = 0;
  auto v = platform::fs::fat::Mount(faulty, FixedClock(), &error);
  ASSERT_TRUE(v) << error;
  faulty->fail = true;
  std::vector<uint8_t> back;
  EXPECT_EQ(ReadFile(*v, P({u"first.bin"}), &back), uint32_t(ERROR_CRC));
  faulty->fail = false;
  EXPECT_EQ(v->flush(), uint32_t(ERROR_CRC));  // reported once more, to whoever flushes
  ASSERT_EQ(ReadFile(*v, P({u"first.bin"}), &back), 0u);
  EXPECT_TRUE(back == data);
  EXPECT_EQ(v->flush(), 0u);
}

}  // namespace
