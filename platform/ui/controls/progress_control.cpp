// Progress bars.
#include "platform/ui/controls/progress_control.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/controls/control_support.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"

namespace platform::ui {

using namespace control_support;

bool ProgressModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  auto clampit = [&] { pos = std::clamp(pos, std::min(low, high), std::max(low, high)); };
  switch (message) {
    case PBM_SETRANGE:
      result = MAKELONG(static_cast<WORD>(low), static_cast<WORD>(high));
      low = static_cast<SHORT>(LOWORD(lp));
      high = static_cast<SHORT>(HIWORD(lp));
      clampit();
      break;
    case PBM_SETRANGE32:
      result = MAKELONG(static_cast<WORD>(low), static_cast<WORD>(high));
      low = static_cast<int>(wp);
      high = static_cast<int>(lp);
      clampit();
      break;
    case PBM_SETPOS:
      result = pos;
      pos = static_cast<int>(wp);
      clampit();
      break;
    case PBM_DELTAPOS:
      result = pos;
      pos += static_cast<int>(wp);
      clampit();
      break;
    case PBM_SETSTEP:
      result = step;
      step = static_cast<int>(wp);
      break;
    case PBM_STEPIT:
      result = pos;
      pos += step;
      // Stepping past the end wraps to the start, as on the platform.
      if (pos > high) pos = low + (pos - high);
      if (pos > high || pos < low) pos = low;
      break;
    case PBM_GETPOS:
      result = pos;
      break;
    default:
      return false;
  }
  NotifyWindowRepainted(w);
  return true;
}

void ProgressModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.fillRect(box, QColor(230, 230, 230));
  p.setPen(QColor(188, 188, 188));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  long long span = static_cast<long long>(high) - low;
  if (span <= 0) return;
  int filled = static_cast<int>((static_cast<long long>(pos) - low) * (box.width() - 2) / span);
  p.fillRect(QRect(1, 1, std::max(filled, 0), box.height() - 2), QColor(6, 176, 37));
}

}  // namespace platform::ui
