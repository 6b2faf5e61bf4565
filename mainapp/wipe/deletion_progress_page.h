// The third page of the secure deletion (dialog 151): shows the target and
// the method, and on Start Deletion (after a last warning) runs the whole
// deletion inside its handler: clears a whole disk's layout, locks a
// partition's volume, runs the overwrite engine, reads the target's first
// sector for the report and opens the summary page. Cancel while running
// asks and then stops the engine at the next chunk.
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/dialog.h"

class CDeletionProgress : public CDialog {
 public:
  static constexpr UINT IDD = 151;
  static constexpr int kStart = 1038;
  static constexpr int kBack = 4;

  explicit CDeletionProgress(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override;
  void OnBack();
  void StartDeletion();

 private:
  PageHeaderFonts fonts_;
  DECLARE_MESSAGE_MAP()
};
