#include "mainapp/migrate/page_texts.h"

#include "platform/ui/dialog.h"
#include "platform/ui/gdi.h"
#include "program_support/language_table.h"

namespace {
constexpr UINT kPageIcon = 142;
}  // namespace

void ShowMigrationPageTexts(CDialog& page, PageHeaderFonts& fonts, const char16_t* captionKey,
                            const char16_t* headingKey, const char16_t* subheadingKey,
                            std::initializer_list<PageText> texts) {
  const HICON icon = LoadIconW(AfxGetInstanceHandle(), reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(kPageIcon)));
  page.SetIcon(icon, TRUE);
  page.SetIcon(icon, FALSE);
  ApplyPageHeader(page, fonts, captionKey);
  page.SetDlgItemText(1003, LookupString(headingKey));
  page.SetDlgItemText(1004, LookupString(subheadingKey));
  for (const PageText& t : texts) page.SetDlgItemText(t.id, LookupString(t.key));
}
