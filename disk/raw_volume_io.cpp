#include "disk/raw_volume_io.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "platform/core/kobject.h"

namespace {

constexpr uint64_t kHandleBlock = 4096;
// Largest span moved by one disk-layer call (whole native sectors).
constexpr uint64_t kDiskChunkBytes = 64 * 1024;

uint64_t CurrentNativeBytes() {
  int32_t disk = DiskContext.currentDisk;
  if (disk < 0 || disk >= kMaxPhysicalDisks) return 0;
  return static_cast<uint64_t>(DiskContext.sectorMultiplier[disk]) * 512;
}

// Reads whole native sectors [first, first + count) of the current disk.
bool ReadNative(uint64_t native, uint64_t first, uint64_t count, uint8_t* out) {
  uint64_t units = count * native / 512;
  return ReadDiskSectors(out, first, static_cast<int32_t>(units)) == 0;
}

}  // namespace

bool EnsureSectorMultiplier(int32_t disk) {
  if (disk < 0 || disk >= kMaxPhysicalDisks) return false;
  if (DiskContext.sectorMultiplier[disk] == 0) ReadDiskGeometry(disk);
  return DiskContext.sectorMultiplier[disk] > 0;
}

bool ReadCurrentDiskBytes(uint64_t offset, void* buffer, size_t length) {
  uint64_t native = CurrentNativeBytes();
  if (native == 0) return false;
  if (offset + length < offset) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  std::vector<uint8_t> bounce;
  uint64_t done = 0;
  while (done < length) {
    uint64_t at = offset + done;
    uint64_t first = at / native;
    uint64_t skip = at % native;
    uint64_t want = length - done;
    uint64_t span = (skip + want + native - 1) / native;
    if (span * native > kDiskChunkBytes) span = kDiskChunkBytes / native;
    bounce.resize(span * native);
    if (!ReadNative(native, first, span, bounce.data())) return false;
    uint64_t take = span * native - skip;
    if (take > want) take = want;
    memcpy(out + done, bounce.data() + skip, take);
    done += take;
  }
  return true;
}

bool WriteCurrentDiskBytes(uint64_t offset, const void* buffer, size_t length) {
  uint64_t native = CurrentNativeBytes();
  if (native == 0) return false;
  if (offset + length < offset) return false;
  const auto* in = static_cast<const uint8_t*>(buffer);
  std::vector<uint8_t> bounce;
  uint64_t done = 0;
  while (done < length) {
    uint64_t at = offset + done;
    uint64_t first = at / native;
    uint64_t skip = at % native;
    uint64_t want = length - done;
    uint64_t span = (skip + want + native - 1) / native;
    if (span * native > kDiskChunkBytes) span = kDiskChunkBytes / native;
    bounce.resize(span * native);
    uint64_t take = span * native - skip;
    if (take > want) take = want;
    // Partial native sectors keep their other bytes.
    if (skip != 0 || take != span * native) {
      if (!ReadNative(native, first, span, bounce.data())) return false;
    }
    memcpy(bounce.data() + skip, in + done, take);
    int32_t errors = DiskContext.ioErrorCount;
    WriteDiskSectors(bounce.data(), first, static_cast<int32_t>(span * native / 512));
    if (DiskContext.ioErrorCount != errors) return false;
    done += take;
  }
  return true;
}

bool ReadHandleBytes(HANDLE handle, uint64_t offset, void* buffer, size_t length) {
  if (offset + length < offset) return false;
  uint64_t first = offset / kHandleBlock * kHandleBlock;
  uint64_t end = (offset + length + kHandleBlock - 1) / kHandleBlock * kHandleBlock;
  std::vector<uint8_t> bounce(end - first);
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(first);
  if (!SetFilePointerEx(handle, to, nullptr, FILE_BEGIN)) return false;
  uint64_t got_total = 0;
  while (got_total < bounce.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(bounce.size() - got_total, 1u << 20));
    DWORD got = 0;
    if (!ReadFile(handle, bounce.data() + got_total, chunk, &got, nullptr) || got == 0) break;
    got_total += got;
  }
  // The last block may pass the end of the volume; only the asked bytes must be there.
  if (got_total < offset - first + length) return false;
  memcpy(buffer, bounce.data() + (offset - first), length);
  return true;
}
