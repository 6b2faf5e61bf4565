// GPT half of the partition-table codec: protective MBR, primary and backup
// headers, entry arrays and their CRC32s.
#include <algorithm>

#include "platform/storage/table_codec_internal.h"

namespace platform::storage::codec {
namespace {

struct GptCopy {
  GptHeaderDisk header{};
  std::vector<uint8_t> entries;  // entry_count * entry_size bytes
};

enum class CopyState { Good, BadHeader, Absurd, BadEntries, Unreadable };

// Reads and checks the header at `lba` and its entry array. `message` says what is wrong.
CopyState ReadCopy(BlockDevice& disk, uint64_t lba, const char* which, GptCopy* copy, std::string* message) {
  const uint32_t ss = disk.sector_size();
  const uint64_t total = disk.size() / ss;
  std::vector<uint8_t> sector;
  TableResult result;
  if (lba >= total || !ReadSector(disk, lba, &sector, &result)) {
    *message = std::string(which) + " GPT header at sector " + std::to_string(lba) + " cannot be read";
    return CopyState::Unreadable;
  }
  std::memcpy(&copy->header, sector.data(), sizeof(GptHeaderDisk));
  GptHeaderDisk& h = copy->header;
  std::string at = std::string(which) + " GPT header at sector " + std::to_string(lba) + ": ";
  if (std::memcmp(h.signature, kGptSignature, 8) != 0) {
    *message = at + "no \"EFI PART\" signature at +0x00";
    return CopyState::BadHeader;
  }
  if (h.header_size < kGptHeaderSize || h.header_size > ss) {
    *message = at + "header size " + std::to_string(h.header_size) + " at +0x0c outside 92.." + std::to_string(ss);
    return CopyState::BadHeader;
  }
  std::vector<uint8_t> bytes(sector.begin(), sector.begin() + h.header_size);
  std::memset(bytes.data() + offsetof(GptHeaderDisk, header_crc), 0, 4);
  uint32_t crc = Crc32(bytes.data(), bytes.size());
  if (crc != h.header_crc) {
    *message = at + "header CRC " + Hex(h.header_crc) + " at +0x10 does not match " + Hex(crc);
    return CopyState::BadHeader;
  }
  if (h.my_lba != lba) {
    *message = at + "records its own position as sector " + std::to_string(h.my_lba) + " (+0x18)";
    return CopyState::BadHeader;
  }
  if (h.first_usable_lba > h.last_usable_lba || h.last_usable_lba >= total) {
    *message = at + "usable sectors " + std::to_string(h.first_usable_lba) + ".." + std::to_string(h.last_usable_lba) +
               " (+0x28, +0x30) do not fit a disk of " + std::to_string(total) + " sectors";
    return CopyState::BadHeader;
  }
  if (h.entry_size < kGptEntrySize || h.entry_size % kGptEntrySize != 0 || h.entry_size > kMaxGptEntrySize) {
    *message = at + "entry size " + std::to_string(h.entry_size) + " at +0x54 is not a multiple of 128 up to " +
               std::to_string(kMaxGptEntrySize);
    return CopyState::Absurd;
  }
  uint64_t array_bytes = uint64_t{h.entry_count} * h.entry_size;
  if (h.entry_count > kMaxGptEntries || array_bytes > kMaxGptArrayBytes) {
    *message = at + "entry count " + std::to_string(h.entry_count) + " at +0x50 (" + std::to_string(array_bytes) +
               " bytes) exceeds the " + std::to_string(kMaxGptEntries) + "-entry limit";
    return CopyState::Absurd;
  }
  uint64_t array_sectors = (array_bytes + ss - 1) / ss;
  if (h.entries_lba >= total || array_sectors > total - h.entries_lba) {
    *message = at + "entry array at sector " + std::to_string(h.entries_lba) + " (+0x48) lies past the disk's end";
    return CopyState::BadHeader;
  }
  copy->entries.assign(array_bytes, 0);
  if (array_bytes && !disk.read_at(h.entries_lba * ss, copy->entries.data(), array_bytes)) {
    *message = at + "entry array at sector " + std::to_string(h.entries_lba) + " cannot be read";
    return CopyState::Unreadable;
  }
  crc = Crc32(copy->entries.data(), copy->entries.size());
  if (crc != h.entries_crc) {
    *message = at + "entry array CRC " + Hex(h.entries_crc) + " at +0x58 does not match " + Hex(crc);
    return CopyState::BadEntries;
  }
  return CopyState::Good;
}

}  // namespace

TableResult ReadGpt(BlockDevice& disk, DiskLayout* layout) {
  const uint32_t ss = disk.sector_size();
  const uint64_t total = disk.size() / ss;
  GptCopy primary, backup;
  std::string primary_problem, backup_problem;
  CopyState primary_state = ReadCopy(disk, 1, "primary", &primary, &primary_problem);
  const GptCopy* used = &primary;
  if (primary_state != CopyState::Good) {
    // The backup sits in the disk's last sector; a sound primary header that
    // only has a bad array names its backup itself.
    uint64_t backup_lba = total - 1;
    if (primary_state == CopyState::BadEntries && primary.header.alternate_lba < total && primary.header.alternate_lba > 1)
      backup_lba = primary.header.alternate_lba;
    CopyState backup_state = ReadCopy(disk, backup_lba, "backup", &backup, &backup_problem);
    if (backup_state != CopyState::Good) {
      layout->findings.push_back(primary_problem);
      layout->findings.push_back(backup_problem);
      TableStatus status = TableStatus::BadGptHeader;
      if (primary_state == CopyState::Absurd || backup_state == CopyState::Absurd) status = TableStatus::AbsurdEntryCount;
      else if (primary_state == CopyState::BadEntries || backup_state == CopyState::BadEntries) status = TableStatus::BadGptEntries;
      else if (primary_state == CopyState::Unreadable && backup_state == CopyState::Unreadable) status = TableStatus::ReadFailed;
      return Fail(status, primary_problem + "; " + backup_problem);
    }
    layout->findings.push_back(primary_problem + "; the backup copy was used");
    used = &backup;
  }

  const GptHeaderDisk& h = used->header;
  layout->style = PartitionStyle::Gpt;
  layout->disk_guid = h.disk_guid;
  layout->first_usable = h.first_usable_lba * ss;
  layout->usable_length = (h.last_usable_lba - h.first_usable_lba + 1) * ss;
  layout->max_partition_count = h.entry_count;
  const uint64_t usable_first = std::max<uint64_t>(h.first_usable_lba, 2);
  const uint64_t usable_last = std::min<uint64_t>(h.last_usable_lba, total >= 2 ? total - 2 : 0);
  const uint64_t array_end = h.entries_lba + (uint64_t{h.entry_count} * h.entry_size + ss - 1) / ss;
  uint32_t number = 0;
  for (uint32_t i = 0; i < h.entry_count; ++i) {
    GptEntryDisk raw;
    std::memcpy(&raw, used->entries.data() + uint64_t{i} * h.entry_size, sizeof raw);
    if (IsZeroGuid(raw.type_guid)) continue;
    if (raw.last_lba < raw.first_lba) {
      layout->findings.push_back("GPT entry " + std::to_string(i) + " ends (sector " + std::to_string(raw.last_lba) +
                                 ") before it starts (sector " + std::to_string(raw.first_lba) + "); skipped");
      continue;
    }
    if (raw.first_lba >= total || raw.last_lba >= total) {
      layout->findings.push_back("GPT entry " + std::to_string(i) + " (sectors " + std::to_string(raw.first_lba) + ".." +
                                 std::to_string(raw.last_lba) + ") reaches past the disk's end at sector " +
                                 std::to_string(total) + "; skipped");
      continue;
    }
    // The same bounds the writer keeps: a partition over the protective MBR,
    // a header or the entry array would put a volume over the table (the
    // header's own usable range is not trusted to exclude them).
    if (raw.first_lba < usable_first || raw.last_lba > usable_last ||
        (raw.first_lba < array_end && h.entries_lba <= raw.last_lba)) {
      layout->findings.push_back("GPT entry " + std::to_string(i) + " (sectors " + std::to_string(raw.first_lba) + ".." +
                                 std::to_string(raw.last_lba) + ") lies outside the usable sectors " +
                                 std::to_string(usable_first) + ".." + std::to_string(usable_last) +
                                 ", over the partition table; skipped");
      continue;
    }
    LayoutEntry entry;
    entry.style = PartitionStyle::Gpt;
    uint64_t first = raw.first_lba, last = raw.last_lba;  // inside the disk, so in bytes they fit
    entry.start = first * ss;
    entry.length = (last - first + 1) * ss;
    entry.number = ++number;
    entry.type_guid = raw.type_guid;
    entry.id_guid = raw.id_guid;
    entry.attributes = raw.attributes;
    size_t n = 0;
    while (n < 36 && raw.name[n] != 0) ++n;
    entry.name.assign(raw.name, raw.name + n);
    entry.recognized = true;
    layout->entries.push_back(entry);
  }
  return Ok();
}

TableResult WriteGpt(BlockDevice& disk, const DiskLayout& layout) {
  const uint32_t ss = disk.sector_size();
  const uint64_t total = disk.size() / ss;
  std::vector<const LayoutEntry*> used;
  for (const auto& entry : layout.entries)
    if (!IsZeroGuid(entry.type_guid)) used.push_back(&entry);
  uint64_t count = std::max<uint64_t>({uint64_t{kDefaultGptEntries}, layout.max_partition_count, used.size()});
  if (count > kMaxGptEntries)
    return Fail(TableStatus::AbsurdEntryCount, "a GPT of " + std::to_string(count) + " entries exceeds the " +
                                                   std::to_string(kMaxGptEntries) + "-entry limit");
  const uint64_t array_bytes = count * kGptEntrySize;
  const uint64_t array_sectors = (array_bytes + ss - 1) / ss;
  if (total < 2 * array_sectors + 4)
    return Fail(TableStatus::DiskTooSmall, "a disk of " + std::to_string(total) + " sectors cannot hold a GPT with " +
                                               std::to_string(count) + " entries");
  const uint64_t first_usable = 2 + array_sectors;
  const uint64_t last_usable = total - 2 - array_sectors;

  std::vector<uint8_t> array(array_sectors * ss, 0);
  std::vector<std::pair<uint64_t, uint64_t>> extents;
  for (size_t i = 0; i < used.size(); ++i) {
    const LayoutEntry& e = *used[i];
    if (e.start % ss || e.length % ss)
      return Fail(TableStatus::UnalignedLayout, "partition at byte " + std::to_string(e.start) + " with length " +
                                                    std::to_string(e.length) + " is not a whole number of " +
                                                    std::to_string(ss) + "-byte sectors");
    uint64_t first = e.start / ss, sectors = e.length / ss;
    if (sectors == 0 || first < first_usable || first > last_usable || sectors - 1 > last_usable - first)
      return Fail(TableStatus::InvalidLayout, "partition at byte " + std::to_string(e.start) + " with length " +
                                                  std::to_string(e.length) + " lies outside the usable bytes " +
                                                  std::to_string(first_usable * ss) + ".." + std::to_string((last_usable + 1) * ss));
    if (e.name.size() > 36)
      return Fail(TableStatus::InvalidLayout, "partition name of " + std::to_string(e.name.size()) + " characters; at most 36");
    extents.emplace_back(first, first + sectors);
    GptEntryDisk raw{};
    raw.type_guid = e.type_guid;
    raw.id_guid = IsZeroGuid(e.id_guid) ? NewRandomGuid() : e.id_guid;
    raw.first_lba = first;
    raw.last_lba = first + sectors - 1;
    raw.attributes = e.attributes;
    std::copy(e.name.begin(), e.name.end(), raw.name);
    std::memcpy(array.data() + i * kGptEntrySize, &raw, sizeof raw);
  }
  std::sort(extents.begin(), extents.end());
  for (size_t i = 1; i < extents.size(); ++i)
    if (extents[i].first < extents[i - 1].second)
      return Fail(TableStatus::InvalidLayout, "partitions at bytes " + std::to_string(extents[i - 1].first * ss) + " and " +
                                                  std::to_string(extents[i].first * ss) + " overlap");

  GptHeaderDisk h{};
  std::memcpy(h.signature, kGptSignature, 8);
  h.revision = kGptRevision;
  h.header_size = kGptHeaderSize;
  h.first_usable_lba = first_usable;
  h.last_usable_lba = last_usable;
  h.disk_guid = IsZeroGuid(layout.disk_guid) ? NewRandomGuid() : layout.disk_guid;
  h.entry_count = static_cast<uint32_t>(count);
  h.entry_size = kGptEntrySize;
  h.entries_crc = Crc32(array.data(), array_bytes);

  auto header_sector = [&](uint64_t my, uint64_t alternate, uint64_t entries) {
    GptHeaderDisk copy = h;
    copy.my_lba = my;
    copy.alternate_lba = alternate;
    copy.entries_lba = entries;
    copy.header_crc = 0;
    copy.header_crc = Crc32(&copy, sizeof copy);
    std::vector<uint8_t> sector(ss, 0);
    std::memcpy(sector.data(), &copy, sizeof copy);
    return sector;
  };

  TableResult result;
  // Backup first, primary last: an interruption leaves one good copy.
  std::vector<uint8_t> backup = header_sector(total - 1, 1, last_usable + 1);
  if (!WriteBytes(disk, (last_usable + 1) * ss, array.data(), array.size(), &result)) return result;
  if (!WriteBytes(disk, (total - 1) * ss, backup.data(), ss, &result)) return result;
  std::vector<uint8_t> primary = header_sector(1, total - 1, 2);
  if (!WriteBytes(disk, 2 * ss, array.data(), array.size(), &result)) return result;
  if (!WriteBytes(disk, ss, primary.data(), ss, &result)) return result;

  // Protective MBR; the boot code is kept.
  std::vector<uint8_t> sector0;
  if (!ReadSector(disk, 0, &sector0, &result)) return result;
  auto* mbr = reinterpret_cast<MbrSectorDisk*>(sector0.data());
  mbr->signature = 0;
  mbr->reserved = 0;
  std::memset(mbr->slots, 0, sizeof mbr->slots);
  MbrSlotDisk& slot = mbr->slots[0];
  slot.type = kMbrTypeGptProtective;
  slot.chs_first[0] = 0x00;
  slot.chs_first[1] = 0x02;
  slot.chs_first[2] = 0x00;
  slot.chs_last[0] = 0xFE;
  slot.chs_last[1] = 0xFF;
  slot.chs_last[2] = 0xFF;
  slot.lba_first = 1;
  slot.lba_count = static_cast<uint32_t>(std::min<uint64_t>(total - 1, 0xFFFFFFFFull));
  mbr->magic[0] = 0x55;
  mbr->magic[1] = 0xAA;
  if (!WriteBytes(disk, 0, sector0.data(), ss, &result)) return result;
  return Ok();
}

}  // namespace platform::storage::codec
