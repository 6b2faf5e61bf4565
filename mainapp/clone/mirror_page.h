// The mirror progress page CMirrorProgress (dialog 137): a confirmation and
// progress page that copies one partition onto another sector for sector in
// blocks of 1008 units, shows the copied amount, the elapsed and remaining
// time, then fixes the destination's table entry, makes it active when the
// source was, and opens the summary page. It copies the partitions chosen on
// the clone pages (the same range as the clone's partition copy, see
// partition_range_copy.h).
#pragma once

#include <cstdint>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "resources/menu_commands.h"

class CMirrorProgress : public CDialog {
 public:
  static constexpr UINT IDD = 137;
  static constexpr UINT kPageIcon = shell::kCmdDuplicate;  // its command's menu icon
  static constexpr int kBlockUnits = 1008;
  static constexpr int kStart = 1011;
  static constexpr int kBack = 4;
  static constexpr int kProgressBar = 1025;
  static constexpr int kCopyingLabel = 1023;
  static constexpr int kCopied = 1024;
  static constexpr int kRemaining = 1021;
  static constexpr int kElapsed = 1022;
  static constexpr int kTotal = 1033;

  explicit CMirrorProgress(CWnd* parent = nullptr);
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnStart();
  void OnMirrorCancel();
  void OnBack();
  void OnFocusSummary();

  // The block copy: true when it ran to its end (also after a cancel, which
  // leaves cloneAborted set); false when nothing could be copied.
  bool CopyBlocks();

 private:
  CProgressCtrl progress_;
  HICON icon_ = nullptr;
  CFont title_font_;
  CFont text_font_;
  uint64_t total_ = 0;
  DECLARE_MESSAGE_MAP()
};
