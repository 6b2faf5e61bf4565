// S.M.A.R.T. reader and attribute catalogue: driver version, ATA IDENTIFY
// texts, attribute values and thresholds of the machine's drives, and the
// catalogue of attribute names read from the INI file beside the program.
// The health and attribute pages own one SmartReader each.
#pragma once

#include <cstdint>
#include <map>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/storage/ioctl.h"

struct SmartAttribute {
  BYTE id = 0;
  // The low 16 bits of the 48-bit raw value.
  uint32_t rawValue = 0;
  // The whole 48-bit raw value (hours, degrees, counts as the drive keeps them).
  uint64_t rawFull = 0;
  BYTE current = 0;
  BYTE worst = 0;
  // -1 until the thresholds were read.
  int32_t threshold = -1;
};

struct SmartCatalogueEntry {
  int32_t critical = 0;
  CString name;
  CString details;
};

// The attributes the health pages read, by their ids.
constexpr int kSmartReadErrorRate = 1;          // the pages' "Error"
constexpr int kSmartThroughput = 2;             // "Performance"
constexpr int kSmartPowerOnHours = 9;           // the power-on time; "Running Days"
constexpr int kSmartTemperature = 194;          // degrees Celsius in the raw value's low byte
constexpr int kSmartOfflineUncorrectable = 198; // "Reliability"

constexpr int32_t kSmartDriveCount = 32;
constexpr int32_t kSmartAttributeSlots = 256;
constexpr int32_t kSmartEntriesPerPage = 30;
constexpr int32_t kSmartIdentifySize = 256;

struct SmartDriveRecord {
  GETVERSIONINPARAMS versionInfo{};
  // The first 256 bytes of IDENTIFY DEVICE with the serial (bytes 20-39),
  // firmware (46-53) and model (54-93) fields rewritten as UTF-16 text.
  BYTE identifyData[kSmartIdentifySize] = {};
  // The whole serial number of IDENTIFY (up to 20 characters, trimmed); the
  // field in identifyData keeps only what fits as UTF-16 in its 20 bytes.
  CString serialText;
  SmartAttribute attributes[kSmartAttributeSlots];
  BYTE attributeCount = 0;
  BYTE driveNumber = 0;
  CString errorText;
};

// Decimal version "." decimal revision of the last version query.
extern CString SmartVersionText;

class SmartReader {
 public:
  SmartReader();
  ~SmartReader();
  SmartReader(const SmartReader&) = delete;
  SmartReader& operator=(const SmartReader&) = delete;

  // Reads every fixed drive letter's drive (C: is drive 0); 1 when every drive
  // tried gave a nonzero result. Letters whose drive number falls outside the
  // 32 records (A:, B:) are not tried.
  int ReadAllDrives();
  // 0 cannot open / version query failed; -1 no SMART command capability;
  // -2 enabling failed; otherwise ReadAttributes' result.
  int ReadDrive(BYTE driveNumber);
  int EnableSmart(HANDLE device, BYTE driveNumber);
  int ReadIdentify(HANDLE device, BYTE driveNumber);
  int ReadAttributes(HANDLE device, BYTE driveNumber);
  // Rewrites one IDENTIFY text field in place: byte pairs swapped, each byte
  // one UTF-16 character, trimmed at both ends, then written back as UTF-16
  // cut so that it and its zero end inside the `length` bytes (the rest of the
  // field zeroed). Never reads or writes past the field's `length` bytes.
  static void DecodeIdText(BYTE* field, int length);
  // The text of an IDENTIFY field as DecodeIdText reads it, whole.
  static CString IdText(const BYTE* field, int length);
  void LoadAttributeCatalogue();
  const SmartCatalogueEntry* FindCatalogueEntry(BYTE id) const;
  SmartAttribute* FindAttribute(int driveNumber, int id);
  // Numbers whose low 8 bits exceed 31 get an empty stand-in record.
  SmartDriveRecord& GetDriveRecord(int driveNumber);

  BYTE readCount = 0;
  BYTE triedCount = 0;
  // (drive number << 16) | attribute id -> attribute inside a drive record.
  std::map<uint32_t, SmartAttribute*> attributeMap;
  std::map<BYTE, SmartCatalogueEntry> catalogue;

 private:
  SmartDriveRecord records_[kSmartDriveCount];
  SmartDriveRecord spare_;
};
