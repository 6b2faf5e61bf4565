#include "mainapp/migrate/archive_helpers.h"

#include <cstdio>
#include <cstring>

#include "disk/disk_access.h"
#include "program_support/language_table.h"
#include "platform/core/ctime.h"
#include "platform/core/kobject.h"
#include "platform/fs/crt_file.h"
#include "platform/fs/ini_profile.h"

CString LogFolder;
BackupLogRecord CurrentLogRecord;

namespace {

int64_t ArchiveVolumeRecordTime = 0;
int64_t TimeRecordTime = 0;

void PutText(uint8_t* field, const CString& text) {
  std::memset(field, 0, 2 * kLogTextChars);
  const int n = std::min(text.GetLength(), kLogTextChars);
  for (int i = 0; i < n; ++i) {
    field[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    field[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
}

CString GetText(const uint8_t* field) {
  std::u16string out;
  for (int i = 0; i < kLogTextChars; ++i) {
    const char16_t c = static_cast<char16_t>(field[2 * i] | (field[2 * i + 1] << 8));
    if (c == 0) break;
    out.push_back(c);
  }
  return CString(out);
}

}  // namespace

void InitArchiveVolumeRecord() { ArchiveVolumeRecordTime = 0; }
void InitLogRecord() { CurrentLogRecord.time = 0; }
void InitTimeRecord() { TimeRecordTime = 0; }

BackupLogRecordDisk EncodeLogRecord(const BackupLogRecord& record) {
  BackupLogRecordDisk disk{};
  disk.code1 = record.code1;
  disk.code2 = record.code2;
  const uint64_t time = static_cast<uint64_t>(record.time);
  for (int i = 0; i < 8; ++i) disk.time[i] = static_cast<uint8_t>(time >> (8 * i));
  PutText(disk.text1, record.text1);
  PutText(disk.text2, record.text2);
  return disk;
}

BackupLogRecord DecodeLogRecord(const BackupLogRecordDisk& disk) {
  BackupLogRecord record;
  record.code1 = disk.code1;
  record.code2 = disk.code2;
  uint64_t time = 0;
  for (int i = 0; i < 8; ++i) time |= static_cast<uint64_t>(disk.time[i]) << (8 * i);
  record.time = static_cast<int64_t>(time);
  record.text1 = GetText(disk.text1);
  record.text2 = GetText(disk.text2);
  return record;
}

bool WriteBackupLogRecord(uint8_t code1, uint8_t code2, const CString& text1, const CString& text2) {
  CurrentLogRecord.code1 = code1;
  CurrentLogRecord.code2 = code2;
  CurrentLogRecord.text1 = text1.Left(kLogTextChars);
  CurrentLogRecord.text2 = text2.Left(kLogTextChars);
  CurrentLogRecord.time = CTime::GetCurrentTime().GetTime();
  const BackupLogRecordDisk disk = EncodeLogRecord(CurrentLogRecord);
  const CString path = LogFolder + u"\\yarv.log";
  CFILE* file = _wfopen(path, u"ab+");
  if (!file) return false;
  const bool written = fwrite(&disk, sizeof disk, 1, file) == 1;
  fclose(file);
  return written;
}

BOOL WriteIniValue(const CString& section, const CString& key, const CString& value, const CString& file) {
  return WritePrivateProfileStringW(section, key, value, file);
}

CString BytesToHex(const std::array<uint8_t, 32>& bytes) {
  char text[65] = {};
  for (size_t i = 0; i < bytes.size(); ++i) std::snprintf(text + 2 * i, 3, "%.2x", bytes[i]);
  return CString(text);
}

CString TextBeforeDot(const CString& text) {
  const int dot = text.Find(u'.');
  return dot < 0 ? CString() : text.Left(dot);
}

CString StemLessOne(const CString& text) {
  const int dot = text.Find(u'.', 1);
  return dot < 1 ? CString() : text.Left(dot - 1);
}

CString NthQuestionField(const CString& text, int n) {
  if (n < 1) return CString();
  int start = 0;
  for (int field = 1; field < n; ++field) {
    const int mark = text.Find(u'?', start);
    if (mark < 0) return CString();
    start = mark + 1;
  }
  const int end = text.Find(u'?', start);
  return end < 0 ? text.Mid(start) : text.Mid(start, end - start);
}

CString ArchiveNameOfVolume(const CString& name) {
  if (name.GetLength() <= 6) return CString();
  const int underscore = name.Find(u'_', 6);
  return underscore < 0 ? CString() : name.Mid(5, underscore - 5);
}

CString TrimmedText(const CString& text) {
  CString copy = text;
  return copy.Trim();
}

size_t WideLowBytes(const CString& text, uint8_t* buffer, size_t size) {
  const size_t n = std::min(static_cast<size_t>(text.GetLength()), size);
  for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<uint8_t>(text[static_cast<int>(i)] & 0xFF);
  return n;
}

CString FsNameWithCode(int code) {
  CString name;
  switch (code) {
    case -1: name = u"RAW"; break;
    case 1: case 4: case 6: case 14: case 30: name = u"FAT16"; break;
    case 7: name = u"NTFS"; break;
    case 11: case 12: case 27: case 28: name = u"FAT32"; break;
    case 131: name = u"LINUX"; break;
    default: name = LookupString(u"IDS_UNKNOWN");
  }
  return name + u"(" + CString(std::to_string(code).c_str()) + u")";
}

bool IsPartitionActiveAt(int32_t disk, uint32_t startSector) {
  WCHAR path[64] = {};
  const std::u16string name = u"\\\\.\\PhysicalDrive" + CString(std::to_string(disk).c_str()).str();
  std::char_traits<char16_t>::copy(path, name.c_str(), std::min<size_t>(name.size(), 63));
  HANDLE device = OpenFileRead(path);
  if (device == INVALID_HANDLE_VALUE) return false;
  uint8_t sector[512] = {};
  const bool read = ReadFileBytes(device, sizeof sector, sector) == sizeof sector;
  CloseHandle(device);
  if (!read || sector[510] != 0x55 || sector[511] != 0xAA) return false;
  for (int entry = 0; entry < 4; ++entry) {
    const uint8_t* e = sector + 446 + 16 * entry;
    const uint32_t start = static_cast<uint32_t>(e[8] | (e[9] << 8) | (e[10] << 16) | (static_cast<uint32_t>(e[11]) << 24));
    if (start == startSector) return e[0] == 0x80;
  }
  return false;
}
