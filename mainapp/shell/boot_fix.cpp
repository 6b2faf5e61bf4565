#include "mainapp/shell/boot_fix.h"

#include <string>

#include "disk/disk_access.h"
#include "platform/core/ascii_case.h"
#include "platform/core/process_exit.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "platform/process/process.h"
#include "platform/ui/message_box.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"

namespace {

constexpr const char16_t* kMarkerPath = u":\\BOOT\\BootFix";
constexpr const char16_t* kDeviceCommand = u"/store C:\\boot\\bcd /set {default} device partition=C:";
constexpr const char16_t* kOsDeviceCommand = u"/store C:\\boot\\bcd /set {default} osdevice partition=C:";

// Every "C:" of the command replaced by the drive.
CString ForDrive(const char16_t* command, const CString& drive) {
  std::u16string text = command;
  const std::u16string with = drive.GetString();
  for (size_t at = text.find(u"C:"); at != std::u16string::npos; at = text.find(u"C:", at + with.size()))
    text.replace(at, 2, with);
  return CString(text.c_str());
}

CString SystemFolder() {
  WCHAR folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? CString(folder) : CString();
}

void RunBcdedit(const CString& parameters, const CString& folder, LPCWSTR messageKey) {
  ShellExecuteW(nullptr, u"open", u"bcdedit.exe", parameters, folder.IsEmpty() ? nullptr : folder.GetString(),
                SW_SHOW);
  MessageBoxW(ShellState.MainDialogHandle, LookupString(messageKey), ShellState.messageCaption, MB_OK);
}

}  // namespace

CString ParseBootFixMarker(const unsigned char* bytes, unsigned long length) {
  if (!bytes || length < 4) return CString();
  const char16_t letter = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
  const char16_t colon = static_cast<char16_t>(bytes[2] | (bytes[3] << 8));
  if (colon != u':') return CString();
  const char16_t upper = platform::AsciiUpper(letter);
  if (upper >= u'A' && upper <= u'Z') return CString(std::u16string{upper, u':'}.c_str());
  return CString();
}

bool ApplyBootFix() {
  CString marker;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (char16_t letter = u'C'; letter <= u'V' && file == INVALID_HANDLE_VALUE; ++letter) {
    marker = CString(std::u16string{letter}.c_str()) + kMarkerPath;
    file = OpenFileReadWrite(marker);
  }
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char bytes[4] = {};
  DWORD read = 0;
  if (!ReadFile(file, bytes, sizeof bytes, &read, nullptr)) read = 0;
  CloseHandle(file);
  const CString drive = ParseBootFixMarker(bytes, read);
  if (drive.IsEmpty()) return false;
  ShellState.bootFixDrive = drive;
  const CString folder = SystemFolder();
  RunBcdedit(ForDrive(kDeviceCommand, drive), folder, u"IDS_bootstring2");
  RunBcdedit(ForDrive(kOsDeviceCommand, drive), folder, u"IDS_bootstring3");
  DeleteFileW(marker);
  ExitProcess(0);
}
