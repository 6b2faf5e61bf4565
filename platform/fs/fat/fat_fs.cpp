#include "platform/fs/fat/fat_fs.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/core/clock.h"
#include "platform/core/error.h"
#include "platform/fs/fat/fat_time.h"

namespace platform::fs::fat {

namespace {

constexpr size_t kZeroChunk = 1 << 20;

const std::vector<uint8_t>& zeros() {
  static const std::vector<uint8_t> z(kZeroChunk, 0);
  return z;
}

}  // namespace

DWORD device_error(DWORD fallback) {
  DWORD e = GetLastError();
  return e ? e : fallback;
}

FatFs::FatFs(std::shared_ptr<BlockDevice> dev, const FatGeometry& geometry, const MountOptions& opts)
    : device(std::move(dev)), g(geometry), options(opts) {}

uint64_t FatFs::now() const {
  if (options.now) return options.now();
  return Clock::instance().now_filetime();
}

int32_t FatFs::local_offset() const {
  if (options.local_offset_minutes) return *options.local_offset_minutes;
  return -Clock::instance().time_zone_bias_minutes();  // local = UTC - bias
}

DWORD FatFs::directory(uint32_t id, Directory** dir) {
  auto it = dirs_.find(id);
  if (it == dirs_.end()) it = dirs_.emplace(id, std::make_unique<Directory>()).first;
  Directory* d = it->second.get();
  if (d->stale || d->bytes.empty()) {
    if (DWORD e = load_directory(id, d)) {
      dirs_.erase(it);
      return e;
    }
  }
  *dir = d;
  return ERROR_SUCCESS;
}

void FatFs::begin_operation() {
  size_t total = 0;
  for (auto& [id, d] : dirs_) total += d->bytes.size();
  if (total > kCacheBytes) dirs_.clear();
}

DWORD FatFs::load_directory(uint32_t id, Directory* dir) {
  dir->id = id;
  dir->stale = false;
  dir->chain.clear();
  if (id == 0) {
    if (g.kind == FatKind::Fat32) return ERROR_FILE_CORRUPT;
    dir->bytes.assign(size_t(g.root_entries) * kEntrySize, 0);
    if (!device->read_at(g.root_offset(), dir->bytes.data(), dir->bytes.size())) [[unlikely]]
      return device_error(ERROR_READ_FAULT);
  } else {
    if (!g.is_data_cluster(id)) [[unlikely]]
      return ERROR_FILE_CORRUPT;
    if (DWORD e = fat.chain(id, &dir->chain)) return e;
    uint64_t bytes = uint64_t(dir->chain.size()) * g.bytes_per_cluster;
    if (bytes > kMaxDirectoryEntries * kEntrySize) [[unlikely]]
      return ERROR_FILE_CORRUPT;  // longer than any directory may be
    dir->bytes.assign(size_t(bytes), 0);
    if (DWORD e = chain_io(dir->chain, 0, dir->bytes.data(), dir->bytes.size(), false)) return e;
  }
  dir->parsed = ParseDirectory(dir->bytes.data(), dir->slot_count(), g.kind == FatKind::Fat32);
  return ERROR_SUCCESS;
}

uint64_t FatFs::slot_offset(const Directory& dir, size_t slot) const {
  uint64_t at = uint64_t(slot) * kEntrySize;
  if (dir.id == 0) return g.root_offset() + at;
  return g.cluster_offset(dir.chain[at / g.bytes_per_cluster]) + at % g.bytes_per_cluster;
}

DWORD FatFs::write_slots(Directory& dir, size_t first, size_t count) {
  if (dir.id != 0 && fat.owners().any_shared()) [[unlikely]] {
    uint64_t per_cluster = g.bytes_per_cluster / kEntrySize;
    if (DWORD e = check_unshared(dir.chain, first / per_cluster, (first + count + per_cluster - 1) / per_cluster)) {
      dir.stale = true;  // the caller edited the bytes already
      return e;
    }
  }
  size_t slot = first, end = first + count;
  while (slot < end) {
    // Slots of one cluster (or the whole fixed root) are contiguous on the device.
    size_t per_cluster = g.bytes_per_cluster / kEntrySize;
    size_t run_end = dir.id == 0 ? end : std::min(end, (slot / per_cluster + 1) * per_cluster);
    if (!device->write_at(slot_offset(dir, slot), &dir.bytes[slot * kEntrySize], (run_end - slot) * kEntrySize))
        [[unlikely]] {
      dir.stale = true;
      return device_error(ERROR_WRITE_FAULT);
    }
    slot = run_end;
  }
  return ERROR_SUCCESS;
}

DWORD FatFs::check_entry(const DirectoryEntry& e) const {
  if (e.is_dot() || e.is_label()) return ERROR_SUCCESS;
  uint32_t c = e.first_cluster();
  if (c != 0 && !g.is_data_cluster(c)) return ERROR_FILE_CORRUPT;
  if (e.is_directory() && c == 0) return ERROR_FILE_CORRUPT;
  static constexpr std::string_view kForbidden = "\"*+,./:;<=>?[\\]|";
  if (e.short_name[0] == ' ') return ERROR_FILE_CORRUPT;
  for (size_t i = 0; i < e.short_name.size(); ++i) {
    uint8_t b = e.short_name[i];
    if (i == 0 && b == 0x05) continue;  // stands for a leading 0xE5
    if (b < 0x20 || kForbidden.find(char(b)) != std::string_view::npos) return ERROR_FILE_CORRUPT;
  }
  return ERROR_SUCCESS;
}

DWORD FatFs::check_directory(const Directory& dir) const {
  for (const DirectoryEntry& e : dir.parsed.entries)
    if (DWORD err = check_entry(e)) return err;
  return ERROR_SUCCESS;
}

int FatFs::find(const Directory& dir, const std::u16string& name) const {
  // A name compares with an entry's long name and with its short name; the
  // short side is compared in raw upper-case form when the name has one.
  ShortName raw;
  bool has_raw = AsciiShortForm(name, &raw);
  auto raw_equal = [&](const ShortName& stored, bool* ascii) {
    *ascii = true;
    for (size_t k = 0; k < stored.size(); ++k) {
      uint8_t b = stored[k];
      if (b >= 0x80 || (k == 0 && b == 0x05)) *ascii = false;
      if ((b >= 'a' && b <= 'z' ? b - 32 : b) != raw[k]) return false;
    }
    return true;
  };
  for (size_t i = 0; i < dir.parsed.entries.size(); ++i) {
    const DirectoryEntry& e = dir.parsed.entries[i];
    if (e.is_dot() || e.is_label()) continue;
    if (!e.long_name.empty() && NamesEqual(e.long_name, name)) return int(i);
    // The common case in one compare: folders with thousands of files look
    // names up once per create and open.
    if (e.plain_short) {
      if (has_raw && std::memcmp(e.short_name.data(), raw.data(), raw.size()) == 0) return int(i);
      continue;
    }
    bool ascii = true;
    if (has_raw && raw_equal(e.short_name, &ascii)) return int(i);
    // Short names with OEM bytes beyond ASCII compare as text.
    if (!has_raw || !ascii) {
      bool stored_ascii = true;
      for (size_t k = 0; k < e.short_name.size(); ++k)
        if (e.short_name[k] >= 0x80 || (k == 0 && e.short_name[k] == 0x05)) stored_ascii = false;
      if (!stored_ascii && NamesEqual(ShortNameText(e.short_name), name)) return int(i);
    }
  }
  return -1;
}

DWORD FatFs::child_directory(const DirectoryEntry& entry, std::vector<uint32_t>* ancestry, Directory** out) {
  if (!entry.is_directory()) return ERROR_PATH_NOT_FOUND;
  uint32_t c = entry.first_cluster();
  if (!g.is_data_cluster(c)) [[unlikely]]
    return ERROR_FILE_CORRUPT;
  if (std::find(ancestry->begin(), ancestry->end(), c) != ancestry->end()) [[unlikely]]
    return ERROR_FILE_CORRUPT;  // a folder that contains itself
  ancestry->push_back(c);
  return directory(c, out);
}

DWORD FatFs::walk_to_parent(const VolumePath& path, Directory** parent, std::vector<uint32_t>* ancestry) {
  ancestry->assign(1, root_id());
  if (DWORD e = directory(root_id(), parent)) return e;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    int at = find(**parent, path[i]);
    if (at < 0) return ERROR_PATH_NOT_FOUND;
    const DirectoryEntry& entry = (*parent)->parsed.entries[size_t(at)];
    if (DWORD e = check_entry(entry)) return e;
    if (DWORD e = child_directory(entry, ancestry, parent)) return e;
  }
  return ERROR_SUCCESS;
}

DWORD FatFs::open_directory(const VolumePath& path, Directory** dir, std::vector<uint32_t>* ancestry) {
  if (path.empty()) {
    ancestry->assign(1, root_id());
    return directory(root_id(), dir);
  }
  Directory* parent;
  if (DWORD e = walk_to_parent(path, &parent, ancestry)) return e;
  int at = find(*parent, path.back());
  if (at < 0) return ERROR_PATH_NOT_FOUND;
  const DirectoryEntry& entry = parent->parsed.entries[size_t(at)];
  if (DWORD e = check_entry(entry)) return e;
  if (!entry.is_directory()) return ERROR_DIRECTORY;
  return child_directory(entry, ancestry, dir);
}

DWORD FatFs::grow_directory(Directory& dir) {
  if (dir.id == 0) return ERROR_DISK_FULL;  // the fixed root cannot grow
  if (dir.bytes.size() + g.bytes_per_cluster > kMaxDirectoryEntries * kEntrySize) return ERROR_DISK_FULL;
  if (DWORD e = check_unshared(dir.chain, dir.chain.size() - 1, dir.chain.size())) return e;
  ClusterChain added;
  if (DWORD e = fat.allocate(1, dir.chain.back(), &added)) return e;
  if (DWORD e = zero_clusters(added)) {
    fat.release(added);
    return e;
  }
  fat.set(dir.chain.back(), added.front());
  dir.chain.push_back(added.front());
  dir.bytes.resize(dir.bytes.size() + g.bytes_per_cluster, 0);
  dir.parsed.free_slots.resize(dir.slot_count(), 1);
  return ERROR_SUCCESS;
}

DWORD FatFs::add_entry(Directory& dir, const std::u16string& name, DirEntryDisk entry, size_t* short_slot,
                       long except_slot) {
  if (!IsValidLongName(name)) return ERROR_INVALID_NAME;
  NamePlan plan = PlanName(name);
  ShortName sn = plan.short_name;
  if (plan.needs_long_entries) {
    auto taken = [&](const ShortName& candidate) {
      for (const DirectoryEntry& e : dir.parsed.entries)
        if (long(e.short_slot) != except_slot && !e.is_label() && e.short_name == candidate) return true;
      return false;
    };
    if (!GenerateShortName(name, taken, &sn)) return ERROR_FILE_EXISTS;
  } else {
    for (const DirectoryEntry& e : dir.parsed.entries)
      if (long(e.short_slot) != except_slot && !e.is_label() && e.short_name == sn) return ERROR_FILE_EXISTS;
  }
  std::memcpy(entry.name, sn.data(), 11);
  if (entry.name[0] == kDeletedMark) entry.name[0] = 0x05;
  entry.case_flags = plan.needs_long_entries ? 0 : plan.case_flags;
  std::vector<uint8_t> slots = BuildEntrySlots(name, plan.needs_long_entries, entry);
  size_t need = slots.size() / kEntrySize;

  // The first run of `need` free slots, growing the folder when there is none.
  size_t start = 0;
  for (int attempt = 0;; ++attempt) {
    size_t run = 0;
    bool found = false;
    for (size_t i = 0; i < dir.slot_count(); ++i) {
      run = dir.parsed.free_slots[i] ? run + 1 : 0;
      if (run == need) {
        start = i + 1 - need;
        found = true;
        break;
      }
    }
    if (found) break;
    if (attempt > 20) return ERROR_DISK_FULL;
    if (DWORD e = grow_directory(dir)) return e;
  }
  std::memcpy(&dir.bytes[start * kEntrySize], slots.data(), slots.size());
  size_t written_end = start + need;
  size_t write_count = need;
  // Slots past the end marker are free but may hold stale bytes; keep an end
  // marker right after what we wrote so nothing stale becomes visible.
  if (written_end > dir.parsed.end_slot) {
    if (written_end < dir.slot_count() && dir.bytes[written_end * kEntrySize] != 0) {
      std::memset(&dir.bytes[written_end * kEntrySize], 0, kEntrySize);
      ++write_count;
    }
    dir.parsed.end_slot = written_end;
  }
  if (DWORD e = write_slots(dir, start, write_count)) return e;
  for (size_t i = start; i < written_end; ++i) dir.parsed.free_slots[i] = 0;
  // Parse only the new slots and slip the entry in at its place.
  ParsedDirectory piece = ParseDirectory(&dir.bytes[start * kEntrySize], need, g.kind == FatKind::Fat32);
  if (piece.entries.size() != 1) [[unlikely]] {
    reparse(dir);
  } else {
    DirectoryEntry added = std::move(piece.entries[0]);
    added.first_slot += start;
    added.short_slot += start;
    auto at = std::lower_bound(dir.parsed.entries.begin(), dir.parsed.entries.end(), added.short_slot,
                               [](const DirectoryEntry& e, size_t slot) { return e.short_slot < slot; });
    dir.parsed.entries.insert(at, std::move(added));
  }
  *short_slot = written_end - 1;
  return ERROR_SUCCESS;
}

DWORD FatFs::remove_entry(Directory& dir, const DirectoryEntry& entry) {
  for (size_t s = entry.first_slot; s <= entry.short_slot; ++s) dir.bytes[s * kEntrySize] = kDeletedMark;
  if (DWORD e = write_slots(dir, entry.first_slot, entry.slot_count())) return e;
  for (size_t s = entry.first_slot; s <= entry.short_slot; ++s) dir.parsed.free_slots[s] = 1;
  std::erase_if(dir.parsed.entries, [&](const DirectoryEntry& e) { return e.short_slot == entry.short_slot; });
  return ERROR_SUCCESS;
}

void FatFs::reparse(Directory& dir) const {
  dir.parsed = ParseDirectory(dir.bytes.data(), dir.slot_count(), g.kind == FatKind::Fat32);
}

void FatFs::patch_cached_entry(uint32_t dir_id, size_t slot, const DirEntryDisk& entry) {
  auto it = dirs_.find(dir_id);
  if (it == dirs_.end() || it->second->stale) return;
  Directory& dir = *it->second;
  if (slot >= dir.slot_count()) {
    dir.stale = true;
    return;
  }
  std::memcpy(&dir.bytes[slot * kEntrySize], &entry, sizeof entry);
  for (DirectoryEntry& e : dir.parsed.entries)
    if (e.short_slot == slot) {
      e.disk = entry;
      if (g.kind != FatKind::Fat32) e.disk.cluster_high = 0;
    }
}

DWORD FatFs::chain_io(const ClusterChain& chain, uint64_t offset, void* buffer, size_t length, bool write) {
  auto* p = static_cast<uint8_t*>(buffer);
  uint64_t cb = g.bytes_per_cluster;
  while (length > 0) {
    uint64_t index = offset / cb;
    if (index >= chain.size()) [[unlikely]]
      return ERROR_FILE_CORRUPT;
    // One transfer to the end of the run of neighbouring clusters.
    const ClusterChain::Run& run = chain.runs()[chain.run_of(size_t(index))];
    uint64_t within_run = offset - run.start * cb;
    uint64_t run_bytes = uint64_t(run.count) * cb - within_run;
    size_t n = size_t(std::min<uint64_t>(run_bytes, length));
    uint64_t at = g.cluster_offset(run.first) + within_run;
    bool ok = write ? device->write_at(at, p, n) : device->read_at(at, p, n);
    if (!ok) [[unlikely]]
      return device_error(write ? ERROR_WRITE_FAULT : ERROR_READ_FAULT);
    p += n;
    offset += n;
    length -= n;
  }
  return ERROR_SUCCESS;
}

DWORD FatFs::zero_range(const ClusterChain& chain, uint64_t offset, uint64_t length) {
  while (length > 0) {
    size_t n = size_t(std::min<uint64_t>(length, kZeroChunk));
    if (DWORD e = chain_io(chain, offset, const_cast<uint8_t*>(zeros().data()), n, true)) return e;
    offset += n;
    length -= n;
  }
  return ERROR_SUCCESS;
}

DWORD FatFs::zero_clusters(const ClusterChain& clusters) {
  return zero_range(clusters, 0, uint64_t(clusters.size()) * g.bytes_per_cluster);
}

void FatFs::stamp_times(DirEntryDisk* e, bool creation, bool write) const {
  DosTime t = ToDosTime(now(), local_offset());
  if (creation) {
    e->create_date = t.date;
    e->create_time = t.time;
    e->create_hundredths = t.hundredths;
  }
  if (write) {
    e->write_date = t.date;
    e->write_time = t.time;
  }
  e->access_date = t.date;
}

FileInfo FatFs::info_of(const Directory& dir, const DirectoryEntry& entry) const {
  FileInfo info;
  info.name = entry.name();
  // The alias is reported only when it differs from the name itself.
  if (!entry.long_name.empty()) info.short_name = ShortNameText(entry.short_name);
  if (info.short_name == info.name) info.short_name.clear();
  const DirEntryDisk& d = entry.disk;
  info.attributes = d.attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
  if (info.attributes == 0) info.attributes = FILE_ATTRIBUTE_NORMAL;
  uint64_t cb = g.bytes_per_cluster;
  info.size = entry.is_directory() ? 0 : d.size;
  info.allocation_size = (info.size + cb - 1) / cb * cb;
  int32_t bias = local_offset();
  info.creation_time = FromDosTime({d.create_date, d.create_time, d.create_hundredths}, bias);
  info.last_access_time = FromDosTime({d.access_date, 0, 0}, bias);
  info.last_write_time = FromDosTime({d.write_date, d.write_time, 0}, bias);
  info.file_id = (uint64_t(dir.id) << 32) | entry.short_slot;
  return info;
}

std::shared_ptr<FileNode> FatFs::find_node(uint32_t dir_id, size_t slot) {
  auto it = nodes_.find(key(dir_id, slot));
  if (it == nodes_.end()) return nullptr;
  auto node = it->second.lock();
  if (!node) nodes_.erase(it);
  return node;
}

void FatFs::rekey_node(uint32_t old_dir, size_t old_slot, uint32_t new_dir, size_t new_slot, uint64_t offset) {
  auto node = find_node(old_dir, old_slot);
  if (!node) return;
  nodes_.erase(key(old_dir, old_slot));
  node->dir_id = new_dir;
  node->short_slot = new_slot;
  node->entry_offset = offset;
  nodes_[key(new_dir, new_slot)] = node;
}

std::shared_ptr<FileNode> FatFs::node_for(const Directory& dir, const DirectoryEntry& entry, DWORD* error) {
  *error = ERROR_SUCCESS;
  if (auto node = find_node(dir.id, entry.short_slot)) return node;
  auto node = std::make_shared<FileNode>();
  node->dir_id = dir.id;
  node->short_slot = entry.short_slot;
  node->entry_offset = slot_offset(dir, entry.short_slot);
  node->first_cluster = entry.first_cluster();
  node->size = entry.disk.size;
  if ((*error = fat.chain(node->first_cluster, &node->chain))) return nullptr;
  // The chain must hold exactly the clusters the size needs.
  uint64_t cb = g.bytes_per_cluster;
  if (node->chain.size() != (node->size + cb - 1) / cb) {
    *error = ERROR_FILE_CORRUPT;
    return nullptr;
  }
  // Drop the records of files no longer open now and then, so the map stays
  // the size of what is open rather than of everything ever opened.
  if (nodes_.size() >= 2 * live_nodes_hint_ + 64) {
    std::erase_if(nodes_, [](const auto& item) { return item.second.expired(); });
    live_nodes_hint_ = nodes_.size();
  }
  nodes_[key(dir.id, entry.short_slot)] = node;
  return node;
}

DWORD FatFs::update_node_entry(FileNode& node, bool written) {
  if (DWORD err = check_unshared_at(node.entry_offset)) return err;
  DirEntryDisk e;
  if (!device->read_at(node.entry_offset, &e, sizeof e)) [[unlikely]]
    return device_error(ERROR_READ_FAULT);
  e.size = uint32_t(node.size);
  e.cluster_low = uint16_t(node.first_cluster);
  e.cluster_high = g.kind == FatKind::Fat32 ? uint16_t(node.first_cluster >> 16) : 0;
  if (written) {
    stamp_times(&e, false, true);
    e.attributes |= kAttrArchive;
  }
  if (!device->write_at(node.entry_offset, &e, sizeof e)) [[unlikely]] {
    if (auto it = dirs_.find(node.dir_id); it != dirs_.end()) it->second->stale = true;
    return device_error(ERROR_WRITE_FAULT);
  }
  patch_cached_entry(node.dir_id, node.short_slot, e);
  return ERROR_SUCCESS;
}

DWORD FatFs::write_back_all() {
  // FSInfo is only brought up to date along with FAT changes, so a volume that
  // was only read is never written (it may sit on a read-only device).
  bool fat_changed = fat.dirty();
  if (DWORD e = fat.flush(*device)) return e;
  if (fat_changed && g.kind == FatKind::Fat32 && g.fsinfo_sector) {
    // FSInfo: lead signature at +0, structure signature at +484, free count at
    // +488, next free hint at +492, trail signature at +508. Left alone when its
    // signatures are wrong, as it is then not trusted by anyone.
    std::vector<uint8_t>& s = fsinfo_;
    uint64_t at = uint64_t(g.fsinfo_sector) * g.bytes_per_sector;
    if (s.empty()) {
      std::vector<uint8_t> read(g.bytes_per_sector);
      if (!device->read_at(at, read.data(), read.size())) return device_error(ERROR_READ_FAULT);
      uint32_t lead, mid, trail;
      std::memcpy(&lead, &read[0], 4);
      std::memcpy(&mid, &read[484], 4);
      std::memcpy(&trail, &read[508], 4);
      fsinfo_trusted_ = lead == 0x41615252 && mid == 0x61417272 && trail == 0xAA550000;
      s = std::move(read);
    }
    if (fsinfo_trusted_) {
      uint32_t free_count = fat.free_clusters(), hint = fat.next_free_hint();
      uint32_t old_free, old_hint;
      std::memcpy(&old_free, &s[488], 4);
      std::memcpy(&old_hint, &s[492], 4);
      if (old_free != free_count || old_hint != hint) {
        std::memcpy(&s[488], &free_count, 4);
        std::memcpy(&s[492], &hint, 4);
        if (!device->write_at(at, s.data(), s.size())) {
          s.clear();  // the device may hold either version: read it again next time
          return device_error(ERROR_WRITE_FAULT);
        }
      }
    }
  }
  return ERROR_SUCCESS;
}

DWORD FatFs::flush_all() {
  if (DWORD e = write_back_all()) return e;
  if (!device->flush()) return device_error(ERROR_WRITE_FAULT);
  return ERROR_SUCCESS;
}

bool FatFs::claim_chain(uint32_t first) {
  ClusterOwners& owners = fat.owners();
  bool head_fresh = true;
  bool sharing = false;
  uint32_t c = first;
  // Each hop either claims a new cluster or marks one shared, so the walk ends
  // within twice the cluster count even on a chain that loops.
  for (uint64_t hops = 0; hops <= 2 * uint64_t(g.cluster_count) && g.is_data_cluster(c); ++hops) {
    if (sharing) {
      // Past the first cluster another chain claimed, the rest of this chain
      // is that chain's rest too: shared up to where it was marked before.
      if (owners.shared(c)) break;
      owners.mark_shared(c);
    } else if (!owners.claim(c)) {
      if (c == first) head_fresh = false;
      sharing = true;
    }
    uint32_t next = fat.get(c);
    // A damaged chain ends at an entry marked free or bad. The cluster holding
    // that entry is named by the link before it and was claimed above, so the
    // allocator will not hand it to another file.
    if (fat.is_end(next) || next == FatTable::kFree || next == FatTable::kBadCluster) break;
    c = next;
  }
  return head_fresh;
}

DWORD FatFs::ensure_owners() {
  ClusterOwners& owners = fat.owners();
  if (owners.built()) return ERROR_SUCCESS;
  try {
    owners.start(g.max_cluster());
    // Folders still to read, by first cluster (0: the fixed root). A folder is
    // queued only when its first cluster was new, so each is read once and a
    // folder that contains itself is not read again.
    std::vector<uint32_t> pending;
    if (g.kind == FatKind::Fat32) claim_chain(g.root_cluster);
    pending.push_back(root_id());
    Directory scratch;
    while (!pending.empty()) {
      uint32_t id = pending.back();
      pending.pop_back();
      const Directory* dir = nullptr;
      if (auto it = dirs_.find(id); it != dirs_.end() && !it->second->stale && !it->second->bytes.empty()) {
        dir = it->second.get();
      } else if (load_directory(id, &scratch) == ERROR_SUCCESS) {
        dir = &scratch;
      } else {
        continue;  // unreadable: its entries cannot be reached to change either
      }
      for (const DirectoryEntry& e : dir->parsed.entries) {
        if (e.is_dot() || e.is_label()) continue;
        uint32_t c = e.first_cluster();
        if (g.is_data_cluster(c) && claim_chain(c) && e.is_directory()) pending.push_back(c);
      }
    }
  } catch (const std::bad_alloc&) {
    owners.clear();
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  owners.finish();
  return ERROR_SUCCESS;
}

DWORD FatFs::check_unshared(const ClusterChain& chain, size_t first, size_t last) const {
  const ClusterOwners& owners = fat.owners();
  if (!owners.any_shared()) [[likely]]
    return ERROR_SUCCESS;
  for (size_t i = first; i < last && i < chain.size(); ++i)
    if (owners.shared(chain[i])) return ERROR_DISK_CORRUPT;
  return ERROR_SUCCESS;
}

DWORD FatFs::check_unshared_at(uint64_t volume_offset) const {
  if (!fat.owners().any_shared() || volume_offset < g.data_offset()) return ERROR_SUCCESS;
  uint64_t index = (volume_offset - g.data_offset()) / g.bytes_per_cluster;
  if (index >= g.cluster_count) return ERROR_SUCCESS;
  return fat.owners().shared(uint32_t(index + 2)) ? ERROR_DISK_CORRUPT : ERROR_SUCCESS;
}

}  // namespace platform::fs::fat
