#include "platform/fs/fat/fat_volume.h"

#include <algorithm>
#include <cstring>

#include "platform/core/error.h"
#include "platform/fs/fat/fat_file.h"
#include "platform/fs/fat/fat_fs.h"
#include "platform/fs/fat/fat_time.h"

namespace platform::fs::fat {

namespace {

constexpr uint8_t kSettableAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;

// Volume labels: up to 11 characters of the short-name set plus blanks, stored upper case.
bool make_label(const std::u16string& text, std::array<uint8_t, 11>* raw) {
  if (text.size() > 11) return false;
  raw->fill(' ');
  static constexpr std::u16string_view kAllowed = u" !#$%&'()-@^_`{}~";
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = UpcaseChar(text[i]);
    bool ok = (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || kAllowed.find(c) != std::u16string_view::npos;
    if (!ok) return false;
    (*raw)[i] = uint8_t(c);
  }
  return text.empty() || text[0] != u' ';
}

class FatVolume : public VolumeDriver {
 public:
  explicit FatVolume(std::shared_ptr<FatFs> fs) : fs_(std::move(fs)) {}
  ~FatVolume() override {
    std::lock_guard lock(fs_->mutex);
    fs_->flush_all();
  }

  DWORD volume_info(VolumeInfo* info) override {
    std::lock_guard lock(fs_->mutex);
    const FatGeometry& g = fs_->g;
    info->file_system = g.kind == FatKind::Fat32 ? u"FAT32" : u"FAT";
    info->label.clear();
    fs_->begin_operation();
    Directory* root;
    if (DWORD e = fs_->directory(fs_->root_id(), &root)) return e;
    bool found = false;
    for (const DirectoryEntry& e : root->parsed.entries) {
      if (!e.is_label()) continue;
      info->label = OemText(e.short_name.data(), e.short_name.size());
      found = true;
      break;
    }
    if (!found) {
      info->label = OemText(reinterpret_cast<const uint8_t*>(g.label.data()), g.label.size());
    }
    info->serial_number = g.serial;
    info->max_component_length = 255;
    info->flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    info->bytes_per_sector = g.bytes_per_sector;
    info->bytes_per_cluster = g.bytes_per_cluster;
    info->total_clusters = g.cluster_count;
    info->free_clusters = fs_->fat.free_clusters();
    return ERROR_SUCCESS;
  }

  DWORD set_label(const std::u16string& label) override {
    std::lock_guard lock(fs_->mutex);
    std::array<uint8_t, 11> raw;
    if (!make_label(label, &raw)) return ERROR_INVALID_NAME;
    fs_->begin_operation();
    if (DWORD e = fs_->ensure_owners()) return e;
    Directory* root_dir;
    if (DWORD e = fs_->directory(fs_->root_id(), &root_dir)) return e;
    Directory& root = *root_dir;
    // The root's label entry first: replaced, added or removed.
    const DirectoryEntry* existing = nullptr;
    for (const DirectoryEntry& e : root.parsed.entries)
      if (e.is_label()) existing = &e;
    if (label.empty()) {
      if (existing) {
        DirectoryEntry copy = *existing;
        if (DWORD e = fs_->remove_entry(root, copy)) return e;
      }
    } else if (existing) {
      size_t slot = existing->short_slot;
      std::memcpy(&root.bytes[slot * kEntrySize], raw.data(), 11);
      DirEntryDisk d;
      std::memcpy(&d, &root.bytes[slot * kEntrySize], sizeof d);
      fs_->stamp_times(&d, false, true);
      std::memcpy(&root.bytes[slot * kEntrySize], &d, sizeof d);
      if (DWORD e = fs_->write_slots(root, slot, 1)) return e;
      fs_->reparse(root);
    } else {
      DirEntryDisk d{};
      std::memcpy(d.name, raw.data(), 11);
      d.attributes = kAttrVolumeLabel;
      fs_->stamp_times(&d, false, true);
      d.access_date = 0;
      std::vector<uint8_t> slot_bytes(kEntrySize);
      std::memcpy(slot_bytes.data(), &d, sizeof d);
      size_t slot = root.slot_count();
      for (size_t i = 0; i < root.slot_count(); ++i)
        if (root.parsed.free_slots[i]) {
          slot = i;
          break;
        }
      if (slot == root.slot_count()) {
        if (DWORD e = fs_->grow_directory(root)) return e;
      }
      std::memcpy(&root.bytes[slot * kEntrySize], &d, sizeof d);
      size_t count = 1;
      if (slot >= root.parsed.end_slot && slot + 1 < root.slot_count() && root.bytes[(slot + 1) * kEntrySize] != 0) {
        std::memset(&root.bytes[(slot + 1) * kEntrySize], 0, kEntrySize);
        count = 2;
      }
      if (DWORD e = fs_->write_slots(root, slot, count)) return e;
      fs_->reparse(root);
    }
    // Then the boot sector's copy (and the FAT32 backup boot sector).
    std::array<uint8_t, 11> boot_raw = raw;
    if (label.empty()) std::memcpy(boot_raw.data(), "NO NAME    ", 11);
    const FatGeometry& g = fs_->g;
    std::vector<uint64_t> sectors{0};
    if (g.backup_boot_sector) sectors.push_back(g.backup_boot_sector);
    for (uint64_t s : sectors) {
      uint64_t at = s * g.bytes_per_sector;
      uint8_t signature = 0;
      size_t sig_at = g.label_field_offset() - 5;  // the extended boot signature precedes serial and label
      if (!fs_->device->read_at(at + sig_at, &signature, 1)) return device_error(ERROR_READ_FAULT);
      if (signature != kExtendedBootSignature) continue;
      if (!fs_->device->write_at(at + g.label_field_offset(), boot_raw.data(), 11))
        return device_error(ERROR_WRITE_FAULT);
    }
    fs_->g.label.clear();
    for (char16_t c : label) fs_->g.label += char(UpcaseChar(c));
    return ERROR_SUCCESS;
  }

  // The folder holding `path` and the entry's index in it; ERROR_FILE_NOT_FOUND
  // when the folder has no such entry. Call with the volume locked.
  DWORD locate(const VolumePath& path, Directory** parent, std::vector<uint32_t>* ancestry, int* at) {
    if (DWORD e = fs_->walk_to_parent(path, parent, ancestry)) return e;
    *at = fs_->find(**parent, path.back());
    return *at < 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }

  DWORD stat(const VolumePath& path, FileInfo* info) override {
    std::lock_guard lock(fs_->mutex);
    if (path.empty()) {
      *info = FileInfo{};
      info->attributes = FILE_ATTRIBUTE_DIRECTORY;
      info->file_id = uint64_t(fs_->root_id()) << 32;
      return ERROR_SUCCESS;
    }
    fs_->begin_operation();
    Directory* parent;
    std::vector<uint32_t> ancestry;
    int at = -1;
    if (DWORD e = locate(path, &parent, &ancestry, &at)) return e;
    if (DWORD e = fs_->check_entry(parent->parsed.entries[size_t(at)])) return e;
    *info = fs_->info_of(*parent, parent->parsed.entries[size_t(at)]);
    if (auto node = fs_->find_node(parent->id, parent->parsed.entries[size_t(at)].short_slot)) {
      info->size = node->size;
      uint64_t cb = fs_->g.bytes_per_cluster;
      info->allocation_size = (node->size + cb - 1) / cb * cb;
    }
    return ERROR_SUCCESS;
  }

  DWORD list(const VolumePath& folder, std::vector<FileInfo>* entries) override {
    std::lock_guard lock(fs_->mutex);
    entries->clear();
    fs_->begin_operation();
    Directory* dir;
    std::vector<uint32_t> ancestry;
    if (DWORD e = fs_->open_directory(folder, &dir, &ancestry)) return e;
    if (DWORD e = fs_->check_directory(*dir)) return e;
    for (const DirectoryEntry& e : dir->parsed.entries) {
      if (e.is_dot() || e.is_label()) continue;
      entries->push_back(fs_->info_of(*dir, e));
    }
    return ERROR_SUCCESS;
  }

  DWORD open(const VolumePath& path, bool writable, std::unique_ptr<OpenFile>* file) override {
    std::lock_guard lock(fs_->mutex);
    if (path.empty()) {
      if (writable) return ERROR_ACCESS_DENIED;
      *file = std::make_unique<FatOpenFile>(fs_, nullptr, false);
      return ERROR_SUCCESS;
    }
    fs_->begin_operation();
    Directory* parent;
    std::vector<uint32_t> ancestry;
    int at = -1;
    if (DWORD e = locate(path, &parent, &ancestry, &at)) return e;
    const DirectoryEntry& entry = parent->parsed.entries[size_t(at)];
    if (DWORD e = fs_->check_entry(entry)) return e;
    if (entry.is_directory()) {
      if (writable) return ERROR_ACCESS_DENIED;
      *file = std::make_unique<FatOpenFile>(fs_, nullptr, false);
      return ERROR_SUCCESS;
    }
    if (writable && (entry.disk.attributes & kAttrReadOnly)) return ERROR_ACCESS_DENIED;
    DWORD error;
    auto node = fs_->node_for(*parent, entry, &error);
    if (!node) return error;
    *file = std::make_unique<FatOpenFile>(fs_, std::move(node), writable);
    return ERROR_SUCCESS;
  }

  DWORD create_file(const VolumePath& path, DWORD attributes) override {
    std::lock_guard lock(fs_->mutex);
    return create(path, uint8_t(attributes & kSettableAttributes) | kAttrArchive, false);
  }

  DWORD create_folder(const VolumePath& path) override {
    std::lock_guard lock(fs_->mutex);
    return create(path, kAttrDirectory, true);
  }

  DWORD remove(const VolumePath& path) override {
    std::lock_guard lock(fs_->mutex);
    if (path.empty()) return ERROR_ACCESS_DENIED;
    fs_->begin_operation();
    if (DWORD e = fs_->ensure_owners()) return e;
    Directory* parent;
    std::vector<uint32_t> ancestry;
    int at = -1;
    if (DWORD e = locate(path, &parent, &ancestry, &at)) return e;
    DirectoryEntry entry = parent->parsed.entries[size_t(at)];
    if (DWORD e = fs_->check_entry(entry)) return e;
    if (entry.disk.attributes & kAttrReadOnly) return ERROR_ACCESS_DENIED;
    if (fs_->find_node(parent->id, entry.short_slot)) return ERROR_SHARING_VIOLATION;
    ClusterChain clusters;
    Directory* removed_folder = nullptr;
    if (entry.is_directory()) {
      if (DWORD e = fs_->child_directory(entry, &ancestry, &removed_folder)) return e;
      for (const DirectoryEntry& e : removed_folder->parsed.entries)
        if (!e.is_dot()) return ERROR_DIR_NOT_EMPTY;
      clusters = removed_folder->chain;
    } else {
      if (DWORD e = fs_->fat.chain(entry.first_cluster(), &clusters)) return e;
      uint64_t cb = fs_->g.bytes_per_cluster;
      if (clusters.size() != (uint64_t(entry.disk.size) + cb - 1) / cb) return ERROR_FILE_CORRUPT;
    }
    // Clusters another chain shares stay where they are, with the entry that names them.
    if (DWORD e = fs_->check_unshared(clusters)) return e;
    if (DWORD e = fs_->remove_entry(*parent, entry)) return e;
    fs_->fat.release(clusters);
    // Its clusters may come back as another folder's; never trust the old copy.
    if (removed_folder) removed_folder->stale = true;
    return ERROR_SUCCESS;
  }

  DWORD rename(const VolumePath& from, const VolumePath& to) override {
    std::lock_guard lock(fs_->mutex);
    if (from.empty() || to.empty()) return ERROR_ACCESS_DENIED;
    if (!IsValidLongName(to.back())) return ERROR_INVALID_NAME;
    fs_->begin_operation();
    if (DWORD e = fs_->ensure_owners()) return e;
    Directory* source;
    std::vector<uint32_t> source_ancestry;
    if (DWORD e = fs_->walk_to_parent(from, &source, &source_ancestry)) return e;
    int at = fs_->find(*source, from.back());
    if (at < 0) return ERROR_FILE_NOT_FOUND;
    DirectoryEntry entry = source->parsed.entries[size_t(at)];
    if (DWORD e = fs_->check_entry(entry)) return e;

    Directory* target;
    std::vector<uint32_t> target_ancestry;
    if (DWORD e = fs_->walk_to_parent(to, &target, &target_ancestry)) return e;
    bool same_folder = target == source;
    int clash = fs_->find(*target, to.back());
    if (clash >= 0 && !(same_folder && target->parsed.entries[size_t(clash)].short_slot == entry.short_slot))
      return ERROR_ALREADY_EXISTS;
    if (entry.is_directory() && !same_folder) {
      // A folder cannot move below itself.
      if (std::find(target_ancestry.begin(), target_ancestry.end(), entry.first_cluster()) != target_ancestry.end())
        return ERROR_INVALID_PARAMETER;
    }
    // Every folder this move writes must be writable before the first write,
    // so that a refusal never leaves the entry in both folders or in neither.
    if (DWORD e = fs_->check_unshared(source->chain)) return e;
    if (DWORD e = fs_->check_unshared(target->chain)) return e;
    if (entry.is_directory() && !same_folder) {
      ClusterChain moved_chain;
      if (DWORD e = fs_->fat.chain(entry.first_cluster(), &moved_chain)) return e;
      if (DWORD e = fs_->check_unshared(moved_chain)) return e;
    }

    size_t new_slot = 0;
    if (DWORD e = fs_->add_entry(*target, to.back(), entry.disk, &new_slot,
                                 same_folder ? long(entry.short_slot) : -1))
      return e;
    uint64_t new_offset = fs_->slot_offset(*target, new_slot);
    // add_entry re-parsed the folder; the old entry keeps its slots.
    if (DWORD e = fs_->remove_entry(*source, entry)) return e;
    fs_->rekey_node(source->id, entry.short_slot, target->id, new_slot, new_offset);

    if (entry.is_directory() && !same_folder) {
      // The moved folder's ".." names its new parent (0 for the root).
      Directory* moved_dir;
      if (DWORD e = fs_->directory(entry.first_cluster(), &moved_dir)) return e;
      Directory& moved = *moved_dir;
      for (const DirectoryEntry& e : moved.parsed.entries) {
        if (e.is_dot() && e.disk.name[1] == '.') {
          uint32_t parent_cluster = target->id == fs_->root_id() ? 0 : target->id;
          DirEntryDisk d = e.disk;
          d.cluster_low = uint16_t(parent_cluster);
          d.cluster_high = fs_->g.kind == FatKind::Fat32 ? uint16_t(parent_cluster >> 16) : 0;
          std::memcpy(&moved.bytes[e.short_slot * kEntrySize], &d, sizeof d);
          if (DWORD err = fs_->write_slots(moved, e.short_slot, 1)) return err;
          fs_->reparse(moved);
          break;
        }
      }
    }
    return ERROR_SUCCESS;
  }

  DWORD set_attributes(const VolumePath& path, DWORD attributes) override {
    std::lock_guard lock(fs_->mutex);
    return edit_entry(path, [&](DirEntryDisk* d) {
      d->attributes = uint8_t((d->attributes & ~kSettableAttributes) | (attributes & kSettableAttributes));
    });
  }

  DWORD set_times(const VolumePath& path, const uint64_t* creation, const uint64_t* last_access,
                  const uint64_t* last_write) override {
    std::lock_guard lock(fs_->mutex);
    int32_t bias = fs_->local_offset();
    return edit_entry(path, [&](DirEntryDisk* d) {
      if (creation) {
        DosTime t = ToDosTime(*creation, bias);
        d->create_date = t.date;
        d->create_time = t.time;
        d->create_hundredths = t.hundredths;
      }
      if (last_access) d->access_date = ToDosTime(*last_access, bias).date;
      if (last_write) {
        DosTime t = ToDosTime(*last_write, bias);
        d->write_date = t.date;
        d->write_time = t.time;
      }
    });
  }

  DWORD flush() override {
    std::lock_guard lock(fs_->mutex);
    return fs_->flush_all();
  }
  DWORD write_back() override {
    std::lock_guard lock(fs_->mutex);
    return fs_->write_back_all();
  }

 private:
  template <typename Edit>
  DWORD edit_entry(const VolumePath& path, Edit edit) {
    if (path.empty()) return ERROR_ACCESS_DENIED;  // the root has no entry to hold it
    fs_->begin_operation();
    if (DWORD e = fs_->ensure_owners()) return e;
    Directory* parent;
    std::vector<uint32_t> ancestry;
    int at = -1;
    if (DWORD e = locate(path, &parent, &ancestry, &at)) return e;
    if (DWORD e = fs_->check_entry(parent->parsed.entries[size_t(at)])) return e;
    size_t slot = parent->parsed.entries[size_t(at)].short_slot;
    DirEntryDisk d;
    std::memcpy(&d, &parent->bytes[slot * kEntrySize], sizeof d);
    edit(&d);
    std::memcpy(&parent->bytes[slot * kEntrySize], &d, sizeof d);
    // The parsed copy carries the fields too.
    parent->parsed.entries[size_t(at)].disk = d;
    return fs_->write_slots(*parent, slot, 1);
  }

  DWORD create(const VolumePath& path, uint8_t attributes, bool folder) {
    if (path.empty()) return ERROR_ACCESS_DENIED;
    if (!IsValidLongName(path.back())) return ERROR_INVALID_NAME;
    fs_->begin_operation();
    if (DWORD e = fs_->ensure_owners()) return e;
    Directory* parent;
    std::vector<uint32_t> ancestry;
    if (DWORD e = fs_->walk_to_parent(path, &parent, &ancestry)) return e;
    if (fs_->find(*parent, path.back()) >= 0) return folder ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
    if (DWORD e = fs_->check_unshared(parent->chain)) return e;
    DirEntryDisk d{};
    d.attributes = attributes;
    fs_->stamp_times(&d, true, true);
    ClusterChain cluster;
    if (folder) {
      // A new folder gets one zeroed cluster holding "." and "..".
      if (DWORD e = fs_->fat.allocate(1, 0, &cluster)) return e;
      std::vector<uint8_t> bytes(fs_->g.bytes_per_cluster, 0);
      DirEntryDisk dot = d;
      std::memset(dot.name, ' ', 11);
      dot.name[0] = '.';
      dot.cluster_low = uint16_t(cluster.front());
      dot.cluster_high = fs_->g.kind == FatKind::Fat32 ? uint16_t(cluster.front() >> 16) : 0;
      DirEntryDisk dotdot = d;
      std::memset(dotdot.name, ' ', 11);
      dotdot.name[0] = dotdot.name[1] = '.';
      uint32_t parent_cluster = parent->id == fs_->root_id() ? 0 : parent->id;
      dotdot.cluster_low = uint16_t(parent_cluster);
      dotdot.cluster_high = fs_->g.kind == FatKind::Fat32 ? uint16_t(parent_cluster >> 16) : 0;
      std::memcpy(&bytes[0], &dot, sizeof dot);
      std::memcpy(&bytes[kEntrySize], &dotdot, sizeof dotdot);
      if (DWORD e = fs_->chain_io(cluster, 0, bytes.data(), bytes.size(), true)) {
        fs_->fat.release(cluster);
        return e;
      }
      d.cluster_low = dot.cluster_low;
      d.cluster_high = dot.cluster_high;
    }
    size_t slot;
    if (DWORD e = fs_->add_entry(*parent, path.back(), d, &slot)) {
      fs_->fat.release(cluster);
      return e;
    }
    return ERROR_SUCCESS;
  }

  std::shared_ptr<FatFs> fs_;
};

DWORD read_boot(BlockDevice& device, FatGeometry* g) {
  if (device.size() < 512) return ERROR_UNRECOGNIZED_VOLUME;
  uint8_t sector[512];
  if (!device.read_at(0, sector, sizeof sector)) return device_error(ERROR_READ_FAULT);
  return ParseBootSector(sector, sizeof sector, device.size(), g);
}

}  // namespace

DWORD Probe(BlockDevice& device, FatKind* kind) {
  FatGeometry g;
  DWORD e = read_boot(device, &g);
  if (e == ERROR_SUCCESS) *kind = g.kind;
  return e;
}

std::unique_ptr<VolumeDriver> Mount(std::shared_ptr<BlockDevice> device, DWORD* error) {
  return Mount(std::move(device), MountOptions{}, error);
}

std::unique_ptr<VolumeDriver> Mount(std::shared_ptr<BlockDevice> device, const MountOptions& options,
                                    DWORD* error) {
  *error = ERROR_SUCCESS;
  if (!device) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  FatGeometry g;
  if ((*error = read_boot(*device, &g))) return nullptr;
  auto fs = std::make_shared<FatFs>(device, g, options);
  if ((*error = fs->fat.load(*device, g))) return nullptr;
  // The root folder must be readable for the volume to be of any use.
  Directory* root;
  if ((*error = fs->directory(fs->root_id(), &root))) return nullptr;
  return std::make_unique<FatVolume>(std::move(fs));
}

}  // namespace platform::fs::fat
