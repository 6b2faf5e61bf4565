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

namespace {

// One step of a byte range on the current disk: whole native sectors
// [first, first + span) of which bytes [skip, skip + take) belong to the
// range, starting `done` bytes into it.
struct SpanStep {
  uint64_t first, span, skip, take, done;
};

// Walks [offset, offset + length) in steps of at most kDiskChunkBytes of
// whole native sectors; stops at the first step `step` refuses.
template <class Step>
bool ForEachSpan(uint64_t offset, size_t length, Step step) {
  uint64_t native = CurrentNativeBytes();
  if (native == 0) return false;
  if (offset + length < offset) return false;
  uint64_t done = 0;
  while (done < length) {
    uint64_t at = offset + done;
    uint64_t skip = at % native;
    uint64_t want = length - done;
    uint64_t span = (skip + want + native - 1) / native;
    if (span * native > kDiskChunkBytes) span = kDiskChunkBytes / native;
    uint64_t take = std::min(span * native - skip, want);
    if (!step(native, SpanStep{at / native, span, skip, take, done})) return false;
    done += take;
  }
  return true;
}

}  // namespace

bool ReadCurrentDiskBytes(uint64_t offset, void* buffer, size_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  std::vector<uint8_t> bounce;
  return ForEachSpan(offset, length, [&](uint64_t native, const SpanStep& s) {
    bounce.resize(s.span * native);
    if (!ReadNative(native, s.first, s.span, bounce.data())) return false;
    memcpy(out + s.done, bounce.data() + s.skip, s.take);
    return true;
  });
}

bool WriteCurrentDiskBytes(uint64_t offset, const void* buffer, size_t length) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  std::vector<uint8_t> bounce;
  return ForEachSpan(offset, length, [&](uint64_t native, const SpanStep& s) {
    bounce.resize(s.span * native);
    // Partial native sectors keep their other bytes.
    if ((s.skip != 0 || s.take != s.span * native) && !ReadNative(native, s.first, s.span, bounce.data()))
      return false;
    memcpy(bounce.data() + s.skip, in + s.done, s.take);
    int32_t errors = DiskContext.ioErrorCount;
    WriteDiskSectors(bounce.data(), s.first, static_cast<int32_t>(s.span * native / 512));
    return DiskContext.ioErrorCount == errors;
  });
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
  if (length) memcpy(buffer, bounce.data() + (offset - first), length);  // nothing asked: buffer may be null
  return true;
}
