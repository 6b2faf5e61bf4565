#include "usbwriter/usb_disk_table.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "disk/disk_tables.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/process/system_info.h"
#include "platform/registry/registry.h"
#include "platform/storage/ioctl.h"
#include "program_support/registry_readers.h"
#include "usbwriter/usb_disk.h"

UsbDiskRecord UsbDiskRecords[kUsbDiskSlots];
DiskTableRecord DiskTable;

namespace {

constexpr const char16_t* kDiskEnumKey = u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum";
constexpr const char16_t* kBusNames[] = {u"Unknown", u"IDE", u"SCSI", u"USB"};
constexpr int kServedPrefixes = 16;
constexpr DWORD kBusTypeSas = 10;

// Sticks of the same make already given a serial in this rebuild, with the
// registry entry each took last.
struct ServedPrefix {
  CString prefix;
  int entry = -1;
};
std::vector<ServedPrefix> ServedPrefixes;

std::string AnswerText(const BYTE* answer, DWORD size, DWORD offset) {
  if (offset == 0 || offset >= size) return {};
  const char* text = reinterpret_cast<const char*>(answer + offset);
  size_t length = 0;
  while (offset + length < size && text[length]) ++length;
  return std::string(text, length);
}

void CopyText(char* field, size_t capacity, const CString& text) {
  memset(field, 0, capacity);
  int n = std::min<int>(text.GetLength(), static_cast<int>(capacity) - 1);
  for (int i = 0; i < n; ++i) field[i] = static_cast<char>(text[i] & 0xFF);
}

// Vendor, product and bus of the disk from the storage property query.
bool QueryStorageIdentity(int disk, UsbDiskRecord* record) {
  if (!OpenUsbDiskRead(disk)) return false;
  std::vector<BYTE> answer(4096, 0);
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  DWORD returned = 0;
  bool ok = DeviceIoControl(UsbDiskHandle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer.data(),
                            static_cast<DWORD>(answer.size()), &returned, nullptr) &&
            returned >= offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength);
  CloseUsbDisk();
  if (!ok) return false;
  returned = std::min<DWORD>(returned, static_cast<DWORD>(answer.size()));
  STORAGE_DEVICE_DESCRIPTOR descriptor{};
  memcpy(&descriptor, answer.data(), std::min<size_t>(sizeof descriptor, returned));
  CopyText(record->vendor, 18, CString(AnswerText(answer.data(), returned, descriptor.VendorIdOffset).c_str()));
  CopyText(record->product, 18, CString(AnswerText(answer.data(), returned, descriptor.ProductIdOffset).c_str()));
  switch (descriptor.BusType) {
    case BusTypeUsb: record->busCode = kBusUsb; break;
    case BusTypeAta:
    case BusTypeSata: record->busCode = kBusAta; break;
    case BusTypeScsi:
    case kBusTypeSas: record->busCode = kBusScsi; break;
    default: record->busCode = kBusUnknown; break;
  }
  return true;
}

// An IDENTIFY text field: its byte pairs swapped, up to the first zero,
// trimmed.
CString IdentifyText(const BYTE* field, int length) {
  CString text;
  for (int i = 0; i + 1 < length; i += 2) {
    for (BYTE c : {field[i + 1], field[i]}) {
      if (c == 0) {
        text.Trim();
        return text;
      }
      text += static_cast<WCHAR>(c);
    }
  }
  text.Trim();
  return text;
}

CString ReadEnumValue(int index) {
  CString name;
  name.Format(u"%d", index);
  return ReadRegistryString(HKEY_LOCAL_MACHINE, kDiskEnumKey, name);
}

CString Trimmed(const char* text) {
  CString s(text);
  s.Trim();
  return s;
}

}  // namespace

bool ReadAtaIdentify(int disk, AtaIdentity* identity) {
  *identity = AtaIdentity{};
  // 95-family systems have no disk devices: their S.M.A.R.T. driver takes
  // the drive from the request.
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  bool windows95Family = GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  CString path;
  if (windows95Family) {
    path = u"\\\\.\\SMARTVSD";
  } else {
    path.Format(u"\\\\.\\PhysicalDrive%d", disk);
  }
  HANDLE device = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  SENDCMDINPARAMS in{};
  in.cBufferSize = IDENTIFY_BUFFER_SIZE;
  in.irDriveRegs.bSectorCountReg = 1;
  in.irDriveRegs.bSectorNumberReg = 1;
  in.irDriveRegs.bDriveHeadReg = disk % 2 ? 0xB0 : 0xA0;
  in.irDriveRegs.bCommandReg = ATA_IDENTIFY_DEVICE;
  in.bDriveNumber = static_cast<BYTE>(disk);
  constexpr DWORD kAnswer = offsetof(SENDCMDOUTPARAMS, bBuffer) + IDENTIFY_BUFFER_SIZE;  // 528
  std::vector<BYTE> out(kAnswer, 0);
  DWORD returned = 0;
  bool ok = DeviceIoControl(device, SMART_RCV_DRIVE_DATA, &in, sizeof in, out.data(), kAnswer, &returned, nullptr) &&
            returned == kAnswer;
  CloseHandle(device);
  if (!ok) return false;
  const BYTE* page = out.data() + offsetof(SENDCMDOUTPARAMS, bBuffer);
  identity->serial = IdentifyText(page + 20, 20);
  identity->firmware = IdentifyText(page + 46, 8);
  identity->model = IdentifyText(page + 54, 40);
  return true;
}

CString SerialFromInstancePath(const CString& path) {
  int slash = path.ReverseFind(u'\\');
  CString part = slash >= 0 ? path.Mid(slash + 1) : path;
  int amp = part.GetLength() > 1 ? part.Find(u'&', 1) : -1;
  if (amp > 4) return part.Left(amp);
  if (amp >= 1) {
    CString rest = part.Mid(amp + 1);
    int next = rest.GetLength() > 1 ? rest.Find(u'&', 1) : -1;
    return next < 0 ? CString() : rest.Left(next);
  }
  return part;
}

CString SerialFromUsbstorEntry(const CString& prefix) {
  int count = ReadDiskCount();
  for (int i = 0; i < count; ++i) {
    CString path = ReadEnumValue(i);
    if (path.Find(prefix) < 0) continue;
    CString serial = SerialFromInstancePath(path);
    serial.TrimLeft(u'_');
    serial = serial.Left(24);
    auto served = std::find_if(ServedPrefixes.begin(), ServedPrefixes.end(),
                               [&](const ServedPrefix& p) { return p.prefix == prefix; });
    if (served == ServedPrefixes.end()) {
      if (ServedPrefixes.size() < kServedPrefixes) ServedPrefixes.push_back({prefix, i});
      return serial;
    }
    if (i > served->entry) {
      served->entry = i;
      return serial;
    }
  }
  return CString();
}

CString SerialFromDiskEnumEntry(int disk) {
  // The disk's position among the present disks names its registry entry.
  int position = 0;
  for (int n = 0; n < disk && n < kUsbDiskSlots; ++n) {
    if (DiskTable.disks[n].sectors) ++position;
  }
  CString path = ReadEnumValue(position);
  return path.IsEmpty() ? CString() : SerialFromInstancePath(path);
}

void ReadUsbDiskIdentity(int disk) {
  if (disk == 0) ServedPrefixes.clear();
  CloseUsbDisk();
  UsbDiskRecord& record = UsbDiskRecords[disk];
  AtaIdentity ata;
  ReadAtaIdentify(disk, &ata);
  CString model = ata.model, serial = ata.serial;
  // The bus code comes from the storage query even for a disk that answers
  // IDENTIFY (a SATA disk in a USB case does): without it the disk would
  // never be offered.
  bool queried = QueryStorageIdentity(disk, &record);
  if (model.IsEmpty() && queried) {
    CString vendor = Trimmed(record.vendor), product = Trimmed(record.product);
    model = vendor + u" " + product;
    model.Trim();
    CString prefix = u"USBSTOR\\Disk&Ven_" + vendor + u"&Prod_" + product;
    prefix.Replace(u' ', u'_');
    serial = SerialFromUsbstorEntry(prefix);
  }
  if (model.IsEmpty()) model = u"SdDevice";
  serial.Trim();
  if (serial.IsEmpty()) serial = SerialFromDiskEnumEntry(disk);
  serial.Trim();
  CopyText(record.model, sizeof record.model, model);
  CopyText(record.serial, sizeof record.serial, serial);
}

void RefreshDiskIdentity(int disk) {
  UsbDiskRecord& record = UsbDiskRecords[disk];
  memset(record.model, 0, sizeof record.model);
  memset(record.serial, 0, sizeof record.serial);
  if (!OpenUsbDiskRead(disk)) return;
  CloseUsbDisk();
  ReadUsbDiskIdentity(disk);
}

void FillDiskTable() {
  DiskTable.usbCount = 0;
  std::fill(std::begin(DiskTable.usbDisks), std::end(DiskTable.usbDisks), -1);
  for (int n = 0; n < kUsbDiskSlots; ++n) {
    DiskTableEntry& entry = DiskTable.disks[n];
    entry = DiskTableEntry{};
    UsbDiskRecords[n].busCode = kBusUnknown;
    uint64_t sectors = n <= 9 ? GetUsbDiskSectorCount(n) : 0;
    // The table counts in 32 bits: bigger disks show their first 2 TiB.
    entry.sectors = static_cast<uint32_t>(std::min<uint64_t>(sectors, 0xFFFFFFFFu));
    if (!entry.sectors) continue;
    RefreshDiskIdentity(n);
    const UsbDiskRecord& record = UsbDiskRecords[n];
    entry.model = CString(record.model);
    entry.serial = CString(record.serial);
    entry.busName = kBusNames[record.busCode <= kBusUsb ? record.busCode : 0];
    if (record.busCode == kBusUsb) DiskTable.usbDisks[DiskTable.usbCount++] = n;
  }
}

int32_t FindLetterForPartition(uint64_t start, int disk) {
  MapLettersToDisks();
  ListLetterVolumes();
  return FindLetterByOffset(start, disk);
}
