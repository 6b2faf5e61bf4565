// Reparse data as FSCTL_GET_REPARSE_POINT returns it from a volume (a
// symbolic link, a mount point, anything else) from untrusted bytes: the
// print name comes only from inside the bytes returned, is at most 1,023
// characters, and re-pointing a link at a copied volume builds a record that
// fits the buffer and leaves the data it was read from as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disk/reparse_points.h"

namespace {

// The print name of the input with every byte past it set to `fill`.
CString ParseWithTail(const uint8_t* data, size_t size, uint8_t fill) {
  std::memset(ReparseBuffer.data, fill, kReparseBufferSize);
  std::memcpy(ReparseBuffer.data, data, size);
  return ParseReparseData(static_cast<DWORD>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kReparseBufferSize) return 0;
  // Bytes never returned must not matter: two different tails, one name.
  const CString other = ParseWithTail(data, size, 0x5A);
  const CString name = ParseWithTail(data, size, 0xA5);
  if (name != other) std::abort();
  if (name.GetLength() > kPrintNameSize - 1) std::abort();
  if (ReparseBuffer.byteCount > size) std::abort();
  const std::vector<BYTE> copy = RepointedReparseData(CString(u"C:"), CString(u"\\?\Volume{0000}"));
  if (copy.size() > kReparseBufferSize) std::abort();
  if (!copy.empty() && copy.size() < 8) std::abort();
  if (std::memcmp(ReparseBuffer.data, data, size) != 0) std::abort();  // the source record changed
  for (size_t at = size; at < kReparseBufferSize; ++at)
    if (ReparseBuffer.data[at] != 0xA5) std::abort();  // written past the data
  return 0;
}
