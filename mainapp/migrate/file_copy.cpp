#include "mainapp/migrate/file_copy.h"

#include <algorithm>

#include "disk/disk_access.h"

namespace {
constexpr SECURITY_INFORMATION kCopiedSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
}  // namespace

std::vector<BYTE> ReadFileDacl(const CString& path) {
  DWORD needed = 0;
  GetFileSecurityW(path, kCopiedSecurity, nullptr, 0, &needed);
  std::vector<BYTE> descriptor(needed);
  if (!needed || !GetFileSecurityW(path, kCopiedSecurity, descriptor.data(), needed, &needed)) descriptor.clear();
  return descriptor;
}

void WriteFileDacl(const CString& path, const std::vector<BYTE>& descriptor) {
  if (descriptor.size() < 20) return;
  // Only the parts the descriptor holds (+4 owner, +8 group offsets; the
  // DACL-present control bit), so a missing one is not cleared.
  auto offset = [&](size_t at) {
    return static_cast<DWORD>(descriptor[at] | descriptor[at + 1] << 8 | descriptor[at + 2] << 16 |
                              static_cast<DWORD>(descriptor[at + 3]) << 24);
  };
  SECURITY_INFORMATION parts = 0;
  if (offset(4)) parts |= OWNER_SECURITY_INFORMATION;
  if (offset(8)) parts |= GROUP_SECURITY_INFORMATION;
  if (descriptor[2] & 0x04) parts |= DACL_SECURITY_INFORMATION;  // SE_DACL_PRESENT
  if (parts) SetFileSecurityW(path, parts, const_cast<BYTE*>(descriptor.data()));
}

void CopyFolderMetadata(const CString& source, const CString& destination, const WIN32_FIND_DATAW& entry,
                        const std::function<void(HANDLE)>& withHandle) {
  SetFileAttributesW(destination, entry.dwFileAttributes);
  WriteFileDacl(destination, ReadFileDacl(source));
  HANDLE item = CreateFileW(destination, GENERIC_ALL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (item == INVALID_HANDLE_VALUE) return;
  if (withHandle) withHandle(item);
  SetFileTime(item, &entry.ftCreationTime, &entry.ftLastAccessTime, &entry.ftLastWriteTime);
  CloseHandle(item);
}

HardLinkTable::Outcome HardLinkTable::link_or_copy(HANDLE source, const CString& destination) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(source, &info) || info.nNumberOfLinks < 2) return Outcome::Copy;
  const std::pair<DWORD, uint64_t> key{info.dwVolumeSerialNumber,
                                       (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  const auto found = copies_.find(key);
  if (found == copies_.end()) {
    copies_.emplace(key, destination);
    return Outcome::Copy;
  }
  if (CreateHardLinkW(destination, found->second, nullptr)) return Outcome::Linked;
  const DWORD error = GetLastError();
  return error == ERROR_NOT_SUPPORTED || error == ERROR_NOT_SAME_DEVICE ? Outcome::LinkNotHeld : Outcome::Copy;
}

bool CopyStreams(const CString& source, const CString& destination, std::vector<BYTE>& buffer) {
  WIN32_FIND_STREAM_DATA found{};
  HANDLE find = FindFirstStreamW(source, FindStreamInfoStandard, &found, 0);
  if (find == INVALID_HANDLE_VALUE) return true;  // none, or none the source can tell
  std::vector<std::pair<CString, uint64_t>> streams;
  do {
    const CString name(found.cStreamName);  // ":name:$DATA"
    const int type = name.Find(u":$DATA", 1);
    if (name.GetLength() > 1 && name[0] == u':' && type > 1)
      streams.emplace_back(name.Mid(1, type - 1), static_cast<uint64_t>(found.StreamSize.QuadPart));
  } while (FindNextStreamW(find, &found));
  FindClose(find);
  bool whole = true;
  for (const auto& [stream, size] : streams) {
    HANDLE in = CreateFileW(source + u":" + stream, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
      whole = false;
      continue;
    }
    HANDLE out = CreateFileW(destination + u":" + stream, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    uint64_t bytes = 0;
    if (out != INVALID_HANDLE_VALUE) {
      ChunkCopyHooks hooks;
      hooks.put = [&](const BYTE* data, DWORD count, uint64_t) { return WriteFileBytes(out, count, data); };
      if (CopyChunks(in, buffer, hooks, bytes) != ChunkCopyResult::Done) bytes = ~size;
      CloseHandle(out);
    }
    CloseHandle(in);
    if (out == INVALID_HANDLE_VALUE || bytes != size) whole = false;
  }
  return whole;
}

bool CopyCompression(HANDLE destination, const WIN32_FIND_DATAW& entry) {
  if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED)) return true;
  USHORT format = COMPRESSION_FORMAT_DEFAULT;
  DWORD returned = 0;
  return DeviceIoControl(destination, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0, &returned,
                         nullptr) != FALSE;
}

namespace {

// The root of the volume a path lies on: "C:\\", "\\\\?\\Volume{...}\\", or
// "\\\\?\\GLOBALROOT\\Device\\NAME\\" (a shadow copy).
CString VolumeRootOf(const CString& path) {
  if (path.GetLength() >= 2 && path[1] == u':') return path.Left(2) + u"\\";
  const int names = path.Left(14).CompareNoCase(u"\\\\?\\GLOBALROOT") == 0 ? 3 : 1;
  int at = 3;  // the backslash that ends the "\\\\?\\" prefix
  for (int i = 0; i < names && at >= 0; ++i) at = path.Find(u'\\', at + 1);
  return at < 0 ? path + u"\\" : path.Left(at + 1);
}

}  // namespace

bool KeepsSecurity(const CString& path) {
  DWORD flags = 0;
  if (!GetVolumeInformationW(VolumeRootOf(path), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) return false;
  return (flags & FILE_PERSISTENT_ACLS) != 0;
}

void CopyShortName(HANDLE item, const WIN32_FIND_DATAW& entry) {
  if (entry.cAlternateFileName[0] == 0) return;
  const CString shortName(entry.cAlternateFileName);
  if (shortName.CompareNoCase(entry.cFileName) == 0) return;
  SetFileShortNameW(item, shortName);
}

void CopyShortName(const CString& path, const WIN32_FIND_DATAW& entry) {
  if (entry.cAlternateFileName[0] == 0) return;
  HANDLE item = CreateFileW(path, GENERIC_ALL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (item == INVALID_HANDLE_VALUE) return;
  CopyShortName(item, entry);
  CloseHandle(item);
}

bool ReadListing(const CString& pattern, std::vector<WIN32_FIND_DATAW>& entries) {
  entries.clear();
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  do entries.push_back(found);
  while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
}

uint64_t EntrySize(const WIN32_FIND_DATAW& entry) {
  return (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

ChunkCopyResult CopyChunks(HANDLE source, std::vector<BYTE>& buffer, const ChunkCopyHooks& hooks, uint64_t& bytes,
                           uint64_t limit) {
  bytes = 0;
  int chunks = 0;
  for (;;) {
    const DWORD size = static_cast<DWORD>(std::min<uint64_t>(buffer.size(), limit - bytes));
    if (size == 0) return ChunkCopyResult::Done;
    const DWORD got = ReadFileBytes(source, size, buffer.data());
    if (got == 0) return ChunkCopyResult::Done;
    const DWORD put = hooks.put ? hooks.put(buffer.data(), got, bytes) : got;
    bytes += got;
    if (++chunks % 2 == 0 && hooks.every_second_chunk) hooks.every_second_chunk(bytes);
    if (hooks.aborted && hooks.aborted()) return ChunkCopyResult::Aborted;
    if (put != got) return ChunkCopyResult::ShortPut;
    if (hooks.check && !hooks.check(buffer.data(), got, bytes - got)) return ChunkCopyResult::CheckFailed;
  }
}

bool SeekTo(HANDLE file, uint64_t offset) {
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != FALSE;
}

namespace {

// The spans of the open file that hold data; false when they cannot be had.
bool QueryAllocatedRanges(HANDLE file, uint64_t size, std::vector<std::pair<uint64_t, uint64_t>>& ranges) {
  ranges.clear();
  int64_t whole[2] = {0, static_cast<int64_t>(size)};
  std::vector<int64_t> out(2 * 64);
  for (;;) {
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(file, FSCTL_QUERY_ALLOCATED_RANGES, whole, sizeof whole, out.data(),
                                      static_cast<DWORD>(out.size() * sizeof(int64_t)), &returned, nullptr);
    if (!done && GetLastError() != ERROR_MORE_DATA) return false;
    const size_t pairs = returned / (2 * sizeof(int64_t));
    for (size_t i = 0; i < pairs; ++i)
      ranges.emplace_back(static_cast<uint64_t>(out[2 * i]), static_cast<uint64_t>(out[2 * i + 1]));
    if (done) return true;
    if (pairs == 0) return false;
    // Ask again from the end of the last range given.
    const uint64_t next = ranges.back().first + ranges.back().second;
    whole[0] = static_cast<int64_t>(next);
    whole[1] = static_cast<int64_t>(size - next);
  }
}

// Makes the new destination sparse and `size` bytes long, all of it a hole.
bool MakeSparse(HANDLE file, uint64_t size) {
  DWORD returned = 0;
  if (!DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr)) return false;
  return SeekTo(file, size) && SetEndOfFile(file) && SeekTo(file, 0);
}

}  // namespace

ChunkCopyResult CopyFileData(HANDLE source, HANDLE destination, const WIN32_FIND_DATAW& entry,
                             std::vector<BYTE>& buffer, const ChunkCopyHooks& hooks, uint64_t& bytes,
                             uint64_t& expected) {
  // The open file's own size: a link's entry gives the link's, not its target's.
  uint64_t size = EntrySize(entry);
  LARGE_INTEGER opened{};
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && GetFileSizeEx(source, &opened))
    size = static_cast<uint64_t>(opened.QuadPart);
  expected = size;
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) || !QueryAllocatedRanges(source, size, ranges) ||
      !MakeSparse(destination, size))
    return CopyChunks(source, buffer, hooks, bytes);
  bytes = 0;
  expected = 0;
  for (const auto& [offset, length] : ranges) {
    expected += length;
    if (!SeekTo(source, offset) || !SeekTo(destination, offset)) return ChunkCopyResult::ShortPut;
    uint64_t got = 0;
    const ChunkCopyResult result = CopyChunks(source, buffer, hooks, got, length);
    bytes += got;
    if (result != ChunkCopyResult::Done) return result;
    if (got != length) return ChunkCopyResult::Done;  // a short read: bytes differs from expected
  }
  return ChunkCopyResult::Done;
}

bool IsSkippedEntry(const CString& name, bool isFolder, bool atVolumeRoot) {
  if (name == CString(u".") || name == CString(u"..")) return true;
  if (!atVolumeRoot) return false;
  static const char16_t* const kSystemFolders[] = {u"System Volume Information", u"$Recycle.Bin", u"RECYCLER"};
  static const char16_t* const kSystemFiles[] = {u"pagefile.sys", u"hiberfil.sys", u"swapfile.sys"};
  if (isFolder) {
    for (const char16_t* folder : kSystemFolders)
      if (name.CompareNoCase(folder) == 0) return true;
    // The old systems' bin is "RECYCLED" (shown "Recycled"); a user's
    // "recycled" in another case is the user's.
    return name == CString(u"RECYCLED") || name == CString(u"Recycled");
  }
  for (const char16_t* file : kSystemFiles)
    if (name.CompareNoCase(file) == 0) return true;
  return false;
}
