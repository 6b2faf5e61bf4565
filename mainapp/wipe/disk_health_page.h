// The disk health page (dialog 219): a tree of the disks and their lettered
// partitions; selecting a disk reads its S.M.A.R.T. data and shows a
// property list, identity lines and the temperature, reliability and
// performance values, every text in the page's language. A disk item
// carries its physical number; the shown bus, model and size are those of
// the same physical disk. The page tiles its own dark picture as its
// background; its name, identity and value texts are transparent statics
// over it.
#pragma once

#include <cstdint>
#include <iterator>

#include "disk/smart_reader.h"
#include "mainapp/page_parts/page_parts.h"
#include "mainapp/shell/art_ids.h"
#include "mainapp/shell/bitmap_dialog.h"
#include "mainapp/shell/transparent_static.h"
#include "platform/core/cstring.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"

// The physical number of the disk shown, -1 none.
extern int32_t HealthDiskNumber;

// "C/F (verdict)" of a temperature in degrees Fahrenheit: C = (5F - 160) / 9
// truncated; the verdict in the page's language: "Good" below 150, "Need
// Attention" from 150 to 250, "Bad" above.
CString TemperatureText(int fahrenheit);
// The same line from the raw value of attribute 194, whose low byte is the
// temperature in degrees Celsius: 42 gives "42C/107F (Good)".
CString TemperatureTextOfRaw(uint64_t raw);
// "D days (H hours)" from the raw power-on hours of attribute 9, the words
// in the page's language.
CString PowerOnTimeText(uint64_t hours);
// The unique device id cut from a disk enumeration value: the part after the
// last backslash; if its first "&" (from index 1) lies below index 5, the
// text between it and the next "&", else the text before it; empty when
// there is no "&".
CString UniqueDeviceId(const CString& enumValue);
// Used 512-byte sectors of the lettered volumes on a physical disk.
uint64_t SumUsedSpaceOfDisk(int32_t physical);

class CDiskDiagnose : public CBDialog {
 public:
  static constexpr UINT IDD = 219;
  static constexpr UINT kBackground = shell::art::kHealthTile;
  static constexpr int kSubHeading = 1004;
  // The selected disk's name and identity lines.
  static constexpr int kDiskName = 1174;
  static constexpr int kTypeLine = 1176;
  static constexpr int kModelLine = 1177;
  static constexpr int kUniqueIdLine = 1178;
  static constexpr int kPowerOnLine = 1179;
  static constexpr int kCapacityLine = 1180;
  static constexpr int kUsedSpaceLine = 1181;
  // The health verdict and its note.
  static constexpr int kVerdict = 1182;
  static constexpr int kVerdictNote = 1183;
  // The three headline values, each after its label.
  static constexpr int kTemperatureLabel = 1184;
  static constexpr int kTemperature = 1185;
  static constexpr int kReliabilityLabel = 1186;
  static constexpr int kReliability = 1187;
  static constexpr int kPerformanceLabel = 1188;
  static constexpr int kPerformance = 1189;
  // The headings over the tree and over the property list.
  static constexpr int kListHeading = 1193;
  static constexpr int kDetailHeading = 1197;
  // The statics drawn over the background without a box of their own.
  static constexpr int kTransparentStatics[] = {kDiskName,     kTypeLine,      kModelLine,   kUniqueIdLine,
                                                kCapacityLine, kUsedSpaceLine, kPowerOnLine, kVerdict,
                                                kVerdictNote,  kTemperature,   kReliability, kPerformance};
  static constexpr int kTree = 1172;
  static constexpr int kList = 1027;
  static constexpr int kClose = 1148;

  explicit CDiskDiagnose(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
  void OnSelChanged(NMHDR* header, LRESULT* result);
  void FillHealthDetails();
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color);

 private:
  CTreeCtrl* Tree();
  PageHeaderFonts fonts_;
  CFont valueFont_;
  SmartReader reader_;
  CTransparentStatic2 statics_[std::size(kTransparentStatics)];
  DECLARE_MESSAGE_MAP()
};
