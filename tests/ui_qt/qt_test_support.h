// What the Qt view's tests share: the application object the widgets need,
// and a pump that runs what Qt and the model have queued.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>

#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
#include "platform/ui/resources.h"
#include "ui/ui_test_support.h"

namespace qttest {

// Widgets need the application object before any test runs.
class WidgetApplication : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(platform::ui::qt::EnsureWidgetApplication(platform::ui::UiMode::Headless, &error)) << error;
  }
};

// Runs everything Qt and the model have queued, as the view's loop and a
// program's pump do.
inline void Pump(platform::ui::qt::WidgetMirror* mirror = nullptr) {
  for (int round = 0; round < 4; ++round) {
    QCoreApplication::processEvents();
    if (mirror) mirror->run_deferred();
    ui_test::PumpMessages();
  }
}

// A modeless page of a test's resource table, shown with an on-screen
// mirror before each test and destroyed after it.
template <class Page>
class PageTest : public ::testing::Test {
 protected:
  PageTest(const platform::ui::ResourceTable& table, UINT id) : table_(table), id_(id) {}
  void SetUp() override {
    platform::ui::RegisterResourceTable(&table_);
    ASSERT_TRUE(page.Create(id_));
    page.ShowWindow(SW_SHOW);
    Pump();
    mirror.sync();
  }
  void TearDown() override {
    page.DestroyWindow();
    mirror.sync();
    platform::ui::UnregisterResourceTable(&table_);
  }
  HWND item(int id) { return ::GetDlgItem(page.m_hWnd, id); }

  Page page;
  platform::ui::qt::WidgetMirror mirror{platform::ui::qt::MirrorMode::OnScreen};

 private:
  const platform::ui::ResourceTable& table_;
  UINT id_;
};

}  // namespace qttest
