// Fennick's UDF reader: recognises the deployment kit's disc image and writes
// every folder and file of it below a local folder (KitExtractFolder). The
// image is read straight from its file; it is never mounted.
//
// Everything in the image is untrusted: every block number is checked against
// the partition and the image, descriptor lengths against the block they lie
// in, names may not leave the target folder, extents must hold recorded
// data, each directory is extracted once (one reached a second time, by a
// cycle or by another path, stops the extraction, as does a tree deeper than
// kUdfMaxDepth), the whole extraction keeps within entry and byte budgets
// that the image's size sets, and positions are 64-bit throughout. A damaged
// image gives false with the reason in the result; it never reports success
// for a partial tree.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// The page that runs an extraction: its progress bar and its status line
// (control 1642 on both pages that extract). The status line shows the
// language text of `key` followed directly by `path`.
class UdfExtractPage {
 public:
  virtual ~UdfExtractPage() = default;
  virtual void SetProgressRange(uint32_t upper) = 0;
  virtual void SetProgressPosition(uint32_t position) = 0;
  virtual void ShowStatus(LPCWSTR key, const CString& path) = 0;
};

// Where the extracted tree goes. The default writes through the platform's
// file calls; the fuzz target counts bytes in memory instead.
class UdfOutput {
 public:
  virtual ~UdfOutput() = default;
  // True when the folder exists afterwards (an existing one is fine).
  virtual bool MakeFolder(const CString& path) = 0;
  // Creates or truncates a file; the writes that follow go to it.
  virtual bool BeginFile(const CString& path) = 0;
  virtual bool Write(const uint8_t* data, uint32_t count) = 0;
  // Appends `count` bytes of the image from byte `offset` to the file, as
  // one copy made by the host where the output can (the bytes never pass
  // through the extraction's buffer). kUnsupported: nothing written, the
  // extraction reads and Writes them itself.
  enum class Copy { kDone, kUnsupported, kFailed };
  virtual Copy CopyFromImage(HANDLE image, uint64_t offset, uint32_t count) {
    (void)image, (void)offset, (void)count;
    return Copy::kUnsupported;
  }
  virtual void EndFile() = 0;
};

// Whole 2048-byte blocks written by every extraction of this process; never
// reset, so a second extraction starts its progress where the first ended.
extern uint32_t ExtractedBlockCount;
// Where ExtractUdfImage writes the image's tree.
extern CString KitExtractFolder;

inline constexpr int kUdfMaxDepth = 64;
// A directory larger than this is taken for damage, not read.
inline constexpr uint64_t kUdfMaxDirectoryBytes = 64ull << 20;

enum class UdfResult : int {
  kOk = 0,
  kNoAnchor = 1,               // block 256 is no anchor descriptor
  kForeignImplementation = 2,  // not written by the kit's image tool
  kReadFailed = 3,             // a structure lies beyond the end of the image
  kDamaged = 4,                // a structure contradicts itself or the image
  kUnsafeName = 5,             // a name that would leave the target folder
  kWriteFailed = 6,            // a folder or file could not be written
};
const char* UdfResultText(UdfResult result);

struct UdfExtraction {
  UdfResult result = UdfResult::kOk;
  std::string detail;        // what was wrong and where, for the log
  uint32_t files = 0;        // written completely
  uint32_t folders = 0;
};

// True when the volume recognition sequence (from byte 32768) holds an NSR02
// descriptor before it ends; NSR03 alone is not taken.
bool IsUdfImage(HANDLE image);

// Extracts the whole image into `folder`. Nothing is written when the anchor
// or the implementation identifier is wrong; an image without a partition
// descriptor is a success that writes nothing.
// `output` null: the platform's files.
UdfExtraction TryExtractUdfImage(UdfExtractPage* page, HANDLE image, const CString& folder,
                                 UdfOutput* output = nullptr);
// The same into KitExtractFolder; true on success.
bool ExtractUdfImage(UdfExtractPage* page, HANDLE image);
// True for the results that mean the image itself is at fault (damaged,
// cut short, or naming places outside the target folder).
bool IsDamagedImageResult(UdfResult result);

// Decodes an OSTA compressed unicode identifier of `length` bytes (first byte
// the compression id: 8 one byte a character, 16 two bytes high byte first)
// into `out`, which holds at least `length` units. Returns the number of
// characters, or -1 for another compression id (out untouched).
int DecodeUdfName(int length, const uint8_t* bytes, char16_t* out);

// True for a name that may be created inside a folder: not empty, not "."
// or "..", and without separators, drive colons, NULs or other characters a
// Windows file name cannot hold.
bool IsSafeUdfName(std::u16string_view name);
