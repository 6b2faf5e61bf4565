#include "program_support/language_table.h"

#include <algorithm>

#include "platform/fs/file_api.h"
#include "program_support/shell_state.h"

LanguageTableRecord LanguageTable;
CString dateFormat;

namespace {

// Units read per line at most; a longer line comes back in pieces.
constexpr int kLineUnits = 511;
// Lines a table holds at most. The programs' files have a few hundred; a
// damaged or hostile file must not make the table grab all memory.
constexpr int32_t kMaxLanguageLines = 100000;

// Reads the file's raw UTF-16LE units line by line: each line ends after a
// 0x000A unit, after 511 units, or at the end of the file. A line holding a
// 0 unit ends there (the rest of it is read but not kept). A trailing odd
// byte is no unit.
class UnitLineReader {
 public:
  explicit UnitLineReader(HANDLE file) : file_(file) {}

  // False at the end of the file (nothing read).
  bool next(CString& line) {
    line.Empty();
    int units = 0;
    bool ended_by_zero = false;
    while (units < kLineUnits) {
      WCHAR unit;
      if (!next_unit(unit)) break;
      ++units;
      if (unit == 0) ended_by_zero = true;
      if (!ended_by_zero) line.AppendChar(unit);
      if (unit == u'\n') break;
    }
    return units > 0;
  }

 private:
  bool next_unit(WCHAR& unit) {
    if (position_ + 2 > filled_) {
      // Keep an odd leftover byte in front of the next read.
      DWORD keep = filled_ - position_;
      if (keep) buffer_[0] = buffer_[position_];
      DWORD read = 0;
      if (!ReadFile(file_, buffer_ + keep, sizeof buffer_ - keep, &read, nullptr)) read = 0;
      filled_ = keep + read;
      position_ = 0;
      if (filled_ < 2) return false;
    }
    unit = static_cast<WCHAR>(buffer_[position_] | buffer_[position_ + 1] << 8);
    position_ += 2;
    return true;
  }

  HANDLE file_;
  BYTE buffer_[4096] = {};
  DWORD filled_ = 0;
  DWORD position_ = 0;
};

HANDLE OpenForBinaryRead(const CString& path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

bool LoadLanguageStrings() {
  CString file;
  if (ShellState.languageName == u"English") {
    dateFormat = u"%m/%d/%Y";
    file = u"\\Resources\\001.dll";
  } else if (ShellState.languageName == u"Japanese") {
    dateFormat = u"%Y/%m/%d";
    file = u"\\Resources\\081.dll";
  } else {
    return false;
  }
  const CString path = ShellState.programFolder + file;
  return LoadLanguageTable([&] { return OpenForBinaryRead(path); });
}

bool LoadLanguageTable(const std::function<HANDLE()>& open) {
  // First pass: count the lines.
  LanguageTable.languageLineCount = 0;
  LanguageTable.strings.clear();
  HANDLE h = open();
  if (h == INVALID_HANDLE_VALUE) return false;
  {
    UnitLineReader reader(h);
    CString line;
    while (LanguageTable.languageLineCount < kMaxLanguageLines && reader.next(line)) ++LanguageTable.languageLineCount;
  }
  CloseHandle(h);

  const size_t slots = 2 * static_cast<size_t>(LanguageTable.languageLineCount);
  LanguageTable.strings.assign(slots, CString());

  // Second pass: split each line at its first colon.
  h = open();
  if (h == INVALID_HANDLE_VALUE) return false;
  UnitLineReader reader(h);
  CString line;
  for (size_t k = 0; k < slots; k += 2) {
    if (!reader.next(line)) break;
    const int colon = line.Find(u':');
    if (colon <= 0) continue;
    CString key = line.Left(colon);
    key.Trim();
    CString text = line.Mid(colon + 1);
    text.TrimLeft();
    // The line end (CR LF) goes; a last line without one loses its last two characters.
    text = text.Left(text.GetLength() - 2);
    LanguageTable.strings[k] = key;
    LanguageTable.strings[k + 1] = text;
  }
  CloseHandle(h);
  return true;
}

CString LookupString(LPCWSTR key) {
  const CString wanted(key);
  const size_t slots =
      std::min(LanguageTable.strings.size(), 2 * static_cast<size_t>(std::max(LanguageTable.languageLineCount, 0)));
  for (size_t k = 0; k + 1 < slots; k += 2) {
    if (LanguageTable.strings[k] == wanted && !wanted.IsEmpty()) {
      CString text = LanguageTable.strings[k + 1];
      text.Replace(u"\\n", u" \n");
      return text;
    }
  }
  return wanted;
}
