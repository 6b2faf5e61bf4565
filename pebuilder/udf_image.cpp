#include "pebuilder/udf_image.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "platform/core/kobject.h"
#include "platform/core/little_endian.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "pebuilder/udf_records.h"

uint32_t ExtractedBlockCount = 0;
CString KitExtractFolder;

namespace {

// Files are streamed through a buffer of this size; a multiple of the block.
constexpr uint32_t kStreamBytes = 1u << 20;
// Where the output copies from the image itself, it copies an extent in
// pieces of this size: large transfers, and the progress still moves within
// a large file.
constexpr uint32_t kCopyPieceBytes = 64u << 20;
// The main volume descriptor sequence is a handful of blocks; a longer one
// is walked no further than this.
constexpr uint32_t kMaxSequenceBlocks = 1024;
// Budgets of one extraction, relative to the image: a file identifier takes
// at least 40 bytes of a directory, so an image cannot name more entries
// than its size allows; directories are read from the image once each, so
// together they are no larger than it; files may share their data (an image
// tool stores duplicate files once), so what they come to may exceed the
// image, but not by more than this factor (plus a little room for tiny
// images). Damage beyond these stops the extraction.
constexpr uint64_t kMinIdentifierBytes = 40;
constexpr uint64_t kOutputFactor = 8;
constexpr uint64_t kOutputSlack = 64ull << 20;

const char* const kResultTexts[] = {
    "extracted",
    "no anchor volume descriptor at block 256",
    "the image was not written by the kit's image tool",
    "a structure lies beyond the end of the image",
    "the image is damaged",
    "a name in the image would leave the target folder",
    "a folder or file could not be written",
};

// Files and folders through the platform's file calls. Files are created
// without write-through: the extraction is one sequential pass per file.
class PlatformOutput : public UdfOutput {
 public:
  ~PlatformOutput() override { EndFile(); }
  bool MakeFolder(const CString& path) override {
    return CreateDirectoryW(path, nullptr) || GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
  }
  bool BeginFile(const CString& path) override {
    EndFile();
    file_ = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        CREATE_ALWAYS, 0, nullptr);
    return file_ != INVALID_HANDLE_VALUE;
  }
  bool Write(const uint8_t* data, uint32_t count) override {
    while (count) {
      DWORD done = 0;
      if (!WriteFile(file_, data, count, &done, nullptr) || done == 0) return false;
      data += done;
      count -= done;
    }
    return true;
  }
  Copy CopyFromImage(HANDLE image, uint64_t offset, uint32_t count) override {
    DWORD done = 0;
    if (platform::fs::CopyFileRange(image, offset, file_, count, &done)) return done == count ? Copy::kDone : Copy::kFailed;
    return done == 0 && GetLastError() == ERROR_NOT_SUPPORTED ? Copy::kUnsupported : Copy::kFailed;
  }
  void EndFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

class UdfExtractor {
 public:
  UdfExtractor(UdfExtractPage* page, HANDLE image, UdfOutput* output)
      : page_(page), image_(image), output_(output ? output : &platformOutput_) {}

  UdfExtraction Run(const CString& folder);

 private:
  bool Fail(UdfResult result, std::string detail) {
    if (out_.result == UdfResult::kOk) {
      out_.result = result;
      out_.detail = std::move(detail);
    }
    return false;
  }
  bool Failed() const { return out_.result != UdfResult::kOk; }

  bool ReadAt(uint64_t offset, void* buffer, uint32_t count);
  bool ReadImageBlock(uint64_t block, uint8_t* buffer, const char* what);
  bool CheckRun(uint32_t block, uint64_t bytes, const char* what);
  bool ReadPartitionBlock(uint32_t block, uint8_t* buffer, const char* what);
  bool ReadEntry(uint32_t block, uint8_t* buffer, UdfFileEntry* entry);
  bool Extents(const uint8_t* entryBlock, const UdfFileEntry& entry, std::vector<UdfExtent>* extents);
  bool ReadDirectory(const uint8_t* entryBlock, const UdfFileEntry& entry, std::vector<uint8_t>* bytes);
  bool ExtractDirectory(uint32_t icbBlock, const CString& folder, int depth);
  bool ExtractFile(uint32_t icbBlock, const CString& path);
  bool WriteAll(const uint8_t* data, uint32_t count, const CString& path);
  void CountWritten(uint64_t before, uint64_t after);

  UdfExtractPage* page_;
  HANDLE image_;
  PlatformOutput platformOutput_;
  UdfOutput* output_;
  uint64_t imageSize_ = 0;
  UdfPartition partition_;
  std::set<uint32_t> extractedDirectories_;  // ICBs of every directory entered so far
  uint64_t entriesLeft_ = 0;         // files and folders this image may still name
  uint64_t directoryBytesLeft_ = 0;  // directory bytes it may still hold
  uint64_t outputBytesLeft_ = 0;     // file bytes it may still give
  std::vector<uint8_t> stream_;
  bool hostCopies_ = true;  // the output has not refused a host copy yet
  UdfExtraction out_;
};

bool UdfExtractor::ReadAt(uint64_t offset, void* buffer, uint32_t count) {
  if (offset > imageSize_ || count > imageSize_ - offset) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(image_, to, nullptr, FILE_BEGIN)) return false;
  auto* p = static_cast<uint8_t*>(buffer);
  while (count) {
    DWORD got = 0;
    if (!ReadFile(image_, p, count, &got, nullptr) || got == 0) return false;
    p += got;
    count -= got;
  }
  return true;
}

bool UdfExtractor::ReadImageBlock(uint64_t block, uint8_t* buffer, const char* what) {
  if (!ReadAt(block * kUdfBlockSize, buffer, kUdfBlockSize)) {
    return Fail(UdfResult::kReadFailed, std::string(what) + " at block " + std::to_string(block));
  }
  return true;
}

// A run of `bytes` from partition block `block` must lie inside the partition.
bool UdfExtractor::CheckRun(uint32_t block, uint64_t bytes, const char* what) {
  uint64_t blocks = (bytes + kUdfBlockSize - 1) / kUdfBlockSize;
  if (block >= partition_.length || blocks > partition_.length - block) {
    return Fail(UdfResult::kDamaged, std::string(what) + " at partition block " + std::to_string(block) +
                                         " runs past the partition's " + std::to_string(partition_.length) +
                                         " blocks");
  }
  return true;
}

bool UdfExtractor::ReadPartitionBlock(uint32_t block, uint8_t* buffer, const char* what) {
  if (!CheckRun(block, kUdfBlockSize, what)) return false;
  return ReadImageBlock(static_cast<uint64_t>(partition_.start) + block, buffer, what);
}

bool UdfExtractor::ReadEntry(uint32_t block, uint8_t* buffer, UdfFileEntry* entry) {
  if (!ReadPartitionBlock(block, buffer, "file entry")) return false;
  const char* why = "";
  if (!ReadUdfFileEntry(buffer, entry, &why)) {
    return Fail(UdfResult::kDamaged, std::string(why) + " at partition block " + std::to_string(block));
  }
  return true;
}

// The recorded runs of an entry with short or long descriptors. A
// descriptor of length 0 ends the list; continuation extents (type 3),
// which only very large files need, and extents without recorded data
// (types 1 and 2) are refused.
bool UdfExtractor::Extents(const uint8_t* entryBlock, const UdfFileEntry& entry, std::vector<UdfExtent>* extents) {
  uint32_t step = entry.allocation == UdfAllocation::kShort ? 8 : 16;
  const uint8_t* p = entryBlock + entry.descriptorsOffset;
  uint64_t covered = 0;
  for (uint32_t at = 0; at + step <= entry.descriptorsLength && covered < entry.size; at += step) {
    uint32_t raw = platform::ReadLe32(p + at);
    UdfExtent extent{raw & 0x3FFFFFFFu, platform::ReadLe32(p + at + 4), (raw >> 30) == 0};
    if (extent.length == 0) break;
    if ((raw >> 30) == 3) return Fail(UdfResult::kDamaged, "continued allocation descriptors are not read");
    // The kit's image tool records every extent it writes; an extent without
    // recorded data would stand for bytes the image does not hold.
    if (!extent.recorded) {
      return Fail(UdfResult::kDamaged, "an extent of " + std::to_string(extent.length) +
                                           " bytes without recorded data (type " + std::to_string(raw >> 30) + ")");
    }
    if (!CheckRun(extent.block, extent.length, "extent")) return false;
    extents->push_back(extent);
    covered += extent.length;
  }
  if (covered < entry.size) {
    return Fail(UdfResult::kDamaged, "extents cover " + std::to_string(covered) + " of " +
                                         std::to_string(entry.size) + " bytes");
  }
  return true;
}

bool UdfExtractor::ReadDirectory(const uint8_t* entryBlock, const UdfFileEntry& entry, std::vector<uint8_t>* bytes) {
  if (entry.size > kUdfMaxDirectoryBytes || entry.size > directoryBytesLeft_) {
    return Fail(UdfResult::kDamaged, "directory of " + std::to_string(entry.size) + " bytes, more than the image holds");
  }
  directoryBytesLeft_ -= entry.size;
  if (entry.allocation == UdfAllocation::kEmbedded) {
    if (entry.size > entry.descriptorsLength) return Fail(UdfResult::kDamaged, "embedded directory too long");
    bytes->assign(entryBlock + entry.descriptorsOffset, entryBlock + entry.descriptorsOffset + entry.size);
    return true;
  }
  std::vector<UdfExtent> extents;
  if (!Extents(entryBlock, entry, &extents)) return false;
  bytes->assign(entry.size, 0);
  uint64_t at = 0;
  for (const UdfExtent& extent : extents) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(extent.length, entry.size - at));
    if (!ReadAt((static_cast<uint64_t>(partition_.start) + extent.block) * kUdfBlockSize, bytes->data() + at, n)) {
      return Fail(UdfResult::kReadFailed, "directory extent at partition block " + std::to_string(extent.block));
    }
    at += n;
    if (at == entry.size) break;
  }
  return true;
}

void UdfExtractor::CountWritten(uint64_t before, uint64_t after) {
  uint64_t whole = after / kUdfBlockSize - before / kUdfBlockSize;
  if (whole == 0) return;
  ExtractedBlockCount += static_cast<uint32_t>(whole);
  if (page_) page_->SetProgressPosition(ExtractedBlockCount);
}

bool UdfExtractor::WriteAll(const uint8_t* data, uint32_t count, const CString& path) {
  if (!output_->Write(data, count)) return Fail(UdfResult::kWriteFailed, "cannot write " + platform::to_utf8(path.str()));
  return true;
}

bool UdfExtractor::ExtractFile(uint32_t icbBlock, const CString& path) {
  uint8_t block[kUdfBlockSize];
  UdfFileEntry entry;
  if (!ReadEntry(icbBlock, block, &entry)) return false;
  std::vector<UdfExtent> extents;
  if (entry.allocation != UdfAllocation::kEmbedded && !Extents(block, entry, &extents)) return false;
  if (entry.allocation == UdfAllocation::kEmbedded && entry.size > entry.descriptorsLength) {
    return Fail(UdfResult::kDamaged, "embedded data longer than its entry at partition block " +
                                         std::to_string(icbBlock));
  }
  if (entry.size > outputBytesLeft_) {
    return Fail(UdfResult::kDamaged, "the files come to more than " + std::to_string(kOutputFactor) +
                                         " times the image's size");
  }
  outputBytesLeft_ -= entry.size;

  if (!output_->BeginFile(path)) {
    return Fail(UdfResult::kWriteFailed, "cannot create " + platform::to_utf8(path.str()));
  }
  if (page_) page_->ShowStatus(u"IDS_CREATEFILE", path);
  bool ok = true;
  uint64_t written = 0;
  if (entry.allocation == UdfAllocation::kEmbedded) {
    ok = WriteAll(block + entry.descriptorsOffset, static_cast<uint32_t>(entry.size), path);
    if (ok) CountWritten(0, entry.size);
  } else {
    for (const UdfExtent& extent : extents) {
      uint64_t left = std::min<uint64_t>(extent.length, entry.size - written);
      uint64_t source = (static_cast<uint64_t>(partition_.start) + extent.block) * kUdfBlockSize;
      while (ok && left) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(left, hostCopies_ ? kCopyPieceBytes : kStreamBytes));
        if (source > imageSize_ || n > imageSize_ - source) {
          ok = Fail(UdfResult::kReadFailed, "data of " + platform::to_utf8(path.str()) + " past the end of the image");
          break;
        }
        UdfOutput::Copy copy = hostCopies_ ? output_->CopyFromImage(image_, source, n) : UdfOutput::Copy::kUnsupported;
        if (copy == UdfOutput::Copy::kUnsupported) {
          // This output (or this pair of files) takes no host copies: the
          // bytes go through the buffer, for the rest of the extraction.
          hostCopies_ = false;
          n = static_cast<uint32_t>(std::min<uint64_t>(n, kStreamBytes));
          if (stream_.empty()) stream_.resize(kStreamBytes);
          if (!ReadAt(source, stream_.data(), n)) {
            ok = Fail(UdfResult::kReadFailed, "data of " + platform::to_utf8(path.str()) + " past the end of the image");
            break;
          }
          ok = WriteAll(stream_.data(), n, path);
        } else if (copy == UdfOutput::Copy::kFailed) {
          ok = Fail(UdfResult::kWriteFailed, "cannot write " + platform::to_utf8(path.str()));
        }
        CountWritten(written, written + n);
        written += n;
        source += n;
        left -= n;
      }
      if (!ok || written == entry.size) break;
    }
  }
  output_->EndFile();
  if (ok) ++out_.files;
  return ok;
}

bool UdfExtractor::ExtractDirectory(uint32_t icbBlock, const CString& folder, int depth) {
  if (depth > kUdfMaxDepth) return Fail(UdfResult::kDamaged, "folders nested deeper than " + std::to_string(kUdfMaxDepth));
  // Each directory is extracted once: one reached again (by its own
  // subfolder, a cycle, or by a second path) is damage, not a new folder.
  if (!extractedDirectories_.insert(icbBlock).second) {
    return Fail(UdfResult::kDamaged, "directory at partition block " + std::to_string(icbBlock) +
                                         " is reached a second time");
  }
  uint8_t block[kUdfBlockSize];
  UdfFileEntry entry;
  std::vector<uint8_t> bytes;
  bool ok = ReadEntry(icbBlock, block, &entry) && ReadDirectory(block, entry, &bytes);
  if (ok) {
    // An existing folder is fine: a second extraction writes over the first.
    if (!output_->MakeFolder(folder)) {
      ok = Fail(UdfResult::kWriteFailed, "cannot create folder " + platform::to_utf8(folder.str()));
    } else {
      ++out_.folders;
      if (page_) page_->ShowStatus(u"IDS_CREATEDIR", folder);
    }
  }
  UdfFileIdentifier fid;
  for (size_t at = 0; ok && ReadUdfFileIdentifier(bytes.data(), bytes.size(), at, &fid); at += fid.totalLength) {
    if (fid.characteristics & (kUdfFidParent | kUdfFidDeleted)) continue;
    if (fid.nameLength == 0) continue;
    if (entriesLeft_ == 0) {
      ok = Fail(UdfResult::kDamaged, "more entries than an image of this size can name");
      break;
    }
    --entriesLeft_;
    char16_t name[260] = {};
    int length = DecodeUdfName(fid.nameLength, bytes.data() + fid.nameOffset, name);
    std::u16string_view text(name, length > 0 ? static_cast<size_t>(length) : 0);
    if (!IsSafeUdfName(text)) {
      ok = Fail(UdfResult::kUnsafeName, "entry \"" + platform::to_utf8(text) + "\" in " +
                                            platform::to_utf8(folder.str()));
      break;
    }
    CString path = folder;
    path += u"\\";
    path += CString(std::u16string(text));
    ok = (fid.characteristics & kUdfFidDirectory) ? ExtractDirectory(fid.icbBlock, path, depth + 1)
                                                  : ExtractFile(fid.icbBlock, path);
  }
  return ok;
}

UdfExtraction UdfExtractor::Run(const CString& folder) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(image_, &size) || size.QuadPart < 0) {
    Fail(UdfResult::kReadFailed, "the image's size cannot be read");
    return out_;
  }
  imageSize_ = static_cast<uint64_t>(size.QuadPart);
  entriesLeft_ = imageSize_ / kMinIdentifierBytes;
  directoryBytesLeft_ = imageSize_;
  outputBytesLeft_ = imageSize_ * kOutputFactor + kOutputSlack;

  uint8_t block[kUdfBlockSize];
  if (!ReadAt(static_cast<uint64_t>(kUdfAnchorBlock) * kUdfBlockSize, block, kUdfBlockSize)) {
    Fail(UdfResult::kNoAnchor, "the image ends before block 257");
    return out_;
  }
  if (UdfTagId(block) != kUdfTagAnchor) {
    Fail(UdfResult::kNoAnchor, "tag " + std::to_string(UdfTagId(block)) + " at block 256");
    return out_;
  }
  UdfAnchor anchor = ReadUdfAnchor(block);
  uint32_t count = std::min(anchor.sequenceLength / kUdfBlockSize, kMaxSequenceBlocks);
  bool havePartition = false;
  uint32_t fileSetBlock = 0;
  // The walk goes on past the partition descriptor to the logical volume
  // descriptor, which names where the file set descriptor lies; images
  // without one have it at the partition's first block.
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadImageBlock(static_cast<uint64_t>(anchor.sequenceBlock) + i, block, "volume descriptor")) return out_;
    uint8_t tag = block[0];
    if (tag == kUdfTagPrimaryVolume) {
      if (memcmp(block + kUdfImplementationOffset, kUdfKitImplementation, kUdfImplementationLength) != 0) {
        Fail(UdfResult::kForeignImplementation,
             "implementation \"" + std::string(reinterpret_cast<const char*>(block + kUdfImplementationOffset - 1),
                                               strnlen(reinterpret_cast<const char*>(block + kUdfImplementationOffset - 1), 23)) +
                 "\"");
        return out_;
      }
    } else if (tag == kUdfTagPartition && !havePartition) {
      partition_ = ReadUdfPartition(block);
      havePartition = true;
    } else if (tag == kUdfTagLogicalVolume) {
      fileSetBlock = ReadUdfFileSetLocation(block);
    } else if (tag == kUdfTagTerminating) {
      break;
    }
  }
  if (!havePartition) return out_;
  if (page_) {
    page_->SetProgressRange(partition_.length);
    page_->SetProgressPosition(0);
  }
  // The file set descriptor: its root directory's ICB at +404.
  if (!ReadPartitionBlock(fileSetBlock, block, "file set descriptor")) return out_;
  if (UdfTagId(block) != 256) {
    Fail(UdfResult::kDamaged, "no file set descriptor at the partition's start");
    return out_;
  }
  uint32_t root = platform::ReadLe32(block + 404);
  ExtractDirectory(root, folder, 0);
  return out_;
}

}  // namespace

const char* UdfResultText(UdfResult result) {
  auto index = static_cast<size_t>(result);
  return index < std::size(kResultTexts) ? kResultTexts[index] : "unknown result";
}

bool IsUdfImage(HANDLE image) {
  uint8_t block[kUdfBlockSize];
  // The sequence is a few descriptors long; a run without end is not UDF.
  for (uint64_t offset = kUdfRecognitionStart; offset < kUdfRecognitionStart + 64 * kUdfBlockSize;
       offset += kUdfBlockSize) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    if (!SetFilePointerEx(image, to, nullptr, FILE_BEGIN) || !ReadFile(image, block, kUdfBlockSize, &got, nullptr) ||
        got < 6) {
      return false;
    }
    if (memcmp(block + 1, "NSR02", 5) == 0) return true;
    if (block[1] == 0) return false;
  }
  return false;
}

UdfExtraction TryExtractUdfImage(UdfExtractPage* page, HANDLE image, const CString& folder, UdfOutput* output) {
  return UdfExtractor(page, image, output).Run(folder);
}

bool IsDamagedImageResult(UdfResult result) {
  return result == UdfResult::kDamaged || result == UdfResult::kReadFailed || result == UdfResult::kUnsafeName;
}

bool ExtractUdfImage(UdfExtractPage* page, HANDLE image) {
  return TryExtractUdfImage(page, image, KitExtractFolder).result == UdfResult::kOk;
}

int DecodeUdfName(int length, const uint8_t* bytes, char16_t* out) {
  if (length <= 0) return -1;
  uint8_t id = bytes[0];
  if (id != 8 && id != 16) return -1;
  int i = 0;
  for (int j = 1; j < length; ++i) {
    char16_t ch = bytes[j++];
    if (id == 16) {
      ch = static_cast<char16_t>(ch << 8);
      if (j < length) ch |= bytes[j++];
    }
    out[i] = ch;
  }
  return i;
}

bool IsSafeUdfName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (char16_t ch : name) {
    if (ch < 0x20 || ch == u'\\' || ch == u'/' || ch == u':' || ch == u'*' || ch == u'?' || ch == u'"' ||
        ch == u'<' || ch == u'>' || ch == u'|') {
      return false;
    }
  }
  return true;
}
