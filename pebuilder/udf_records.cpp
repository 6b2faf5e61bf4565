#include "pebuilder/udf_records.h"

#include "platform/core/little_endian.h"

uint16_t UdfTagId(const uint8_t* block) { return platform::ReadLe16(block); }

UdfAnchor ReadUdfAnchor(const uint8_t block[kUdfBlockSize]) {
  return UdfAnchor{platform::ReadLe32(block + 16), platform::ReadLe32(block + 20)};
}

UdfPartition ReadUdfPartition(const uint8_t block[kUdfBlockSize]) {
  return UdfPartition{platform::ReadLe32(block + 188), platform::ReadLe32(block + 192)};
}

uint32_t ReadUdfFileSetLocation(const uint8_t block[kUdfBlockSize]) { return platform::ReadLe32(block + 252); }

bool ReadUdfFileEntry(const uint8_t block[kUdfBlockSize], UdfFileEntry* entry, const char** why) {
  uint16_t tag = UdfTagId(block);
  uint32_t fieldsAt = 0;
  if (tag == kUdfTagFileEntry) {
    fieldsAt = 168;
  } else if (tag == kUdfTagExtendedFileEntry) {
    fieldsAt = 208;
  } else {
    *why = "no file entry";
    return false;
  }
  uint32_t eaLength = platform::ReadLe32(block + fieldsAt);
  uint32_t adLength = platform::ReadLe32(block + fieldsAt + 4);
  uint32_t start = fieldsAt + 8;
  // Compared with what remains, so that no sum can wrap.
  if (eaLength > kUdfBlockSize - start || adLength > kUdfBlockSize - start - eaLength) [[unlikely]] {
    *why = "extended attributes or allocation descriptors past the block";
    return false;
  }
  entry->size = platform::ReadLe64(block + 56);
  entry->allocation = static_cast<UdfAllocation>(block[34] & 0x07);
  entry->fileType = block[27];
  entry->descriptorsOffset = start + eaLength;
  entry->descriptorsLength = adLength;
  if (entry->allocation != UdfAllocation::kShort && entry->allocation != UdfAllocation::kLong &&
      entry->allocation != UdfAllocation::kEmbedded) [[unlikely]] {
    *why = "unsupported allocation descriptor kind";
    return false;
  }
  return true;
}

bool ReadUdfFileIdentifier(const uint8_t* bytes, size_t size, size_t offset, UdfFileIdentifier* fid) {
  constexpr size_t kFixed = 38;
  if (offset > size || size - offset < kFixed) return false;
  const uint8_t* p = bytes + offset;
  if (UdfTagId(p) != kUdfTagFileIdentifier) return false;
  uint32_t nameLength = p[19];
  uint32_t useLength = platform::ReadLe16(p + 36);
  uint32_t total = (kFixed + useLength + nameLength + 3) & ~3u;
  if (total > size - offset) return false;
  fid->characteristics = p[18];
  fid->nameLength = static_cast<uint8_t>(nameLength);
  fid->icbBlock = platform::ReadLe32(p + 24);
  fid->nameOffset = static_cast<uint32_t>(offset + kFixed + useLength);
  fid->totalLength = total;
  return true;
}
