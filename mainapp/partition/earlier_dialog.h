// The earlier, single-page form of the partition manager (dialog 213,
// "Create Partition"): the same disk list and bar, and an inline panel in
// which a partition is resized, created or formatted, or a logical drive
// created, instead of the separate pages. Nothing in the program opens it.
#pragma once

#include "disk/disk_context.h"
#include "mainapp/partition/partition_manager_dialog.h"
#include "mainapp/partition/create_wizard.h"

class CCreatePart : public CCreatePart1 {
 public:
  static constexpr UINT IDD = 213;
  // Inline panel modes; -1 while the panel is closed.
  static constexpr int kPanelResize = 0;
  static constexpr int kPanelCreate = 1;
  static constexpr int kPanelFormat = 2;
  static constexpr int kPanelLogical = 3;

  explicit CCreatePart(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnNewPartition() override;
  void OnNewLogicalDrive() override;
  void OnDeletePartition() override;
  void OnResizePartition() override;
  void OnFormatPartition() override;
  void OnProperties() override;
  int panelMode() const { return mode_; }

 protected:
  void OnApply();
  void OnReset();
  void OnResizeNow();
  void OnCreateNow();
  void OnSizeEdited();
  void OnSliderReleased(NMHDR* header, LRESULT* result);
  void OnKindClicked();

 private:
  void OpenPanel(int mode);
  void ClosePanel();
  CString ChosenFileSystem();
  int mode_ = -1;
  DiskMapItem panel_[kMaxDiskMapItems] = {};
  SizeChooser size_{*this, 1059, 1136, 1133};
  DECLARE_MESSAGE_MAP()
};
