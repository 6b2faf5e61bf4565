#include "mainapp/wipe/wipe_commands.h"

#include "mainapp/records/clone_settings.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/wipe/disk_health_page.h"
#include "mainapp/wipe/select_disk_page.h"
#include "mainapp/wipe/view_disk_partition_page.h"

namespace {

void OpenDeletion(CDrummetDlg&) {
  CloneSettings.checkedRow = -1;
  CSelectDisk page;
  page.DoModal();
}

// The Delete picture also forgets the viewer page's tick.
void OpenDeletionFromPicture(CDrummetDlg& dialog) {
  ViewerCheckedRow = -1;
  OpenDeletion(dialog);
}

void OpenDiskViewer(CDrummetDlg&) {
  CloneSettings.checkedRow = -1;
  ViewerCheckedRow = -1;
  CViewDiskPartition page;
  page.DoModal();
}

// A new main dialog starts with no row ticked on the viewer page.
void ForgetViewerTick(CDrummetDlg&) { ViewerCheckedRow = -1; }

void OpenDiskHealth(CDrummetDlg&) {
  CDiskDiagnose page;
  page.DoModal();
}

}  // namespace

void RegisterWipeCommands() {
  shell::RegisterMainCommand({shell::kCmdDelete, "secure deletion", &OpenDeletion});
  shell::RegisterMainCommand({shell::kCmdDeletePicture, "secure deletion (picture)", &OpenDeletionFromPicture});
  shell::RegisterMainCommand({shell::kCmdViewer, "disk and partition viewer", &OpenDiskViewer});
  shell::RegisterMainCommand({shell::kCmdDiagnose, "disk health", &OpenDiskHealth});
  shell::RegisterMainCommand({shell::kCmdMainDialogStart, "viewer tick forgotten", &ForgetViewerTick});
}
