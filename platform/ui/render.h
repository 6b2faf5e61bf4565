// Pictures of the window model: a top-level window with its painted GDI
// layers and simple drawings of its controls, and the whole screen. Used by
// screenshots, by GetDC(NULL), and by a view before it has widgets.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/winuser.h"

namespace platform::ui {

struct Window;

// The window and its children as they look now (window rectangle size).
QImage RenderWindow(Window& window);
// Draws the visible children of `parent` as they stack, its client area's
// origin at `origin` of `p`. With `skip_transparent`, WS_EX_TRANSPARENT
// children (which hold no pixels of their own) are left out.
void DrawChildWindows(Window& parent, QPainter& p, QPoint origin, bool skip_transparent);
// Every visible top-level window on the desktop, bottom of the z-order first.
QImage RenderScreen();
// A view that draws windows with real widgets installs its renderer here;
// screenshots use it instead of the simple drawings. Null restores them.
using WindowRenderer = std::function<QImage(Window&)>;
void set_window_renderer(WindowRenderer renderer);

// A control whose text does not fit the room it has, in pixels (width, or
// height for a label that wraps its words).
struct TextOverflow {
  int id = 0;
  std::u16string text;
  int needed = 0;
  int available = 0;
};
// A view that lays out real widgets installs its measure here: the statics,
// buttons, check boxes, radios, group boxes and rich edits of a top-level
// window whose texts are cut off, measured in the fonts their widgets show. Null removes it.
using TextFitCheck = std::function<std::vector<TextOverflow>(Window&)>;
void set_text_fit_check(TextFitCheck check);
// The overflowing texts of `window` in *out; false when no measure is installed.
bool FindTextOverflows(Window& window, std::vector<TextOverflow>* out);

// Saves a PNG of the window; false with a reason when it cannot.
bool SaveWindowPicture(Window& window, const std::string& path, std::string* error);

}  // namespace platform::ui
