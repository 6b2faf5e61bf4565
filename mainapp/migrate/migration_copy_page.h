// CClone1: the copy page of the file and folder migration (dialog 248). It
// lists the chosen items with their sizes; Start copies them into the
// destination (RunMigrationCopy) and ends with a message that tells how the
// run went and which files could not be copied. Back returns to the source
// page with its ticks; Cancel asks first and stops a running copy.
#pragma once

#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/dialog.h"

class CClone1 : public CDialog {
 public:
  static constexpr UINT IDD = 248;
  static constexpr int kStart = 1011;
  static constexpr int kBack = 4;
  static constexpr int kItems = 1027;

  explicit CClone1(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnCancel() override;
  void RunFileMigration();
  void OnMigrationCancel();
  void OnMigrationBack();

 private:
  PageHeaderFonts fonts_;
  DECLARE_MESSAGE_MAP()
};

// The end message of a run: the outcome's text, then the files that could
// not be copied.
CString MigrationEndMessage();
