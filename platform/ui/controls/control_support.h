// Small painting, text and mouse helpers the control models share.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRect>
#include <QString>
#include <string>

#include "platform/ui/window.h"

class QImage;

namespace platform::ui::control_support {

inline QColor qc(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline QString qs(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
// The client area as a Qt rectangle at the origin.
QRect client_qrect(const Window& w);
// The image message of a button or a static (BM_SETIMAGE, STM_SETIMAGE):
// `image` becomes the control's bitmap (type IMAGE_BITMAP) or icon (any other
// type); the one it replaces is returned.
LRESULT swap_image(WPARAM type, LPARAM image, HBITMAP& bitmap, HICON& icon);
// Selects the window's font (WM_SETFONT) into the painter.
void set_font(QPainter& p, const Window& w);
// Draws `img` at the box's corner, or centred in it.
void draw_image_centered(QPainter& p, const QImage* img, const QRect& box, bool centre);
// The mouse buttons list and tree views act on.
bool is_item_click(UINT message);
// A click on a list or tree view: the view takes the focus first (whose
// handlers may destroy it: false then), and the point comes out of lParam.
bool take_click(Window& w, LPARAM lp, POINT& pt);
// The notification a click sends to the view's parent.
UINT click_notification(UINT message);

}  // namespace platform::ui::control_support
