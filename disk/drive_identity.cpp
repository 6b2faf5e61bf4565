#include "disk/drive_identity.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "platform/core/cstring.h"
#include "platform/fs/file_api.h"
#include "platform/process/system_info.h"
#include "platform/storage/ioctl.h"

DriveIdentityRecord DriveIdentities[kDriveIdentityCount];

namespace {

constexpr DWORD kAnswerBufferSize = 10000;
constexpr size_t kModelCapacity = sizeof(DriveIdentityRecord::modelText) - 1;  // 31 characters and a zero
constexpr size_t kClearedPrefix = 18;

bool IsListedDisk(int32_t disk) { return disk >= 0 && disk < kDriveIdentityCount; }

// The zero-terminated text at `offset` of an answer of `size` bytes; empty
// when the offset is 0 or outside the answer. Never reads past the answer.
std::string AnswerText(const BYTE* answer, DWORD size, DWORD offset) {
  if (offset == 0 || offset >= size) return {};
  const auto* text = reinterpret_cast<const char*>(answer + offset);
  const size_t limit = size - offset;
  size_t length = 0;
  while (length < limit && text[length]) ++length;
  return std::string(text, length);
}

// The blanks a descriptor pads its texts with, at both ends.
std::string TrimBlanks(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

CString PhysicalDrivePath(const char16_t* format, int32_t number) {
  CString path;
  path.Format(format, number);
  return path;
}

}  // namespace

std::string JoinVendorAndProduct(const std::string& vendor, const std::string& product) {
  const std::string v = TrimBlanks(vendor), p = TrimBlanks(product);
  if (v.empty() || p.empty()) return v + p;
  return v + " " + p;
}

void ReadDriveIdentityForDisk(int32_t disk) {
  if (!IsListedDisk(disk)) return;
  DriveIdentityRecord& record = DriveIdentities[disk];
  record.busCode = 0;
  std::memset(record.modelText, 0, kClearedPrefix);
  std::memset(record.serialText, 0, kClearedPrefix);
  HANDLE h = OpenDiskRead(disk);
  if (!h || h == INVALID_HANDLE_VALUE) return;
  ReadDriveIdentity(disk);
  CloseCurrentDisk();
}

void ReadDriveIdentityForDisks(int32_t count) {
  if (count > kDriveIdentityCount) count = kDriveIdentityCount;
  for (int32_t disk = 0; disk < count; ++disk) ReadDriveIdentityForDisk(disk);
}

void ReadDriveIdentity(int32_t disk) {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExW(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return;
  if (ProbeIdentityByStorageQuery(disk)) return;
  if (ProbeIdentityByScsiMiniport(disk)) return;
  ProbeIdentityBySmart(disk);
}

int32_t ProbeIdentityByStorageQuery(int32_t disk) {
  const CString path = PhysicalDrivePath(u"\\\\.\\PhysicalDrive%d", disk);
  HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("Unable to open physical drive %d, error code: 0x%lX\n", static_cast<int>(disk),
                static_cast<unsigned long>(GetLastError()));
    return 0;
  }
  std::vector<BYTE> answer(kAnswerBufferSize, 0);
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  DWORD returned = 0;
  if (DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer.data(), kAnswerBufferSize,
                      &returned, nullptr) &&
      returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength)) {
    if (returned > kAnswerBufferSize) returned = kAnswerBufferSize;
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    std::memcpy(&descriptor, answer.data(), std::min<size_t>(sizeof descriptor, returned));
    std::string model = JoinVendorAndProduct(AnswerText(answer.data(), returned, descriptor.VendorIdOffset),
                                             AnswerText(answer.data(), returned, descriptor.ProductIdOffset));
    // Vendor and product together can be longer than the field: keep what fits.
    if (model.size() > kModelCapacity) model.resize(kModelCapacity);
    if (IsListedDisk(disk)) {
      DriveIdentityRecord& record = DriveIdentities[disk];
      std::memset(record.modelText, 0, sizeof record.modelText);
      std::memcpy(record.modelText, model.data(), model.size());
      record.busCode = BusCodeOf(descriptor.BusType);
      std::memset(record.serialText, 0, kClearedPrefix);
    }
    CloseHandle(h);
    return 1;
  }
  // No property answer: a media serial number that starts with a letter or a
  // digit still counts as identified (the record is left as it is).
  std::fill(answer.begin(), answer.end(), 0);
  returned = 0;
  int32_t result = 0;
  if (DeviceIoControl(h, IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER, nullptr, 0, answer.data(), kAnswerBufferSize,
                      &returned, nullptr) &&
      returned > offsetof(MEDIA_SERIAL_NUMBER_DATA, SerialNumberData) &&
      std::isalnum(answer[offsetof(MEDIA_SERIAL_NUMBER_DATA, SerialNumberData)]))
    result = 1;
  CloseHandle(h);
  return result;
}

// The SCSI miniport and SMART identify probes are never given an open device:
// their requests could not be sent, so they change nothing.
int32_t ProbeIdentityByScsiMiniport(int32_t disk) {
  (void)PhysicalDrivePath(u"\\\\.\\Scsi%d:", disk / 2);
  return 0;
}

int32_t ProbeIdentityBySmart(int32_t disk) {
  (void)PhysicalDrivePath(u"\\\\.\\PhysicalDrive%d", disk);
  return 0;
}

uint8_t BusCodeOf(DWORD storageBusType) {
  switch (storageBusType) {
    case 2:  // ATAPI
    case 3:  // ATA
      return kBusIde;
    case 1:   // SCSI
    case 5:   // SSA
    case 6:   // Fibre Channel
    case 9:   // iSCSI
    case 10:  // SAS
      return kBusScsi;
    case 7: return kBusUsb;
    case 11: return kBusSata;
    case 17: return kBusNvme;
    case 8: return kBusRaid;
    default: return kBusOther;
  }
}
