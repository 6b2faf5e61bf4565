// Yarv's start-up settings, as the backup product it belongs to keeps them:
// the installation and archive folders from the registry, the four data
// folders, the default backup options ("defconfig.cit"), the backup
// templates ("*.xqy"), the record count of the product's log, and the WinPE
// start-up ("startnet.cmd"). Only the folders, the WinPE flag and the disk
// tables serve the restore; the rest is loaded as the product loads it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/cstring.h"

struct BackupOptions {
  uint8_t speed = 0;
  uint8_t compressionType = 0;  // 0 none, 1 low, 2 high
  uint8_t encryption = 0;
  std::array<uint8_t, 32> password{};
  bool passwordEmpty = true;
  int32_t split = 0;
  uint8_t verify = 0;
  int32_t fileCount = 0, typeCount = 0;
  int32_t excludeSystem = 0, excludeHidden = 0;
  CString excludedFiles, excludedTypes;  // entries joined with "?"
};

struct TemplateRecord {
  BackupOptions options;
  std::string name;         // at most 63 bytes
  std::string description;  // at most 511 bytes
  int64_t created = 0;
  uint8_t archiveType = 0;
  std::string destination;  // at most 519 bytes
  uint8_t sourceCount = 0;
  uint8_t period = 0, timed = 0, monthDate = 0, weekDay = 0;
  int32_t hourMinute = 0;
  int32_t firstSource = 0;
};

struct TemplateSource {
  CString path;
  int32_t kind = 0;
  int32_t next = 0;  // 0 ends the template's list
};

inline constexpr int kMaxTemplates = 255;        // accepted templates, records 1..255
inline constexpr int kMaxTemplateSources = 255;  // sources, entries 1..255
inline constexpr int kLogRecordBytes = 523;

extern CString InstallationDirectoryValue;  // the registry value as read, empty when missing
extern BackupOptions DefaultBackupOptions;
extern std::vector<TemplateRecord> Templates;             // element 0 stays empty
extern std::vector<TemplateSource> TemplateSourceTable;   // element 0 stays empty
extern int32_t LogRecordCount;
extern int32_t NextFieldPosition;

// The whole start-up load, once, before the host chooses a mode.
void InitAppData();
// The whole records in LogsFolder's "yarv.log" (a partial one at its end
// is not counted); the file is made, empty, when it is missing.
int32_t CountLogRecords();

CString ReadInstallationDirectory();
CString ReadArchiveDirectory();
CString ReadProfileText(LPCWSTR section, LPCWSTR key, const CString& path);
int32_t ReadProfileInt(LPCWSTR section, LPCWSTR key, const CString& path);
void ReadDefaultConfig();
void ScanTemplates();
// Reads one template; returns its SourceCount (non-zero: accepted).
int ReadTemplateFile(TemplateRecord& record, const CString& path);
void ParseTemplateSource(const CString& text, TemplateSource& entry);
// The integer of the next `separator`-ended field from NextFieldPosition
// (1-based), which then moves past the separator.
int32_t NextField(char16_t separator, const CString& text);
// A stored configuration password (64 hexadecimal digits) decrypted with the
// fixed configuration key; false (and zeros) for any other text.
bool DecodeConfigPassword(const CString& text, std::array<uint8_t, 32>& out);

// Display texts of archive settings.
CString ArchiveTypeText(uint8_t code);
CString CompressionText(uint8_t code);
CString EncryptionText(uint8_t code);

// Runs "startnet.cmd" of the current folder and waits for it.
void RunStartnet();
