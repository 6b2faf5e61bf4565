// The dialogs no tour script opens (prompts, summaries, pages without a way
// in from the main dialog), made with their own classes in English and
// Japanese and laid out as the view's widgets: every static, button, check
// box and radio shows its whole text in the font its widget uses.
#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/volume_formatter.h"
#include "mainapp/clone/clone_summary_page.h"
#include "mainapp/clone/mirror_page.h"
#include "mainapp/partition/earlier_dialog.h"
#include "mainapp/partition/part_dialogs.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/scan/scan_pages.h"
#include "mainapp/shell/duplicate_destination_page.h"
#include "mainapp/shell/duplicate_page.h"
#include "mainapp/shell/duplicate_source_page.h"
#include "mainapp/shell/restart_prompt.h"
#include "mainapp/shell/shutdown_prompt.h"
#include "mainapp/shell/splash_dialog.h"
#include "mainapp/shell/wait_dialog.h"
#include "mainapp/wipe/deletion_summary_page.h"
#include "mainapp/wipe/smart_attributes_dialog.h"
#include "platform/core/text.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/shell_qt/view_pump.h"

namespace {

namespace fs = std::filesystem;

// The language's texts as the program loads them: the base file, then its fragments.
void LoadLanguage(const std::string& code) {
  LanguageTable = LanguageTableRecord{};
  const char* source = std::getenv("DRUM_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(fs::path(source) / "resources/lang")) {
    const std::string name = entry.path().filename().string();
    if (name == code + ".txt" || name.ends_with("." + code + ".txt")) files.push_back(entry.path());
  }
  // The base file first, then the fragments in name order.
  std::sort(files.begin(), files.end(), [&](const fs::path& a, const fs::path& b) {
    const bool a_base = a.filename() == code + ".txt", b_base = b.filename() == code + ".txt";
    return a_base != b_base ? a_base : a < b;
  });
  for (const fs::path& file : files) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      const size_t colon = line.find(": ");
      if (colon == std::string::npos || colon == 0) continue;
      LanguageTable.strings.push_back(CString(platform::to_utf16(line.substr(0, colon))));
      LanguageTable.strings.push_back(CString(platform::to_utf16(line.substr(colon + 2))));
    }
  }
  LanguageTable.languageLineCount = static_cast<int>(LanguageTable.strings.size() / 2);
  ASSERT_GE(LanguageTable.languageLineCount, 100);
}

void Settle(platform::ui::qt::WidgetMirror& mirror) {
  shell_qt_test::Pump(mirror);
  mirror.sync();
}

struct Page {
  int id;
  std::function<std::unique_ptr<CDialog>()> make;
  // Prompts whose texts their callers set: set as that caller does (in the
  // language loaded), so they are measured with the texts they show.
  std::function<void()> caller_texts = nullptr;
  const char* caller = "";
};

template <typename T>
std::function<std::unique_ptr<CDialog>()> Make() {
  return [] { return std::unique_ptr<CDialog>(new T(nullptr)); };
}

TEST(PagesFit, DialogsOutsideTheToursShowTheirWholeTextsInBothLanguages) {
  std::string error;
  ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  const Page pages[] = {
      {176, Make<CSplashDlg>()},
      {207, Make<CRestart>(),
       [] {
         restartPromptText = LookupString(u"IDS_OTB");
         restartOkText = LookupString(u"IDS_STARTNOW");
         restartCancelText = LookupString(u"IDS_Cancel");
       },
       "the main dialog's restart for the boot repair"},
      {208, Make<CShutDown>(),
       [] {
         shutdownPromptText = LookupString(u"IDS_shutdown1");
         shutdownNowText = LookupString(u"IDS_shutdownnow");
         shutdownLaterText = LookupString(u"IDS_backtomain");
       },
       "the clone summary's shut-down"},
      {208, Make<CShutDown>(),
       [] {
         shutdownPromptText = LookupString(u"IDS_bootstring1");
         shutdownNowText = LookupString(u"IDS_SHUTNOW");
         shutdownLaterText = LookupString(u"IDS_SHUTLATER");
       },
       "the clone summary's shut-down before a boot repair"},
      {192, [] { return std::unique_ptr<CDialog>(new CWaitDialog(0, 0, TRUE, 1, nullptr)); }},
      {245, Make<CDuplicate>()},
      {246, Make<CDuplicateSrc>()},
      {247, Make<CDuplicateDest>()},
      {137, Make<CMirrorProgress>()},
      {138, Make<CMirrorProgressSummary>()},
      {138, Make<CMirrorProgressSummary>(),
       [] {
         CloneSettings.verifyAfterCopy = 1;
         CloneSettings.basicDuplication = 1;
         CloneRunState.verifyDifferingFiles = 1;
         CloneRunState.verifyMismatchCount = 2;
       },
       "a basic copy whose verify found differing files and blocks (its longest verify line)"},
      {193, Make<CScanSummary>()},
      {152, Make<CDeleteProgressSummary>()},
      {209, Make<CDiag>()},
      {210, Make<diag1>()},
      {213, Make<CCreatePart>()},
      {235, Make<CCreatePart3>()},
      {216, Make<CCFormat>()},
      {206, Make<CFormatDisk>()},
  };
  for (const char* code : {"001", "081"}) {
    LoadLanguage(code);
    ASSERT_FALSE(HasFatalFailure());
    ShellState.languageName = code == std::string("001") ? u"English" : u"Japanese";
    for (const Page& page : pages) {
      SCOPED_TRACE(testing::Message() << "dialog " << page.id << ", language " << code << " " << page.caller);
      if (page.caller_texts) page.caller_texts();
      platform::ui::qt::WidgetMirror mirror(platform::ui::qt::MirrorMode::Invisible);
      std::unique_ptr<CDialog> dialog = page.make();
      ASSERT_TRUE(dialog->Create(static_cast<UINT>(page.id), nullptr));
      dialog->ShowWindow(SW_SHOW);
      Settle(mirror);
      for (const auto& cut : mirror.clipped_texts(dialog->GetSafeHwnd()))
        ADD_FAILURE() << "dialog " << page.id << " control " << cut.id << " in " << code << " needs " << cut.needed
                      << " px, has " << cut.available << ": \"" << platform::to_utf8(cut.text) << "\"";
      dialog->DestroyWindow();
      Settle(mirror);
    }
  }
}

// A group box draws its frame and title only: inside it the statics sit on
// the same face colour as outside it.
TEST(PagesFit, GroupBoxesKeepTheFaceColourInside) {
  std::string error;
  ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  LoadLanguage("001");
  ASSERT_FALSE(HasFatalFailure());
  platform::ui::qt::WidgetMirror mirror(platform::ui::qt::MirrorMode::Invisible);
  CCFormat dialog(nullptr);
  ASSERT_TRUE(dialog.Create(CCFormat::IDD, nullptr));
  dialog.ShowWindow(SW_SHOW);
  Settle(mirror);
  platform::ui::Window* top = platform::ui::FindWindowModel(dialog.GetSafeHwnd());
  platform::ui::Window* group = platform::ui::FindWindowModel(::GetDlgItem(dialog.GetSafeHwnd(), 1115));
  ASSERT_NE(top, nullptr);
  ASSERT_NE(group, nullptr);
  const QImage picture = mirror.grab(*top);
  const POINT offset = top->client_offset();
  // Below the percentage line and clear of the frame; and the client's corner, outside every box.
  const QPoint inside(offset.x + group->rect.left + 10, offset.y + group->rect.bottom - 6);
  const QPoint outside(offset.x + 2, offset.y + 1);
  ASSERT_TRUE(picture.rect().contains(inside));
  EXPECT_EQ(picture.pixel(inside) & 0xFFFFFF, picture.pixel(outside) & 0xFFFFFF);
  dialog.DestroyWindow();
  Settle(mirror);
}

// The title lines at the top of a page sit on one background: around each
// header rich edit and inside it past its text the pixels are all of one
// colour, so no box of another colour shows behind a title. Every dialog of
// the program's scripts with header rich edits is made bare from its
// template, so the layout and the platform's painting alone are checked.
TEST(PagesFit, HeaderTitlesSitOnOneBackground) {
  std::string error;
  ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  constexpr int kTitle = 1003, kSubtitle = 1004;
  int checked = 0;
  for (int id = 1; id < 1000; ++id) {
    const platform::ui::DialogTemplate* t = platform::ui::FindDialogTemplate(id);
    if (!t) continue;
    const bool has_header = std::any_of(t->items, t->items + t->item_count, [](const auto& item) {
      return item.id == kTitle && std::u16string(item.class_name).starts_with(u"RichEdit");
    });
    if (!has_header) continue;
    SCOPED_TRACE(testing::Message() << "dialog " << id);
    platform::ui::qt::WidgetMirror mirror(platform::ui::qt::MirrorMode::Invisible);
    CDialog dialog(static_cast<UINT>(id), nullptr);
    ASSERT_TRUE(dialog.Create(static_cast<UINT>(id), nullptr));
    dialog.SetDlgItemText(kTitle, u"Title");
    dialog.SetDlgItemText(kSubtitle, u"Subtitle");
    dialog.ShowWindow(SW_SHOW);
    Settle(mirror);
    platform::ui::Window* top = platform::ui::FindWindowModel(dialog.GetSafeHwnd());
    ASSERT_NE(top, nullptr);
    const QImage picture = mirror.grab(*top);
    const POINT offset = top->client_offset();
    for (int control : {kTitle, kSubtitle}) {
      platform::ui::Window* w = platform::ui::FindWindowModel(::GetDlgItem(dialog.GetSafeHwnd(), control));
      if (!w || !w->visible()) continue;
      const int left = offset.x + w->rect.left, right = offset.x + w->rect.right;
      const int top_y = offset.y + w->rect.top, bottom = offset.y + w->rect.bottom;
      const int middle = (top_y + bottom) / 2;
      // Inside past the short text, then left of it, right of it and above it.
      const QPoint inside(right - 3, middle);
      const QPoint around[] = {{left - 3, middle}, {right + 2, middle}, {(left + right) / 2, top_y - 2}};
      const QRgb within = picture.pixel(inside) & 0xFFFFFF;
      for (const QPoint& at : around) {
        if (!picture.rect().contains(at) || at.x() < offset.x || at.y() < offset.y) continue;
        EXPECT_EQ(picture.pixel(at) & 0xFFFFFF, within)
            << "control " << control << ": at (" << at.x() << ", " << at.y() << ") against inside at (" << inside.x()
            << ", " << inside.y() << ")";
      }
    }
    ++checked;
    dialog.DestroyWindow();
    Settle(mirror);
  }
  EXPECT_GE(checked, 20) << "the program's pages with header lines";
}

}  // namespace
