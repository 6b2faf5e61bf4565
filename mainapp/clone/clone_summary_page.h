// The clone summary page CMirrorProgressSummary (dialog 138): what was
// copied, how long it took and how it went; its one visible button gives
// the destination the source's disk signature and leads to the shut-down
// prompt, so that the machine can boot from the new disk.
#pragma once

#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

// Set by the destination page when it prepared an unformatted destination.
extern uint8_t rawDestinationPrepared;

class CMirrorProgressSummary : public CDialog {
 public:
  static constexpr UINT IDD = 138;
  explicit CMirrorProgressSummary(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;

  // The line that counts what the copy left out, its button, which lists
  // them, and the line that says the offline repair could not run.
  static constexpr int kNotCopiedLine = 1036;
  static constexpr int kNotCopiedList = 1037;
  static constexpr int kRepairLine = 1038;

  void OnSummaryRestart();
  void OnSummaryFinish();
  void OnSummaryHelp();
  void OnNotCopiedList();

 protected:
  void OnFocusSummary();

  CFont titleFont_;
  CFont textFont_;

  DECLARE_MESSAGE_MAP()
};
