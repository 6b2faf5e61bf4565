#include "mainapp/clone/clone_page.h"

#include "disk/disk_access.h"
#include "disk/disk_map.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/clone/clone_format.h"
#include "mainapp/clone/clone_page_items.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_bars.h"
#include "mainapp/records/disk_selection.h"
#include "platform/ui/controls.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"
#include "platform/ui/winuser.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"

BEGIN_MESSAGE_MAP(CClone, CDialog)
  ON_BN_CLICKED(clone_items::kStart, &CClone::RunClone)
  ON_WM_PAINT()
  ON_BN_CLICKED(clone_items::kBack, &CClone::OnBack)
  ON_BN_CLICKED(clone_items::kCancel, &CClone::OnCloneCancel)
  ON_WM_TIMER()
  ON_EN_SETFOCUS(1003, &CClone::OnFocusSummary)
  ON_EN_SETFOCUS(1004, &CClone::OnFocusSummary)
END_MESSAGE_MAP()

namespace {

constexpr int kTitle = 1003;
constexpr int kSubtitle = 1004;
constexpr int kSourceBarArea = 1064;
constexpr int kDestinationBarArea = 1096;

// Bar colours (0x00BBGGRR).
constexpr COLORREF kNavy = 0x800000;       // partition outside the extended partition
constexpr COLORREF kBlue = 0xFF0000;       // logical drive
constexpr COLORREF kDarkGrey = 0x191919;   // free space outside the extended partition
constexpr COLORREF kGreen = 0x00FF00;      // free space inside it
constexpr COLORREF kYellow = 0x2AFFFF;
constexpr COLORREF kWhite = 0xFFFFFF;

struct FixedText {
  int id;
  const char16_t* key;
};
constexpr FixedText kFixedTexts[] = {
    {1001, u"IDS_Confirm"},      {1002, u"IDS_Progress"},     {1012, u"IDS_Clonelbl"},
    {1086, u"IDS_Unallocated"},  {1087, u"IDS_Primary"},      {1090, u"IDS_LogicalDrive"},
    {1091, u"IDS_FreeLogical"},  {1016, u"IDS_MProgSum5"},    {1029, u"IDS_MProgSum6"},
    {1034, u"IDS_Copied"},       {1102, u"IDS_ElapsedTime"},  {1099, u"IDS_MProgSum1"},
    {1100, u"IDS_MProgSum2"},    {4, u"IDS_Back"},            {1011, u"IDS_StartMirror"},
    {2, u"IDS_Cancel"},          {1106, u"IDS_MProgSum3"},    {1108, u"IDS_MProgSum4"},
};

RECT ItemRect(CDialog& page, int id) {
  RECT r{};
  if (CWnd* item = page.GetDlgItem(id)) {
    item->GetWindowRect(&r);
    page.ScreenToClient(&r);
  }
  return r;
}

// The name a bar segment shows: " (X:)" and the type name for a lettered
// partition, the type name for another, "Free" for unused space.
CString SegmentName(const DiskMapItem& item) {
  if (item.partitionIndex < 0) return LookupString(item.outsideExtended ? u"IDS_Unallocated" : u"IDS_Free");
  return DiskBarPartitionName(item);
}

// Shares the bar's width among its segments by their lengths (2 pixels of
// gap each); the last segment takes what is left when the bar is drawn.
void SetPixelWidths(DiskMapItem* items, int32_t count, int width) {
  uint64_t total = 0;
  for (int32_t i = 0; i < count; ++i) total += items[i].length;
  const int usable = width - 2 - 2 * count;
  for (int32_t i = 0; i < count; ++i)
    items[i].pixelWidth = total == 0 || usable <= 0 ? 0 : static_cast<int32_t>(items[i].length * static_cast<uint64_t>(usable) / total);
}

}  // namespace

CClone::CClone(CWnd* parent) : CDialog(IDD, parent) {}

CClone::~CClone() {
  if (ShellState.ProgressBar == &progress_) ShellState.ProgressBar = nullptr;
}

void CClone::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, clone_items::kProgress, progress_);
}

void CClone::TakeProgressBar() {
  if (progress_.GetSafeHwnd()) ShellState.ProgressBar = &progress_;
}

INT_PTR RunClonePageModal(CWnd* parent) {
  CClone page(parent);
  return page.DoModal();
}

BOOL CClone::OnInitDialog() {
  CDialog::OnInitDialog();
  ShellState.OneShotTickCount = 0;
  if (ShellState.oneClickRunning)
    if (CWnd* back = GetDlgItem(clone_items::kBack)) back->EnableWindow(FALSE);
  LayoutWriterState.layoutWritten = 0;
  sourceBar_ = ItemRect(*this, kSourceBarArea);
  destinationBar_ = ItemRect(*this, kDestinationBarArea);
  CloneRunState.cloneAborted = 0;
  CloneRunState.cloneRunning = 0;

  SetWindowText(LookupString(u"IDS_MProgCap"));
  titleFont_.CreateFont(ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0), 0, 0, 0, 700, 0, 0, 0, 0, 0, 0,
                        0, 0, u"Verdana");
  textFont_.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* title = GetDlgItem(kTitle)) title->SetFont(&titleFont_, TRUE);
  if (CWnd* subtitle = GetDlgItem(kSubtitle)) subtitle->SetFont(&textFont_, TRUE);
  SetDlgItemText(kTitle, LookupString(u"IDS_CloneH1"));
  SetDlgItemText(kSubtitle, LookupString(u"IDS_CloneH2"));
  for (const FixedText& t : kFixedTexts) SetDlgItemText(t.id, LookupString(t.key));

  SetDlgItemText(1094, CloneSettings.sourceDescription);
  SetDlgItemText(1023, LookupString(CloneSettings.badSectorScan ? u"IDS_Selected" : u"IDS_NotSelected"));
  SetDlgItemText(1030, LookupString(CloneSettings.verifyAfterCopy ? u"IDS_Selected" : u"IDS_NotSelected"));
  SetDlgItemText(1107, LookupString(CloneSettings.basicDuplication ? u"IDS_BasicDup" : u"IDS_SectorBySector"));
  const char16_t* sizing = CloneSettings.sizingMode == SizingMode::Automatic  ? u"IDS_Auto"
                           : CloneSettings.sizingMode == SizingMode::SameSize ? u"IDS_Same"
                                                                              : u"IDS_Manual";
  SetDlgItemText(1109, LookupString(sizing));
  SetDlgItemText(1095, CloneSettings.destinationDescription);
  SetDlgItemText(clone_items::kStatus, u"");

  TakeProgressBar();
  DiskContext.ioErrorCount = 0;
  sourceCount_ = BuildDiskMap(CloneSettings.copySourceDisk, sourceMap_, true);
  destinationCount_ = BuildDiskMap(CloneSettings.chosenDestinationDisk, destinationMap_, true);
  SetPixelWidths(sourceMap_, sourceCount_, sourceBar_.right - sourceBar_.left);
  SetPixelWidths(destinationMap_, destinationCount_, destinationBar_.right - destinationBar_.left);
  InvalidateRect(&sourceBar_, FALSE);

  if (ShellState.oneClickAutoMode) ShellState.OneShotTimerId = SetTimer(kAutoStartTimer, 1, nullptr);
  return TRUE;
}

void CClone::OnTimer(UINT_PTR id) {
  CDialog::OnTimer(id);
  if (id != ShellState.OneShotTimerId || ShellState.OneShotTickCount > 5) return;
  if (++ShellState.OneShotTickCount == 5) {
    KillTimer(id);
    ShellState.OneShotTickCount = 6;
    RunClone();
  }
}

void CClone::OnCloneCancel() {
  if (CloneRunState.cloneAborted) {
    CDialog::OnCancel();
    return;
  }
  const CString question = LookupString(CloneRunState.cloneRunning ? u"IDS_MSGCANCELMIRROR" : u"IDS_mirrorcancel1");
  if (MessageBoxW(m_hWnd, question, ShellState.messageCaption, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES)
    return;
  // A running format is never killed: the run's poll waits for it to end.
  if (!CloneRunState.cloneRunning) CDialog::OnCancel();
  CloneRunState.cloneAborted = 1;
}

void CClone::OnCancel() {
  // Escape and the close box ask like the Cancel button.
  OnCloneCancel();
}

void CClone::OnBack() {
  if (CloneRunState.cloneRunning) return;
  CDialog::OnCancel();
  if (RunOptionsPageHook) RunOptionsPageHook();
}

void CClone::OnFocusSummary() {
  if (CWnd* box = GetDlgItem(1001)) box->SetFocus();
}

void CClone::DrawBar(CDC& dc, const RECT& area, const DiskMapItem* items, int32_t count, bool destination) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 2 || height <= 0) return;
  CFont font;
  font.CreateFont(12, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"MS Shell Dlg");
  CFont* oldFont = dc.SelectObject(&font);
  dc.SetBkMode(TRANSPARENT);
  dc.FillSolidRect(area.left, area.top, width, height, kWhite);
  if (count == 0) {
    dc.FillSolidRect(area.left + 1, area.top + 2, width - 2, 14, kDarkGrey);
    RECT size{area.left + 8, area.top + 20, area.left + 160, area.top + 34};
    RECT label{area.left + 8, area.top + 36, area.left + 160, area.top + 50};
    const ListedDiskIndex listed = destination ? CloneSettings.chosenDestinationDisk : CloneSettings.copySourceDisk;
    if (!listed.is_none() && listed.value < kMaxListedDisks)
      dc.DrawText(CString(FormatSectorCount(ListedSize(listed))).str(), &size, DT_LEFT | DT_SINGLELINE);
    dc.DrawText(CString(LookupString(u"IDS_Unallocated")).str(), &label, DT_LEFT | DT_SINGLELINE);
    dc.SelectObject(oldFont);
    return;
  }
  int x = 1;
  for (int32_t i = 0; i < count && x < width - 1; ++i) {
    const DiskMapItem& item = items[i];
    int w = item.pixelWidth;
    if (i == count - 1 || x + w > width - 2) w = width - 2 - x + 1;
    if (w < 1) w = 1;
    const bool partition = item.partitionIndex >= 0;
    const COLORREF fill = partition ? (item.outsideExtended ? kNavy : kBlue) : (item.outsideExtended ? kDarkGrey : kGreen);
    dc.FillSolidRect(area.left + x, area.top + 2, w, partition ? 16 : 14, fill);
    const COLORREF outline = kYellow;
    dc.FillSolidRect(area.left + x, area.top, w, 2, outline);
    dc.FillSolidRect(area.left + x, area.top + 19, w, 2, outline);
    dc.FillSolidRect(area.left + x, area.top, 1, 21, outline);
    dc.FillSolidRect(area.left + x + w - 1, area.top, 1, 21, outline);
    if (w >= 11) {
      CString name = SegmentName(item);
      if (destination && CloneRunState.cloneRunning && item.start == FormattingMarker)
        name = LookupString(u"IDS_Format") + name;
      RECT nameRect{area.left + x + 1, area.top + (destination ? 24 : 27), area.left + x + w - 1, area.top + 38};
      RECT sizeRect{area.left + x + 1, area.top + 40, area.left + x + w - 1, area.top + height};
      dc.DrawText(CString(name).str(), &nameRect, DT_LEFT | DT_SINGLELINE);
      dc.DrawText(CString(FormatSectorCount(item.length)).str(), &sizeRect, DT_LEFT | DT_SINGLELINE);
    }
    x += w + 2;
  }
  dc.SelectObject(oldFont);
}

void CClone::OnPaint() {
  CPaintDC dc(this);
  DrawBar(dc, sourceBar_, sourceMap_, sourceCount_, false);
  DrawBar(dc, destinationBar_, destinationMap_, destinationCount_, true);
  // The legend: a small block of each bar colour in front of its label.
  const struct {
    int id;
    COLORREF colour;
  } legend[] = {{1086, kDarkGrey}, {1087, kNavy}, {1090, kBlue}, {1091, kGreen}};
  for (const auto& l : legend) {
    RECT r = ItemRect(*this, l.id);
    if (r.right <= r.left) continue;
    dc.FillSolidRect(r.left - 12, r.top + 1, 9, 9, l.colour);
  }
}
