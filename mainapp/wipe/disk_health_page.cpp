#include "mainapp/wipe/disk_health_page.h"

#include <algorithm>

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
constexpr int kListHeading = 1193;
constexpr int kDetailHeading = 1197;

}  // namespace

namespace {

CString TemperatureLine(int celsius, int fahrenheit) {
  const char16_t* verdict = fahrenheit < 150 ? u"Good" : fahrenheit <= 250 ? u"Need Attention" : u"Bad";
  CString text;
  text.Format(u"%dC/%dF (%s)", celsius, fahrenheit, verdict);
  return text;
}

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
  CString text;
  text.Format(u"%llu days (%llu hours)", static_cast<unsigned long long>(hours / 24),
              static_cast<unsigned long long>(hours));
  return text;
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
  SetDlgItemText(1004, LookupString(u"IDS_DiskHealthH2"));
  SetDlgItemText(kClose, LookupString(u"IDS_Cancel"));
  // No verdict before a disk is chosen. The transparent statics keep what
  // lies under them when they first paint and paint it back under every
  // new text: a template text there would show through each verdict.
  SetDlgItemText(1182, CString());
  SetDlgItemText(1183, CString());
  valueFont_.CreateFont(13, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  for (int id : {1185, 1187, 1189})
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
    list->InsertColumn(0, u"Property", LVCFMT_LEFT, 140);
    list->InsertColumn(1, u"Value", LVCFMT_LEFT, 160);
    list->InsertColumn(2, u"Range", LVCFMT_LEFT, 120);
    list->InsertColumn(3, u"Remarks", LVCFMT_LEFT, 90);
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
  SetDlgItemText(1174, blank > 0 ? name.Left(blank) : name);
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
  const SmartAttribute* powerOn = r > 0 ? reader_.FindAttribute(d, 9) : nullptr;
  const CString days = powerOn ? IntToText(static_cast<int32_t>(std::min<uint64_t>(powerOn->rawFull / 24, INT32_MAX)))
                               : CString();
  const uint64_t size = ListedSize(listed);
  const uint64_t used = SumUsedSpaceOfDisk(d);
  struct Row {
    const char16_t* property;
    CString value, range;
  };
  const Row rows[] = {
      {u"SMART Enabled", r > 0 ? CString(u"Diaginfo Enabled") : CString(u"Diaginfo Not Enabled"), {}},
      {u"SMART Version", r > 0 ? SmartVersionText : CString(), {}},
      {u"Serial", r > 0 ? record.serialText : CString(), {}},
      {u"Capacity", Int64ToText(static_cast<int64_t>(size)), {}},
      {u"Used Space", Int64ToText(static_cast<int64_t>(used)), {}},
      {u"Free Space", Int64ToText(static_cast<int64_t>(size > used ? size - used : 0)), {}},
      {u"Running Days", days, worst(9)},
      {u"Reliability", current(198), worst(198)},
      {u"Performance", current(2), worst(2)},
      {u"Error", current(1), worst(1)},
  };
  for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
    list->InsertItem(i, rows[i].property);
    list->SetItemText(i, 1, rows[i].value);
    list->SetItemText(i, 2, rows[i].range);
  }
  CString enumKey;
  enumKey.Format(u"%d", d);
  SetDlgItemText(1176, CString(u"Type: ") + ListedBusName(listed));
  SetDlgItemText(1177, CString(u"Model: ") + ListedModel(listed));
  SetDlgItemText(1178, CString(u"UDID: ") + UniqueDeviceId(ReadRegistryString(
                                                 HKEY_LOCAL_MACHINE, u"SYSTEM\\ControlSet001\\Services\\disk\\Enum", enumKey)));
  SetDlgItemText(1180, CString(u"Capacity: ") + FormatSectorCount(size));
  SetDlgItemText(1181, CString(u"Used Space: ") + FormatSectorCount(used));
  SetDlgItemText(1179, CString(u"Power On Time: ") + (powerOn ? PowerOnTimeText(powerOn->rawFull) : CString(u"-")));
  const SmartAttribute* temperature = r > 0 ? reader_.FindAttribute(d, 194) : nullptr;
  SetDlgItemText(1185, temperature ? TemperatureTextOfRaw(temperature->rawFull) : CString(u"-"));
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
  SetDlgItemText(1182, LookupString(verdict.word));
  SetDlgItemText(1183, LookupString(verdict.note));
  SetDlgItemText(1187, current(198).IsEmpty() ? CString(u"-") : current(198));
  SetDlgItemText(1189, current(2).IsEmpty() ? CString(u"-") : current(2));
}

// The texts over the background: white name and identity lines, pale blue
// labels and list headings, blue values, all on a transparent background
// with the null brush; the list's heading keeps a white background colour.
HBRUSH CDiskDiagnose::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctl_color) {
  HBRUSH brush = CBDialog::OnCtlColor(dc, wnd, ctl_color);
  const int id = wnd ? wnd->GetDlgCtrlID() : 0;
  if (id == 1174 || (id >= 1176 && id <= 1183)) dc->SetTextColor(kWhite);
  else if (id == 1184 || id == 1186 || id == 1188 || id == kDetailHeading) dc->SetTextColor(kLabel);
  else if (id == 1185 || id == 1187 || id == 1189) dc->SetTextColor(kValueBlue);
  else if (id == kListHeading) {
    dc->SetTextColor(kLabel);
    dc->SetBkColor(kWhite);
  } else {
    return brush;
  }
  dc->SetBkMode(TRANSPARENT);
  return static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
}
