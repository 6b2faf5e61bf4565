// The clone page CClone (dialog 191, "Clone"): the last page of the clone
// wizard. It shows what is about to happen (duplication type, sizing, the
// two options, source and destination as text and as two drawn disk bars);
// its Start runs the whole clone inside the page (RunClone, clone_run.cpp),
// which shows the status line, the progress bar, the copied amount and the
// elapsed time, then ends the page and opens the summary page.
#pragma once

#include <cstdint>

#include "disk/disk_context.h"
#include "platform/core/cstring.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

// The page a wizard's Back goes to from the clone page (the options page);
// the wizard sets it. Null: Back only ends the page.
using OptionsPageRunner = void (*)();
inline OptionsPageRunner RunOptionsPageHook = nullptr;

// The bad-sector pre-scan of the clone's destination (the whole destination
// disk, or the destination partition in partition mode), run in the scan
// page's automatic mode. False when there is no destination to scan.
bool RunPreCloneScan();

class CClone : public CDialog {
 public:
  static constexpr UINT IDD = 191;
  static constexpr UINT_PTR kAutoStartTimer = 1224;

  explicit CClone(CWnd* parent = nullptr);
  ~CClone() override;
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  // Makes the page's bar the shared one the copy stages move (the pre-scan
  // page borrows the shared bar while it runs).
  void TakeProgressBar();

  // The Start button: the whole clone (clone_run.cpp).
  void RunClone();
  // The copy step of the single-partition clone: drive texts "X:" and "Y:".
  void CopySinglePartition(const CString& sourceDrive, const CString& destinationDrive);

 protected:
  // How every started run ends, finished or stopped: the run is over, the
  // page lets go of the copy's progress and of the source's shadow copy,
  // closes, and the summary page follows.
  void EndRun();
  void OnPaint();
  void OnBack();
  void OnCloneCancel();
  void OnTimer(UINT_PTR id);
  void OnFocusSummary();
  void OnCancel() override;

  // Draws one disk bar into `dc` over `area` from `items`.
  void DrawBar(CDC& dc, const RECT& area, const DiskMapItem* items, int32_t count, bool destination);

  CFont titleFont_;
  CFont textFont_;
  CProgressCtrl progress_;
  RECT sourceBar_{};
  RECT destinationBar_{};
  DiskMapItem sourceMap_[kMaxDiskMapItems] = {};
  DiskMapItem destinationMap_[kMaxDiskMapItems] = {};
  int32_t sourceCount_ = 0;
  int32_t destinationCount_ = 0;

  DECLARE_MESSAGE_MAP()
};

// Runs the clone page modally over `parent` (the shell's RunClonePage hook).
INT_PTR RunClonePageModal(CWnd* parent);
