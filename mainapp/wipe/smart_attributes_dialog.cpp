#include "mainapp/wipe/smart_attributes_dialog.h"

#include <algorithm>

#include "disk/disk_context.h"
#include "disk/disk_tables.h"
#include "disk/listed_disks.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/records/disk_selection.h"
#include "mainapp/wipe/disk_health_page.h"
#include "platform/ui/message_map.h"
#include "program_support/language_table.h"
#include "program_support/number_text.h"

BEGIN_MESSAGE_MAP(CDiag, CDialog)
  ON_BN_CLICKED(IDOK, &CDiag::OnRefresh)
END_MESSAGE_MAP()

namespace {

CString IdentifyText(const SmartDriveRecord& record, int offset, int length) {
  const auto* text = reinterpret_cast<const WCHAR*>(record.identifyData + offset);
  int n = 0;
  while (n < length / 2 && text[n] != 0) ++n;
  return CString(text, n);
}


}  // namespace

CDiag::CDiag(CWnd* parent) : CDialog(IDD, parent) {}

BOOL CDiag::OnInitDialog() {
  CDialog::OnInitDialog();
  if (auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kProperties))) {
    list->DeleteAllItems();
    list->SetExtendedStyle(LVS_EX_GRIDLINES);
    int column = 0;
    for (LPCWSTR key : {u"IDS_HealthProperty", u"IDS_HealthValue", u"IDS_HealthRange", u"IDS_HealthRemarks"})
      list->InsertColumn(column++, LookupString(key), LVCFMT_LEFT, 130);
  }
  if (auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kAttributes))) {
    list->SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_FLATSB);
    InsertAttributeColumns(*list);
  }
  SetDlgItemText(kStatus, LookupString(u"IDS_HealthReading"));
  SetDlgItemText(1131, u"");
  FillPropertyList();
  return TRUE;
}

void CDiag::FillPropertyList() {
  auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kProperties));
  if (!list) return;
  DiskContext.diskCount = ReadDiskCount();
  EnumerateDisks();
  MapLettersToDisks();
  ListLetterVolumes();
  int32_t d = ListedPhysicalDisk(CloneSettings.sourceDisk).value;
  if (d < 0) d = 0;
  const ListedDiskIndex listed = ListedIndexOfPhysical(PhysicalDiskNumber{d});
  const int r = d < kSmartDriveCount ? reader_.ReadDrive(static_cast<BYTE>(d)) : 0;
  const SmartDriveRecord& record = reader_.GetDriveRecord(d);
  auto value = [&](int id, bool worst) {
    const SmartAttribute* a = r > 0 ? reader_.FindAttribute(d, id) : nullptr;
    return a ? IntToText(worst ? a->worst : a->current) : CString();
  };
  const uint64_t size = ListedSize(listed);
  const uint64_t used = SumUsedSpaceOfDisk(d);
  struct Row {
    LPCWSTR property;  // its key
    CString value, range;
  };
  const Row rows[] = {
      {u"IDS_HealthSmartEnabled", LookupString(r > 0 ? u"IDS_HealthDiagEnabled" : u"IDS_HealthDiagNotEnabled"), {}},
      {u"IDS_HealthSmartVersion", r > 0 ? SmartVersionText : CString(), {}},
      {u"IDS_HealthType", ListedBusName(listed), {}},
      {u"IDS_HealthModel", ListedModel(listed), IdentifyText(record, 54, 40)},
      {u"IDS_HealthSerial", IdentifyText(record, 20, 20), {}},
      {u"IDS_HealthUniqueDeviceId", IdentifyText(record, 14, 6), {}},
      {u"IDS_HealthCapacity", Int64ToText(static_cast<int64_t>(size)), {}},
      {u"IDS_HealthUsedSpace", Int64ToText(static_cast<int64_t>(used)), {}},
      {u"IDS_HealthFreeSpace", Int64ToText(static_cast<int64_t>(size > used ? size - used : 0)), {}},
      {u"IDS_HealthRunningDays", value(kSmartPowerOnHours, false), value(kSmartPowerOnHours, true)},
      {u"IDS_HealthReliability", value(kSmartOfflineUncorrectable, false), value(kSmartOfflineUncorrectable, true)},
      {u"IDS_HealthPerformance", value(kSmartThroughput, false), value(kSmartThroughput, true)},
      {u"IDS_HealthError", value(kSmartReadErrorRate, false), value(kSmartReadErrorRate, true)},
      {u"IDS_HealthTemperature", value(kSmartTemperature, false), value(kSmartTemperature, true)},
  };
  list->DeleteAllItems();
  for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
    list->InsertItem(i, LookupString(rows[i].property));
    list->SetItemText(i, 1, rows[i].value);
    list->SetItemText(i, 2, rows[i].range);
  }
}

void CDiag::OnRefresh() {
  SetDlgItemText(kStatus, LookupString(u"IDS_HealthReading"));
  if (auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kAttributes))) FillAttributeTable(*list, reader_);
  SetDlgItemText(kStatus, u"");
}

void InsertAttributeColumns(CListCtrl& list) {
  CRect client;
  list.GetClientRect(&client);
  const double widths[] = {0.1, 0.4, 0.1, 0.1, 0.2, 0.1};
  const char16_t* names[] = {u"AttibId", u"Name", u"Value", u"Worst", u"RAW", u"Threshold"};
  for (int c = 0; c < 6; ++c) list.InsertColumn(c, names[c], LVCFMT_LEFT, static_cast<int>(widths[c] * client.Width()));
}

void FillAttributeTable(CListCtrl& list, SmartReader& reader) {
  list.DeleteAllItems();
  int row = 0;
  auto add = [&](const CString& first, int column, const CString& text) {
    list.InsertItem(row, first);
    if (column > 0) list.SetItemText(row, column, text);
    ++row;
  };
  // Every listed disk by its physical number (not by a drive letter's place).
  for (int32_t n = 1; n <= std::min(DiskContext.diskCount, kMaxListedDisks); ++n) {
    const int32_t d = DiskContext.listedToPhysical[n];
    if (d < 0 || d >= kSmartDriveCount) continue;
    const int r = reader.ReadDrive(static_cast<BYTE>(d));
    const SmartDriveRecord& record = reader.GetDriveRecord(d);
    CString heading;
    heading.Format(u">>>>>>>>>>>>>>>  Drive %d  <<<<<<<<<<<<<<<<", static_cast<int>(d));
    add(CString(), 1, heading);
    add(CString(), 1, u"Model");
    list.SetItemText(row - 1, 4, IdentifyText(record, 54, 40));
    add(CString(), 1, u"Serial");
    list.SetItemText(row - 1, 4, IdentifyText(record, 20, 20));
    CString cache;
    cache.Format(u"%d (%d)", record.identifyData[42] | record.identifyData[43] << 8,
                 record.identifyData[40] | record.identifyData[41] << 8);
    add(CString(), 1, u"Cache / Buffer");
    list.SetItemText(row - 1, 4, cache);
    for (int id = 0; r > 0 && id <= 254; ++id) {
      const SmartAttribute* a = reader.FindAttribute(d, id);
      const SmartCatalogueEntry* entry = reader.FindCatalogueEntry(static_cast<BYTE>(id));
      if (!a || !entry) continue;
      CString first;
      first.Format(entry->critical ? u"%03d (CR)" : u"%03d", id);
      add(first, 1, entry->name);
      list.SetItemText(row - 1, 2, IntToText(a->current));
      list.SetItemText(row - 1, 3, IntToText(a->worst));
      list.SetItemText(row - 1, 4, Int64ToText(a->rawValue));
      list.SetItemText(row - 1, 5, IntToText(a->threshold));
    }
    add(CString(), 0, CString());
  }
}

BEGIN_MESSAGE_MAP(diag1, CDialog)
  ON_BN_CLICKED(kRefresh, &diag1::OnRefresh)
  ON_BN_CLICKED(kExit, &diag1::OnExit)
END_MESSAGE_MAP()

diag1::diag1(CWnd* parent) : CDialog(IDD, parent) {}

BOOL diag1::OnInitDialog() {
  CDialog::OnInitDialog();
  if (auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kAttributes))) {
    list->DeleteAllItems();
    list->SetExtendedStyle(list->GetExtendedStyle() | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_FLATSB);
    while (list->DeleteColumn(0)) {
    }
    InsertAttributeColumns(*list);
  }
  return TRUE;
}

// The table is filled when the user asks for it: reading every disk's pages
// takes a while, and the dialog opens without them.
void diag1::OnRefresh() {
  if (auto* list = dynamic_cast<CListCtrl*>(GetDlgItem(kAttributes))) FillAttributeTable(*list, reader_);
}
