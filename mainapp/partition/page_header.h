// What every page of the partition manager sets up alike: the icon of the
// partition manager (its command's menu icon) and the two header lines, 1003
// bold at the shell's title height (3 more under WinPE) and 1004 at its text
// height.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "platform/core/cstring.h"
#include "platform/core/types.h"
#include "platform/ui/gdi.h"

class CDialog;

struct PartitionPageHeader {
  CFont heading;
  CFont text;
  HICON icon = nullptr;
};

void ApplyPartitionPageHeader(CDialog& page, PartitionPageHeader& header);

// Sets each control's text to the looked-up text of its key.
void SetPageTexts(CDialog& page, std::initializer_list<std::pair<int, const char16_t*>> texts);

// "X:" for a drive letter (a character code).
CString DriveText(int32_t letter);
