#include "restore/archive_format.h"

#include <algorithm>
#include <cstring>

#include "platform/core/little_endian.h"

namespace restore {

namespace {

int32_t i32(const uint8_t* p) { return static_cast<int32_t>(platform::ReadLe32(p)); }

// A zero-terminated UTF-16 text in a fixed field of `chars` characters.
std::u16string fixed_text(const uint8_t* p, size_t chars) {
  std::u16string out;
  for (size_t i = 0; i < chars; ++i) {
    const char16_t c = platform::ReadLe16(p + 2 * i);
    if (c == 0) break;
    out += c;
  }
  return out;
}
void put_fixed_text(uint8_t* p, size_t chars, const std::u16string& text) {
  std::memset(p, 0, chars * 2);
  for (size_t i = 0; i < text.size() && i + 1 < chars; ++i) platform::WriteLe16(p + 2 * i, text[i]);
}

}  // namespace

void ArchivePosition::advance(uint32_t n) {
  sector += static_cast<int32_t>(n / 512);
  byte += static_cast<int32_t>(n % 512);
  if (byte > 512) {
    sector += byte / 512;
    byte %= 512;
  }
}

ArchiveHeader ParseHeader(const uint8_t* p) {
  ArchiveHeader h;
  h.type = p[0];
  h.compression = p[1];
  h.encrypted = p[2];
  h.total_sectors = i32(p + 3);
  h.next_volume = {i32(p + 7), i32(p + 11)};
  h.split = i32(p + 15);
  h.table_volume = i32(p + 19);
  std::memcpy(h.passkey_check.data(), p + 23, 8);
  h.disk_count = i32(p + 31);
  h.file_count = i32(p + 35);
  h.folder_count = i32(p + 39);
  h.backup_time = static_cast<int64_t>(platform::ReadLe64(p + 47));
  h.no_unit_lookup = p[55];
  h.table = {i32(p + 57), i32(p + 61)};
  h.description = fixed_text(p + 65, 256);
  for (int k = 1; k <= kMaxUnitCountItems; ++k) h.unit_counts[k] = i32(p + 577 + 4 * k);
  h.changed_count = i32(p + 641);
  h.names_length = i32(p + 709);
  return h;
}

void StoreHeader(const ArchiveHeader& h, uint8_t* p) {
  std::memset(p, 0, kHeaderSize);
  p[0] = h.type;
  p[1] = h.compression;
  p[2] = h.encrypted;
  platform::WriteLe32(p + 3, static_cast<uint32_t>(h.total_sectors));
  platform::WriteLe32(p + 7, static_cast<uint32_t>(h.next_volume.sector));
  platform::WriteLe32(p + 11, static_cast<uint32_t>(h.next_volume.byte));
  platform::WriteLe32(p + 15, static_cast<uint32_t>(h.split));
  platform::WriteLe32(p + 19, static_cast<uint32_t>(h.table_volume));
  std::memcpy(p + 23, h.passkey_check.data(), 8);
  platform::WriteLe32(p + 31, static_cast<uint32_t>(h.disk_count));
  platform::WriteLe32(p + 35, static_cast<uint32_t>(h.file_count));
  platform::WriteLe32(p + 39, static_cast<uint32_t>(h.folder_count));
  platform::WriteLe64(p + 47, static_cast<uint64_t>(h.backup_time));
  p[55] = h.no_unit_lookup;
  platform::WriteLe32(p + 57, static_cast<uint32_t>(h.table.sector));
  platform::WriteLe32(p + 61, static_cast<uint32_t>(h.table.byte));
  put_fixed_text(p + 65, 256, h.description);
  for (int k = 1; k <= kMaxUnitCountItems; ++k)
    platform::WriteLe32(p + 577 + 4 * k, static_cast<uint32_t>(h.unit_counts[k]));
  platform::WriteLe32(p + 641, static_cast<uint32_t>(h.changed_count));
  platform::WriteLe32(p + 709, static_cast<uint32_t>(h.names_length));
}

FileItemRecord ParseFileRecord(const uint8_t* p) {
  FileItemRecord r;
  r.selection = static_cast<int8_t>(p[0]);
  r.name_offset = platform::ReadLe32(p + 1);
  r.name_length = p[5];
  r.size = static_cast<int64_t>(platform::ReadLe64(p + 6));
  r.data = {i32(p + 14), static_cast<int16_t>(platform::ReadLe16(p + 18))};
  r.attributes = platform::ReadLe32(p + 20);
  r.creation_time = platform::ReadLe64(p + 24);
  r.access_time = platform::ReadLe64(p + 32);
  r.write_time = platform::ReadLe64(p + 40);
  return r;
}

void StoreFileRecord(const FileItemRecord& r, uint8_t* p) {
  std::memset(p, 0, kFileRecordSize);
  p[0] = static_cast<uint8_t>(r.selection);
  platform::WriteLe32(p + 1, r.name_offset);
  p[5] = r.name_length;
  platform::WriteLe64(p + 6, static_cast<uint64_t>(r.size));
  platform::WriteLe32(p + 14, static_cast<uint32_t>(r.data.sector));
  platform::WriteLe16(p + 18, static_cast<uint16_t>(r.data.byte));
  platform::WriteLe32(p + 20, r.attributes);
  platform::WriteLe64(p + 24, r.creation_time);
  platform::WriteLe64(p + 32, r.access_time);
  platform::WriteLe64(p + 40, r.write_time);
}

FolderItemRecord ParseFolderRecord(const uint8_t* p) {
  FolderItemRecord r;
  r.kind = static_cast<int8_t>(p[0]);
  r.path_bytes = p[1];
  for (int i = 0; i < kMaxPathComponents; ++i)
    r.components[i] = p[2 + 3 * i] | (p[3 + 3 * i] << 8) | (static_cast<uint32_t>(p[4 + 3 * i]) << 16);
  r.size = static_cast<int64_t>(platform::ReadLe64(p + 98));
  r.data = {i32(p + 106), static_cast<int16_t>(platform::ReadLe16(p + 110))};
  r.attributes = platform::ReadLe32(p + 112);
  r.creation_time = platform::ReadLe64(p + 116);
  r.access_time = platform::ReadLe64(p + 124);
  r.write_time = platform::ReadLe64(p + 132);
  return r;
}

void StoreFolderRecord(const FolderItemRecord& r, uint8_t* p) {
  std::memset(p, 0, kFolderRecordSize);
  p[0] = static_cast<uint8_t>(r.kind);
  p[1] = r.path_bytes;
  for (int i = 0; i < kMaxPathComponents; ++i) {
    p[2 + 3 * i] = static_cast<uint8_t>(r.components[i]);
    p[3 + 3 * i] = static_cast<uint8_t>(r.components[i] >> 8);
    p[4 + 3 * i] = static_cast<uint8_t>(r.components[i] >> 16);
  }
  platform::WriteLe64(p + 98, static_cast<uint64_t>(r.size));
  platform::WriteLe32(p + 106, static_cast<uint32_t>(r.data.sector));
  platform::WriteLe16(p + 110, static_cast<uint16_t>(r.data.byte));
  platform::WriteLe32(p + 112, r.attributes);
  platform::WriteLe64(p + 116, r.creation_time);
  platform::WriteLe64(p + 124, r.access_time);
  platform::WriteLe64(p + 132, r.write_time);
}

DiskItemRecord ParseDiskRecord(const uint8_t* p) {
  DiskItemRecord r;
  r.kind = static_cast<int8_t>(p[0]);
  r.disk_number = p[1];
  r.model = fixed_text(p + 2, 19);
  r.drive_text = fixed_text(p + 40, 5);
  r.partition_type = platform::ReadLe16(p + 50);
  r.sectors_per_unit = i32(p + 56);
  r.first_sector = i32(p + 60);
  r.full_units = i32(p + 64);
  r.last_unit_sectors = i32(p + 68);
  return r;
}

void StoreDiskRecord(const DiskItemRecord& r, uint8_t* p) {
  std::memset(p, 0, kDiskRecordSize);
  p[0] = static_cast<uint8_t>(r.kind);
  p[1] = r.disk_number;
  put_fixed_text(p + 2, 19, r.model);
  put_fixed_text(p + 40, 5, r.drive_text);
  platform::WriteLe16(p + 50, r.partition_type);
  platform::WriteLe32(p + 56, static_cast<uint32_t>(r.sectors_per_unit));
  platform::WriteLe32(p + 60, static_cast<uint32_t>(r.first_sector));
  platform::WriteLe32(p + 64, static_cast<uint32_t>(r.full_units));
  platform::WriteLe32(p + 68, static_cast<uint32_t>(r.last_unit_sectors));
}

ArchivePosition ParseBlockLocation(const uint8_t* p) { return {i32(p), i32(p + 4)}; }

ChangedBlockEntry ParseChangedBlockEntry(const uint8_t* p) { return {i32(p + 1), {i32(p + 5), i32(p + 9)}}; }

std::u16string FileRecordPath(const FileItemRecord& r, std::u16string_view names) {
  if (r.name_offset >= names.size()) return {};
  return std::u16string(names.substr(r.name_offset, r.name_length));
}

std::u16string FolderRecordPath(const FolderItemRecord& r, std::u16string_view names) {
  std::u16string path;
  const int count = std::min(r.component_count(), kMaxPathComponents);
  for (int i = 0; i < count; ++i) {
    if (i > 0) path += u'\\';
    const size_t start = r.components[i];
    if (start >= names.size()) continue;
    size_t end = names.find(u'?', start);
    if (end == std::u16string_view::npos) end = names.size();
    path += names.substr(start, (end - start) % 256);
  }
  return path;
}

int64_t ParseMarkerOffset(std::string_view marker) {
  if (marker.substr(0, kSelfExtractLetters.size()) != kSelfExtractLetters) return -1;
  int64_t value = 0;
  size_t digits = 0;
  for (size_t i = kSelfExtractLetters.size(); i < marker.size() && digits < 10; ++i, ++digits) {
    const char c = marker[i];
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
  }
  if (digits == 0 || value > INT32_MAX) return -1;
  return value;
}

size_t FindMarker(const std::vector<uint8_t>& file) {
  const auto it = std::search(file.begin(), file.end(), kSelfExtractLetters.begin(), kSelfExtractLetters.end());
  return it == file.end() ? std::string::npos : static_cast<size_t>(it - file.begin());
}

std::u16string BuildVolumeName(std::u16string_view name, int32_t chain, int32_t volume) {
  auto number = [](int32_t v) {
    std::u16string out;
    for (char c : std::to_string(v)) out += static_cast<char16_t>(c);
    return out;
  };
  return u"Yarv_" + std::u16string(name) + u"_" + number(chain) + u"_V" + number(volume) + u".yqb";
}

bool ParseVolumeName(std::u16string_view file_name, VolumeName& out) {
  out = {};
  constexpr std::u16string_view prefix = u"Yarv_";
  if (file_name.substr(0, prefix.size()) != prefix) {
    out.name = std::u16string(file_name);
    return true;
  }
  const size_t name_end = file_name.find(u'_', prefix.size());
  if (name_end == std::u16string_view::npos) return false;
  auto number = [&](size_t& at, int32_t& value) {
    int64_t v = 0;
    size_t digits = 0;
    while (at < file_name.size() && file_name[at] >= u'0' && file_name[at] <= u'9') {
      v = v * 10 + (file_name[at] - u'0');
      if (v > INT32_MAX) return false;
      ++at;
      ++digits;
    }
    value = static_cast<int32_t>(v);
    return digits > 0;
  };
  size_t at = name_end + 1;
  int32_t chain = 0, volume = 0;
  if (!number(at, chain)) return false;
  if (at + 1 >= file_name.size() || file_name[at] != u'_' || file_name[at + 1] != u'V') return false;
  at += 2;
  if (!number(at, volume)) return false;
  if (at < file_name.size() && file_name[at] != u'.') return false;
  out.name = std::u16string(file_name.substr(prefix.size(), name_end - prefix.size()));
  out.chain = chain;
  out.volume = volume;
  return true;
}

}  // namespace restore
