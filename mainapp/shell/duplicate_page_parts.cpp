#include "mainapp/shell/duplicate_page_parts.h"

#include "disk/language_table.h"
#include "disk/number_text.h"
#include "disk/shell_state.h"
#include "mainapp/clone/disk_list_images.h"
#include "platform/ui/dialog.h"

namespace {

constexpr int kTitle = 1003;
constexpr int kSubtitle = 1004;
constexpr int kDiskList = 1027;

}  // namespace

void ApplyDuplicateHeader(CDialog& page, DuplicateHeaderFonts& fonts, const char16_t* key) {
  const int title_height = ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0);
  fonts.title.CreateFont(title_height, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  fonts.text.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* title = page.GetDlgItem(kTitle)) title->SetFont(&fonts.title, TRUE);
  if (CWnd* subtitle = page.GetDlgItem(kSubtitle)) subtitle->SetFont(&fonts.text, TRUE);
  const CString caption = LookupString(key);
  page.SetWindowText(caption);
  page.SetDlgItemText(kTitle, caption);
  page.SetDlgItemText(kSubtitle, caption);
}

CListCtrl* PrepareDuplicateDiskList(CDialog& page, int columns) {
  auto* list = dynamic_cast<CListCtrl*>(page.GetDlgItem(kDiskList));
  if (!list) return nullptr;
  struct Column {
    const char16_t* key;
    int width;
    int format;
  };
  static const Column kColumns[] = {{u"IDS_LogList1", 130, LVCFMT_LEFT},
                                    {u"IDS_ModelPartition", 180, LVCFMT_LEFT},
                                    {u"IDS_totalsize1", 80, LVCFMT_RIGHT},
                                    {u"IDS_UsedSpace", 80, LVCFMT_RIGHT}};
  list->SetExtendedStyle(LVS_EX_CHECKBOXES);
  list->SetImageList(CreateDiskListImages(), LVSIL_SMALL);
  for (int c = 0; c < columns && c < 4; ++c)
    list->InsertColumn(c, LookupString(kColumns[c].key), kColumns[c].format, kColumns[c].width);
  return list;
}

CheckBoxChange CheckBoxChangeOf(const NMHDR* header) {
  const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
  if (!(change->uChanged & LVIF_STATE)) return CheckBoxChange::None;
  if (!((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK)) return CheckBoxChange::None;
  return ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2 ? CheckBoxChange::Ticking
                                                                  : CheckBoxChange::Unticking;
}

void UntickOtherRows(CListCtrl& list, int row) {
  for (int i = 0; i < list.GetItemCount(); ++i)
    if (i != row && list.GetCheck(i)) list.SetCheck(i, FALSE);
}

CString DuplicateDiskRowText(int32_t physical) {
  CString text = LookupString(u"IDS_Drive");
  text += IntToText(physical);
  text += u" ";
  return text;
}
