// Rendering a dialog with many controls to a picture, headless: the path of
// every screenshot and of GetDC(NULL). There is no peer: no Debian tool
// draws this window model, so these numbers only catch regressions of our
// own renderer against its earlier runs.
//
//   dialog_render_120_controls   RenderWindow of a shown dialog holding 120
//       controls of eleven kinds (statics, push buttons, check boxes, edits,
//       combo boxes, list boxes with 20 rows, report list views with 20 rows,
//       tree views with 12 items, progress bars, sliders, rich edits);
//   dialog_create_120_controls   the dialog made from its template, filled,
//       shown, painted, rendered and destroyed.
#include <QImage>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/common/bench_support.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/render.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace {

constexpr int kDialogId = 9100;
constexpr int kColumns = 10;
constexpr int kRows = 12;
constexpr int kFirstControl = 1000;

struct Kind {
  const char16_t* class_name;
  const char16_t* text;
  DWORD style;
};

// The eleven kinds, cycled over the grid.
const Kind kKinds[] = {
    {u"Static", u"Label text", SS_LEFT},
    {u"Button", u"Push", BS_PUSHBUTTON | WS_TABSTOP},
    {u"Button", u"Check", BS_AUTOCHECKBOX | WS_TABSTOP},
    {u"Edit", u"Edit text", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {u"ComboBox", u"", CBS_DROPDOWNLIST | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP},
    {u"ListBox", u"", LBS_NOTIFY | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
    {u"SysListView32", u"", LVS_REPORT | WS_BORDER | WS_TABSTOP},
    {u"SysTreeView32", u"", TVS_HASBUTTONS | TVS_HASLINES | WS_BORDER | WS_TABSTOP},
    {u"msctls_progress32", u"", WS_BORDER},
    {u"msctls_trackbar32", u"", WS_TABSTOP},
    {u"RichEdit20W", u"Rich text", ES_MULTILINE | WS_BORDER | WS_VSCROLL},
};
constexpr int kKindCount = sizeof kKinds / sizeof kKinds[0];

// The template and its resource table, registered once.
struct Resources {
  std::vector<platform::ui::DialogItemTemplate> items;
  platform::ui::DialogTemplate dialog{};
  platform::ui::ResourceTable table{};

  Resources() {
    for (int row = 0; row < kRows; ++row)
      for (int column = 0; column < kColumns; ++column) {
        int i = row * kColumns + column;
        const Kind& k = kKinds[i % kKindCount];
        items.push_back({k.class_name, k.text, kFirstControl + i, 4 + column * 50, 4 + row * 25, 46, 22,
                         WS_CHILD | WS_VISIBLE | k.style, 0, 0});
      }
    dialog = {kDialogId, u"Benchmark dialog", u"MS Shell Dlg", 8, 400, 0, 0, 0, 508, 306,
              WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT, 0, 0, items.data(), items.size()};
    table = {"bench", &dialog, 1, nullptr, 0, nullptr, 0};
    platform::ui::RegisterResourceTable(&table);
  }
  ~Resources() { platform::ui::UnregisterResourceTable(&table); }
};

// Makes the dialog, gives its lists and bars contents, shows and paints it.
// Null (with the reason in *why) when it could not be made.
std::unique_ptr<CDialog> MakeDialog(std::string* why) {
  bench::Shared<Resources>();
  auto dialog = std::make_unique<CDialog>(kDialogId);
  if (!dialog->Create(kDialogId)) {
    *why = "the dialog could not be created from its template";
    return nullptr;
  }
  for (int i = 0; i < kRows * kColumns; ++i) {
    CWnd* item = dialog->GetDlgItem(kFirstControl + i);
    if (!item) {
      *why = "control " + std::to_string(kFirstControl + i) + " is missing";
      return nullptr;
    }
    std::u16string row = u"Row " + std::u16string(1, u'A' + i % 26);
    switch (i % kKindCount) {
      case 2: static_cast<CButton*>(item)->SetCheck(i % 2); break;
      case 4:
        for (int r = 0; r < 20; ++r) static_cast<CComboBox*>(item)->AddString(row.c_str());
        static_cast<CComboBox*>(item)->SetCurSel(3);
        break;
      case 5:
        for (int r = 0; r < 20; ++r) static_cast<CListBox*>(item)->AddString(row.c_str());
        break;
      case 6: {
        auto* list = static_cast<CListCtrl*>(item);
        list->InsertColumn(0, u"Name", LVCFMT_LEFT, 60);
        list->InsertColumn(1, u"Size", LVCFMT_LEFT, 40);
        for (int r = 0; r < 20; ++r) {
          list->InsertItem(r, row.c_str());
          list->SetItemText(r, 1, u"12 GB");
        }
        break;
      }
      case 7: {
        auto* tree = static_cast<CTreeCtrl*>(item);
        for (int a = 0; a < 3; ++a) {
          HTREEITEM top = tree->InsertItem(u"Disk");
          for (int b = 0; b < 3; ++b) tree->InsertItem(u"Partition", top);
        }
        break;
      }
      case 8:
        static_cast<CProgressCtrl*>(item)->SetRange32(0, 100);
        static_cast<CProgressCtrl*>(item)->SetPos(i % 100);
        break;
      case 9:
        static_cast<CSliderCtrl*>(item)->SetRange(0, 100);
        static_cast<CSliderCtrl*>(item)->SetPos(i % 100);
        break;
      default: break;
    }
  }
  dialog->ShowWindow(SW_SHOW);
  dialog->UpdateWindow();
  return dialog;
}

void Render(benchmark::State& state) {
  std::string why;
  auto dialog = MakeDialog(&why);
  if (!dialog) {
    state.SkipWithError(why.c_str());
    return;
  }
  platform::ui::Window* window = platform::ui::FindWindowModel(dialog->m_hWnd);
  int64_t pixels = 0;
  for (auto _ : state) {
    QImage picture = platform::ui::RenderWindow(*window);
    pixels = picture.width() * int64_t{picture.height()};
    benchmark::DoNotOptimize(picture.constBits());
  }
  if (pixels == 0) state.SkipWithError("the rendered picture is empty");
  // DRUM_BENCH_PICTURE=FILE.png keeps the picture, to see what was measured.
  if (const char* keep = std::getenv("DRUM_BENCH_PICTURE"); keep && *keep) {
    if (!platform::ui::SaveWindowPicture(*window, keep, &why)) state.SkipWithError(why.c_str());
  }
  state.counters["renders"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["pixels"] = static_cast<double>(pixels);
  dialog->DestroyWindow();
}

void CreateAndRender(benchmark::State& state) {
  std::string why;
  for (auto _ : state) {
    auto dialog = MakeDialog(&why);
    if (!dialog) {
      state.SkipWithError(why.c_str());
      break;
    }
    QImage picture = platform::ui::RenderWindow(*platform::ui::FindWindowModel(dialog->m_hWnd));
    benchmark::DoNotOptimize(picture.constBits());
    dialog->DestroyWindow();
  }
  state.counters["dialogs"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
  bench::Register("dialog_render_120_controls", "ours:RenderWindow", Render)->Unit(benchmark::kMicrosecond);
  bench::Register("dialog_create_120_controls", "ours:Create+RenderWindow", CreateAndRender)
      ->Unit(benchmark::kMicrosecond);
  return bench::Main(argc, argv);
}
