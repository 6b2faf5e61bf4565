#include "tools/archive_writer/archive_writer.h"

#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/core/text.h"
#include "restore/block_codec.h"

namespace archive_writer {

using restore::ArchivePosition;
using restore::Compression;
using restore::kBlockBytes;
using restore::kHeaderSize;

std::string SelfExtractingName(const std::string& program_file_name) {
  if (program_file_name.size() < 4) return program_file_name;
  return program_file_name.substr(0, program_file_name.size() - 4) + ".EXE";
}

namespace {

ArchivePosition position_of(int64_t offset) {
  return {static_cast<int32_t>(offset / 512), static_cast<int32_t>(offset % 512)};
}

// The archive's bytes as one run of positions cut into volume files; a
// field is never split between two volumes.
class VolumeStream {
 public:
  VolumeStream(const Options& o, const std::string& folder) : o_(o), folder_(folder) {}

  bool open_first(std::string& error) {
    const std::string leaf = o_.first_file_name.empty()
                                 ? platform::to_utf8(restore::BuildVolumeName(platform::to_utf16(o_.name), o_.chain, 0))
                                 : o_.first_file_name;
    if (!open_file(leaf, error)) return false;
    bases_.push_back(0);
    write_raw(o_.prefix.data(), o_.prefix.size());
    return true;
  }

  // Room for the catalogue in the first volume, written later with patch().
  void reserve(size_t n) {
    const std::vector<uint8_t> zeros(n, 0);
    write_raw(zeros.data(), n);
  }

  bool field(const uint8_t* p, size_t n, std::string& error) {
    const int64_t used = pos_ - bases_.back();
    if (o_.volume_size > 0 && used + static_cast<int64_t>(n) > o_.volume_size && used > static_cast<int64_t>(kHeaderSize)) {
      if (!next_volume(error)) return false;
    }
    write_raw(p, n);
    return true;
  }

  int64_t position() const { return pos_; }
  int32_t volume() const { return static_cast<int32_t>(bases_.size()) - 1; }
  const std::vector<int64_t>& bases() const { return bases_; }
  const std::vector<std::string>& paths() const { return paths_; }

  bool patch(size_t volume, int64_t offset_in_file, const uint8_t* p, size_t n) {
    std::fstream& f = *files_[volume];
    f.seekp(offset_in_file);
    f.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
    return static_cast<bool>(f);
  }

  bool close(std::string& error) {
    for (size_t i = 0; i < files_.size(); ++i) {
      files_[i]->flush();
      if (!*files_[i]) {
        error = "cannot write " + paths_[i];
        return false;
      }
      files_[i]->close();
    }
    return true;
  }

 private:
  bool open_file(const std::string& leaf, std::string& error) {
    const std::string path = (std::filesystem::path(folder_) / leaf).string();
    auto f = std::make_unique<std::fstream>(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
    if (!*f) {
      error = "cannot create " + path;
      return false;
    }
    files_.push_back(std::move(f));
    paths_.push_back(path);
    return true;
  }
  bool next_volume(std::string& error) {
    const int32_t v = static_cast<int32_t>(bases_.size());
    const std::string name = o_.first_file_name.empty() ? o_.name : SelfExtractingName(o_.first_file_name);
    if (!open_file(platform::to_utf8(restore::BuildVolumeName(platform::to_utf16(name), o_.chain, v)), error))
      return false;
    bases_.push_back(pos_);
    reserve(kHeaderSize);
    return true;
  }
  void write_raw(const uint8_t* p, size_t n) {
    files_.back()->write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
    pos_ += static_cast<int64_t>(n);
  }

  const Options& o_;
  std::string folder_;
  std::vector<std::unique_ptr<std::fstream>> files_;
  std::vector<std::string> paths_;
  std::vector<int64_t> bases_;
  int64_t pos_ = 0;
};

// The blocks of one item's bytes, framed; `older` blocks become references.
bool write_blocks(VolumeStream& out, const Options& o, const uint8_t* data, size_t n, bool refer, std::string& error) {
  std::vector<uint8_t> raw, stored;
  for (size_t at = 0; at < n; at += kBlockBytes) {
    const size_t len = std::min<size_t>(kBlockBytes, n - at);
    raw.assign(data + at, data + at + len);
    if (!EncodeBlock(raw, o.compression, o.passkey, stored)) {
      error = "a block cannot be stored in this compression";
      return false;
    }
    uint16_t word = static_cast<uint16_t>(stored.size());
    if (refer) word = static_cast<uint16_t>(restore::kMaxStoredBlock + stored.size());
    const uint8_t w[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    if (!out.field(w, 2, error)) return false;
    if (!refer && !out.field(stored.data(), stored.size(), error)) return false;
  }
  return true;
}

class ExtentSource {
 public:
  bool open(const DiskEntry& d, std::string& error) {
    entry_ = &d;
    const int64_t need = d.record.extent_sectors() * 512;
    if (!d.source_path.empty()) {
      in_.open(d.source_path, std::ios::binary);
      if (!in_) {
        error = "cannot read " + d.source_path;
        return false;
      }
      in_.seekg(0, std::ios::end);
      if (static_cast<int64_t>(in_.tellg()) < d.source_offset + need) {
        error = d.source_path + " is shorter than the extent";
        return false;
      }
    } else if (static_cast<int64_t>(d.bytes.size()) != need) {
      error = "the extent's bytes do not match its record";
      return false;
    }
    return true;
  }
  bool read(int64_t offset, size_t n, std::vector<uint8_t>& out) {
    out.resize(n);
    if (entry_->source_path.empty()) {
      std::memcpy(out.data(), entry_->bytes.data() + offset, n);
      return true;
    }
    in_.seekg(entry_->source_offset + offset);
    in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    return static_cast<bool>(in_);
  }

 private:
  const DiskEntry* entry_ = nullptr;
  std::ifstream in_;
};

}  // namespace

bool EncodeBlock(const std::vector<uint8_t>& raw, Compression compression, const std::optional<std::u16string>& passkey,
                 std::vector<uint8_t>& stored) {
  switch (compression) {
    case Compression::None: stored = raw; break;
    case Compression::Rle: {
      stored = restore::EncodeRle(raw);
      if (stored.size() >= kBlockBytes) {
        // Only a full block may be stored as it is: the reader takes any
        // block of 0x7E00 bytes or more as uncompressed.
        if (raw.size() != kBlockBytes) return false;
        stored = raw;
      }
      break;
    }
    case Compression::Zlib: {
      uLongf length = compressBound(static_cast<uLong>(raw.size()));
      stored.resize(length);
      if (compress2(stored.data(), &length, raw.data(), static_cast<uLong>(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return false;
      stored.resize(length);
      break;
    }
  }
  if (stored.empty() || stored.size() > restore::kMaxStoredBlock) return false;
  if (passkey) {
    restore::BlowfishKey key;
    key.set_key(restore::PasskeyKey(*passkey));
    key.encrypt_buffer(stored.data(), stored.data(), stored.size());
  }
  return true;
}

bool PatchMarker(std::vector<uint8_t>& program) {
  const size_t at = restore::FindMarker(program);
  if (at == std::string::npos || program.size() - at < restore::kMarkerSlotSize) return false;
  const std::string digits = std::to_string(program.size());
  const size_t start = at + restore::kSelfExtractLetters.size();
  if (restore::kSelfExtractLetters.size() + digits.size() + 1 > restore::kMarkerSlotSize) return false;
  std::fill(program.begin() + static_cast<std::ptrdiff_t>(start),
            program.begin() + static_cast<std::ptrdiff_t>(at + restore::kMarkerSlotSize), 0);
  std::copy(digits.begin(), digits.end(), program.begin() + static_cast<std::ptrdiff_t>(start));
  return true;
}

bool Write(const Options& o, const std::vector<FileEntry>& files, const std::vector<FolderEntry>& folders,
           const std::vector<DiskEntry>& disks, const std::string& folder, Written& written, std::string& error) {
  if (disks.size() > restore::kMaxUnitCountItems) {
    error = "at most 15 disk items";
    return false;
  }
  if (o.type != 0 && disks.size() > 1) {
    error = "a chain member holds at most one disk item";
    return false;
  }
  // The names pool: file paths, then folder components each ended by '?'.
  std::u16string names;
  std::vector<restore::FileItemRecord> file_records(files.size());
  for (size_t k = 0; k < files.size(); ++k) {
    if (files[k].path.size() > 255) {
      error = "a file path is longer than 255 characters";
      return false;
    }
    file_records[k].name_offset = static_cast<uint32_t>(names.size());
    file_records[k].name_length = static_cast<uint8_t>(files[k].path.size());
    names += files[k].path;
  }
  std::vector<restore::FolderItemRecord> folder_records(folders.size());
  for (size_t i = 0; i < folders.size(); ++i) {
    if (folders[i].components.size() > restore::kMaxPathComponents) {
      error = "a folder path has more than 32 parts";
      return false;
    }
    folder_records[i].path_bytes = static_cast<uint8_t>(3 * folders[i].components.size());
    for (size_t c = 0; c < folders[i].components.size(); ++c) {
      folder_records[i].components[c] = static_cast<uint32_t>(names.size());
      names += folders[i].components[c] + u"?";
    }
  }
  if (names.size() >= (1u << 24)) {
    error = "the names pool is too large";
    return false;
  }

  restore::ArchiveHeader h;
  h.type = o.type;
  h.compression = static_cast<uint8_t>(o.compression);
  h.encrypted = o.passkey ? 1 : 0;
  h.split = o.volume_size > 0 ? std::max(o.split, 1) : o.split;
  h.description = o.description;
  h.backup_time = o.backup_time;
  h.no_unit_lookup = o.no_unit_lookup;
  h.file_count = static_cast<int32_t>(files.size());
  h.folder_count = static_cast<int32_t>(folders.size());
  h.disk_count = static_cast<int32_t>(disks.size());
  h.names_length = static_cast<int32_t>(names.size());
  if (o.passkey) {
    restore::BlowfishKey key;
    key.set_key(restore::PasskeyKey(*o.passkey));
    key.encrypt_buffer(reinterpret_cast<const uint8_t*>(restore::kPasskeyCheckText.data()), h.passkey_check.data(), 8);
  }
  int64_t total_sectors = 0;
  for (const auto& f : files) total_sectors += static_cast<int64_t>(f.data.size()) / 512;
  for (const auto& f : folders) total_sectors += static_cast<int64_t>(f.data.size()) / 512;
  for (size_t j = 0; j < disks.size(); ++j) {
    total_sectors += disks[j].record.extent_sectors();
    h.unit_counts[j + 1] = static_cast<int32_t>(disks[j].record.unit_count());
  }
  h.total_sectors = static_cast<int32_t>(std::min<int64_t>(total_sectors, INT32_MAX));

  std::filesystem::create_directories(folder);
  VolumeStream out(o, folder);
  if (!out.open_first(error)) return false;
  const int64_t archive_offset = out.position();
  const size_t catalog_bytes = kHeaderSize + files.size() * restore::kFileRecordSize +
                               folders.size() * restore::kFolderRecordSize + disks.size() * restore::kDiskRecordSize +
                               (names.size() + 1) * 2;
  out.reserve(catalog_bytes);

  for (size_t k = 0; k < files.size(); ++k) {
    file_records[k].data = position_of(out.position());
    file_records[k].size = static_cast<int64_t>(files[k].data.size());
    file_records[k].selection = files[k].selection;
    file_records[k].attributes = files[k].attributes;
    file_records[k].creation_time = files[k].times.creation;
    file_records[k].access_time = files[k].times.access;
    file_records[k].write_time = files[k].times.write;
    if (!write_blocks(out, o, files[k].data.data(), files[k].data.size(), files[k].refer_to_older, error)) return false;
  }
  for (size_t i = 0; i < folders.size(); ++i) {
    auto& r = folder_records[i];
    r.kind = folders[i].kind;
    r.size = folders[i].is_folder ? -2 : static_cast<int64_t>(folders[i].data.size());
    r.data = position_of(out.position());
    r.attributes = folders[i].attributes;
    r.creation_time = folders[i].times.creation;
    r.access_time = folders[i].times.access;
    r.write_time = folders[i].times.write;
    if (!folders[i].is_folder &&
        !write_blocks(out, o, folders[i].data.data(), folders[i].data.size(), folders[i].refer_to_older, error))
      return false;
  }
  // Disk items: each stored unit's blocks; the table entry points at the
  // unit's first length word.
  std::vector<std::vector<int64_t>> unit_positions(disks.size());
  std::vector<uint8_t> raw, stored;
  for (size_t j = 0; j < disks.size(); ++j) {
    const auto& d = disks[j];
    ExtentSource source;
    if (!source.open(d, error)) return false;
    const int64_t units = d.record.unit_count();
    unit_positions[j].assign(static_cast<size_t>(units), 0);
    std::vector<bool> wanted(static_cast<size_t>(units), d.units.empty());
    for (int64_t u : d.units) {
      if (u < 1 || u > units) {
        error = "a listed unit is outside the disk item";
        return false;
      }
      wanted[static_cast<size_t>(u - 1)] = true;
    }
    for (int64_t u = 1; u <= units; ++u) {
      if (!wanted[static_cast<size_t>(u - 1)]) continue;
      unit_positions[j][static_cast<size_t>(u - 1)] = out.position();
      const int64_t first = (u - 1) * d.record.sectors_per_unit * 512;
      const int64_t bytes = d.record.unit_sectors(u) * 512;
      for (int64_t at = 0; at < bytes; at += kBlockBytes) {
        const size_t len = static_cast<size_t>(std::min<int64_t>(kBlockBytes, bytes - at));
        if (!source.read(first + at, len, raw)) {
          error = "cannot read the extent of disk item " + std::to_string(j + 1);
          return false;
        }
        if (!EncodeBlock(raw, o.compression, o.passkey, stored)) {
          error = "a block cannot be stored in this compression";
          return false;
        }
        const uint8_t w[2] = {static_cast<uint8_t>(stored.size()), static_cast<uint8_t>(stored.size() >> 8)};
        if (!out.field(w, 2, error) || !out.field(stored.data(), stored.size(), error)) return false;
      }
    }
  }
  // The table: one location per unit of every item (full archive), or the
  // changed-block entries of the member's one item.
  if (!disks.empty()) {
    std::vector<uint8_t> table;
    auto put32 = [&](int32_t v) {
      for (int s = 0; s < 32; s += 8) table.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> s));
    };
    if (o.type == 0) {
      for (const auto& positions : unit_positions)
        for (int64_t p : positions) {
          const ArchivePosition at = p ? position_of(p) : ArchivePosition{};
          put32(at.sector);
          put32(at.byte);
        }
    } else {
      for (size_t u = 0; u < unit_positions[0].size(); ++u) {
        if (!unit_positions[0][u]) continue;
        const ArchivePosition at = position_of(unit_positions[0][u]);
        table.push_back(0);
        put32(static_cast<int32_t>(u + 1));
        put32(at.sector);
        put32(at.byte);
        ++h.changed_count;
      }
    }
    if (!table.empty()) {
      // One field, so that the table never straddles two volumes.
      if (!out.field(table.data(), table.size(), error)) return false;
      h.table = position_of(out.position() - static_cast<int64_t>(table.size()));
      h.table_volume = out.volume();
    }
  }

  // The catalogue, now that every position is known, and each volume's
  // header with the start of the volume after it.
  const auto& bases = out.bases();
  std::vector<uint8_t> cat(catalog_bytes, 0);
  h.next_volume = bases.size() > 1 ? position_of(bases[1]) : ArchivePosition{};
  restore::StoreHeader(h, cat.data());
  uint8_t* p = cat.data() + kHeaderSize;
  for (const auto& r : file_records) {
    restore::StoreFileRecord(r, p);
    p += restore::kFileRecordSize;
  }
  for (const auto& r : folder_records) {
    restore::StoreFolderRecord(r, p);
    p += restore::kFolderRecordSize;
  }
  for (const auto& d : disks) {
    restore::StoreDiskRecord(d.record, p);
    p += restore::kDiskRecordSize;
  }
  for (char16_t c : names) {
    *p++ = static_cast<uint8_t>(c);
    *p++ = static_cast<uint8_t>(c >> 8);
  }
  if (!out.patch(0, archive_offset, cat.data(), cat.size())) {
    error = "cannot write the catalogue";
    return false;
  }
  for (size_t v = 1; v < bases.size(); ++v) {
    restore::ArchiveHeader vh = h;
    vh.next_volume = v + 1 < bases.size() ? position_of(bases[v + 1]) : ArchivePosition{};
    uint8_t raw_header[kHeaderSize];
    restore::StoreHeader(vh, raw_header);
    if (!out.patch(v, 0, raw_header, kHeaderSize)) {
      error = "cannot write a volume header";
      return false;
    }
  }
  if (!out.close(error)) return false;
  written.files = out.paths();
  written.archive_offset = archive_offset;
  written.total_sectors = total_sectors;
  return true;
}

}  // namespace archive_writer
