#include "platform/storage/volume_api.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/core/ascii_case.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/machine/machine.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_table.h"

namespace platform::storage {

namespace {

std::mutex& query_lock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::function<std::u16string()>& current_directory_query() {
  static auto* q = new std::function<std::u16string()>;
  return *q;
}

bool is_letter(WCHAR c) { return AsciiUpper(c) >= u'A' && AsciiUpper(c) <= u'Z'; }

// "\\?\Volume{8-4-4-4-12}\" with hex digits; `trailing` says whether the final backslash is required.
bool is_volume_guid_path(std::u16string_view s, bool trailing) {
  constexpr std::u16string_view prefix = u"\\\\?\\Volume{";
  size_t want = prefix.size() + 36 + 1 + (trailing ? 1 : 0);
  if (s.size() != want) return false;
  if (AsciiUpper(s.substr(0, prefix.size())) != AsciiUpper(prefix)) return false;
  for (size_t i = 0; i < 36; ++i) {
    WCHAR c = s[prefix.size() + i];
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const WCHAR upper = AsciiUpper(c);
    if (dash ? c != u'-' : !((c >= u'0' && c <= u'9') || (upper >= u'A' && upper <= u'F'))) return false;
  }
  if (s[prefix.size() + 36] != u'}') return false;
  return !trailing || s.back() == u'\\';
}

std::optional<MountedVolume> volume_by_letter(WCHAR letter) {
  for (auto& v : MountedVolumes())
    if (v.letter && AsciiUpper(v.letter) == AsciiUpper(letter)) return v;
  return std::nullopt;
}

std::optional<MountedVolume> volume_by_guid(std::u16string_view guid_path) {
  std::u16string want = AsciiUpper(guid_path);
  if (!want.empty() && want.back() != u'\\') want += u'\\';
  for (auto& v : MountedVolumes())
    if (AsciiUpper(v.guid_path) == want) return v;
  return std::nullopt;
}

std::optional<machine::HostMount> host_drive(WCHAR letter) {
  auto m = machine::CurrentIfOpen();
  if (!m) return std::nullopt;
  for (auto& h : m->mounts())
    if (h.is_whole_drive() && AsciiUpper(static_cast<WCHAR>(h.path[0])) == AsciiUpper(letter)) return h;
  return std::nullopt;
}

UINT host_drive_type(const machine::HostMount& h) {
  if (h.drive_type == "removable") return DRIVE_REMOVABLE;
  if (h.drive_type == "cdrom") return DRIVE_CDROM;
  if (h.drive_type == "remote") return DRIVE_REMOTE;
  if (h.drive_type == "ramdisk") return DRIVE_RAMDISK;
  return DRIVE_FIXED;
}

UINT volume_type(const MountedVolume& v) {
  if (v.disk_number < 0) {
    if (auto h = host_drive(v.letter)) return host_drive_type(*h);
    return DRIVE_FIXED;
  }
  return v.removable ? DRIVE_REMOVABLE : DRIVE_FIXED;
}

UINT letter_type(WCHAR letter, int depth);

// The drive type behind a DOS device target ("\??\C:\x", "\Device\HarddiskVolume2").
UINT target_type(const std::u16string& target, int depth) {
  std::u16string t = AsciiUpper(target);
  if (t.size() >= 6 && t.rfind(u"\\??\\", 0) == 0 && is_letter(t[4]) && t[5] == u':') return letter_type(t[4], depth + 1);
  for (auto& v : MountedVolumes())
    if (AsciiUpper(v.device_name) == t) return volume_type(v);
  return DRIVE_UNKNOWN;
}

UINT letter_type(WCHAR letter, int depth) {
  if (depth > 8) return DRIVE_UNKNOWN;  // definitions that point at each other
  auto defs = DosDeviceDefinitions(std::u16string(1, AsciiUpper(letter)) + u":");
  if (!defs.empty()) return target_type(defs.front(), depth);
  if (auto v = volume_by_letter(letter)) return volume_type(*v);
  if (auto h = host_drive(letter)) return host_drive_type(*h);
  return DRIVE_NO_ROOT_DIR;
}

// Copies `text` and a NUL when it fits in `capacity` characters.
bool copy_out(const std::u16string& text, LPWSTR buffer, DWORD capacity) {
  if (!buffer || capacity < text.size() + 1) return false;
  std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
  buffer[text.size()] = 0;
  return true;
}

std::u16string letter_root(WCHAR letter) { return std::u16string(1, AsciiUpper(letter)) + u":\\"; }

class VolumeSearch final : public KernelObject {
 public:
  explicit VolumeSearch(std::vector<std::u16string> names) : names_(std::move(names)) {}
  const char* kind() const override { return "volume search"; }
  std::vector<std::u16string> names_;
  size_t next_ = 0;
};

}  // namespace

void SetCurrentDirectoryQuery(std::function<std::u16string()> query) {
  std::lock_guard guard(query_lock());
  current_directory_query() = std::move(query);
}

}  // namespace platform::storage

using namespace platform::storage;

DWORD GetLogicalDrives() {
  PollDeviceChanges();
  SetLastError(ERROR_SUCCESS);
  return LetterMask();
}

DWORD GetLogicalDriveStringsW(DWORD buffer_length, LPWSTR buffer) {
  DWORD mask = GetLogicalDrives();
  std::u16string list;
  for (int i = 0; i < 26; ++i)
    if (mask & (1u << i)) list += letter_root(static_cast<WCHAR>(u'A' + i)) + u'\0';
  DWORD needed = static_cast<DWORD>(list.size()) + 1;
  if (!buffer || buffer_length < needed) return needed;
  std::memcpy(buffer, list.data(), list.size() * sizeof(WCHAR));
  buffer[list.size()] = 0;
  return static_cast<DWORD>(list.size());
}

UINT GetDriveTypeW(LPCWSTR root_path) {
  EnsureMounted();
  std::u16string path;
  if (root_path) {
    path = root_path;
  } else {
    std::function<std::u16string()> query;
    {
      std::lock_guard guard(query_lock());
      query = current_directory_query();
    }
    path = query ? query() : u"C:\\";
    if (path.size() >= 2 && path[1] == u':') path = path.substr(0, 2) + u"\\";
  }
  // "C:" and "C:\" name the drive.
  if ((path.size() == 2 || (path.size() == 3 && path[2] == u'\\')) && is_letter(path[0]) && path[1] == u':')
    return letter_type(path[0], 0);
  if (is_volume_guid_path(path, true)) {
    auto v = volume_by_guid(path);
    return v ? volume_type(*v) : DRIVE_NO_ROOT_DIR;
  }
  if (!path.empty() && path.back() == u'\\') {
    auto mounts = FolderMountPoints();
    auto it = mounts.find(platform::AsciiUpper(path));
    if (it != mounts.end())
      if (auto v = volume_by_guid(it->second)) return volume_type(*v);
  }
  return DRIVE_NO_ROOT_DIR;
}

HANDLE FindFirstVolumeW(LPWSTR volume_name, DWORD buffer_length) {
  PollDeviceChanges();
  std::vector<std::u16string> names;
  for (auto& v : MountedVolumes()) names.push_back(v.guid_path);
  if (!volume_name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (names.empty()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return INVALID_HANDLE_VALUE;
  }
  if (!copy_out(names[0], volume_name, buffer_length)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  auto search = std::make_shared<VolumeSearch>(std::move(names));
  search->next_ = 1;
  SetLastError(ERROR_SUCCESS);
  return platform::OpenHandle(search);
}

BOOL FindNextVolumeW(HANDLE find, LPWSTR volume_name, DWORD buffer_length) {
  auto search = platform::ResolveHandleAs<VolumeSearch>(find);
  if (!search) return platform::fail(ERROR_INVALID_HANDLE);
  if (!volume_name) return platform::fail(ERROR_INVALID_PARAMETER);
  if (search->next_ >= search->names_.size()) return platform::fail(ERROR_NO_MORE_FILES);
  if (!copy_out(search->names_[search->next_], volume_name, buffer_length))
    return platform::fail(ERROR_FILENAME_EXCED_RANGE);
  ++search->next_;
  return TRUE;
}

BOOL FindVolumeClose(HANDLE find) {
  if (!platform::ResolveHandleAs<VolumeSearch>(find)) return platform::fail(ERROR_INVALID_HANDLE);
  return CloseHandle(find);
}

BOOL GetVolumeNameForVolumeMountPointW(LPCWSTR mount_point, LPWSTR volume_name, DWORD buffer_length) {
  if (!mount_point || !volume_name) return platform::fail(ERROR_INVALID_PARAMETER);
  PollDeviceChanges();
  std::u16string mp = mount_point;
  if (mp.empty() || mp.back() != u'\\') return platform::fail(ERROR_INVALID_PARAMETER);
  std::u16string answer;
  if (mp.size() == 3 && is_letter(mp[0]) && mp[1] == u':') {
    auto v = volume_by_letter(mp[0]);
    if (!v) return platform::fail(ERROR_FILE_NOT_FOUND);
    answer = v->guid_path;
  } else if (is_volume_guid_path(mp, true)) {
    auto v = volume_by_guid(mp);
    if (!v) return platform::fail(ERROR_FILE_NOT_FOUND);
    answer = v->guid_path;
  } else {
    auto mounts = FolderMountPoints();
    auto it = mounts.find(platform::AsciiUpper(mp));
    if (it == mounts.end()) {
      bool on_drive = mp.size() > 3 && is_letter(mp[0]) && mp[1] == u':' && mp[2] == u'\\' &&
                      (LetterMask() & (1u << (platform::AsciiUpper(mp[0]) - u'A')));
      return platform::fail(on_drive ? ERROR_NOT_A_REPARSE_POINT : ERROR_FILE_NOT_FOUND);
    }
    answer = it->second;
  }
  if (!copy_out(answer, volume_name, buffer_length)) return platform::fail(ERROR_FILENAME_EXCED_RANGE);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volume_name, LPWCH path_names, DWORD buffer_length,
                                      PDWORD return_length) {
  if (!volume_name) return platform::fail(ERROR_INVALID_PARAMETER);
  EnsureMounted();
  if (!is_volume_guid_path(volume_name, true)) return platform::fail(ERROR_INVALID_NAME);
  auto v = volume_by_guid(volume_name);
  if (!v) return platform::fail(ERROR_FILE_NOT_FOUND);
  std::u16string list;
  if (v->letter) list += letter_root(v->letter) + u'\0';
  for (auto& [folder, guid] : FolderMountPoints())
    if (platform::AsciiUpper(guid) == platform::AsciiUpper(v->guid_path)) list += folder + u'\0';
  DWORD needed = static_cast<DWORD>(list.size()) + 1;
  if (return_length) *return_length = needed;
  if (!path_names || buffer_length < needed) return platform::fail(ERROR_MORE_DATA);
  std::memcpy(path_names, list.data(), list.size() * sizeof(WCHAR));
  path_names[list.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL SetVolumeMountPointW(LPCWSTR mount_point, LPCWSTR volume_name) {
  if (!mount_point || !volume_name) return platform::fail(ERROR_INVALID_PARAMETER);
  std::u16string mp = mount_point;
  if (!is_volume_guid_path(volume_name, true)) return platform::fail(ERROR_INVALID_NAME);
  if (mp.size() < 3 || !is_letter(mp[0]) || mp[1] != u':' || mp[2] != u'\\' || mp.back() != u'\\')
    return platform::fail(ERROR_INVALID_PARAMETER);
  DWORD rc = mp.size() == 3 ? AssignLetter(mp[0], volume_name) : AddFolderMountPoint(mp, volume_name);
  if (rc != ERROR_SUCCESS) return platform::fail(rc);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL DeleteVolumeMountPointW(LPCWSTR mount_point) {
  if (!mount_point) return platform::fail(ERROR_INVALID_PARAMETER);
  EnsureMounted();
  std::u16string mp = mount_point;
  if (mp.size() < 3 || !is_letter(mp[0]) || mp[1] != u':' || mp[2] != u'\\' || mp.back() != u'\\')
    return platform::fail(ERROR_INVALID_PARAMETER);
  DWORD rc;
  if (mp.size() == 3) {
    rc = RemoveLetter(mp[0]);
    if (rc == ERROR_FILE_NOT_FOUND && host_drive(mp[0])) rc = ERROR_ACCESS_DENIED;  // a host folder stays
  } else {
    rc = RemoveFolderMountPoint(mp);
  }
  if (rc != ERROR_SUCCESS) return platform::fail(rc);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

DWORD QueryDosDeviceW(LPCWSTR device_name, LPWSTR target_path, DWORD max_chars) {
  EnsureMounted();
  std::vector<std::u16string> items;
  auto disks = [] {
    std::vector<int> numbers;
    if (auto m = platform::machine::CurrentIfOpen())
      for (auto& d : m->disks()) numbers.push_back(d->number());
    return numbers;
  };
  if (!device_name) {
    DWORD mask = LetterMask();
    for (int i = 0; i < 26; ++i)
      if (mask & (1u << i)) items.push_back(std::u16string(1, static_cast<WCHAR>(u'A' + i)) + u":");
    for (int n : disks()) items.push_back(u"PhysicalDrive" + platform::to_utf16(std::to_string(n)));
    for (auto& v : MountedVolumes()) items.push_back(v.guid_path.substr(4, 44));
    for (auto& name : DefinedDosDeviceNames())
      if (!(name.size() == 2 && name[1] == u':')) items.push_back(name);
  } else {
    std::u16string name = device_name;
    std::u16string key = platform::AsciiUpper(name);
    items = DosDeviceDefinitions(key);
    if (key.size() == 2 && is_letter(key[0]) && key[1] == u':') {
      if (auto v = volume_by_letter(key[0])) items.push_back(v->device_name);
      else if (auto h = host_drive(key[0]))
        items.push_back(u"\\Device\\HostDrive" + std::u16string(1, platform::AsciiUpper(key[0])));
    } else if (key.rfind(u"PHYSICALDRIVE", 0) == 0 && key.size() > 13 && key.size() <= 15 &&
               key.find_first_not_of(u"0123456789", 13) == std::u16string::npos) {
      int n = std::stoi(platform::to_utf8(key.substr(13)));
      for (int have : disks())
        if (have == n) {
          std::string text = "\\Device\\Harddisk" + std::to_string(n) + "\\DR" + std::to_string(n);
          items.push_back(platform::to_utf16(text));
        }
    } else if (is_volume_guid_path(u"\\\\?\\" + name, false)) {
      if (auto v = volume_by_guid(u"\\\\?\\" + name)) items.push_back(v->device_name);
    }
    if (items.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return 0;
    }
  }
  std::u16string list;
  for (auto& i : items) list += i + u'\0';
  list += u'\0';
  if (!target_path || max_chars < list.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(target_path, list.data(), list.size() * sizeof(WCHAR));
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(list.size());
}

BOOL DefineDosDeviceW(DWORD flags, LPCWSTR device_name, LPCWSTR target_path) {
  if (!device_name || !*device_name) return platform::fail(ERROR_INVALID_PARAMETER);
  if (flags & ~(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE | DDD_NO_BROADCAST_SYSTEM))
    return platform::fail(ERROR_INVALID_PARAMETER);
  std::u16string name = device_name;
  if (name.find(u'\\') != std::u16string::npos) return platform::fail(ERROR_INVALID_PARAMETER);
  std::u16string target = target_path ? target_path : u"";
  if (!target.empty() && !(flags & DDD_RAW_TARGET_PATH)) target = u"\\??\\" + target;
  bool remove = flags & DDD_REMOVE_DEFINITION;
  if (!remove && target.empty()) return platform::fail(ERROR_INVALID_PARAMETER);
  bool exact = remove && (flags & DDD_EXACT_MATCH_ON_REMOVE) && !target.empty();
  if (!DefineDosDeviceEntry(name, target, remove, exact)) return platform::fail(ERROR_FILE_NOT_FOUND);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
