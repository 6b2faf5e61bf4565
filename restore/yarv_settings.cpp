#include "restore/yarv_settings.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "platform/core/clock.h"
#include "platform/fs/file_api.h"
#include "platform/fs/ini_profile.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "program_support/boot_ini_fix.h"
#include "program_support/registry_readers.h"
#include "restore/block_codec.h"
#include "restore/yarv_disks.h"
#include "restore/yarv_state.h"

CString InstallationDirectoryValue;
BackupOptions DefaultBackupOptions;
std::vector<TemplateRecord> Templates(1);
std::vector<TemplateSource> TemplateSourceTable(1);
int32_t LogRecordCount = 0;
int32_t NextFieldPosition = 1;

namespace {

constexpr char16_t kYarvKey[] = u"Software\\Corvelware\\Yarv";
constexpr char kConfigKey[] = "rpzo5318kwe27fvh";

std::string Narrow(const CString& text, size_t most) {
  std::string out;
  for (int i = 0; i < text.GetLength() && out.size() < most; ++i) out += static_cast<char>(text[i] & 0xFF);
  return out;
}

// The options of a [DEFCONFIG] or [CONFIG] section.
void ReadOptions(LPCWSTR section, const CString& path, BackupOptions& o) {
  o.speed = static_cast<uint8_t>(ReadProfileInt(section, u"Speed", path));
  o.compressionType = static_cast<uint8_t>(ReadProfileInt(section, u"CompressionType", path));
  o.encryption = static_cast<uint8_t>(ReadProfileInt(section, u"Encryption", path));
  const CString password = ReadProfileText(section, u"Password", path);
  o.passwordEmpty = password.IsEmpty();
  o.password = {};
  if (!o.passwordEmpty) DecodeConfigPassword(password, o.password);
  o.split = ReadProfileInt(section, u"Split", path);
  o.verify = static_cast<uint8_t>(ReadProfileInt(section, u"Verify", path));
}

CString JoinedList(LPCWSTR prefix, int32_t count, const CString& path) {
  CString list;
  for (int32_t i = 1; i <= count; ++i) {
    CString key;
    key.Format(u"%s%d", prefix, i);
    if (i > 1) list += u"?";
    list += ReadProfileText(u"EXCLUDES", key, path);
  }
  return list;
}

}  // namespace

CString ReadInstallationDirectory() { return ReadRegistryString(HKEY_LOCAL_MACHINE, kYarvKey, u"InstallationDirectory"); }
CString ReadArchiveDirectory() { return ReadRegistryString(HKEY_LOCAL_MACHINE, kYarvKey, u"ArchiveDirectory"); }

CString ReadProfileText(LPCWSTR section, LPCWSTR key, const CString& path) {
  WCHAR buffer[256] = {};
  const DWORD n = GetPrivateProfileStringW(section, key, u" ", buffer, 256, path);
  return CString(buffer, static_cast<int>(n));
}

int32_t ReadProfileInt(LPCWSTR section, LPCWSTR key, const CString& path) {
  return static_cast<int32_t>(GetPrivateProfileIntW(section, key, 0, path));
}

bool DecodeConfigPassword(const CString& text, std::array<uint8_t, 32>& out) {
  out = {};
  std::array<uint8_t, 32> bytes{};
  // Only a text of exactly 64 digits is a stored password; anything else
  // (such as the single blank of a missing key) yields zeros.
  if (text.GetLength() != 64 || !restore::HexToBytes(std::u16string_view(text.GetString(), 64), bytes)) return false;
  restore::BlowfishKey key;
  key.set_key(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(kConfigKey), 16));
  key.decrypt_buffer(bytes.data(), out.data(), out.size());
  return true;
}

void ReadDefaultConfig() {
  const CString path = TemplatesFolder + u"\\defconfig.cit";
  HANDLE probe = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  BackupOptions& o = DefaultBackupOptions;
  if (probe == INVALID_HANDLE_VALUE) {
    o = BackupOptions{};
    o.speed = 5;
    return;
  }
  CloseHandle(probe);
  ReadOptions(u"DEFCONFIG", path, o);
  o.fileCount = ReadProfileInt(u"EXCLUDES", u"FileCount", path);
  o.typeCount = ReadProfileInt(u"EXCLUDES", u"TypeCount", path);
  o.excludedFiles = JoinedList(u"File", o.fileCount, path);
  o.excludedTypes = JoinedList(u"Type", o.typeCount, path);
  o.excludeSystem = ReadProfileInt(u"EXCLUDES", u"SYSTEM", path);
  o.excludeHidden = ReadProfileInt(u"EXCLUDES", u"HIDDEN", path);
}

int32_t NextField(char16_t separator, const CString& text) {
  const int start = NextFieldPosition - 1;
  if (start < 0 || start > text.GetLength()) {
    NextFieldPosition = 0;
    return 0;
  }
  int end = text.Find(separator, start);
  if (end < 0) end = text.GetLength();
  std::string digits;
  for (int i = start; i < end; ++i) digits += static_cast<char>(text[i] & 0xFF);
  NextFieldPosition = end == 0 ? 0 : end + 2;
  return static_cast<int32_t>(std::atol(digits.c_str()));
}

void ParseTemplateSource(const CString& text, TemplateSource& entry) {
  NextFieldPosition = 1;
  entry.kind = NextField(u'*', text);
  const int from = NextFieldPosition - 1;
  entry.path = from >= 0 && from <= text.GetLength() ? text.Mid(from) : CString();
}

int ReadTemplateFile(TemplateRecord& r, const CString& path) {
  r = TemplateRecord{};
  r.name = Narrow(ReadProfileText(u"DESCRIPTION", u"Name", path), 63);
  CString description = ReadProfileText(u"DESCRIPTION", u"Description", path);
  description.Replace(u"\\r\\n", u"\r\n");
  r.description = Narrow(description, 511);
  r.created = ReadProfileInt(u"DESCRIPTION", u"Created", path);
  r.archiveType = static_cast<uint8_t>(ReadProfileInt(u"DESCRIPTION", u"Archivetype", path));
  r.destination = Narrow(ReadProfileText(u"DESCRIPTION", u"Destination", path), 519);
  ReadOptions(u"CONFIG", path, r.options);
  r.period = static_cast<uint8_t>(ReadProfileInt(u"SCHEDULE", u"Period", path));
  r.timed = static_cast<uint8_t>(ReadProfileInt(u"SCHEDULE", u"Timed", path));
  if (r.timed) r.hourMinute = ReadProfileInt(u"SCHEDULE", u"HourMinute", path);
  r.monthDate = static_cast<uint8_t>(ReadProfileInt(u"SCHEDULE", u"MonthDate", path));
  r.weekDay = static_cast<uint8_t>(ReadProfileInt(u"SCHEDULE", u"WeekDay", path));
  r.firstSource = static_cast<int32_t>(TemplateSourceTable.size());
  r.sourceCount = static_cast<uint8_t>(ReadProfileInt(u"SOURCE", u"SourceCount", path));
  int previous = 0;
  for (int i = 1; i <= r.sourceCount; ++i) {
    CString key;
    key.Format(u"Source%d", i);
    const CString text = ReadProfileText(u"SOURCE", key, path);
    if (text.IsEmpty() || text == u" ") continue;
    if (static_cast<int>(TemplateSourceTable.size()) > kMaxTemplateSources) break;
    TemplateSource entry;
    ParseTemplateSource(text, entry);
    TemplateSourceTable.push_back(entry);
    const int added = static_cast<int>(TemplateSourceTable.size()) - 1;
    if (previous) TemplateSourceTable[previous].next = added;
    previous = added;
  }
  return r.sourceCount;
}

void ScanTemplates() {
  Templates.assign(1, TemplateRecord{});
  TemplateSourceTable.assign(1, TemplateSource{});
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(TemplatesFolder + u"\\*.xqy", &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (static_cast<int>(Templates.size()) > kMaxTemplates) break;
    TemplateRecord record;
    // A template without sources is read and left out.
    if (ReadTemplateFile(record, TemplatesFolder + u"\\" + found.cFileName) != 0) Templates.push_back(record);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

CString ArchiveTypeText(uint8_t code) { return YarvText(code == 0 ? 412 : 411); }
CString CompressionText(uint8_t code) { return YarvText(code == 0 ? 409 : code == 1 ? 407 : 408); }
CString EncryptionText(uint8_t code) { return YarvText(code == 0 ? 409 : 410); }

void RunStartnet() {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  WCHAR command_line[1] = {0};
  if (!CreateProcessW(u"startnet.cmd", command_line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process)) {
    YarvMessage(nullptr, YarvText(676));
    return;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  Sleep(100);
  for (int polls = 0; code == STILL_ACTIVE && polls < 30000; ++polls) {
    WaitForSingleObject(process.hProcess, 4000);
    GetExitCodeProcess(process.hProcess, &code);
    Sleep(100);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void InitAppData() {
  ArchiveDirectory = ReadArchiveDirectory();
  InstallationDirectoryValue = ReadInstallationDirectory();
  WinPeMode = false;
  if (ArchiveDirectory.IsEmpty()) ArchiveDirectory = u"C:\\Yarv";
  InstallationDirectory = InstallationDirectoryValue.IsEmpty() ? GetParentPath(ProgramPath) : InstallationDirectoryValue;
  if (!InstallationDirectory.IsEmpty() && InstallationDirectory[0] == u'X') {
    WinPeMode = true;
    RunStartnet();
  }
  ArchivesFolder = ArchiveDirectory + u"\\YarvArchives";
  TemplatesFolder = ArchiveDirectory + u"\\YarvTemplates";
  LogsFolder = ArchiveDirectory + u"\\Yarvlogs";
  TasksFolder = ArchiveDirectory + u"\\YarvTasks";
  for (const CString& folder : {CString(u"C:\\Yarv"), ArchivesFolder, TemplatesFolder, LogsFolder, TasksFolder})
    CreateDirectoryW(folder, nullptr);
  DefaultBackupOptions = BackupOptions{};
  DefaultBackupOptions.speed = 3;
  DefaultBackupOptions.compressionType = 1;
  LogRecordCount = 0;
  ReadDefaultConfig();
  ScanTemplates();
  RescanRestoreDisks();
  if (!WinPeMode) LogRecordCount = CountLogRecords();
}

int32_t CountLogRecords() {
  HANDLE log = CreateFileW(LogsFolder + u"\\yarv.log", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, 0, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  int32_t count = 0;
  // A log too long to count in 32 bits counts as the most it can say.
  if (GetFileSizeEx(log, &size) && size.QuadPart > 0)
    count = static_cast<int32_t>(std::min<int64_t>(size.QuadPart / kLogRecordBytes, INT32_MAX));
  CloseHandle(log);
  return count;
}
