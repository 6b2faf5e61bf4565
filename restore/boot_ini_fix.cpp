#include "restore/boot_ini_fix.h"

#include "platform/registry/registry.h"

CString BootIniFixDriveText;
int32_t BootIniFixSlot = 0;
bool BootIniFixRegistered = false;
CString InstallationDirectory;

namespace {

constexpr char16_t kRunOnceKey[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char16_t kRestoreKey[] = u"Software\\Corvelware\\Yarv";
constexpr int kCommandCharacters = 260;

bool ReadInstallationDirectory(CString* out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRestoreKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  WCHAR text[kCommandCharacters] = {};
  DWORD bytes = sizeof text - sizeof(WCHAR);
  DWORD type = 0;
  const LSTATUS status =
      RegQueryValueExW(key, u"InstallationDirectory", nullptr, &type, reinterpret_cast<LPBYTE>(text), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return false;
  *out = CString(text, static_cast<int>(bytes / sizeof(WCHAR)));
  const int zero = out->Find(u'\0');
  if (zero >= 0) *out = out->Left(zero);
  return !out->IsEmpty();
}

}  // namespace

void RegisterBootIniFix(int32_t mode, int32_t disk) {
  CString folder;
  if (!ReadInstallationDirectory(&folder)) return;
  InstallationDirectory = folder;
  CString command;
  command.Format(u"%s %d %d",
                 (folder + (mode ? u"\\Yarv.exe /r " : u"\\Yarv.exe /b ") + BootIniFixDriveText).GetString(), disk,
                 BootIniFixSlot);
  if (command.GetLength() >= kCommandCharacters) command = command.Left(kCommandCharacters - 1);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  const LSTATUS status = RegSetValueExW(key, u"YarvBootIni", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.GetString()),
                                        static_cast<DWORD>(command.GetLength()) * sizeof(WCHAR));
  RegCloseKey(key);
  if (status == ERROR_SUCCESS) BootIniFixRegistered = true;
}
