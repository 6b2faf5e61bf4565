// The few UDF (ECMA-167) structures the extractor reads, decoded from one
// 2048-byte block with every field checked against the block it lies in.
// Offsets are within the block; all integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t kUdfBlockSize = 2048;
// The volume recognition sequence starts at byte 32768 (block 16).
inline constexpr uint64_t kUdfRecognitionStart = 32768;
// The anchor volume descriptor pointer the extractor uses.
inline constexpr uint32_t kUdfAnchorBlock = 256;

// Tag identifiers (bytes 0-1 of every descriptor).
inline constexpr uint16_t kUdfTagPrimaryVolume = 1;
inline constexpr uint16_t kUdfTagAnchor = 2;
inline constexpr uint16_t kUdfTagPartition = 5;
inline constexpr uint16_t kUdfTagLogicalVolume = 6;
inline constexpr uint16_t kUdfTagTerminating = 8;
inline constexpr uint16_t kUdfTagFileIdentifier = 257;
inline constexpr uint16_t kUdfTagFileEntry = 261;
inline constexpr uint16_t kUdfTagExtendedFileEntry = 266;

// The implementation identifier the kit's images carry, compared from its
// second character ("*Microsoft CDIMAGE UDF" with the leading '*' skipped,
// 20 bytes at offsets 390-409 of the primary volume descriptor).
inline constexpr char kUdfKitImplementation[] = "Microsoft CDIMAGE UD";
inline constexpr size_t kUdfImplementationOffset = 390;
inline constexpr size_t kUdfImplementationLength = 20;

uint16_t UdfTagId(const uint8_t* block);

// Anchor volume descriptor pointer: +16 main sequence length (bytes), +20 its block.
struct UdfAnchor {
  uint32_t sequenceLength = 0;
  uint32_t sequenceBlock = 0;
};
UdfAnchor ReadUdfAnchor(const uint8_t block[kUdfBlockSize]);

// Partition descriptor: +188 starting block, +192 length in blocks.
struct UdfPartition {
  uint32_t start = 0;
  uint32_t length = 0;
};
UdfPartition ReadUdfPartition(const uint8_t block[kUdfBlockSize]);

// Logical volume descriptor: +248 long_ad of the file set descriptor (+252
// its block within the partition).
uint32_t ReadUdfFileSetLocation(const uint8_t block[kUdfBlockSize]);

// How a file entry records where its data lies (ICB tag flags, bits 0-2).
enum class UdfAllocation : uint8_t {
  kShort = 0,     // 8-byte descriptors: +0 length, +4 block
  kLong = 1,      // 16-byte descriptors: +0 length, +4 block, +8 partition
  kExtended = 2,  // not written by the tools the kit's images come from
  kEmbedded = 3,  // the data itself lies where the descriptors would
};

// One run of a file's data, relative to the partition start.
struct UdfExtent {
  uint32_t length = 0;   // bytes (the low 30 bits of the descriptor's length)
  uint32_t block = 0;
  bool recorded = true;  // false: allocated or unallocated, reads as zeros
};

// A file entry (tag 261) or extended file entry (tag 266), checked: the
// extended attributes and the allocation descriptors lie inside the block.
//   FE:  +56 information length (64), +168 L_EA, +172 L_AD, +176 EA then AD
//   EFE: +56 information length (64), +208 L_EA, +212 L_AD, +216 EA then AD
//   ICB tag: +16, its flags at +34.
struct UdfFileEntry {
  uint64_t size = 0;
  UdfAllocation allocation = UdfAllocation::kShort;
  uint32_t descriptorsOffset = 0;  // within the block
  uint32_t descriptorsLength = 0;
  uint8_t fileType = 0;            // ICB tag +11: 4 directory, 5 file, 12 symlink
};
// False (with *why set to a short reason) for a block that is no file entry
// or whose fields do not fit.
bool ReadUdfFileEntry(const uint8_t block[kUdfBlockSize], UdfFileEntry* entry, const char** why);

// A file identifier descriptor at `offset` of a directory's bytes:
//   +0 tag (257), +18 characteristics (bit 1 directory, bit 2 deleted,
//   bit 3 parent), +19 L_FI, +20 long_ad of the entry's ICB (+24 its block),
//   +36 L_IU, +38 implementation use, then the identifier; padded to 4.
struct UdfFileIdentifier {
  uint8_t characteristics = 0;
  uint8_t nameLength = 0;
  uint32_t icbBlock = 0;
  uint32_t nameOffset = 0;   // within the directory's bytes
  uint32_t totalLength = 0;  // the descriptor with its padding
};
inline constexpr uint8_t kUdfFidDirectory = 0x02;
inline constexpr uint8_t kUdfFidDeleted = 0x04;
inline constexpr uint8_t kUdfFidParent = 0x08;
// False when no descriptor with tag 257 lies wholly inside [offset, size).
bool ReadUdfFileIdentifier(const uint8_t* bytes, size_t size, size_t offset, UdfFileIdentifier* fid);
