#include "usbwriter/usb_write.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "disk/disk_tables.h"
#include "platform/core/clock.h"
#include "platform/core/kobject.h"
#include "platform/core/process_exit.h"
#include "platform/fs/file_api.h"
#include "platform/fs/formatter.h"
#include "platform/process/system_info.h"
#include "platform/storage/ioctl.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/message_pump.h"
#include "usbwriter/boot_templates.h"
#include "usbwriter/branding/branding_record.h"
#include "usbwriter/branding_config.h"
#include "usbwriter/iso/iso_reader.h"
#include "usbwriter/usb_disk.h"
#include "usbwriter/usb_disk_table.h"

int SelectedUsbDisk = 0;
int ChosenFileSystem = -1;
CString PassKey;

namespace {

constexpr DWORD kCreateDiskSignature = 0xA4B573FF;
constexpr DWORD kLayoutSignature = 0xA50E2132;
constexpr size_t kLayoutBufferBytes = 16384;
constexpr int kLockAttempts = 22;
// The new volume normally shows within seconds; a stick that never mounts
// must not hang the page for ever.
constexpr int kLetterWaitSeconds = 60;
constexpr uint32_t kRawChunkSectors = 32;
constexpr uint32_t kBlobSectors = 128;

HANDLE LockedVolume = INVALID_HANDLE_VALUE;

void Log(UsbWriteHost* host, LPCWSTR text) {
  host->AppendLog(text);
  PumpMessages(host->PageWindow());
}

void Fail(UsbWriteHost* host, LPCWSTR key) { CountCopyError(host, key); }

bool LockVolumeWithRetry(HANDLE volume) {
  for (int attempt = 1;; ++attempt) {
    DWORD returned = 0;
    if (DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr)) return true;
    bool unlocked = DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
    Sleep(200);
    if (attempt >= kLockAttempts) {
      return MessageBoxW(nullptr, LookupString(u"IDS_LockFail"), LookupString(u"IDS_PRODNAME"),
                         MB_OKCANCEL | MB_TASKMODAL) == IDOK;
    }
    if (unlocked) return true;
  }
}

bool LockUsbVolume(WCHAR letter) {
  WCHAR path[] = u"\\\\.\\X:";
  path[4] = letter;
  LockedVolume = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
  if (LockedVolume == INVALID_HANDLE_VALUE) return false;
  return LockVolumeWithRetry(LockedVolume);
}

void ReleaseUsbVolume() {
  if (LockedVolume == INVALID_HANDLE_VALUE) return;
  DWORD returned = 0;
  DeviceIoControl(LockedVolume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  DeviceIoControl(LockedVolume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseHandle(LockedVolume);
  LockedVolume = INVALID_HANDLE_VALUE;
}

// The end of a write: everything written to the stick, through the disk or
// through its volume's files, is made durable before the page says it is
// ready; a failed flush is a failed write.
void FlushStick(int disk) {
  if (CopyErrorCount != 0 || !OpenUsbDisk(disk)) return;
  FlushUsbDisk();
  CloseUsbDisk();
}

// Tells the system to read the disk's table again (after a raw rewrite of it).
void UpdateDiskProperties(int disk) {
  if (!OpenUsbDisk(disk)) return;
  DWORD returned = 0;
  DeviceIoControl(UsbDiskHandle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseUsbDisk();
}

// The letter of the volume at `startSector` of `disk`, waiting up to a minute.
int WaitForLetter(uint64_t startSector, int disk) {
  for (int second = 0; second < kLetterWaitSeconds; ++second) {
    int letter = FindLetterForPartition(startSector, disk);
    if (letter != -1) return letter;
    Sleep(1000);
  }
  return -1;
}

bool WriteBlob() {
  std::vector<uint8_t> blob(kBiosBlobCapacity, 0);
  memcpy(blob.data(), BiosBlob, std::min<uint32_t>(BiosBlobLength, kBiosBlobCapacity));
  return WriteUsbSectors(blob.data(), kBlobSector, kBlobSectors);
}

void WriteBlobOnlyBootArea() {
  std::vector<uint8_t> loader = BuildLoaderSectors(0);
  WriteUsbSectors(loader.data(), 0, 2);
  PumpMessages(nullptr);
  WriteBlob();
}

bool IsBlobOnlyBranding() { return BrandingFlags == kFlagNeedBiosBlob; }

// The program's own NTFS boot code over bytes 80 to 4,607 of the volume at
// `start` of the current disk. The volume's backup boot sector (its last
// sector) gets the same first-sector code, so that the two copies agree.
void InstallNtfsBootCode(uint64_t start) {
  std::vector<uint8_t> sectors(9 * 512);
  if (ReadUsbSectors(sectors.data(), start, 9) != 0 || memcmp(&sectors[3], "NTFS    ", 8) != 0) return;
  memcpy(&sectors[80], NtfsBootCodeTemplate, sizeof(NtfsBootCodeTemplate));
  if (!WriteUsbSectors(sectors.data(), start, 9)) return;
  uint64_t total = 0;
  for (int i = 0; i < 8; ++i) total |= static_cast<uint64_t>(sectors[0x28 + i]) << (8 * i);
  std::vector<uint8_t> backup(512);
  if (ReadUsbSectors(backup.data(), start + total, 1) != 0 || memcmp(&backup[3], "NTFS    ", 8) != 0) return;
  memcpy(&backup[80], &sectors[80], 512 - 80);
  WriteUsbSectors(backup.data(), start + total, 1);
}

}  // namespace

bool IsWindowsBootImage() { return IsoImageInfo.bootmgr || IsoImageInfo.cdboot; }

bool IsRawImage() {
  return IsoImageInfo.mediaType == kMediaNoEmulation && IsoImageInfo.elTorito && !IsWindowsBootImage();
}

bool PlanStickLayout(uint64_t diskSectors, StickLayout* layout) {
  const IsoImageInfoRecord& info = IsoImageInfo;
  uint64_t bootBytes = WriteBootLoader ? info.bootImageBytes : 0;
  layout->startBytes = (bootBytes + kBootAreaReserve) / kLayoutAlignment * kLayoutAlignment;
  uint64_t end = diskSectors * 512;
  layout->fat16Limit = diskSectors;
  layout->type = static_cast<uint8_t>(ChosenFileSystem == kFileSystemNtfs ? kFileSystemNtfs : kFileSystemFat32);
  if (info.elTorito && !IsWindowsBootImage()) {
    layout->type = kFileSystemFat16;
    if (diskSectors > kFat16StickLimit) {
      end = kFat16StickLimit * 512;
      layout->fat16Limit = kFat16StickLimit;
    }
  }
  // A stick too small for the boot area, the reserve and a volume.
  if (end <= layout->startBytes + kBootAreaReserve + 2 * kLayoutAlignment) return false;
  layout->lengthBytes = end - layout->startBytes - kBootAreaReserve;
  return true;
}

uint64_t StickSectorsNeeded() {
  StickLayout layout;
  uint64_t bootBytes = WriteBootLoader ? IsoImageInfo.bootImageBytes : 0;
  uint64_t start = (bootBytes + kBootAreaReserve) / kLayoutAlignment * kLayoutAlignment;
  // The volume's reserved sectors, its FATs and a cluster's slack per 64 sectors of files.
  return start / 512 + kBootAreaReserve / 512 + kFat32ReservedSectors + VolumeSectorCount +
         VolumeSectorCount / 64;
}

bool StickCanHold(int disk, uint64_t diskSectors) {
  StickLayout layout;
  if (diskSectors < StickSectorsNeeded() || !PlanStickLayout(diskSectors, &layout)) return false;
  // A hybrid image is written sector by sector, an NTFS volume by the
  // system's format: no formatter of ours lays anything out.
  if (IsRawImage() || layout.type == kFileSystemNtfs) return true;
  // The formatters work within the disk's geometry (whole cylinders).
  uint64_t geometrySectors = GetUsbDiskSectorCount(disk);
  if (geometrySectors == 0) geometrySectors = diskSectors;
  const uint64_t start = layout.startBytes / 512;
  FatLayout fat;
  if (layout.type == kFileSystemFat16) {
    // The FAT16 formatter moves the partition one sector on.
    return start + 1 < geometrySectors &&
           ComputeFat16Layout(std::min(layout.fat16Limit, geometrySectors - start - 1), &fat);
  }
  UsbGeometry geometry{geometrySectors, 1, 1};
  return start < geometrySectors &&
         ComputeFat32Layout(std::min(layout.lengthBytes / 512, geometrySectors - start), geometry, &fat);
}

bool CreateStickLayout(int disk, const StickLayout& layout) {
  if (!OpenUsbDisk(disk)) return false;
  DWORD returned = 0;
  CREATE_DISK create{};
  create.PartitionStyle = PARTITION_STYLE_MBR;
  create.Mbr.Signature = kCreateDiskSignature;
  DeviceIoControl(UsbDiskHandle, IOCTL_DISK_CREATE_DISK, &create, sizeof create, nullptr, 0, &returned, nullptr);
  DeviceIoControl(UsbDiskHandle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  std::vector<uint8_t> buffer(kLayoutBufferBytes, 0);
  auto* table = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
  table->PartitionStyle = PARTITION_STYLE_MBR;
  table->PartitionCount = 4;
  table->Mbr.Signature = kLayoutSignature;
  PARTITION_INFORMATION_EX& entry = table->PartitionEntry[0];
  entry.PartitionStyle = PARTITION_STYLE_MBR;
  entry.StartingOffset.QuadPart = static_cast<LONGLONG>(layout.startBytes);
  entry.PartitionLength.QuadPart = static_cast<LONGLONG>(layout.lengthBytes);
  entry.PartitionNumber = 1;
  entry.RewritePartition = TRUE;
  entry.Mbr.PartitionType = layout.type;
  entry.Mbr.BootIndicator = TRUE;
  entry.Mbr.RecognizedPartition = TRUE;
  entry.Mbr.HiddenSectors = static_cast<DWORD>(layout.startBytes / 512);
  for (int i = 1; i < 4; ++i) {
    auto* other = reinterpret_cast<PARTITION_INFORMATION_EX*>(buffer.data() + kDriveLayoutHeaderSize +
                                                              i * sizeof(PARTITION_INFORMATION_EX));
    other->PartitionStyle = PARTITION_STYLE_MBR;
    other->RewritePartition = TRUE;
  }
  bool ok = DeviceIoControl(UsbDiskHandle, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, buffer.data(),
                            static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
  if (ok) DeviceIoControl(UsbDiskHandle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseUsbDisk();
  if (!ok) {
    MessageBoxW(nullptr,
                u"Error in creating filesystem, because of a device error. Please format the device manually and "
                u"click ok",
                LookupString(u"IDS_PRODNAME"), MB_OK);
  }
  return ok;
}

bool WriteRawPartitionTable(int disk, const StickLayout& layout) {
  if (!OpenUsbDisk(disk)) return false;
  UsbGeometry geometry;
  if (!ReadUsbGeometry(&geometry)) geometry = UsbGeometry{0, 255, 63};
  std::vector<uint8_t> mbr(512, 0);
  uint8_t* entry = &mbr[446];
  uint32_t first = static_cast<uint32_t>(layout.startBytes / 512);
  uint32_t count = static_cast<uint32_t>(layout.lengthBytes / 512);
  entry[0] = 0x80;
  Chs(first, geometry, entry + 1);
  // The volume's own type: a FAT32 or NTFS volume in an entry typed FAT16
  // would be read as FAT16 by other systems.
  entry[4] = layout.type;
  for (int i = 0; i < 4; ++i) {
    entry[8 + i] = static_cast<uint8_t>(first >> (8 * i));
    entry[12 + i] = static_cast<uint8_t>(count >> (8 * i));
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  bool ok = WriteUsbSectors(mbr.data(), 0, 1);
  CloseUsbDisk();
  return ok;
}

std::vector<uint8_t> BuildLoaderSectors(uint8_t countByte) {
  std::vector<uint8_t> sectors(kLoaderSectorsBytes, 0);
  memcpy(sectors.data(), LoaderTemplate, sizeof(LoaderTemplate));
  std::vector<uint8_t> mbr(512, 0);
  ReadUsbSectors(mbr.data(), 0, 1);
  memcpy(&sectors[446], &mbr[446], 66);
  IsoImageInfoRecord& info = IsoImageInfo;
  if (IsWindowsBootImage()) {
    memcpy(&sectors[1024], MbrCodeTemplate, sizeof(MbrCodeTemplate));
    memcpy(&sectors[1470], &mbr[446], 66);
    info.mediaType = kMediaWindowsImage;
  }
  // Only a boot image of its own at LBA 130 is written scrambled.
  sectors[kLoaderScrambled] = !PassKey.IsEmpty() && !IsWindowsBootImage() && !IsRawImage() ? 1 : 0;
  sectors[kLoaderText] = 0x0D;
  sectors[kLoaderText + 1] = 0x0A;
  sectors[kLoaderText + 2] = 0;
  sectors[kLoaderAction] = static_cast<uint8_t>(BrandingFlags);
  sectors[kLoaderBootCount] = info.bootCountByte;
  uint16_t buffer = static_cast<uint16_t>(info.loadSegment * 16);
  sectors[kLoaderBuffer] = static_cast<uint8_t>(buffer);
  sectors[kLoaderBuffer + 1] = static_cast<uint8_t>(buffer >> 8);
  sectors[kLoaderBuffer + 2] = 0;
  sectors[kLoaderBuffer + 3] = 0;
  sectors[kLoaderMediaType] = info.mediaType;
  sectors[kLoaderCountByte] = countByte;
  // The packet reads a Windows image's MBR code at LBA 2 (which starts the
  // partition's boot sector and so BOOTMGR), another image's boot image from
  // LBA 130, or from its place in a raw-written image (whose sectors from 6
  // on cover LBA 130).
  uint64_t bootSector = kBootImageSector;
  if (IsWindowsBootImage()) {
    bootSector = kMbrCodeSector;
  } else if (IsRawImage()) {
    bootSector = static_cast<uint64_t>(info.bootLoadBlock) * 4;
  }
  for (int i = 0; i < 8; ++i) sectors[kLoaderStart + i] = static_cast<uint8_t>(bootSector >> (8 * i));
  return sectors;
}

void WriteBootArea(int disk, bool write, const std::vector<uint8_t>& bootImage) {
  if (!OpenUsbDisk(disk)) return;
  std::vector<uint8_t> loader = BuildLoaderSectors(static_cast<uint8_t>(IsoImageInfo.bootSectorCount));
  if (write) {
    bool windows = IsWindowsBootImage();
    WriteUsbSectors(loader.data(), 0, windows ? 3 : 2);
    if (!windows || NeedBiosBlob) WriteBlob();
    if (!windows && !bootImage.empty()) {
      std::vector<uint8_t> image = bootImage;
      if (loader[kLoaderScrambled]) ScrambleWithPassKey(PassKey, image.data(), image.size());
      WriteUsbSectors(image.data(), kBootImageSector, static_cast<uint32_t>(image.size() / 512));
    }
  }
  CloseUsbDisk();
}

void ScrambleWithPassKey(const CString& key, uint8_t* data, size_t size) {
  int length = std::min(key.GetLength(), kPassKeyLength);
  if (length == 0) return;
  uint8_t k[kPassKeyLength];
  unsigned sum = 0;
  for (int i = 0; i < kPassKeyLength; ++i) {
    k[i] = static_cast<uint8_t>(key[i % length]);
    sum += k[i];
  }
  unsigned shift = sum % kPassKeyLength;
  if (shift == 0) shift = 1;
  for (unsigned i = 0; i <= 6; ++i) std::swap(k[i], k[(i + shift) % kPassKeyLength]);
  for (size_t j = 0; j < size; ++j) data[j] ^= k[j % kPassKeyLength] & 0x3F;
}

void CopyRawImage(UsbWriteHost* host, const CString& path, int disk) {
  HANDLE image = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                             nullptr);
  if (image == INVALID_HANDLE_VALUE) {
    Fail(host, u"IDS_ISOREADERROR");
    return;
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(image, &size);
  uint64_t total = (static_cast<uint64_t>(size.QuadPart) + 511) / 512;
  if (!OpenUsbDisk(disk)) {
    CloseHandle(image);
    return;
  }
  ProgressMaximum = static_cast<int64_t>(total);
  host->SetProgressRange(ProgressMaximum);
  std::vector<uint8_t> buffer(kRawChunkSectors * 512);
  for (uint64_t p = 0; p < total; p += kRawChunkSectors) {
    host->UpdateProgress(static_cast<int64_t>(p));
    PumpMessages(host->PageWindow());
    if (host->CancelRequested() || CopyErrorCount != 0) break;
    uint32_t sectors = static_cast<uint32_t>(std::min<uint64_t>(kRawChunkSectors, total - p));
    // The image's last piece: what is left of it, zero-padded to whole sectors.
    std::fill(buffer.begin(), buffer.end(), 0);
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<uint64_t>(buffer.size(), static_cast<uint64_t>(size.QuadPart) - p * 512));
    if (!ReadFile(image, buffer.data(), want, &got, nullptr) || got != want) {
      Fail(host, u"IDS_ISOREADERROR");
      break;
    }
    // LBA 0-5 keep the loader and the start of the blob.
    uint64_t first = p == 0 ? 6 : 0;
    if (first < sectors && !WriteUsbSectors(&buffer[first * 512], p + first, sectors - static_cast<uint32_t>(first))) {
      break;
    }
  }
  CloseHandle(image);
  CloseUsbDisk();
}

void RunUsbWrite(UsbWriteHost* host, int disk, const CString& path) {
  CopyErrorCount = 0;
  ShownCopyErrorKey = nullptr;
  IsoBootAreaWriter = &WriteBootArea;
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExW(&version);
  FillDiskTable();
  uint64_t diskSectors = disk >= 0 && disk < kUsbDiskSlots ? DiskTable.disks[disk].sectors : 0;

  Log(host, u"\r\nAnalyzing ISO file");
  SourceIsoPath = path;
  // The image is read before anything is written: one that is no ISO image
  // leaves the stick as it was.
  if (!WalkIsoDescriptors(0, false)) {
    Fail(host, u"IDS_ISOREADERROR");
    return;
  }
  VolumeSectorCount = static_cast<uint64_t>(IsoImageInfo.volume.volumeSpaceSize) * 4;
  ProgressTarget = static_cast<int64_t>(VolumeSectorCount + VolumeSectorCount / 32);
  if (!WriteBootLoader) {
    // Without boot sectors the image is only a tree of files.
    IsoImageInfo.bootImageBytes = 0;
    IsoImageInfo.elTorito = false;
    IsoImageInfo.bootmgr = IsoImageInfo.cdboot = false;
    IsoImageInfo.mediaType = kMediaNoEmulation;
  }
  // Everything that can refuse the stick is decided here, before its first
  // sector is touched: a stick left half-written is worse than one refused.
  if (!StickCanHold(disk, diskSectors)) {
    Fail(host, u"IDS_WRONGSIZE");
    return;
  }
  if (IsBlobOnlyBranding()) {
    if (OpenUsbDisk(disk)) {
      std::vector<uint8_t> zero(512, 0);
      WriteUsbSectors(zero.data(), 0, 1);
      CloseUsbDisk();
    }
  } else {
    ScanIsoDescriptors(disk, false);
  }
  StickLayout layout;
  if (!PlanStickLayout(diskSectors, &layout)) {
    Fail(host, u"IDS_WRONGSIZE");
    return;
  }
  uint64_t start = layout.startBytes / 512;

  Log(host, u"\r\nCreating Partition");
  if (version.dwMajorVersion == 5 && version.dwMinorVersion == 0) {
    // Windows 2000 sets no drive layout on removable disks: the table is
    // written by hand and the user plugs the stick in again.
    WriteRawPartitionTable(disk, layout);
    host->ShowFormatBusy(true);
    MessageBoxW(nullptr, LookupString(u"IDS_REMOVE_WIN2K_USB"), LookupString(u"IDS_PRODNAME"),
                MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    UpdateDiskProperties(disk);
  } else {
    CreateStickLayout(disk, layout);
  }
  int letter = WaitForLetter(start, disk);
  if (letter == -1) {
    Fail(host, u"IDS_NODRIVE");
    return;
  }
  CString created = u"\r\nDrive Created: ";
  created += static_cast<WCHAR>(letter);
  Log(host, created);
  Log(host, u"\r\nLocking Drive");

  const IsoImageInfoRecord& info = IsoImageInfo;
  if (IsRawImage()) {
    // A hybrid image of another system: the whole image, sector by sector.
    Log(host, u"\r\nCopying Image");
    ScanIsoDescriptors(disk, true);
    LockUsbVolume(static_cast<WCHAR>(letter));
    CopyRawImage(host, path, disk);
    ReleaseUsbVolume();
    PumpMessages(host->PageWindow());
    if (!host->CancelRequested()) {
      FlushStick(disk);
      host->UpdateProgress(ProgressMaximum);
    }
    return;
  }

  bool formatted = true;
  if (layout.type == kFileSystemNtfs && ChosenFileSystem == kFileSystemNtfs) {
    MessageBoxW(nullptr, LookupString(u"IDS_NTFORMAT"), LookupString(u"IDS_PRODNAME"), MB_OK);
    SHFormatDrive(host->PageWindow(), static_cast<UINT>(letter - 'A'), SHFMT_ID_DEFAULT, SHFMT_OPT_FULL);
    ProgressMaximum = ProgressTarget;
    host->SetProgressRange(ProgressMaximum);
    if (version.dwMajorVersion <= 5 && OpenUsbDisk(disk)) {
      InstallNtfsBootCode(start);
      CloseUsbDisk();
    }
  } else if (layout.type == kFileSystemFat16) {
    Log(host, u"\r\nFormating Drive as FAT16");
    if (!LockUsbVolume(static_cast<WCHAR>(letter))) ExitProcess(0);
    if (OpenUsbDisk(disk)) {
      formatted = FormatFat16Raw(host, start + 1, 0x80, layout.fat16Limit);
      if (formatted) FlushUsbDisk();
      CloseUsbDisk();
    }
    ReleaseUsbVolume();
    // The formatter moved the partition one sector on.
    ++start;
  } else {
    LockUsbVolume(static_cast<WCHAR>(letter));
    if (OpenUsbDisk(disk)) {
      formatted = FormatFat32Raw(host, start, layout.lengthBytes / 512);
      if (IsBlobOnlyBranding()) WriteBlobOnlyBootArea();
      if (formatted) FlushUsbDisk();
      CloseUsbDisk();
    }
    ReleaseUsbVolume();
  }
  if (CopyErrorCount != 0 || host->CancelRequested()) return;
  // A format that failed without a failed write (a disk that no longer
  // answers) is said as such, not as a file that cannot be copied later.
  if (!formatted) {
    Fail(host, u"IDS_FormatFailed");
    return;
  }

  ScanIsoDescriptors(disk, true);
  // The system reads the new table and file system again, and the volume's
  // letter is looked up anew.
  UpdateDiskProperties(disk);
  letter = WaitForLetter(start, disk);
  if (letter == -1) {
    Fail(host, u"IDS_NODRIVE");
    return;
  }
  if (!IsBlobOnlyBranding()) {
    Log(host, u"\r\nCopying FileSystem");
    CopyNestingDepth = 0;
    CString root;
    root += static_cast<WCHAR>(letter);
    root += u':';
    CopyIsoImageTree(host, root);
  }
  FlushStick(disk);
  host->UpdateProgress(ProgressMaximum);
}
