#include "restore/archive_session.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "platform/core/text.h"

namespace restore {

namespace {

// Limits that keep a hostile archive from making the reader loop or
// allocate without end; real archives stay far below them.
constexpr int32_t kMaxVolumes = 10000;
constexpr int kMaxVolumePrompts = 16;
constexpr int32_t kMaxChangedEntries = 1 << 24;

std::string narrow(const std::u16string& s) { return platform::to_utf8(s); }

std::string format(const char* fmt, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, fmt, args...);
  return buffer;
}

}  // namespace

const char* ArchiveResultName(ArchiveResult r) {
  switch (r) {
    case ArchiveResult::Ok: return "ok";
    case ArchiveResult::NoArchive: return "no archive is appended";
    case ArchiveResult::OpenFailed: return "a file of the archive cannot be opened";
    case ArchiveResult::Truncated: return "the archive is truncated";
    case ArchiveResult::BadHeader: return "the archive header is damaged";
    case ArchiveResult::BadRecord: return "an item record is damaged";
    case ArchiveResult::BadBlock: return "a data block is damaged";
    case ArchiveResult::BadTable: return "a block table is damaged";
    case ArchiveResult::VolumeCancelled: return "a volume was not supplied";
    case ArchiveResult::BadVolume: return "a volume file does not belong to the archive";
    case ArchiveResult::MissingBlock: return "a block is missing from the chain";
    case ArchiveResult::ReadFailed: return "a file of the archive cannot be read";
  }
  return "unknown";
}

// One opened volume file: archive positions base..end are in it.
struct Volume {
  std::unique_ptr<ArchiveFile> file;
  int64_t base = 0;
  int64_t end = 0;
  int64_t next_base = 0;  // where the following volume's file begins, from this volume's header
};

struct ArchiveSession::Member {
  std::u16string path;
  int32_t chain = 0;
  ArchiveHeader header;
  std::vector<FileItemRecord> files;  // element 0 unused
  std::vector<FolderItemRecord> folders;
  std::u16string names;
  std::vector<Volume> volumes;
  // The place of the member's next block in a walk back through the chain.
  bool has_walk = false;
  int64_t walk = 0;
  // The sequential read position of an item's data.
  int64_t stream = 0;
};

ArchiveSession::ArchiveSession(ArchiveFiles& files) : files_io_(files) {}
ArchiveSession::~ArchiveSession() = default;

ArchiveResult ArchiveSession::fail(ArchiveResult r, std::string detail) {
  detail_ = std::move(detail);
  return r;
}

ArchiveSession::Member& ArchiveSession::current() { return *members_.back(); }

ArchiveResult ArchiveSession::read_member(const std::u16string& path, int32_t chain, Member& out, bool catalog) {
  out = Member{};
  out.path = path;
  out.chain = chain;
  auto file = files_io_.open(path);
  if (!file) return fail(ArchiveResult::OpenFailed, narrow(path) + ": cannot be opened");
  const int64_t size = file->size();
  const std::string where = narrow(path);
  if (archive_offset_ < 0 || archive_offset_ > size)
    return fail(ArchiveResult::BadHeader,
                format("%s: the archive offset %" PRId64 " lies outside the file of %" PRId64 " bytes", where.c_str(),
                       archive_offset_, size));
  if (catalog && archive_offset_ == size)
    return fail(ArchiveResult::NoArchive, where + ": no archive is appended to this file");
  if (size - archive_offset_ < static_cast<int64_t>(kHeaderSize))
    return fail(ArchiveResult::Truncated, format("%s: %" PRId64 " bytes after offset %" PRId64
                                                 " cannot hold the 717-byte header",
                                                 where.c_str(), size - archive_offset_, archive_offset_));
  std::vector<uint8_t> raw(kHeaderSize);
  if (file->read_at(archive_offset_, raw.data(), kHeaderSize) != static_cast<int64_t>(kHeaderSize))
    return fail(ArchiveResult::ReadFailed, where + ": the header cannot be read");
  ArchiveHeader& h = out.header;
  h = ParseHeader(raw.data());
  auto bad_field = [&](int offset, const char* what, int64_t value) {
    return fail(ArchiveResult::BadHeader,
                format("%s: header +%d (%s) holds %" PRId64, where.c_str(), offset, what, value));
  };
  if (h.compression > 2) return bad_field(1, "compression", h.compression);
  if (h.file_count < 0) return bad_field(35, "file count", h.file_count);
  if (h.folder_count < 0) return bad_field(39, "folder count", h.folder_count);
  if (h.disk_count < 0 || h.disk_count > kMaxUnitCountItems) return bad_field(31, "disk item count", h.disk_count);
  if (h.names_length < 0) return bad_field(709, "names length", h.names_length);
  if (h.split < 0) return bad_field(15, "split", h.split);
  for (int k = 1; k <= kMaxUnitCountItems; ++k)
    if (h.unit_counts[k] < 0) return bad_field(577 + 4 * k, "unit count", h.unit_counts[k]);
  if (h.changed_count < 0 || h.changed_count > kMaxChangedEntries)
    return bad_field(641, "changed-block count", h.changed_count);
  const int64_t catalog_bytes = int64_t{h.file_count} * kFileRecordSize + int64_t{h.folder_count} * kFolderRecordSize +
                                int64_t{h.disk_count} * kDiskRecordSize + (int64_t{h.names_length} + 1) * 2;
  const int64_t records_at = archive_offset_ + static_cast<int64_t>(kHeaderSize);
  if (catalog_bytes > size - records_at)
    return fail(ArchiveResult::Truncated,
                format("%s: the catalogue of %d files, %d folders, %d disk items and %d name characters needs %" PRId64
                       " bytes, the file holds %" PRId64 " after the header",
                       where.c_str(), h.file_count, h.folder_count, h.disk_count, h.names_length, catalog_bytes,
                       size - records_at));
  std::vector<uint8_t> cat(static_cast<size_t>(catalog_bytes));
  if (file->read_at(records_at, cat.data(), cat.size()) != catalog_bytes)
    return fail(ArchiveResult::ReadFailed, where + ": the catalogue cannot be read");
  const uint8_t* p = cat.data();
  const uint8_t* names_at = p + int64_t{h.file_count} * kFileRecordSize + int64_t{h.folder_count} * kFolderRecordSize +
                            int64_t{h.disk_count} * kDiskRecordSize;
  out.names.resize(static_cast<size_t>(h.names_length));
  for (int32_t i = 0; i < h.names_length; ++i)
    out.names[i] = static_cast<char16_t>(names_at[2 * i] | (names_at[2 * i + 1] << 8));

  const int64_t record_base = records_at;
  out.files.resize(static_cast<size_t>(h.file_count) + 1);
  for (int32_t k = 1; k <= h.file_count; ++k, p += kFileRecordSize) {
    FileItemRecord& r = out.files[k] = ParseFileRecord(p);
    const int64_t at = record_base + int64_t{k - 1} * kFileRecordSize;
    if (int64_t{r.name_offset} + r.name_length > h.names_length)
      return fail(ArchiveResult::BadRecord,
                  format("%s: file record %d at %" PRId64 ": its name (+1 offset %u, +5 length %u) lies outside the "
                         "names pool of %d characters",
                         where.c_str(), k, at, r.name_offset, r.name_length, h.names_length));
    if (r.size < 0)
      return fail(ArchiveResult::BadRecord,
                  format("%s: file record %d at %" PRId64 ": size +6 is %" PRId64, where.c_str(), k, at, r.size));
  }
  out.folders.resize(static_cast<size_t>(h.folder_count) + 1);
  for (int32_t i = 1; i <= h.folder_count; ++i, p += kFolderRecordSize) {
    FolderItemRecord& r = out.folders[i] = ParseFolderRecord(p);
    const int64_t at = record_base + int64_t{h.file_count} * kFileRecordSize + int64_t{i - 1} * kFolderRecordSize;
    if (r.path_bytes > 3 * kMaxPathComponents)
      return fail(ArchiveResult::BadRecord, format("%s: folder record %d at %" PRId64 ": path list length +1 is %u (96 at most)",
                                                   where.c_str(), i, at, r.path_bytes));
    for (int c = 0; c < r.component_count(); ++c)
      if (r.components[c] >= static_cast<uint32_t>(std::max(h.names_length, 0)))
        return fail(ArchiveResult::BadRecord,
                    format("%s: folder record %d at %" PRId64 ": path component %d starts at %u, past the names pool "
                           "of %d characters",
                           where.c_str(), i, at, c + 1, r.components[c], h.names_length));
  }
  if (catalog) {
    disks_.assign(static_cast<size_t>(h.disk_count) + 1, DiskItemRecord{});
    for (int32_t j = 1; j <= h.disk_count; ++j, p += kDiskRecordSize) {
      DiskItemRecord& r = disks_[j] = ParseDiskRecord(p);
      const int64_t at = record_base + int64_t{h.file_count} * kFileRecordSize +
                         int64_t{h.folder_count} * kFolderRecordSize + int64_t{j - 1} * kDiskRecordSize;
      const bool shape_ok = r.sectors_per_unit >= 0 && r.full_units >= 0 && r.last_unit_sectors >= 0 &&
                            r.first_sector >= 0 && (r.full_units == 0 || r.sectors_per_unit > 0);
      if (!shape_ok)
        return fail(ArchiveResult::BadRecord,
                    format("%s: disk record %d at %" PRId64 ": sectors per unit %d, first sector %d, full units %d, "
                           "last unit %d sectors",
                           where.c_str(), j, at, r.sectors_per_unit, r.first_sector, r.full_units,
                           r.last_unit_sectors));
      if (r.unit_count() != h.unit_counts[j])
        return fail(ArchiveResult::BadRecord,
                    format("%s: disk record %d has %" PRId64 " units, header +%d counts %d", where.c_str(), j,
                           r.unit_count(), 577 + 4 * j, h.unit_counts[j]));
    }
  }
  Volume v;
  v.base = 0;
  v.end = size;
  v.next_base = h.next_volume.offset();
  v.file = std::move(file);
  out.volumes.push_back(std::move(v));
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::ReadCatalog(const std::u16string& path, int64_t archive_offset) {
  CloseChain();
  catalog_path_ = path;
  archive_offset_ = archive_offset;
  Member m;
  const ArchiveResult r = read_member(path, 0, m, true);
  if (r != ArchiveResult::Ok) return r;
  header_ = m.header;
  files_ = std::move(m.files);
  folders_ = std::move(m.folders);
  names_ = std::move(m.names);
  keyed_ = false;
  return ArchiveResult::Ok;
}

bool ArchiveSession::VerifyPasskey(std::u16string_view passkey) {
  keyed_ = restore::VerifyPasskey(passkey, header_, key_);
  return keyed_;
}

ArchiveResult ArchiveSession::OpenArchiveChain(VolumePrompt prompt) {
  members_.clear();
  chosen_folder_.clear();
  prompt_ = std::move(prompt);
  folder_ = ArchiveParentPath(catalog_path_);
  if (!ParseVolumeName(ArchivePathLeaf(catalog_path_), name_))
    return fail(ArchiveResult::OpenFailed, narrow(catalog_path_) + ": the file name does not name a volume");
  if (header_.type == 0 || name_.chain == 0) {
    auto m = std::make_unique<Member>();
    const ArchiveResult r = read_member(catalog_path_, name_.chain, *m, false);
    if (r != ArchiveResult::Ok) return r;
    members_.push_back(std::move(m));
  } else {
    for (int32_t i = 0; i <= name_.chain; ++i) {
      const std::u16string path = (folder_.empty() ? u"" : folder_ + u"\\") + BuildVolumeName(name_.name, i, 0);
      auto m = std::make_unique<Member>();
      const ArchiveResult r = read_member(path, i, *m, false);
      if (r == ArchiveResult::OpenFailed) {
        members_.clear();
        return fail(r, format("member %d of the incremental chain, %s, is missing", i, narrow(path).c_str()));
      }
      if (r != ArchiveResult::Ok) {
        members_.clear();
        return r;
      }
      if (m->header.compression != header_.compression || (m->header.encrypted != 0) != (header_.encrypted != 0)) {
        members_.clear();
        return fail(ArchiveResult::BadHeader,
                    format("%s: member %d stores compression %u, encryption %u; the archive %u, %u",
                           narrow(path).c_str(), i, m->header.compression, m->header.encrypted, header_.compression,
                           header_.encrypted));
      }
      members_.push_back(std::move(m));
    }
  }
  member_count_ = 0;
  return ArchiveResult::Ok;
}

void ArchiveSession::CloseChain() {
  members_.clear();
  member_count_ = 0;
  located_member_ = -1;
}

ArchiveResult ArchiveSession::open_volume_file(Member& m, int32_t volume, std::unique_ptr<ArchiveFile>& file) {
  if (volume == 0) {
    file = files_io_.open(m.path);
    if (!file) return fail(ArchiveResult::OpenFailed, narrow(m.path) + ": cannot be opened");
    return ArchiveResult::Ok;
  }
  const std::u16string leaf = BuildVolumeName(name_.name, m.chain, volume);
  auto join = [](const std::u16string& folder, const std::u16string& name) {
    return folder.empty() ? name : folder + u"\\" + name;
  };
  file = files_io_.open(join(folder_, leaf));
  if (!file && !chosen_folder_.empty()) file = files_io_.open(join(chosen_folder_, leaf));
  for (int asked = 0; !file; ++asked) {
    if (!prompt_ || asked == kMaxVolumePrompts)
      return fail(ArchiveResult::VolumeCancelled, "volume " + narrow(leaf) + " was not found");
    auto folder = prompt_(leaf);
    if (!folder) return fail(ArchiveResult::VolumeCancelled, "volume " + narrow(leaf) + " was not supplied");
    file = files_io_.open(join(*folder, leaf));
    if (file) chosen_folder_ = *folder;
  }
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::read_at(Member& m, int64_t& position, uint8_t* buffer, size_t n, const char* what) {
  if (position < 0)
    return fail(ArchiveResult::BadTable, format("%s: %s at the negative position %" PRId64, narrow(m.path).c_str(),
                                                what, position));
  // The volume that holds the position: the last one that starts at or before it.
  size_t v = 0;
  for (;;) {
    // A volume's own positions begin after its header.
    while (v + 1 < m.volumes.size() && m.volumes[v + 1].base + static_cast<int64_t>(kHeaderSize) <= position) ++v;
    Volume& vol = m.volumes[v];
    if (position < vol.end || !m.header.is_split()) break;
    if (v + 1 < m.volumes.size()) {
      // Between this volume's end and the next one's header.
      if (position == vol.end) {
        position = m.volumes[v + 1].base + static_cast<int64_t>(kHeaderSize);
        continue;
      }
      return fail(ArchiveResult::BadTable, format("%s: %s at %" PRId64 " lies between volume %zu and the data of volume %zu",
                                                  narrow(m.path).c_str(), what, position, v, v + 1));
    }
    if (m.volumes.size() >= static_cast<size_t>(kMaxVolumes))
      return fail(ArchiveResult::BadVolume, format("%s: more than %d volumes", narrow(m.path).c_str(), kMaxVolumes));
    // Open the following volume: it starts where this volume's header says.
    Volume next;
    const ArchiveResult r = open_volume_file(m, static_cast<int32_t>(m.volumes.size()), next.file);
    if (r != ArchiveResult::Ok) return r;
    const std::u16string leaf = BuildVolumeName(name_.name, m.chain, static_cast<int32_t>(m.volumes.size()));
    uint8_t raw[kHeaderSize];
    if (next.file->read_at(0, raw, kHeaderSize) != static_cast<int64_t>(kHeaderSize))
      return fail(ArchiveResult::Truncated, narrow(leaf) + ": too short for its 717-byte header");
    next.base = vol.next_base;
    if (next.base < vol.end)
      return fail(ArchiveResult::BadVolume,
                  format("%s: the volume before it says it starts at %" PRId64 ", inside that volume (which ends at %" PRId64 ")",
                         narrow(leaf).c_str(), next.base, vol.end));
    next.end = next.base + next.file->size();
    next.next_base = ParseHeader(raw).next_volume.offset();
    // `vol` does not survive the push.
    const bool at_end = position == vol.end;
    m.volumes.push_back(std::move(next));
    if (at_end) position = m.volumes.back().base + static_cast<int64_t>(kHeaderSize);
  }
  Volume& vol = m.volumes[v];
  if (position < vol.base || static_cast<int64_t>(n) > vol.end - position)
    return fail(ArchiveResult::Truncated,
                format("%s: %s of %zu bytes at %" PRId64 " runs past the end of volume %zu at %" PRId64,
                       narrow(m.path).c_str(), what, n, position, v, vol.end));
  const int64_t got = vol.file->read_at(position - vol.base, buffer, n);
  if (got != static_cast<int64_t>(n))
    return fail(ArchiveResult::ReadFailed, format("%s: %s at %" PRId64 " cannot be read", narrow(m.path).c_str(), what,
                                                  position));
  position += static_cast<int64_t>(n);
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::read_framed(Member& m, int64_t& position, std::vector<uint8_t>& stored,
                                          uint16_t& length_word, const char* what) {
  uint8_t word[2];
  ArchiveResult r = read_at(m, position, word, 2, what);
  if (r != ArchiveResult::Ok) return r;
  length_word = static_cast<uint16_t>(word[0] | (word[1] << 8));
  stored.clear();
  if (length_word == 0 || length_word > kMaxStoredBlock) return ArchiveResult::Ok;
  stored.resize(length_word);
  return read_at(m, position, stored.data(), length_word, what);
}

ArchiveResult ArchiveSession::position_members(bool folder, const std::u16string& path) {
  if (header_.type == 0) return ArchiveResult::Ok;
  const int count = std::min<int>(member_count_, static_cast<int>(members_.size()));
  for (int m = count - 1; m >= 0; --m) {
    Member& mm = *members_[m];
    mm.has_walk = false;
    auto match = [&](const auto& records, auto path_of) {
      for (size_t j = 1; j < records.size(); ++j)
        if (path_of(records[j], mm.names) == path) {
          mm.walk = records[j].data.offset();
          mm.has_walk = records[j].data.sector != 0;
          return;
        }
    };
    if (folder) match(mm.folders, FolderRecordPath);
    else match(mm.files, FileRecordPath);
  }
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::BeginFileItem(int k) {
  if (members_.empty()) return fail(ArchiveResult::OpenFailed, "the archive is not open");
  if (k < 1 || k >= static_cast<int>(files_.size()))
    return fail(ArchiveResult::BadRecord, format("file item %d does not exist", k));
  position_members(false, FilePath(k));
  current().stream = files_[k].data.offset();
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::BeginFolderItem(int i) {
  if (members_.empty()) return fail(ArchiveResult::OpenFailed, "the archive is not open");
  if (i < 1 || i >= static_cast<int>(folders_.size()))
    return fail(ArchiveResult::BadRecord, format("folder item %d does not exist", i));
  position_members(true, FolderPath(i));
  current().stream = folders_[i].data.offset();
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::read_from_predecessor(std::vector<uint8_t>& stored) {
  const int count = std::min<int>(member_count_, static_cast<int>(members_.size()));
  for (int m = count - 1; m >= 0; --m) {
    Member& mm = *members_[m];
    if (!mm.has_walk) continue;
    uint16_t word = 0;
    const ArchiveResult r = read_framed(mm, mm.walk, stored, word, "a block of an older member");
    if (r != ArchiveResult::Ok) return r;
    if (word <= kMaxStoredBlock) return ArchiveResult::Ok;  // data, or an empty block that ends the search
  }
  stored.clear();
  return fail(ArchiveResult::MissingBlock, "a block refers to an older member of the chain, and none holds it");
}

ArchiveResult ArchiveSession::decode(std::vector<uint8_t>& stored, size_t expected, std::vector<uint8_t>& decoded) {
  if (header_.encrypted && !keyed_)
    return fail(ArchiveResult::BadBlock, "the archive is encrypted and no passkey was verified");
  const DecodeResult d = DecodeBlock(stored, header_.compression, header_.encrypted ? &key_ : nullptr, expected, decoded);
  if (d != DecodeResult::Ok)
    return fail(ArchiveResult::BadBlock, format("%s: a block of %zu stored bytes (%zu expected after decoding): %s",
                                                narrow(catalog_path_).c_str(), stored.size(), expected,
                                                DecodeResultText(d)));
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::ReadItemBlock(size_t expected, std::vector<uint8_t>& decoded) {
  if (members_.empty()) return fail(ArchiveResult::OpenFailed, "the archive is not open");
  Member& m = current();
  std::vector<uint8_t> stored;
  uint16_t word = 0;
  ArchiveResult r = read_framed(m, m.stream, stored, word, "a block");
  if (r != ArchiveResult::Ok) return r;
  if (word == 0 || word > kMaxStoredBlock) {
    // A reference: the block is the next one of the youngest older member.
    const size_t length = word == 0 ? 0 : word - kMaxStoredBlock;
    r = read_from_predecessor(stored);
    if (r != ArchiveResult::Ok) return r;
    if (stored.size() != length || length == 0)
      return fail(ArchiveResult::BadBlock,
                  format("%s: a reference to a block of %zu bytes found %zu bytes in the older member",
                         narrow(m.path).c_str(), length, stored.size()));
  }
  return decode(stored, expected, decoded);
}

ArchiveResult ArchiveSession::locate_in_member(int m, int item, int64_t unit, bool& found, int64_t& position) {
  found = false;
  Member& mm = *members_[m];
  const ArchiveHeader& h = mm.header;
  if (item < 1 || item > kMaxUnitCountItems)
    return fail(ArchiveResult::BadTable, format("disk item %d has no unit count in the header", item));
  int64_t sum = 0;
  for (int k = 1; k < item; ++k) sum += h.unit_counts[k];
  int64_t at = h.table.offset();
  if (m == 0 && h.type == 0) {
    if (unit < 1 || unit > h.unit_counts[item])
      return fail(ArchiveResult::BadTable, format("%s: unit %" PRId64 " of disk item %d is past its %d units",
                                                  narrow(mm.path).c_str(), unit, item, h.unit_counts[item]));
    at += (sum + unit - 1) * static_cast<int64_t>(kBlockLocationSize);
    uint8_t raw[kBlockLocationSize];
    const ArchiveResult r = read_at(mm, at, raw, sizeof raw, "the block location table");
    if (r != ArchiveResult::Ok) return r;
    const ArchivePosition p = ParseBlockLocation(raw);
    if (p.sector == 0) return ArchiveResult::Ok;
    found = true;
    position = p.offset();
    return ArchiveResult::Ok;
  }
  if (h.changed_count == 0) return ArchiveResult::Ok;
  at += sum;
  std::vector<uint8_t> table(static_cast<size_t>(h.changed_count) * kChangedBlockEntrySize);
  const ArchiveResult r = read_at(mm, at, table.data(), table.size(), "the changed-block table");
  if (r != ArchiveResult::Ok) return r;
  for (int32_t e = 0; e < h.changed_count; ++e) {
    const ChangedBlockEntry entry = ParseChangedBlockEntry(table.data() + e * kChangedBlockEntrySize);
    if (entry.unit == unit) {
      if (entry.data.sector == 0) return ArchiveResult::Ok;
      found = true;
      position = entry.data.offset();
      return ArchiveResult::Ok;
    }
  }
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::LocateUnit(int item, int64_t unit, bool& found) {
  found = false;
  located_member_ = -1;
  if (members_.empty()) return fail(ArchiveResult::OpenFailed, "the archive is not open");
  if (header_.type == 0 && header_.no_unit_lookup) return ArchiveResult::Ok;
  const int count = std::min<int>(member_count_, static_cast<int>(members_.size()));
  for (int m = count - 1; m >= 0; --m) {
    int64_t position = 0;
    const ArchiveResult r = locate_in_member(m, item, unit, found, position);
    if (r != ArchiveResult::Ok) return r;
    if (found) {
      located_member_ = m;
      located_position_ = position;
      return ArchiveResult::Ok;
    }
  }
  return ArchiveResult::Ok;
}

ArchiveResult ArchiveSession::ReadUnitBlock(size_t expected, std::vector<uint8_t>& decoded) {
  if (located_member_ < 0 || located_member_ >= static_cast<int>(members_.size()))
    return fail(ArchiveResult::BadTable, "no unit is located");
  Member& m = *members_[located_member_];
  std::vector<uint8_t> stored;
  uint16_t word = 0;
  const ArchiveResult r = read_framed(m, located_position_, stored, word, "a block of a disk item");
  if (r != ArchiveResult::Ok) return r;
  if (word == 0 || word > kMaxStoredBlock)
    return fail(ArchiveResult::BadBlock, format("%s: a located block has the length word 0x%04x (1..0x8000 expected)",
                                                narrow(m.path).c_str(), word));
  return decode(stored, expected, decoded);
}

ArchiveResult ArchiveSession::LoadBlockTable() {
  if (members_.empty()) return fail(ArchiveResult::OpenFailed, "the archive is not open");
  Member& m = header_.type != 0 ? current() : *members_.front();
  if (!m.header.is_split() || m.header.table_volume <= 0) return ArchiveResult::Ok;
  if (m.header.table_volume >= kMaxVolumes)
    return fail(ArchiveResult::BadHeader, format("header +19 names volume %d", m.header.table_volume));
  std::unique_ptr<ArchiveFile> file;
  return open_volume_file(m, m.header.table_volume, file);
}

}  // namespace restore
