#include "mainapp/partition/page_header.h"

#include <cstdint>

#include "disk/disk_tables.h"
#include "platform/ui/dialog.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "resources/menu_commands.h"

void ApplyPartitionPageHeader(CDialog& page, PartitionPageHeader& header) {
  // The menu icon of the command that opens the partition manager.
  constexpr uintptr_t kIcon = shell::kCmdPartitionManager;
  header.icon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(kIcon));
  page.SetIcon(header.icon, TRUE);
  page.SetIcon(header.icon, FALSE);
  header.heading.CreateFont(ShellState.titleFontHeight + (ShellState.winPEMode ? 3 : 0), 0, 0, 0, 700, 0, 0, 0, 0, 0, 0,
                            0, 0, u"Verdana");
  header.text.CreateFont(ShellState.textFontHeight, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, u"Verdana");
  if (CWnd* h = page.GetDlgItem(1003)) h->SetFont(&header.heading, TRUE);
  if (CWnd* h = page.GetDlgItem(1004)) h->SetFont(&header.text, TRUE);
}

void SetPageTexts(CDialog& page, std::initializer_list<std::pair<int, const char16_t*>> texts) {
  for (const auto& [id, key] : texts) page.SetDlgItemText(id, LookupString(key));
}

CString DriveText(int32_t letter) { return MakeDriveText(static_cast<WCHAR>(letter)); }
