#include "disk/smart_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/fs/file_api.h"
#include "platform/process/module.h"
#include "platform/storage/volume_api.h"
#include "program_support/profile_file.h"

CString SmartVersionText;

namespace {

constexpr DWORD kStatusHeader = offsetof(SENDCMDOUTPARAMS, bBuffer);  // 16
constexpr DWORD kDataPageSize = 512;
constexpr DWORD kEnableOutput = sizeof(SENDCMDOUTPARAMS);              // 17
constexpr DWORD kIdentifyOutput = kStatusHeader + kDataPageSize;       // 528
constexpr DWORD kAttributeOutput = 531;  // the status header, the page and 3 spare bytes
constexpr int kEntryBytes = 12;
constexpr int kFirstEntry = 2;
constexpr int kModuleNameSize = 260;
// A catalogue names at most one entry per attribute id; far more sections
// than that can only be a damaged file.
constexpr int32_t kMaxCatalogueSections = 4096;

struct DriveCommand {
  DWORD code;
  BYTE features;
  BYTE cylinder_low;
  BYTE cylinder_high;
  BYTE command;
  DWORD buffer_size;
  DWORD output_length;
};

constexpr DriveCommand kEnable{SMART_SEND_DRIVE_COMMAND, ENABLE_SMART, SMART_CYL_LOW, SMART_CYL_HI, ATA_SMART_CMD, 0,
                               kEnableOutput};
constexpr DriveCommand kIdentify{SMART_RCV_DRIVE_DATA, 0, 0, 0, ATA_IDENTIFY_DEVICE, IDENTIFY_BUFFER_SIZE,
                                 kIdentifyOutput};
constexpr DriveCommand kAttributes{SMART_RCV_DRIVE_DATA, READ_ATTRIBUTES, SMART_CYL_LOW, SMART_CYL_HI, ATA_SMART_CMD,
                                   READ_ATTRIBUTE_BUFFER_SIZE, kAttributeOutput};
constexpr DriveCommand kThresholds{SMART_RCV_DRIVE_DATA, READ_THRESHOLDS, SMART_CYL_LOW, SMART_CYL_HI, ATA_SMART_CMD,
                                   READ_ATTRIBUTE_BUFFER_SIZE, kAttributeOutput};

// Sends one drive command; `out` holds output_length bytes (at least 531).
bool SendDriveCommand(HANDLE device, BYTE drive, const DriveCommand& c, BYTE* out) {
  SENDCMDINPARAMS in{};
  in.cBufferSize = c.buffer_size;
  in.irDriveRegs.bFeaturesReg = c.features;
  in.irDriveRegs.bSectorCountReg = 1;
  in.irDriveRegs.bSectorNumberReg = 1;
  in.irDriveRegs.bCylLowReg = c.cylinder_low;
  in.irDriveRegs.bCylHighReg = c.cylinder_high;
  in.irDriveRegs.bDriveHeadReg = 0xA0;
  in.irDriveRegs.bCommandReg = c.command;
  in.bDriveNumber = drive;
  DWORD returned = 0;
  return DeviceIoControl(device, c.code, &in, sizeof in, out, c.output_length, &returned, nullptr) != FALSE;
}

}  // namespace

SmartReader::SmartReader() { LoadAttributeCatalogue(); }

SmartReader::~SmartReader() {
  attributeMap.clear();
  catalogue.clear();
}

int SmartReader::ReadAllDrives() {
  attributeMap.clear();
  readCount = 0;
  triedCount = 0;
  const DWORD drives = GetLogicalDrives();
  for (int i = 0; i < 32; ++i) {
    if (!(drives & (1u << i))) continue;
    WCHAR root[] = u"A:\\";
    root[0] = static_cast<WCHAR>(u'A' + i);
    if (GetDriveTypeW(root) != DRIVE_FIXED) continue;
    // C: is drive 0; A: and B: would be 254 and 255, which no record holds.
    const BYTE drive = static_cast<BYTE>(i - 2);
    if (drive >= kSmartDriveCount) continue;
    if (ReadDrive(drive) != 0) ++readCount;
    ++triedCount;
  }
  return triedCount == readCount ? 1 : 0;
}

int SmartReader::ReadDrive(BYTE driveNumber) {
  if (driveNumber >= kSmartDriveCount) return 0;
  SmartDriveRecord& record = records_[driveNumber];
  CString path;
  path.Format(u"\\\\.\\PHYSICALDRIVE%d", static_cast<int>(driveNumber));
  HANDLE device = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
  if (device == INVALID_HANDLE_VALUE) return 0;
  GETVERSIONINPARAMS version{};
  DWORD returned = 0;
  const BOOL version_ok =
      DeviceIoControl(device, SMART_GET_VERSION, nullptr, 0, &version, sizeof version, &returned, nullptr);
  if (version_ok) record.versionInfo = version;
  SmartVersionText.Format(u"%d.%d", static_cast<int>(record.versionInfo.bVersion),
                          static_cast<int>(record.versionInfo.bRevision));
  int result;
  if (!version_ok) {
    result = 0;
  } else if (!(record.versionInfo.fCapabilities & CAP_SMART_CMD)) {
    result = -1;
  } else if (!EnableSmart(device, driveNumber)) {
    result = -2;
  } else {
    ReadIdentify(device, driveNumber);
    result = ReadAttributes(device, driveNumber);
  }
  CloseHandle(device);
  return result;
}

int SmartReader::EnableSmart(HANDLE device, BYTE driveNumber) {
  BYTE out[kAttributeOutput] = {};
  if (SendDriveCommand(device, driveNumber, kEnable, out)) return 1;
  GetDriveRecord(driveNumber).errorText.Format(u"Error %d in reading SMART Enabled flag",
                                               static_cast<int>(GetLastError()));
  return 0;
}

int SmartReader::ReadIdentify(HANDLE device, BYTE driveNumber) {
  BYTE out[kAttributeOutput] = {};
  if (!SendDriveCommand(device, driveNumber, kIdentify, out)) return 0;
  BYTE* identify = GetDriveRecord(driveNumber).identifyData;
  std::memcpy(identify, out + kStatusHeader, kSmartIdentifySize);
  DecodeIdText(identify + 54, 39);  // model, words 27-46
  GetDriveRecord(driveNumber).serialText = IdText(identify + 20, 20);
  DecodeIdText(identify + 20, 20);  // serial number, words 10-19
  DecodeIdText(identify + 46, 8);   // firmware, words 23-26
  return 1;
}

CString SmartReader::IdText(const BYTE* field, int length) {
  if (!field || length <= 0) return CString();
  // ATA text keeps the two bytes of each word exchanged. Pairs are taken while
  // their first index is below the length; the partner of an odd length's last
  // byte lies outside the field and counts as a blank.
  std::u16string text;
  for (int i = 0; i < length; i += 2) {
    const BYTE second = i + 1 < length ? field[i + 1] : ' ';
    text += static_cast<char16_t>(second);
    text += static_cast<char16_t>(field[i]);
  }
  // The text ends at its first zero.
  const size_t zero = text.find(u'\0');
  if (zero != std::u16string::npos) text.resize(zero);
  CString trimmed(text);
  trimmed.Trim();
  return trimmed;
}

void SmartReader::DecodeIdText(BYTE* field, int length) {
  if (!field || length <= 0) return;
  const CString trimmed = IdText(field, length);
  // UTF-16 text and its terminating zero must both fit in `length` bytes.
  const int keep = std::min(trimmed.GetLength(), length / 2 - 1 > 0 ? length / 2 - 1 : 0);
  std::memset(field, 0, static_cast<size_t>(length));
  for (int i = 0; i < keep; ++i) {
    field[2 * i] = static_cast<BYTE>(trimmed[i] & 0xFF);
    field[2 * i + 1] = static_cast<BYTE>(trimmed[i] >> 8);
  }
}

int SmartReader::ReadAttributes(HANDLE device, BYTE driveNumber) {
  SmartDriveRecord& record = GetDriveRecord(driveNumber);
  BYTE out[kAttributeOutput] = {};
  if (SendDriveCommand(device, driveNumber, kAttributes, out)) {
    record.attributeCount = 0;
    record.driveNumber = driveNumber;
    BYTE* page = out + kStatusHeader;
    for (int e = 0; e < kSmartEntriesPerPage; ++e) {
      BYTE* entry = page + kFirstEntry + e * kEntryBytes;
      uint64_t raw = 0;
      for (int b = 10; b >= 5; --b) raw = raw << 8 | entry[b];
      // Only the low 16 bits of the raw value are kept in the page.
      std::memset(entry + 7, 0, 5);
      if (entry[0] == 0) continue;
      SmartAttribute& slot = record.attributes[record.attributeCount];
      slot.id = entry[0];
      slot.current = entry[3];
      slot.worst = entry[4];
      slot.rawValue = static_cast<uint32_t>(entry[5]) | static_cast<uint32_t>(entry[6]) << 8 |
                      static_cast<uint32_t>(entry[7]) << 16 | static_cast<uint32_t>(entry[8]) << 24;
      slot.rawFull = raw;
      slot.threshold = -1;
      attributeMap[static_cast<uint32_t>(driveNumber) << 16 | slot.id] = &slot;
      ++record.attributeCount;
    }
  }
  std::memset(out, 0, sizeof out);
  if (!SendDriveCommand(device, driveNumber, kThresholds, out)) return 0;
  const BYTE* page = out + kStatusHeader;
  for (int e = 0; e < kSmartEntriesPerPage; ++e) {
    const BYTE* entry = page + kFirstEntry + e * kEntryBytes;
    if (entry[0] == 0) continue;
    if (SmartAttribute* attribute = FindAttribute(driveNumber, entry[0])) attribute->threshold = entry[1];
  }
  return 1;
}

void SmartReader::LoadAttributeCatalogue() {
  catalogue.clear();
  WCHAR module[kModuleNameSize + 1] = {};
  DWORD length = GetModuleFileNameW(nullptr, module, kModuleNameSize);
  if (length > kModuleNameSize) length = kModuleNameSize;
  CString name(module, static_cast<int>(length));
  if (name.GetLength() < 3) return;
  name = name.Left(name.GetLength() - 3) + u"ini";

  ProfileFile profile(name);
  int32_t sections = profile.get_int(u"General", u"Max Attributes", 0);
  if (sections > kMaxCatalogueSections) sections = kMaxCatalogueSections;
  for (int32_t i = 0; i < sections; ++i) {
    CString section;
    section.Format(u"Attrib%d", i);
    const BYTE id = static_cast<BYTE>(profile.get_int(section, u"Id", 0));
    SmartCatalogueEntry entry;
    entry.critical = profile.get_int(section, u"Critical", 0);
    entry.name = profile.get_text(section, u"Name", CString(), 1023);
    entry.details = profile.get_text(section, u"Details", CString(), 1023);
    catalogue.emplace(id, entry);  // a repeated id keeps the first section
  }
}

const SmartCatalogueEntry* SmartReader::FindCatalogueEntry(BYTE id) const {
  auto it = catalogue.find(id);
  return it == catalogue.end() ? nullptr : &it->second;
}

SmartAttribute* SmartReader::FindAttribute(int driveNumber, int id) {
  auto it = attributeMap.find(static_cast<uint32_t>(driveNumber & 0xFF) << 16 | static_cast<uint32_t>(id & 0xFF));
  return it == attributeMap.end() ? nullptr : it->second;
}

SmartDriveRecord& SmartReader::GetDriveRecord(int driveNumber) {
  const int slot = driveNumber & 0xFF;
  if (slot >= kSmartDriveCount) {
    // No record holds this number: an empty one stands in.
    spare_ = SmartDriveRecord();
    return spare_;
  }
  return records_[slot];
}
