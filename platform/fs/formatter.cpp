#include "platform/fs/formatter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/host_temp_file.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"
#include "platform/fs/boot/volume_boot_code.h"
#include "platform/fs/path_name.h"
#include "platform/machine/machine.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/device.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"

namespace platform::fs {

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr uint64_t kFat12Limit = 16ull << 20;  // the platform picks FAT12 below this size
// The sizes the platform's formatter accepts for each FAT kind.
constexpr uint64_t kFatMax = 4ull << 30;
constexpr uint64_t kFat32Min = 32ull << 20;
constexpr uint64_t kFat32Max = 32ull << 30;

std::function<bool(const std::u16string&)>& lock_query() {
  static auto* q = new std::function<bool(const std::u16string&)>;
  return *q;
}

struct Job {
  PFMIFSCALLBACK callback = nullptr;
  DWORD last_percent = 101;
  bool cancelled = false;

  void progress(DWORD percent) {
    if (!callback || percent == last_percent) return;
    last_percent = percent;
    DWORD value = percent;
    if (!callback(FMIFS_PROGRESS, 0, &value)) cancelled = true;
  }
  void done(bool ok) {
    if (!callback) return;
    BOOLEAN value = ok ? 1 : 0;
    callback(FMIFS_DONE, 0, &value);
  }
};

std::string quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

bool run(const std::string& command) {
  std::string full = command + " >/dev/null 2>&1";
  return std::system(full.c_str()) == 0;
}

// A scratch file that goes with the object (and with the process, however
// it ends: see host_temp_file.h).
struct Scratch {
  std::string path;
  int fd = -1;
  ~Scratch() {
    if (fd >= 0) ReleaseHostTempFile(path, fd);
  }
};

bool make_scratch(uint64_t size, Scratch* s) {
  s->fd = CreateHostTempFile("drum-format", &s->path);
  if (s->fd < 0) return false;
  return ftruncate(s->fd, static_cast<off_t>(size)) == 0;
}

bool is_power_of_two(uint64_t v) { return v && !(v & (v - 1)); }

// The command line that formats the scratch file; empty when the request cannot be met.
std::string format_command(const std::string& kind, const std::string& file, uint64_t size, uint32_t sector,
                           uint64_t hidden, DWORD cluster, const std::string& label, std::string* detected) {
  if (cluster && (!is_power_of_two(cluster) || cluster < sector)) return {};
  if (kind == "NTFS") {
    if (cluster > 2u * 1024 * 1024) return {};
    *detected = "NTFS";
    std::string cmd = "mkntfs -F -Q -q -s " + std::to_string(sector) + " -p " + std::to_string(hidden) +
                      " -H 255 -S 63";
    if (cluster) cmd += " -c " + std::to_string(cluster);
    if (!label.empty()) cmd += " -L " + quote(label);
    return cmd + " " + quote(file);
  }
  std::string fat_bits;
  if (kind == "FAT32") {
    if (size < kFat32Min || size > kFat32Max) return {};
    fat_bits = "32";
  } else if (kind == "FAT") {
    if (size > kFatMax) return {};
    fat_bits = size < kFat12Limit ? "12" : "16";
  } else {
    return {};
  }
  if (cluster && cluster / sector > 128) return {};
  *detected = "FAT" + fat_bits;
  std::string cmd = "mkfs.fat -F " + fat_bits + " -S " + std::to_string(sector) + " -h " + std::to_string(hidden) +
                    " -M 0xF8";
  if (cluster) cmd += " -s " + std::to_string(cluster / sector);
  if (!label.empty()) cmd += " -n " + quote(label);
  return cmd + " " + quote(file);
}

// The FAT kind the platform would see in a boot sector: decided by the
// cluster count alone. Empty when the fields make no sense.
std::string fat_kind_of(const uint8_t* b) {
  uint32_t bps = ReadLe16(b + 0x0B), spc = b[0x0D], reserved = ReadLe16(b + 0x0E), fats = b[0x10];
  uint32_t root_entries = ReadLe16(b + 0x11), total = ReadLe16(b + 0x13), fat_size = ReadLe16(b + 0x16);
  if (!total) total = ReadLe32(b + 0x20);
  if (!fat_size) fat_size = ReadLe32(b + 0x24);
  if (!bps || !spc) return {};
  uint64_t root_sectors = (uint64_t{root_entries} * 32 + bps - 1) / bps;
  uint64_t meta = reserved + uint64_t{fats} * fat_size + root_sectors;
  if (meta >= total) return {};
  uint64_t clusters = (total - meta) / spc;
  return clusters < 4085 ? "FAT12" : clusters < 65525 ? "FAT16" : "FAT32";
}

bool read_scratch(int fd, uint64_t offset, uint8_t* data, size_t n) {
  return pread(fd, data, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}
bool write_scratch(int fd, uint64_t offset, const uint8_t* data, size_t n) {
  return pwrite(fd, data, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

// Since Windows Vista the system's format gives NTFS, FAT32 and FAT16 volumes
// boot code that starts the boot manager (BOOTMGR); the Debian tools write a stub
// that only says the volume does not boot. The code reads 512-byte sectors,
// so volumes of larger sectors, and those formatted on older systems (whose
// code started another loader), keep the tool's stub. False only when the
// scratch file cannot be read or written.
bool write_boot_code(int fd, const std::string& detected, uint32_t sector, uint64_t length) {
  auto machine = platform::machine::CurrentIfOpen();
  if (sector != 512 || (machine && machine->os().major < 6)) return true;
  uint8_t boot[512];
  if (!read_scratch(fd, 0, boot, sizeof boot)) return false;
  if (detected == "NTFS") {
    // Bytes 80-4,607 of the first nine sectors; the backup boot sector (after
    // the last counted sector) gets the first sector's share, so both agree.
    constexpr size_t kEnd = kNtfsBootCodeOffset + sizeof NtfsBootCodeTemplate;
    std::vector<uint8_t> area(kEnd);
    if (!read_scratch(fd, 0, area.data(), area.size())) return false;
    std::copy(NtfsBootCodeTemplate, NtfsBootCodeTemplate + sizeof NtfsBootCodeTemplate,
              area.begin() + kNtfsBootCodeOffset);
    if (!write_scratch(fd, 0, area.data(), area.size())) return false;
    const uint64_t backup = ReadLe64(boot + 0x28) * sector;
    if (backup + sector > length || !read_scratch(fd, backup, boot, sizeof boot)) return true;
    if (std::memcmp(boot + 3, "NTFS    ", 8) != 0) return true;
    std::copy(area.begin() + kNtfsBootCodeOffset, area.begin() + sector, boot + kNtfsBootCodeOffset);
    return write_scratch(fd, backup, boot, sizeof boot);
  }
  if (detected == "FAT16") {
    // The boot sector's jump, name and code around the tool's parameter block.
    std::copy(Fat16BootmgrTemplate, Fat16BootmgrTemplate + 11, boot);
    std::copy(Fat16BootmgrTemplate + kFat16ParameterBlockEnd, Fat16BootmgrTemplate + 512,
              boot + kFat16ParameterBlockEnd);
    return write_scratch(fd, 0, boot, sizeof boot);
  }
  if (detected == "FAT32") {
    // The boot sector's jump, name and code around the tool's parameter
    // block; the continuation in reserved sector 12 when that sector is free
    // (neither the information sector nor the backup boot sectors).
    const uint32_t reserved = ReadLe16(boot + 0x0E), info = ReadLe16(boot + 0x30), backup = ReadLe16(boot + 0x32);
    const uint32_t at = kFat32ContinuationSector;
    if (reserved <= at || info == at || (backup != 0 && backup <= at && at <= backup + 2)) return true;
    std::copy(Fat32BootTemplate, Fat32BootTemplate + 11, boot);
    std::copy(Fat32BootTemplate + kFat32ParameterBlockEnd, Fat32BootTemplate + 512, boot + kFat32ParameterBlockEnd);
    uint8_t continuation[512] = {};
    std::copy(Fat32BootContinuation, Fat32BootContinuation + sizeof Fat32BootContinuation, continuation);
    continuation[510] = 0x55;
    continuation[511] = 0xAA;
    if (!write_scratch(fd, 0, boot, sizeof boot) || !write_scratch(fd, uint64_t{at} * sector, continuation, 512))
      return false;
    if (backup != 0 && backup < reserved) return write_scratch(fd, uint64_t{backup} * sector, boot, sizeof boot);
  }
  return true;
}

bool find_volume(WCHAR letter, storage::MountedVolume* out) {
  for (auto& v : storage::MountedVolumes()) {
    if (v.letter && FoldCase(v.letter) == FoldCase(letter)) {
      *out = v;
      return true;
    }
  }
  return false;
}

// Clears every non-zero run of the volume (reading first keeps sparse images sparse).
bool clear_volume(BlockDevice& device, uint64_t length, Job& job, DWORD from, DWORD to) {
  std::vector<uint8_t> buf(kChunk), zero(kChunk, 0);
  for (uint64_t off = 0; off < length && !job.cancelled; off += kChunk) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, length - off));
    if (!device.read_at(off, buf.data(), n)) return false;
    bool clean = true;
    for (size_t i = 0; i < n && clean; ++i) clean = buf[i] == 0;
    if (!clean && !device.write_at(off, zero.data(), n)) return false;
    job.progress(from + static_cast<DWORD>((to - from) * (off + n) / length));
  }
  return !job.cancelled;
}

// Copies the written ranges of the scratch file onto the volume.
bool copy_written(int fd, uint64_t length, BlockDevice& device, Job& job, DWORD from, DWORD to) {
  std::vector<uint8_t> buf(kChunk);
  off_t pos = 0;
  while (static_cast<uint64_t>(pos) < length && !job.cancelled) {
    off_t data = lseek(fd, pos, SEEK_DATA);
    if (data < 0) break;  // no more data
    off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0) hole = static_cast<off_t>(length);
    for (off_t off = data; off < hole;) {
      size_t n = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(kChunk), hole - off));
      ssize_t got = pread(fd, buf.data(), n, off);
      if (got != static_cast<ssize_t>(n)) return false;
      if (!device.write_at(static_cast<uint64_t>(off), buf.data(), n)) return false;
      off += static_cast<off_t>(n);
      job.progress(from + static_cast<DWORD>((to - from) * static_cast<uint64_t>(off) / length));
    }
    pos = hole;
  }
  return !job.cancelled && device.flush();
}

bool format_volume(const std::u16string& root, const std::string& kind, const std::string& label, bool quick,
                   DWORD cluster, Job& job) {
  ParsedName name;
  if (ParseName(root, u"", &name) || name.kind != NameKind::File || name.root != RootKind::DriveLetter ||
      !name.components.empty())
    return false;
  storage::MountedVolume v;
  if (!find_volume(name.letter, &v) || !v.device || !v.length) return false;
  {
    auto& q = lock_query();
    if (q && q(v.guid_path)) return false;  // someone holds the volume locked
    if (v.disk_number >= 0 && storage::IsVolumeLocked(v.disk_number, v.offset)) return false;
  }
  uint32_t sector = v.device->sector_size();
  std::string detected;
  Scratch scratch;
  if (!make_scratch(v.length, &scratch)) return false;
  std::string command = format_command(kind, scratch.path, v.length, sector, v.offset / sector, cluster, label,
                                       &detected);
  if (command.empty()) return false;
  job.progress(0);
  if (!run(command)) return false;  // a size or cluster size the file system cannot take
  if (detected != "NTFS") {
    // The tool may build a layout the platform reads as another FAT kind
    // (too few clusters for FAT32); such a volume would not mount.
    uint8_t boot[512];
    if (pread(scratch.fd, boot, sizeof boot, 0) != static_cast<ssize_t>(sizeof boot) || fat_kind_of(boot) != detected)
      return false;
  }
  if (!write_boot_code(scratch.fd, detected, sector, v.length)) return false;
  job.progress(quick ? 10 : 5);
  // From here on the volume's bytes change: every file-system view of it lets go first.
  if (v.disk_number >= 0) storage::NotifyRawAccess(v.disk_number, v.offset, v.length, storage::RawAccess::Write);
  ReleaseDriver(to_utf8(v.guid_path));
  const bool written = (quick || clear_volume(*v.device, v.length, job, 5, 60)) &&
                       copy_written(scratch.fd, v.length, *v.device, job, quick ? 10 : 60, 100);
  // Whatever landed, the machine's other processes must read the volume afresh.
  if (v.disk_number >= 0) storage::NotifyRawAccess(v.disk_number, v.offset, v.length, storage::RawAccess::Written);
  if (!written) return false;
  // The volume now holds the new file system; publish that as a rescan would.
  auto table = storage::MountedVolumes();
  for (auto& entry : table) {
    if (entry.guid_path == v.guid_path) {
      entry.file_system = detected;
      entry.generation++;
    }
  }
  storage::SetMountedVolumes(std::move(table));
  // The mount manager keeps its own record of each volume and rebuilds the
  // table from it: it takes the new file system too, or its next rebuild
  // brings back the old one.
  storage::NoteFileSystem(v.guid_path, detected);
  job.progress(100);
  return true;
}

}  // namespace

void SetVolumeLockQuery(std::function<bool(const std::u16string& guid_path)> query) {
  std::lock_guard g(FsLock());
  lock_query() = std::move(query);
}

}  // namespace platform::fs

void FormatEx(WCHAR* drive_root, DWORD, WCHAR* file_system, WCHAR* label, BOOL quick, DWORD cluster_size,
              PFMIFSCALLBACK callback) {
  using namespace platform::fs;
  std::lock_guard g(FsLock());
  Job job;
  job.callback = callback;
  bool ok = drive_root && file_system &&
            format_volume(drive_root, platform::to_utf8(file_system), label ? platform::to_utf8(label) : "",
                          quick != FALSE, cluster_size, job);
  job.done(ok);
}

DWORD SHFormatDrive(HWND, UINT drive, UINT, UINT options) {
  using namespace platform::fs;
  if (drive > 25) return SHFMT_ERROR;
  std::u16string root = std::u16string(1, static_cast<char16_t>(u'A' + drive)) + u":\\";
  std::lock_guard g(FsLock());
  Job job;
  bool ok = format_volume(root, "NTFS", "", !(options & SHFMT_OPT_FULL), 0, job);
  return ok ? SHFMT_ID_DEFAULT : SHFMT_ERROR;
}
