#include "restore/restore_engine.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/core/kobject.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"

namespace restore {

namespace {

constexpr int kWriteAttempts = 5;
constexpr size_t kMbrTable = 446;
constexpr size_t kRunBytes = 2u << 20;

std::string narrow(std::u16string_view s) { return platform::to_utf8(s); }

std::string format(const char* fmt, auto... args) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, fmt, args...);
  return buffer;
}

bool fail_item(RestoreReport& report, std::string message) {
  report.errors.push_back(std::move(message));
  ++report.items_failed;
  return false;
}

bool seek(HANDLE h, int64_t byte) {
  LARGE_INTEGER to{};
  to.QuadPart = byte;
  return SetFilePointerEx(h, to, nullptr, FILE_BEGIN) != FALSE;
}

// Sector numbers are 64-bit here: extents above 1 TiB do not wrap.
bool read_sectors(HANDLE h, void* buffer, int64_t sector, int32_t count) {
  DWORD got = 0;
  return seek(h, sector * 512) && ReadFile(h, buffer, static_cast<DWORD>(count) * 512, &got, nullptr) &&
         got == static_cast<DWORD>(count) * 512;
}

// Up to five attempts while nothing is written; true only when every byte is.
bool write_sectors(HANDLE h, const void* buffer, int64_t sector, size_t bytes) {
  for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
    DWORD done = 0;
    if (!seek(h, sector * 512)) continue;
    const BOOL ok = WriteFile(h, buffer, static_cast<DWORD>(bytes), &done, nullptr);
    if (done > 0) return ok && done == bytes;
  }
  return false;
}

// The 1-based MBR slot whose entry starts at `start` (512-byte units; the
// table counts native sectors of `per_sector` units each), -1 when none.
int32_t primary_slot(const uint8_t* mbr, int64_t start, int64_t per_sector) {
  for (int32_t i = 0; i < 4; ++i) {
    const uint8_t* e = mbr + kMbrTable + 16 * i;
    if (e[4] != 0 && int64_t{platform::ReadLe32(e + 8)} * per_sector == start) return i + 1;
  }
  return -1;
}

struct Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE && h != nullptr) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
};

HANDLE open_disk(int32_t disk) {
  std::u16string path = u"\\\\.\\PhysicalDrive0";
  path.back() = static_cast<char16_t>(u'0' + disk);
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// 512-byte units per native sector of an open disk.
int64_t units_per_sector(HANDLE disk) {
  DISK_GEOMETRY geometry{};
  DWORD returned = 0;
  if (DeviceIoControl(disk, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &returned,
                      nullptr) &&
      geometry.BytesPerSector >= 512)
    return geometry.BytesPerSector / 512;
  return 1;
}

ActivateResult activate(HANDLE disk, int64_t per_sector, int64_t start, const std::function<bool()>& confirm,
                        int32_t& slot) {
  slot = -1;
  uint8_t mbr[512];
  if (!read_sectors(disk, mbr, 0, 1)) return ActivateResult::Failed;
  if (mbr[510] != 0x55 || mbr[511] != 0xAA) return ActivateResult::NoTable;
  slot = primary_slot(mbr, start, per_sector);
  if (slot < 0) return ActivateResult::NotPrimary;
  bool other_active = false;
  for (int i = 0; i < 4; ++i)
    if (i != slot - 1 && mbr[kMbrTable + 16 * i] == 0x80) other_active = true;
  if (other_active && confirm && !confirm()) return ActivateResult::Declined;
  for (int i = 0; i < 4; ++i) mbr[kMbrTable + 16 * i] = 0;
  mbr[kMbrTable + 16 * (slot - 1)] = 0x80;
  if (!write_sectors(disk, mbr, 0, 512) || !FlushFileBuffers(disk)) return ActivateResult::Failed;
  return ActivateResult::Activated;
}

}  // namespace

ActivateResult MakePartitionActive(int32_t disk, int64_t start, const std::function<bool()>& confirm,
                                   int32_t& slot) {
  slot = -1;
  if (disk < 0 || disk > 9) return ActivateResult::Failed;
  Handle h;
  h.h = open_disk(disk);
  if (!h.ok()) return ActivateResult::Failed;
  const ActivateResult result = activate(h.h, units_per_sector(h.h), start, confirm, slot);
  DWORD returned = 0;
  if (result == ActivateResult::Activated)
    DeviceIoControl(h.h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  return result;
}

bool RestoreDiskItem(ArchiveSession& session, int item, const DiskTarget& target, const RestoreHooks& hooks,
                     RestoreReport& report) {
  const DiskItemRecord& rec = session.disk_records().at(item);
  if (rec.kind < 0) return true;
  if (target.disk < 0 || target.disk > 9) return fail_item(report, format("disk %d cannot be opened", target.disk));
  if (session.header().type == 0 && session.header().no_unit_lookup)
    return fail_item(report, format("disk item %d: the archive marks its units as not stored (header +55); nothing "
                                    "was written",
                                    item));
  Handle disk;
  // Written in runs of up to 2 MiB and flushed once at the end of the item,
  // rather than block by block through to the disk: the item is durable
  // before it is counted as restored.
  disk.h = open_disk(target.disk);
  if (!disk.ok()) return fail_item(report, format("disk %d cannot be opened", target.disk));
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (!DeviceIoControl(disk.h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
    return fail_item(report, format("disk %d does not report its size", target.disk));
  const int64_t disk_sectors = length.Length.QuadPart / 512;
  // Partition tables count native sectors; the archive counts 512-byte ones.
  const int64_t per_sector = units_per_sector(disk.h);
  const int64_t room = target.size_sectors > 0 ? std::min(target.size_sectors, disk_sectors - target.start_sector)
                                               : disk_sectors - target.start_sector;
  const int64_t extent = rec.extent_sectors();
  if (target.start_sector < 0 || extent > room)
    return fail_item(report, format("disk item %d needs %" PRId64 " sectors; the destination on disk %d holds %" PRId64
                                    "; nothing was written",
                                    item, extent, target.disk, std::max<int64_t>(room, 0)));

  uint8_t saved_boot[512] = {};
  const bool have_boot = read_sectors(disk.h, saved_boot, target.start_sector, 1);
  Handle volume;
  if (target.volume_letter) {
    std::u16string path = u"\\\\.\\X:";
    path[4] = target.volume_letter;
    volume.h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (!volume.ok())
      return fail_item(report, format("the partition %c: cannot be opened", static_cast<char>(target.volume_letter)));
    // The volume that is locked must be the one written: a letter that now
    // names a partition elsewhere stops the item before anything is written.
    STORAGE_DEVICE_NUMBER number{};
    PARTITION_INFORMATION_EX where{};
    if (!DeviceIoControl(volume.h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned,
                         nullptr) ||
        !DeviceIoControl(volume.h, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &where, sizeof where, &returned,
                         nullptr) ||
        static_cast<int32_t>(number.DeviceNumber) != target.disk ||
        where.StartingOffset.QuadPart / 512 != target.start_sector)
      return fail_item(report, format("the partition %c: is not the partition at sector %" PRId64
                                      " of disk %d; nothing was written",
                                      static_cast<char>(target.volume_letter), target.start_sector, target.disk));
    if (!DeviceIoControl(volume.h, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr))
      return fail_item(report, format("the partition %c: is in use and cannot be locked",
                                      static_cast<char>(target.volume_letter)));
  }

  std::vector<uint8_t> block, run;
  int64_t run_sector = 0;
  run.reserve(kRunBytes);
  auto flush_run = [&]() {
    if (run.empty()) return true;
    const bool written = write_sectors(disk.h, run.data(), run_sector, run.size());
    if (!written)
      fail_item(report, format("disk %d: writing %zu sectors at sector %" PRId64 " failed", target.disk,
                               run.size() / 512, run_sector));
    run.clear();
    return written;
  };
  bool ok = true;
  for (int64_t unit = 1; ok && unit <= rec.unit_count(); ++unit) {
    const int64_t sectors = rec.unit_sectors(unit);
    bool found = false;
    ArchiveResult r = session.LocateUnit(item, unit, found);
    if (r != ArchiveResult::Ok) {
      ok = fail_item(report, session.error_detail());
      break;
    }
    if (!found) {
      // A unit that no member holds stays as it is on the disk.
      report.done_sectors += sectors;
      continue;
    }
    const int64_t first = target.start_sector + (unit - 1) * int64_t{rec.sectors_per_unit};
    for (int64_t at = 0; at < sectors; at += kBlockSectors) {
      if (hooks.progress && hooks.progress(report.done_sectors)) {
        report.cancelled = true;
        ok = false;
        break;
      }
      const int64_t n = std::min<int64_t>(kBlockSectors, sectors - at);
      r = session.ReadUnitBlock(static_cast<size_t>(n * 512), block);
      if (r != ArchiveResult::Ok) {
        ok = fail_item(report, session.error_detail());
        break;
      }
      if (!run.empty() && (run_sector + static_cast<int64_t>(run.size() / 512) != first + at ||
                           run.size() + block.size() > kRunBytes)) {
        if (!(ok = flush_run())) break;
      }
      if (run.empty()) run_sector = first + at;
      run.insert(run.end(), block.begin(), block.end());
      report.done_sectors += n;
    }
  }
  if (ok) ok = flush_run();
  if (ok && !FlushFileBuffers(disk.h)) ok = fail_item(report, format("disk %d: flushing failed", target.disk));

  if (ok) {
    uint8_t sector[512];
    // The partition entry of a restored partition takes the original size and type.
    if ((rec.kind == 5 || rec.kind == 6) && target.slot >= 0 && target.slot < 4 &&
        read_sectors(disk.h, sector, target.table_sector, 1)) {
      uint8_t* e = sector + kMbrTable + 16 * target.slot;
      platform::WriteLe32(e + 12, static_cast<uint32_t>(extent / per_sector));
      e[4] = static_cast<uint8_t>(rec.partition_type & 0xFF);
      if (!write_sectors(disk.h, sector, target.table_sector, 512))
        ok = fail_item(report, format("disk %d: the partition entry cannot be written", target.disk));
    }
    // A system partition becomes the only active one.
    if (ok && rec.kind == 6) {
      const ActivateResult made =
          activate(disk.h, per_sector, target.start_sector, hooks.confirm_active_change, report.boot_slot);
      report.made_active = made == ActivateResult::Activated;
      if (made == ActivateResult::Failed)
        ok = fail_item(report, format("disk %d: the active flag cannot be written", target.disk));
    }
    // The boot sector's geometry fields as the destination had them.
    if (ok && rec.kind >= 5 && have_boot && saved_boot[24] != 0 &&
        read_sectors(disk.h, sector, target.start_sector, 1)) {
      std::memcpy(sector + 24, saved_boot + 24, 8);
      if (!write_sectors(disk.h, sector, target.start_sector, 512))
        ok = fail_item(report, format("disk %d: the boot sector cannot be written", target.disk));
    }
  }
  if (volume.ok()) {
    DeviceIoControl(volume.h, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
    DeviceIoControl(volume.h, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  }
  DeviceIoControl(disk.h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  if (!ok) return false;
  // Only a primary slot can be named in boot.ini; a logical target registers nothing.
  if (rec.kind == 6 && hooks.register_boot_fix) {
    if (report.boot_slot > 0) hooks.register_boot_fix(target.disk, report.boot_slot);
    else report.errors.push_back("the restored system partition is not a primary partition; boot.ini was left alone");
  }
  ++report.items_restored;
  return true;
}

bool IsSafeRelativePath(std::u16string_view path) {
  if (path.empty() || path.front() == u'\\' || path.back() == u'\\') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view part = path.substr(start, end - start);
    if (part.empty() || part == u"." || part == u"..") return false;
    for (char16_t c : part)
      if (c < 0x20 || c == u':' || c == u'/' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
          c == u'|')
        return false;
    start = end + 1;
  }
  return true;
}

namespace {

// "X:\" + a safe relative rest: a stored absolute path that stays on its drive.
bool is_safe_absolute(std::u16string_view path) {
  return path.size() > 3 && path[1] == u':' && path[2] == u'\\' &&
         ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
         IsSafeRelativePath(path.substr(3));
}

void make_parents(const std::u16string& path) {
  for (size_t i = path.find(u'\\', 3); i != std::u16string::npos; i = path.find(u'\\', i + 1))
    CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

FILETIME filetime(uint64_t v) { return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }

struct FileWork {
  std::u16string destination;
  int64_t size = 0;
  uint32_t attributes = 0;
  uint64_t creation = 0, access = 0, write = 0;
};

// Writes one item's blocks to its destination, then its times and
// attributes. False when the item failed (reported) or the run stops.
bool write_file(ArchiveSession& session, FileWork w, const char16_t* new_suffix, const RestoreHooks& hooks,
                bool overwrite_all, RestoreReport& report) {
  if (GetFileAttributesW(w.destination.c_str()) != INVALID_FILE_ATTRIBUTES && !overwrite_all) {
    const int choice = hooks.ask_overwrite ? hooks.ask_overwrite(w.destination) : 1;
    if (choice == 0) {
      report.stopped = true;
      return false;
    }
    if (choice == 2) w.destination += new_suffix;
  }
  make_parents(w.destination);
  Handle file;
  file.h = CreateFileW(w.destination.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, CREATE_ALWAYS, 0, nullptr);
  if (!file.ok()) return fail_item(report, narrow(w.destination) + ": cannot be created");
  std::vector<uint8_t> block;
  for (int64_t at = 0; at < w.size; at += kBlockBytes) {
    if (hooks.progress && hooks.progress(report.done_sectors)) {
      report.cancelled = true;
      return false;
    }
    const size_t n = static_cast<size_t>(std::min<int64_t>(kBlockBytes, w.size - at));
    if (session.ReadItemBlock(n, block) != ArchiveResult::Ok)
      return fail_item(report, narrow(w.destination) + ": " + session.error_detail());
    DWORD done = 0;
    if (!WriteFile(file.h, block.data(), static_cast<DWORD>(n), &done, nullptr) || done != n)
      return fail_item(report, narrow(w.destination) + ": writing failed (the volume may be full)");
    report.done_sectors += static_cast<int64_t>(n) / 512;
  }
  const FILETIME c = filetime(w.creation), a = filetime(w.access), m = filetime(w.write);
  SetFileTime(file.h, &c, &a, &m);
  CloseHandle(file.h);
  file.h = INVALID_HANDLE_VALUE;
  SetFileAttributesW(w.destination.c_str(), w.attributes);
  ++report.items_restored;
  return true;
}

}  // namespace

void RestoreFileItems(ArchiveSession& session, const std::u16string& folder, const RestoreHooks& hooks,
                      RestoreReport& report) {
  const auto& files = session.file_records();
  for (int k = 1; k < static_cast<int>(files.size()); ++k) {
    if (report.cancelled || report.stopped) return;
    const FileItemRecord& r = files[k];
    if (r.selection < 0) continue;
    const std::u16string stored = session.FilePath(k);
    FileWork w;
    if (!folder.empty()) {
      const std::u16string leaf = ArchivePathLeaf(stored);
      if (!IsSafeRelativePath(leaf)) {
        fail_item(report, "file item " + std::to_string(k) + ": the stored name \"" + narrow(stored) + "\" is refused");
        continue;
      }
      w.destination = folder + u"\\" + leaf;
    } else {
      if (!is_safe_absolute(stored)) {
        fail_item(report, "file item " + std::to_string(k) + ": the stored path \"" + narrow(stored) + "\" is refused");
        continue;
      }
      w.destination = stored;
    }
    if (session.BeginFileItem(k) != ArchiveResult::Ok) {
      fail_item(report, session.error_detail());
      continue;
    }
    w.size = r.size;
    w.attributes = r.attributes;
    w.creation = r.creation_time;
    w.access = r.access_time;
    w.write = r.write_time;
    if (!write_file(session, w, u".new", hooks, false, report) && (report.cancelled || report.stopped)) return;
  }
}

void RestoreFolderItems(ArchiveSession& session, const std::u16string& folder, const RestoreHooks& hooks,
                        RestoreReport& report) {
  const auto& folders = session.folder_records();
  const bool partition = folders.size() > 1 && folders[1].is_partition();
  std::u16string dest = folder;
  while (!dest.empty() && dest.back() == u'\\') dest.pop_back();
  for (int i = 1; i < static_cast<int>(folders.size()); ++i) {
    if (report.cancelled || report.stopped) return;
    const FolderItemRecord& r = folders[i];
    if (r.kind < 0 || r.is_folder_entry()) continue;
    std::u16string stored = session.FolderPath(i);
    // Below the stored root (drive, or \\server\): the part kept under the destination.
    size_t root = 3;
    if (stored.rfind(u"\\\\", 0) == 0) {
      const size_t slash = stored.find(u'\\', 2);
      root = slash == std::u16string::npos ? stored.size() : slash + 1;
    }
    const std::u16string rest = root < stored.size() ? stored.substr(root) : std::u16string();
    if (!IsSafeRelativePath(rest) || (dest.empty() && !is_safe_absolute(stored))) {
      fail_item(report, "folder item " + std::to_string(i) + ": the stored path \"" + narrow(stored) + "\" is refused");
      continue;
    }
    FileWork w;
    w.destination = dest.empty() ? stored : dest + u"\\" + rest;
    w.size = r.size;
    w.attributes = r.attributes;
    w.creation = r.creation_time;
    w.access = r.access_time;
    w.write = r.write_time;
    if (r.size < 0) {
      // A folder record of its own (not the -2 entries): the folder and its attributes.
      make_parents(w.destination);
      CreateDirectoryW(w.destination.c_str(), nullptr);
      SetFileAttributesW(w.destination.c_str(), r.attributes);
      continue;
    }
    if (session.BeginFolderItem(i) != ArchiveResult::Ok) {
      fail_item(report, session.error_detail());
      continue;
    }
    if (!write_file(session, w, u"new", hooks, partition, report) && (report.cancelled || report.stopped)) return;
  }
}

}  // namespace restore
