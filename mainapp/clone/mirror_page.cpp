#include "mainapp/clone/mirror_page.h"

#include <algorithm>

#include "disk/disk_access.h"
#include "disk/disk_context.h"
#include "mainapp/clone/clone_page.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/clone/clone_summary_page.h"
#include "mainapp/clone/partition_range_copy.h"
#include "mainapp/clone/prescan.h"
#include "mainapp/clone/source_page.h"
#include "mainapp/records/clone_counters.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "platform/core/clock.h"
#include "platform/core/ctime.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

namespace {

constexpr UINT kAskFlags = MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL;

struct FixedText {
  int id;
  const char16_t* key;
};
constexpr FixedText kFixedTexts[] = {
    {1001, u"IDS_Confirm"},       {1002, u"IDS_Progress"},      {1012, u"IDS_MProglbl"},
    {1099, u"IDS_MProgSum1"},     {1100, u"IDS_MProgSum2"},     {1027, u"IDS_MProgSum3"},
    {1034, u"IDS_MProgSum4"},     {1060, u"IDS_MProgSum5"},     {1030, u"IDS_MProgSum6"},
    {1019, u"IDS_RemainingTime"}, {1020, u"IDS_ElapsedTime"},   {1032, u"IDS_TotalSize"},
    {1023, u"IDS_CopyBlock"},     {4, u"IDS_Back"},             {1011, u"IDS_StartMirror"},
    {2, u"IDS_Cancel"},
};

struct MirrorProgress {
  CMirrorProgress* page;
  uint64_t total;
  uint64_t startMs;
};

// The bar, the copied amount, the elapsed time and the remaining time
// (elapsed x total / done - elapsed; 00:00:00 while nothing is done).
void ShowMirrorProgress(CWnd* page, uint64_t done, void* context) {
  const auto* p = static_cast<MirrorProgress*>(context);
  SetCloneProgressPos(page, done, p->total);
  const uint64_t elapsed = (GetTickCount64() - p->startMs) / 1000;
  page->SetDlgItemText(CMirrorProgress::kCopied, FormatSectorCount(done));
  page->SetDlgItemText(CMirrorProgress::kElapsed, DurationText(static_cast<int64_t>(elapsed)));
  uint64_t remaining = 0;
  if (done > 0) {
    const uint64_t estimate = static_cast<uint64_t>(static_cast<double>(elapsed) * p->total / done);
    if (estimate >= elapsed) remaining = estimate - elapsed;
  }
  page->SetDlgItemText(CMirrorProgress::kRemaining, DurationText(static_cast<int64_t>(remaining)));
}

}  // namespace

BEGIN_MESSAGE_MAP(CMirrorProgress, CDialog)
  ON_BN_CLICKED(kStart, &CMirrorProgress::OnStart)
  ON_BN_CLICKED(IDCANCEL, &CMirrorProgress::OnMirrorCancel)
  ON_BN_CLICKED(kBack, &CMirrorProgress::OnBack)
  ON_EN_SETFOCUS(1003, &CMirrorProgress::OnFocusSummary)
  ON_EN_SETFOCUS(1004, &CMirrorProgress::OnFocusSummary)
END_MESSAGE_MAP()

CMirrorProgress::CMirrorProgress(CWnd* parent) : CDialog(IDD, parent) {
  icon_ = LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(kPageIcon));
}

void CMirrorProgress::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kProgressBar, progress_);
}

BOOL CMirrorProgress::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcon(icon_, TRUE);
  SetIcon(icon_, FALSE);
  ScanState.scanOnlySummary = 0;
  CloneRunState.cloneAborted = 0;
  CloneRunState.cloneRunning = 0;

  SetWindowText(LookupString(u"IDS_MProgCap"));
  title_font_.CreateFont(ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0), 0, 0, 0, 700, 0, 0, 0, 0, 0, 0,
                         0, 0, u"Verdana");
  text_font_.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* title = GetDlgItem(1003)) title->SetFont(&title_font_, TRUE);
  if (CWnd* subtitle = GetDlgItem(1004)) subtitle->SetFont(&text_font_, TRUE);
  SetDlgItemText(1003, LookupString(u"IDS_MProgH1"));
  SetDlgItemText(1004, LookupString(u"IDS_MProgH2"));
  for (const FixedText& t : kFixedTexts) SetDlgItemText(t.id, LookupString(t.key));
  if (CWnd* copying = GetDlgItem(kCopyingLabel)) copying->ShowWindow(SW_HIDE);

  SetDlgItemText(1017, CloneSettings.sourceDescription);
  SetDlgItemText(1018, CloneSettings.destinationDescription);
  SetDlgItemText(1028, LookupString(CloneSettings.basicDuplication ? u"IDS_Basic" : u"IDS_SectorBySector"));
  const char16_t* sizing = CloneSettings.sizingMode == SizingMode::Automatic  ? u"IDS_Auto"
                           : CloneSettings.sizingMode == SizingMode::SameSize ? u"IDS_Same"
                                                                              : u"IDS_Manual";
  SetDlgItemText(1035, LookupString(sizing));
  SetDlgItemText(1029, LookupString(CloneSettings.badSectorScan ? u"IDS_Selected" : u"IDS_NotSelected"));
  SetDlgItemText(1031, LookupString(CloneSettings.changeSid ? u"IDS_Selected" : u"IDS_NotSelected"));

  if (CloneSettings.badSectorScan && RunPreCloneScan() && ScanState.scanCancelled &&
      MessageBoxW(m_hWnd, LookupString(u"IDS_SkipScan"), ShellState.messageCaption, kAskFlags) != IDYES)
    CloneRunState.cloneAborted = 1;
  // Every sector of the range is copied, so the total is the range's length.
  total_ = CloneSettings.copySourceLength;
  ShellState.ProgressBar = &progress_;
  SetCloneProgressRange(this, total_);
  SetDlgItemText(kTotal, FormatSectorCount(total_));
  DiskContext.ioErrorCount = 0;
  return TRUE;
}

void CMirrorProgress::OnStart() {
  if (CloneRunState.cloneRunning) return;
  if (MessageBoxW(m_hWnd, LookupString(u"IDS_MirrorWarning"), ShellState.messageCaption, kAskFlags) != IDYES) return;
  CloneRunState.cloneRunning = 1;
  if (CWnd* start = GetDlgItem(kStart)) start->EnableWindow(FALSE);
  if (CWnd* back = GetDlgItem(kBack)) back->EnableWindow(FALSE);
  if (CWnd* copying = GetDlgItem(kCopyingLabel)) copying->ShowWindow(SW_SHOW);
  CloneRunState.operationStart = CTime::GetCurrentTime().GetTime();
  CloneRunState.copiedBytes = 0;
  CloneRunState.verifyMismatchCount = 0;
  CloneCounters = CloneCountersRecord{};
  CopyBlocks();
  CloneRunState.copiedBytes = CloneRunState.copiedSectors * 512;
  CloneCounters.cloneElapsedTime = CTime::GetCurrentTime().GetTime() - CloneRunState.operationStart;
  CloneRunState.cloneRunning = 0;
  if (ShellState.ProgressBar == &progress_) ShellState.ProgressBar = nullptr;
  EndDialog(IDOK);
  CMirrorProgressSummary summary;
  summary.DoModal();
}

bool CMirrorProgress::CopyBlocks() {
  PartitionRangeJob job;
  if (CloneRunState.cloneAborted) return false;
  if (!PreparePartitionRange(&job)) {
    // A destination that cannot take the source is left as it is.
    CloneRunState.cloneAborted = 1;
    return false;
  }
  RangeVolumes volumes;
  FindRangeMbrSlots(&job);
  MirrorProgress progress{this, job.range.count, GetTickCount64()};
  const int32_t grain = std::max(SectorMultiplierOf(job.range.sourceDisk), SectorMultiplierOf(job.range.destinationDisk));
  const int32_t block = kBlockUnits - kBlockUnits % std::max(grain, 1);
  const RawPassResult result = RunRawPass(this, job.range, RawPass::Copy, block, &ShowMirrorProgress, &progress);
  if (!result.started) return false;
  if (!CloneRunState.cloneAborted) FinishPartitionRange(this, job, volumes.opened());
  return true;
}

void CMirrorProgress::OnMirrorCancel() {
  const bool running = CloneRunState.cloneRunning != 0;
  if (MessageBoxW(m_hWnd, LookupString(running ? u"IDS_MSGCANCELMIRROR" : u"IDS_mirrorcancel1"),
                  ShellState.messageCaption, kAskFlags) != IDYES)
    return;
  CloneRunState.cloneAborted = 1;
  if (!running) EndDialog(IDCANCEL);
}

void CMirrorProgress::OnBack() {
  if (CloneRunState.cloneRunning) return;
  EndDialog(IDCANCEL);
  if (RunDestinationPage) RunDestinationPage(nullptr);
}

void CMirrorProgress::OnFocusSummary() {
  if (CWnd* frame = GetDlgItem(1001)) frame->SetFocus();
}
