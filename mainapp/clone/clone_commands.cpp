#include "mainapp/clone/clone_commands.h"

#include "mainapp/clone/clone_page.h"
#include "mainapp/clone/destination_page.h"
#include "mainapp/clone/layout_writer.h"
#include "mainapp/clone/one_click_copy.h"
#include "mainapp/clone/options_page.h"
#include "mainapp/clone/plan_application.h"
#include "mainapp/clone/source_page.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/shell/clone_page_hook.h"
#include "mainapp/shell/duplicate_destination_page.h"
#include "mainapp/shell/duplicate_page.h"
#include "mainapp/shell/duplicate_source_page.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/shell/main_dialog.h"
#include "mainapp/wipe/sector_viewer_page.h"
#include "mainapp/wipe/smart_attributes_dialog.h"

namespace {

// The quick duplicate chooses a basic whole-disk copy with automatic sizing
// but makes no plan; the clone page needs one, so when none is there the
// planner lays out the destination first (and says so when it is too small).
INT_PTR RunClonePageWithPlan(CWnd* parent) {
  if (CloneSettings.basicDuplication && !CloneSettings.partitionMode && PlannedPartitionCount() == 0 &&
      !ApplyDestinationPlan())
    return IDCANCEL;
  return RunClonePageModal(parent);
}

void RunOneClickCopy(CDrummetDlg& dialog) { OnOneClickCopy(&dialog); }

// Duplicate: the clone wizard from its source page.
void RunWizard(CDrummetDlg&) { RunCloneWizard(nullptr); }

INT_PTR RunSectorViewer(CWnd* parent) {
  CViewDiskData page(parent);
  return page.DoModal();
}

INT_PTR RunDiskHealth(CWnd* parent) {
  CDiag page(parent);
  return page.DoModal();
}

// The clone page's Back: the options page again.
void BackToOptions() { RunOptionsPage(nullptr); }

}  // namespace

void RegisterCloneCommands() {
  RunClonePage = &RunClonePageWithPlan;
  RunDestinationPage = &RunDestinationPageModal;
  RunDiskViewerPage = &RunSectorViewer;
  RunDiagnosticsPage = &RunDiskHealth;
  RunOptionsPageHook = &BackToOptions;
  if (!shell::FindMainCommand(shell::kCmdDuplicate))
    shell::RegisterMainCommand({shell::kCmdDuplicate, "Duplicate: the clone wizard", &RunWizard});
  if (!shell::FindMainCommand(shell::kCmdOneClick))
    shell::RegisterMainCommand({shell::kCmdOneClick, "One Click Copy", &RunOneClickCopy});
}

void RunQuickDuplicate() {
  CDuplicateSrc source;
  if (source.DoModal() != IDOK) return;
  CDuplicateDest destination;
  if (destination.DoModal() != IDOK) return;
  CDuplicate duplicate;
  duplicate.DoModal();
}
