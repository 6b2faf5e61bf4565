// The create-partition wizard: size and kind (CCreatePart4, dialog 236),
// file system and format option (CCreatePart41, 242), and the summary with
// the Create button (CcreatePart42, 243). Each page's Next or Back ends it and
// runs the neighbouring page, so the first page's DoModal returns when the
// whole chain has ended. The wizard changes no disk: it leaves its choices in
// PartitionManagerState, with createConfirmed set by Create.
//
// The size pages (this wizard's first page and the resize page) share the
// slider, the size edit and Apply: SizeChooser.
#pragma once

#include <cstdint>

#include "mainapp/partition/page_header.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

// Shows the new length `sectors` of the item under the cursor on the
// manager's bar: the item takes the length, later partitions move by the
// difference, and the free space behind gives it up (or takes it). Also sets
// newSizeSectors. The map is rebuilt from the disk when the command ends.
void PreviewNewLength(int64_t sectors);

// The slider, size edit (MB) and Apply of a size page; bounds minSectors to
// maxSectors. Slider positions are sectors, or MB when the bound does not
// fit a slider position.
class SizeChooser {
 public:
  SizeChooser(CDialog& page, int slider, int edit, int apply) : page_(page), slider_(slider), edit_(edit), apply_(apply) {}
  // Range, bound texts (into the two labels) and the starting size in sectors.
  void Set(int minLabel, int maxLabel, int64_t startSectors);
  // Apply: the typed MB within the bounds, else the crossed bound.
  void TakeTypedSize();
  // Slider released: the position through the bar preview into the edit.
  void TakeSliderPosition();
  void EnableApply(bool on);

 private:
  void ShowEdit();
  int64_t scale() const;
  CDialog& page_;
  int slider_, edit_, apply_;
};

class CCreatePart4 : public CDialog {
 public:
  static constexpr UINT IDD = 236;
  explicit CCreatePart4(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnNext();
  void OnApply();
  void OnSizeEdited();
  void OnSliderReleased(NMHDR* header, LRESULT* result);
  void OnKindClicked();

 private:
  PartitionPageHeader header_;
  SizeChooser size_{*this, 1060, 1136, 1133};
  DECLARE_MESSAGE_MAP()
};

class CCreatePart41 : public CDialog {
 public:
  static constexpr UINT IDD = 242;
  explicit CCreatePart41(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnNext();
  void OnBack();
  void OnFileSystemChanged();
  void OnFormatClicked();

 private:
  void RefreshFileSystems();
  PartitionPageHeader header_;
  DECLARE_MESSAGE_MAP()
};

class CcreatePart42 : public CDialog {
 public:
  static constexpr UINT IDD = 243;
  explicit CcreatePart42(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnCreate();
  void OnBack();

 private:
  PartitionPageHeader header_;
  DECLARE_MESSAGE_MAP()
};

// The fewest clusters a FAT32 volume has; fewer make it FAT16.
constexpr uint32_t kFat32MinimumClusters = 65525;
// Whether a partition of `sizeMb` on a disk of `sectorBytes` sectors holds
// a FAT32 volume: at least 65525 clusters of one sector (about 33 MB on
// 512-byte sectors, 257 MB on 4096-byte ones).
bool Fat32Fits(int64_t sizeMb, uint32_t sectorBytes);

// The file systems offered for a size in MB on the selected disk: "NTFS";
// "FAT32" below 32768 MB when it fits (Fat32Fits); "FAT" below 4096 MB. Fills
// the combo box and selects the first entry that begins with `name` (not
// case-sensitive; an empty name selects "NTFS").
void FillFileSystemList(CComboBox& list, int64_t sizeMb, const CString& name);
