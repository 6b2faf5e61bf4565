#include "mainapp/wipe/deletion_summary_page.h"

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/shell/program_version.h"
#include "mainapp/shell/restart_prompt.h"
#include "mainapp/wipe/deletion_state.h"
#include "mainapp/wipe/deletion_texts.h"
#include "mainapp/wipe/sector_viewer_page.h"
#include "platform/core/process_exit.h"
#include "platform/fs/file_api.h"
#include "platform/storage/ioctl.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

CString DeleteReportText;

BEGIN_MESSAGE_MAP(CDeleteProgressSummary, CDialog)
  ON_BN_CLICKED(kSave, &CDeleteProgressSummary::OnSave)
  ON_BN_CLICKED(kView, &CDeleteProgressSummary::OnView)
  ON_BN_CLICKED(kFinish, &CDeleteProgressSummary::OnFinish)
END_MESSAGE_MAP()

namespace {

constexpr const char16_t* kLineEnd = u"\r\n";

// The software line: "IDS_About1" up to the character before its first ".",
// two blanks and the program's file version.
CString SoftwareText() {
  CString about = LookupString(u"IDS_About1");
  const int dot = about.Find(u'.');
  if (dot > 0) about = about.Left(dot - 1);
  return about + u"  " + GetProgramFileVersion();
}

CString ResultText() { return LookupString(DeleteAbortRequested ? u"IDS_Aborted" : u"IDS_Completed"); }

void AddLine(const CString& line) {
  DeleteReportText += line;
  DeleteReportText += kLineEnd;
}

}  // namespace

void BuildDeletionReport() {
  DeleteReportText.Empty();
  const DiskSelectionRecord& target = DiskSelection;
  AddLine(LookupString(u"IDS_DelProgSum2"));
  AddLine(LookupString(u"IDS_DelProgSum3") + u" " + DeleteStartText);
  AddLine(SoftwareText());
  AddLine(CString());
  AddLine(LookupString(u"IDS_Configuration"));
  AddLine(LookupString(u"IDS_DiskPartition") + u" " + DeletionReportTargetText(target));
  AddLine(LookupString(u"IDS_TotalSize") + u": " + FormatSectorCount(TargetSizeUnits(target)));
  AddLine(LookupString(u"IDS_DelProg2") + u" " + GetAlgoName(SelectedWipeMethod + 1));
  AddLine(CString());
  AddLine(LookupString(u"IDS_Result"));
  AddLine(LookupString(u"IDS_DelResult") + u" " + ResultText());
  AddLine(LookupString(u"IDS_DelErr") + u" " + IntToText(DiskContext.ioErrorCount));
  AddLine(LookupString(u"IDS_AfterDelSnap"));
  // The offset column as wide as the sector viewer's for the same target.
  const int digits = HexOffsetDigits(TargetSizeUnits(target) * 512);
  for (uint32_t offset = 0; offset < 48; offset += 16) {
    WCHAR line[kHexLineColumns + 1];
    FormatHexLine(line, DeleteSnapshotSector, offset, 0, digits);
    AddLine(CString(line, 60 + digits - kHexOffsetDigits));
  }
  AddLine(CString());
}

bool SaveDeletionReport(const CString& path) {
  if (path.IsEmpty()) return false;
  HANDLE file = CreateFileForWrite(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  const uint8_t bom[2] = {0xFF, 0xFE};
  std::u16string_view text = DeleteReportText.str();
  std::string bytes(reinterpret_cast<const char*>(bom), 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  const DWORD written = WriteFileBytes(file, static_cast<DWORD>(bytes.size()), bytes.data());
  CloseFileHandle(file);
  return written == bytes.size();
}

CDeleteProgressSummary::CDeleteProgressSummary(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CDeleteProgressSummary::OnInitDialog() {
  CDialog::OnInitDialog();
  CloneSettings.checkedRow = -1;
  CloneSettings.destinationRow = -1;
  ApplyPageHeader(*this, fonts_, u"IDS_DelProgSumCap");
  SetDlgItemText(1004, LookupString(u"IDS_DelProgSumH2"));
  underline_.CreateFont(15, 0, 0, 0, 400, 0, 1, 0, 0, 0, 0, 0, 0, u"Verdana");
  for (int id : {1072, 1073})
    if (CWnd* w = GetDlgItem(id)) w->SetFont(&underline_, TRUE);
  const DiskSelectionRecord& target = DiskSelection;
  SetDlgItemText(1001, LookupString(u"IDS_DelProgSum2"));
  SetDlgItemText(1059, LookupString(u"IDS_DelProgSum3"));
  SetDlgItemText(1060, DeleteStartText);
  SetDlgItemText(1061, LookupString(u"IDS_DelProgSum4"));
  SetDlgItemText(1062, SoftwareText());
  SetDlgItemText(1072, LookupString(u"IDS_Configuration"));
  SetDlgItemText(1068, LookupString(u"IDS_DiskPartition") + u":");
  SetDlgItemText(1069, DeletionReportTargetText(target));
  SetDlgItemText(1031, LookupString(u"IDS_TotalSize"));
  SetDlgItemText(1032, FormatSectorCount(TargetSizeUnits(target)));
  SetDlgItemText(1033, LookupString(u"IDS_DelProg2"));
  SetDlgItemText(1034, GetAlgoName(SelectedWipeMethod + 1));
  SetDlgItemText(1073, LookupString(u"IDS_Result"));
  SetDlgItemText(1035, LookupString(u"IDS_DelResult"));
  SetDlgItemText(1070, ResultText());
  SetDlgItemText(1037, LookupString(u"IDS_DelErr"));
  SetDlgItemText(1038, IntToText(DiskContext.ioErrorCount));
  SetDlgItemText(1039, LookupString(u"IDS_AfterDelSnap"));
  SetDlgItemText(kSave, LookupString(u"IDS_Save"));
  SetDlgItemText(kView, LookupString(u"IDS_ViewDiskPartition"));
  SetDlgItemText(kFinish, LookupString(u"IDS_Finish"));
  CString dump;
  const int digits = HexOffsetDigits(TargetSizeUnits(target) * 512);
  for (uint32_t offset = 0; offset < 512; offset += 16) {
    WCHAR line[kHexLineColumns + 1];
    FormatHexLine(line, DeleteSnapshotSector, offset, 0, digits);
    dump += line;
    dump += kLineEnd;
  }
  dump_.CreateFont(ShellState.winPEMode ? 14 : 10, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Courier New");
  if (CWnd* w = GetDlgItem(kSnapshot)) w->SetFont(&dump_, TRUE);
  SetDlgItemText(kSnapshot, dump);
  BuildDeletionReport();
  return TRUE;
}

void CDeleteProgressSummary::OnSave() {
  // Windows re-reads the overwritten disk's layout.
  OpenDiskReadWrite(DiskSelection.diskNumber.value);
  DWORD returned = 0;
  DeviceIoControl(DiskContext.currentDiskHandle, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned,
                  nullptr);
  CloseCurrentDisk();
  const CString filter = LookupString(u"IDS_DelReport") + u" (*.txt)|*.txt|";
  CFileDialog dialog(FALSE, u".txt", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter);
  if (dialog.DoModal() != IDOK) return;
  SaveDeletionReport(dialog.GetPathName());
}

void CDeleteProgressSummary::OnView() {
  OpenSectorViewer();
}

void CDeleteProgressSummary::OnFinish() {
  if (DeleteAbortRequested) {
    EndDialog(IDCANCEL);
    return;
  }
  restartAccepted = 0;
  CRestart prompt;
  prompt.DoModal();
  if (restartAccepted) ExitProcess(0);
  EndDialog(IDOK);
}
