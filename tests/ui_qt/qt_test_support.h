// What the Qt view's tests share: the application object the widgets need,
// and a pump that runs what Qt and the model have queued.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>

#include "platform/ui/qt/qt_view.h"
#include "platform/ui/qt/widget_mirror.h"
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

}  // namespace qttest
