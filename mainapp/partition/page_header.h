// What every page of the partition manager sets up alike: the icon of the
// partition manager (32776) and the two header lines, 1003 bold at the
// shell's title height (3 more under WinPE) and 1004 at its text height.
#pragma once

#include "platform/core/types.h"
#include "platform/ui/gdi.h"

class CDialog;

struct PartitionPageHeader {
  CFont heading;
  CFont text;
  HICON icon = nullptr;
};

void ApplyPartitionPageHeader(CDialog& page, PartitionPageHeader& header);
