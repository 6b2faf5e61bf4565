#include "platform/ui/render.h"

#include <QPainter>

#include "platform/ui/control_model.h"
#include "platform/ui/gdi.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace {

void draw_children(Window& parent, QPainter& p, QPoint origin, int depth, bool skip_transparent = false) {
  if (depth > 32) return;  // nesting is capped
  for (Window* c : PaintOrder(parent)) {
    if (!c->visible() || (skip_transparent && (c->ex_style & WS_EX_TRANSPARENT))) continue;
    POINT off = c->client_offset();
    QPoint at = origin + QPoint(c->rect.left + off.x, c->rect.top + off.y);
    p.save();
    RECT cr = c->client_rect();
    p.setClipRect(QRect(at, QSize(cr.right, cr.bottom)), Qt::IntersectClip);
    p.translate(at);
    if (c->painted && c->layer) {
      p.drawImage(0, 0, *c->layer);
    } else if (c->control) {
      c->control->draw(*c, p);
    } else if (c->layer) {
      p.drawImage(0, 0, *c->layer);
    }
    p.restore();
    draw_children(*c, p, at, depth + 1, skip_transparent);
  }
}

}  // namespace

void DrawChildWindows(Window& parent, QPainter& p, QPoint origin, bool skip_transparent) {
  draw_children(parent, p, origin, 0, skip_transparent);
}

QImage RenderWindow(Window& w) {
  EnsureGuiApplication();
  int width = std::max<int>(w.rect.right - w.rect.left, 1);
  int height = std::max<int>(w.rect.bottom - w.rect.top, 1);
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(240, 240, 240));
  QPainter p(&image);
  POINT off = w.client_offset();
  if (!w.is_child() && (w.style & WS_CAPTION) == WS_CAPTION) {
    p.fillRect(QRect(0, 0, width, off.y), QColor(255, 255, 255));
    p.setPen(QColor(100, 100, 100));
    p.drawRect(QRect(0, 0, width - 1, height - 1));
    p.setPen(Qt::black);
    p.setFont(QtFontFor(nullptr));
    p.drawText(QRect(8, 0, width - 16, off.y), Qt::AlignVCenter | Qt::AlignLeft,
               QString::fromUtf16(w.text.data(), static_cast<qsizetype>(w.text.size())));
  }
  QPoint origin(off.x, off.y);
  if (w.layer) p.drawImage(origin, *w.layer);
  if (w.control) {
    p.save();
    p.translate(origin);
    w.control->draw(w, p);
    p.restore();
  }
  draw_children(w, p, origin, 0);
  p.end();
  return image;
}

QImage RenderScreen() {
  SIZE s = ScreenSize();
  QImage image(s.cx, s.cy, QImage::Format_RGB32);
  image.fill(QColor(0, 99, 177));
  QPainter p(&image);
  const auto& tops = TopLevelWindows();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    Window* w = *it;
    if (!w->visible()) continue;
    p.drawImage(QPoint(w->rect.left, w->rect.top), RenderWindow(*w));
  }
  p.end();
  return image;
}

namespace {
WindowRenderer& installed_renderer() {
  static WindowRenderer* r = new WindowRenderer;
  return *r;
}
}  // namespace

void set_window_renderer(WindowRenderer renderer) { installed_renderer() = std::move(renderer); }

namespace {
TextFitCheck& installed_fit_check() {
  static TextFitCheck* c = new TextFitCheck;
  return *c;
}
}  // namespace

void set_text_fit_check(TextFitCheck check) { installed_fit_check() = std::move(check); }

bool FindTextOverflows(Window& window, std::vector<TextOverflow>* out) {
  if (!installed_fit_check()) return false;
  *out = installed_fit_check()(window);
  return true;
}

bool SaveWindowPicture(Window& w, const std::string& path, std::string* error) {
  QImage image = installed_renderer() ? installed_renderer()(w) : RenderWindow(w);
  if (!image.save(QString::fromStdString(path), "PNG")) {
    if (error) *error = "cannot write picture " + path;
    return false;
  }
  return true;
}

}  // namespace platform::ui
