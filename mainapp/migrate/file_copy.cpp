#include "mainapp/migrate/file_copy.h"

#include "disk/disk_access.h"

std::vector<BYTE> ReadFileDacl(const CString& path) {
  DWORD needed = 0;
  GetFileSecurityW(path, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<BYTE> descriptor(needed);
  if (!needed || !GetFileSecurityW(path, DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed))
    descriptor.clear();
  return descriptor;
}

void WriteFileDacl(const CString& path, const std::vector<BYTE>& descriptor) {
  if (!descriptor.empty())
    SetFileSecurityW(path, DACL_SECURITY_INFORMATION, const_cast<BYTE*>(descriptor.data()));
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

ChunkCopyResult CopyChunks(HANDLE source, std::vector<BYTE>& buffer, const ChunkCopyHooks& hooks, uint64_t& bytes) {
  bytes = 0;
  int chunks = 0;
  const DWORD size = static_cast<DWORD>(buffer.size());
  for (;;) {
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

bool IsSkippedEntry(const CString& name, const CString& path, bool isFolder) {
  if (name == CString(u"System Volume Information")) return true;
  if (name.Left(8) == CString(u"Recycled")) return true;
  CString upper = name;
  upper.MakeUpper();
  if (upper == CString(u"RECYCLER") || upper.Left(8) == CString(u"$RECYCLE")) return true;
  if (name == CString(u".") || name == CString(u"..")) return true;
  if (isFolder) return false;
  CString upperPath = path;
  upperPath.MakeUpper();
  return upperPath.Find(u"PAGEFILE.SYS") >= 1 || upperPath.Find(u"HIBERFIL.SYS") >= 1;
}
