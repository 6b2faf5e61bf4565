// Edit fields.
#include "platform/ui/controls/edit_control.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/core/ascii_case.h"
#include "platform/core/error.h"
#include "platform/ui/controls/control_support.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"

namespace platform::ui {

using namespace control_support;

bool EditModel::type_text(Window& w, const std::u16string& typed) {
  if (w.style & ES_READONLY) return false;
  std::u16string text = typed;
  if (w.style & ES_NUMBER)
    for (char16_t c : text)
      if (c < u'0' || c > u'9') return false;
  if (!(w.style & ES_MULTILINE))
    text.erase(std::remove_if(text.begin(), text.end(), [](char16_t c) { return c == u'\r' || c == u'\n'; }),
               text.end());
  if (w.style & ES_UPPERCASE) text = platform::AsciiUpper(text);
  if (w.style & ES_LOWERCASE) text = platform::AsciiLower(text);
  int size = static_cast<int>(w.text.size());
  int a = std::clamp(std::min(sel_start, sel_end), 0, size);
  int b = std::clamp(std::max(sel_start, sel_end), 0, size);
  long long room = static_cast<long long>(limit) - (size - (b - a));
  if (room <= 0) return false;
  if (static_cast<long long>(text.size()) > room) text.resize(static_cast<size_t>(room));
  w.text.replace(static_cast<size_t>(a), static_cast<size_t>(b - a), text);
  sel_start = sel_end = a + static_cast<int>(text.size());
  modified = true;
  NotifyWindowChanged(w);
  // A handler may destroy the control (and this model) while notified.
  HWND self = w.handle;
  NotifyParentCommand(w, EN_UPDATE);
  if (Window* still = FindWindowModel(self)) NotifyParentCommand(*still, EN_CHANGE);
  return true;
}

bool EditModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case WM_SETTEXT:
      w.text = lp ? reinterpret_cast<LPCWSTR>(lp) : u"";
      sel_start = sel_end = 0;
      modified = false;
      NotifyWindowChanged(w);
      Invalidate(w, true, false);
      // Edits report programmatic changes too, as the platform does.
      {
        HWND self = w.handle;
        NotifyParentCommand(w, EN_UPDATE);
        if (Window* still = FindWindowModel(self)) NotifyParentCommand(*still, EN_CHANGE);
      }
      result = TRUE;
      return true;
    case WM_CHAR: {
      char16_t c = static_cast<char16_t>(wp);
      if (c == 0x08) {
        if (w.style & ES_READONLY) return true;
        if (sel_start == sel_end && sel_start > 0) sel_start -= 1;
        type_text(w, u"");
      } else if (c >= 0x20 || c == u'\r' || c == u'\t') {
        type_text(w, std::u16string(1, c == u'\r' ? u'\n' : c));
      }
      result = 0;
      return true;
    }
    case WM_SETFOCUS:
      NotifyParentCommand(w, EN_SETFOCUS);
      result = 0;
      return true;
    case WM_KILLFOCUS:
      NotifyParentCommand(w, EN_KILLFOCUS);
      result = 0;
      return true;
    case WM_LBUTTONDOWN:
      SetFocus(w.handle);
      result = 0;
      return true;
    case EM_SETSEL: {
      int size = static_cast<int>(w.text.size());
      int a = static_cast<int>(static_cast<LONG_PTR>(wp)), b = static_cast<int>(lp);
      if (a == -1) { sel_start = sel_end = size; result = 0; return true; }
      if (b == -1 || b > size) b = size;
      sel_start = std::clamp(a, 0, size);
      sel_end = std::clamp(b, 0, size);
      result = 0;
      return true;
    }
    case EM_GETSEL:
      if (wp) *reinterpret_cast<DWORD*>(wp) = static_cast<DWORD>(sel_start);
      if (lp) *reinterpret_cast<DWORD*>(lp) = static_cast<DWORD>(sel_end);
      result = MAKELONG(static_cast<WORD>(sel_start), static_cast<WORD>(sel_end));
      return true;
    case EM_REPLACESEL: {
      DWORD saved = w.style;
      w.style &= ~(ES_READONLY | ES_NUMBER);  // programs may always replace
      type_text(w, lp ? reinterpret_cast<LPCWSTR>(lp) : u"");
      w.style = saved;
      result = 0;
      return true;
    }
    case EM_LIMITTEXT:
      limit = wp ? static_cast<int>(std::min<WPARAM>(wp, 0x7FFFFFFE)) : 0x7FFFFFFE;
      result = 0;
      return true;
    case EM_SETREADONLY:
      if (wp) w.style |= ES_READONLY;
      else w.style &= ~ES_READONLY;
      NotifyWindowChanged(w);
      result = TRUE;
      return true;
  }
  return false;
}

void EditModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  bool grey = (w.style & ES_READONLY) || !w.enabled();
  p.fillRect(box, grey ? QColor(240, 240, 240) : Qt::white);
  p.setPen(QColor(122, 122, 122));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  set_font(p, w);
  p.setPen(w.enabled() ? Qt::black : QColor(109, 109, 109));
  std::u16string shown = (w.style & ES_PASSWORD) ? std::u16string(w.text.size(), u'\u25CF') : w.text;
  int align = (w.style & ES_RIGHT) ? Qt::AlignRight : (w.style & ES_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
  int flags = align | ((w.style & ES_MULTILINE) ? (Qt::AlignTop | Qt::TextWordWrap) : Qt::AlignVCenter);
  p.drawText(box.adjusted(3, 1, -3, -1), flags, qs(shown));
}

}  // namespace platform::ui
