// Yarv's process-wide state: the program's paths and modes, the language
// library and the texts looked up by id, the archive of the program's own
// file and the destination the selection page chose. The pages and the
// start-up read and write these; the restore passes get them as arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/ui/message_box.h"
#include "program_support/path_helpers.h"
#include "program_support/program_values.h"  // WinPeMode
#include "restore/archive_files.h"
#include "restore/archive_session.h"
#include "restore/restore_engine.h"

// ---- start-up ----
extern CString ProgramPath;      // the program's own file on the simulated PC
extern CString CommandTail;      // the command line after the program name
extern DWORD OsMajorVersion;
extern HINSTANCE OwnModule;
extern HINSTANCE LanguageLibrary;  // null when "YarvLang.dll" is absent
extern bool RestoreRunning;
extern int32_t TitleFontHeight;
extern int32_t SubtitleFontHeight;
extern CString ArchiveContentsText;

// ---- settings and folders ----
extern CString ArchiveDirectory;
extern CString ArchivesFolder, TemplatesFolder, LogsFolder, TasksFolder;

// ---- the archive ----
extern restore::PlatformArchiveFiles YarvArchiveFiles;
// The session of the program's own archive; a fresh one after ResetYarvState.
restore::ArchiveSession& Archive();
// The outcome of reading the catalogue at start-up (Ok when an archive was found).
extern restore::ArchiveResult CatalogResult;
// What each line of ArchiveContentsText stands for: a file record, a
// folder entry (with the folder records below it), a file-level partition,
// or a disk item; by index into the session's records.
struct ContentsItem {
  enum Kind { File, Folder, Partition, Disk } kind = File;
  int index = 0;
};
extern std::vector<ContentsItem> ContentsItems;
// The selection marks and kinds as the catalogue stored them, so that a
// row ticked again after a Back is restored again.
extern std::vector<int8_t> StoredFileSelection, StoredFolderKinds, StoredDiskKinds;
// Where each disk item goes (index = disk item), filled by Start's checks.
extern std::vector<restore::DiskTarget> DiskItemTargets;

// ---- selection page and destination ----
extern bool RestoreToOriginal;
extern CString DestinationDescription;
extern CString DestinationDriveText;
extern int32_t DestinationDisk;
extern int64_t DestinationStart;
extern int64_t DestinationSize;
extern int64_t DestinationTableSector;
extern int32_t DestinationSlot;
extern int32_t DestinationKindFilter;  // 3 partitions only, 2 disks only
extern CString SelectionText;
extern CString CurrentContentsLine;
extern std::vector<int> SavedRowChecks;  // -1 unknown, 0 unticked, 1 ticked

// ---- passkey, overwrite prompt, folder chooser ----
extern CString PasskeyText;
extern int32_t PasskeyAttempts;
extern int32_t OverwriteChoice;  // 0 Cancel, 1 Yes, 2 Yes to All, 3 No
extern CString OverwritePromptText;
extern CString FolderChooserPath;

// Every value above as it is when the program starts (a process runs the
// wizard once; tests run it many times in one process).
void ResetYarvState();

// ---- texts ----
// String `id` of the current resource handle (the language library while a
// page sets its texts, else the program's own table); empty when missing.
CString YarvText(UINT id);
// The program's title for message boxes.
inline constexpr const char16_t* kYarvCaption = u"Corvel Yarv";
// A plain message box (OK) with the program's title; returns the answer.
int YarvMessage(HWND owner, const CString& text, UINT style = MB_OK);
// Makes the language library (when loaded) or the own module current.
void UseLanguageLibrary();
void UseOwnModule();
// Loads "YarvLang.dll" from the program's folder on the simulated PC into
// LanguageLibrary (null when it is missing or not a string-block file).
void LoadLanguageLibrary(const CString& program_folder);

// Size texts: "%d GB", "%4.2f GB", "%d MB" or "%d KB" of a 512-byte sector count.
CString FormatSizeText(int64_t sectors);

// Ends the program (exit code 0), as every mode of the host does.
[[noreturn]] void EndYarv(int code = 0);
// Enables SeShutdownPrivilege, clears RestoreRunning and asks the machine to
// shut down (or restart) with the planned operating-system upgrade reason.
void ShutDownMachine(bool restart);
