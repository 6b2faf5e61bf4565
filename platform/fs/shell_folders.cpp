#include "platform/fs/shell_folders.h"

#include <cstring>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"

namespace platform::fs {

namespace {

machine::OsFacts facts() {
  auto m = machine::CurrentIfOpen();
  return m ? m->os() : machine::OsFacts{};
}

UINT copy_out(const std::u16string& text, LPWSTR buffer, UINT size) {
  if (!buffer || size <= text.size()) return static_cast<UINT>(text.size() + 1);
  std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
  buffer[text.size()] = 0;
  return static_cast<UINT>(text.size());
}

std::u16string drive_of(const std::u16string& folder) { return folder.size() >= 2 ? folder.substr(0, 2) : u"C:"; }

std::u16string strip(std::u16string s) {
  while (s.size() > 3 && (s.back() == u'\\' || s.back() == u'/')) s.pop_back();
  return s;
}

}  // namespace

std::u16string SpecialFolder(int csidl) {
  auto os = facts();
  std::u16string windows = strip(to_utf16(os.windows_folder)), system = strip(to_utf16(os.system_folder));
  std::u16string program_files = strip(to_utf16(os.program_files_folder));
  std::u16string drive = drive_of(windows), user = to_utf16(os.user_name);
  bool xp = os.major <= 5;
  std::u16string users = drive + (xp ? u"\\Documents and Settings" : u"\\Users");
  std::u16string profile = users + u"\\" + user;
  std::u16string roaming = profile + (xp ? u"\\Application Data" : u"\\AppData\\Roaming");
  std::u16string start_menu = xp ? profile + u"\\Start Menu" : roaming + u"\\Microsoft\\Windows\\Start Menu";
  std::u16string documents = profile + (xp ? u"\\My Documents" : u"\\Documents");
  switch (csidl & ~CSIDL_FLAG_CREATE) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY: return profile + u"\\Desktop";
    case CSIDL_PERSONAL: return documents;
    case CSIDL_PROGRAMS: return start_menu + u"\\Programs";
    case CSIDL_STARTUP: return start_menu + u"\\Programs\\Startup";
    case CSIDL_STARTMENU: return start_menu;
    case CSIDL_FONTS: return windows + u"\\Fonts";
    case CSIDL_APPDATA: return roaming;
    case CSIDL_LOCAL_APPDATA:
      return profile + (xp ? u"\\Local Settings\\Application Data" : u"\\AppData\\Local");
    case CSIDL_COMMON_APPDATA: return xp ? users + u"\\All Users\\Application Data" : drive + u"\\ProgramData";
    case CSIDL_COMMON_DESKTOPDIRECTORY: return xp ? users + u"\\All Users\\Desktop" : users + u"\\Public\\Desktop";
    case CSIDL_COMMON_DOCUMENTS: return xp ? users + u"\\All Users\\Documents" : users + u"\\Public\\Documents";
    case CSIDL_WINDOWS: return windows;
    case CSIDL_SYSTEM: return system;
    // A 32-bit program on a 64-bit system sees the x86 program folder.
    case CSIDL_PROGRAM_FILES: return os.wow64 ? program_files + u" (x86)" : program_files;
    case CSIDL_PROGRAM_FILESX86: return program_files + u" (x86)";
    case CSIDL_MYPICTURES: return xp ? documents + u"\\My Pictures" : profile + u"\\Pictures";
    case CSIDL_PROFILE: return profile;
    default: return {};
  }
}

DWORD WriteShellFolderValues() {
  struct {
    const char16_t* name;
    int csidl;
  } const values[] = {
      {u"Desktop", CSIDL_DESKTOPDIRECTORY}, {u"Personal", CSIDL_PERSONAL},     {u"AppData", CSIDL_APPDATA},
      {u"Local AppData", CSIDL_LOCAL_APPDATA}, {u"My Pictures", CSIDL_MYPICTURES}, {u"Programs", CSIDL_PROGRAMS},
      {u"Start Menu", CSIDL_STARTMENU},     {u"Startup", CSIDL_STARTUP},       {u"Fonts", CSIDL_FONTS},
  };
  HKEY key = nullptr;
  LSTATUS r = RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                              0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (r) return static_cast<DWORD>(r);
  for (auto& v : values) {
    std::u16string path = SpecialFolder(v.csidl);
    r = RegSetValueExW(key, v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR)));
    if (r) break;
  }
  RegCloseKey(key);
  return static_cast<DWORD>(r);
}

}  // namespace platform::fs

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
  return platform::fs::copy_out(platform::fs::SpecialFolder(CSIDL_WINDOWS), buffer, size);
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  return platform::fs::copy_out(platform::fs::SpecialFolder(CSIDL_SYSTEM), buffer, size);
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
  std::u16string temp = platform::fs::strip(platform::to_utf16(platform::fs::facts().temp_folder));
  if (temp.empty() || temp.back() != u'\\') temp += u'\\';
  return platform::fs::copy_out(temp, buffer, size);
}

BOOL SHGetSpecialFolderPathW(HWND, LPWSTR buffer, int csidl, BOOL create) {
  if (!buffer) return platform::fail(ERROR_INVALID_PARAMETER);
  std::u16string path = platform::fs::SpecialFolder(csidl);
  if (path.empty() || path.size() >= MAX_PATH) return platform::fail(ERROR_INVALID_PARAMETER);
  if (create || (csidl & CSIDL_FLAG_CREATE)) {
    // Make every missing folder along the way.
    for (size_t i = 3; i <= path.size(); ++i) {
      if (i < path.size() && path[i] != u'\\') continue;
      std::u16string part = path.substr(0, i);
      if (GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateDirectoryW(part.c_str(), nullptr))
        return FALSE;
    }
  }
  std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return TRUE;
}
