#include "disk/ntfs_reader.h"

#include <algorithm>
#include <cstring>

#include "disk/disk_access.h"
#include "disk/raw_volume_io.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_driver.h"
#include "platform/process/module.h"

NtfsVolumeRecord NtfsVolume;
CString NtfsPagefilePath;
uint64_t NtfsPagefileRecord = 0;

namespace {

constexpr int kMaxAttributes = 128;       // attributes looked at in one record
constexpr int kMaxRunsPerList = 65536;    // runs decoded from one run list
constexpr int kMaxParentHops = 256;       // parent folders walked by the locator
constexpr int kMaxLocateDepth = 8;        // folder levels of the locator's fallback
constexpr uint32_t kFileNameFolderFlag = 0x10000000;
constexpr uint16_t kAttrFlagsUnsupported = 0x00FF | 0x4000 | 0x8000;  // compressed, encrypted, sparse
constexpr uint16_t kRecordInUse = 1;

FARPROC NtFsControlFileProc = nullptr;

template <class T>
T Get(const uint8_t* p, size_t offset) {
  T v;
  memcpy(&v, p + offset, sizeof v);
  return v;
}

bool ReadVolumeBytes(uint64_t offset, void* buffer, size_t length) {
  if (NtfsVolume.diskMode) return ReadCurrentDiskBytes(NtfsVolume.partitionByteOffset + offset, buffer, length);
  return ReadHandleBytes(RawVolumeHandle, offset, buffer, length);
}

bool HasFileMagic(const uint8_t* record) { return memcmp(record, "FILE", 4) == 0; }

// The FILE record size in force (1,024 unless the boot sector said more).
uint32_t RecordLimit() {
  uint32_t r = NtfsVolume.recordBytes;
  return r >= kNtfsRecordBytes && r <= kNtfsMaxRecordBytes ? r : kNtfsRecordBytes;
}

// Offset of the first attribute of `type` after `after` (0: from the start),
// 0 when the list ends first. Every step stays inside the record.
size_t FindAttribute(const uint8_t* record, uint32_t type, size_t after = 0) {
  size_t limit = std::min<size_t>(Get<uint32_t>(record, 0x18), RecordLimit());
  if (limit < 0x38) limit = RecordLimit();
  size_t offset = Get<uint16_t>(record, 0x14);
  for (int i = 0; i < kMaxAttributes; ++i) {
    if (offset < 0x18 || offset + 16 > limit) return 0;
    uint32_t t = Get<uint32_t>(record, offset);
    uint32_t length = Get<uint32_t>(record, offset + 4);
    if (t == kNtfsAttrEnd) return 0;
    if (length < 16 || length > limit - offset) return 0;
    if (t == type && offset > after) return offset;
    offset += length;
  }
  return 0;
}

// The value of a resident attribute at `offset`, or null when it does not fit.
const uint8_t* ResidentValue(const uint8_t* record, size_t offset, uint32_t* length) {
  if (record[offset + 8] != 0) return nullptr;
  uint32_t attr_length = Get<uint32_t>(record, offset + 4);
  uint32_t value_length = Get<uint32_t>(record, offset + 0x10);
  uint16_t value_offset = Get<uint16_t>(record, offset + 0x14);
  if (value_offset > attr_length || value_length > attr_length - value_offset) return nullptr;
  *length = value_length;
  return record + offset + value_offset;
}

// The $FILE_NAME value at attribute `offset`: its name, namespace, parent, flags.
struct FileNameValue {
  bool valid = false;
  CString name;
  uint8_t nameSpace = 0;
  uint64_t parent = 0;
  uint32_t attributes = 0;
};

FileNameValue ReadFileName(const uint8_t* record, size_t offset) {
  FileNameValue v;
  uint32_t length = 0;
  const uint8_t* value = ResidentValue(record, offset, &length);
  if (!value || length < 66) return v;
  uint32_t chars = value[64];
  if (66 + chars * 2 > length) return v;
  v.parent = Get<uint64_t>(value, 0) & 0x0000FFFFFFFFFFFFull;
  v.attributes = Get<uint32_t>(value, 56);
  v.nameSpace = value[65];
  std::u16string name(chars, u'\0');
  memcpy(name.data(), value + 66, chars * 2);
  v.name = CString(name.c_str(), static_cast<int>(chars));
  v.valid = true;
  return v;
}

bool NameMatches(const CString& name, const CString& component) {
  if (PathSubstringMode) {
    CString n = name, c = component;
    return ContainsNoCase(n, c) >= 0;
  }
  return name.CompareNoCase(component) == 0;
}

uint64_t NonResidentDataSize(const uint8_t* attribute) { return Get<uint64_t>(attribute, 0x30); }

bool ReadRecordAnyWay(uint64_t n, uint8_t* buffer) {
  if (!NtfsVolume.mftRuns.empty()) return NtfsReadRecordByRuns(n, buffer) == RAWFS_OK;
  return NtfsReadRecord(n, buffer) == RAWFS_OK;
}

int32_t LocateByRecords(int32_t depth) {
  if (PathComponents.size() < 2) return 0;
  std::vector<uint8_t> record(kNtfsMaxRecordBytes), parent(kNtfsMaxRecordBytes);
  const CString& leaf = PathComponents.back();
  for (uint64_t n = 1; n <= NtfsVolume.recordCount; ++n) {
    int32_t read = NtfsReadRecordByRuns(n, record.data());
    if (read == RAWFS_IO_FAILED) break;  // past the readable end of the volume
    if (read != RAWFS_OK) continue;
    if (NtfsCheckFileMagic(record.data()) != 0 || NtfsCheckBaseRecord(record.data()) != 0) continue;
    if (!(Get<uint16_t>(record.data(), 0x16) & kRecordInUse)) continue;  // a deleted file's record
    CString long_name, dos_name;
    NtfsGetFileName(record.data(), &long_name, &dos_name);
    if (long_name.IsEmpty() || !NameMatches(long_name, leaf)) continue;
    uint64_t found_offset = NtfsVolume.lastReadOffset;
    // Walk the parents up to the root; every folder must match its component
    // and the root must be reached exactly when the components run out.
    size_t component = PathComponents.size() - 1;
    uint64_t up = NtfsParentRecord(record.data());
    bool ok = true;
    for (int hop = 0; ok && up != kNtfsRootRecord; ++hop) {
      if (up == 0 || hop >= kMaxParentHops || component <= 1) {
        ok = false;
        break;
      }
      --component;
      if (NtfsReadRecordByRuns(up, parent.data()) != RAWFS_OK || NtfsCheckFileMagic(parent.data()) != 0 ||
          Get<uint16_t>(parent.data(), 0x16) == 0 || NtfsCheckPlainFile(parent.data()) == RAWFS_OK) {
        ok = false;
        break;
      }
      CString parent_name, parent_dos;
      NtfsGetFileName(parent.data(), &parent_name, &parent_dos);
      if (!NameMatches(parent_name, PathComponents[component])) {
        ok = false;
        break;
      }
      up = NtfsParentRecord(parent.data());
    }
    if (ok && component == 1) {
      NtfsVolume.foundRecord = n;
      NtfsVolume.foundOffset = found_offset;
      return 1;
    }
  }
  // Not found by name and parents: look below each subfolder of the path.
  if (depth >= kMaxLocateDepth) return 0;
  std::vector<CString> saved = PathComponents;
  CString path;
  for (size_t i = 0; i < saved.size(); ++i) path += (i ? u"\\" : u"") + saved[i];
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(path + u"\\*", &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int32_t result = 0;
  do {
    CString name(data.cFileName);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == u"." || name == u"..") continue;
    SplitPathComponents(path + u"\\" + name);
    result = LocateByRecords(depth + 1);
  } while (!result && FindNextFileW(find, &data));
  FindClose(find);
  if (!result) PathComponents = saved;
  return result;
}

}  // namespace

int32_t NtfsOpenVolume(const CString& driveText) {
  NtfsVolume = NtfsVolumeRecord{};
  DWORD spc = 0, bps = 0, free_clusters = 0, total = 0;
  if (!GetDiskFreeSpaceW(driveText + u"\\", &spc, &bps, &free_clusters, &total)) return RAWFS_FREE_SPACE_FAILED;
  NtfsVolume.sectorsPerCluster = spc;
  NtfsVolume.bytesPerSector = bps;
  NtfsVolume.clusterCount = total;
  RawVolumeHandle = CreateFileW(u"\\\\.\\" + driveText, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
  if (RawVolumeHandle == INVALID_HANDLE_VALUE) return RAWFS_IO_FAILED;
  if (NtfsReadBootParams() != 0) return RAWFS_IO_FAILED;
  return 0;
}

int32_t NtfsReadBootParams() {
  uint8_t raw[512];
  if (!ReadVolumeBytes(0, raw, sizeof raw)) return RAWFS_IO_FAILED;
  NtfsBootSector b;
  memcpy(&b, raw, sizeof b);
  if (memcmp(b.oemId, "NTFS    ", 8) != 0) return RAWFS_BAD_RUNS;
  uint32_t bps = b.bytesPerSector;
  // Above 128 the byte is a negative power of two: 2^(256 - value) sectors.
  uint32_t shift = b.sectorsPerCluster <= 128 ? 0 : 256u - b.sectorsPerCluster;
  uint32_t spc = b.sectorsPerCluster <= 128 ? b.sectorsPerCluster : shift <= 12 ? 1u << shift : 0;
  if ((bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) || spc == 0 || (spc & (spc - 1)) != 0 ||
      spc * bps > (2u << 20))
    return RAWFS_BAD_RUNS;
  NtfsVolume.bytesPerSector = bps;
  NtfsVolume.sectorsPerCluster = spc;
  NtfsVolume.clusterCount = b.totalSectors / spc;
  NtfsVolume.mftCluster = b.mftCluster;
  NtfsVolume.mftMirrCluster = b.mftMirrCluster;
  NtfsVolume.clustersPerRecord = b.clustersPerRecord;
  NtfsVolume.clustersPerIndex = b.clustersPerIndex;
  if (b.mftCluster >= NtfsVolume.clusterCount) return RAWFS_BAD_RUNS;
  return 0;
}

int32_t NtfsLoadMftRuns() {
  int32_t status = NtfsReadBootParams();
  if (status != 0) return status;
  int32_t cpr = NtfsVolume.clustersPerRecord;
  uint64_t record_bytes = cpr >= 0 ? cpr * NtfsVolume.ClusterBytes() : (cpr > -32 ? 1ull << -cpr : 0);
  if (record_bytes != 1024 && record_bytes != 2048 && record_bytes != 4096) return RAWFS_BAD_RUNS;
  NtfsVolume.recordBytes = static_cast<uint32_t>(record_bytes);
  std::vector<uint8_t> record(kNtfsMaxRecordBytes);
  if (NtfsReadRecord(1, record.data()) != RAWFS_OK) return RAWFS_IO_FAILED;
  if (!HasFileMagic(record.data())) return RAWFS_BAD_RUNS;
  std::vector<uint8_t> data;
  if (NtfsFindDataAttribute(record.data(), &data) != RAWFS_OK) return RAWFS_BAD_RUNS;
  std::vector<NtfsMftRun> runs;
  status = NtfsDecodeRuns(data.data(), data.size(), NtfsAttributeResidency(data.data()), &runs);
  if (status != RAWFS_OK || NtfsAttributeResidency(data.data()) != RAWFS_NON_RESIDENT) return RAWFS_BAD_RUNS;
  uint64_t in_runs = 0;
  for (const auto& r : runs) in_runs += r.records;
  NtfsVolume.mftRuns = runs;
  NtfsVolume.recordCount = std::min(NonResidentDataSize(data.data()) / NtfsVolume.recordBytes, in_runs);
  return 0;
}

bool NtfsApplyFixups(uint8_t* record) {
  if (!HasFileMagic(record)) return true;
  uint16_t offset = Get<uint16_t>(record, 4);
  uint16_t count = Get<uint16_t>(record, 6);
  uint32_t size = RecordLimit();
  bool ok = count >= 2 && size % (count - 1) == 0 && offset >= 0x28 && offset + 2u * count <= size;
  uint32_t stride = ok ? size / (count - 1) : 0;
  ok = ok && stride >= 512 && stride % 2 == 0;
  if (ok) {
    uint16_t sequence = Get<uint16_t>(record, offset);
    for (uint32_t i = 1; ok && i < count; ++i) ok = Get<uint16_t>(record, i * stride - 2) == sequence;
    for (uint32_t i = 1; ok && i < count; ++i) memcpy(record + i * stride - 2, record + offset + 2 * i, 2);
  }
  if (!ok) memcpy(record, "BAAD", 4);
  return ok;
}

int32_t NtfsReadRecord(uint64_t n, uint8_t* buffer) {
  if (n == 0) return RAWFS_IO_FAILED;
  uint64_t offset = NtfsVolume.mftCluster * NtfsVolume.ClusterBytes() + (n - 1) * RecordLimit();
  if (!ReadVolumeBytes(offset, buffer, RecordLimit())) {
    if (!NtfsVolume.diskMode && RawVolumeHandle != INVALID_HANDLE_VALUE) {
      CloseHandle(RawVolumeHandle);
      RawVolumeHandle = INVALID_HANDLE_VALUE;
    }
    return RAWFS_IO_FAILED;
  }
  NtfsApplyFixups(buffer);
  return RAWFS_OK;
}

uint64_t NtfsRecordOffset(uint64_t index) {
  for (const auto& run : NtfsVolume.mftRuns) {
    if (index < run.records) return index * RecordLimit() + run.firstCluster * NtfsVolume.ClusterBytes();
    index -= run.records;
  }
  return kNtfsNoOffset;
}

int32_t NtfsReadRecordByRuns(uint64_t n, uint8_t* buffer) {
  if (n == 0) return 0;
  uint64_t offset = NtfsRecordOffset(n - 1);
  if (offset == kNtfsNoOffset) return 0;
  if (!ReadVolumeBytes(offset, buffer, RecordLimit())) return RAWFS_IO_FAILED;
  NtfsVolume.lastReadOffset = offset;
  NtfsApplyFixups(buffer);
  return RAWFS_OK;
}

int32_t NtfsFindDataAttribute(const uint8_t* record, std::vector<uint8_t>* copy) {
  size_t offset = FindAttribute(record, kNtfsAttrData);
  if (offset == 0) return RAWFS_NO_DATA;
  uint32_t length = Get<uint32_t>(record, offset + 4);
  copy->assign(record + offset, record + offset + length);
  return RAWFS_OK;
}

int32_t NtfsAttributeResidency(const uint8_t* attribute) {
  return attribute[8] ? RAWFS_NON_RESIDENT : RAWFS_RESIDENT;
}

int32_t NtfsDecodeClusterRuns(const uint8_t* attribute, size_t attributeLength, std::vector<NtfsClusterRun>* runs) {
  runs->clear();
  if (attributeLength < 0x40 || attribute[8] == 0) return RAWFS_BAD_RUNS;
  if (Get<uint16_t>(attribute, 0x0C) & kAttrFlagsUnsupported) return RAWFS_BAD_RUNS;
  size_t p = Get<uint16_t>(attribute, 0x20);
  int64_t lcn = 0;
  for (int i = 0; i < kMaxRunsPerList; ++i) {
    if (p >= attributeLength) return RAWFS_BAD_RUNS;
    uint8_t header = attribute[p];
    if (header == 0 || header == 0xFF) return RAWFS_OK;
    uint32_t length_size = header & 0x0F;
    uint32_t offset_size = header >> 4;
    if (length_size < 1 || length_size > 4 || offset_size > 4) return RAWFS_BAD_RUNS;
    if (1 + length_size + offset_size > attributeLength - p) return RAWFS_BAD_RUNS;
    uint64_t clusters = 0;
    for (uint32_t b = 0; b < length_size; ++b) clusters |= static_cast<uint64_t>(attribute[p + 1 + b]) << (8 * b);
    int64_t delta = 0;
    for (uint32_t b = 0; b < offset_size; ++b)
      delta |= static_cast<int64_t>(attribute[p + 1 + length_size + b]) << (8 * b);
    if (offset_size > 0 && (attribute[p + length_size + offset_size] & 0x80))
      delta -= static_cast<int64_t>(1) << (8 * offset_size);  // sign extension
    p += 1 + length_size + offset_size;
    if (clusters == 0) return RAWFS_BAD_RUNS;
    if (offset_size == 0) {
      runs->push_back({0, clusters, true});
      continue;
    }
    lcn += delta;
    // A run must lie inside the volume.
    if (lcn < 0 || static_cast<uint64_t>(lcn) >= NtfsVolume.clusterCount ||
        clusters > NtfsVolume.clusterCount - static_cast<uint64_t>(lcn))
      return RAWFS_BAD_RUNS;
    runs->push_back({static_cast<uint64_t>(lcn), clusters, false});
  }
  return RAWFS_BAD_RUNS;
}

int32_t NtfsDecodeRuns(const uint8_t* attribute, size_t attributeLength, int32_t residency,
                       std::vector<NtfsMftRun>* table) {
  table->clear();
  if (residency == RAWFS_RESIDENT) {
    table->push_back({0, 0});
    return RAWFS_OK;
  }
  std::vector<NtfsClusterRun> runs;
  int32_t status = NtfsDecodeClusterRuns(attribute, attributeLength, &runs);
  if (status != RAWFS_OK) return status;
  for (const auto& r : runs) {
    if (r.sparse) continue;
    table->push_back({r.firstCluster, r.clusters * NtfsVolume.ClusterBytes() / RecordLimit()});
  }
  return RAWFS_OK;
}

int32_t NtfsCheckFileMagic(const uint8_t* record) { return HasFileMagic(record) ? 0 : RAWFS_NOT_FILE_RECORD; }

int32_t NtfsCheckFlagsClear(const uint8_t* record) {
  return Get<uint16_t>(record, 0x16) == 0 ? RAWFS_OK : RAWFS_FLAGS_CHECK;
}

int32_t NtfsCheckNotInUse(const uint8_t* record) {
  uint16_t flags = Get<uint16_t>(record, 0x16);
  return flags == 0 || flags == 2 ? RAWFS_OK : RAWFS_FLAGS_CHECK;
}

int32_t NtfsCheckBaseRecord(const uint8_t* record) {
  return Get<uint64_t>(record, 0x20) == 0 ? 0 : RAWFS_EXTENSION_RECORD;
}

int32_t NtfsCheckPlainFile(const uint8_t* record) {
  size_t offset = FindAttribute(record, kNtfsAttrFileName);
  if (offset == 0) return RAWFS_NO_NAME_FILE;
  FileNameValue v = ReadFileName(record, offset);
  if (!v.valid) return RAWFS_NO_NAME_FILE;
  return (v.attributes & kFileNameFolderFlag) ? RAWFS_IS_FOLDER : RAWFS_OK;
}

int32_t NtfsIsCompressedRoot(const CString& driveText) {
  DWORD attributes = GetFileAttributesW(driveText + u"\\");
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_COMPRESSED)) return RAWFS_COMPRESSED_ROOT;
  return RAWFS_OK;
}

void NtfsGetFileName(const uint8_t* record, CString* longName, CString* dosName) {
  longName->Empty();
  dosName->Empty();
  size_t first = FindAttribute(record, kNtfsAttrFileName);
  if (first == 0) return;
  FileNameValue v = ReadFileName(record, first);
  if (!v.valid) return;
  switch (v.nameSpace) {
    case 0:
    case 1:
      *longName = v.name;
      break;
    case 3:
      *longName = v.name;
      *dosName = v.name;
      break;
    case 2: {
      *dosName = v.name;
      size_t second = FindAttribute(record, kNtfsAttrFileName, first);
      if (second != 0) {
        FileNameValue w = ReadFileName(record, second);
        if (w.valid) *longName = w.name;
      }
      break;
    }
    default:
      break;
  }
}

uint64_t NtfsParentRecord(const uint8_t* record) {
  if (!HasFileMagic(record)) return 0;
  size_t offset = FindAttribute(record, kNtfsAttrFileName);
  if (offset == 0) return RAWFS_NO_NAME_PARENT;
  FileNameValue v = ReadFileName(record, offset);
  if (!v.valid) return RAWFS_NO_NAME_PARENT;
  return v.parent + 1;
}

int32_t NtfsCopyFileByRecord(const CString& target, uint64_t n, uint64_t byteCount) {
  std::vector<uint8_t> record(kNtfsMaxRecordBytes);
  if (NtfsReadRecordByRuns(n, record.data()) != RAWFS_OK || !HasFileMagic(record.data())) return 0;
  std::vector<uint8_t> data;
  if (NtfsFindDataAttribute(record.data(), &data) != RAWFS_OK) return 0;
  HANDLE file = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS))
    file = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  int32_t status = RAWFS_OK;
  auto write = [&](const uint8_t* bytes, uint64_t length) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr) || written != length)
      status = RAWFS_IO_FAILED;
  };
  if (NtfsAttributeResidency(data.data()) == RAWFS_RESIDENT) {
    uint32_t length = Get<uint32_t>(data.data(), 0x10);
    uint16_t offset = Get<uint16_t>(data.data(), 0x14);
    if (offset > data.size() || length > data.size() - offset) {
      status = RAWFS_BAD_RUNS;
    } else {
      write(data.data() + offset, std::min<uint64_t>(byteCount, length));
    }
  } else {
    std::vector<NtfsClusterRun> runs;
    if (NtfsDecodeClusterRuns(data.data(), data.size(), &runs) != RAWFS_OK) status = RAWFS_BAD_RUNS;
    uint64_t cluster_bytes = NtfsVolume.ClusterBytes();
    std::vector<uint8_t> cluster(cluster_bytes);
    uint64_t remaining = std::min(byteCount, NonResidentDataSize(data.data()));
    for (size_t r = 0; status == RAWFS_OK && r < runs.size() && remaining; ++r) {
      for (uint64_t i = 0; status == RAWFS_OK && i < runs[r].clusters && remaining; ++i) {
        if (runs[r].sparse) {
          std::fill(cluster.begin(), cluster.end(), 0);
        } else if (!ReadVolumeBytes((runs[r].firstCluster + i) * cluster_bytes, cluster.data(), cluster_bytes)) {
          status = RAWFS_IO_FAILED;
          break;
        }
        uint64_t take = std::min(remaining, cluster_bytes);
        write(cluster.data(), take);
        remaining -= take;
      }
    }
  }
  CloseHandle(file);
  return status;
}

std::unique_ptr<VolumeUsedMap> NtfsBuildUsedBitmap() {
  std::vector<uint8_t> record(kNtfsMaxRecordBytes);
  if (!ReadRecordAnyWay(kNtfsBitmapRecord, record.data()) || !HasFileMagic(record.data())) return nullptr;
  std::vector<uint8_t> data;
  if (NtfsFindDataAttribute(record.data(), &data) != RAWFS_OK) return nullptr;
  if (NtfsAttributeResidency(data.data()) != RAWFS_NON_RESIDENT) return nullptr;
  std::vector<NtfsClusterRun> runs;
  if (NtfsDecodeClusterRuns(data.data(), data.size(), &runs) != RAWFS_OK) return nullptr;
  uint64_t size = NonResidentDataSize(data.data());
  // The bitmap never needs more than a bit per cluster (rounded to 8 bytes).
  if (size > NtfsVolume.clusterCount / 8 + 4096 || size > UINT32_MAX) return nullptr;
  auto map = std::make_unique<VolumeUsedMap>();
  map->unitsPerBit = static_cast<uint32_t>(NtfsVolume.ClusterBytes() / 512);
  map->byteSize = static_cast<uint32_t>(size);
  uint64_t cluster_bytes = NtfsVolume.ClusterBytes();
  // The map grows with what was read, so a size the volume cannot back
  // allocates nothing beyond the volume's own bytes.
  constexpr uint64_t kChunk = 1 << 20;
  uint64_t at = 0;
  for (const auto& run : runs) {
    if (run.sparse) return nullptr;  // the volume bitmap is never sparse
    for (uint64_t done = 0; at < size && done < run.clusters * cluster_bytes;) {
      uint64_t take = std::min({kChunk, run.clusters * cluster_bytes - done, size - at});
      map->bits.resize(at + take, 0);
      if (!ReadVolumeBytes(run.firstCluster * cluster_bytes + done, map->bits.data() + at, take)) return nullptr;
      at += take;
      done += take;
    }
  }
  if (at < size) return nullptr;
  NtfsClearFileClusters(*map);
  return map;
}

void NtfsClearFileClusters(VolumeUsedMap& map) {
  if (NtfsPagefilePath.IsEmpty() || NtfsPagefileRecord == 0) return;
  std::vector<uint8_t> record(kNtfsMaxRecordBytes);
  if (!ReadRecordAnyWay(NtfsPagefileRecord, record.data()) || !HasFileMagic(record.data())) return;
  std::vector<uint8_t> data;
  if (NtfsFindDataAttribute(record.data(), &data) != RAWFS_OK) return;
  if (NtfsAttributeResidency(data.data()) != RAWFS_NON_RESIDENT) return;
  std::vector<NtfsClusterRun> runs;
  if (NtfsDecodeClusterRuns(data.data(), data.size(), &runs) != RAWFS_OK) return;
  uint64_t cluster_bytes = NtfsVolume.ClusterBytes();
  uint64_t remaining = (NonResidentDataSize(data.data()) + cluster_bytes - 1) / cluster_bytes;
  for (const auto& run : runs) {
    if (remaining == 0) break;
    uint64_t take = std::min(run.clusters, remaining);
    remaining -= take;
    if (run.sparse) continue;
    for (uint64_t c = run.firstCluster; c < run.firstCluster + take && c / 8 < map.bits.size(); ++c)
      map.bits[c / 8] &= static_cast<uint8_t>(~(1u << (c % 8)));
  }
}

int32_t NtfsQueryVolumeData(NTFS_VOLUME_DATA_BUFFER* data) {
  DWORD returned = 0;
  DeviceIoControl(RawVolumeHandle, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, data, sizeof *data, &returned, nullptr);
  return 1;
}

int32_t LoadNtFsControlFile() {
  HMODULE ntdll = LoadLibraryW(u"ntdll.dll");
  if (!ntdll) return 0;
  NtFsControlFileProc = GetProcAddress(ntdll, "NtFsControlFile");
  return NtFsControlFileProc ? 1 : 0;
}

int32_t LocateFileRuns(const CString& path, int32_t mode) {
  if (path.IsEmpty()) return 0;
  SplitPathComponents(path);
  if (mode == 2 || mode == 3) {
    WCHAR short_path[MAX_PATH + 1] = {};
    DWORD n = GetShortPathNameW(path, short_path, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return 0;
    return LocateFileByPath(CString(short_path)) == RAWFS_OK ? 1 : 0;
  }
  if (mode != 4) return 0;
  int32_t found = LocateByRecords(0);
  if (found) NtfsPagefileRecord = NtfsVolume.foundRecord;
  return found;
}
