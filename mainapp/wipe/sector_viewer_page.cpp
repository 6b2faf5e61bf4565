#include "mainapp/wipe/sector_viewer_page.h"

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/wipe/deletion_texts.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

int64_t ViewerSector = 0;

BEGIN_MESSAGE_MAP(CViewDiskData, CDialog)
  ON_BN_CLICKED(kGo, &CViewDiskData::OnGo)
  ON_BN_CLICKED(kStart, &CViewDiskData::OnStart)
  ON_BN_CLICKED(kEnd, &CViewDiskData::OnEnd)
  ON_BN_CLICKED(kPrevious, &CViewDiskData::OnPrevious)
  ON_BN_CLICKED(kNext, &CViewDiskData::OnNext)
  ON_BN_CLICKED(kClose, &CViewDiskData::OnCancel)
END_MESSAGE_MAP()

namespace {

uint32_t Multiplier() {
  const int32_t m = SectorMultiplierOf(DiskSelection.diskNumber.value);
  return m > 0 ? static_cast<uint32_t>(m) : 1;
}

}  // namespace

void OpenSectorViewer() {
  CViewDiskData viewer;
  viewer.DoModal();
}

CViewDiskData::CViewDiskData(CWnd* parent) : CDialog(IDD, parent) {}

int64_t CViewDiskData::LastSector() const {
  return sectorCount_ > 0 ? static_cast<int64_t>(sectorCount_) - 1 : 0;
}

BOOL CViewDiskData::OnInitDialog() {
  CDialog::OnInitDialog();
  ApplyPageHeader(*this, fonts_, u"IDS_ViewDiskDataCap");
  SetDlgItemText(1004, LookupString(u"IDS_ViewDiskDataH2"));
  SetDlgItemText(1041, LookupString(u"IDS_DiskPartition") + u":");
  SetDlgItemText(1044, LookupString(u"IDS_Sector"));
  SetDlgItemText(kStart, LookupString(u"IDS_StartSec"));
  SetDlgItemText(kEnd, LookupString(u"IDS_EndSec"));
  SetDlgItemText(kPrevious, LookupString(u"IDS_previous"));
  SetDlgItemText(kNext, LookupString(u"IDS_forward"));
  SetDlgItemText(kClose, LookupString(u"IDS_Close"));
  SetDlgItemText(kGo, LookupString(u"IDS_ViewSectorNo"));
  dumpFont_.CreateFont(ShellState.winPEMode ? 14 : 10, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Courier New");
  if (CWnd* dump = GetDlgItem(kDump)) dump->SetFont(&dumpFont_, TRUE);
  ReadDiskGeometry(DiskSelection.diskNumber.value);
  sectorCount_ = DiskSelection.sectorCount;
  // A whole disk ends at its real end, past its last whole cylinder.
  if (DiskSelection.kind == kSelectionWholeDisk)
    if (const uint64_t units = ReadDiskLengthUnits(DiskSelection.diskNumber.value); units > 0) sectorCount_ = units / Multiplier();
  OpenDiskRead(DiskSelection.diskNumber.value);
  buffer_.assign(static_cast<size_t>(Multiplier()) * 512, 0);
  SetDlgItemText(1048, DeletionTargetText(DiskSelection));
  ViewerSector = 0;
  ShowSector();
  return TRUE;
}

bool CViewDiskData::ShowSector() {
  if (ViewerSector < 0) ViewerSector = 0;
  if (ViewerSector > LastSector()) ViewerSector = LastSector();
  SetDlgItemText(kSectorEdit, Int64ToText(ViewerSector));
  const uint32_t m = Multiplier();
  const uint64_t native = DiskSelection.startSector + static_cast<uint64_t>(ViewerSector);
  CString dump;
  if (ReadDiskSectors(buffer_.data(), native, static_cast<int32_t>(m)) == 0) {
    const int digits = HexOffsetDigits(TargetSizeUnits(DiskSelection) * 512);
    for (uint32_t offset = 0; offset < m * 512; offset += 16) {
      WCHAR line[kHexLineColumns + 1];
      FormatHexLine(line, buffer_.data(), offset, static_cast<uint64_t>(ViewerSector) * m, digits);
      dump += line;
      dump += u"\r\n";
    }
  } else {
    dump = LookupString(u"IDS_SectorUnreadable");
  }
  SetDlgItemText(kDump, dump);
  return true;
}

void CViewDiskData::OnGo() {
  ViewerSector = TextToInt64(GetDlgItemText(kSectorEdit));
  ShowSector();
}

void CViewDiskData::OnStart() {
  ViewerSector = 0;
  ShowSector();
}

void CViewDiskData::OnEnd() {
  ViewerSector = LastSector();
  ShowSector();
}

void CViewDiskData::OnNext() {
  if (ViewerSector >= LastSector()) return;
  ++ViewerSector;
  ShowSector();
}

void CViewDiskData::OnPrevious() {
  --ViewerSector;
  ShowSector();
}

void CViewDiskData::OnCancel() {
  CloseCurrentDisk();
  EndDialog(IDCANCEL);
}
