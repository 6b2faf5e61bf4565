// MBR half of the partition-table codec: sector 0 and the chain of extended
// boot records (EBRs).
//
// In an EBR, a logical drive's start counts from that EBR; the link to the next
// EBR counts from the start of the extended partition that holds the chain.
#include <algorithm>
#include <set>

#include "platform/storage/table_codec_internal.h"

namespace platform::storage::codec {
namespace {

LayoutEntry SlotEntry(const MbrSlotDisk& slot, uint64_t base_lba, uint32_t ss) {
  LayoutEntry entry;
  entry.style = PartitionStyle::Mbr;
  entry.mbr_type = slot.type;
  if (slot.type == kMbrTypeEmpty) return entry;  // empty slots answer zeros
  entry.start = (base_lba + slot.lba_first) * ss;
  entry.length = uint64_t{slot.lba_count} * ss;
  entry.boot = (slot.boot & 0x80) != 0;
  entry.hidden_sectors = slot.lba_first;
  entry.recognized = !IsExtendedType(slot.type);
  return entry;
}

// A partition whose first sector is the table's own sector (the MBR, or the
// EBR that lists it) would put a volume over the table; the writer never
// makes one. It answers as an empty slot, with a finding.
LayoutEntry RefuseOverTable(const MbrSlotDisk& slot, const char* where, uint64_t table_lba, DiskLayout* layout) {
  LayoutEntry entry;
  entry.style = PartitionStyle::Mbr;
  layout->findings.push_back(std::string(where) + ": partition of type " + Hex(slot.type) + " starts at sector " +
                             std::to_string(table_lba) + ", the table's own sector; not used");
  return entry;
}

void NotePastEnd(const LayoutEntry& entry, const char* where, uint64_t disk_size, DiskLayout* layout) {
  if (entry.start + entry.length > disk_size)
    layout->findings.push_back(std::string(where) + ": partition of type " + Hex(entry.mbr_type) + " at byte " +
                               std::to_string(entry.start) + " ends at byte " + std::to_string(entry.start + entry.length) +
                               ", past the disk's end at byte " + std::to_string(disk_size));
}

// CHS triple for an LBA with 255 heads and 63 sectors per track; beyond
// cylinder 1023 the conventional "use LBA" value.
void EncodeChs(uint64_t lba, uint8_t out[3]) {
  uint64_t cylinder = lba / (255 * 63);
  if (cylinder > 1023) {
    out[0] = 0xFE;
    out[1] = 0xFF;
    out[2] = 0xFF;
    return;
  }
  uint32_t head = static_cast<uint32_t>((lba / 63) % 255);
  uint32_t sector = static_cast<uint32_t>(lba % 63) + 1;
  out[0] = static_cast<uint8_t>(head);
  out[1] = static_cast<uint8_t>(sector | ((cylinder >> 2) & 0xC0));
  out[2] = static_cast<uint8_t>(cylinder & 0xFF);
}

void FillSlot(MbrSlotDisk* slot, uint8_t type, bool boot, uint64_t base_lba, uint64_t first_lba, uint64_t count) {
  *slot = MbrSlotDisk{};
  slot->boot = boot ? 0x80 : 0x00;
  slot->type = type;
  slot->lba_first = static_cast<uint32_t>(first_lba - base_lba);
  slot->lba_count = static_cast<uint32_t>(count);
  EncodeChs(first_lba, slot->chs_first);
  EncodeChs(count ? first_lba + count - 1 : first_lba, slot->chs_last);
}

// The partition type a volume boot sector in sector 0 stands for, or 0 when
// the sector is not one (NTFS and exFAT by their OEM names, FAT by a sane BPB
// and its type text).
uint8_t VolumeBootType(const std::vector<uint8_t>& s) {
  if (!(s[0] == 0xEB && s[2] == 0x90) && s[0] != 0xE9) return 0;
  if (std::memcmp(&s[3], "NTFS    ", 8) == 0 || std::memcmp(&s[3], "EXFAT   ", 8) == 0) return 0x07;
  const uint16_t bytes_per_sector = static_cast<uint16_t>(s[11] | s[12] << 8);
  const uint8_t per_cluster = s[13];
  const bool sane = bytes_per_sector >= 512 && bytes_per_sector <= 4096 && (bytes_per_sector & (bytes_per_sector - 1)) == 0 &&
                    per_cluster != 0 && (per_cluster & (per_cluster - 1)) == 0 && (s[16] == 1 || s[16] == 2);
  if (!sane) return 0;
  if (std::memcmp(&s[0x52], "FAT32", 5) == 0) return 0x0C;
  if (std::memcmp(&s[0x36], "FAT16", 5) == 0) return 0x06;
  if (std::memcmp(&s[0x36], "FAT12", 5) == 0) return 0x01;
  return 0;
}

// A table is plausible when every used slot has a valid boot flag and starts
// inside the disk after sector 0.
bool SlotsArePlausible(const MbrSectorDisk& mbr, uint64_t total_sectors) {
  for (const auto& slot : mbr.slots) {
    if (slot.type == kMbrTypeEmpty) continue;
    if ((slot.boot & 0x7F) != 0 || slot.lba_first == 0 || slot.lba_first >= total_sectors) return false;
  }
  return true;
}

bool AllSlotsEmpty(const MbrSectorDisk& mbr) {
  for (const auto& slot : mbr.slots)
    if (slot.type != kMbrTypeEmpty) return false;
  return true;
}

}  // namespace

TableResult ReadMbr(BlockDevice& disk, const std::vector<uint8_t>& sector0, DiskLayout* layout) {
  const uint32_t ss = disk.sector_size();
  const uint64_t disk_size = disk.size();
  const auto* mbr = reinterpret_cast<const MbrSectorDisk*>(sector0.data());
  layout->style = PartitionStyle::Mbr;
  layout->mbr_signature = mbr->signature;

  // A disk formatted without a partition table (a "superfloppy"): sector 0 is
  // the volume's boot sector. It answers as one partition over the whole disk.
  if (uint8_t type = VolumeBootType(sector0);
      type != 0 && (AllSlotsEmpty(*mbr) || !SlotsArePlausible(*mbr, disk_size / ss))) {
    LayoutEntry entry;
    entry.style = PartitionStyle::Mbr;
    entry.length = disk_size / ss * ss;
    entry.number = 1;
    entry.mbr_type = type;
    entry.recognized = true;
    layout->mbr_signature = 0;
    layout->entries.push_back(entry);
    return Ok();
  }

  const MbrSlotDisk* container = nullptr;
  for (const auto& slot : mbr->slots) {
    LayoutEntry entry =
        slot.type != kMbrTypeEmpty && slot.lba_first == 0 ? RefuseOverTable(slot, "MBR", 0, layout) : SlotEntry(slot, 0, ss);
    if (!entry.is_empty()) NotePastEnd(entry, "MBR", disk_size, layout);
    if (entry.is_extended() && !container) container = &slot;
    layout->entries.push_back(entry);
  }

  if (container) {
    const uint64_t ext_lba = container->lba_first;
    const uint64_t ext_end_lba = ext_lba + container->lba_count;
    uint64_t ebr_lba = ext_lba;
    std::set<uint64_t> visited;
    for (size_t hop = 0;; ++hop) {
      if (hop == kMaxLogicalDrives) {
        layout->findings.push_back("EBR chain cut after " + std::to_string(kMaxLogicalDrives) + " extended boot records");
        break;
      }
      if (!visited.insert(ebr_lba).second) {
        layout->findings.push_back("EBR chain loops back to sector " + std::to_string(ebr_lba) + "; chain cut there");
        break;
      }
      if (ebr_lba >= disk_size / ss) {
        layout->findings.push_back("EBR at sector " + std::to_string(ebr_lba) + " lies past the disk's end; chain cut there");
        break;
      }
      std::vector<uint8_t> sector;
      TableResult result;
      if (!ReadSector(disk, ebr_lba, &sector, &result)) {
        layout->findings.push_back("EBR at sector " + std::to_string(ebr_lba) + " cannot be read; chain cut there");
        break;
      }
      if (!HasBootMagic(sector)) {
        layout->findings.push_back("EBR at sector " + std::to_string(ebr_lba) + " has no boot signature; chain cut there");
        break;
      }
      const auto* ebr = reinterpret_cast<const MbrSectorDisk*>(sector.data());
      uint64_t next_lba = 0;
      bool has_next = false;
      for (const auto& slot : ebr->slots) {
        bool link = IsExtendedType(slot.type);
        LayoutEntry entry = !link && slot.type != kMbrTypeEmpty && slot.lba_first == 0
                                ? RefuseOverTable(slot, "EBR", ebr_lba, layout)
                                : SlotEntry(slot, link ? ext_lba : ebr_lba, ss);
        if (!entry.is_empty()) NotePastEnd(entry, "EBR", disk_size, layout);
        if (link && !has_next) {
          has_next = true;
          next_lba = ext_lba + slot.lba_first;
        }
        layout->entries.push_back(entry);
      }
      if (!has_next) break;
      if (next_lba < ext_lba || next_lba >= ext_end_lba) {
        layout->findings.push_back("EBR link at sector " + std::to_string(ebr_lba) + " points to sector " +
                                   std::to_string(next_lba) + ", outside the extended partition; chain cut there");
        break;
      }
      ebr_lba = next_lba;
    }
  }

  // Numbers: primaries in slot order, then logical drives in chain order.
  uint32_t number = 0;
  for (auto& entry : layout->entries)
    if (!entry.is_empty() && !entry.is_extended()) entry.number = ++number;
  return Ok();
}

TableResult WriteMbr(BlockDevice& disk, const DiskLayout& layout) {
  const uint32_t ss = disk.sector_size();
  const uint64_t total = disk.size() / ss;

  struct Planned {
    const LayoutEntry* entry;
    uint64_t first;  // sectors
    uint64_t count;
  };
  auto plan = [&](const LayoutEntry& entry, Planned* out) -> TableResult {
    if (entry.start % ss || entry.length % ss)
      return Fail(TableStatus::UnalignedLayout, "partition at byte " + std::to_string(entry.start) + " with length " +
                                                    std::to_string(entry.length) + " is not a whole number of " +
                                                    std::to_string(ss) + "-byte sectors");
    uint64_t first = entry.start / ss, count = entry.length / ss;
    if (count == 0 || first == 0 || first > total || count > total - first)
      return Fail(TableStatus::InvalidLayout, "partition of type " + Hex(entry.mbr_type) + " at byte " +
                                                  std::to_string(entry.start) + " with length " + std::to_string(entry.length) +
                                                  " does not lie inside the disk (" + std::to_string(total * ss) + " bytes)");
    if (first + count > 0xFFFFFFFFull)
      return Fail(TableStatus::InvalidLayout, "partition at byte " + std::to_string(entry.start) +
                                                  " reaches beyond what an MBR can address (2^32 sectors)");
    *out = {&entry, first, count};
    return Ok();
  };

  // Primary slots and the extended container.
  std::vector<Planned> primaries;
  const Planned* container = nullptr;
  Planned slots[4] = {};
  bool used[4] = {};
  for (size_t i = 0; i < 4 && i < layout.entries.size(); ++i) {
    const LayoutEntry& entry = layout.entries[i];
    if (entry.mbr_type == kMbrTypeEmpty) continue;
    TableResult r = plan(entry, &slots[i]);
    if (!r.ok()) return r;
    used[i] = true;
    if (entry.is_extended()) {
      if (container) return Fail(TableStatus::InvalidLayout, "more than one extended partition in the MBR");
      container = &slots[i];
    }
    primaries.push_back(slots[i]);
  }
  // Logical drives: real entries after the MBR's four slots.
  std::vector<Planned> logicals;
  for (size_t i = 4; i < layout.entries.size(); ++i) {
    const LayoutEntry& entry = layout.entries[i];
    if (entry.mbr_type == kMbrTypeEmpty || entry.is_extended()) continue;
    Planned p;
    TableResult r = plan(entry, &p);
    if (!r.ok()) return r;
    if (!container)
      return Fail(TableStatus::InvalidLayout, "logical drive at byte " + std::to_string(entry.start) +
                                                  " but no extended partition among the first four entries");
    if (p.first <= container->first || p.first + p.count > container->first + container->count)
      return Fail(TableStatus::InvalidLayout, "logical drive at byte " + std::to_string(entry.start) +
                                                  " does not lie inside the extended partition");
    logicals.push_back(p);
  }
  if (logicals.size() > kMaxLogicalDrives)
    return Fail(TableStatus::InvalidLayout, std::to_string(logicals.size()) + " logical drives; at most " +
                                                std::to_string(kMaxLogicalDrives) + " are written");
  std::sort(logicals.begin(), logicals.end(), [](const Planned& a, const Planned& b) { return a.first < b.first; });

  // Overlaps among the primaries (the container counts as one) and among the logical drives.
  std::vector<Planned> sorted = primaries;
  std::sort(sorted.begin(), sorted.end(), [](const Planned& a, const Planned& b) { return a.first < b.first; });
  for (const auto* list : {&sorted, &logicals})
    for (size_t i = 1; i < list->size(); ++i)
      if ((*list)[i].first < (*list)[i - 1].first + (*list)[i - 1].count)
        return Fail(TableStatus::InvalidLayout, "partitions at bytes " + std::to_string((*list)[i - 1].first * ss) +
                                                    " and " + std::to_string((*list)[i].first * ss) + " overlap");

  // Place one EBR in front of every logical drive. The first always sits at the
  // start of the extended partition; the others where the caller's hidden-sector
  // count puts them, or else right after the previous logical drive.
  std::vector<uint64_t> ebrs;
  for (size_t i = 0; i < logicals.size(); ++i) {
    const Planned& p = logicals[i];
    uint64_t lower = i == 0 ? container->first : logicals[i - 1].first + logicals[i - 1].count;
    uint64_t ebr;
    if (i == 0) {
      ebr = container->first;
    } else if (p.entry->hidden_sectors > 0 && p.entry->hidden_sectors <= p.first - lower) {
      ebr = p.first - p.entry->hidden_sectors;
    } else {
      ebr = lower;
    }
    if (ebr >= p.first)
      return Fail(TableStatus::InvalidLayout, "no room for the extended boot record of the logical drive at byte " +
                                                  std::to_string(p.first * ss));
    ebrs.push_back(ebr);
  }

  TableResult result;
  // EBRs first, so an interruption leaves the old MBR pointing at a chain that is complete.
  std::vector<uint8_t> sector(ss, 0);
  auto* ebr_disk = reinterpret_cast<MbrSectorDisk*>(sector.data());
  if (container && logicals.empty()) {
    ebr_disk->magic[0] = 0x55;
    ebr_disk->magic[1] = 0xAA;
    if (!WriteBytes(disk, container->first * ss, sector.data(), ss, &result)) return result;
  }
  for (size_t i = logicals.size(); i-- > 0;) {
    std::fill(sector.begin(), sector.end(), 0);
    const Planned& p = logicals[i];
    FillSlot(&ebr_disk->slots[0], p.entry->mbr_type, p.entry->boot, ebrs[i], p.first, p.count);
    if (i + 1 < logicals.size()) {
      const Planned& next = logicals[i + 1];
      FillSlot(&ebr_disk->slots[1], kMbrTypeExtendedChs, false, container->first, ebrs[i + 1],
               next.first + next.count - ebrs[i + 1]);
    }
    ebr_disk->magic[0] = 0x55;
    ebr_disk->magic[1] = 0xAA;
    if (!WriteBytes(disk, ebrs[i] * ss, sector.data(), ss, &result)) return result;
  }

  // Sector 0 last; keep its boot code.
  if (!ReadSector(disk, 0, &sector, &result)) return result;
  auto* mbr = reinterpret_cast<MbrSectorDisk*>(sector.data());
  mbr->signature = layout.mbr_signature;
  mbr->reserved = 0;
  for (int i = 0; i < 4; ++i) {
    if (!used[i]) {
      mbr->slots[i] = MbrSlotDisk{};
      continue;
    }
    FillSlot(&mbr->slots[i], slots[i].entry->mbr_type, slots[i].entry->boot, 0, slots[i].first, slots[i].count);
  }
  mbr->magic[0] = 0x55;
  mbr->magic[1] = 0xAA;
  if (!WriteBytes(disk, 0, sector.data(), ss, &result)) return result;
  return WipeGptHeaders(disk);
}

}  // namespace platform::storage::codec
