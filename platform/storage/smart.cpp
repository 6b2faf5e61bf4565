// S.M.A.R.T. requests on disk handles (and on the 95-family driver's
// \\.\SMARTVSD, which names the disk in each request), answered from the
// disk's pages in machine.ini. A disk without pages (a USB stick, an NVMe drive behind a
// driver without the interface) fails every request with ERROR_INVALID_FUNCTION.
#include <algorithm>
#include <cstring>

#include "platform/machine/machine.h"
#include "platform/storage/device.h"
#include "platform/storage/device_handle.h"
#include "platform/storage/ioctl.h"

namespace platform::storage {
namespace {

constexpr DWORD kOutHeader = offsetof(SENDCMDOUTPARAMS, bBuffer);   // 16
constexpr DWORD kInHeader = offsetof(SENDCMDINPARAMS, bBuffer);     // 32

// True when some attribute's normalised value is at or below its threshold.
bool ThresholdExceeded(const machine::SmartPages& pages) {
  if (pages.attributes.size() < 362 || pages.thresholds.size() < 362) return false;
  for (int i = 0; i < 30; ++i) {
    const uint8_t* a = pages.attributes.data() + 2 + i * 12;
    const uint8_t* t = pages.thresholds.data() + 2 + i * 12;
    if (a[0] == 0 || a[0] != t[0] || t[1] == 0) continue;
    if (a[3] <= t[1]) return true;
  }
  return false;
}

BOOL Aborted(void* out, DWORD out_size, DWORD* returned) {
  // The drive rejects the command: its error register says "aborted".
  if (out_size >= kOutHeader) {
    SENDCMDOUTPARAMS status{};
    status.DriverStatus.bDriverError = SMART_IDE_ERROR;
    status.DriverStatus.bIDEError = 0x04;
    std::memcpy(out, &status, kOutHeader);
    *returned = kOutHeader;
  }
  return fail(ERROR_INVALID_PARAMETER);
}

}  // namespace

BOOL SmartControl(DeviceHandle& h, DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned) {
  const DeviceTarget& t = h.target();
  std::shared_ptr<machine::Disk> disk = t.disk;
  BYTE device_map = static_cast<BYTE>(1u << (t.disk_number & 3));
  if (t.smart_vsd) {
    // The 95-family driver serves the four IDE positions, disks 0 to 3; a
    // request names its drive in bDriveNumber.
    device_map = 0;
    for (int n = 0; n < 4; ++n) {
      auto d = LookupDisk(n);
      if (d && d->smart().present()) device_map |= static_cast<BYTE>(1u << n);
    }
    disk = nullptr;
    if (code != SMART_GET_VERSION && in && in_size >= kInHeader) {
      SENDCMDINPARAMS named;
      std::memcpy(&named, in, kInHeader);
      if (named.bDriveNumber < 4) disk = LookupDisk(named.bDriveNumber);
    }
    if (code != SMART_GET_VERSION && !disk) return fail(ERROR_INVALID_FUNCTION);
    if (code == SMART_GET_VERSION && device_map == 0) return fail(ERROR_INVALID_FUNCTION);
  } else if (t.is_volume || !disk) {
    return fail(ERROR_INVALID_FUNCTION);
  }
  if (disk && !disk->smart().present()) return fail(ERROR_INVALID_FUNCTION);

  if (code == SMART_GET_VERSION) {
    GETVERSIONINPARAMS version{};
    version.bVersion = 1;
    version.bRevision = 1;
    version.bIDEDeviceMap = device_map;
    version.fCapabilities = CAP_ATA_ID_CMD | CAP_SMART_CMD;
    if (out_size < sizeof version) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, &version, sizeof version);
    *returned = sizeof version;
    return TRUE;
  }
  const machine::SmartPages& pages = disk->smart();

  SENDCMDINPARAMS request;
  if (in_size < kInHeader) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(&request, in, kInHeader);
  const IDEREGS& regs = request.irDriveRegs;
  const bool smart_command = regs.bCommandReg == ATA_SMART_CMD;
  if (smart_command && (regs.bCylLowReg != SMART_CYL_LOW || regs.bCylHighReg != SMART_CYL_HI))
    return Aborted(out, out_size, returned);

  if (code == SMART_SEND_DRIVE_COMMAND) {
    if (!smart_command) return fail(ERROR_INVALID_PARAMETER);
    switch (regs.bFeaturesReg) {
      case ENABLE_SMART:
      case DISABLE_SMART:
      case ENABLE_DISABLE_AUTOSAVE:
      case SAVE_ATTRIBUTE_VALUES:
      case EXECUTE_OFFLINE_DIAGS: {
        if (out_size < kOutHeader) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(out, 0, kOutHeader);
        *returned = kOutHeader;
        return TRUE;
      }
      case RETURN_SMART_STATUS: {
        if (out_size < kOutHeader + sizeof(IDEREGS)) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memset(out, 0, kOutHeader + sizeof(IDEREGS));
        DWORD size = sizeof(IDEREGS);
        std::memcpy(out, &size, 4);
        IDEREGS status = regs;
        // The drive reports a threshold crossing by swapping the signature bytes.
        if (ThresholdExceeded(pages)) {
          status.bCylLowReg = 0xF4;
          status.bCylHighReg = 0x2C;
        }
        std::memcpy(static_cast<uint8_t*>(out) + kOutHeader, &status, sizeof status);
        *returned = kOutHeader + sizeof(IDEREGS);
        return TRUE;
      }
      default:
        return Aborted(out, out_size, returned);
    }
  }

  // SMART_RCV_DRIVE_DATA: one 512-byte page.
  if (out_size < kOutHeader + READ_ATTRIBUTE_BUFFER_SIZE) return fail(ERROR_INSUFFICIENT_BUFFER);
  const std::vector<uint8_t>* page = nullptr;
  if (regs.bCommandReg == ATA_IDENTIFY_DEVICE) page = &pages.identify;
  else if (smart_command && regs.bFeaturesReg == READ_ATTRIBUTES) page = &pages.attributes;
  else if (smart_command && regs.bFeaturesReg == READ_THRESHOLDS) page = &pages.thresholds;
  if (!page || page->empty()) return Aborted(out, out_size, returned);
  auto* bytes = static_cast<uint8_t*>(out);
  std::memset(bytes, 0, kOutHeader + READ_ATTRIBUTE_BUFFER_SIZE);
  DWORD size = READ_ATTRIBUTE_BUFFER_SIZE;
  std::memcpy(bytes, &size, 4);
  std::memcpy(bytes + kOutHeader, page->data(), std::min<size_t>(page->size(), READ_ATTRIBUTE_BUFFER_SIZE));
  *returned = kOutHeader + READ_ATTRIBUTE_BUFFER_SIZE;
  return TRUE;
}

}  // namespace platform::storage
