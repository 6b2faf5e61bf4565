#include "platform/fs/file_api.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_object.h"
#include "platform/fs/path_name.h"
#include "platform/fs/resolve.h"
#include "platform/fs/security_descriptor.h"
#include "platform/fs/volume_set.h"
#include "platform/storage/device.h"
#include "platform/fs/shell_folders.h"
#include "platform/fs/fat/short_name.h"

namespace platform::process {
// Defined by the process library when a program links it (see CreateFileW).
[[gnu::weak]] HANDLE OpenPipeClient(const std::u16string& name, DWORD access, DWORD share, DWORD disposition,
                                    DWORD flags);
}  // namespace platform::process

using platform::fail;
using namespace platform::fs;

namespace platform::fs {

namespace {

constexpr DWORD kDeleteAccess = 0x00010000;
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
constexpr int kMaxReparseHops = 8;
constexpr size_t kCopyChunk = 1 << 20;
constexpr DWORD kErrorBadLength = 24;

struct Globals {
  DeviceOpener device_opener;
  std::map<std::u16string, NamespaceHandler> handlers;  // prefix folded to upper case
  std::u16string current_directory = u"C:\\";
};

Globals& globals() {
  static auto* g = new Globals;
  return *g;
}

std::u16string fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = FoldCase(c);
  return out;
}

// Copies `text` and a terminating NUL into a caller's buffer of `size`
// characters. Returns the length without the NUL when it fits, else the size
// needed including the NUL (the platform's convention).
DWORD copy_out(const std::u16string& text, LPWSTR buffer, DWORD size) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
  buffer[text.size()] = 0;
  return static_cast<DWORD>(text.size());
}

void to_filetime(uint64_t ticks, FILETIME* out) {
  if (!out) return;
  out->dwLowDateTime = static_cast<DWORD>(ticks);
  out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}
uint64_t from_filetime(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace


namespace {
// The target of a junction or symbolic link as a name ParseName accepts, or
// empty when the data is not one of those or is malformed.
std::u16string reparse_target(const std::vector<uint8_t>& data, const std::u16string& link_parent) {
  if (data.size() < 16) return {};
  auto get16 = [&](size_t at) { return static_cast<size_t>(data[at] | (data[at + 1] << 8)); };
  uint32_t tag = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
  size_t buffer_at = 16;
  bool relative = false;
  if (tag == IO_REPARSE_TAG_SYMLINK) {
    if (data.size() < 20) return {};
    buffer_at = 20;
    relative = (data[16] & 1) != 0;
  } else if (tag != IO_REPARSE_TAG_MOUNT_POINT) {
    return {};
  }
  size_t off = get16(8), len = get16(10);
  if (len % 2 || buffer_at + off + len > data.size()) return {};
  std::u16string target(len / 2, u'\0');
  std::memcpy(target.data(), data.data() + buffer_at + off, len);
  if (relative) return link_parent + u"\\" + target;
  return target;
}


}  // namespace

DWORD ResolveFileName(const char16_t* text, Target* out, bool follow_last) {
  if (!text) return ERROR_INVALID_PARAMETER;
  std::u16string name(text);
  for (int hops = 0;; ++hops) {
    DWORD e = ParseName(name, globals().current_directory, &out->name);
    if (e) return e;
    if (out->name.kind != NameKind::File) return ERROR_INVALID_NAME;
    if ((e = Locate(out->name, &out->where))) return e;
    out->driver = DriverFor(out->where.volume, &e);
    if (!out->driver) return e;
    // A junction or symbolic link inside the path leads elsewhere. Only a
    // name that does not resolve as it stands is looked at part by part.
    const VolumePath& path = out->where.path;
    FileInfo info;
    if (path.empty()) return ERROR_SUCCESS;
    e = out->driver->stat(path, &info);
    bool last_is_link = follow_last && e == ERROR_SUCCESS && (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND && !last_is_link) return ERROR_SUCCESS;
    std::u16string redirected;
    for (size_t k = 1; k <= path.size() && redirected.empty(); ++k) {
      VolumePath prefix(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(k));
      if (out->driver->stat(prefix, &info) || !(info.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
      std::vector<uint8_t> data;
      if (out->driver->get_reparse_point(prefix, &data)) continue;
      ParsedName parent = out->name;
      size_t below = path.size() - k;  // components after the link
      parent.components.resize(parent.components.size() - below - 1);
      std::u16string target = reparse_target(data, FullPathText(parent));
      if (target.empty()) continue;
      redirected = target;
      for (size_t i = k; i < path.size(); ++i) redirected += u"\\" + path[i];
    }
    if (redirected.empty()) return ERROR_SUCCESS;
    if (hops >= kMaxReparseHops) return ERROR_PATH_NOT_FOUND;
    name = redirected;
  }
}

void SetDeviceOpener(DeviceOpener opener) {
  std::lock_guard g(FsLock());
  globals().device_opener = std::move(opener);
}

void RegisterNamespaceHandler(const std::u16string& prefix, NamespaceHandler handler) {
  std::lock_guard g(FsLock());
  globals().handlers[fold(prefix)] = std::move(handler);
}

std::u16string CurrentDirectory() {
  std::lock_guard g(FsLock());
  return globals().current_directory;
}

BOOL CopyFileRange(HANDLE from, uint64_t from_offset, HANDLE to, DWORD size, DWORD* done) {
  *done = 0;
  auto source = ResolveHandle(from);
  auto target = ResolveHandle(to);
  if (!source || !target) return FALSE;
  auto source_file = std::dynamic_pointer_cast<FileObject>(source);
  auto target_file = std::dynamic_pointer_cast<FileObject>(target);
  // A device or a pipe: the caller moves the bytes through its buffer.
  if (!source_file || !target_file) return fail(ERROR_NOT_SUPPORTED);
  return target_file->copy_from(*source_file, from_offset, size, done);
}

BOOL QueryNtfsVolumeData(const std::u16string& volume_guid_path, void* out, DWORD out_size, DWORD* returned) {
  std::lock_guard g(FsLock());
  if (returned) *returned = 0;
  DWORD e = ERROR_SUCCESS;
  auto driver = DriverFor(to_utf8(volume_guid_path), &e);
  if (!driver) return fail(e);
  // Answer through a handle-less file object on the volume root.
  Location root;
  root.volume = to_utf8(volume_guid_path);
  auto object = std::make_shared<FileObject>(root, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, true);
  DWORD n = 0;
  BOOL ok = object->io_control(FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, out, out_size, &n);
  if (returned) *returned = n;
  return ok;
}

namespace {

// The platform gives new names on the system volume an 8.3 alias when they
// are not 8.3 names themselves ("Program Files" -> "PROGRA~1"), as FAT does.
void add_short_name(const Target& t) {
  if (t.where.path.empty() || t.name.root != RootKind::DriveLetter) return;
  std::u16string windows = SpecialFolder(CSIDL_WINDOWS);
  if (windows.empty() || FoldCase(windows[0]) != t.name.letter) return;
  const std::u16string& name = t.where.path.back();
  if (!fat::PlanName(name).needs_long_entries) return;
  VolumePath sibling(t.where.path.begin(), t.where.path.end() - 1);
  sibling.push_back(u"");
  auto taken = [&](const fat::ShortName& candidate) {
    sibling.back() = fat::ShortNameText(candidate);
    FileInfo info;
    return t.driver->stat(sibling, &info) == ERROR_SUCCESS;
  };
  fat::ShortName alias;
  if (fat::GenerateShortName(name, taken, &alias)) t.driver->set_short_name(t.where.path, fat::ShortNameText(alias));
}

// Opens the file object's data and hands out its handle; the last error
// says whether an existing file was opened by a creating disposition.
HANDLE hand_out(const std::shared_ptr<FileObject>& object, bool exists, DWORD disposition) {
  std::shared_ptr<VolumeDriver> attached;
  if (DWORD e = object->attach(&attached)) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  TrackOpenFile(object);
  SetLastError(exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                      : ERROR_SUCCESS);
  return OpenHandle(object);
}

HANDLE open_file(const std::u16string& text, DWORD access, DWORD share, DWORD disposition, DWORD flags, int hops) {
  Target t;
  if (DWORD e = ResolveFileName(text.c_str(), &t)) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  auto& d = *t.driver;
  FileInfo info;
  DWORD e = d.stat(t.where.path, &info);
  bool exists = e == ERROR_SUCCESS;
  if (!exists && e != ERROR_FILE_NOT_FOUND) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  if (exists && (info.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !(flags & FILE_FLAG_OPEN_REPARSE_POINT) &&
      (info.reparse_tag == IO_REPARSE_TAG_MOUNT_POINT || info.reparse_tag == IO_REPARSE_TAG_SYMLINK)) {
    // Follow the link to what it names.
    if (hops >= kMaxReparseHops) {
      fail(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    std::vector<uint8_t> data;
    if ((e = d.get_reparse_point(t.where.path, &data))) {
      fail(e);
      return INVALID_HANDLE_VALUE;
    }
    ParsedName parent = t.name;
    if (!parent.components.empty()) parent.components.pop_back();
    std::u16string target = reparse_target(data, FullPathText(parent));
    if (target.empty()) {
      fail(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    return open_file(target, access, share, disposition, flags, hops + 1);
  }
  bool wants_write = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  bool folder = exists && (info.attributes & FILE_ATTRIBUTE_DIRECTORY);
  if (folder || t.where.path.empty()) {
    if (!(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
      fail(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_NEW) {
      fail(ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) {
      fail(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (SharingConflict(t.where, access, share)) {
      fail(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
    auto object = std::make_shared<FileObject>(t.where, access, share, flags, true);
    TrackOpenFile(object);
    SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return OpenHandle(object);
  }
  if (t.name.trailing_separator) {
    fail(exists ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DWORD requested = flags & kSettableAttributes;
  bool truncate = false, create = false;
  e = ERROR_SUCCESS;
  switch (disposition) {
    case CREATE_NEW:
      if (exists) e = ERROR_FILE_EXISTS;
      create = true;
      break;
    case CREATE_ALWAYS:
      if (exists) {
        // Replacing a hidden or system file needs the caller to ask for those attributes.
        DWORD keep = info.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        if ((info.attributes & FILE_ATTRIBUTE_READONLY) || (keep & ~requested)) e = ERROR_ACCESS_DENIED;
        truncate = true;
      } else {
        create = true;
      }
      break;
    case OPEN_EXISTING:
      if (!exists) e = ERROR_FILE_NOT_FOUND;
      break;
    case OPEN_ALWAYS:
      if (!exists) create = true;
      break;
    case TRUNCATE_EXISTING:
      if (!exists) e = ERROR_FILE_NOT_FOUND;
      else if (!wants_write) e = ERROR_INVALID_PARAMETER;
      truncate = true;
      break;
  }
  if (!e && exists && wants_write && (info.attributes & FILE_ATTRIBUTE_READONLY)) e = ERROR_ACCESS_DENIED;
  if (!e && exists && SharingConflict(t.where, access | (truncate ? GENERIC_WRITE : 0), share))
    e = ERROR_SHARING_VIOLATION;
  if (!e && create && !exists) {
    e = d.create_file(t.where.path, requested | FILE_ATTRIBUTE_ARCHIVE);
    if (e == ERROR_ALREADY_EXISTS) e = ERROR_FILE_EXISTS;
    if (!e) add_short_name(t);
  }
  if (e) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  if (truncate) {
    // Truncating needs write access to the stream even when the caller asked only to read.
    std::unique_ptr<OpenFile> w;
    if (!(e = d.open(t.where.path, true, &w))) e = w->set_size(0);
    w.reset();
    if (!e && disposition == CREATE_ALWAYS) e = d.set_attributes(t.where.path, requested | FILE_ATTRIBUTE_ARCHIVE);
    if (e) {
      fail(e);
      return INVALID_HANDLE_VALUE;
    }
  }
  return hand_out(std::make_shared<FileObject>(t.where, access, share, flags, false), exists, disposition);
}

// "file:stream" or "file:stream:$DATA" in the last component of a file name:
// the name of the file (or folder) and of its named data stream. False for a
// name without a stream ("file::$DATA" names the unnamed stream).
bool split_stream(const std::u16string& text, std::u16string* base, std::u16string* stream) {
  const size_t last = text.find_last_of(u"\\/");
  const size_t component = last == std::u16string::npos ? 0 : last + 1;
  size_t colon = text.find(u':', component);
  // A drive's colon ("C:name") is not a stream's.
  if (colon == 1 && component == 0) colon = text.find(u':', 2);
  if (colon == std::u16string::npos || colon == component) return false;
  std::u16string name = text.substr(colon + 1);
  if (name.empty()) return false;  // "\\\\.\\C:" names a volume
  const size_t type = name.find(u':');
  if (type != std::u16string::npos) {
    if (fold(name.substr(type)) != fold(u":$DATA")) return false;
    name.resize(type);
  }
  *base = text.substr(0, colon);
  *stream = name;
  return true;
}

// Opens the named data stream `stream` of the existing file or folder `base`.
HANDLE open_stream_file(const std::u16string& base, const std::u16string& stream, DWORD access, DWORD share,
                        DWORD disposition, DWORD flags) {
  Target t;
  FileInfo info;
  DWORD e = ResolveFileName(base.c_str(), &t, true);
  if (!e) e = t.driver->stat(t.where.path, &info);
  if (e) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  if (stream.empty()) {  // "file::$DATA"
    return open_file(base, access, share, disposition, flags, 0);
  }
  std::vector<StreamInfo> streams;
  if ((e = t.driver->list_streams(t.where.path, &streams))) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  bool exists = false;
  for (const StreamInfo& s : streams) exists = exists || EqualNoCase(s.name, stream);
  const bool wants_write = (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
  if (disposition == CREATE_NEW && exists) e = ERROR_FILE_EXISTS;
  if ((disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) && !exists) e = ERROR_FILE_NOT_FOUND;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) e = ERROR_INVALID_PARAMETER;
  if (!e && wants_write && (info.attributes & FILE_ATTRIBUTE_READONLY)) e = ERROR_ACCESS_DENIED;
  const bool create = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  std::unique_ptr<OpenFile> opened;
  if (!e) e = t.driver->open_stream(t.where.path, stream, wants_write, create, &opened);
  if (!e && exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) {
    std::unique_ptr<OpenFile> w;
    if (!(e = t.driver->open_stream(t.where.path, stream, true, false, &w))) e = w->set_size(0);
  }
  if (e) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  opened.reset();
  return hand_out(std::make_shared<FileObject>(t.where, access, share, flags, false, stream), exists, disposition);
}

// Stats a name; *exists false (and ERROR_SUCCESS) when only the last part is missing.
DWORD stat_name(LPCWSTR text, Target* t, FileInfo* info) {
  DWORD e = ResolveFileName(text, t);
  if (e) return e;
  return t->driver->stat(t->where.path, info);
}

BOOL copy_data(VolumeDriver& from_driver, const VolumePath& from, VolumeDriver& to_driver, const VolumePath& to) {
  std::unique_ptr<OpenFile> src, dst;
  if (DWORD e = from_driver.open(from, false, &src)) return fail(e);
  if (DWORD e = to_driver.open(to, true, &dst)) return fail(e);
  if (DWORD e = dst->set_size(0)) return fail(e);
  std::vector<uint8_t> buffer(kCopyChunk);
  uint64_t size = src->size();
  for (uint64_t pos = 0; pos < size;) {
    size_t n = 0;
    if (DWORD e = src->read(pos, buffer.data(), std::min<uint64_t>(buffer.size(), size - pos), &n)) return fail(e);
    if (!n) break;
    if (DWORD e = dst->write(pos, buffer.data(), n)) return fail(e);
    pos += n;
  }
  if (DWORD e = dst->write_back()) return fail(e);
  return TRUE;
}

bool inside(const Location& a, const Location& folder) {
  if (a.volume != folder.volume || a.path.size() <= folder.path.size()) return false;
  for (size_t i = 0; i < folder.path.size(); ++i)
    if (!EqualNoCase(a.path[i], folder.path[i])) return false;
  return true;
}

bool same_location(const Location& a, const Location& b) {
  if (a.volume != b.volume || a.path.size() != b.path.size()) return false;
  for (size_t i = 0; i < a.path.size(); ++i)
    if (!EqualNoCase(a.path[i], b.path[i])) return false;
  return true;
}

}  // namespace

}  // namespace platform::fs

// ---- Win32 calls ---------------------------------------------------------------

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags_and_attributes, HANDLE) {
  if (!name) {
    fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string text(name);
  NamespaceHandler handler;
  DeviceOpener opener;
  {
    std::lock_guard g(FsLock());
    std::u16string folded = fold(text);
    for (auto& [prefix, h] : globals().handlers)
      if (folded.rfind(prefix, 0) == 0) handler = h;
    opener = globals().device_opener;
  }
  // Handlers run outside the file lock: a pipe open may wait for its server.
  if (handler) return handler(text, access, share, disposition, flags_and_attributes);
  // A named stream of a file ("file:stream"): the name is the file's.
  std::u16string base, stream;
  const bool named_stream = split_stream(text, &base, &stream);
  ParsedName parsed;
  DWORD e = ParseName(named_stream ? base : text, CurrentDirectory(), &parsed);
  if (e) {
    fail(e);
    return INVALID_HANDLE_VALUE;
  }
  if (parsed.kind == NameKind::Pipe) {
    // Without a registered handler, the process library's pipe client, when
    // the program carries it (it lives above this layer, so it is only looked
    // for, never pulled in).
    if (&platform::process::OpenPipeClient) {
      return platform::process::OpenPipeClient(text, access, share, disposition, flags_and_attributes);
    }
    fail(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (parsed.kind == NameKind::Device) {
    if (opener) return opener(text, access, share, disposition, flags_and_attributes);
    HANDLE device = INVALID_HANDLE_VALUE;
    auto r = platform::storage::OpenDevice(text, access, share, disposition, flags_and_attributes, &device);
    if (r == platform::storage::DeviceOpenResult::NotADevice) fail(ERROR_FILE_NOT_FOUND);
    return r == platform::storage::DeviceOpenResult::Opened ? device : INVALID_HANDLE_VALUE;
  }
  std::lock_guard g(FsLock());
  if (named_stream) return open_stream_file(base, stream, access, share, disposition, flags_and_attributes);
  return open_file(text, access, share, disposition, flags_and_attributes, 0);
}

BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) {
  std::lock_guard g(FsLock());
  Target t;
  if (DWORD e = ResolveFileName(name, &t)) return fail(e);
  if (t.where.path.empty()) return fail(ERROR_ACCESS_DENIED);
  DWORD e = t.driver->create_folder(t.where.path);
  if (e == ERROR_FILE_EXISTS) e = ERROR_ALREADY_EXISTS;
  if (!e) add_short_name(t);
  return e ? fail(e) : TRUE;
}

namespace {

// Removes the item `t` names, unless a handle open on it does not share
// deletion.
BOOL remove_unshared(const Target& t) {
  if (SharingConflict(t.where, kDeleteAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
    return fail(ERROR_SHARING_VIOLATION);
  DWORD e = t.driver->remove(t.where.path);
  return e ? fail(e) : TRUE;
}

}  // namespace

BOOL RemoveDirectoryW(LPCWSTR name) {
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) return fail(e);
  if (t.where.path.empty()) return fail(ERROR_ACCESS_DENIED);
  if (!(info.attributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_DIRECTORY);
  if (info.attributes & FILE_ATTRIBUTE_READONLY) return fail(ERROR_ACCESS_DENIED);
  return remove_unshared(t);
}

BOOL DeleteFileW(LPCWSTR name) {
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) return fail(e);
  if (info.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY) || t.where.path.empty())
    return fail(ERROR_ACCESS_DENIED);
  return remove_unshared(t);
}

BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::lock_guard g(FsLock());
  Target a, b;
  FileInfo info;
  if (DWORD e = stat_name(from, &a, &info)) return fail(e);
  if (DWORD e = ResolveFileName(to, &b)) return fail(e);
  if (a.where.path.empty() || b.where.path.empty()) return fail(ERROR_ACCESS_DENIED);
  const DWORD all_share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (SharingConflict(a.where, kDeleteAccess, all_share)) return fail(ERROR_SHARING_VIOLATION);
  bool folder = info.attributes & FILE_ATTRIBUTE_DIRECTORY;
  if (folder && inside(b.where, a.where)) return fail(ERROR_SHARING_VIOLATION);
  FileInfo existing;
  bool same = same_location(a.where, b.where);
  if (!same && b.driver->stat(b.where.path, &existing) == ERROR_SUCCESS) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING) || (existing.attributes & FILE_ATTRIBUTE_DIRECTORY) || folder)
      return fail(ERROR_ALREADY_EXISTS);
    if (existing.attributes & FILE_ATTRIBUTE_READONLY) return fail(ERROR_ACCESS_DENIED);
    if (SharingConflict(b.where, kDeleteAccess, all_share)) return fail(ERROR_SHARING_VIOLATION);
    if (DWORD e = b.driver->remove(b.where.path)) return fail(e);
  }
  if (a.where.volume == b.where.volume) {
    DWORD e = a.driver->rename(a.where.path, b.where.path);
    return e ? fail(e) : TRUE;
  }
  // Another volume: copy the file, then remove the original.
  if (folder || !(flags & MOVEFILE_COPY_ALLOWED)) return fail(ERROR_NOT_SAME_DEVICE);
  if (DWORD e = b.driver->create_file(b.where.path, info.attributes & kSettableAttributes)) return fail(e);
  if (!copy_data(*a.driver, a.where.path, *b.driver, b.where.path)) {
    DWORD e = GetLastError();
    b.driver->remove(b.where.path);
    return fail(e);
  }
  b.driver->set_times(b.where.path, &info.creation_time, &info.last_access_time, &info.last_write_time);
  b.driver->set_attributes(b.where.path, info.attributes & kSettableAttributes);
  DWORD e = a.driver->remove(a.where.path);
  return e ? fail(e) : TRUE;
}

BOOL CreateHardLinkW(LPCWSTR link, LPCWSTR existing, LPSECURITY_ATTRIBUTES) {
  std::lock_guard g(FsLock());
  Target a, b;
  FileInfo info;
  if (DWORD e = stat_name(existing, &a, &info)) return fail(e);
  if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(ERROR_ACCESS_DENIED);
  if (DWORD e = ResolveFileName(link, &b)) return fail(e);
  if (b.where.path.empty()) return fail(ERROR_ACCESS_DENIED);
  if (a.where.volume != b.where.volume) return fail(ERROR_NOT_SAME_DEVICE);
  DWORD e = a.driver->create_link(a.where.path, b.where.path);
  return e ? fail(e) : TRUE;
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) { return MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED); }

BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists) {
  std::lock_guard g(FsLock());
  Target a, b;
  FileInfo info;
  if (DWORD e = stat_name(from, &a, &info)) return fail(e);
  if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return fail(ERROR_ACCESS_DENIED);
  if (DWORD e = ResolveFileName(to, &b)) return fail(e);
  if (same_location(a.where, b.where)) return fail(ERROR_SHARING_VIOLATION);
  if (SharingConflict(a.where, GENERIC_READ, FILE_SHARE_READ)) return fail(ERROR_SHARING_VIOLATION);
  FileInfo existing;
  DWORD e = b.driver->stat(b.where.path, &existing);
  if (e == ERROR_SUCCESS) {
    if (fail_if_exists) return fail(ERROR_FILE_EXISTS);
    if (existing.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return fail(ERROR_ACCESS_DENIED);
    if (SharingConflict(b.where, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE))
      return fail(ERROR_SHARING_VIOLATION);
  } else if (e == ERROR_FILE_NOT_FOUND) {
    if ((e = b.driver->create_file(b.where.path, 0))) return fail(e);
  } else {
    return fail(e);
  }
  if (!copy_data(*a.driver, a.where.path, *b.driver, b.where.path)) return FALSE;
  // The copy keeps the original's last-write time and attributes, and is marked for archiving.
  b.driver->set_times(b.where.path, nullptr, nullptr, &info.last_write_time);
  if ((e = b.driver->set_attributes(b.where.path, (info.attributes & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE)))
    return fail(e);
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR name) {
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) {
    SetLastError(e);
    return INVALID_FILE_ATTRIBUTES;
  }
  return info.attributes;
}

BOOL GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level, LPVOID out) {
  if (level != GetFileExInfoStandard || !out) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) return fail(e);
  auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(out);
  data->dwFileAttributes = info.attributes;
  to_filetime(info.creation_time, &data->ftCreationTime);
  to_filetime(info.last_access_time, &data->ftLastAccessTime);
  to_filetime(info.last_write_time, &data->ftLastWriteTime);
  data->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(info.size);
  return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR name, DWORD attributes) {
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) return fail(e);
  DWORD e = t.driver->set_attributes(t.where.path, attributes & kSettableAttributes);
  return e ? fail(e) : TRUE;
}

BOOL GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME last_access, LPFILETIME last_write) {
  std::lock_guard g(FsLock());
  auto object = platform::ResolveHandleAs<FileObject>(file);
  if (!object) return FALSE;
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = object->attach(&d)) return fail(e);
  FileInfo info;
  if (DWORD e = d->stat(object->where().path, &info)) return fail(e);
  to_filetime(info.creation_time, creation);
  to_filetime(info.last_access_time, last_access);
  to_filetime(info.last_write_time, last_write);
  return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* last_access, const FILETIME* last_write) {
  std::lock_guard g(FsLock());
  auto object = platform::ResolveHandleAs<FileObject>(file);
  if (!object) return FALSE;
  if (!object->can_write() && !(object->access() & FILE_WRITE_ATTRIBUTES)) return fail(ERROR_ACCESS_DENIED);
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = object->attach(&d)) return fail(e);
  // A null pointer or a zero time leaves that time as it is.
  uint64_t c = creation ? from_filetime(*creation) : 0, a = last_access ? from_filetime(*last_access) : 0,
           w = last_write ? from_filetime(*last_write) : 0;
  DWORD e = d->set_times(object->where().path, c ? &c : nullptr, a ? &a : nullptr, w ? &w : nullptr);
  return e ? fail(e) : TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* out) {
  if (!out) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard g(FsLock());
  auto object = platform::ResolveHandleAs<FileObject>(file);
  if (!object) return FALSE;
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = object->attach(&d)) return fail(e);
  FileInfo info;
  DWORD serial = 0;
  if (DWORD e = d->stat(object->where().path, &info)) return fail(e);
  if (DWORD e = d->volume_serial(&serial)) return fail(e);
  out->dwFileAttributes = info.attributes;
  to_filetime(info.creation_time, &out->ftCreationTime);
  to_filetime(info.last_access_time, &out->ftLastAccessTime);
  to_filetime(info.last_write_time, &out->ftLastWriteTime);
  out->dwVolumeSerialNumber = serial;
  out->nFileSizeHigh = static_cast<DWORD>(info.size >> 32);
  out->nFileSizeLow = static_cast<DWORD>(info.size);
  out->nNumberOfLinks = info.link_count ? info.link_count : 1;
  out->nFileIndexHigh = static_cast<DWORD>(info.file_id >> 32);
  out->nFileIndexLow = static_cast<DWORD>(info.file_id);
  return TRUE;
}

BOOL SetFileShortNameW(HANDLE file, LPCWSTR short_name) {
  if (!short_name) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard g(FsLock());
  auto object = platform::ResolveHandleAs<FileObject>(file);
  if (!object) return FALSE;
  if (!(object->access() & (kDeleteAccess | GENERIC_ALL))) return fail(ERROR_ACCESS_DENIED);
  std::u16string name(short_name);
  // An 8.3 name: up to 8 characters, an optional dot and up to 3 more, no blanks or wildcards.
  size_t dot = name.find(u'.');
  std::u16string base = name.substr(0, dot), ext = dot == std::u16string::npos ? u"" : name.substr(dot + 1);
  bool valid = !base.empty() && base.size() <= 8 && ext.size() <= 3 && ext.find(u'.') == std::u16string::npos;
  for (char16_t c : name)
    if (c <= u' ' || c == u'*' || c == u'?' || c == u'\\' || c == u'/' || c == u'+' || c == u',' || c == u';' ||
        c == u'=' || c == u'[' || c == u']' || c == u'"' || c == u'<' || c == u'>' || c == u'|' || c == u':')
      valid = false;
  if (!valid) return fail(ERROR_INVALID_PARAMETER);
  std::shared_ptr<VolumeDriver> d;
  if (DWORD e = object->attach(&d)) return fail(e);
  DWORD e = d->set_short_name(object->where().path, name);
  return e ? fail(e) : TRUE;
}

DWORD GetFullPathNameW(LPCWSTR name, DWORD size, LPWSTR buffer, LPWSTR* file_part) {
  if (file_part) *file_part = nullptr;
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ParsedName parsed;
  DWORD e = ParseName(name, CurrentDirectory(), &parsed);
  if (e) {
    SetLastError(e);
    return 0;
  }
  std::u16string full = parsed.kind == NameKind::File ? FullPathText(parsed) : parsed.device;
  if (parsed.kind == NameKind::File && parsed.trailing_separator && !parsed.components.empty()) full += u"\\";
  DWORD r = copy_out(full, buffer, size);
  if (r < size && file_part && parsed.kind == NameKind::File && !parsed.components.empty() &&
      !parsed.trailing_separator)
    *file_part = buffer + (full.size() - parsed.components.back().size());
  return r;
}

namespace {

// Rewrites each component with the stored short (or long) name.
DWORD rewrite_path(LPCWSTR name, LPWSTR buffer, DWORD size, bool want_short) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::lock_guard g(FsLock());
  Target t;
  DWORD e = ResolveFileName(name, &t);
  if (e) {
    SetLastError(e);
    return 0;
  }
  ParsedName out = t.name;
  // Components below the volume root start where the located path starts.
  size_t skip = t.name.components.size() - t.where.path.size();
  VolumePath walk;
  for (size_t i = 0; i < t.where.path.size(); ++i) {
    walk.push_back(t.where.path[i]);
    FileInfo info;
    if ((e = t.driver->stat(walk, &info))) {
      SetLastError(e == ERROR_PATH_NOT_FOUND && i + 1 == t.where.path.size() ? ERROR_FILE_NOT_FOUND : e);
      return 0;
    }
    std::u16string part = want_short ? (info.short_name.empty() ? info.name : info.short_name) : info.name;
    if (!part.empty()) out.components[skip + i] = part;
  }
  std::u16string text = FullPathText(out);
  // Keep the caller's own spelling of the root ("C:\" stays, "\\?\" prefixes too).
  std::u16string given(name);
  if (given.rfind(u"\\\\?\\", 0) == 0 && out.root == RootKind::DriveLetter) text = u"\\\\?\\" + text;
  if (t.name.trailing_separator && !out.components.empty()) text += u"\\";
  return copy_out(text, buffer, size);
}

}  // namespace

DWORD GetShortPathNameW(LPCWSTR name, LPWSTR buffer, DWORD size) { return rewrite_path(name, buffer, size, true); }
DWORD GetLongPathNameW(LPCWSTR name, LPWSTR buffer, DWORD size) { return rewrite_path(name, buffer, size, false); }

BOOL SetCurrentDirectoryW(LPCWSTR name) {
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) return fail(e);
  if (!(info.attributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(ERROR_DIRECTORY);
  globals().current_directory = FullPathText(t.name);
  return TRUE;
}

DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer) { return copy_out(CurrentDirectory(), buffer, size); }

BOOL GetFileSecurityW(LPCWSTR name, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor, DWORD size,
                      LPDWORD needed) {
  if (!needed) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) return fail(e);
  std::vector<uint8_t> stored;
  if (DWORD e = t.driver->get_security(t.where.path, &stored)) return fail(e);
  SecurityParts parts, wanted;
  if (DWORD e = ParseSelfRelative(stored.data(), stored.size(), &parts)) return fail(e);
  wanted.control = parts.control;
  if (requested & OWNER_SECURITY_INFORMATION) wanted.owner = parts.owner;
  if (requested & GROUP_SECURITY_INFORMATION) wanted.group = parts.group;
  if (requested & DACL_SECURITY_INFORMATION) wanted.dacl = parts.dacl;
  if (requested & SACL_SECURITY_INFORMATION) wanted.sacl = parts.sacl;
  auto bytes = BuildSelfRelative(wanted);
  *needed = static_cast<DWORD>(bytes.size());
  if (!descriptor || size < bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(descriptor, bytes.data(), bytes.size());
  return TRUE;
}

BOOL SetFileSecurityW(LPCWSTR name, SECURITY_INFORMATION which, PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor) return fail(ERROR_INVALID_PARAMETER);
  std::lock_guard g(FsLock());
  Target t;
  FileInfo info;
  if (DWORD e = stat_name(name, &t, &info)) return fail(e);
  SecurityParts given, merged;
  if (ParseProgramDescriptor(descriptor, &given)) return fail(ERROR_INVALID_PARAMETER);
  std::vector<uint8_t> stored;
  if (DWORD e = t.driver->get_security(t.where.path, &stored)) return fail(e);
  if (DWORD e = ParseSelfRelative(stored.data(), stored.size(), &merged)) return fail(e);
  // Each part is set with its own control bits (a DACL's protection from
  // inheritance among them); the parts not given keep theirs.
  auto take = [&](SECURITY_INFORMATION part, WORD bits) {
    if (which & part) merged.control = static_cast<WORD>((merged.control & ~bits) | (given.control & bits));
  };
  take(OWNER_SECURITY_INFORMATION, SE_OWNER_DEFAULTED);
  take(GROUP_SECURITY_INFORMATION, SE_GROUP_DEFAULTED);
  take(DACL_SECURITY_INFORMATION, SE_DACL_DEFAULTED | SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED);
  take(SACL_SECURITY_INFORMATION, SE_SACL_DEFAULTED | SE_SACL_AUTO_INHERITED | SE_SACL_PROTECTED);
  if (which & DACL_SECURITY_INFORMATION) {
    if (which & PROTECTED_DACL_SECURITY_INFORMATION) merged.control |= SE_DACL_PROTECTED;
    if (which & UNPROTECTED_DACL_SECURITY_INFORMATION) merged.control &= static_cast<WORD>(~SE_DACL_PROTECTED);
  }
  if (which & OWNER_SECURITY_INFORMATION) merged.owner = given.owner;
  if (which & GROUP_SECURITY_INFORMATION) merged.group = given.group;
  if (which & DACL_SECURITY_INFORMATION) merged.dacl = given.dacl;
  if (which & SACL_SECURITY_INFORMATION) merged.sacl = given.sacl;
  DWORD e = t.driver->set_security(t.where.path, BuildSelfRelative(merged));
  return e ? fail(e) : TRUE;
}

namespace {

// A volume root as GetVolumeInformationW and friends take it: "C:\" (the
// trailing separator is required), a GUID path or a folder on a volume.
DWORD volume_of(LPCWSTR root, Target* t, bool need_root_form) {
  std::u16string text = root ? std::u16string(root) : platform::fs::CurrentDirectory().substr(0, 3);
  if (need_root_form && !text.empty() && text.back() != u'\\' && text.back() != u'/') return ERROR_INVALID_NAME;
  return ResolveFileName(text.c_str(), t);
}

}  // namespace

BOOL GetVolumeInformationW(LPCWSTR root, LPWSTR label, DWORD label_size, LPDWORD serial, LPDWORD max_component,
                           LPDWORD flags, LPWSTR file_system, DWORD file_system_size) {
  std::lock_guard g(FsLock());
  Target t;
  if (DWORD e = volume_of(root, &t, true)) return fail(e);
  VolumeInfo vi;
  if (DWORD e = t.driver->volume_info(&vi)) return fail(e);
  if (label && label_size) {
    if (copy_out(vi.label, label, label_size) > vi.label.size()) return fail(kErrorBadLength);
  }
  if (file_system && file_system_size) {
    if (copy_out(vi.file_system, file_system, file_system_size) > vi.file_system.size())
      return fail(kErrorBadLength);
  }
  if (serial) *serial = vi.serial_number;
  if (max_component) *max_component = vi.max_component_length;
  if (flags) *flags = vi.flags;
  return TRUE;
}

BOOL SetVolumeLabelW(LPCWSTR root, LPCWSTR label) {
  std::lock_guard g(FsLock());
  Target t;
  if (DWORD e = volume_of(root, &t, true)) return fail(e);
  DWORD e = t.driver->set_label(label ? std::u16string(label) : std::u16string());
  return e ? fail(e) : TRUE;
}

BOOL GetDiskFreeSpaceW(LPCWSTR root, LPDWORD sectors_per_cluster, LPDWORD bytes_per_sector, LPDWORD free_clusters,
                       LPDWORD total_clusters) {
  std::lock_guard g(FsLock());
  Target t;
  if (DWORD e = volume_of(root, &t, true)) return fail(e);
  VolumeInfo vi;
  if (DWORD e = t.driver->volume_info(&vi)) return fail(e);
  if (!vi.bytes_per_sector) return fail(ERROR_FILE_CORRUPT);
  if (sectors_per_cluster) *sectors_per_cluster = vi.bytes_per_cluster / vi.bytes_per_sector;
  if (bytes_per_sector) *bytes_per_sector = vi.bytes_per_sector;
  // The old call's counts are 32 bits: large volumes report the largest value.
  if (free_clusters) *free_clusters = static_cast<DWORD>(std::min<uint64_t>(vi.free_clusters, 0xFFFFFFFFu));
  if (total_clusters) *total_clusters = static_cast<DWORD>(std::min<uint64_t>(vi.total_clusters, 0xFFFFFFFFu));
  return TRUE;
}

BOOL GetDiskFreeSpaceExW(LPCWSTR folder, PULARGE_INTEGER free_to_caller, PULARGE_INTEGER total,
                         PULARGE_INTEGER total_free) {
  std::lock_guard g(FsLock());
  Target t;
  if (DWORD e = volume_of(folder, &t, false)) return fail(e);
  VolumeInfo vi;
  if (DWORD e = t.driver->volume_info(&vi)) return fail(e);
  uint64_t cluster = vi.bytes_per_cluster;
  if (free_to_caller) free_to_caller->QuadPart = vi.free_clusters * cluster;
  if (total) total->QuadPart = vi.total_clusters * cluster;
  if (total_free) total_free->QuadPart = vi.free_clusters * cluster;
  return TRUE;
}
