#include "mainapp/migrate/migration_copy_page.h"

#include <climits>

#include "disk/disk_context.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/shell_state.h"
#include "disk/volume_space.h"
#include "mainapp/migrate/migration_copy.h"
#include "mainapp/migrate/migration_state.h"
#include "mainapp/migrate/page_texts.h"
#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_box.h"
#include "platform/ui/message_map.h"

BEGIN_MESSAGE_MAP(CClone1, CDialog)
  ON_BN_CLICKED(kStart, &CClone1::RunFileMigration)
  ON_BN_CLICKED(kBack, &CClone1::OnMigrationBack)
END_MESSAGE_MAP()

namespace {

// Size of one item as the list shows it; an unreadable size counts 0.
uint64_t ItemSize(const MigrationItem& item) {
  if (item.kind == 1) {
    // The size walk moves the shared nesting counter; it is put back.
    const int32_t depth = FolderDepth;
    ++FolderDepth;
    const uint64_t size = GetFolderUsedBytes(item.path);
    FolderDepth = depth;
    return size == kFolderTooDeep ? 0 : size;
  }
  const int64_t size = GetFileSizeBytes(item.path);
  return size < 0 ? 0 : static_cast<uint64_t>(size);
}

}  // namespace

CString MigrationEndMessage() {
  const MigrationOutcome outcome = CurrentMigrationOutcome();
  CString text = LookupString(MigrationOutcomeKey(outcome));
  if (MigrationState.failedCount > 0) {
    text += u"\r\n\r\n";
    text += MigrationState.failedItems;
    if (MigrationState.failedCount > kFailedItemsListed)
      text += CString(std::to_string(MigrationState.failedCount - kFailedItemsListed).c_str()) + u" " +
              LookupString(u"IDS_MigrateMoreFailures");
  }
  return text;
}

CClone1::CClone1(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CClone1::OnInitDialog() {
  CDialog::OnInitDialog();
  MigrationProgress.abortRequested = 0;
  CenterWindow();
  DiskContext.ioErrorCount = 0;
  MigrationState.failedCount = 0;
  MigrationState.failedItems.Empty();
  ShowMigrationPageTexts(*this, fonts_, u"IDS_FileFolder", u"IDS_FileFolderFileH5", u"IDS_FileFolderFileH6",
                         {{1190, u"IDS_Confirm"}, {1099, u"IDS_Source1"}, {1100, u"IDS_Destination1"},
                          {1185, u"IDS_Progress"}, {1012, u"IDS_CloneFiles"}, {1102, u"IDS_ElapsedTime"},
                          {1104, u"IDS_RemainingTime1"}, {1034, u"IDS_Copied"}, {1036, u"IDS_Available"},
                          {kStart, u"IDS_StartFileMigrate"}, {kBack, u"IDS_Back"}, {IDCANCEL, u"IDS_Cancel"}});
  if (!MigrationState.destination.IsEmpty() && MigrationState.destination[0] != u'\\')
    SetDlgItemText(1037, FormatSectorCount(GetFreeSectors(MigrationState.destination[0])));
  MigrationProgress.copiedBytes = 0;
  SetDlgItemText(1035, FormatByteCount(0));

  MigrationState.totalBytes = 0;
  auto* list = static_cast<CListBox*>(GetDlgItem(kItems));
  for (int32_t i = 1; i <= MigrationState.itemCount && i < static_cast<int32_t>(MigrationState.items.size()); ++i) {
    const MigrationItem& item = MigrationState.items[static_cast<size_t>(i)];
    const uint64_t size = ItemSize(item);
    const CString line = LookupString(item.kind == 1 ? u"IDS_Folder" : u"IDS_File") + u":" + item.path + u" " +
                         FormatByteCount(static_cast<int64_t>(size));
    if (list) list->AddString(line);
    MigrationState.totalBytes += size;
  }
  if (auto* bar = static_cast<CProgressCtrl*>(GetDlgItem(kMigrationProgressBar)))
    bar->SetRange32(0, static_cast<int>(std::min<uint64_t>(MigrationState.totalBytes / 512, INT_MAX)));
  SetDlgItemText(1033, FormatByteCount(static_cast<int64_t>(MigrationState.totalBytes)));
  SetDlgItemText(1187, MigrationState.destination);
  return TRUE;
}

void CClone1::RunFileMigration() {
  // A destination inside a folder to be copied would copy the copy into
  // itself, over and over: refused before anything is copied.
  CString inside;
  for (int32_t i = 1; i <= MigrationState.itemCount && i < static_cast<int32_t>(MigrationState.items.size()); ++i) {
    const MigrationItem& item = MigrationState.items[static_cast<size_t>(i)];
    if (item.kind == 1 && IsSameOrInside(MigrationState.destination, item.path)) inside += u"\r\n" + item.path;
  }
  if (!inside.IsEmpty()) {
    MessageBoxW(m_hWnd, LookupString(u"IDS_MigrateDestInsideAsk") + u"\r\n" + MigrationState.destination + inside,
                ShellState.messageCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (CWnd* start = GetDlgItem(kStart)) start->EnableWindow(FALSE);
  if (CWnd* back = GetDlgItem(kBack)) back->EnableWindow(FALSE);
  MigrationProgress.page = m_hWnd;
  MigrationProgress.busy = 1;
  MigrationProgress.filesCopied = 0;
  MigrationProgress.activityDots.Empty();
  RunMigrationCopy();
  MigrationProgress.busy = 0;
  MigrationProgress.page = nullptr;
  MessageBoxW(m_hWnd, MigrationEndMessage(), ShellState.messageCaption,
              MB_OK | (CurrentMigrationOutcome() == MigrationOutcome::Completed ? MB_ICONINFORMATION : MB_ICONWARNING));
  EndDialog(IDCANCEL);
}

void CClone1::OnCancel() { OnMigrationCancel(); }

void CClone1::OnMigrationCancel() {
  if (MigrationProgress.abortRequested) {
    EndDialog(IDCANCEL);
    return;
  }
  // The migration's own questions: the clone's speak of a duplication and
  // of a destination disk left unusable, neither of which is so here.
  const CString question = LookupString(MigrationProgress.busy ? u"IDS_MigrateCancelRunning" : u"IDS_MigrateCancelAsk");
  if (MessageBoxW(m_hWnd, question, ShellState.messageCaption, MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) != IDYES)
    return;
  if (!MigrationProgress.busy) EndDialog(IDCANCEL);
  if (CWnd* start = GetDlgItem(kStart)) start->EnableWindow(TRUE);
  MigrationProgress.abortRequested = 1;
}

void CClone1::OnMigrationBack() {
  MigrationState.backRequested = 1;
  EndDialog(IDCANCEL);
}
