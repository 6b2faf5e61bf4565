// The single-page dialogs of the partition manager: CCreatePart3 chooses a
// new, larger length for a partition followed by free space (dialog 235),
// CCreatePart5 the file system and quick format of a partition (237), and
// CCreatePart6 shows the properties of the disk and of the item under the
// cursor with a free/used pie (238). FormatSelectedPartition turns the chosen
// file system and the partition's size into a request for the format page.
#pragma once

#include <cstdint>

#include "mainapp/partition/create_wizard.h"
#include "mainapp/partition/page_header.h"
#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"

class CCreatePart3 : public CDialog {
 public:
  static constexpr UINT IDD = 235;
  explicit CCreatePart3(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnResize();
  void OnApply();
  void OnSizeEdited();
  void OnSliderReleased(NMHDR* header, LRESULT* result);

 private:
  PartitionPageHeader header_;
  SizeChooser size_{*this, 1059, 1136, 1133};
  DECLARE_MESSAGE_MAP()
};

class CCreatePart5 : public CDialog {
 public:
  static constexpr UINT IDD = 237;
  explicit CCreatePart5(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnFormat();
  void OnFileSystemChanged();

 private:
  PartitionPageHeader header_;
  DECLARE_MESSAGE_MAP()
};

class CCreatePart6 : public CDialog {
 public:
  static constexpr UINT IDD = 238;
  explicit CCreatePart6(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  // The pie's angle in radians: 6.28 x free clusters / total clusters; 0 without figures.
  double PieAngle() const;
  // The pie's area (the group 1142) in client coordinates.
  const CRect& PieArea() const { return area_; }

 protected:
  void OnPaint();
  void OnRedrawPie();

 private:
  PartitionPageHeader header_;
  CRect area_;
  DECLARE_MESSAGE_MAP()
};

// Free-space figures of the volume CCreatePart6 shows last (GetDiskFreeSpaceW).
struct PartitionPropertiesRecord {
  int32_t letter = 0;
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
};
extern PartitionPropertiesRecord PartitionProperties;

// Formats the partition of `letter` with fileSystemName and formatOption:
// FAT below 4096 MB, FAT32 up to 32767 MB, NTFS from 32768 MB on, whatever
// was chosen (the size decides silently). Reports its own failures; false in
// every case.
bool FormatSelectedPartition(WCHAR letter, CWnd* owner);
// Runs the format page; the worker's handle value it left, 0 when none was started.
HANDLE RunFormatDialog();
