#include "mainapp/wipe/disk_health_page.h"

#include <algorithm>
#include <initializer_list>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "disk/partition_list.h"
#include "disk/volume_space.h"
#include "mainapp/records/disk_list_images.h"
#include "platform/registry/registry.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"
#include "program_support/registry_readers.h"

int32_t HealthDiskNumber = -1;

BEGIN_MESSAGE_MAP(CDiskDiagnose, CBDialog)
  ON_BN_CLICKED(kClose, &CDiskDiagnose::OnCancel)
  ON_WM_CTLCOLOR()
  ON_NOTIFY(TVN_SELCHANGED, kTree, &CDiskDiagnose::OnSelChanged)
END_MESSAGE_MAP()

namespace {

constexpr DWORD_PTR kPartitionItem = 0xFFFF;
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kValueBlue = RGB(57, 158, 236);
// The labels before the values and the two list headings: black text, or the
// default, would be lost on the page's dark background, which the white and
// blue texts need; a pale blue keeps them apart from the values.
constexpr COLORREF kLabel = RGB(190, 208, 226);

}  // namespace

namespace {

CString TemperatureLine(int celsius, int fahrenheit) {
  const char16_t* verdict = fahrenheit < 150    ? u"IDS_HealthTempGood"
                            : fahrenheit <= 250 ? u"IDS_HealthTempAttention"
                                                : u"IDS_HealthTempBad";
  CString text;
  text.Format(u"%dC/%dF (", celsius, fahrenheit);
  return text + LookupString(verdict) + u")";
}

// "Label: value" in the page's language.
CString LabelledLine(LPCWSTR label, const CString& value) { return LookupString(label) + u": " + value; }

}  // namespace

CString TemperatureText(int fahrenheit) { return TemperatureLine((5 * fahrenheit - 160) / 9, fahrenheit); }

CString TemperatureTextOfRaw(uint64_t raw) {
  // The raw value's low byte is the temperature in degrees Celsius; the
  // bytes above it hold the lowest and highest seen on some drives.
  const int celsius = static_cast<int>(static_cast<int8_t>(raw & 0xFF));
  const int fahrenheit = celsius * 9 / 5 + 32;
  return TemperatureLine(celsius, fahrenheit);
}

CString PowerOnTimeText(uint64_t hours) {
  CString days, total;
  days.Format(u"%llu ", static_cast<unsigned long long>(hours / 24));
  total.Format(u" (%llu ", static_cast<unsigned long long>(hours));
  return days + LookupString(u"IDS_HealthDays") + total + LookupString(u"IDS_HealthHours") + u")";
}

CString UniqueDeviceId(const CString& enumValue) {
  CString part = enumValue.Mid(enumValue.ReverseFind(u'\\') + 1);
  const int amp = part.GetLength() > 1 ? part.Find(u'&', 1) : -1;
  if (amp < 0) return CString();
  if (amp >= 5) return part.Left(amp);
  part = part.Mid(amp + 1);
  const int next = part.GetLength() > 1 ? part.Find(u'&', 1) : -1;
  return next < 0 ? part : part.Left(next);
}

uint64_t SumUsedSpaceOfDisk(int32_t physical) {
  uint64_t used = 0;
  const int32_t volumes = std::min(DiskContext.letterVolumeCount, kMaxLetterVolumes);
  for (int32_t l = 1; l <= volumes; ++l) {
    const int index = LetterIndex(DiskContext.letterVolumes[l].letter);
    if (index >= 0 && DiskContext.letterToDisk[index] == physical + 1)
      used += GetVolumeUsedSectors(static_cast<WCHAR>(DiskContext.letterVolumes[l].letter));
  }
  return used;
}

CDiskDiagnose::CDiskDiagnose(CWnd* parent) : CBDialog(IDD, parent) {}

CTreeCtrl* CDiskDiagnose::Tree() { return dynamic_cast<CTreeCtrl*>(GetDlgItem(kTree)); }

BOOL CDiskDiagnose::OnInitDialog() {
  CBDialog::OnInitDialog();
  SetBackgroundBitmap(kBackground);  // tiled, the base's first mode
  for (size_t i = 0; i < std::size(kTransparentStatics); ++i) statics_[i].SubclassDlgItem(kTransparentStatics[i], this);
  ApplyPageHeader(*this, fonts_, u"IDS_DiskHealthH1");
  SetDlgItemText(kSubHeading, LookupString(u"IDS_DiskHealthH2"));
  SetDlgItemText(kClose, LookupString(u"IDS_Cancel"));
  // The headings and labels the script holds in English.
  SetDlgItemText(kListHeading, CString(u"   ") + LookupString(u"IDS_HealthDiskList"));
  SetDlgItemText(kDetailHeading, LookupString(u"IDS_HealthDetails"));
  SetDlgItemText(kTemperatureLabel, LookupString(u"IDS_HealthTemperature"));
  SetDlgItemText(kReliabilityLabel, LookupString(u"IDS_HealthReliability"));
  SetDlgItemText(kPerformanceLabel, LookupString(u"IDS_HealthPerformance"));
  // No verdict before a disk is chosen. The transparent statics keep what
  // lies under them when they first paint and paint it back under every
  // new text: a template text there would show through each verdict.
  SetDlgItemText(kVerdict, CString());
  SetDlgItemText(kVerdictNote, CString());
  valueFont_.CreateFont(13, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  for (int id : {kTemperature, kReliability, kPerformance})
    if (CWnd* w = GetDlgItem(id)) w->SetFont(&valueFont_, TRUE);
  HealthDiskNumber = -1;
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  MapLettersToDisks();
  ListLetterVolumes();
  if (CTreeCtrl* tree = Tree()) {
    tree->SetImageList(CreateDiskListImages(), TVSIL_NORMAL);
    for (int32_t n = 1; n <= std::min(DiskContext.diskCount, kMaxListedDisks); ++n) {
      const int32_t physical = DiskContext.listedToPhysical[n];
      CString model = DiskContext.listedModel[n];
      if (physical < 0 || model.Trim().IsEmpty()) continue;
      CString text = LookupString(u"IDS_Drive") + IntToText(physical) + u" " + DiskContext.listedBusName[n] + u" " +
                     FormatSectorCount(DiskContext.listedDiskSize[n]);
      HTREEITEM disk = tree->InsertItem(text, kImageDiskRow, kImageDiskRow);
      tree->SetItemData(disk, static_cast<DWORD_PTR>(physical));
      const int32_t count =
          DiskContext.listedDiskSize[n] != 0 ? ReadPartitionList(sharedPartitionBuffer, physical) : 0;
      const int32_t m = SectorMultiplierOf(physical) > 0 ? SectorMultiplierOf(physical) : 1;
      for (int32_t k = 0; k < std::min(count, kMaxPartitions); ++k) {
        const PartitionEntry& p = sharedPartitionBuffer[k];
        for (int32_t l = 1; l <= std::min(DiskContext.letterVolumeCount, kMaxLetterVolumes); ++l) {
          const LetterVolume& v = DiskContext.letterVolumes[l];
          const int index = LetterIndex(v.letter);
          if (index < 0 || v.start * static_cast<uint64_t>(m) != p.start ||
              DiskContext.letterToDisk[index] != physical + 1)
            continue;
          CString child;
          child += static_cast<WCHAR>(v.letter);
          child += u":  " + PartitionTypeName(p.type) + u"  " + FormatSectorCount(p.length);
          HTREEITEM item = tree->InsertItem(child, kImagePartitionRow, kImagePartitionRow, disk);
          tree->SetItemData(item, kPartitionItem);
        }
      }
      tree->Expand(disk, TVE_EXPAND);
    }
  }
  if (auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kList))) {
    list->DeleteAllItems();
    list->SetExtendedStyle(LVS_EX_GRIDLINES);
    list->InsertColumn(0, LookupString(u"IDS_HealthProperty"), LVCFMT_LEFT, 140);
    list->InsertColumn(1, LookupString(u"IDS_HealthValue"), LVCFMT_LEFT, 160);
    list->InsertColumn(2, LookupString(u"IDS_HealthRange"), LVCFMT_LEFT, 120);
    list->InsertColumn(3, LookupString(u"IDS_HealthRemarks"), LVCFMT_LEFT, 90);
  }
  return TRUE;
}

void CDiskDiagnose::OnSelChanged(NMHDR*, LRESULT* result) {
  *result = 0;
  CTreeCtrl* tree = Tree();
  HTREEITEM item = tree ? tree->GetSelectedItem() : nullptr;
  if (!item || tree->GetItemData(item) == kPartitionItem) return;
  HealthDiskNumber = static_cast<int32_t>(tree->GetItemData(item));
  CString name = tree->GetItemText(item);
  const int blank = name.Find(u' ', LookupString(u"IDS_Drive").GetLength());
  SetDlgItemText(kDiskName, blank > 0 ? name.Left(blank) : name);
  FillHealthDetails();
}

void CDiskDiagnose::FillHealthDetails() {
  const int32_t d = HealthDiskNumber;
  const ListedDiskIndex listed = ListedIndexOfPhysical(PhysicalDiskNumber{d});
  auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kList));
  if (!list || d < 0 || listed.is_none()) return;
  list->DeleteAllItems();
  const int r = d < kSmartDriveCount ? reader_.ReadDrive(static_cast<BYTE>(d)) : 0;
  const SmartDriveRecord& record = reader_.GetDriveRecord(d);
  // An attribute the drive does not report shows nothing.
  auto current = [&](int id) {
    const SmartAttribute* a = r > 0 ? reader_.FindAttribute(d, id) : nullptr;
    return a ? IntToText(a->current) : CString();
  };
  auto worst = [&](int id) {
    const SmartAttribute* a = r > 0 ? reader_.FindAttribute(d, id) : nullptr;
    return a ? IntToText(a->worst) : CString();
  };
  // Power-on time and temperature are the drive's raw counts: the normalised
  // values are the maker's own scales, not hours or degrees.
  const SmartAttribute* powerOn = r > 0 ? reader_.FindAttribute(d, kSmartPowerOnHours) : nullptr;
  const CString days = powerOn ? IntToText(static_cast<int32_t>(std::min<uint64_t>(powerOn->rawFull / 24, INT32_MAX)))
                               : CString();
  const uint64_t size = ListedSize(listed);
  const uint64_t used = SumUsedSpaceOfDisk(d);
  struct Row {
    LPCWSTR property;  // its key
    CString value, range;
  };
  const Row rows[] = {
      {u"IDS_HealthSmartEnabled", LookupString(r > 0 ? u"IDS_HealthDiagEnabled" : u"IDS_HealthDiagNotEnabled"), {}},
      {u"IDS_HealthSmartVersion", r > 0 ? SmartVersionText : CString(), {}},
      {u"IDS_HealthSerial", r > 0 ? record.serialText : CString(), {}},
      {u"IDS_HealthCapacity", Int64ToText(static_cast<int64_t>(size)), {}},
      {u"IDS_HealthUsedSpace", Int64ToText(static_cast<int64_t>(used)), {}},
      {u"IDS_HealthFreeSpace", Int64ToText(static_cast<int64_t>(size > used ? size - used : 0)), {}},
      {u"IDS_HealthRunningDays", days, worst(kSmartPowerOnHours)},
      {u"IDS_HealthReliability", current(kSmartOfflineUncorrectable), worst(kSmartOfflineUncorrectable)},
      {u"IDS_HealthPerformance", current(kSmartThroughput), worst(kSmartThroughput)},
      {u"IDS_HealthError", current(kSmartReadErrorRate), worst(kSmartReadErrorRate)},
  };
  for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
    list->InsertItem(i, LookupString(rows[i].property));
    list->SetItemText(i, 1, rows[i].value);
    list->SetItemText(i, 2, rows[i].range);
  }
  CString enumKey;
  enumKey.Format(u"%d", d);
  SetDlgItemText(kTypeLine, LabelledLine(u"IDS_HealthType", ListedBusName(listed)));
  SetDlgItemText(kModelLine, LabelledLine(u"IDS_HealthModel", ListedModel(listed)));
  SetDlgItemText(kUniqueIdLine, LabelledLine(u"IDS_HealthUdid", UniqueDeviceId(ReadRegistryString(
                                                          HKEY_LOCAL_MACHINE, u"SYSTEM\\ControlSet001\\Services\\disk\\Enum", enumKey))));
  SetDlgItemText(kCapacityLine, LabelledLine(u"IDS_HealthCapacity", FormatSectorCount(size)));
  SetDlgItemText(kUsedSpaceLine, LabelledLine(u"IDS_HealthUsedSpace", FormatSectorCount(used)));
  SetDlgItemText(kPowerOnLine,
                 LabelledLine(u"IDS_HealthPowerOnTime", powerOn ? PowerOnTimeText(powerOn->rawFull) : CString(u"-")));
  const SmartAttribute* temperature = r > 0 ? reader_.FindAttribute(d, kSmartTemperature) : nullptr;
  SetDlgItemText(kTemperature, temperature ? TemperatureTextOfRaw(temperature->rawFull) : CString(u"-"));
  // The status lines follow the drive: an attribute at or below its threshold
  // is a failing one.
  bool failing = false;
  for (int i = 0; r > 0 && i < kSmartAttributeSlots; ++i) {
    const SmartAttribute& a = record.attributes[i];
    if (a.id != 0 && a.threshold > 0 && a.current <= a.threshold) failing = true;
  }
  // The verdict and its note, in the page's language.
  struct Verdict {
    LPCWSTR word, note;
  };
  const Verdict verdict = r <= 0    ? Verdict{u"IDS_HealthUnknown", u"IDS_HealthUnknownNote"}
                          : failing ? Verdict{u"IDS_HealthAttention", u"IDS_HealthAttentionNote"}
                                    : Verdict{u"IDS_HealthGood", u"IDS_HealthGoodNote"};
  SetDlgItemText(kVerdict, LookupString(verdict.word));
  SetDlgItemText(kVerdictNote, LookupString(verdict.note));
  auto orDash = [](const CString& value) { return value.IsEmpty() ? CString(u"-") : value; };
  SetDlgItemText(kReliability, orDash(current(kSmartOfflineUncorrectable)));
  SetDlgItemText(kPerformance, orDash(current(kSmartThroughput)));
}

// The texts over the background: white name and identity lines, pale blue
// labels and list headings, blue values, all on a transparent background
// with the null brush; the list's heading keeps a white background colour.
HBRUSH CDiskDiagnose::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  HBRUSH brush = CBDialog::OnCtlColor(dc, wnd, ctl_color);
  const int id = wnd ? wnd->GetDlgCtrlID() : 0;
  auto among = [id](std::initializer_list<int> ids) { return std::find(ids.begin(), ids.end(), id) != ids.end(); };
  if (among({kDiskName, kTypeLine, kModelLine, kUniqueIdLine, kPowerOnLine, kCapacityLine, kUsedSpaceLine, kVerdict,
             kVerdictNote}))
    dc->SetTextColor(kWhite);
  else if (among({kTemperatureLabel, kReliabilityLabel, kPerformanceLabel, kDetailHeading}))
    dc->SetTextColor(kLabel);
  else if (among({kTemperature, kReliability, kPerformance}))
    dc->SetTextColor(kValueBlue);
  else if (id == kListHeading) {
    dc->SetTextColor(kLabel);
    dc->SetBkColor(kWhite);
  } else {
    return brush;
  }
  dc->SetBkMode(TRANSPARENT);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}
