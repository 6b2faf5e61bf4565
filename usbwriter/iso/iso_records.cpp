#include "usbwriter/iso/iso_records.h"

#include <cstring>
#include <vector>

#include "platform/core/code_page.h"
#include "platform/core/little_endian.h"

namespace {

constexpr size_t kRootRecordOffset = 156;
constexpr size_t kRootRecordSize = 34;
constexpr size_t kLoaderScanStart = 405;
constexpr size_t kLoaderScanEnd = 512;

// Removes ";digits" at the end of a name (the file version).
void StripVersion(std::u16string* name) {
  size_t semicolon = name->rfind(u';');
  if (semicolon == std::u16string::npos) return;
  for (size_t i = semicolon + 1; i < name->size(); ++i) {
    if ((*name)[i] < u'0' || (*name)[i] > u'9') return;
  }
  name->resize(semicolon);
}

bool IsSafeName(const std::u16string& name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u':') return false;
  }
  return true;
}

bool Contains(const uint8_t* text, size_t length, const char* word) {
  size_t n = strlen(word);
  for (size_t i = 0; i + n <= length; ++i) {
    if (memcmp(text + i, word, n) == 0) return true;
  }
  return false;
}

// Looks for `word` in the strings from byte 405 on (see FindWindowsLoaderNames).
bool LoaderStringsContain(const uint8_t* image, size_t size, const char* word) {
  size_t end = size < kLoaderScanEnd ? size : kLoaderScanEnd;
  // A string may fill the sector up to byte 511; its terminating zero then
  // lies at byte 512, past the sector (or the image ends there).
  const size_t search_end = size < kLoaderScanEnd + 1 ? size : kLoaderScanEnd + 1;
  size_t position = kLoaderScanStart;
  while (position < end) {
    const void* zero = memchr(image + position, 0, search_end - position);
    size_t length = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - (image + position))
                         : search_end - position;
    if (length > kLoaderScanEnd - position) return false;  // the string would reach past byte 511
    if (length == 0) return false;
    if (Contains(image + position, length, word)) return true;
    position += length + 1;
  }
  return false;
}

}  // namespace

bool ParseDirectoryRecord(const uint8_t* buffer, size_t size, size_t position, IsoDirectoryRecord* record) {
  *record = IsoDirectoryRecord{};
  if (position >= size) return false;
  const uint8_t* p = buffer + position;
  size_t remaining = size - position;
  record->recordLength = p[0];
  if (record->recordLength == 0) return true;
  if (record->recordLength < kIsoDirectoryRecordMin - 1 || record->recordLength > remaining) return false;
  record->extendedAttributeLength = p[1];
  record->extentBlock = platform::ReadLe32(p + 2);
  record->dataLength = platform::ReadLe32(p + 10);
  memcpy(record->recordingDate, p + 18, sizeof(record->recordingDate));
  record->flags = p[25];
  record->volumeSequenceNumber = platform::ReadLe16(p + 28);
  record->identifierLength = p[32];
  if (33u + record->identifierLength > record->recordLength) return false;
  memcpy(record->identifier, p + 33, record->identifierLength);
  return true;
}

void ParseVolumeDescriptor(const uint8_t descriptor[kIsoBlockSize], IsoVolumeDescriptor* out) {
  out->volumeSpaceSize = platform::ReadLe32(descriptor + 80);
  out->volumeSetSize = platform::ReadLe16(descriptor + 120);
  out->volumeSequenceNumber = platform::ReadLe16(descriptor + 124);
  out->logicalBlockSize = platform::ReadLe16(descriptor + 128);
  out->pathTableBlock = platform::ReadLe32(descriptor + 140);
  if (!ParseDirectoryRecord(descriptor + kRootRecordOffset, kRootRecordSize, 0, &out->root)) {
    out->root = IsoDirectoryRecord{};
  }
}

bool IsJolietDescriptor(const uint8_t descriptor[kIsoBlockSize]) {
  const uint8_t* escape = descriptor + 88;
  return escape[0] == '%' && escape[1] == '/' && (escape[2] == '@' || escape[2] == 'C' || escape[2] == 'E');
}

uint32_t BootCatalogBlock(const uint8_t descriptor[kIsoBlockSize]) { return platform::ReadLe32(descriptor + 71); }

void ParseBootEntry(const uint8_t catalog[kIsoBlockSize], ElToritoBootEntry* out) {
  const uint8_t* entry = catalog + 32;
  out->mediaType = entry[1] & 0x0F;
  out->loadSegment = platform::ReadLe16(entry + 2);
  out->sectorCount = platform::ReadLe16(entry + 6);
  out->loadBlock = platform::ReadLe32(entry + 8);
}

WindowsLoaderNames FindWindowsLoaderNames(const uint8_t* image, size_t size) {
  WindowsLoaderNames names;
  names.bootmgr = LoaderStringsContain(image, size, "BOOTMGR");
  if (!names.bootmgr) names.cdboot = LoaderStringsContain(image, size, "CDBOOT");
  return names;
}

CString ConvertShiftJisName(const uint8_t* text, size_t length) {
  const void* zero = memchr(text, 0, length);
  if (zero) length = static_cast<const uint8_t*>(zero) - text;
  if (length == 0) return CString();
  std::vector<WCHAR> wide(length + 1, 0);
  int n = MultiByteToWideChar(932, 0, reinterpret_cast<const char*>(text), static_cast<int>(length), wide.data(),
                              static_cast<int>(wide.size()));
  if (n <= 0) return CString();
  return CString(wide.data(), n);
}

CString DecodeIsoName(const uint8_t* identifier, size_t length, bool joliet) {
  if (length == 0) return CString();
  // "." and ".." are the one-byte identifiers 0 and 1.
  if (length == 1 && identifier[0] <= 1) return CString();
  std::u16string name;
  if (joliet) {
    for (size_t i = 0; i + 1 < length; i += 2) {
      name += static_cast<char16_t>(identifier[i] << 8 | identifier[i + 1]);
    }
    StripVersion(&name);
  } else {
    if (identifier[0] == 0x83) {
      name = ConvertShiftJisName(identifier, length).str();
    } else {
      for (size_t i = 0; i < length; ++i) name += static_cast<char16_t>(identifier[i]);
    }
    StripVersion(&name);
    if (name.size() > 1 && name.back() == u'.') name.pop_back();
  }
  // A zero unit ends the name.
  size_t zero = name.find(u'\0');
  if (zero != std::u16string::npos) name.resize(zero);
  if (!IsSafeName(name)) return CString();
  return CString(name);
}
