// Feeds arbitrary images to the UDF recogniser and extractor through the
// file API; the extracted tree goes to a memory sink that only counts. The
// anchor, the descriptor sequence, the file set descriptor, file entries,
// allocation descriptors and identifiers are all hostile: the extraction
// must end, stay inside its buffers and keep every name inside the target.
// The input is laid out sparsely: its first byte picks the block where the
// rest lands, so short inputs reach the anchor at block 256 and the blocks
// behind it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "pebuilder/udf_image.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "tests/fuzz/memory_image.h"

namespace {

// Counts what would be written; refuses more than 64 MiB in all (zero
// extents may be announced as gigabytes) and any path outside the target.
class CountingOutput : public UdfOutput {
 public:
  bool MakeFolder(const CString& path) override { return Inside(path); }
  bool BeginFile(const CString& path) override { return Inside(path); }
  bool Write(const uint8_t*, uint32_t count) override {
    bytes_ += count;
    return bytes_ <= (64u << 20);
  }
  void EndFile() override {}

 private:
  static bool Inside(const CString& path) {
    const std::u16string& p = path.str();
    if (p.rfind(u"T:\\kit", 0) != 0 || p.find(u"\\..\\") != std::u16string::npos ||
        (p.size() >= 3 && p.compare(p.size() - 3, 3, u"\\..") == 0)) {
      abort();  // a name escaped the target folder
    }
    return true;
  }
  uint64_t bytes_ = 0;
};

class NullPage : public UdfExtractPage {
 public:
  void SetProgressRange(uint32_t) override {}
  void SetProgressPosition(uint32_t) override {}
  void ShowStatus(LPCWSTR, const CString&) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1 << 20)) return 0;
  // Byte 0 chooses the block where the rest starts (16 = the recognition
  // sequence, 256 = the anchor).
  static const size_t kStarts[] = {0, 16, 256, 257, 258, 260, 264, 270};
  size_t start = kStarts[data[0] % 8] * 2048;
  std::vector<uint8_t> bytes(start + size - 1, 0);
  memcpy(bytes.data() + start, data + 1, size - 1);
  HANDLE image = platform::OpenHandle(std::make_shared<fuzz_support::MemoryImage>(std::move(bytes)));
  IsUdfImage(image);
  NullPage page;
  CountingOutput output;
  TryExtractUdfImage(&page, image, u"T:\\kit", &output);
  CloseHandle(image);

  char16_t name[260];
  DecodeUdfName(static_cast<int>(std::min<size_t>(size, 255)), data, name);
  return 0;
}
