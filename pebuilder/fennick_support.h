// Fennick's process-wide values and the helpers its pages share: the
// language table of "\Resources\001.lng" / "081.lng" with its own lookup
// rules, the readers of the program's version block, the run-and-wait of a
// child program, the folder browser and the small text, file and registry
// helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "program_support/number_text.h"     // Int64ToText
#include "program_support/process_runners.h"  // IsWow64
#include "program_support/program_values.h"  // ProgramFolder, WinPeMode

// ---- process-wide values ----
extern CString UiLanguage;           // "English" or "Japanese" (the settings record's field 4)
extern std::vector<CString> LngTable;  // key at 2k, text at 2k + 1
extern CString ProductNameText;
extern CString FileVersionText;      // at most 19 characters
extern CString ProductCaption;       // LookupText("IDS_PRODNAME")
extern CString BrowseResultFolder;   // the kit folder in use
extern CString BrowseStartFolder;
extern CString WinPeLanguage;        // "English", "Japanese" or empty
extern int PageTextHeight;           // 17
extern int SubtitleHeight;           // 15

// The one-line notice that "%Copyright%" stands for in the Japanese texts.
extern const char16_t* const kCopyrightNotice;

// Fills LngTable from the .lng file of UiLanguage in ProgramFolder + "\Resources\";
// false when no file was read (the table is then left as it was).
bool LoadLanguageTable();
// The text of a key: keys compare upper-cased, the first match wins; the
// text comes back through ExpandLineBreaks. A missing key comes back
// upper-cased when the table holds entries, unchanged when it is empty.
CString LookupText(const CString& key);
// A stored text as shown: "\n" or "/n" becomes LF, "\r" or "/r" CR; every
// other backslash or slash is kept (so a path shows as written, as long as
// no part of it begins with n or r).
CString ExpandLineBreaks(const CString& stored);
// Splits one line of a .lng file (CR LF included when the line had one) into
// key and text; false when the line has no key (no colon, or one at 0).
bool SplitLanguageLine(const CString& line, CString* key, CString* text);
// The Japanese file's placeholder replacements.
CString ReplaceTextPlaceholders(const CString& text);

// Values of the program's own version block (empty when it has none).
CString ReadVersionProductName();
void ReadVersionFileVersion();
CString ReadVersionFileDescription();

// Message box with ProductCaption, MB_TASKMODAL.
void ShowProductMessage(HWND owner, const CString& text);

// Starts `program` with " " + arguments as its command line (no window,
// inherited current folder) and polls it until it ends (100 ms sleeps, 4 s
// waits, at most 30000 rounds), calling the wait hook on every round. True
// when the process was created; *exit_code (when given) receives its exit
// code, STILL_ACTIVE when the polls ran out.
bool RunProgramAndWait(const CString& program, const CString& arguments, DWORD* exit_code = nullptr);
// Called on every poll of RunProgramAndWait (the build page's clock).
extern std::function<void()> ProgramWaitHook;

// REG_SZ value under root\subkey (made when missing); no result.
void WriteRegistryString(HKEY root, const CString& subkey, const CString& name, const CString& text);
// Folder dialog; the chosen folder replaces BrowseResultFolder, Cancel leaves it.
void BrowseForFolder(HWND owner);

// Name of the first match of a path (file or folder), empty when none.
CString FindFileOrFolder(const CString& path);
// Size of a file, 0 when it cannot be opened or measured.
uint64_t GetPathFileSize(const CString& path);
// Text before the last backslash at position 1 or later; empty when none.
CString FolderOfPath(const CString& path);
// Text before the first "/" at position 1 or later; empty when none.
CString UrlHostPart(const CString& url);
// Text after the last "/" at position 1 or later; the whole text when none.
CString UrlLastPart(const CString& url);
