// The mount manager's file-system recognition, checked against blkid on
// volumes made by mkfs.fat and mkntfs, and against hand-built boot sectors
// for the cases the tools cannot make.
#include <cstring>

#include "mount_fixture.h"

using namespace mount_test;
using platform::storage::DetectFileSystem;

namespace {

// blkid's verdict in the mount manager's words.
std::string blkid_verdict(const std::string& path) {
  std::string out;
  if (sh("blkid -p -o export " + path, &out) != 0) return "RAW";
  auto field = [&](const std::string& key) {
    auto at = out.find("\n" + key + "=");
    if (at == std::string::npos && out.rfind(key + "=", 0) == 0) at = 0; else if (at != std::string::npos) ++at;
    if (at == std::string::npos) return std::string();
    auto end = out.find('\n', at);
    return out.substr(at + key.size() + 1, end - at - key.size() - 1);
  };
  std::string type = field("TYPE");
  if (type == "ntfs") return "NTFS";
  if (type == "exfat") return "exFAT";
  if (type == "vfat") return field("VERSION");  // FAT12 / FAT16 / FAT32
  return "RAW";
}

}  // namespace

TEST_F(MountTest, DetectionAgreesWithBlkid) {
  struct Case {
    const char* mkfs;
    uint64_t size;
    const char* expect;
  } cases[] = {
      {"mkfs.fat -F 12", 4 << 20, "FAT12"},
      {"mkfs.fat -F 16", 32 << 20, "FAT16"},
      {"mkfs.fat -F 32", 64 << 20, "FAT32"},
      {"mkfs.fat -F 32 -S 4096", 300 << 20, "FAT32"},
      {"mkfs.fat -F 16 -S 4096", 64 << 20, "FAT16"},
      {"mkfs.fat", 2 << 20, "FAT12"},     // the tool's own choice by size
      {"mkfs.fat", 200 << 20, "FAT16"},
      {"mkfs.fat", 600 << 20, "FAT32"},
      {"mkntfs -F -f -q", 16 << 20, "NTFS"},
      {"mkntfs -F -f -q -s 4096", 32 << 20, "NTFS"},
      {"mkfs.exfat", 64 << 20, "exFAT"},
      {"mkfs.exfat -c 64K", 64 << 20, "exFAT"},
      {"true", 1 << 20, "RAW"},            // all zeros
  };
  for (auto& c : cases) {
    std::string path = dir + "/fs.img";
    fs::remove(path);
    ASSERT_EQ(sh("truncate -s " + std::to_string(c.size) + " " + path), 0);
    ASSERT_EQ(sh(std::string(c.mkfs) + " " + path), 0) << c.mkfs;
    auto dev = platform::FileBlockDevice::open(path, 512, true);
    ASSERT_TRUE(dev);
    std::string ours = DetectFileSystem(*dev);
    EXPECT_EQ(ours, blkid_verdict(path)) << c.mkfs;
    EXPECT_EQ(ours, c.expect) << c.mkfs;
  }
}

TEST(FileSystemDetect, HandBuiltBootSectors) {
  auto make = [](auto edit) {
    auto dev = std::make_shared<platform::MemoryBlockDevice>(64 * 1024, 512);
    auto& b = dev->bytes();
    // A sane FAT16 parameter block: 512-byte sectors, 4 per cluster, 1 reserved,
    // 2 FATs of 32 sectors, 512 root entries, 40000 sectors -> ~9950 clusters.
    b[0] = 0xEB; b[1] = 0x3C; b[2] = 0x90;
    b[11] = 0x00; b[12] = 0x02; b[13] = 4; b[14] = 1; b[16] = 2;
    b[17] = 0x00; b[18] = 0x02; b[19] = 0x40; b[20] = 0x9C; b[22] = 32;
    b[510] = 0x55; b[511] = 0xAA;
    edit(b);
    return dev;
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> edit;
    const char* expect;
  } cases[] = {
      {"sane FAT16", [](auto&) {}, "FAT16"},
      {"exFAT name", [](auto& b) { std::memcpy(&b[3], "EXFAT   ", 8); }, "exFAT"},
      {"NTFS name", [](auto& b) { std::memcpy(&b[3], "NTFS    ", 8); }, "NTFS"},
      {"no signature", [](auto& b) { b[511] = 0; }, "RAW"},
      {"zero sectors per cluster", [](auto& b) { b[13] = 0; }, "RAW"},
      {"3 sectors per cluster", [](auto& b) { b[13] = 3; }, "RAW"},
      {"bytes per sector 700", [](auto& b) { b[11] = 0xBC; b[12] = 0x02; }, "RAW"},
      {"no FATs", [](auto& b) { b[16] = 0; }, "RAW"},
      {"no reserved sectors", [](auto& b) { b[14] = 0; }, "RAW"},
      {"metadata larger than volume", [](auto& b) { b[19] = 10; b[20] = 0; }, "RAW"},
      {"no jump", [](auto& b) { b[0] = 0; }, "RAW"},
      {"few clusters", [](auto& b) { b[19] = 0x00; b[20] = 0x10; }, "FAT12"},  // 4096 sectors
      {"many clusters, 32-bit total",
       [](auto& b) {
         b[19] = b[20] = 0;
         b[22] = 0;
         b[36] = 0x00; b[37] = 0x04;               // 1024-sector FATs
         b[32] = 0x00; b[33] = 0x00; b[34] = 0x10; // 1 Mi sectors
         b[17] = b[18] = 0;
       },
       "FAT32"},
  };
  for (auto& c : cases) {
    auto dev = make(c.edit);
    EXPECT_EQ(DetectFileSystem(*dev), c.expect) << c.name;
  }
  platform::MemoryBlockDevice tiny(100, 512);
  EXPECT_EQ(DetectFileSystem(tiny), "RAW");
}
