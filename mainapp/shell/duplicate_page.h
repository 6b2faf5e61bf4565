// The last quick duplicate page (dialog 245): shows the source
// (DiskContext.systemDisk) and the destination (DiskContext.destinationDisk),
// both listed indexes, three lines each. OK sets the clone settings for a
// whole-disk, automatically sized, unverified basic duplication of the
// source onto the destination, with the source snapshot and the selection
// records of a whole-disk choice, closes the page and runs the clone page
// through RunClonePage. OK stays disabled unless both are listed disks and
// differ.
#pragma once

#include "disk/disk_numbers.h"
#include "mainapp/page_parts/page_parts.h"
#include "platform/ui/dialog.h"

class CDuplicate : public CDialog {
 public:
  static constexpr UINT IDD = 245;
  static constexpr int kSourceList = 1169;
  static constexpr int kDestinationList = 1170;
  static constexpr int kDescription = 1175;
  static constexpr int kSourceHeading = 1176;
  static constexpr int kDestinationHeading = 1177;
  static constexpr int kCancel = 4;

  explicit CDuplicate(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancelButton();

 private:
  void ListDisk(int id, ListedDiskIndex listed);
  PageHeaderFonts fonts_;
  DECLARE_MESSAGE_MAP()
};
