#include "mainapp/clone/clone_summary_page.h"

#include "disk/disk_context.h"
#include "mainapp/clone/clone_stage_calls.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/records/clone_counters.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/shell/shutdown_prompt.h"
#include "mainapp/shell/system_exit.h"
#include "platform/core/ctime.h"
#include "platform/core/process_exit.h"
#include "platform/process/process.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

uint8_t rawDestinationPrepared = 0;

BEGIN_MESSAGE_MAP(CMirrorProgressSummary, CDialog)
  ON_BN_CLICKED(1026, &CMirrorProgressSummary::OnSummaryFinish)
  ON_BN_CLICKED(1000, &CMirrorProgressSummary::OnSummaryRestart)
  ON_BN_CLICKED(1034, &CMirrorProgressSummary::OnSummaryHelp)
  ON_BN_CLICKED(CMirrorProgressSummary::kNotCopiedList, &CMirrorProgressSummary::OnNotCopiedList)
  ON_EN_SETFOCUS(1003, &CMirrorProgressSummary::OnFocusSummary)
  ON_EN_SETFOCUS(1004, &CMirrorProgressSummary::OnFocusSummary)
END_MESSAGE_MAP()

namespace {

struct Label {
  int id;
  const char16_t* key;
};
constexpr Label kLabels[] = {
    {1001, u"IDS_OperationSummary"}, {1013, u"IDS_MProgSum1"}, {1014, u"IDS_MProgSum2"}, {1019, u"IDS_MProgSum3"},
    {1027, u"IDS_MProgSum4"},        {1016, u"IDS_MProgSum5"}, {1029, u"IDS_MProgSum6"}, {1017, u"IDS_MProgSum7"},
    {1031, u"IDS_MProgSum8"},        {1015, u"IDS_MProgSum9"}, {1018, u"IDS_MProgSum10"}, {1026, u"IDS_Finish"},
    {CMirrorProgressSummary::kNotCopiedList, u"IDS_NotCopiedListButton"},
};

void ShowItem(CDialog& page, int id, bool show) {
  if (CWnd* item = page.GetDlgItem(id)) item->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

}  // namespace

CMirrorProgressSummary::CMirrorProgressSummary(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CMirrorProgressSummary::OnInitDialog() {
  CDialog::OnInitDialog();
  CloneSettings.checkedRow = -1;
  CloneSettings.destinationRow = -1;
  SetWindowText(LookupString(u"IDS_MProgSumCap"));
  titleFont_.CreateFont(ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0), 0, 0, 0, 700, 0, 0, 0, 0, 0, 0,
                        0, 0, u"Verdana");
  textFont_.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* title = GetDlgItem(1003)) title->SetFont(&titleFont_, TRUE);
  if (CWnd* subtitle = GetDlgItem(1004)) subtitle->SetFont(&textFont_, TRUE);
  const bool scanOnly = ScanState.scanOnlySummary != 0;
  SetDlgItemText(1003, scanOnly ? CString(u"Scan Summary") : LookupString(u"IDS_MProgSumH1"));
  SetDlgItemText(1004, scanOnly ? CString(u"Bad Sector Scan Summary") : LookupString(u"IDS_MProgSumH2"));
  for (const Label& l : kLabels) SetDlgItemText(l.id, LookupString(l.key));
  if (scanOnly) {
    for (int id : {1014, 1019, 1016, 1029, 1031, 1015}) ShowItem(*this, id, false);
    ShowItem(*this, 1016, true);
    ShowItem(*this, 1023, true);
    ShowItem(*this, 1025, false);
  }
  SetDlgItemText(1020, CloneSettings.sourceDescription);
  SetDlgItemText(1021, CloneSettings.destinationDescription);
  const CString type = LookupString(CloneSettings.basicDuplication ? u"IDS_Basic" : u"IDS_SectorBySector");
  SetDlgItemText(1025, type);

  const int32_t ioErrors = DiskContext.ioErrorCount;
  const int32_t mismatches = CloneRunState.verifyMismatchCount;
  // Files, folders or links the file copy had to leave out make the copy incomplete.
  const int32_t skipped = CloneRunState.skippedItemCount;
  const char16_t* result = CloneRunState.cloneAborted ? u"IDS_Aborted"
                           : CloneRunHadErrors()       ? u"IDS_Completed_Error"
                                                       : u"IDS_Completed";
  SetDlgItemText(1024, LookupString(result));

  switch (CloneSettings.sizingMode) {
    case SizingMode::Automatic: SetDlgItemText(1028, LookupString(u"IDS_Auto")); break;
    case SizingMode::SameSize: SetDlgItemText(1028, LookupString(u"IDS_Same")); break;
    case SizingMode::Manual: SetDlgItemText(1028, LookupString(u"IDS_Manual")); break;
    default: SetDlgItemText(1028, type); break;
  }

  CString scan;
  if (!CloneSettings.badSectorScan) {
    scan = LookupString(u"IDS_NotSelected");
  } else if (ScanState.scanCancelled) {
    scan = LookupString(u"IDS_Aborted");
  } else {
    scan.Format(u"%d %s %d %s", ScanState.scanErrorCount, LookupString(u"IDS_badsector1").GetString(),
                ScanState.badSectorCount, LookupString(u"IDS_badsector2").GetString());
  }
  SetDlgItemText(1023, scan);

  if (CloneSettings.verifyAfterCopy) {
    auto counts = [](int32_t differ, const char16_t* differKey, int32_t unread, const char16_t* unreadKey) {
      CString text;
      text.Format(u"%d %s %d %s", differ, LookupString(differKey).GetString(), unread,
                  LookupString(unreadKey).GetString());
      return text;
    };
    const int32_t unreadBlocks = CloneCounters.verifySecondCount;
    const CString blocks = counts(mismatches, u"IDS_verifyerror1", unreadBlocks, u"IDS_verifyerror2");
    // A basic copy compares files; the partitions it copied by sectors (no
    // volume to read files from) are named by blocks only where blocks
    // differ or went uncompared.
    CString line = blocks;
    if (CloneSettings.basicDuplication) {
      line = counts(CloneRunState.verifyDifferingFiles, u"IDS_verifyfiles1", CloneRunState.verifyUncomparedFiles,
                    u"IDS_verifyfiles2");
      if (mismatches != 0 || unreadBlocks != 0) line += u"; " + blocks;
    }
    SetDlgItemText(1030, line);
  } else {
    SetDlgItemText(1030, LookupString(u"IDS_NotSelected"));
  }

  CString errors;
  // A basic copy names its read and write errors too (a source that went away).
  if (ioErrors != 0)
    errors.Format(u"%s %d %s", LookupString(u"IDS_WriteError").GetString(), ioErrors,
                  LookupString(u"IDS_WriteError2").GetString());
  SetDlgItemText(1033, errors);

  // What the copy left out, named on request, and a repair that did not run.
  CString notCopied;
  if (skipped > 0) notCopied.Format(u"%d %s", skipped, LookupString(u"IDS_NotCopiedCount").GetString());
  SetDlgItemText(kNotCopiedLine, notCopied);
  ShowItem(*this, kNotCopiedList, skipped > 0 && !CloneRunState.skippedItems.IsEmpty());
  SetDlgItemText(kRepairLine, CloneRunState.offlineRepairFailed ? LookupString(u"IDS_RepairNotRun") : CString());

  SetDlgItemText(1032, FormatSectorCount(CloneRunState.copiedBytes / 512));
  SetDlgItemText(1022, CTimeSpan(CloneCounters.cloneElapsedTime).Format(u"%H:%M:%S"));
  SetDlgItemText(1000, LookupString(u"IDS_FINISH"));
  return TRUE;
}

void CMirrorProgressSummary::OnNotCopiedList() {
  CString text = LookupString(u"IDS_NotCopiedListHead") + u"\r\n\r\n" + CloneRunState.skippedItems;
  if (CloneRunState.skippedItemCount > kSkippedItemsListed) {
    CString more;
    more.Format(u"%d %s", CloneRunState.skippedItemCount - kSkippedItemsListed,
                LookupString(u"IDS_NotCopiedMore").GetString());
    text += more;
  }
  MessageBoxW(m_hWnd, text, ShellState.messageCaption, MB_OK | MB_ICONINFORMATION);
}

void CMirrorProgressSummary::OnFocusSummary() {
  if (CWnd* box = GetDlgItem(1001)) box->SetFocus();
}

void CMirrorProgressSummary::OnSummaryRestart() {
  if (CloneRunState.cloneAborted || ScanState.scanCancelled) {
    EndDialog(IDCANCEL);
    return;
  }
  if (CloneSettings.partitionMode && !rawDestinationPrepared) {
    if (CloneSettings.basicDuplication) {
      EndDialog(IDCANCEL);
      return;
    }
    CopyDiskSignatureStage();
    MessageBoxW(m_hWnd, LookupString(u"IDS_shutdown2"), ShellState.messageCaption, MB_OK);
    RestartOrShutdown(1);
    return;
  }
  CopyDiskSignatureStage();
  if (!ShellState.bootFixDrive.IsEmpty()) {
    shutdownPromptText = LookupString(u"IDS_bootstring1");
    shutdownNowText = LookupString(u"IDS_SHUTNOW");
    shutdownLaterText = LookupString(u"IDS_SHUTLATER");
    CShutDown prompt;
    prompt.DoModal();
    EndDialog(IDCANCEL);
    return;
  }
  EndDialog(IDCANCEL);
  shutdownPromptText = LookupString(u"IDS_shutdown1");
  shutdownNowText = LookupString(u"IDS_shutdownnow");
  shutdownLaterText = LookupString(u"IDS_backtomain");
  CShutDown prompt;
  prompt.DoModal();
}

void CMirrorProgressSummary::OnSummaryFinish() {
  if (MessageBoxW(m_hWnd, LookupString(u"IDS_RESTART"), ShellState.messageCaption,
                  MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES) {
    ExitProcess(0);
  }
  OnSummaryRestart();
}

void CMirrorProgressSummary::OnSummaryHelp() {
  CString path = ShellState.programFolder + u"\\Help\\index.htm";
  ShellExecuteW(nullptr, u"open", u"opera.exe", path, nullptr, SW_HIDE);
}
