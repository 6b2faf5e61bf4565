// The language table: every user text is looked up by its key ("IDS_...")
// in a table loaded once at start-up from the language file beside the
// program ("\Resources\001.dll" English, "\Resources\081.dll" Japanese;
// plain UTF-16LE text despite the extension, lines "KEY:TEXT" ended by CR LF).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

struct LanguageTableRecord {
  // Entry 2k holds the key and 2k + 1 the text of the k-th line of the file;
  // both stay empty for a line that is no entry.
  std::vector<CString> strings;
  // Lines counted in the first pass.
  int32_t languageLineCount = 0;
};

extern LanguageTableRecord LanguageTable;
// "%m/%d/%Y" with English, "%Y/%m/%d" with Japanese; keeps its value when no
// language file is chosen.
extern CString dateFormat;

// Reads ShellState.languageName and ShellState.programFolder. True when a
// language file was loaded (its first 100,000 lines at most); false for any other language name or a file that
// cannot be opened (no message: every lookup then gives its key).
bool LoadLanguageStrings();
// Fills the table from the language file that `open` opens (twice: a first
// pass counts the lines); false when it cannot be opened.
bool LoadLanguageTable(const std::function<HANDLE()>& open);

// The text stored for the key (first matching line, case-sensitive), each
// backslash-n pair turned into a blank and a line feed; the key itself when
// the table lacks it.
CString LookupString(LPCWSTR key);
