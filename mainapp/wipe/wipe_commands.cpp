#include "mainapp/wipe/wipe_commands.h"

#include "mainapp/clone/clone_settings.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/wipe/select_disk_page.h"

namespace {

void OpenDeletion(CDrummetDlg&) {
  CloneSettings.checkedRow = -1;
  CSelectDisk page;
  page.DoModal();
}

}  // namespace

void RegisterWipeCommands() {
  shell::RegisterMainCommand({shell::kCmdDelete, "secure deletion", &OpenDeletion});
  shell::RegisterMainCommand({shell::kCmdDeletePicture, "secure deletion (picture)", &OpenDeletion});
}
