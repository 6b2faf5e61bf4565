// FindFirstFileW, FindNextFileW and FindClose.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/fs/file_api.h"
#include "platform/fs/path_name.h"
#include "platform/fs/resolve.h"
#include "platform/fs/volume_set.h"
#include "platform/fs/wildcard.h"

using platform::fail;

namespace platform::fs {

// The results of one search, handed out one by one.
class FindObject : public KernelObject {
 public:
  explicit FindObject(std::vector<FileInfo> entries) : entries_(std::move(entries)) {}
  const char* kind() const override { return "find"; }
  bool next(FileInfo* out) {
    if (index_ >= entries_.size()) return false;
    *out = entries_[index_++];
    return true;
  }

 private:
  std::vector<FileInfo> entries_;
  size_t index_ = 0;
};

namespace {

void fill(const FileInfo& info, WIN32_FIND_DATAW* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = info.attributes;
  data->ftCreationTime = {static_cast<DWORD>(info.creation_time), static_cast<DWORD>(info.creation_time >> 32)};
  data->ftLastAccessTime = {static_cast<DWORD>(info.last_access_time),
                            static_cast<DWORD>(info.last_access_time >> 32)};
  data->ftLastWriteTime = {static_cast<DWORD>(info.last_write_time), static_cast<DWORD>(info.last_write_time >> 32)};
  data->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(info.size);
  data->dwReserved0 = (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? info.reparse_tag : 0;
  size_t n = std::min<size_t>(info.name.size(), MAX_PATH - 1);
  std::memcpy(data->cFileName, info.name.data(), n * sizeof(WCHAR));
  if (!info.short_name.empty() && info.short_name.size() < 14 && info.short_name != info.name)
    std::memcpy(data->cAlternateFileName, info.short_name.data(), info.short_name.size() * sizeof(WCHAR));
}

void fill_stream(const FileInfo& info, WIN32_FIND_STREAM_DATA* data) {
  std::memset(data, 0, sizeof *data);
  data->StreamSize.QuadPart = static_cast<LONGLONG>(info.size);
  const size_t n = std::min<size_t>(info.name.size(), MAX_PATH + 35);
  std::memcpy(data->cStreamName, info.name.data(), n * sizeof(WCHAR));
}

// A new search handle over `found` (not empty), its first result filled into `data`.
template <typename Data>
HANDLE open_find(std::vector<FileInfo> found, void (*fill_data)(const FileInfo&, Data*), Data* data) {
  auto object = std::make_shared<FindObject>(std::move(found));
  FileInfo first;
  object->next(&first);
  fill_data(first, data);
  SetLastError(ERROR_SUCCESS);
  return platform::OpenHandle(object);
}

// The search's next result filled into `data`; fails with `end` when none is left.
template <typename Data>
BOOL find_next(HANDLE find, void (*fill_data)(const FileInfo&, Data*), Data* data, DWORD end) {
  if (!data) return fail(ERROR_INVALID_PARAMETER);
  auto object = platform::ResolveHandleAs<FindObject>(find);
  if (!object) return FALSE;
  FileInfo info;
  if (!object->next(&info)) return fail(end);
  fill_data(info, data);
  return TRUE;
}

bool is_sep(char16_t c) { return c == u'\\' || c == u'/'; }

DWORD search(const std::u16string& text, std::vector<FileInfo>* found) {
  // Split into the folder and the pattern of the last part.
  size_t cut = text.size();
  while (cut > 0 && !is_sep(text[cut - 1])) --cut;
  std::u16string folder = text.substr(0, cut), pattern = text.substr(cut);
  if (cut == 0 && text.size() >= 2 && text[1] == u':') {  // "C:*.txt"
    folder = text.substr(0, 2);
    pattern = text.substr(2);
  }
  if (pattern.empty()) return ERROR_FILE_NOT_FOUND;
  Target t;
  DWORD e = ResolveFileName(folder.empty() ? u"." : folder.c_str(), &t, true);
  if (e) return e;
  Location& where = t.where;
  auto driver = t.driver;
  FileInfo self;
  if ((e = driver->stat(where.path, &self))) return e == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : e;
  if (!(self.attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_PATH_NOT_FOUND;
  Wildcard match(pattern);
  std::vector<FileInfo> entries;
  if (match.is_literal()) {
    // A plain name: look it up directly (trailing dots and blanks go as in any name).
    std::u16string plain = pattern;
    while (!plain.empty() && (plain.back() == u'.' || plain.back() == u' ')) plain.pop_back();
    if (plain.empty()) return ERROR_FILE_NOT_FOUND;
    ParsedName one;
    if (ParseName(u"C:\\" + plain, u"", &one) || one.components.size() != 1) return ERROR_INVALID_NAME;
    VolumePath path = where.path;
    path.push_back(one.components[0]);
    FileInfo info;
    if ((e = driver->stat(path, &info))) return e == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : e;
    found->push_back(info);
    return ERROR_SUCCESS;
  }
  if ((e = driver->list(where.path, &entries))) return e;
  // Mount points inside this folder show as folders even when the volume has no folder of that name.
  for (auto& name : MountedChildren(where)) {
    bool present = false;
    for (auto& entry : entries) present = present || EqualNoCase(entry.name, name);
    if (present) continue;
    ParsedName child = t.name;
    child.components.push_back(name);
    Location at;
    FileInfo info;
    std::shared_ptr<VolumeDriver> other;
    if (Locate(child, &at) || !(other = DriverFor(at.volume, &e)) || other->stat(at.path, &info)) continue;
    info.name = name;
    info.short_name.clear();
    info.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    entries.push_back(std::move(info));
  }
  // Folders below the root list themselves and their parent first, as the platform does.
  if (!where.path.empty()) {
    FileInfo dot = self, dotdot = self;
    dot.name = u".";
    dot.short_name.clear();
    VolumePath up(where.path.begin(), where.path.end() - 1);
    if (driver->stat(up, &dotdot) != ERROR_SUCCESS) dotdot = self;
    dotdot.name = u"..";
    dotdot.short_name.clear();
    dotdot.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (match.matches(dot.name)) found->push_back(dot);
    if (match.matches(dotdot.name)) found->push_back(dotdot);
  }
  for (auto& entry : entries)
    if (match.matches(entry.name) || (!entry.short_name.empty() && match.matches(entry.short_name)))
      found->push_back(entry);
  return found->empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

}  // namespace

}  // namespace platform::fs

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  using namespace platform::fs;
  if (!pattern || !data) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard g(FsLock());
  std::vector<FileInfo> found;
  if (DWORD e = search(pattern, &found)) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  return open_find(std::move(found), fill, data);
}

BOOL FindNextFileW(HANDLE find, LPWIN32_FIND_DATAW data) {
  using namespace platform::fs;
  return find_next(find, fill, data, ERROR_NO_MORE_FILES);
}

HANDLE FindFirstStreamW(LPCWSTR name, STREAM_INFO_LEVELS level, LPVOID data, DWORD flags) {
  using namespace platform::fs;
  if (!name || !data || level != FindStreamInfoStandard || flags) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  std::vector<StreamInfo> streams;
  DWORD e = ResolveFileName(name, &t, true);
  if (!e) e = t.driver->stat(t.where.path, &info);
  if (!e) e = t.driver->list_streams(t.where.path, &streams);
  if (e) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<FileInfo> found;
  if (!(info.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    FileInfo own;
    own.name = u"::$DATA";
    own.size = info.size;
    found.push_back(own);
  }
  for (const StreamInfo& s : streams) {
    FileInfo named;
    named.name = u":" + s.name + u":$DATA";
    named.size = s.size;
    found.push_back(named);
  }
  if (found.empty()) {
    fail(ERROR_HANDLE_EOF);
    return INVALID_HANDLE_VALUE;
  }
  return open_find(std::move(found), fill_stream, static_cast<WIN32_FIND_STREAM_DATA*>(data));
}

BOOL FindNextStreamW(HANDLE find, LPVOID data) {
  using namespace platform::fs;
  return find_next(find, fill_stream, static_cast<WIN32_FIND_STREAM_DATA*>(data), ERROR_HANDLE_EOF);
}

BOOL FindClose(HANDLE find) {
  if (!platform::ResolveHandleAs<platform::fs::FindObject>(find)) return FALSE;
  return CloseHandle(find);
}
