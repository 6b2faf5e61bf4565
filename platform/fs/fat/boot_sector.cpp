#include "platform/fs/fat/boot_sector.h"

#include <cstring>

#include "platform/core/error.h"

namespace platform::fs::fat {

namespace {

bool is_power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

DWORD corrupt(std::string* why, const std::string& text) {
  if (why) *why = text;
  return ERROR_FILE_CORRUPT;
}

std::string trimmed_label(const char* field) {
  std::string s(field, 11);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  if (s == "NO NAME") s.clear();
  return s;
}

}  // namespace

DWORD ParseBootSector(const uint8_t* sector, size_t length, uint64_t device_size, FatGeometry* out,
                      std::string* why) {
  if (length < 512) return corrupt(why, "boot sector shorter than 512 bytes");
  BootSectorDisk bs;
  std::memcpy(&bs, sector, sizeof bs);

  // Recognition: a jump instruction, the 0x55AA signature and a plausible sector size.
  bool jump_ok = sector[0] == 0xEB || sector[0] == 0xE9 || sector[0] == 0xE8;
  bool signature_ok = sector[kBootSignatureOffset] == 0x55 && sector[kBootSignatureOffset + 1] == 0xAA;
  if (!jump_ok || !signature_ok) {
    if (why) *why = "no jump instruction or 0x55AA signature";
    return ERROR_UNRECOGNIZED_VOLUME;
  }
  if (std::memcmp(sector + 3, "NTFS    ", 8) == 0 || std::memcmp(sector + 3, "EXFAT   ", 8) == 0) {
    if (why) *why = "NTFS or exFAT boot sector";
    return ERROR_UNRECOGNIZED_VOLUME;
  }

  FatGeometry g;
  g.bytes_per_sector = bs.bytes_per_sector;
  if (!is_power_of_two(g.bytes_per_sector) || g.bytes_per_sector < 512 || g.bytes_per_sector > 4096)
    return corrupt(why, "bytes per sector (+0x0b) is " + std::to_string(g.bytes_per_sector));
  g.sectors_per_cluster = bs.sectors_per_cluster;
  if (!is_power_of_two(g.sectors_per_cluster))
    return corrupt(why, "sectors per cluster (+0x0d) is " + std::to_string(g.sectors_per_cluster));
  g.bytes_per_cluster = g.bytes_per_sector * g.sectors_per_cluster;
  if (g.bytes_per_cluster > 256 * 1024)
    return corrupt(why, "cluster size " + std::to_string(g.bytes_per_cluster) + " exceeds 256 KiB");
  g.reserved_sectors = bs.reserved_sectors;
  if (g.reserved_sectors == 0) return corrupt(why, "reserved sectors (+0x0e) is 0");
  g.fat_count = bs.fat_count;
  if (g.fat_count == 0 || g.fat_count > 4)
    return corrupt(why, "FAT count (+0x10) is " + std::to_string(g.fat_count));
  g.total_sectors = bs.total_sectors16 ? bs.total_sectors16 : bs.total_sectors32;
  if (g.total_sectors == 0) return corrupt(why, "total sectors (+0x13/+0x20) is 0");
  if (g.total_sectors > device_size / g.bytes_per_sector)
    return corrupt(why, "volume of " + std::to_string(g.total_sectors) + " sectors exceeds the device");

  bool fat32_layout = bs.fat_size16 == 0;
  g.fat_sectors = fat32_layout ? bs.fat32.fat_size32 : bs.fat_size16;
  if (g.fat_sectors == 0) return corrupt(why, "sectors per FAT is 0");
  g.root_entries = bs.root_entries;
  if (fat32_layout && g.root_entries != 0) return corrupt(why, "FAT32 root entries (+0x11) not 0");
  if (!fat32_layout && g.root_entries == 0) return corrupt(why, "root entries (+0x11) is 0");
  g.root_sectors = uint32_t((uint64_t(g.root_entries) * 32 + g.bytes_per_sector - 1) / g.bytes_per_sector);

  uint64_t meta = uint64_t(g.reserved_sectors) + uint64_t(g.fat_count) * g.fat_sectors + g.root_sectors;
  if (meta >= g.total_sectors) return corrupt(why, "FATs and root directory fill the whole volume");
  uint64_t clusters = (g.total_sectors - meta) / g.sectors_per_cluster;
  if (clusters == 0) return corrupt(why, "no data clusters");
  if (clusters > kFat32MaxClusters) return corrupt(why, "too many clusters");
  g.cluster_count = uint32_t(clusters);
  if (g.cluster_count <= kFat12MaxClusters)
    g.kind = FatKind::Fat12;
  else if (g.cluster_count <= kFat16MaxClusters)
    g.kind = FatKind::Fat16;
  else
    g.kind = FatKind::Fat32;
  if ((g.kind == FatKind::Fat32) != fat32_layout) {
    // The kind follows the cluster count; a boot sector laid out for the other
    // kind is not a volume the platform would mount (it shows as RAW).
    if (why)
      *why = "cluster count " + std::to_string(g.cluster_count) + " does not match the " +
             (fat32_layout ? "FAT32" : "FAT12/16") + " boot sector layout";
    return ERROR_UNRECOGNIZED_VOLUME;
  }

  // The FAT must hold an entry for every cluster, 0 and 1 included.
  uint64_t entries = uint64_t(g.cluster_count) + 2;
  uint64_t fat_bytes_needed = g.kind == FatKind::Fat12 ? (entries * 3 + 1) / 2 : entries * (g.kind == FatKind::Fat16 ? 2 : 4);
  if (uint64_t(g.fat_sectors) * g.bytes_per_sector < fat_bytes_needed)
    return corrupt(why, "FAT of " + std::to_string(g.fat_sectors) + " sectors is too small for " +
                            std::to_string(g.cluster_count) + " clusters");

  if (g.kind == FatKind::Fat32) {
    if (bs.fat32.fs_version != 0) return corrupt(why, "FAT32 version (+0x2a) is not 0.0");
    g.root_cluster = bs.fat32.root_cluster;
    if (!g.is_data_cluster(g.root_cluster))
      return corrupt(why, "root cluster (+0x2c) " + std::to_string(g.root_cluster) + " is out of range");
    uint32_t fsinfo = bs.fat32.fsinfo_sector;
    g.fsinfo_sector = (fsinfo != 0 && fsinfo != 0xFFFF && fsinfo < g.reserved_sectors) ? fsinfo : 0;
    uint32_t backup = bs.fat32.backup_boot_sector;
    g.backup_boot_sector = (backup != 0 && backup != 0xFFFF && backup < g.reserved_sectors) ? backup : 0;
    if (bs.fat32.ext_flags & 0x80) {
      g.active_fat = bs.fat32.ext_flags & 0x0F;
      if (g.active_fat >= g.fat_count) return corrupt(why, "active FAT (+0x28) out of range");
    }
    if (bs.fat32.boot_signature == kExtendedBootSignature) {
      g.serial = bs.fat32.serial;
      g.label = trimmed_label(bs.fat32.label);
    }
  } else if (bs.fat16.boot_signature == kExtendedBootSignature) {
    g.serial = bs.fat16.serial;
    g.label = trimmed_label(bs.fat16.label);
  }
  *out = g;
  return ERROR_SUCCESS;
}

}  // namespace platform::fs::fat
