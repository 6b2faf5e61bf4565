// The main dialog's menu in the Qt view: once a pop-up has opened (and the
// dialog has given its items the callback bitmap), the view's menu shows
// each command with the icon the dialog draws, and a picture of the open
// menu holds the icon's pixels.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mainapp/shell/main_dialog.h"
#include "platform/core/clock.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/gdi.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/support/temp_folder.h"
#include "tests/shell_qt/view_pump.h"

namespace {

namespace fs = std::filesystem;

using shell_qt_test::Pump;

// The command's icon as the resource holds it, at 16 x 16.
QImage CommandIcon(UINT command) {
  HICON icon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(command), IMAGE_ICON, 16, 16, 0));
  if (!icon) return {};
  QImage image = platform::ui::IconImage(icon)->copy();
  DestroyIcon(icon);
  return image;
}

// True when `picture` holds the icon's solid pixels somewhere inside `area`.
bool ShowsIcon(const QImage& picture, const QRect& area, const QImage& icon) {
  int solid = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) solid += qAlpha(icon.pixel(x, y)) == 255;
  if (solid < 16) return false;
  for (int top = area.top(); top + 16 <= area.bottom() + 1; ++top) {
    for (int left = area.left(); left + 16 <= area.right() + 1; ++left) {
      bool all = true;
      for (int y = 0; y < 16 && all; ++y)
        for (int x = 0; x < 16 && all; ++x) {
          QRgb want = icon.pixel(x, y);
          if (qAlpha(want) == 255 && (picture.pixel(left + x, top + y) & 0xFFFFFF) != (want & 0xFFFFFF)) all = false;
        }
      if (all) return true;
    }
  }
  return false;
}

TEST(MainDialogMenuView, AnOpenedPopUpShowsEachCommandsIcon) {
  std::string error;
  ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  const std::string root = test_support::MakeTempFolder("menu-view");
  ASSERT_TRUE(platform::machine::CreateMachineFolder(root + "/pc", &error)) << error;
  platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
  platform::storage::ResetMountManager();
  ASSERT_TRUE(platform::machine::OpenMachine(root + "/pc", &error)) << error;
  ShellState = ShellStateRecord{};
  ShellState.winPEMode = true;
  ShellState.programFolder = u"X:\\Drummetworks";

  {
    CDrummetDlg dialog;
    ASSERT_TRUE(dialog.Create(CDrummetDlg::IDD));
    dialog.ShowWindow(SW_SHOW);
    platform::ui::qt::WidgetMirror mirror(platform::ui::qt::MirrorMode::OnScreen);
    mirror.sync();
    Pump(mirror);
    QWidget* top = mirror.top_level_widget(dialog.GetSafeHwnd());
    ASSERT_NE(top, nullptr);
    auto popup = [&]() -> QMenu* {
      auto* bar = top->findChild<QMenuBar*>();
      return bar && !bar->actions().isEmpty() ? bar->actions()[0]->menu() : nullptr;
    };
    ASSERT_NE(popup(), nullptr);
    // The pop-up opens: the dialog relabels its items and gives them the
    // callback bitmap; the view refills the open pop-up in place, so it
    // stays open through the view's next passes.
    QMenu* menu = popup();
    ASSERT_NE(menu, nullptr);
    menu->popup(QPoint(10, 10));
    Pump(mirror);
    mirror.sync();
    Pump(mirror);
    mirror.sync();
    ASSERT_EQ(popup(), menu) << "the menu bar was rebuilt under the open pop-up";
    EXPECT_TRUE(menu->isVisible()) << "the first opening of the pop-up closed it";

    HMENU model = ::GetSubMenu(::GetMenu(dialog.GetSafeHwnd()), 0);
    std::vector<UINT> commands;
    for (int i = 0; i < ::GetMenuItemCount(model); ++i)
      if (UINT id = ::GetMenuItemID(model, i); id != 0 && id != static_cast<UINT>(-1)) commands.push_back(id);
    std::vector<QAction*> items;
    for (QAction* a : menu->actions())
      if (!a->isSeparator()) items.push_back(a);
    ASSERT_EQ(items.size(), commands.size());
    ASSERT_EQ(commands.size(), 11u) << "menu 129's first pop-up";

    const QImage shot = menu->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (size_t i = 0; i < items.size(); ++i) {
      SCOPED_TRACE(commands[i]);
      const QImage icon = CommandIcon(commands[i]);
      ASSERT_FALSE(icon.isNull());
      EXPECT_FALSE(items[i]->text().isEmpty()) << "the label stays beside the picture";
      ASSERT_FALSE(items[i]->icon().isNull());
      const QImage shown = items[i]->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
      EXPECT_TRUE(ShowsIcon(shown, QRect(0, 0, shown.width(), shown.height()), icon)) << "the action's icon";
      EXPECT_TRUE(ShowsIcon(shot, menu->actionGeometry(items[i]), icon)) << "the open menu's picture";
    }
    menu->hide();
    Pump(mirror);
    dialog.DestroyWindow();
  }
  platform::storage::ResetMountManager();
  platform::machine::SetCurrent(nullptr);
  platform::registry::CloseLiveRegistry();
  fs::remove_all(root);
}

// WCAG contrast of two colours.
double Luminance(QRgb c) {
  auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}
double Contrast(QRgb a, QRgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Within `area` of `picture`: the commonest colour (the background) and how
// many pixels show the text colour itself (anti-aliased edges aside).
struct TextLook {
  QRgb back = 0;
  int text_pixels = 0;
};
TextLook LookOf(const QImage& picture, const QRect& area, QRgb text) {
  std::map<QRgb, int> counts;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) ++counts[picture.pixel(x, y) & 0xFFFFFF];
  TextLook look;
  int most = 0;
  for (const auto& [colour, n] : counts)
    if (n > most) most = n, look.back = colour;
  auto near = [&](QRgb c) {
    return std::abs(qRed(c) - qRed(text)) + std::abs(qGreen(c) - qGreen(text)) + std::abs(qBlue(c) - qBlue(text)) <= 24;
  };
  for (const auto& [colour, n] : counts)
    if (near(colour)) look.text_pixels += n;
  return look;
}

// The main menu's heading (white on the navy) and its sub-heading (blue on
// a pale band) each read at 3:1 or better in the picture of the dialog, in
// both layouts.
TEST(MainDialogMenuView, HeadingAndSubHeadingEachReadOnTheirBackground) {
  std::string error;
  ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  const std::string root = test_support::MakeTempFolder("heading-view");
  ASSERT_TRUE(platform::machine::CreateMachineFolder(root + "/pc", &error)) << error;
  platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
  platform::storage::ResetMountManager();
  ASSERT_TRUE(platform::machine::OpenMachine(root + "/pc", &error)) << error;
  ShellState = ShellStateRecord{};
  ShellState.winPEMode = true;
  ShellState.programFolder = u"X:\\Drummetworks";
  {
    CDrummetDlg dialog;
    ASSERT_TRUE(dialog.Create(CDrummetDlg::IDD));
    dialog.SetDlgItemText(CDrummetDlg::kHeading, u"Main Menu");
    dialog.SetDlgItemText(CDrummetDlg::kSubHeading, u"Please double click to choose the task below:");
    dialog.ShowWindow(SW_SHOW);
    platform::ui::qt::WidgetMirror mirror(platform::ui::qt::MirrorMode::Invisible);
    Pump(mirror);
    platform::ui::Window* top = platform::ui::FindWindowModel(dialog.GetSafeHwnd());
    ASSERT_NE(top, nullptr);
    const QImage picture = mirror.grab(*top);
    const POINT offset = top->client_offset();
    // The colours the dialog gives them: white, and the heading blue.
    const struct {
      UINT id;
      QRgb text;
    } cases[] = {{CDrummetDlg::kHeading, qRgb(255, 255, 255)}, {CDrummetDlg::kSubHeading, qRgb(0, 89, 155)}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.id);
      platform::ui::Window* w = platform::ui::FindWindowModel(::GetDlgItem(dialog.GetSafeHwnd(), static_cast<int>(c.id)));
      ASSERT_NE(w, nullptr);
      const QRect area(w->rect.left + offset.x, w->rect.top + offset.y, w->rect.right - w->rect.left,
                       w->rect.bottom - w->rect.top);
      ASSERT_TRUE(picture.rect().contains(area));
      const TextLook look = LookOf(picture, area, c.text);
      EXPECT_GE(look.text_pixels, 10) << "the text is not drawn in its colour";
      EXPECT_GE(Contrast(c.text, look.back), 3.0) << "background " << std::hex << look.back;
    }
    dialog.DestroyWindow();
    Pump(mirror);
  }
  platform::storage::ResetMountManager();
  platform::machine::SetCurrent(nullptr);
  platform::registry::CloseLiveRegistry();
  fs::remove_all(root);
}

}  // namespace
