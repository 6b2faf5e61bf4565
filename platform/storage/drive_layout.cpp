#include "platform/storage/drive_layout.h"

#include <algorithm>
#include <cstring>

#include "platform/core/error.h"

namespace platform::storage {

PARTITION_INFORMATION_EX EncodePartitionEx(const LayoutEntry& e) {
  PARTITION_INFORMATION_EX p;
  std::memset(&p, 0, sizeof p);
  p.PartitionStyle = e.style == PartitionStyle::Gpt ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR;
  p.StartingOffset.QuadPart = static_cast<LONGLONG>(e.start);
  p.PartitionLength.QuadPart = static_cast<LONGLONG>(e.length);
  p.PartitionNumber = e.number;
  p.RewritePartition = FALSE;
  if (e.style == PartitionStyle::Gpt) {
    p.Gpt.PartitionType = e.type_guid;
    p.Gpt.PartitionId = e.id_guid;
    p.Gpt.Attributes = e.attributes;
    std::copy_n(e.name.begin(), std::min<size_t>(e.name.size(), 36), p.Gpt.Name);
  } else {
    p.Mbr.PartitionType = e.mbr_type;
    p.Mbr.BootIndicator = e.boot;
    p.Mbr.RecognizedPartition = e.recognized;
    p.Mbr.HiddenSectors = e.hidden_sectors;
  }
  return p;
}

std::vector<uint8_t> EncodeDriveLayout(const DiskLayout& layout) {
  std::vector<uint8_t> record(kDriveLayoutHeaderSize + layout.entries.size() * sizeof(PARTITION_INFORMATION_EX), 0);
  DWORD style = layout.style == PartitionStyle::Mbr   ? PARTITION_STYLE_MBR
                : layout.style == PartitionStyle::Gpt ? PARTITION_STYLE_GPT
                                                      : PARTITION_STYLE_RAW;
  DWORD count = static_cast<DWORD>(layout.entries.size());
  std::memcpy(record.data() + 0, &style, 4);
  std::memcpy(record.data() + 4, &count, 4);
  if (layout.style == PartitionStyle::Mbr) {
    std::memcpy(record.data() + 8, &layout.mbr_signature, 4);
  } else if (layout.style == PartitionStyle::Gpt) {
    DRIVE_LAYOUT_INFORMATION_GPT gpt{};
    gpt.DiskId = layout.disk_guid;
    gpt.StartingUsableOffset.QuadPart = static_cast<LONGLONG>(layout.first_usable);
    gpt.UsableLength.QuadPart = static_cast<LONGLONG>(layout.usable_length);
    gpt.MaxPartitionCount = layout.max_partition_count;
    std::memcpy(record.data() + 8, &gpt, sizeof gpt);
  }
  for (size_t i = 0; i < layout.entries.size(); ++i) {
    PARTITION_INFORMATION_EX p = EncodePartitionEx(layout.entries[i]);
    std::memcpy(record.data() + kDriveLayoutHeaderSize + i * sizeof p, &p, sizeof p);
  }
  return record;
}

DWORD DecodeDriveLayout(const void* record, size_t size, DiskLayout* layout) {
  *layout = DiskLayout{};
  if (!record || size < kDriveLayoutHeaderSize) return ERROR_INSUFFICIENT_BUFFER;
  const auto* bytes = static_cast<const uint8_t*>(record);
  DWORD style, count;
  std::memcpy(&style, bytes, 4);
  std::memcpy(&count, bytes + 4, 4);
  if (count > (size - kDriveLayoutHeaderSize) / sizeof(PARTITION_INFORMATION_EX)) return ERROR_INSUFFICIENT_BUFFER;
  switch (style) {
    case PARTITION_STYLE_MBR: {
      layout->style = PartitionStyle::Mbr;
      std::memcpy(&layout->mbr_signature, bytes + 8, 4);
      break;
    }
    case PARTITION_STYLE_GPT: {
      layout->style = PartitionStyle::Gpt;
      DRIVE_LAYOUT_INFORMATION_GPT gpt;
      std::memcpy(&gpt, bytes + 8, sizeof gpt);
      layout->disk_guid = gpt.DiskId;
      layout->first_usable = static_cast<uint64_t>(gpt.StartingUsableOffset.QuadPart);
      layout->usable_length = static_cast<uint64_t>(gpt.UsableLength.QuadPart);
      layout->max_partition_count = gpt.MaxPartitionCount;
      break;
    }
    case PARTITION_STYLE_RAW:
      layout->style = PartitionStyle::Raw;
      return count == 0 ? 0 : ERROR_INVALID_PARAMETER;
    default:
      return ERROR_INVALID_PARAMETER;
  }
  for (DWORD i = 0; i < count; ++i) {
    PARTITION_INFORMATION_EX p;
    std::memcpy(&p, bytes + kDriveLayoutHeaderSize + size_t{i} * sizeof p, sizeof p);
    if (p.PartitionStyle != style) return ERROR_INVALID_PARAMETER;
    if (p.StartingOffset.QuadPart < 0 || p.PartitionLength.QuadPart < 0) return ERROR_INVALID_PARAMETER;
    LayoutEntry e;
    e.style = layout->style;
    e.start = static_cast<uint64_t>(p.StartingOffset.QuadPart);
    e.length = static_cast<uint64_t>(p.PartitionLength.QuadPart);
    e.number = p.PartitionNumber;
    e.rewrite = p.RewritePartition != 0;
    if (style == PARTITION_STYLE_GPT) {
      e.type_guid = p.Gpt.PartitionType;
      e.id_guid = p.Gpt.PartitionId;
      e.attributes = p.Gpt.Attributes;
      size_t n = 0;
      while (n < 36 && p.Gpt.Name[n] != 0) ++n;
      e.name.assign(p.Gpt.Name, p.Gpt.Name + n);
      e.recognized = true;
    } else {
      e.mbr_type = p.Mbr.PartitionType;
      e.boot = p.Mbr.BootIndicator != 0;
      e.recognized = p.Mbr.RecognizedPartition != 0;
      e.hidden_sectors = p.Mbr.HiddenSectors;
    }
    layout->entries.push_back(std::move(e));
  }
  return 0;
}

}  // namespace platform::storage
