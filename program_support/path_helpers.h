// Path and file-search helpers used throughout the programs.
#pragma once

#include "platform/core/cstring.h"
#include "platform/core/types.h"

// The open search of FindFirstName, continued by FindNextName, ended by
// CloseFind; INVALID_HANDLE_VALUE when none is open.
extern HANDLE CurrentNameSearch;

// Last component: the text after the last backslash at a position above 0
// (for "\\server\..." the server part is skipped first); the whole text when
// there is none; empty when the path ends with a backslash.
CString GetPathLeaf(const CString& path);
// The text before the last backslash at position 1 or later; empty when none.
CString GetParentPath(const CString& path);
// A zero-filled block of length + 1 characters holding the text; free it with FreeBlock.
WCHAR* AllocWideCopy(const CString& text);
// Name (without folder) of the first match of a file search, empty when
// nothing matches or the text is longer than 519 characters. Closes the
// previous search first and leaves this one open as CurrentNameSearch.
CString FindFirstName(const CString& pattern);
// Name of the next match of CurrentNameSearch; empty when there is none.
CString FindNextName();
void CloseFind();
