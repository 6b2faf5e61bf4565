// The shell's special folders the migration tree never shows: three tables
// of (built-in English name, localized name) pairs. The localized partners
// come from the language file (LoadShellFolderNames); until then the
// 4-pair table's partners repeat the English names and the others are empty.
#pragma once

#include <array>
#include <functional>
#include <utility>

#include "platform/core/cstring.h"

struct ShellNamePair {
  const char16_t* english;
  const char16_t* key;  // language key of the localized partner
  CString localized;
};

extern std::array<ShellNamePair, 14> PrefixExclusions;
extern std::array<ShellNamePair, 15> NameExclusions;
extern std::array<ShellNamePair, 4> ExtraNameExclusions;

// Looks every partner up in the language table (a missing key gives the key).
void LoadShellFolderNames();
// The same through the program's own lookup of a partner's key (the restore
// program keeps its partners among its string resources).
void LoadShellFolderNames(const std::function<CString(const char16_t* key)>& lookup);
// The name, upper-cased, starts with the upper-cased English or localized
// name of one of the 14 prefix pairs. An empty name in a table never
// matches (an empty prefix would match every name).
bool HasExcludedFolderPrefix(const CString& name);
// The name equals, without regard to case, a whole name of the 15-pair or
// the 4-pair table.
bool IsExcludedFolderName(const CString& name);
