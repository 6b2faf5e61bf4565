// Dispatch between the MBR and GPT halves of the codec, and the helpers both use.
#include "platform/storage/partition_table.h"

#include <array>
#include <cstdio>
#include <random>

#include "platform/storage/table_codec_internal.h"

namespace platform::storage {

const char* TableStatusName(TableStatus status) {
  switch (status) {
    case TableStatus::Ok: return "ok";
    case TableStatus::ReadFailed: return "read failed";
    case TableStatus::WriteFailed: return "write failed";
    case TableStatus::DiskTooSmall: return "disk too small";
    case TableStatus::BadGptHeader: return "bad GPT header";
    case TableStatus::BadGptEntries: return "bad GPT entry array";
    case TableStatus::AbsurdEntryCount: return "absurd GPT entry count";
    case TableStatus::InvalidLayout: return "invalid layout";
    case TableStatus::UnalignedLayout: return "layout not sector-aligned";
  }
  return "unknown";
}

bool LayoutEntry::is_empty() const {
  if (style == PartitionStyle::Gpt) return IsZeroGuid(type_guid);
  return mbr_type == kMbrTypeEmpty;
}

std::vector<LayoutEntry> DiskLayout::partitions() const {
  std::vector<LayoutEntry> result;
  for (const auto& entry : entries)
    if (!entry.is_empty() && !entry.is_extended()) result.push_back(entry);
  return result;
}

namespace codec {

TableResult Fail(TableStatus status, std::string message) {
  TableResult result;
  result.status = status;
  result.message = std::move(message);
  return result;
}

TableResult DeviceFail(TableStatus status, const std::string& what, uint64_t offset) {
  TableResult result;
  result.status = status;
  result.os_error = GetLastError();
  result.message = std::string(status == TableStatus::ReadFailed ? "cannot read " : "cannot write ") + what +
                   " at byte " + std::to_string(offset) + " (error " + std::to_string(result.os_error) + ")";
  return result;
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

bool ReadSector(BlockDevice& disk, uint64_t lba, std::vector<uint8_t>* sector, TableResult* result) {
  const uint32_t ss = disk.sector_size();
  sector->assign(ss, 0);
  if (!disk.read_at(lba * ss, sector->data(), ss)) [[unlikely]] {
    *result = DeviceFail(TableStatus::ReadFailed, "sector " + std::to_string(lba), lba * ss);
    return false;
  }
  return true;
}

bool WriteBytes(BlockDevice& disk, uint64_t offset, const void* data, size_t length, TableResult* result) {
  if (!disk.write_at(offset, data, length)) [[unlikely]] {
    *result = DeviceFail(TableStatus::WriteFailed, std::to_string(length) + " bytes", offset);
    return false;
  }
  return true;
}

bool HasBootMagic(const std::vector<uint8_t>& sector) {
  return sector.size() >= 512 && sector[510] == 0x55 && sector[511] == 0xAA;
}

TableResult WipeGptHeaders(BlockDevice& disk) {
  const uint32_t ss = disk.sector_size();
  const uint64_t total = disk.size() / ss;
  if (total < 3) return codec::Ok();
  std::vector<uint8_t> zero(ss, 0);
  for (uint64_t lba : {uint64_t{1}, total - 1}) {
    std::vector<uint8_t> sector;
    TableResult result;
    if (!ReadSector(disk, lba, &sector, &result)) return result;
    // Only a header that is sound where it stands is stale GPT; anything else may be data.
    GptHeaderDisk h;
    std::memcpy(&h, sector.data(), sizeof h);
    if (std::memcmp(h.signature, kGptSignature, 8) != 0 || h.my_lba != lba) continue;
    if (h.header_size < kGptHeaderSize || h.header_size > ss) continue;
    std::vector<uint8_t> bytes(sector.begin(), sector.begin() + h.header_size);
    std::memset(bytes.data() + offsetof(GptHeaderDisk, header_crc), 0, 4);
    if (Crc32(bytes.data(), bytes.size()) != h.header_crc) continue;
    if (!WriteBytes(disk, lba * ss, zero.data(), ss, &result)) return result;
  }
  return codec::Ok();
}

}  // namespace codec

TableResult ReadDiskLayout(BlockDevice& disk, DiskLayout* layout) {
  *layout = DiskLayout{};
  const uint32_t ss = disk.sector_size();
  if (ss < 512 || ss % 512 != 0) return codec::Fail(TableStatus::InvalidLayout, "sector size " + std::to_string(ss) + " is not a multiple of 512");
  if (disk.size() < ss) return codec::Ok();  // nothing to read: RAW
  std::vector<uint8_t> sector0;
  TableResult result;
  if (!codec::ReadSector(disk, 0, &sector0, &result)) return result;
  if (!codec::HasBootMagic(sector0)) return codec::Ok();
  const auto* mbr = reinterpret_cast<const codec::MbrSectorDisk*>(sector0.data());
  for (const auto& slot : mbr->slots) {
    if (slot.type == kMbrTypeGptProtective) {
      result = codec::ReadGpt(disk, layout);
      if (!result.ok()) {
        std::vector<std::string> findings = std::move(layout->findings);
        *layout = DiskLayout{};
        layout->findings = std::move(findings);
      }
      return result;
    }
  }
  return codec::ReadMbr(disk, sector0, layout);
}

TableResult WriteDiskLayout(BlockDevice& disk, const DiskLayout& layout) {
  const uint32_t ss = disk.sector_size();
  if (ss < 512 || ss % 512 != 0) return codec::Fail(TableStatus::InvalidLayout, "sector size " + std::to_string(ss) + " is not a multiple of 512");
  if (disk.size() < ss) return codec::Fail(TableStatus::DiskTooSmall, "the disk has no whole sector");
  switch (layout.style) {
    case PartitionStyle::Mbr: return codec::WriteMbr(disk, layout);
    case PartitionStyle::Gpt: return codec::WriteGpt(disk, layout);
    case PartitionStyle::Raw: {
      std::vector<uint8_t> sector0;
      TableResult result;
      if (!codec::ReadSector(disk, 0, &sector0, &result)) return result;
      std::memset(sector0.data() + 440, 0, 72);
      if (!codec::WriteBytes(disk, 0, sector0.data(), ss, &result)) return result;
      return codec::WipeGptHeaders(disk);
    }
  }
  return codec::Fail(TableStatus::InvalidLayout, "unknown partition style " + std::to_string(static_cast<uint32_t>(layout.style)));
}

TableResult CreateEmptyTable(BlockDevice& disk, PartitionStyle style, uint32_t mbr_signature, const GUID& disk_guid,
                             uint32_t max_partition_count) {
  DiskLayout layout;
  layout.style = style;
  layout.mbr_signature = mbr_signature;
  layout.disk_guid = disk_guid;
  layout.max_partition_count = max_partition_count;
  return WriteDiskLayout(disk, layout);
}

GUID NewRandomGuid() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  GUID guid;
  uint64_t a = engine(), b = engine();
  std::memcpy(&guid, &a, 8);
  std::memcpy(reinterpret_cast<uint8_t*>(&guid) + 8, &b, 8);
  guid.Data3 = static_cast<WORD>((guid.Data3 & 0x0FFF) | 0x4000);  // version 4
  guid.Data4[0] = static_cast<BYTE>((guid.Data4[0] & 0x3F) | 0x80);  // variant
  return guid;
}

bool IsZeroGuid(const GUID& guid) {
  static const GUID zero{};
  return guid == zero;
}

std::string GuidToText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool GuidFromText(const std::string& input, GUID* guid) {
  std::string text = input;
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return false;
  std::array<uint8_t, 16> bytes{};
  size_t nibble = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
      continue;
    }
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else return false;
    bytes[nibble / 2] = static_cast<uint8_t>(bytes[nibble / 2] << 4 | v);
    ++nibble;
  }
  guid->Data1 = static_cast<DWORD>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
  guid->Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
  guid->Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
  return true;
}

uint32_t Crc32(const void* data, size_t length, uint32_t seed) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = ~seed;
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace platform::storage
