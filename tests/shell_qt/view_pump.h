// Runs what Qt and the window model have queued, a few rounds, so that the
// widget mirror and the dialogs settle before a test looks at them.
#pragma once

#include <QCoreApplication>

#include "platform/ui/message_queue.h"
#include "platform/ui/qt/widget_mirror.h"

namespace shell_qt_test {

inline void Pump(platform::ui::qt::WidgetMirror& mirror) {
  for (int round = 0; round < 4; ++round) {
    QCoreApplication::processEvents();
    mirror.run_deferred();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace shell_qt_test
