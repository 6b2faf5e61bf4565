#include "program_support/boot_ini_fix.h"

#include <string>
#include <vector>

#include "platform/fs/file_api.h"
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
  // A folder with a blank is quoted, so that the program name ends where the
  // path does and the tail keeps its layout.
  CString program = folder + u"\\Yarv.exe";
  if (program.Find(u' ') >= 0) program = u"\"" + program + u"\"";
  CString command;
  command.Format(u"%s %d %d", (program + (mode ? u" /r " : u" /b ") + BootIniFixDriveText).GetString(), disk,
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

const char kDefaultBootIni[] =
    "[boot loader]\r\n"
    "timeout=30\r\n"
    "default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
    "[operating systems]\r\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows XP Professional\" /fastdetect\r\n";

namespace {

// The blank-separated words of a text.
std::vector<CString> Words(const CString& text) {
  std::vector<CString> words;
  int i = 0;
  while (i < text.GetLength()) {
    while (i < text.GetLength() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    int start = i;
    while (i < text.GetLength() && text[i] != u' ' && text[i] != u'\t') ++i;
    if (i > start) words.push_back(text.Mid(start, i - start));
  }
  return words;
}

bool AllDigits(const CString& word) {
  if (word.IsEmpty()) return false;
  for (int i = 0; i < word.GetLength(); ++i)
    if (word[i] < u'0' || word[i] > u'9') return false;
  return true;
}

// boot.ini files are a few hundred bytes; one far larger is not one.
constexpr DWORD kMostBootIniBytes = 1u << 20;

}  // namespace

bool ParseBootIniTail(const CString& tail, CString* drive, char* slot) {
  const std::vector<CString> words = Words(tail);
  if (words.size() < 4 || (words[0] != u"/r" && words[0] != u"/b")) return false;
  const CString& d = words[1];
  if (d.GetLength() != 2 || d[1] != u':' || !((d[0] >= u'A' && d[0] <= u'Z') || (d[0] >= u'a' && d[0] <= u'z')))
    return false;
  if (!AllDigits(words[2]) || words[3].GetLength() != 1 || words[3][0] < u'1' || words[3][0] > u'4') return false;
  *drive = d;
  *slot = static_cast<char>(words[3][0]);
  return true;
}

void RetargetBootIni(std::string& text, char slot) {
  static constexpr char kArc[] = "partition(";
  const size_t arc = sizeof kArc - 1;
  for (size_t at = text.find(kArc); at != std::string::npos; at = text.find(kArc, at + 1))
    if (at + arc < text.size()) text[at + arc] = slot;
}

bool FixBootIni(const CString& tail) {
  CString drive;
  char slot = 0;
  if (!ParseBootIniTail(tail, &drive, &slot)) return false;
  const CString path = drive + u"\\boot.ini";

  std::string text;
  const DWORD attributes = GetFileAttributesW(path);
  HANDLE in = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in != INVALID_HANDLE_VALUE) {
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(in, chunk, sizeof chunk, &got, nullptr) != FALSE) && got > 0 && text.size() <= kMostBootIniBytes)
      text.append(chunk, got);
    CloseHandle(in);
    if (!ok || text.size() > kMostBootIniBytes) return false;
  } else {
    text = kDefaultBootIni;
  }
  RetargetBootIni(text, slot);

  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  bool written = false;
  if (out != INVALID_HANDLE_VALUE) {
    DWORD done = 0;
    written = WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) && done == text.size();
    written = CloseHandle(out) && written;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path, attributes);
  return written;
}
