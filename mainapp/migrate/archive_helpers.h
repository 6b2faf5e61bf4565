// Small helpers Drummetworks shares with the backup product whose restore
// build is Yarv: the writer of the backup log "yarv.log", hexadecimal, text
// and INI helpers, and the partition-active test.
#pragma once

#include <array>
#include <cstdint>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// One record of "yarv.log" (no header, records back to back).
#pragma pack(push, 1)
struct BackupLogRecordDisk {
  uint8_t code1;        // +0x000
  uint8_t code2;        // +0x001
  uint8_t reserved;     // +0x002 always 0
  uint8_t time[8];      // +0x003 signed seconds since 1970-01-01 UTC, little-endian
  uint8_t text1[256];   // +0x00b UTF-16LE, 128 characters, 0-terminated when shorter
  uint8_t text2[256];   // +0x10b the same
};                      // 0x20b = 523 bytes
#pragma pack(pop)
static_assert(sizeof(BackupLogRecordDisk) == 523);
static_assert(offsetof(BackupLogRecordDisk, time) == 3);
static_assert(offsetof(BackupLogRecordDisk, text2) == 267);

constexpr int kLogTextChars = 128;

struct BackupLogRecord {
  uint8_t code1 = 0;
  uint8_t code2 = 0;
  int64_t time = 0;
  CString text1;
  CString text2;
};

// The folder of "yarv.log"; nothing in Drummetworks sets it.
extern CString LogFolder;
extern BackupLogRecord CurrentLogRecord;

// Start-up constructors of the three records: each sets its time to 0.
void InitArchiveVolumeRecord();
void InitLogRecord();
void InitTimeRecord();

// Fills the record (texts cut to 128 characters, time now) and appends its
// 523 bytes to LogFolder + "\yarv.log"; false when the file cannot be written.
bool WriteBackupLogRecord(uint8_t code1, uint8_t code2, const CString& text1, const CString& text2);
// The disk form of a record and back; the reader takes each text up to its
// terminator or the end of its field.
BackupLogRecordDisk EncodeLogRecord(const BackupLogRecord& record);
BackupLogRecord DecodeLogRecord(const BackupLogRecordDisk& disk);

BOOL WriteIniValue(const CString& section, const CString& key, const CString& value, const CString& file);
// 64 lower-case hexadecimal characters of 32 bytes.
CString BytesToHex(const std::array<uint8_t, 32>& bytes);
// The text before the first "."; empty when there is none.
CString TextBeforeDot(const CString& text);
// The text before the character that precedes the first "." found from the
// second character on; empty when there is no such dot.
CString StemLessOne(const CString& text);
// The n-th "?"-separated field (1-based); empty for n below 1 or past the last.
CString NthQuestionField(const CString& text, int n);
// Characters from position 5 up to the first "_" from position 6 on; empty
// when the name is too short or has no such "_".
CString ArchiveNameOfVolume(const CString& volumeFileName);
CString TrimmedText(const CString& text);
// The low byte of every character into `buffer` of `size` bytes (no
// terminator); returns the bytes written (at most size).
size_t WideLowBytes(const CString& text, uint8_t* buffer, size_t size);
// "NTFS(7)", "FAT32(12)", "RAW(-1)", IDS_UNKNOWN for other codes.
CString FsNameWithCode(int code);
// Whether the MBR entry of disk `disk` that starts at `startSector` is
// marked active (0x80); false when there is none or the disk cannot be read.
bool IsPartitionActiveAt(int32_t disk, uint32_t startSector);
