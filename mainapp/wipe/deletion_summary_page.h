// The last page of the secure deletion (dialog 152): what was deleted, how,
// with which result and error count, and a dump of the target's first sector
// after the deletion; it builds the deletion report, which Save Report writes
// as a UTF-16LE text file (byte order mark, CR LF line ends).
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/core/cstring.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

// The report of the last summary, rebuilt from empty whenever one opens.
extern CString DeleteReportText;

// Builds DeleteReportText from the run's state (17 lines ending in CR LF).
void BuildDeletionReport();
// Writes FF FE and DeleteReportText to `path` (created anew); false when the
// file cannot be created or written.
bool SaveDeletionReport(const CString& path);

class CDeleteProgressSummary : public CDialog {
 public:
  static constexpr UINT IDD = 152;
  static constexpr int kSave = 1067;
  static constexpr int kView = 1027;
  static constexpr int kFinish = 1026;
  static constexpr int kSnapshot = 1050;

  explicit CDeleteProgressSummary(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnSave();
  void OnView();
  void OnFinish();

 private:
  PageHeaderFonts fonts_;
  CFont underline_;
  CFont dump_;
  DECLARE_MESSAGE_MAP()
};
