#include "pebuilder/fennick_support.h"

#include <string>

#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/fs/crt_file.h"
#include "platform/fs/shell_namespace.h"
#include "platform/fs/file_api.h"
#include "platform/process/module.h"
#include "platform/process/process.h"
#include "platform/process/system_info.h"
#include "platform/process/version_block.h"
#include "platform/process/wait.h"
#include "platform/registry/registry.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/message_box.h"
#include "platform/ui/winuser.h"

CString UiLanguage;
std::vector<CString> LngTable;
CString ProductNameText;
CString FileVersionText;
CString ProductCaption;
CString BrowseResultFolder;
CString BrowseStartFolder;
CString WinPeLanguage;
int PageTextHeight = 17;
int SubtitleHeight = 15;
std::function<void()> ProgramWaitHook;

const char16_t* const kCopyrightNotice = u"Copyright (C) Corvelware. All rights reserved.";

namespace {

constexpr int kLinePiece = 512;  // a line is read in pieces of at most 511 units

// The program's own file: the folder's program file as start-up recorded it.
CString OwnProgramPath() {
  WCHAR path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return n ? CString(path) : CString();
}

// The value of a text node of the version block: it starts `offset` units
// after its key (key, terminator, one padding unit) and holds at most `limit`
// characters; empty when the block or the key is missing.
CString VersionValue(const char16_t* key, int offset, int limit) {
  CString file = OwnProgramPath();
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(file, &handle);
  if (size == 0) return CString();
  std::vector<char16_t> block(size, 0);
  if (!GetFileVersionInfoW(file, 0, static_cast<DWORD>(block.size() * sizeof(char16_t)), block.data()))
    return CString();
  std::u16string units(block.begin(), block.end());
  size_t at = units.find(key);
  if (at == std::u16string::npos) return CString();
  size_t start = at + static_cast<size_t>(offset);
  CString value;
  for (size_t i = start; i < units.size() && units[i] != 0 && value.GetLength() < limit; ++i) value += units[i];
  return value;
}

}  // namespace

CString ReadVersionProductName() {
  CString name = VersionValue(u"ProductName", 13, 127);
  // A program file without a version block goes by the application's name.
  if (name.IsEmpty())
    if (CWinApp* app = AfxGetApp(); app && app->m_pszAppName) name = app->m_pszAppName;
  return name;
}

void ReadVersionFileVersion() { FileVersionText = VersionValue(u"FileVersion", 13, 19); }

CString ReadVersionFileDescription() { return VersionValue(u"FileDescription", 17, 511); }

bool SplitLanguageLine(const CString& line, CString* key, CString* text) {
  int colon = line.Find(u':');
  if (colon <= 0) return false;
  CString k = line.Left(colon);
  k.TrimRight();
  *key = k;
  // The text loses the line's last two characters (its CR LF).
  CString rest = line.Mid(colon + 1);
  *text = rest.Left(rest.GetLength() - 2);
  return true;
}

CString ReplaceTextPlaceholders(const CString& text) {
  CString out = text;
  CString version = FileVersionText;
  version.Replace(u",", u".");
  out.Replace(u"Wendlock %MANUFACTURER%", ProductNameText);
  out.Replace(u"%Product%", ProductNameText);
  out.Replace(u"%PRODUCT%", ProductNameText);
  out.Replace(u"%Version%", version);
  out.Replace(u"%Copyright%", kCopyrightNotice);
  return out;
}

bool LoadLanguageTable() {
  ReadVersionFileVersion();
  ProductNameText = ReadVersionProductName();
  CString file;
  if (UiLanguage == u"English") {
    file = u"001.lng";
  } else if (UiLanguage == u"Japanese") {
    file = u"081.lng";
  } else {
    return false;
  }
  const bool japanese = file == u"081.lng";
  CString path = ProgramFolder + u"\\Resources\\" + file;
  // Lines are UTF-16LE units; one piece ends at a line feed or after 511 units.
  auto read_lines = [&](const std::function<bool(const CString&)>& take) {
    CFILE* in = _wfopen(path, u"rb");
    if (!in) return false;
    for (;;) {
      CString line;
      char16_t unit = 0;
      bool any = false;
      while (line.GetLength() < kLinePiece - 1 && fread(&unit, 2, 1, in) == 1) {
        any = true;
        line += unit;
        if (unit == u'\n') break;
      }
      if (!any) break;
      if (!take(line)) break;
    }
    fclose(in);
    return true;
  };
  size_t count = 0;
  if (!read_lines([&](const CString&) {
        ++count;
        return true;
      }))
    return false;
  std::vector<CString> table(2 * count);
  size_t index = 0;
  if (!read_lines([&](const CString& line) {
        if (2 * index >= table.size()) return false;
        CString key, text;
        if (SplitLanguageLine(line, &key, &text)) {
          table[2 * index] = key;
          table[2 * index + 1] = japanese ? ReplaceTextPlaceholders(text) : text;
        }
        ++index;
        return true;
      }))
    return false;
  LngTable = std::move(table);
  return true;
}

// Backslashes stay what they are, so a path such as "c:\temp" reaches the
// user as written; only a line-break mark is turned into its character.
CString ExpandLineBreaks(const CString& stored) {
  const std::u16string& in = stored.str();
  std::u16string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char16_t c = in[i];
    char16_t next = i + 1 < in.size() ? in[i + 1] : u'\0';
    if ((c == u'\\' || c == u'/') && (next == u'n' || next == u'r')) {
      out += next == u'n' ? u'\n' : u'\r';
      ++i;
    } else {
      out += c;
    }
  }
  return CString(out);
}

CString LookupText(const CString& key) {
  CString wanted = key;
  wanted.MakeUpper();
  for (size_t i = 0; i + 1 < LngTable.size(); i += 2) {
    CString stored = LngTable[i];
    stored.MakeUpper();
    if (stored.IsEmpty() || stored != wanted) continue;
    return ExpandLineBreaks(LngTable[i + 1]);
  }
  return LngTable.empty() ? key : wanted;
}

void ShowProductMessage(HWND owner, const CString& text) { MessageBoxW(owner, text, ProductCaption, MB_TASKMODAL); }

bool RunProgramAndWait(const CString& program, const CString& arguments, DWORD* exit_code) {
  CString command_line = u" " + arguments;
  std::u16string line(command_line.GetString());
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &info)) {
    SetCursor(previous);
    return false;
  }
  DWORD code = STILL_ACTIVE;
  for (int round = 0;;) {
    GetExitCodeProcess(info.hProcess, &code);
    Sleep(100);
    ++round;
    if (ProgramWaitHook) ProgramWaitHook();
    if (code != STILL_ACTIVE || round > 30000) break;
    WaitForSingleObject(info.hProcess, 4000);
  }
  // The handles are closed here, where they were opened.
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  SetCursor(previous);
  if (exit_code) *exit_code = code;
  return true;
}

void WriteRegistryString(HKEY root, const CString& subkey, const CString& name, const CString& text) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) return;
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.GetString()),
                 static_cast<DWORD>(text.GetLength() * 2));
  RegCloseKey(key);
}

namespace {

int BrowseCallback(HWND dialog, UINT message, LPARAM data, LPARAM) {
  if (message == BFFM_INITIALIZED) {
    SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(BrowseStartFolder.GetString()));
  } else if (message == BFFM_SELCHANGED) {
    WCHAR path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(data), path))
      SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
  }
  return 0;
}

}  // namespace

void BrowseForFolder(HWND owner) {
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_STATUSTEXT | (WinPeMode ? BIF_EDITBOX : 0u);
  info.lpfn = &BrowseCallback;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) return;
  WCHAR path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(chosen, path)) BrowseResultFolder = path;
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(chosen);
    allocator->Release();
  }
}

CString FindFileOrFolder(const CString& path) {
  CString pattern = path;
  if (path.GetLength() >= 3 && path.Mid(1, 2) == u":\\") pattern = u"\\\\?\\" + path;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return CString();
  FindClose(find);
  return CString(data.cFileName);
}

uint64_t GetPathFileSize(const CString& path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  BOOL ok = GetFileSizeEx(file, &size);
  CloseHandle(file);
  return ok && size.QuadPart > 0 ? static_cast<uint64_t>(size.QuadPart) : 0;
}

CString FolderOfPath(const CString& path) {
  int last = -1;
  for (int i = 1; i < path.GetLength(); ++i)
    if (path[i] == u'\\') last = i;
  return last < 0 ? CString() : path.Left(last);
}

CString UrlHostPart(const CString& url) {
  int slash = url.Find(u'/', 1);
  return slash < 0 ? CString() : url.Left(slash);
}

CString UrlLastPart(const CString& url) {
  int last = -1;
  for (int i = 1; i < url.GetLength(); ++i)
    if (url[i] == u'/') last = i;
  return last < 0 ? url : url.Mid(last + 1);
}

