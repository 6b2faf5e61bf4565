// DeviceIoControl answers for disk and volume handles (S.M.A.R.T. is in smart.cpp).
//
// Buffer rules, as the platform has them: an output buffer too small for the
// fixed record fails with ERROR_INSUFFICIENT_BUFFER and returns nothing; a
// variable-length answer that only partly fits (volume extents, media serial)
// fails with ERROR_MORE_DATA after filling the part that fits; the device
// descriptor is cut to the caller's buffer (its Size field tells the whole).
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <algorithm>
#include <cstring>

#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/device_handle.h"
#include "platform/storage/drive_layout.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/partition_table.h"

namespace platform::storage {
namespace {

template <class T>
BOOL Answer(const T& record, void* out, DWORD out_size, DWORD* returned) {
  if (out_size < sizeof(T)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(out, &record, sizeof(T));
  *returned = sizeof(T);
  return TRUE;
}

template <class T>
bool ReadInput(const void* in, DWORD in_size, T* record) {
  if (in_size < sizeof(T)) return false;
  std::memcpy(record, in, sizeof(T));
  return true;
}

// Geometry as the disk reports it; real block devices ask the kernel.
DISK_GEOMETRY Geometry(const machine::Disk& disk) {
  machine::DiskGeometry g = disk.geometry();
  if (disk.is_real_device()) {
    int fd = ::open(disk.config().device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      hd_geometry kernel{};
      if (ioctl(fd, HDIO_GETGEO, &kernel) == 0 && kernel.heads && kernel.sectors) {
        g.tracks_per_cylinder = kernel.heads;
        g.sectors_per_track = kernel.sectors;
        g.cylinders = disk.size() / (uint64_t{kernel.heads} * kernel.sectors * disk.sector_size());
      }
      ::close(fd);
    }
  }
  DISK_GEOMETRY out{};
  out.Cylinders.QuadPart = static_cast<LONGLONG>(g.cylinders);
  out.MediaType = disk.is_removable() ? RemovableMedia : FixedMedia;
  out.TracksPerCylinder = g.tracks_per_cylinder;
  out.SectorsPerTrack = g.sectors_per_track;
  out.BytesPerSector = disk.sector_size();
  return out;
}

// After a layout write on a real block device the kernel re-reads the table.
void RereadKernelTable(const machine::Disk& disk) {
  if (!disk.is_real_device()) return;
  int fd = ::open(disk.config().device.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  (void)ioctl(fd, BLKRRPART);  // EBUSY while the host has partitions mounted; the simulated PC does not depend on it
  ::close(fd);
}

DWORD ErrorOf(const TableResult& r) {
  switch (r.status) {
    case TableStatus::Ok: return 0;
    case TableStatus::ReadFailed:
    case TableStatus::WriteFailed: return r.os_error ? r.os_error : ERROR_IO_DEVICE;
    case TableStatus::InvalidLayout:
    case TableStatus::UnalignedLayout:
    case TableStatus::DiskTooSmall:
    case TableStatus::AbsurdEntryCount: return ERROR_INVALID_PARAMETER;
    case TableStatus::BadGptHeader:
    case TableStatus::BadGptEntries: return ERROR_DISK_CORRUPT;
  }
  return ERROR_GEN_FAILURE;
}

// The disk's layout; a table the codec cannot use reads as RAW, as an
// unpartitioned disk does. False only when the disk cannot be read.
bool CurrentLayout(machine::Disk& disk, DiskLayout* layout) {
  TableResult r = ReadDiskLayout(*disk.device(), layout);
  if (r.status == TableStatus::ReadFailed) {
    SetLastError(r.os_error ? r.os_error : ERROR_IO_DEVICE);
    return false;
  }
  if (!r.ok()) *layout = DiskLayout{};
  return true;
}

BOOL WriteLayout(DeviceHandle& h, const DiskLayout& layout) {
  machine::Disk& disk = *h.target().disk;
  NotifyRawAccess(h.target().disk_number, 0, disk.size(), RawAccess::LayoutChange);
  TableResult r = WriteDiskLayout(*disk.device(), layout);
  if (!r.ok()) return fail(ErrorOf(r));
  RereadKernelTable(disk);
  RequestRescan(h.target().disk_number);
  return TRUE;
}

const LayoutEntry* FindEntryAt(const DiskLayout& layout, uint64_t start) {
  for (const auto& e : layout.entries)
    if (!e.is_empty() && !e.is_extended() && e.start == start) return &e;
  return nullptr;
}

BOOL GrowPartition(DeviceHandle& h, const void* in, DWORD in_size) {
  DISK_GROW_PARTITION request;
  if (!ReadInput(in, in_size, &request)) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (request.BytesToGrow.QuadPart < 0) return fail(ERROR_INVALID_PARAMETER);
  machine::Disk& disk = *h.target().disk;
  DiskLayout layout;
  if (!CurrentLayout(disk, &layout)) return FALSE;
  if (layout.style == PartitionStyle::Raw) return fail(ERROR_INVALID_PARAMETER);
  auto it = std::find_if(layout.entries.begin(), layout.entries.end(), [&](const LayoutEntry& e) {
    return e.number == request.PartitionNumber && !e.is_empty() && !e.is_extended();
  });
  if (request.PartitionNumber == 0 || it == layout.entries.end()) return fail(ERROR_INVALID_PARAMETER);
  const uint64_t grow = static_cast<uint64_t>(request.BytesToGrow.QuadPart);
  if (grow == 0) return TRUE;
  if (grow % disk.sector_size()) return fail(ERROR_INVALID_PARAMETER);
  if (it->length > UINT64_MAX - grow || it->start > UINT64_MAX - it->length - grow) return fail(ERROR_INVALID_PARAMETER);
  const uint64_t new_end = it->start + it->length + grow;
  // The partition may only grow into free space: up to the next partition of
  // its own table (for a logical drive, the next EBR, which its link names),
  // and not out of the disk, the GPT's usable area or the extended container.
  const size_t index = static_cast<size_t>(it - layout.entries.begin());
  const bool logical = layout.style == PartitionStyle::Mbr && index >= 4;
  uint64_t limit = disk.size();
  if (layout.style == PartitionStyle::Gpt) limit = layout.first_usable + layout.usable_length;
  for (size_t i = 0; i < layout.entries.size(); ++i) {
    const LayoutEntry& other = layout.entries[i];
    if (i == index || other.is_empty()) continue;
    const bool same_table = layout.style == PartitionStyle::Gpt || (logical == (i >= 4));
    if (logical && i < 4 && other.is_extended()) limit = std::min(limit, other.start + other.length);
    if (same_table && other.start >= it->start + it->length) limit = std::min(limit, other.start);
  }
  if (new_end > limit) return fail(ERROR_INVALID_PARAMETER);
  it->length += grow;
  return WriteLayout(h, layout);
}

BOOL PartitionInfo(DeviceHandle& h, bool extended, void* out, DWORD out_size, DWORD* returned) {
  const DeviceTarget& t = h.target();
  if (!t.disk) return fail(ERROR_INVALID_FUNCTION);
  DiskLayout layout;
  if (!CurrentLayout(*t.disk, &layout)) return FALSE;
  LayoutEntry entry;
  if (t.is_volume) {
    if (const LayoutEntry* found = FindEntryAt(layout, t.base)) entry = *found;
    entry.start = t.base;
    entry.length = t.length;
    entry.number = t.partition_number;
    if (layout.style == PartitionStyle::Gpt) entry.style = PartitionStyle::Gpt;
  } else {
    // The whole disk answers as partition 0.
    entry.style = layout.style == PartitionStyle::Gpt ? PartitionStyle::Gpt : PartitionStyle::Mbr;
    entry.length = t.disk->size();
  }
  if (extended) {
    PARTITION_INFORMATION_EX p = EncodePartitionEx(entry);
    if (layout.style == PartitionStyle::Raw && !t.is_volume) p.PartitionStyle = PARTITION_STYLE_RAW;
    return Answer(p, out, out_size, returned);
  }
  // The old record has no room for GPT fields: GPT partitions do not answer it.
  if (layout.style == PartitionStyle::Gpt) return fail(ERROR_INVALID_FUNCTION);
  PARTITION_INFORMATION p{};
  p.StartingOffset.QuadPart = static_cast<LONGLONG>(entry.start);
  p.PartitionLength.QuadPart = static_cast<LONGLONG>(entry.length);
  p.HiddenSectors = entry.hidden_sectors;
  p.PartitionNumber = entry.number;
  p.PartitionType = entry.mbr_type;
  p.BootIndicator = entry.boot;
  p.RecognizedPartition = entry.recognized;
  return Answer(p, out, out_size, returned);
}

// One identity text of a real block device from sysfs ("" when absent), with
// blanks trimmed: /sys/class/block/<name>/device/<field>.
std::string SysfsText(const std::string& device_path, const char* field) {
  char resolved[PATH_MAX];
  if (!realpath(device_path.c_str(), resolved)) return "";
  std::string name = resolved;
  name = name.substr(name.rfind('/') + 1);
  std::string path = "/sys/class/block/" + name + "/device/" + field;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[256];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return "";
  std::string text(buffer, static_cast<size_t>(n));
  // SCSI page 0x80 carries a 4-byte header before the serial number.
  if (std::string(field) == "vpd_pg80") text = text.size() > 4 ? text.substr(4) : "";
  std::string clean;
  for (char ch : text)
    if (ch >= 0x20 && ch < 0x7F) clean += ch;
  size_t first = clean.find_first_not_of(' '), last = clean.find_last_not_of(' ');
  return first == std::string::npos ? "" : clean.substr(first, last - first + 1);
}

// The device descriptor followed by its NUL-terminated texts. Real block
// devices fill texts that machine.ini leaves empty from sysfs.
std::vector<uint8_t> DeviceDescriptor(const machine::Disk& disk) {
  machine::DiskConfig c = disk.config();
  if (disk.is_real_device()) {
    if (c.vendor.empty()) c.vendor = SysfsText(c.device, "vendor");
    if (c.product.empty()) c.product = SysfsText(c.device, "model");
    if (c.revision.empty()) c.revision = SysfsText(c.device, "rev");
    if (c.serial.empty()) c.serial = SysfsText(c.device, "serial");
    if (c.serial.empty()) c.serial = SysfsText(c.device, "vpd_pg80");
  }
  std::vector<uint8_t> bytes(sizeof(STORAGE_DEVICE_DESCRIPTOR), 0);
  STORAGE_DEVICE_DESCRIPTOR d{};
  auto append = [&](const std::string& text) -> DWORD {
    if (text.empty()) return 0;
    DWORD at = static_cast<DWORD>(bytes.size());
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
    return at;
  };
  d.Version = sizeof(STORAGE_DEVICE_DESCRIPTOR);
  d.DeviceType = 0;  // direct-access block device
  d.RemovableMedia = disk.is_removable();
  d.VendorIdOffset = append(c.vendor);
  d.ProductIdOffset = append(c.product);
  d.ProductRevisionOffset = append(c.revision);
  d.SerialNumberOffset = append(c.serial);
  d.BusType = static_cast<DWORD>(disk.bus());
  d.Size = static_cast<DWORD>(bytes.size());
  std::memcpy(bytes.data(), &d, sizeof d);
  return bytes;
}

BOOL QueryProperty(DeviceHandle& h, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  STORAGE_PROPERTY_QUERY query;
  if (in_size < offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters)) return fail(ERROR_INVALID_PARAMETER);
  std::memcpy(&query, in, offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters));
  if (query.PropertyId != StorageDeviceProperty) return fail(ERROR_NOT_SUPPORTED);
  if (query.QueryType == PropertyExistsQuery) return TRUE;
  if (query.QueryType != PropertyStandardQuery) return fail(ERROR_INVALID_PARAMETER);
  if (!h.target().disk) return fail(ERROR_INVALID_FUNCTION);
  if (out_size < sizeof(STORAGE_DESCRIPTOR_HEADER)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> bytes = DeviceDescriptor(*h.target().disk);
  DWORD n = std::min<DWORD>(out_size, static_cast<DWORD>(bytes.size()));
  std::memcpy(out, bytes.data(), n);
  *returned = n;
  return TRUE;
}

BOOL MediaSerial(DeviceHandle& h, void* out, DWORD out_size, DWORD* returned) {
  const auto& disk = h.target().disk;
  // Only removable media carry a media serial number.
  if (!disk || !disk->is_removable() || disk->config().serial.empty()) return fail(ERROR_INVALID_FUNCTION);
  const std::string& serial = disk->config().serial;
  const DWORD header = offsetof(MEDIA_SERIAL_NUMBER_DATA, SerialNumberData);
  if (out_size < sizeof(MEDIA_SERIAL_NUMBER_DATA)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> bytes(header + serial.size() + 1, 0);
  DWORD length = static_cast<DWORD>(serial.size());
  std::memcpy(bytes.data(), &length, 4);
  std::memcpy(bytes.data() + header, serial.data(), serial.size());
  DWORD n = std::min<DWORD>(out_size, static_cast<DWORD>(bytes.size()));
  std::memcpy(out, bytes.data(), n);
  *returned = n;
  if (n < bytes.size()) return fail(ERROR_MORE_DATA);
  return TRUE;
}

BOOL VolumeControl(DeviceHandle& h, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  const DeviceTarget& t = h.target();
  switch (code) {
    case FSCTL_LOCK_VOLUME: {
      if (t.disk && !t.disk->try_lock()) return fail(ERROR_ACCESS_DENIED);
      if (DWORD error = LockVolumeKey(t.share_key, &h)) return fail(error);
      // Held against the machine's other processes too.
      if (DWORD error = h.lock_claim()) {
        UnlockVolumeKey(t.share_key, &h);
        return fail(error);
      }
      if (t.disk_number >= 0) NotifyRawAccess(t.disk_number, t.base, t.length, RawAccess::Lock);
      return TRUE;
    }
    case FSCTL_UNLOCK_VOLUME:
      if (DWORD error = UnlockVolumeKey(t.share_key, &h)) return fail(error);
      h.unlock_claim();
      return TRUE;
    case FSCTL_DISMOUNT_VOLUME:
      if (t.disk_number >= 0) NotifyRawAccess(t.disk_number, t.base, t.length, RawAccess::Dismount);
      return TRUE;
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
      if (!t.disk) return fail(ERROR_INVALID_FUNCTION);
      VOLUME_DISK_EXTENTS extents{};
      extents.NumberOfDiskExtents = 1;
      extents.Extents[0].DiskNumber = static_cast<DWORD>(t.disk_number);
      extents.Extents[0].StartingOffset.QuadPart = static_cast<LONGLONG>(t.base);
      extents.Extents[0].ExtentLength.QuadPart = static_cast<LONGLONG>(t.length);
      return Answer(extents, out, out_size, returned);
    }
    default: {
      if (std::optional<BOOL> answer = CallVolumeControlHandler(t.volume, code, in, in_size, out, out_size, returned))
        return *answer;
      return fail(ERROR_INVALID_FUNCTION);
    }
  }
}

}  // namespace

BOOL DiskControl(DeviceHandle& h, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  const DeviceTarget& t = h.target();
  const bool is_volume = t.is_volume;
  switch (code) {
    // Answered by disks and by volumes (for the disk they lie on).
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
      if (!t.disk) return fail(ERROR_INVALID_FUNCTION);
      return Answer(Geometry(*t.disk), out, out_size, returned);
    case IOCTL_DISK_GET_LENGTH_INFO: {
      GET_LENGTH_INFORMATION length{};
      length.Length.QuadPart = static_cast<LONGLONG>(t.length);
      return Answer(length, out, out_size, returned);
    }
    case IOCTL_DISK_GET_PARTITION_INFO:
      if (out_size < sizeof(PARTITION_INFORMATION)) return fail(ERROR_INSUFFICIENT_BUFFER);
      return PartitionInfo(h, false, out, out_size, returned);
    case IOCTL_DISK_GET_PARTITION_INFO_EX:
      if (out_size < sizeof(PARTITION_INFORMATION_EX)) return fail(ERROR_INSUFFICIENT_BUFFER);
      return PartitionInfo(h, true, out, out_size, returned);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
      if (!t.disk) return fail(ERROR_INVALID_FUNCTION);
      STORAGE_DEVICE_NUMBER number{};
      number.DeviceType = FILE_DEVICE_DISK;
      number.DeviceNumber = static_cast<DWORD>(t.disk_number);
      number.PartitionNumber = is_volume ? t.partition_number : 0;
      return Answer(number, out, out_size, returned);
    }
    case IOCTL_STORAGE_QUERY_PROPERTY:
      return QueryProperty(h, in, in_size, out, out_size, returned);
    case IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER:
      return MediaSerial(h, out, out_size, returned);
    case IOCTL_DISK_UPDATE_PROPERTIES:
      if (!t.disk) return fail(ERROR_INVALID_FUNCTION);
      RequestRescan(t.disk_number);
      return TRUE;
    case IOCTL_DISK_GROW_PARTITION:
      if (!t.disk) return fail(ERROR_INVALID_FUNCTION);
      return GrowPartition(h, in, in_size);
    default:
      break;
  }
  if (is_volume) return VolumeControl(h, code, in, in_size, out, out_size, returned);

  // Whole-disk codes.
  machine::Disk& disk = *t.disk;
  switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
      if (out_size < offsetof(DISK_GEOMETRY_EX, Data)) return fail(ERROR_INSUFFICIENT_BUFFER);
      DiskLayout layout;
      if (!CurrentLayout(disk, &layout)) return FALSE;
      uint8_t record[offsetof(DISK_GEOMETRY_EX, Data) + sizeof(DISK_PARTITION_INFO) + 8] = {};
      DISK_GEOMETRY geometry = Geometry(disk);
      LARGE_INTEGER size;
      size.QuadPart = static_cast<LONGLONG>(disk.size());
      std::memcpy(record, &geometry, sizeof geometry);
      std::memcpy(record + offsetof(DISK_GEOMETRY_EX, DiskSize), &size, sizeof size);
      DISK_PARTITION_INFO info{};
      info.SizeOfPartitionInfo = sizeof info;
      info.PartitionStyle = layout.style == PartitionStyle::Mbr   ? PARTITION_STYLE_MBR
                            : layout.style == PartitionStyle::Gpt ? PARTITION_STYLE_GPT
                                                                  : PARTITION_STYLE_RAW;
      if (layout.style == PartitionStyle::Mbr) info.Mbr.Signature = layout.mbr_signature;
      if (layout.style == PartitionStyle::Gpt) info.Gpt.DiskId = layout.disk_guid;
      std::memcpy(record + offsetof(DISK_GEOMETRY_EX, Data), &info, sizeof info);
      // Detection information: its size and "none".
      DWORD detection[2] = {8, 0};
      std::memcpy(record + offsetof(DISK_GEOMETRY_EX, Data) + sizeof info, detection, sizeof detection);
      DWORD n = std::min<DWORD>(out_size, sizeof record);
      std::memcpy(out, record, n);
      *returned = n;
      return TRUE;
    }
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
      DiskLayout layout;
      if (!CurrentLayout(disk, &layout)) return FALSE;
      std::vector<uint8_t> record = EncodeDriveLayout(layout);
      if (out_size < record.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(out, record.data(), record.size());
      *returned = static_cast<DWORD>(record.size());
      return TRUE;
    }
    case IOCTL_DISK_SET_DRIVE_LAYOUT_EX: {
      DiskLayout layout;
      if (DWORD error = DecodeDriveLayout(in, in_size, &layout)) return fail(error);
      if (layout.style == PartitionStyle::Raw) return fail(ERROR_INVALID_PARAMETER);
      return WriteLayout(h, layout);
    }
    case IOCTL_DISK_CREATE_DISK: {
      CREATE_DISK request;
      if (!ReadInput(in, in_size, &request)) {
        // An MBR request may stop after its signature.
        if (in_size < 8) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(&request, 0, sizeof request);
        std::memcpy(&request, in, in_size);
        if (request.PartitionStyle != PARTITION_STYLE_MBR) return fail(ERROR_INSUFFICIENT_BUFFER);
      }
      if (request.PartitionStyle != PARTITION_STYLE_MBR && request.PartitionStyle != PARTITION_STYLE_GPT)
        return fail(ERROR_INVALID_PARAMETER);
      NotifyRawAccess(t.disk_number, 0, disk.size(), RawAccess::LayoutChange);
      TableResult r = request.PartitionStyle == PARTITION_STYLE_MBR
                          ? CreateEmptyTable(*disk.device(), PartitionStyle::Mbr, request.Mbr.Signature, GUID{}, 0)
                          : CreateEmptyTable(*disk.device(), PartitionStyle::Gpt, 0, request.Gpt.DiskId,
                                             request.Gpt.MaxPartitionCount);
      if (!r.ok()) return fail(ErrorOf(r));
      RereadKernelTable(disk);
      RequestRescan(t.disk_number);
      return TRUE;
    }
    default:
      // Volume controls, the SCSI miniport (an adapter's interface, not a disk's) and anything unknown.
      return fail(ERROR_INVALID_FUNCTION);
  }
}

}  // namespace platform::storage
