#include "restore/yarv_state.h"

#include <memory>

#include "platform/core/process_exit.h"
#include "platform/fs/file_api.h"
#include "platform/process/module.h"
#include "platform/process/privilege.h"
#include "platform/process/process.h"
#include "platform/process/shutdown.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/resources.h"
#include "program_support/token_privileges.h"

CString ProgramPath;
CString CommandTail;
DWORD OsMajorVersion = 0;
HINSTANCE OwnModule = nullptr;
HINSTANCE LanguageLibrary = nullptr;
bool RestoreRunning = false;
int32_t TitleFontHeight = 15;
int32_t SubtitleFontHeight = 13;
CString ArchiveContentsText;

CString ArchiveDirectory;
CString ArchivesFolder, TemplatesFolder, LogsFolder, TasksFolder;

restore::PlatformArchiveFiles YarvArchiveFiles;
namespace {
std::unique_ptr<restore::ArchiveSession> archive_session;
}  // namespace

restore::ArchiveSession& Archive() {
  if (!archive_session) archive_session = std::make_unique<restore::ArchiveSession>(YarvArchiveFiles);
  return *archive_session;
}
restore::ArchiveResult CatalogResult = restore::ArchiveResult::NoArchive;
std::vector<ContentsItem> ContentsItems;
std::vector<int8_t> StoredFileSelection, StoredFolderKinds, StoredDiskKinds;
std::vector<restore::DiskTarget> DiskItemTargets;

bool RestoreToOriginal = false;
CString DestinationDescription;
CString DestinationDriveText;
int32_t DestinationDisk = -1;
int64_t DestinationStart = 0;
int64_t DestinationSize = 0;
int64_t DestinationTableSector = 0;
int32_t DestinationSlot = -1;
int32_t DestinationKindFilter = 0;
CString SelectionText;
CString CurrentContentsLine;
std::vector<int> SavedRowChecks;

CString PasskeyText;
int32_t PasskeyAttempts = 0;
int32_t OverwriteChoice = 0;
CString OverwritePromptText;
CString FolderChooserPath;

void ResetYarvState() {
  ProgramPath.Empty();
  CommandTail.Empty();
  LanguageLibrary = nullptr;
  WinPeMode = false;
  RestoreRunning = false;
  ArchiveContentsText.Empty();
  CatalogResult = restore::ArchiveResult::NoArchive;
  archive_session.reset();
  ContentsItems.clear();
  DiskItemTargets.clear();
  RestoreToOriginal = false;
  DestinationDescription.Empty();
  DestinationDriveText.Empty();
  DestinationDisk = -1;
  DestinationStart = DestinationSize = DestinationTableSector = 0;
  DestinationSlot = -1;
  SelectionText.Empty();
  CurrentContentsLine.Empty();
  SavedRowChecks.clear();
  PasskeyText.Empty();
  PasskeyAttempts = 0;
  FolderChooserPath.Empty();
  AfxSetResourceHandle(nullptr);
}

CString YarvText(UINT id) {
  LPWSTR stored = nullptr;
  const int n = LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&stored), 0);
  if (n <= 0 || !stored) return CString();
  return CString(stored, n);
}

int YarvMessage(HWND owner, const CString& text, UINT style) { return MessageBoxW(owner, text, kYarvCaption, style); }

void UseLanguageLibrary() {
  if (LanguageLibrary) AfxSetResourceHandle(LanguageLibrary);
}

void UseOwnModule() { AfxSetResourceHandle(OwnModule); }

void LoadLanguageLibrary(const CString& program_folder) {
  LanguageLibrary = nullptr;
  const CString path = program_folder + u"\\YarvLang.dll";
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  // A language library holds a few thousand texts; anything far larger is
  // not one.
  constexpr DWORD kMostBytes = 4u << 20;
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0 && bytes.size() <= kMostBytes)
    bytes.insert(bytes.end(), chunk, chunk + got);
  CloseHandle(file);
  auto set = std::make_shared<platform::ui::StringBlockSet>();
  if (bytes.size() > kMostBytes || !platform::ui::ParseStringBlockFile(bytes, *set, nullptr)) return;
  platform::process::RegisterModule(u"YarvLang.dll", {{}, set});
  LanguageLibrary = reinterpret_cast<HINSTANCE>(LoadLibraryW(u"YarvLang.dll"));
  if (LanguageLibrary) platform::ui::SetInstanceStrings(LanguageLibrary, set);
}

CString FormatSizeText(int64_t sectors) {
  const int64_t megabytes = sectors / 2048;
  const double gigabytes = static_cast<double>(megabytes) / 1024.0;
  CString text;
  if (gigabytes >= 1.0) {
    if (megabytes % 1024 == 0) text.Format(u"%lld GB", static_cast<long long>(megabytes / 1024));
    else text.Format(u"%4.2f GB", gigabytes);
  } else if (megabytes == 0) {
    text.Format(u"%lld KB", static_cast<long long>(sectors / 2));
  } else {
    text.Format(u"%lld MB", static_cast<long long>(megabytes));
  }
  return text;
}

void EndYarv(int code) {
  ExitProcess(static_cast<UINT>(code));
  platform::Exit(code);
}

void ShutDownMachine(bool restart) {
  EnableShutdownPrivilege();
  RestoreRunning = false;
  ExitWindowsEx((restart ? EWX_REBOOT : EWX_SHUTDOWN) | EWX_FORCE,
                SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_UPGRADE);
}
