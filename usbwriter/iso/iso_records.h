// ISO 9660 and El Torito records as they lie in an image: volume
// descriptors, directory records, the boot catalog's default entry, and the
// decoding of a directory record's identifier into a file name. Pure parsing
// over byte buffers: every parser is told how many bytes it may look at and
// refuses a record that would reach past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/core/cstring.h"

inline constexpr uint32_t kIsoBlockSize = 2048;
// The first volume descriptor lies at block 16.
inline constexpr uint64_t kIsoFirstDescriptorOffset = 16 * kIsoBlockSize;
inline constexpr char kIsoStandardId[] = "CD001";  // bytes 1-5 of every descriptor

enum IsoDescriptorType : uint8_t {
  kIsoBootRecord = 0,
  kIsoPrimaryDescriptor = 1,
  kIsoSupplementaryDescriptor = 2,
  kIsoPartitionDescriptor = 3,
  kIsoTerminator = 255,
};

// Directory record (ISO 9660 9.1); both-endian fields are read from their
// little-endian half.
//   +0   record length          +1  extended attribute record length
//   +2   extent block (LE 32)   +10 data length (LE 32)
//   +18  recording date (7)     +25 flags
//   +28  volume sequence number (LE 16)
//   +32  identifier length      +33 identifier
inline constexpr size_t kIsoDirectoryRecordMin = 34;  // 33 fixed bytes and a 1-byte identifier
inline constexpr uint8_t kIsoFlagHidden = 0x01;
inline constexpr uint8_t kIsoFlagDirectory = 0x02;

struct IsoDirectoryRecord {
  uint8_t recordLength = 0;
  uint8_t extendedAttributeLength = 0;
  uint32_t extentBlock = 0;
  uint32_t dataLength = 0;
  uint8_t recordingDate[7] = {};  // years since 1900, month, day, hour, minute, second, zone
  uint8_t flags = 0;
  uint16_t volumeSequenceNumber = 0;
  uint8_t identifierLength = 0;
  uint8_t identifier[255] = {};
};

// Parses the record at `position` of `size` bytes. A record length byte of 0
// (padding up to the next block) parses with recordLength 0 and true. False
// when the record's fixed part, its stated length or its identifier would
// reach past `size` or past the record itself.
bool ParseDirectoryRecord(const uint8_t* buffer, size_t size, size_t position, IsoDirectoryRecord* record);

// What a primary or supplementary descriptor holds for the walk.
//   +1  "CD001"  +8 system id  +40 volume id (32)  +80 volume space size (LE 32)
//   +88 escape sequences (32, supplementary only)  +120 volume set size (LE 16)
//   +124 volume sequence number (LE 16)  +128 logical block size (LE 16)
//   +140 type-L path table block (LE 32)  +156 root directory record (34)
struct IsoVolumeDescriptor {
  uint32_t volumeSpaceSize = 0;
  uint16_t volumeSetSize = 0;
  uint16_t volumeSequenceNumber = 0;
  uint16_t logicalBlockSize = 0;
  uint32_t pathTableBlock = 0;
  IsoDirectoryRecord root;
};
void ParseVolumeDescriptor(const uint8_t descriptor[kIsoBlockSize], IsoVolumeDescriptor* out);

// True for a supplementary descriptor that announces Joliet (UCS-2 level 1,
// 2 or 3 escape sequence "%/@", "%/C" or "%/E" at byte 88). Other
// supplementary descriptors carry names in an encoding the reader does not
// know and are passed over.
bool IsJolietDescriptor(const uint8_t descriptor[kIsoBlockSize]);

// The boot record's catalog block (LE 32 at byte 71).
uint32_t BootCatalogBlock(const uint8_t descriptor[kIsoBlockSize]);

// The boot catalog's default entry (32 bytes at catalog byte 32).
//   +1 media type (low nibble)  +2 load segment (LE 16)  +6 sector count (LE 16)
//   +8 load block (LE 32)
struct ElToritoBootEntry {
  uint8_t mediaType = 0;
  uint16_t loadSegment = 0;
  uint16_t sectorCount = 0;
  uint32_t loadBlock = 0;
};
void ParseBootEntry(const uint8_t catalog[kIsoBlockSize], ElToritoBootEntry* out);

// Windows boot loader names in a boot image: the zero-terminated strings from
// byte 405 on, as long as they end inside the first 512 bytes (and inside the
// image). "BOOTMGR" wins over "CDBOOT".
struct WindowsLoaderNames {
  bool bootmgr = false;
  bool cdboot = false;
};
WindowsLoaderNames FindWindowsLoaderNames(const uint8_t* image, size_t size);

// The name a directory record's identifier stands for, or an empty text when
// the record must not become a file (".", "..", or a name that would leave
// its folder: separators, a drive colon, control characters).
//  - Joliet: UCS-2 big-endian units (an odd trailing byte is dropped);
//  - otherwise a first byte 0x83 is code page 932 (Shift-JIS), any other
//    byte stands for the character of the same value (ISO 8859-1).
// The version suffix (";1") is removed, and for plain ISO 9660 names the dot
// that a name without an extension carries ("NOEXT.").
CString DecodeIsoName(const uint8_t* identifier, size_t length, bool joliet);

// Code page 932 of the bytes up to the first zero (or `length`).
CString ConvertShiftJisName(const uint8_t* text, size_t length);
