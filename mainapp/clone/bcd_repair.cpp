#include "mainapp/clone/bcd_repair.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "disk/raw_fat.h"
#include "disk/shadow_copy.h"
#include "disk/volume_space.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "platform/core/clock.h"
#include "platform/core/kobject.h"
#include "platform/core/show_window.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "platform/storage/ioctl.h"
#include "platform/storage/volume_api.h"
#include "program_support/number_text.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

namespace {

constexpr int kScriptLineSize = 256;
constexpr int kDeviceNameSize = 256;
constexpr int kListingLineSize = 255;
constexpr DWORD kToolSucceeded = kRunResultBase + 0;
// The largest store the repair handles (a boot store is a few tens of KiB).
constexpr uint32_t kMaxStoreBytes = 16u << 20;

const char* const kManagerLabels[] = {"Windows Boot Manager", "Windows \xE3\x83\x96\xE3\x83\xBC\xE3\x83\x88 "
                                                              "\xE3\x83\x9E\xE3\x83\x8D\xE3\x83\xBC\xE3\x82\xB8\xE3"
                                                              "\x83\xA3\xE3\x83\xBC"};
const char* const kLoaderLabels[] = {"Windows Boot Loader", "Windows \xE3\x83\x96\xE3\x83\xBC\xE3\x83\x88 "
                                                            "\xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x80\xE3\x83\xBC"};

CString ToolPath() { return ShellState.programFolder + u"\\Resources\\Vastrel.exe"; }

bool ReadWholeFile(const CString& path, std::vector<uint8_t>& bytes) {
  HANDLE file = OpenFileRead(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart <= kMaxStoreBytes;
  if (ok) {
    bytes.assign(static_cast<size_t>(size.QuadPart), 0);
    ok = bytes.empty() || ReadFileBytes(file, static_cast<DWORD>(bytes.size()), bytes.data()) == bytes.size();
  }
  CloseHandle(file);
  return ok;
}

bool WriteWholeFile(const CString& path, const uint8_t* bytes, size_t count) {
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = count == 0 || WriteFileBytes(file, static_cast<DWORD>(count), bytes) == count;
  CloseHandle(file);
  return ok;
}

// Sets byte 511 of the destination's sector 0 (the second byte of the boot
// signature) and tells the system the disk changed. Works on one native sector.
void SetBootSignatureByte(int32_t physical, uint8_t value) {
  const int32_t multiplier = std::max(1, SectorMultiplierOf(physical));
  std::vector<uint8_t> sector(static_cast<size_t>(multiplier) * 512);
  const HANDLE disk = OpenDiskReadWrite(physical);
  if (disk && disk != INVALID_HANDLE_VALUE && ReadDiskSectors(sector.data(), 0, 1) == 0) {
    sector[511] = value;
    WriteDiskSectors(sector.data(), 0, 1);
    DWORD returned = 0;
    DeviceIoControl(disk, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  }
  CloseCurrentDisk();
}

// Writes the store over the file that holds it on the EFI system partition,
// through the partition's volume and its file system.
bool WriteStoreThroughVolume(int32_t disk, int64_t espStart, const std::vector<uint8_t>& store) {
  // The partition's raw contents changed under its volume: the system looks
  // at the disk again before the volume is used.
  const HANDLE handle = OpenDiskHandle(disk);
  if (!handle || handle == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  DeviceIoControl(handle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  CloseDeviceHandle(handle);
  const CString volume = FindVolumeByExtent(disk, static_cast<uint64_t>(espStart));
  if (volume.IsEmpty()) return false;
  for (const char16_t* path : {u"\\EFI\\Microsoft\\Boot\\BCD", u"\\Boot\\BCD"}) {
    const CString file = volume + path;
    if (GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES) return WriteWholeFile(file, store.data(), store.size());
  }
  return false;
}

}  // namespace

CString BcdWorkFolder() {
  if (!TempFolder.IsEmpty()) return TempFolder;
  WCHAR buffer[MAX_PATH] = {};
  const DWORD length = GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return CString();
  CString folder(buffer);
  if (folder.Right(1) != CString(u"\\")) folder += u"\\";
  return folder;
}

CString EspImagePath(int32_t multiplier) {
  if (multiplier == 1) return ShellState.programFolder + u"\\Resources\\espimage";
  if (multiplier == 8) return ShellState.programFolder + u"\\Resources\\espimage4096";
  return CString();
}

bool WriteEspImage(int32_t destinationPhysical) {
  if (SectorMultiplierOf(destinationPhysical) == 0) ReadDiskGeometry(destinationPhysical);
  const int32_t multiplier = SectorMultiplierOf(destinationPhysical);
  const uint64_t nativeBytes = static_cast<uint64_t>(multiplier) * 512;
  const LayoutEntry& esp = DiskContext.layoutTable[0];
  // A FAT volume's sector size is that of its disk: the image made for it.
  const CString imagePath = EspImagePath(multiplier);
  if (imagePath.IsEmpty() || esp.newStartBytes % nativeBytes != 0) return false;

  HANDLE image = OpenFileRead(imagePath);
  if (image == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(image, &size) || size.QuadPart <= 0 ||
      static_cast<uint64_t>(size.QuadPart) > esp.newLengthBytes) {
    CloseHandle(image);
    return false;
  }
  // Some 2,300 pieces: none waits for the device's cache, one flush at the end.
  const HANDLE disk = OpenDiskForBulkWrites(destinationPhysical);
  if (!disk || disk == INVALID_HANDLE_VALUE) {
    CloseCurrentDisk();
    CloseHandle(image);
    return false;
  }
  const int32_t errorsBefore = DiskContext.ioErrorCount;
  std::vector<uint8_t> piece(kEspPieceBytes);
  uint64_t sector = esp.newStartBytes / nativeBytes;
  bool complete = true;
  for (uint64_t offset = 0; offset < static_cast<uint64_t>(size.QuadPart); offset += kEspPieceBytes) {
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kEspPieceBytes, size.QuadPart - offset));
    const DWORD got = ReadFileBytes(image, want, piece.data());
    if (got != want) {
      complete = false;
      break;
    }
    // The last piece: nothing of the previous one behind the image's end.
    std::fill(piece.begin() + got, piece.end(), 0);
    WriteDiskSectors(piece.data(), sector, kEspPieceBytes / 512);
    sector += kEspPieceBytes / nativeBytes;
  }
  if (!FlushFileBuffers(disk)) {
    ++DiskContext.ioErrorCount;
    complete = false;
  }
  CloseCurrentDisk();
  CloseHandle(image);
  return complete && DiskContext.ioErrorCount == errorsBefore;
}

std::string FindBcdIdentifier(const std::string& listing, const char* const labels[], int labelCount) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < listing.size()) {
    size_t end = listing.find('\n', at);
    if (end == std::string::npos) end = listing.size();
    std::string line = listing.substr(at, std::min<size_t>(end - at, kListingLineSize));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    bool labelled = false;
    for (int k = 0; k < labelCount; ++k) labelled = labelled || lines[i].find(labels[k]) != std::string::npos;
    if (!labelled) continue;
    if (i + 2 >= lines.size() || lines[i + 2].find("identifier") == std::string::npos) return {};
    const std::string& line = lines[i + 2];
    const size_t open = line.find('{');
    const size_t close = line.find('}', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return {};
    return line.substr(open, close - open + 1);
  }
  return {};
}

bool RunBcdToolViaScript(const CString& parameters, const CString& outputFile) {
  const CString command = CString(u"\"") + ToolPath() + u"\" " + parameters + u">\"" + outputFile + u"\"";
  if (command.GetLength() >= kScriptLineSize) return false;
  char line[kScriptLineSize] = {};
  WideToNarrow(command, line, kScriptLineSize - 1);
  const CString script = BcdWorkFolder() + u"BCDMAKE.cmd";
  const std::string text = std::string(line) + "\r\n";
  if (!WriteWholeFile(script, reinterpret_cast<const uint8_t*>(text.data()), text.size())) return false;
  return RunAndWait(script, CString(), SW_HIDE) == kToolSucceeded;
}

bool RunBcdTool(const CString& parameters) { return RunAndWait(ToolPath(), parameters, SW_HIDE) == kToolSucceeded; }

bool EditBcdStore(const CString& device) {
  const CString store = BcdWorkFolder() + u"BCDTEMP";
  const CString listingFile = BcdWorkFolder() + u"BCDTEMP.TXT";
  RunBcdToolViaScript(CString(u"/store \"") + store + u"\"", listingFile);
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(listingFile, bytes)) return false;
  const std::string listing(bytes.begin(), bytes.end());

  const CString storeArgument = CString(u"/store \"") + store + u"\"  /set ";
  bool changed = false;
  const std::string manager = FindBcdIdentifier(listing, kManagerLabels, 2);
  if (!manager.empty()) {
    const CString value = CloneSettings.convertToGpt ? CString(u"BOOT") : device;
    changed |= RunBcdTool(storeArgument + CString(manager.c_str()) + u" device partition=" + value);
  }
  const std::string loader = FindBcdIdentifier(listing, kLoaderLabels, 2);
  if (!loader.empty()) {
    changed |= RunBcdTool(storeArgument + CString(loader.c_str()) + u" device partition=" + device);
    changed |= RunBcdTool(storeArgument + CString(loader.c_str()) + u" osdevice partition=" + device);
  }
  return changed;
}

bool RepairBcd(const CString& drive) {
  const int32_t d = ListedPhysicalDisk(CloneSettings.chosenDestinationDisk).value;
  if (d < 0 || drive.GetLength() < 2) return false;
  WCHAR deviceName[kDeviceNameSize] = {};
  if (!QueryDosDeviceW(drive.Left(2), deviceName, kDeviceNameSize)) return false;
  const CString device(deviceName);
  if (SectorMultiplierOf(d) == 0) ReadDiskGeometry(d);

  // The EFI system partition: the first planned partition that holds a store.
  int64_t espStart = -1;
  int32_t size = 0;
  for (int32_t i = 0; i < DiskContext.layoutRealCount && i < kMaxLayoutEntries; ++i) {
    const int64_t start = static_cast<int64_t>(DiskContext.layoutTable[i].newStartBytes);
    if (DiskContext.layoutTable[i].newLengthBytes == 0) continue;
    size = FindBcdOnFat32(d, start);
    if (size > 0) {
      espStart = start;
      break;
    }
  }
  if (espStart < 0 || size <= 0 || static_cast<uint32_t>(size) > kMaxStoreBytes) return false;

  std::vector<uint8_t> store((static_cast<size_t>(size) + 511) / 512 * 512, 0);
  if (!ReadFat32FileByChain(d, espStart, store.data(), size)) return false;
  // From here on a store is there to repair: a repair that cannot run (no
  // temporary folder on the PC, an editor that fails) is reported.
  const CString workStore = BcdWorkFolder() + u"BCDTEMP";
  std::vector<uint8_t> edited;
  if (BcdWorkFolder().IsEmpty() || !WriteWholeFile(workStore, store.data(), static_cast<size_t>(size)) ||
      !EditBcdStore(device) || !ReadWholeFile(workStore, edited) || edited.empty()) {
    CloneRunState.offlineRepairFailed = 1;
    return false;
  }
  // A store the editor made larger cannot go back over the file's own
  // clusters: it is written through the partition's file system instead.
  if (edited.size() != static_cast<size_t>(size)) return WriteStoreThroughVolume(d, espStart, edited);

  // The same size: back over the file's clusters, with the disk's boot
  // signature cleared meanwhile so that the system leaves the partition alone.
  edited.resize(store.size(), 0);
  SetBootSignatureByte(d, 0x00);
  bool written = FindBcdOnFat32(d, espStart) == size && WriteFat32FileByChain(d, espStart, edited.data(), size);
  SetBootSignatureByte(d, 0xAA);
  Sleep(2000);
  return written;
}
