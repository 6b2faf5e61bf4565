#include "platform/ui/controls.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"

namespace platform::ui {

namespace {

QColor qc(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
QString qs(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
QRect client_qrect(const Window& w) {
  RECT r = w.client_rect();
  return QRect(0, 0, r.right, r.bottom);
}
bool equals_fold(const std::u16string& a, const std::u16string& b, size_t n) {
  if (a.size() < n || b.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}
int compare_fold(const std::u16string& a, const std::u16string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}
void set_font(QPainter& p, const Window& w) { p.setFont(QtFontFor(w.font)); }

void draw_image_centered(QPainter& p, const QImage* img, const QRect& box, bool centre) {
  if (!img) return;
  if (centre)
    p.drawImage(box.x() + (box.width() - img->width()) / 2, box.y() + (box.height() - img->height()) / 2, *img);
  else
    p.drawImage(box.topLeft(), *img);
}

}  // namespace

// ---- static ----

bool StaticModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case STM_SETIMAGE:
      if (wp == IMAGE_BITMAP) {
        result = reinterpret_cast<LRESULT>(bitmap);
        bitmap = reinterpret_cast<HBITMAP>(lp);
      } else {
        result = reinterpret_cast<LRESULT>(icon);
        icon = reinterpret_cast<HICON>(lp);
      }
      Invalidate(w, true, false);
      NotifyWindowRepainted(w);
      return true;
    case STM_SETICON:
      result = reinterpret_cast<LRESULT>(icon);
      icon = reinterpret_cast<HICON>(wp);
      Invalidate(w, true, false);
      return true;
    case WM_LBUTTONUP:
      if (w.style & SS_NOTIFY) NotifyParentCommand(w, STN_CLICKED);
      result = 0;
      return true;
    case WM_LBUTTONDBLCLK:
      if (w.style & SS_NOTIFY) NotifyParentCommand(w, STN_DBLCLK);
      result = 0;
      return true;
  }
  return false;
}

void StaticModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  DWORD type = w.style & SS_TYPEMASK;
  if (type == SS_BITMAP) {
    draw_image_centered(p, BitmapImage(bitmap), box, (w.style & SS_CENTERIMAGE) != 0);
    return;
  }
  if (type == SS_ICON) {
    draw_image_centered(p, IconImage(icon), box, false);
    return;
  }
  if (type == SS_ETCHEDHORZ || type == SS_ETCHEDFRAME || type == SS_BLACKFRAME) {
    p.setPen(QColor(160, 160, 160));
    if (type == SS_ETCHEDHORZ) p.drawLine(0, 0, box.width(), 0);
    else p.drawRect(box.adjusted(0, 0, -1, -1));
    return;
  }
  // The parent chooses colours through WM_CTLCOLORSTATIC, as for painting.
  ParentColours chosen = AskParentColours(w, WM_CTLCOLORSTATIC, GetSysColor(COLOR_BTNFACE));
  if (!chosen.alive) return;
  COLORREF text = chosen.text;
  bool transparent = (w.ex_style & WS_EX_TRANSPARENT) != 0 || chosen.transparent;
  if (!transparent) p.fillRect(box, QColor(240, 240, 240));
  set_font(p, w);
  p.setPen(qc(text));
  int align = type == SS_CENTER ? Qt::AlignHCenter : type == SS_RIGHT ? Qt::AlignRight : Qt::AlignLeft;
  p.drawText(box, align | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic, qs(w.text));
}

ParentColours AskParentColours(Window& w, UINT message, COLORREF default_back) {
  ParentColours out;
  out.text = GetSysColor(COLOR_WINDOWTEXT);
  out.back = default_back;
  if (!w.parent) return out;
  HWND self = w.handle;
  HDC dc = CreateCompatibleDC(nullptr);
  ::SetTextColor(dc, out.text);
  ::SetBkColor(dc, out.back);
  LRESULT brush = SendMessageW(w.parent->handle, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(self));
  out.text = ::SetTextColor(dc, out.text);
  out.back = ::SetBkColor(dc, out.back);
  int mode = ::SetBkMode(dc, OPAQUE);
  out.brush = reinterpret_cast<HBRUSH>(brush);
  out.transparent = mode == TRANSPARENT || out.brush == GetStockObject(NULL_BRUSH);
  out.default_brush = !out.brush || out.brush == GetSysColorBrush(COLOR_BTNFACE) ||
                      out.brush == GetSysColorBrush(COLOR_WINDOW);
  if (!out.default_brush && !out.transparent) {
    // The brush's colour, as it fills.
    HBITMAP one = CreateCompatibleBitmap(dc, 1, 1);
    HGDIOBJ old = SelectObject(dc, one);
    RECT pixel{0, 0, 1, 1};
    FillRect(dc, &pixel, out.brush);
    out.brush_colour = ::GetPixel(dc, 0, 0);
    SelectObject(dc, old);
    DeleteObject(one);
  }
  DeleteDC(dc);
  out.alive = FindWindowModel(self) != nullptr;
  return out;
}

// ---- button ----

void ButtonModel::click(Window& w) {
  if (!w.enabled()) return;
  DWORD type = w.style & BS_TYPEMASK;
  if (type == BS_GROUPBOX) return;
  if (type == BS_AUTOCHECKBOX) check = check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  if (type == BS_AUTO3STATE) check = (check + 1) % 3;
  if (type == BS_AUTORADIOBUTTON && w.parent) {
    // The group runs from the control with WS_GROUP at or before this one to
    // the next control with WS_GROUP.
    auto& kids = w.parent->children;
    auto self = std::find(kids.begin(), kids.end(), &w);
    auto first = self;
    while (first != kids.begin() && !((*first)->style & WS_GROUP)) --first;
    for (auto it = first; it != kids.end(); ++it) {
      if (it != first && ((*it)->style & WS_GROUP)) break;
      Window* c = *it;
      if (c->kind == WindowKind::Button && (c->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
        if (auto* m = dynamic_cast<ButtonModel*>(c->control.get())) {
          m->check = c == &w ? BST_CHECKED : BST_UNCHECKED;
          NotifyWindowRepainted(*c);
        }
    }
  }
  NotifyWindowRepainted(w);
  HWND h = w.handle;
  NotifyParentCommand(w, BN_CLICKED);
  (void)h;
}

bool ButtonModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case BM_GETCHECK:
      result = check;
      return true;
    case BM_SETCHECK:
      check = static_cast<UINT>(wp);
      NotifyWindowRepainted(w);
      result = 0;
      return true;
    case BM_CLICK:
    case WM_LBUTTONUP:
      click(w);
      result = 0;
      return true;
    case WM_LBUTTONDOWN:
      if ((w.style & BS_TYPEMASK) != BS_GROUPBOX) SetFocus(w.handle);
      result = 0;
      return true;
    case WM_LBUTTONDBLCLK:
      if ((w.style & BS_NOTIFY) || (w.style & BS_TYPEMASK) == BS_RADIOBUTTON ||
          (w.style & BS_TYPEMASK) == BS_AUTORADIOBUTTON || (w.style & BS_TYPEMASK) == BS_OWNERDRAW)
        NotifyParentCommand(w, BN_DOUBLECLICKED);
      else
        click(w);
      result = 0;
      return true;
    case BM_SETIMAGE:
      if (wp == IMAGE_BITMAP) {
        result = reinterpret_cast<LRESULT>(bitmap);
        bitmap = reinterpret_cast<HBITMAP>(lp);
      } else {
        result = reinterpret_cast<LRESULT>(icon);
        icon = reinterpret_cast<HICON>(lp);
      }
      NotifyWindowRepainted(w);
      return true;
  }
  return false;
}

void ButtonModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  DWORD type = w.style & BS_TYPEMASK;
  set_font(p, w);
  if (type == BS_OWNERDRAW && w.parent) {
    // Owner-drawn buttons are drawn by their parent into a bitmap.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(dc, std::max(box.width(), 1), std::max(box.height(), 1));
    HGDIOBJ old = SelectObject(dc, bmp);
    DRAWITEMSTRUCT di{ODT_BUTTON, static_cast<UINT>(w.id), 0, ODA_DRAWENTIRE,
                      w.enabled() ? 0u : ODS_DISABLED, w.handle, dc,
                      {0, 0, box.width(), box.height()}, 0};
    SendMessageW(w.parent->handle, WM_DRAWITEM, static_cast<WPARAM>(w.id), reinterpret_cast<LPARAM>(&di));
    if (const QImage* img = DcImage(dc)) p.drawImage(0, 0, *img);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bmp);
    return;
  }
  QColor text_colour = w.enabled() ? Qt::black : QColor(109, 109, 109);
  if (type == BS_GROUPBOX) {
    p.setPen(QColor(160, 160, 160));
    p.drawRect(box.adjusted(0, 6, -1, -1));
    if (!w.text.empty()) {
      QFontMetrics m(p.font());
      QRect label(8, 0, m.horizontalAdvance(qs(w.text)) + 4, m.height());
      p.fillRect(label, QColor(240, 240, 240));
      p.setPen(text_colour);
      p.drawText(label, Qt::AlignCenter | Qt::TextShowMnemonic, qs(w.text));
    }
    return;
  }
  if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
      type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
    bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
    QRect mark(0, (box.height() - 13) / 2, 13, 13);
    p.setPen(QColor(51, 51, 51));
    p.setBrush(Qt::white);
    if (radio) p.drawEllipse(mark.adjusted(0, 0, -1, -1));
    else p.drawRect(mark.adjusted(0, 0, -1, -1));
    if (check == BST_CHECKED) {
      p.setBrush(Qt::black);
      if (radio) p.drawEllipse(mark.adjusted(4, 4, -5, -5));
      else p.fillRect(mark.adjusted(3, 3, -3, -3), Qt::black);
    } else if (check == BST_INDETERMINATE) {
      p.fillRect(mark.adjusted(3, 3, -3, -3), QColor(128, 128, 128));
    }
    p.setPen(text_colour);
    p.drawText(box.adjusted(17, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, qs(w.text));
    return;
  }
  p.setPen(type == BS_DEFPUSHBUTTON ? QColor(0, 120, 215) : QColor(173, 173, 173));
  p.setBrush(QColor(225, 225, 225));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  if (const QImage* img = BitmapImage(bitmap)) {
    draw_image_centered(p, img, box, true);
    return;
  }
  if (const QImage* img = IconImage(icon)) {
    draw_image_centered(p, img, box, true);
    return;
  }
  p.setPen(text_colour);
  p.drawText(box, Qt::AlignCenter | Qt::TextShowMnemonic | Qt::TextWordWrap, qs(w.text));
}

// ---- edit ----

bool EditModel::type_text(Window& w, const std::u16string& typed) {
  if (w.style & ES_READONLY) return false;
  std::u16string text = typed;
  if (w.style & ES_NUMBER)
    for (char16_t c : text)
      if (c < u'0' || c > u'9') return false;
  if (!(w.style & ES_MULTILINE))
    text.erase(std::remove_if(text.begin(), text.end(), [](char16_t c) { return c == u'\r' || c == u'\n'; }),
               text.end());
  if (w.style & ES_UPPERCASE)
    for (auto& c : text) if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  if (w.style & ES_LOWERCASE)
    for (auto& c : text) if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
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

// ---- rich edit ----

std::vector<RichEditModel::Run> RichEditModel::runs(const Window& w) const {
  std::vector<Run> out;
  for (size_t i = 0; i < w.text.size(); ++i) {
    const CharFormat& f = i < formats.size() ? formats[i] : default_format;
    if (!out.empty() && out.back().format == f)
      out.back().length++;
    else
      out.push_back({static_cast<int>(i), 1, f});
  }
  return out;
}

bool RichEditModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case EM_EXSETSEL: {
      auto* r = reinterpret_cast<CHARRANGE*>(lp);
      if (!r) return false;
      return EditModel::handle(w, EM_SETSEL, static_cast<WPARAM>(r->cpMin), r->cpMax, result);
    }
    case EM_EXGETSEL: {
      auto* r = reinterpret_cast<CHARRANGE*>(lp);
      if (r) *r = {sel_start, sel_end};
      result = 0;
      return true;
    }
    case EM_SETBKGNDCOLOR:
      result = static_cast<LRESULT>(background);
      system_background = wp != 0;
      background = static_cast<COLORREF>(lp);
      NotifyWindowRepainted(w);
      return true;
    case EM_SETCHARFORMAT:
    case EM_GETCHARFORMAT: {
      auto* cf = reinterpret_cast<CHARFORMAT2W*>(lp);
      if (!cf) { result = 0; return true; }
      if (message == EM_GETCHARFORMAT) {
        int size = static_cast<int>(w.text.size());
        int at = std::clamp(std::min(sel_start, sel_end), 0, size);
        const CharFormat& f = (wp == SCF_SELECTION && at < size && static_cast<size_t>(at) < formats.size())
                                  ? formats[static_cast<size_t>(at)] : default_format;
        cf->dwMask = CFM_BOLD | CFM_COLOR | CFM_FACE | CFM_SIZE | CFM_ITALIC;
        cf->dwEffects = (f.bold ? CFE_BOLD : 0) | (f.italic ? CFE_ITALIC : 0) | (f.auto_color ? CFE_AUTOCOLOR : 0);
        cf->crTextColor = f.color;
        cf->yHeight = f.height_twips;
        size_t n = std::min<size_t>(f.face.size(), 31);
        std::copy(f.face.begin(), f.face.begin() + static_cast<long>(n), cf->szFaceName);
        cf->szFaceName[n] = 0;
        result = static_cast<LRESULT>(cf->dwMask);
        return true;
      }
      auto apply = [&](CharFormat& f) {
        if (cf->dwMask & CFM_COLOR) {
          f.auto_color = (cf->dwEffects & CFE_AUTOCOLOR) != 0;
          f.color = cf->crTextColor;
        }
        if (cf->dwMask & CFM_BOLD) f.bold = (cf->dwEffects & CFE_BOLD) != 0;
        if (cf->dwMask & CFM_WEIGHT) f.bold = cf->wWeight >= 600;
        if (cf->dwMask & CFM_ITALIC) f.italic = (cf->dwEffects & CFE_ITALIC) != 0;
        if (cf->dwMask & CFM_SIZE) f.height_twips = cf->yHeight;
        if (cf->dwMask & CFM_FACE) {
          std::u16string face;
          for (int i = 0; i < 32 && cf->szFaceName[i]; ++i) face += cf->szFaceName[i];
          f.face = face;
        }
      };
      formats.resize(w.text.size(), default_format);
      if (wp & SCF_ALL) {
        apply(default_format);
        for (auto& f : formats) apply(f);
      } else if (wp & SCF_SELECTION) {
        int size = static_cast<int>(w.text.size());
        int a = std::clamp(std::min(sel_start, sel_end), 0, size);
        int b = std::clamp(std::max(sel_start, sel_end), 0, size);
        for (int i = a; i < b; ++i) apply(formats[static_cast<size_t>(i)]);
      } else {
        apply(default_format);
      }
      NotifyWindowRepainted(w);
      result = TRUE;
      return true;
    }
    case WM_SETTEXT: {
      // The formats are reset first: the notifications may destroy the control.
      formats.assign(lp ? std::u16string(reinterpret_cast<LPCWSTR>(lp)).size() : 0, default_format);
      return EditModel::handle(w, message, wp, lp, result);
    }
  }
  size_t before = w.text.size();
  int at = std::min(sel_start, sel_end);
  bool handled = EditModel::handle(w, message, wp, lp, result);
  if (w.text.size() != before) {
    // Typed or replaced text takes the default format at the insertion point.
    formats.resize(std::max(before, formats.size()), default_format);
    if (w.text.size() > before)
      formats.insert(formats.begin() + std::clamp<long>(at, 0, static_cast<long>(formats.size())),
                     w.text.size() - before, default_format);
    formats.resize(w.text.size(), default_format);
  }
  return handled;
}

RichEditModel::Colours RichEditModel::colours(Window& w) const {
  Colours out;
  const COLORREF own = system_background ? GetSysColor(COLOR_WINDOW) : background;
  const bool quiet = (w.style & ES_READONLY) || !w.enabled();
  ParentColours chosen = AskParentColours(w, quiet ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT, own);
  out.alive = chosen.alive;
  out.auto_text = chosen.text;
  out.has_background = !(w.ex_style & WS_EX_TRANSPARENT) && !chosen.transparent;
  out.background = chosen.default_brush ? own : chosen.brush_colour;
  return out;
}

void RichEditModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  const Colours chosen = colours(w);
  if (!chosen.alive) return;
  if (chosen.has_background) p.fillRect(box, qc(chosen.background));
  int x = 2;
  int y = 1;
  for (const Run& run : runs(w)) {
    QFont font = QtFontFor(w.font);
    if (!run.format.face.empty()) font.setFamily(QString::fromStdString(FontFamilyFor(run.format.face)));
    if (run.format.height_twips > 0) font.setPixelSize(std::max(1, run.format.height_twips * 96 / 1440));
    font.setBold(run.format.bold);
    font.setItalic(run.format.italic);
    p.setFont(font);
    p.setPen(qc(run.format.auto_color ? chosen.auto_text : run.format.color));
    QString piece = qs(w.text.substr(static_cast<size_t>(run.start), static_cast<size_t>(run.length)));
    QFontMetrics m(font);
    p.drawText(QPoint(x, y + m.ascent()), piece);
    x += m.horizontalAdvance(piece);
  }
}

// ---- list box and combo box ----

int ListBoxModel::add(Window& w, const std::u16string& text) {
  bool sorted = w.kind == WindowKind::ComboBox ? (w.style & CBS_SORT) != 0 : (w.style & LBS_SORT) != 0;
  size_t at = items.size();
  if (sorted) {
    at = 0;
    while (at < items.size() && compare_fold(items[at].text, text) <= 0) ++at;
  }
  items.insert(items.begin() + static_cast<long>(at), ListEntry{text, 0});
  if (current >= static_cast<int>(at)) ++current;
  NotifyWindowRepainted(w);
  return static_cast<int>(at);
}

int ListBoxModel::find(const std::u16string& text, int start, bool exact) const {
  int n = static_cast<int>(items.size());
  if (n == 0) return LB_ERR;
  int first = (start < -1 || start >= n) ? 0 : start + 1;
  for (int k = 0; k < n; ++k) {
    int i = (first + k) % n;
    const auto& t = items[static_cast<size_t>(i)].text;
    if (exact ? (t.size() == text.size() && equals_fold(t, text, t.size())) : equals_fold(t, text, text.size()))
      return i;
  }
  return LB_ERR;
}

bool ListBoxModel::handle(Window& w, UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message == WM_LBUTTONDOWN) {
    SetFocus(w.handle);
    result = 0;
    return true;
  }
  return false;
}

void ListBoxModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.fillRect(box, Qt::white);
  p.setPen(QColor(130, 135, 144));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  set_font(p, w);
  int y = 1;
  for (size_t i = 0; i < items.size() && y < box.height(); ++i, y += 16) {
    QRect row(1, y, box.width() - 2, 16);
    if (static_cast<int>(i) == current) {
      p.fillRect(row, QColor(0, 120, 215));
      p.setPen(Qt::white);
    } else {
      p.setPen(Qt::black);
    }
    p.drawText(row.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, qs(items[i].text));
  }
}

bool ComboBoxModel::editable(const Window& w) {
  DWORD type = w.style & 0x3;
  return type == CBS_DROPDOWN || type == CBS_SIMPLE;
}

bool ComboBoxModel::user_edit(Window& w, const std::u16string& text) {
  if (!editable(w) || text == w.text) return false;
  w.text = text;
  NotifyWindowChanged(w);
  Invalidate(w, true, false);
  // A handler may destroy the combo while notified.
  HWND self = w.handle;
  NotifyParentCommand(w, CBN_EDITUPDATE);
  if (Window* still = FindWindowModel(self)) NotifyParentCommand(*still, CBN_EDITCHANGE);
  return true;
}

void ComboBoxModel::show_current(Window& w) {
  if (!editable(w) || current < 0 || current >= static_cast<int>(items.size())) return;
  const std::u16string& text = items[static_cast<size_t>(current)].text;
  if (w.text == text) return;
  w.text = text;
  NotifyWindowChanged(w);
}

bool ComboBoxModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  if (message == WM_CHAR && editable(w)) {
    // Typing at the end of the field, as the driver's `type` sends it.
    char16_t c = static_cast<char16_t>(wp);
    std::u16string text = w.text;
    if (c == 0x08) {
      if (!text.empty()) text.pop_back();
    } else if (c >= 0x20) {
      text.push_back(c);
    }
    user_edit(w, text);
    result = 0;
    return true;
  }
  return ListBoxModel::handle(w, message, wp, lp, result);
}

void ComboBoxModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  box.setHeight(std::min(box.height(), 21));
  p.fillRect(box, Qt::white);
  p.setPen(QColor(122, 122, 122));
  p.drawRect(box.adjusted(0, 0, -1, -1));
  set_font(p, w);
  p.setPen(w.enabled() ? Qt::black : QColor(109, 109, 109));
  std::u16string shown = !editable(w) && current >= 0 && current < static_cast<int>(items.size())
                             ? items[static_cast<size_t>(current)].text : w.text;
  p.drawText(box.adjusted(3, 0, -18, 0), Qt::AlignLeft | Qt::AlignVCenter, qs(shown));
  p.drawText(QRect(box.right() - 16, 0, 16, box.height()), Qt::AlignCenter, QStringLiteral("v"));
}

// ---- list view ----

RECT ListViewModel::row_rect(const Window& w, int row) const {
  RECT c = w.client_rect();
  int top = header_height() + row * row_height();
  return {0, top, c.right, top + row_height()};
}

bool ListViewModel::set_state(Window& w, int row, UINT state, UINT mask) {
  if (row < 0 || row >= static_cast<int>(rows.size())) return false;
  HWND self = w.handle;
  ListViewRow& r = rows[static_cast<size_t>(row)];
  UINT old = r.state;
  UINT next = (old & ~mask) | (state & mask);
  if (next == old) return true;
  NMLISTVIEW nm{};
  nm.iItem = row;
  nm.uNewState = next & mask;
  nm.uOldState = old & mask;
  nm.uChanged = LVIF_STATE;
  nm.lParam = r.param;
  if (NotifyParent(w, nm.hdr, LVN_ITEMCHANGING)) return false;
  if (!FindWindowModel(self) || row >= static_cast<int>(rows.size())) return false;
  // The handler may have changed the row meanwhile; apply on top of that.
  ListViewRow& again = rows[static_cast<size_t>(row)];
  UINT before = again.state;
  again.state = (before & ~mask) | (state & mask);
  if ((mask & LVIS_SELECTED) && (state & LVIS_SELECTED) && (w.style & LVS_SINGLESEL)) {
    for (size_t i = 0; i < rows.size(); ++i)
      if (static_cast<int>(i) != row && (rows[i].state & LVIS_SELECTED)) set_state(w, static_cast<int>(i), 0, LVIS_SELECTED);
    if (!FindWindowModel(self)) return true;
  }
  NMLISTVIEW done{};
  done.iItem = row;
  done.uNewState = again.state & mask;
  done.uOldState = before & mask;
  done.uChanged = LVIF_STATE;
  done.lParam = again.param;
  NotifyParent(w, done.hdr, LVN_ITEMCHANGED);
  if (Window* still = FindWindowModel(self)) NotifyWindowRepainted(*still);
  return true;
}

void ListViewModel::custom_draw(Window& w) {
  if (!w.parent) return;
  HWND self = w.handle;
  NMLVCUSTOMDRAW cd{};
  cd.nmcd.dwDrawStage = CDDS_PREPAINT;
  LRESULT r = NotifyParent(w, cd.nmcd.hdr, NM_CUSTOMDRAW);
  if (!FindWindowModel(self)) return;
  for (auto& row : rows) row.drawn_text = row.drawn_back = CLR_NONE;
  if (!(r & CDRF_NOTIFYITEMDRAW)) return;
  for (size_t i = 0; i < rows.size(); ++i) {
    NMLVCUSTOMDRAW item{};
    item.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    item.nmcd.dwItemSpec = i;
    item.nmcd.lItemlParam = rows[i].param;
    item.nmcd.rc = row_rect(w, static_cast<int>(i));
    item.clrText = GetSysColor(COLOR_WINDOWTEXT);
    item.clrTextBk = GetSysColor(COLOR_WINDOW);
    NotifyParent(w, item.nmcd.hdr, NM_CUSTOMDRAW);
    if (!FindWindowModel(self) || i >= rows.size()) return;
    rows[i].drawn_text = item.clrText;
    rows[i].drawn_back = item.clrTextBk;
  }
}

namespace {
// The mouse buttons list and tree views act on.
bool is_item_click(UINT message) {
  return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_LBUTTONDBLCLK;
}
// A click on a list or tree view: the view takes the focus first (whose
// handlers may destroy it: false then), and the point comes out of lParam.
bool take_click(Window& w, LPARAM lp, POINT& pt) {
  HWND self = w.handle;
  SetFocus(self);
  if (!FindWindowModel(self)) return false;
  pt = {static_cast<SHORT>(lp & 0xFFFF), static_cast<SHORT>((lp >> 16) & 0xFFFF)};
  return true;
}
// The notification a click sends to the view's parent.
UINT click_notification(UINT message) {
  return message == WM_LBUTTONDOWN ? NM_CLICK : message == WM_RBUTTONDOWN ? NM_RCLICK : NM_DBLCLK;
}
}  // namespace

bool ListViewModel::handle(Window& w, UINT message, WPARAM, LPARAM lp, LRESULT& result) {
  if (is_item_click(message)) {
    HWND self = w.handle;
    POINT pt{};
    if (!take_click(w, lp, pt)) return true;
    int row = -1;
    bool on_check = false;
    for (size_t i = 0; i < rows.size(); ++i) {
      RECT r = row_rect(w, static_cast<int>(i));
      if (PtInRect(&r, pt)) {
        row = static_cast<int>(i);
        on_check = (ex_style & LVS_EX_CHECKBOXES) && pt.x < 18;
      }
    }
    if (message == WM_LBUTTONDOWN && row >= 0) {
      if (on_check) {
        UINT image = (rows[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) >> 12;
        set_state(w, row, INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2), LVIS_STATEIMAGEMASK);
      } else {
        set_state(w, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
      }
    }
    Window* still = FindWindowModel(self);
    if (!still) return true;
    NMITEMACTIVATE nm{};
    nm.iItem = row;
    nm.ptAction = pt;
    NotifyParent(*still, nm.hdr, click_notification(message));
    result = 0;
    return true;
  }
  return false;
}

void ListViewModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.fillRect(box, Qt::white);
  set_font(p, w);
  custom_draw(w);
  int x = 0;
  for (const auto& c : columns) {
    QRect head(x, 0, c.width, header_height());
    p.fillRect(head, QColor(240, 240, 240));
    p.setPen(QColor(213, 213, 213));
    p.drawRect(head.adjusted(0, 0, -1, -1));
    p.setPen(Qt::black);
    p.drawText(head.adjusted(4, 0, -4, 0), Qt::AlignVCenter | (c.format == LVCFMT_RIGHT ? Qt::AlignRight : Qt::AlignLeft), qs(c.text));
    x += c.width;
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    RECT rr = row_rect(w, static_cast<int>(i));
    QRect row(rr.left, rr.top, rr.right - rr.left, rr.bottom - rr.top);
    const auto& r = rows[i];
    QColor back = r.drawn_back != CLR_NONE ? qc(r.drawn_back) : Qt::white;
    QColor text = r.drawn_text != CLR_NONE ? qc(r.drawn_text) : Qt::black;
    if (r.state & LVIS_SELECTED) {
      back = QColor(0, 120, 215);
      text = Qt::white;
    }
    p.fillRect(row, back);
    int cx = 0;
    for (size_t c = 0; c < columns.size(); ++c) {
      QRect cell(cx, row.y(), columns[c].width, row.height());
      int pad = 2;
      if (c == 0) {
        UINT image = (r.state & LVIS_STATEIMAGEMASK) >> 12;
        if ((ex_style & LVS_EX_CHECKBOXES) && image) {
          QRect mark(cell.x() + 2, cell.y() + 2, 13, 13);
          p.setPen(Qt::black);
          p.setBrush(Qt::white);
          p.drawRect(mark.adjusted(0, 0, -1, -1));
          if (image == 2) p.fillRect(mark.adjusted(3, 3, -3, -3), Qt::black);
          pad += 16;
        } else if (const QImage* st = ImageListImage(images[LVSIL_STATE], static_cast<int>(image) - 1)) {
          p.drawImage(cell.x() + 2, cell.y(), *st);
          pad += st->width();
        }
        if (const QImage* img = ImageListImage(images[LVSIL_SMALL], r.image)) {
          p.drawImage(cell.x() + pad, cell.y(), *img);
          pad += img->width() + 2;
        }
      }
      p.setPen(text);
      if (c < r.texts.size())
        p.drawText(cell.adjusted(pad, 0, -2, 0),
                   Qt::AlignVCenter | (columns[c].format == LVCFMT_RIGHT ? Qt::AlignRight : Qt::AlignLeft),
                   qs(r.texts[c]));
      if (ex_style & LVS_EX_GRIDLINES) {
        // Lines only: a brush left from the check box would fill the cell.
        p.setPen(QColor(240, 240, 240));
        p.setBrush(Qt::NoBrush);
        p.drawRect(cell.adjusted(0, 0, -1, -1));
      }
      cx += columns[c].width;
    }
  }
  p.setPen(QColor(130, 135, 144));
  p.setBrush(Qt::NoBrush);
  p.drawRect(box.adjusted(0, 0, -1, -1));
}

// ---- tree view ----

TreeViewModel::TreeViewModel() = default;
TreeViewModel::~TreeViewModel() {
  for (TreeNode* n : live_) delete n;
}

TreeNode* TreeViewModel::node(HTREEITEM item) const {
  auto* n = reinterpret_cast<TreeNode*>(item);
  return std::find(live_.begin(), live_.end(), n) != live_.end() ? n : nullptr;
}

void TreeViewModel::fill_item(TreeNode* n, TVITEMW& item) const {
  item = TVITEMW{};
  if (!n) return;
  item.mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  item.hItem = handle_of(n);
  item.state = n->state;
  item.stateMask = 0xFFFF;
  item.iImage = n->image;
  item.iSelectedImage = n->selected_image;
  item.lParam = n->param;
}

HTREEITEM TreeViewModel::insert(Window& w, const TVINSERTSTRUCTW& in) {
  TreeNode* parent = (in.hParent == TVI_ROOT || !in.hParent) ? &root : node(in.hParent);
  if (!parent) return nullptr;
  auto* n = new TreeNode;
  const TVITEMW& it = in.item;
  if ((it.mask & TVIF_TEXT) && it.pszText) n->text = it.pszText;
  if (it.mask & TVIF_IMAGE) n->image = it.iImage;
  if (it.mask & TVIF_SELECTEDIMAGE) n->selected_image = it.iSelectedImage;
  if (it.mask & TVIF_STATE) n->state = it.state & it.stateMask;
  if (it.mask & TVIF_CHILDREN) n->children_flag = it.cChildren;
  if (it.mask & TVIF_PARAM) n->param = it.lParam;
  if ((w.style & TVS_CHECKBOXES) && !(n->state & TVIS_STATEIMAGEMASK)) n->state |= INDEXTOSTATEIMAGEMASK(1);
  n->parent = parent;
  auto& kids = parent->children;
  auto pos = kids.end();
  if (in.hInsertAfter == TVI_FIRST) {
    pos = kids.begin();
  } else if (in.hInsertAfter == TVI_SORT) {
    pos = std::find_if(kids.begin(), kids.end(), [&](TreeNode* k) { return compare_fold(k->text, n->text) > 0; });
  } else if (in.hInsertAfter != TVI_LAST) {
    auto it2 = std::find(kids.begin(), kids.end(), node(in.hInsertAfter));
    if (it2 != kids.end()) pos = it2 + 1;
  }
  kids.insert(pos, n);
  live_.push_back(n);
  NotifyWindowRepainted(w);
  return handle_of(n);
}

bool TreeViewModel::remove(Window& w, TreeNode* n) {
  if (!n) return false;
  HWND self = w.handle;
  // Children first; each deleted item is announced with TVN_DELETEITEM.
  std::vector<TreeNode*> order;
  std::vector<TreeNode*> stack{n};
  size_t guard = 0;
  while (!stack.empty() && guard++ < live_.size() + 1) {
    TreeNode* x = stack.back();
    stack.pop_back();
    order.push_back(x);
    for (TreeNode* c : x->children) stack.push_back(c);
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    TreeNode* x = *it;
    if (x == &root) continue;
    NMTREEVIEWW nm{};
    fill_item(x, nm.itemOld);
    if (FindWindowModel(self)) NotifyParent(w, nm.hdr, TVN_DELETEITEM);
    if (selected == x) selected = nullptr;
    if (x->parent) {
      auto& sib = x->parent->children;
      sib.erase(std::remove(sib.begin(), sib.end(), x), sib.end());
    }
    live_.erase(std::remove(live_.begin(), live_.end(), x), live_.end());
    delete x;
  }
  if (n == &root) root.children.clear();
  if (FindWindowModel(self)) NotifyWindowRepainted(w);
  return true;
}

bool TreeViewModel::expand(Window& w, TreeNode* n, UINT action, bool by_user) {
  if (!n) return false;
  bool expanded = (n->state & TVIS_EXPANDED) != 0;
  UINT what = action & 0x3;
  if (what == TVE_TOGGLE) what = expanded ? TVE_COLLAPSE : TVE_EXPAND;
  if ((what == TVE_EXPAND) == expanded) return true;
  bool notify = by_user || !(n->state & TVIS_EXPANDEDONCE);
  HWND self = w.handle;
  if (notify) {
    NMTREEVIEWW nm{};
    nm.action = what;
    fill_item(n, nm.itemNew);
    if (NotifyParent(w, nm.hdr, TVN_ITEMEXPANDING)) return false;
    if (!FindWindowModel(self) || !node(handle_of(n))) return false;
  }
  if (what == TVE_EXPAND) n->state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
  else n->state &= ~TVIS_EXPANDED;
  if (notify) {
    NMTREEVIEWW nm{};
    nm.action = what;
    fill_item(n, nm.itemNew);
    NotifyParent(w, nm.hdr, TVN_ITEMEXPANDED);
  }
  if (Window* still = FindWindowModel(self)) NotifyWindowRepainted(*still);
  return true;
}

bool TreeViewModel::select(Window& w, TreeNode* n, UINT action) {
  if (n == selected) return true;
  HWND self = w.handle;
  NMTREEVIEWW nm{};
  nm.action = action;
  fill_item(selected, nm.itemOld);
  fill_item(n, nm.itemNew);
  if (NotifyParent(w, nm.hdr, TVN_SELCHANGING)) return false;
  if (!FindWindowModel(self)) return false;
  if (selected && node(handle_of(selected))) selected->state &= ~TVIS_SELECTED;
  selected = n && node(handle_of(n)) ? n : nullptr;
  if (selected) selected->state |= TVIS_SELECTED;
  NMTREEVIEWW done{};
  done.action = action;
  fill_item(selected, done.itemNew);
  NotifyParent(w, done.hdr, TVN_SELCHANGED);
  return true;
}

std::vector<std::pair<TreeNode*, int>> TreeViewModel::visible_rows() const {
  std::vector<std::pair<TreeNode*, int>> out;
  std::vector<std::pair<TreeNode*, int>> stack;
  for (auto it = root.children.rbegin(); it != root.children.rend(); ++it) stack.push_back({*it, 0});
  while (!stack.empty() && out.size() <= live_.size()) {
    auto [n, depth] = stack.back();
    stack.pop_back();
    out.push_back({n, depth});
    if (n->state & TVIS_EXPANDED)
      for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) stack.push_back({*it, depth + 1});
  }
  return out;
}

RECT TreeViewModel::state_icon_rect(const Window& w, TreeNode* target) const {
  auto rows = visible_rows();
  int indent = 19;
  int base = (w.style & TVS_LINESATROOT) ? indent : 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].first != target) continue;
    int x = base + rows[i].second * indent;
    int y = static_cast<int>(i) * row_height();
    return {x, y, x + 16, y + row_height()};
  }
  return {0, 0, 0, 0};
}

UINT TreeViewModel::hit_test(const Window& w, POINT p, TreeNode** hit) const {
  *hit = nullptr;
  auto rows = visible_rows();
  if (p.y < 0) return TVHT_NOWHERE;
  size_t index = static_cast<size_t>(p.y / row_height());
  if (index >= rows.size()) return TVHT_NOWHERE;
  auto [n, depth] = rows[index];
  *hit = n;
  int indent = 19;
  int x = ((w.style & TVS_LINESATROOT) ? indent : 0) + depth * indent;
  if (p.x < x) return p.x >= x - indent ? TVHT_ONITEMBUTTON : TVHT_ONITEMINDENT;
  UINT state_image = (n->state & TVIS_STATEIMAGEMASK) >> 12;
  if (state_image && (images[TVSIL_STATE] || (w.style & TVS_CHECKBOXES))) {
    if (p.x < x + 16) return TVHT_ONITEMSTATEICON;
    x += 16;
  }
  if (images[TVSIL_NORMAL]) {
    if (p.x < x + 16) return TVHT_ONITEMICON;
    x += 16;
  }
  QFontMetrics m(QtFontFor(w.font));
  if (p.x < x + m.horizontalAdvance(qs(n->text)) + 4) return TVHT_ONITEMLABEL;
  return TVHT_ONITEMRIGHT;
}

bool TreeViewModel::handle(Window& w, UINT message, WPARAM, LPARAM lp, LRESULT& result) {
  if (!is_item_click(message)) return false;
  HWND self = w.handle;
  POINT pt{};
  if (!take_click(w, lp, pt)) return true;
  // Programs read the cursor position of the click.
  POINT screen = pt;
  ClientToScreen(self, &screen);
  SetCursorPos(screen.x, screen.y);
  TreeNode* n = nullptr;
  UINT where = hit_test(w, pt, &n);
  if (message == WM_LBUTTONDOWN && n) {
    if (where == TVHT_ONITEMBUTTON) {
      expand(w, n, TVE_TOGGLE, true);
    } else if (where == TVHT_ONITEMSTATEICON && (w.style & TVS_CHECKBOXES)) {
      UINT image = (n->state & TVIS_STATEIMAGEMASK) >> 12;
      n->state = (n->state & ~TVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(image == 2 ? 1 : 2);
    } else if (where & (TVHT_ONITEMLABEL | TVHT_ONITEMICON)) {
      select(w, n, TVC_BYMOUSE);
    }
  }
  Window* still = FindWindowModel(self);
  if (!still) return true;
  NMHDR nm{};
  NotifyParent(*still, nm, click_notification(message));
  if (message == WM_LBUTTONDBLCLK && n && (still = FindWindowModel(self)) && node(handle_of(n)))
    expand(*still, n, TVE_TOGGLE, true);
  result = 0;
  return true;
}

void TreeViewModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.fillRect(box, Qt::white);
  set_font(p, w);
  int indent = 19;
  int base = (w.style & TVS_LINESATROOT) ? indent : 0;
  auto rows = visible_rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    auto [n, depth] = rows[i];
    int x = base + depth * indent;
    int y = static_cast<int>(i) * row_height();
    bool has_children = !n->children.empty() || n->children_flag != 0;
    if (has_children && (w.style & TVS_HASBUTTONS) && x >= indent) {
      QRect b(x - indent + 4, y + 4, 9, 9);
      p.setPen(QColor(128, 128, 128));
      p.setBrush(Qt::white);
      p.drawRect(b);
      p.drawLine(b.left() + 2, b.center().y(), b.right() - 2, b.center().y());
      if (!(n->state & TVIS_EXPANDED)) p.drawLine(b.center().x(), b.top() + 2, b.center().x(), b.bottom() - 2);
    }
    UINT state_image = (n->state & TVIS_STATEIMAGEMASK) >> 12;
    if (state_image) {
      if (const QImage* st = ImageListImage(images[TVSIL_STATE], static_cast<int>(state_image))) {
        p.drawImage(x, y + 1, *st);
        x += 16;
      } else if (w.style & TVS_CHECKBOXES) {
        QRect mark(x + 1, y + 2, 13, 13);
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawRect(mark.adjusted(0, 0, -1, -1));
        if (state_image == 2) p.fillRect(mark.adjusted(3, 3, -3, -3), Qt::black);
        x += 16;
      }
    }
    if (const QImage* img = ImageListImage(images[TVSIL_NORMAL], n == selected ? n->selected_image : n->image)) {
      p.drawImage(x, y + 1, *img);
      x += 16;
    } else if (images[TVSIL_NORMAL]) {
      x += 16;
    }
    QRect label(x + 2, y, box.width() - x - 2, row_height());
    if (n == selected) {
      QFontMetrics m(p.font());
      QRect sel(label.x(), y, m.horizontalAdvance(qs(n->text)) + 4, row_height());
      p.fillRect(sel, QColor(0, 120, 215));
      p.setPen(Qt::white);
    } else {
      p.setPen(Qt::black);
    }
    p.drawText(label.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, qs(n->text));
  }
}

// ---- progress and slider ----

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

bool SliderModel::handle(Window& w, UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case TBM_GETPOS:
      result = pos;
      return true;
    case TBM_SETPOS:
      pos = std::clamp(static_cast<int>(lp), low, std::max(low, high));
      NotifyWindowRepainted(w);
      result = 0;
      return true;
    case TBM_SETRANGE:
      low = static_cast<SHORT>(LOWORD(lp));
      high = static_cast<SHORT>(HIWORD(lp));
      pos = std::clamp(pos, low, std::max(low, high));
      result = 0;
      return true;
  }
  (void)wp;
  return false;
}

void SliderModel::drag_to(Window& w, int value) {
  HWND self = w.handle;
  pos = std::clamp(value, low, std::max(low, high));
  if (!w.parent) return;
  HWND parent = w.parent->handle;
  UINT scroll = (w.style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
  SendMessageW(parent, scroll, MAKELONG(TB_THUMBPOSITION, static_cast<WORD>(pos)), reinterpret_cast<LPARAM>(self));
  if (!FindWindowModel(self)) return;
  SendMessageW(parent, scroll, MAKELONG(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(self));
  if (Window* still = FindWindowModel(self)) {
    NMHDR nm{};
    NotifyParent(*still, nm, NM_RELEASEDCAPTURE);
  }
}

void SliderModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  p.setPen(QColor(180, 180, 180));
  p.drawLine(4, box.height() / 2, box.width() - 4, box.height() / 2);
  long long span = static_cast<long long>(high) - low;
  int x = span > 0 ? 4 + static_cast<int>((static_cast<long long>(pos) - low) * (box.width() - 8) / span) : 4;
  p.fillRect(QRect(x - 3, box.height() / 2 - 8, 6, 16), QColor(0, 120, 215));
}

std::unique_ptr<ControlModel> MakeControlModel(WindowKind kind, Window&) {
  switch (kind) {
    case WindowKind::Static: return std::make_unique<StaticModel>();
    case WindowKind::Button: return std::make_unique<ButtonModel>();
    case WindowKind::Edit: return std::make_unique<EditModel>();
    case WindowKind::RichEdit: return std::make_unique<RichEditModel>();
    case WindowKind::ListBox: return std::make_unique<ListBoxModel>();
    case WindowKind::ComboBox: return std::make_unique<ComboBoxModel>();
    case WindowKind::ListView: return std::make_unique<ListViewModel>();
    case WindowKind::TreeView: return std::make_unique<TreeViewModel>();
    case WindowKind::Progress: return std::make_unique<ProgressModel>();
    case WindowKind::Slider: return std::make_unique<SliderModel>();
    default: return nullptr;
  }
}

std::unique_ptr<::CWnd> MakeWrapperFor(WindowKind kind) {
  switch (kind) {
    case WindowKind::Static: return std::make_unique<CStatic>();
    case WindowKind::Button: return std::make_unique<CButton>();
    case WindowKind::Edit: return std::make_unique<CEdit>();
    case WindowKind::RichEdit: return std::make_unique<CRichEditCtrl>();
    case WindowKind::ListBox: return std::make_unique<CListBox>();
    case WindowKind::ComboBox: return std::make_unique<CComboBox>();
    case WindowKind::ListView: return std::make_unique<CListCtrl>();
    case WindowKind::TreeView: return std::make_unique<CTreeCtrl>();
    case WindowKind::Progress: return std::make_unique<CProgressCtrl>();
    case WindowKind::Slider: return std::make_unique<CSliderCtrl>();
    default: return std::make_unique<::CWnd>();
  }
}

void AttachResourceImage(Window& w, int image_id) {
  if (auto* s = dynamic_cast<StaticModel*>(w.control.get())) {
    if ((w.style & SS_TYPEMASK) == SS_ICON) {
      s->icon = LoadIconW(nullptr, MAKEINTRESOURCEW(static_cast<UINT_PTR>(image_id)));
    } else {
      s->bitmap = LoadBitmapW(nullptr, MAKEINTRESOURCEW(static_cast<UINT_PTR>(image_id)));
      // A bitmap static takes the bitmap's size unless told otherwise.
      if (s->bitmap && !(w.style & (SS_CENTERIMAGE | SS_REALSIZECONTROL)))
        if (const QImage* img = BitmapImage(s->bitmap))
          w.rect = {w.rect.left, w.rect.top, w.rect.left + img->width(), w.rect.top + img->height()};
    }
  }
}

}  // namespace platform::ui

using namespace platform::ui;

// ---- wrappers ----

HBITMAP CStatic::SetBitmap(HBITMAP b) { return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(b))); }
HBITMAP CStatic::GetBitmap() const { auto* m = ModelOf<StaticModel>(m_hWnd); return m ? m->bitmap : nullptr; }
HICON CStatic::SetIcon(HICON i) { return reinterpret_cast<HICON>(SendMessage(STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(i))); }
HICON CStatic::GetIcon() const { auto* m = ModelOf<StaticModel>(m_hWnd); return m ? m->icon : nullptr; }

int CButton::GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
void CButton::SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
UINT CButton::GetState() const { return static_cast<UINT>(GetCheck()); }
UINT CButton::GetButtonStyle() const { return GetStyle() & 0xFFFF; }
void CButton::SetButtonStyle(UINT style, BOOL) { ModifyStyle(0xFFFF, style & 0xFFFF); }
HBITMAP CButton::SetBitmap(HBITMAP b) { return reinterpret_cast<HBITMAP>(SendMessage(BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(b))); }
HBITMAP CButton::GetBitmap() const { auto* m = ModelOf<ButtonModel>(m_hWnd); return m ? m->bitmap : nullptr; }
HICON CButton::SetIcon(HICON i) { return reinterpret_cast<HICON>(SendMessage(BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(i))); }

void CEdit::SetSel(int start, int end, BOOL) { SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end); }
void CEdit::GetSel(int& start, int& end) const {
  DWORD a = 0, b = 0;
  SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&a), reinterpret_cast<LPARAM>(&b));
  start = static_cast<int>(a);
  end = static_cast<int>(b);
}
void CEdit::ReplaceSel(LPCWSTR text, BOOL) { SendMessage(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text)); }
void CEdit::SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
BOOL CEdit::SetReadOnly(BOOL ro) { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, static_cast<WPARAM>(ro))); }
BOOL CEdit::GetModify() const { auto* m = ModelOf<EditModel>(m_hWnd); return m && m->modified; }
void CEdit::SetModify(BOOL modified) { if (auto* m = ModelOf<EditModel>(m_hWnd)) m->modified = modified != FALSE; }

void CRichEditCtrl::SetSel(long start, long end) {
  CHARRANGE r{static_cast<LONG>(start), static_cast<LONG>(end)};
  SendMessage(EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&r));
}
void CRichEditCtrl::GetSel(long& start, long& end) const {
  CHARRANGE r{0, 0};
  SendMessage(EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&r));
  start = r.cpMin;
  end = r.cpMax;
}
void CRichEditCtrl::ReplaceSel(LPCWSTR text, BOOL) { SendMessage(EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(text)); }
BOOL CRichEditCtrl::SetSelectionCharFormat(CHARFORMAT2W& f) { return static_cast<BOOL>(SendMessage(EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&f))); }
BOOL CRichEditCtrl::SetDefaultCharFormat(CHARFORMAT2W& f) { return static_cast<BOOL>(SendMessage(EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&f))); }
DWORD CRichEditCtrl::GetSelectionCharFormat(CHARFORMAT2W& f) const { return static_cast<DWORD>(SendMessage(EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&f))); }
COLORREF CRichEditCtrl::SetBackgroundColor(BOOL sys, COLORREF c) { return static_cast<COLORREF>(SendMessage(EM_SETBKGNDCOLOR, static_cast<WPARAM>(sys), static_cast<LPARAM>(c))); }
BOOL CRichEditCtrl::SetReadOnly(BOOL ro) { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, static_cast<WPARAM>(ro))); }

namespace {
template <class M>
M* model(HWND h) { return ModelOf<M>(h); }
bool valid_index(const std::vector<ListEntry>& v, int i) { return i >= 0 && static_cast<size_t>(i) < v.size(); }
}  // namespace

#define DRUM_LIST_COMMON(Class, Model)                                                              \
  int Class::AddString(LPCWSTR text) {                                                              \
    Window* w = FindWindowModel(m_hWnd);                                                            \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && text ? m->add(*w, text) : -1;                                                       \
  }                                                                                                 \
  int Class::InsertString(int index, LPCWSTR text) {                                                \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || !text) return -1;                                                                     \
    size_t at = index < 0 || static_cast<size_t>(index) > m->items.size() ? m->items.size() : static_cast<size_t>(index); \
    m->items.insert(m->items.begin() + static_cast<long>(at), ListEntry{text, 0});                 \
    if (m->current >= static_cast<int>(at)) ++m->current;                                           \
    return static_cast<int>(at);                                                                    \
  }                                                                                                 \
  int Class::DeleteString(UINT index) {                                                             \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || index >= m->items.size()) return -1;                                                  \
    m->items.erase(m->items.begin() + index);                                                       \
    if (m->current == static_cast<int>(index)) m->current = -1;                                     \
    else if (m->current > static_cast<int>(index)) --m->current;                                    \
    return static_cast<int>(m->items.size());                                                       \
  }                                                                                                 \
  void Class::ResetContent() {                                                                      \
    if (auto* m = model<Model>(m_hWnd)) { m->items.clear(); m->current = -1; }                      \
  }                                                                                                 \
  int Class::GetCount() const { auto* m = model<Model>(m_hWnd); return m ? static_cast<int>(m->items.size()) : -1; } \
  int Class::GetCurSel() const { auto* m = model<Model>(m_hWnd); return m ? m->current : -1; }     \
  int Class::SetCurSel(int index) {                                                                 \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m) return -1;                                                                              \
    m->current = valid_index(m->items, index) ? index : -1;                                         \
    if (Window* w = FindWindowModel(m_hWnd)) {                                                      \
      m->show_current(*w);                                                                          \
      NotifyWindowRepainted(*w);                                                                    \
    }                                                                                               \
    return m->current == index ? index : -1;                                                        \
  }                                                                                                 \
  DWORD_PTR Class::GetItemData(int index) const {                                                   \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && valid_index(m->items, index) ? m->items[static_cast<size_t>(index)].data : static_cast<DWORD_PTR>(-1); \
  }                                                                                                 \
  int Class::SetItemData(int index, DWORD_PTR data) {                                               \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || !valid_index(m->items, index)) return -1;                                             \
    m->items[static_cast<size_t>(index)].data = data;                                               \
    return 0;                                                                                       \
  }

// The item texts and searches, under each class's names (LB_ERR and CB_ERR
// are both -1).
#define DRUM_LIST_TEXTS(Class, Model, GetItemText, GetItemTextLen)                                  \
  int Class::GetItemText(int index, std::u16string& text) const {                                   \
    auto* m = model<Model>(m_hWnd);                                                                 \
    if (!m || !valid_index(m->items, index)) return LB_ERR;                                         \
    text = m->items[static_cast<size_t>(index)].text;                                               \
    return static_cast<int>(text.size());                                                           \
  }                                                                                                 \
  int Class::GetItemText(int index, CString& text) const {                                          \
    std::u16string t;                                                                               \
    int n = GetItemText(index, t);                                                                  \
    text = CString(t);                                                                              \
    return n;                                                                                       \
  }                                                                                                 \
  int Class::GetItemTextLen(int index) const {                                                      \
    std::u16string t;                                                                               \
    return GetItemText(index, t);                                                                   \
  }                                                                                                 \
  int Class::FindString(int start, LPCWSTR text) const {                                            \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && text ? m->find(text, start, false) : LB_ERR;                                        \
  }                                                                                                 \
  int Class::FindStringExact(int start, LPCWSTR text) const {                                       \
    auto* m = model<Model>(m_hWnd);                                                                 \
    return m && text ? m->find(text, start, true) : LB_ERR;                                         \
  }

static_assert(LB_ERR == CB_ERR);
DRUM_LIST_COMMON(CListBox, ListBoxModel)
DRUM_LIST_COMMON(CComboBox, ComboBoxModel)
DRUM_LIST_TEXTS(CListBox, ListBoxModel, GetText, GetTextLen)
DRUM_LIST_TEXTS(CComboBox, ComboBoxModel, GetLBText, GetLBTextLen)

int CComboBox::SelectString(int start, LPCWSTR text) {
  int i = FindString(start, text);
  if (i >= 0) SetCurSel(i);
  return i;
}

// ---- CListCtrl ----

namespace {
// The three image-list slots of list and tree views (normal, small, state);
// a slot outside them gives null.
CImageList* set_image_list(HIMAGELIST (&lists)[3], CImageList* list, int which) {
  if (which < 0 || which > 2) return nullptr;
  HIMAGELIST old = lists[which];
  lists[which] = list ? list->m_hImageList : nullptr;
  return CImageList::FromHandle(old);
}
CImageList* image_list(const HIMAGELIST (&lists)[3], int which) {
  return which >= 0 && which <= 2 ? CImageList::FromHandle(lists[which]) : nullptr;
}

ListViewModel* lv(HWND h) { return ModelOf<ListViewModel>(h); }
bool valid_row(ListViewModel* m, int row) { return m && row >= 0 && static_cast<size_t>(row) < m->rows.size(); }
}  // namespace

DWORD CListCtrl::SetExtendedStyle(DWORD style) {
  auto* m = lv(m_hWnd);
  if (!m) return 0;
  DWORD old = m->ex_style;
  m->ex_style = style;
  if ((style & LVS_EX_CHECKBOXES) && !(old & LVS_EX_CHECKBOXES))
    for (auto& r : m->rows)
      if (!(r.state & LVIS_STATEIMAGEMASK)) r.state |= INDEXTOSTATEIMAGEMASK(1);
  return old;
}
DWORD CListCtrl::GetExtendedStyle() const { auto* m = lv(m_hWnd); return m ? m->ex_style : 0; }
int CListCtrl::InsertColumn(int index, LPCWSTR heading, int format, int width, int) {
  auto* m = lv(m_hWnd);
  if (!m) return -1;
  size_t at = index < 0 || static_cast<size_t>(index) > m->columns.size() ? m->columns.size() : static_cast<size_t>(index);
  m->columns.insert(m->columns.begin() + static_cast<long>(at), ListViewColumn{heading ? heading : u"", width < 0 ? 60 : width, format});
  for (auto& r : m->rows)
    if (r.texts.size() > at) r.texts.insert(r.texts.begin() + static_cast<long>(at), u"");
  return static_cast<int>(at);
}
BOOL CListCtrl::DeleteColumn(int index) {
  auto* m = lv(m_hWnd);
  if (!m || index < 0 || static_cast<size_t>(index) >= m->columns.size()) return FALSE;
  m->columns.erase(m->columns.begin() + index);
  for (auto& r : m->rows)
    if (static_cast<size_t>(index) < r.texts.size()) r.texts.erase(r.texts.begin() + index);
  return TRUE;
}
int CListCtrl::GetColumnWidth(int index) const {
  auto* m = lv(m_hWnd);
  return m && index >= 0 && static_cast<size_t>(index) < m->columns.size() ? m->columns[static_cast<size_t>(index)].width : 0;
}
BOOL CListCtrl::SetColumnWidth(int index, int width) {
  auto* m = lv(m_hWnd);
  if (!m || index < 0 || static_cast<size_t>(index) >= m->columns.size()) return FALSE;
  m->columns[static_cast<size_t>(index)].width = width;
  return TRUE;
}
int CListCtrl::InsertItem(int index, LPCWSTR text) { return InsertItem(index, text, 0); }
int CListCtrl::InsertItem(int index, LPCWSTR text, int image) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = index;
  item.pszText = const_cast<LPWSTR>(text);
  item.iImage = image;
  return InsertItem(&item);
}
int CListCtrl::InsertItem(const LVITEMW* item) {
  auto* m = lv(m_hWnd);
  if (!m || !item) return -1;
  ListViewRow row;
  row.texts.push_back((item->mask & LVIF_TEXT) && item->pszText ? item->pszText : u"");
  if (item->mask & LVIF_IMAGE) row.image = item->iImage;
  if (item->mask & LVIF_PARAM) row.param = item->lParam;
  if (item->mask & LVIF_STATE) row.state = item->state & item->stateMask;
  if ((m->ex_style & LVS_EX_CHECKBOXES) && !(row.state & LVIS_STATEIMAGEMASK)) row.state |= INDEXTOSTATEIMAGEMASK(1);
  size_t at = item->iItem < 0 || static_cast<size_t>(item->iItem) > m->rows.size() ? m->rows.size() : static_cast<size_t>(item->iItem);
  m->rows.insert(m->rows.begin() + static_cast<long>(at), row);
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return static_cast<int>(at);
}
BOOL CListCtrl::SetItemText(int row, int column, LPCWSTR text) {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row) || column < 0 || column > 255) return FALSE;
  auto& texts = m->rows[static_cast<size_t>(row)].texts;
  if (texts.size() <= static_cast<size_t>(column)) texts.resize(static_cast<size_t>(column) + 1);
  texts[static_cast<size_t>(column)] = text ? text : u"";
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
CString CListCtrl::GetItemText(int row, int column) const {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row) || column < 0) return CString();
  const auto& texts = m->rows[static_cast<size_t>(row)].texts;
  return static_cast<size_t>(column) < texts.size() ? CString(texts[static_cast<size_t>(column)]) : CString();
}
int CListCtrl::GetItemText(int row, int column, LPWSTR buffer, int size) const {
  std::u16string t = GetItemText(row, column).GetString();
  if (!buffer || size <= 0) return 0;
  size_t n = std::min<size_t>(t.size(), static_cast<size_t>(size - 1));
  std::copy(t.begin(), t.begin() + static_cast<long>(n), buffer);
  buffer[n] = 0;
  return static_cast<int>(n);
}
BOOL CListCtrl::SetItemData(int row, DWORD_PTR data) {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row)) return FALSE;
  m->rows[static_cast<size_t>(row)].param = static_cast<LPARAM>(data);
  return TRUE;
}
DWORD_PTR CListCtrl::GetItemData(int row) const {
  auto* m = lv(m_hWnd);
  return valid_row(m, row) ? static_cast<DWORD_PTR>(m->rows[static_cast<size_t>(row)].param) : 0;
}
BOOL CListCtrl::SetItem(const LVITEMW* item) {
  auto* m = lv(m_hWnd);
  if (!item || !valid_row(m, item->iItem)) return FALSE;
  if (item->mask & LVIF_TEXT) SetItemText(item->iItem, item->iSubItem, item->pszText);
  auto& row = m->rows[static_cast<size_t>(item->iItem)];
  if (item->mask & LVIF_IMAGE) row.image = item->iImage;
  if (item->mask & LVIF_PARAM) row.param = item->lParam;
  if (item->mask & LVIF_STATE) return SetItemState(item->iItem, item->state, item->stateMask);
  return TRUE;
}
BOOL CListCtrl::GetItem(LVITEMW* item) const {
  auto* m = lv(m_hWnd);
  if (!item || !valid_row(m, item->iItem)) return FALSE;
  const auto& row = m->rows[static_cast<size_t>(item->iItem)];
  if (item->mask & LVIF_TEXT) GetItemText(item->iItem, item->iSubItem, item->pszText, item->cchTextMax);
  if (item->mask & LVIF_IMAGE) item->iImage = row.image;
  if (item->mask & LVIF_PARAM) item->lParam = row.param;
  if (item->mask & LVIF_STATE) item->state = row.state & item->stateMask;
  return TRUE;
}
BOOL CListCtrl::SetItemState(int row, UINT state, UINT mask) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = lv(m_hWnd);
  if (!w || !m) return FALSE;
  if (row == -1) {
    BOOL all = TRUE;
    for (size_t i = 0; i < m->rows.size(); ++i)
      if (!m->set_state(*w, static_cast<int>(i), state, mask)) all = FALSE;
    return all;
  }
  return m->set_state(*w, row, state, mask) ? TRUE : FALSE;
}
UINT CListCtrl::GetItemState(int row, UINT mask) const {
  auto* m = lv(m_hWnd);
  return valid_row(m, row) ? m->rows[static_cast<size_t>(row)].state & mask : 0;
}
BOOL CListCtrl::SetCheck(int row, BOOL check) {
  return SetItemState(row, INDEXTOSTATEIMAGEMASK(check ? 2 : 1), LVIS_STATEIMAGEMASK);
}
BOOL CListCtrl::GetCheck(int row) const {
  return ((GetItemState(row, LVIS_STATEIMAGEMASK) >> 12) - 1) == 1;
}
BOOL CListCtrl::DeleteItem(int row) {
  auto* m = lv(m_hWnd);
  if (!valid_row(m, row)) return FALSE;
  m->rows.erase(m->rows.begin() + row);
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
BOOL CListCtrl::DeleteAllItems() {
  auto* m = lv(m_hWnd);
  if (!m) return FALSE;
  m->rows.clear();
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
int CListCtrl::GetItemCount() const { auto* m = lv(m_hWnd); return m ? static_cast<int>(m->rows.size()) : 0; }
int CListCtrl::GetNextItem(int start, int flags) const {
  auto* m = lv(m_hWnd);
  if (!m) return -1;
  for (size_t i = static_cast<size_t>(std::max(start + 1, 0)); i < m->rows.size(); ++i) {
    UINT s = m->rows[i].state;
    if (flags == LVNI_ALL) return static_cast<int>(i);
    if ((flags & LVNI_SELECTED) && !(s & LVIS_SELECTED)) continue;
    if ((flags & LVNI_FOCUSED) && !(s & LVIS_FOCUSED)) continue;
    return static_cast<int>(i);
  }
  return -1;
}
int CListCtrl::GetSelectionMark() const { return GetNextItem(-1, LVNI_SELECTED); }
int CListCtrl::GetSelectedCount() const {
  auto* m = lv(m_hWnd);
  if (!m) return 0;
  return static_cast<int>(std::count_if(m->rows.begin(), m->rows.end(), [](const ListViewRow& r) { return (r.state & LVIS_SELECTED) != 0; }));
}
CImageList* CListCtrl::SetImageList(CImageList* list, int which) {
  auto* m = lv(m_hWnd);
  return m ? set_image_list(m->images, list, which) : nullptr;
}
CImageList* CListCtrl::GetImageList(int which) const {
  auto* m = lv(m_hWnd);
  return m ? image_list(m->images, which) : nullptr;
}
int CListCtrl::HitTest(LVHITTESTINFO* info) const {
  auto* m = lv(m_hWnd);
  Window* w = FindWindowModel(m_hWnd);
  if (!m || !w || !info) return -1;
  info->flags = LVHT_NOWHERE;
  info->iItem = -1;
  for (size_t i = 0; i < m->rows.size(); ++i) {
    RECT r = m->row_rect(*w, static_cast<int>(i));
    if (!PtInRect(&r, info->pt)) continue;
    info->iItem = static_cast<int>(i);
    info->flags = ((m->ex_style & LVS_EX_CHECKBOXES) && info->pt.x < 18) ? LVHT_ONITEMSTATEICON : LVHT_ONITEMLABEL;
    return info->iItem;
  }
  return -1;
}
int CListCtrl::HitTest(CPoint point, UINT* flags) const {
  LVHITTESTINFO info{point, 0, -1, 0};
  int r = HitTest(&info);
  if (flags) *flags = info.flags;
  return r;
}
BOOL CListCtrl::GetItemRect(int row, LPRECT rect, UINT) const {
  auto* m = lv(m_hWnd);
  Window* w = FindWindowModel(m_hWnd);
  if (!valid_row(m, row) || !w || !rect) return FALSE;
  *rect = m->row_rect(*w, row);
  return TRUE;
}

// ---- CTreeCtrl ----

namespace {
TreeViewModel* tv(HWND h) { return ModelOf<TreeViewModel>(h); }
}  // namespace

HTREEITEM CTreeCtrl::InsertItem(const TVINSERTSTRUCTW* insert) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  return w && m && insert ? m->insert(*w, *insert) : nullptr;
}
HTREEITEM CTreeCtrl::InsertItem(LPCWSTR text, HTREEITEM parent, HTREEITEM after) {
  TVINSERTSTRUCTW in{};
  in.hParent = parent;
  in.hInsertAfter = after;
  in.item.mask = TVIF_TEXT;
  in.item.pszText = const_cast<LPWSTR>(text);
  return InsertItem(&in);
}
HTREEITEM CTreeCtrl::InsertItem(LPCWSTR text, int image, int selected_image, HTREEITEM parent, HTREEITEM after) {
  TVINSERTSTRUCTW in{};
  in.hParent = parent;
  in.hInsertAfter = after;
  in.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  in.item.pszText = const_cast<LPWSTR>(text);
  in.item.iImage = image;
  in.item.iSelectedImage = selected_image;
  return InsertItem(&in);
}
BOOL CTreeCtrl::DeleteItem(HTREEITEM item) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  if (!w || !m) return FALSE;
  if (item == TVI_ROOT || !item) return m->remove(*w, &m->root);
  return m->remove(*w, m->node(item));
}
BOOL CTreeCtrl::DeleteAllItems() { return DeleteItem(TVI_ROOT); }
HTREEITEM CTreeCtrl::GetRootItem() const {
  auto* m = tv(m_hWnd);
  return m && !m->root.children.empty() ? m->handle_of(m->root.children.front()) : nullptr;
}
HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? (item == TVI_ROOT || !item ? &m->root : m->node(item)) : nullptr;
  return n && !n->children.empty() ? m->handle_of(n->children.front()) : nullptr;
}
HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n || !n->parent) return nullptr;
  auto& s = n->parent->children;
  auto it = std::find(s.begin(), s.end(), n);
  return it != s.end() && it + 1 != s.end() ? m->handle_of(*(it + 1)) : nullptr;
}
HTREEITEM CTreeCtrl::GetPrevSiblingItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n || !n->parent) return nullptr;
  auto& s = n->parent->children;
  auto it = std::find(s.begin(), s.end(), n);
  return it != s.end() && it != s.begin() ? m->handle_of(*(it - 1)) : nullptr;
}
HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n && n->parent && n->parent != &m->root ? m->handle_of(n->parent) : nullptr;
}
HTREEITEM CTreeCtrl::GetNextItem(HTREEITEM item, UINT code) const {
  switch (code) {
    case TVGN_ROOT: return GetRootItem();
    case TVGN_NEXT: return GetNextSiblingItem(item);
    case TVGN_PREVIOUS: return GetPrevSiblingItem(item);
    case TVGN_PARENT: return GetParentItem(item);
    case TVGN_CHILD: return GetChildItem(item);
    case TVGN_CARET: return GetSelectedItem();
  }
  return nullptr;
}
HTREEITEM CTreeCtrl::GetSelectedItem() const {
  auto* m = tv(m_hWnd);
  return m && m->selected ? m->handle_of(m->selected) : nullptr;
}
BOOL CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n && (!n->children.empty() || n->children_flag != 0);
}
CString CTreeCtrl::GetItemText(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n ? CString(n->text) : CString();
}
BOOL CTreeCtrl::SetItemText(HTREEITEM item, LPCWSTR text) {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n) return FALSE;
  n->text = text ? text : u"";
  return TRUE;
}
DWORD_PTR CTreeCtrl::GetItemData(HTREEITEM item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n ? static_cast<DWORD_PTR>(n->param) : 0;
}
BOOL CTreeCtrl::SetItemData(HTREEITEM item, DWORD_PTR data) {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n) return FALSE;
  n->param = static_cast<LPARAM>(data);
  return TRUE;
}
BOOL CTreeCtrl::GetItem(TVITEMW* item) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m && item ? m->node(item->hItem) : nullptr;
  if (!n) return FALSE;
  if (item->mask & TVIF_TEXT && item->pszText && item->cchTextMax > 0) {
    size_t k = std::min<size_t>(n->text.size(), static_cast<size_t>(item->cchTextMax - 1));
    std::copy(n->text.begin(), n->text.begin() + static_cast<long>(k), item->pszText);
    item->pszText[k] = 0;
  }
  if (item->mask & TVIF_IMAGE) item->iImage = n->image;
  if (item->mask & TVIF_SELECTEDIMAGE) item->iSelectedImage = n->selected_image;
  if (item->mask & TVIF_STATE) item->state = n->state & (item->stateMask ? item->stateMask : 0xFFFF);
  if (item->mask & TVIF_CHILDREN) item->cChildren = !n->children.empty() ? 1 : n->children_flag;
  if (item->mask & TVIF_PARAM) item->lParam = n->param;
  return TRUE;
}
BOOL CTreeCtrl::SetItem(TVITEMW* item) {
  auto* m = tv(m_hWnd);
  TreeNode* n = m && item ? m->node(item->hItem) : nullptr;
  if (!n) return FALSE;
  if ((item->mask & TVIF_TEXT) && item->pszText) n->text = item->pszText;
  if (item->mask & TVIF_IMAGE) n->image = item->iImage;
  if (item->mask & TVIF_SELECTEDIMAGE) n->selected_image = item->iSelectedImage;
  if (item->mask & TVIF_STATE) n->state = (n->state & ~item->stateMask) | (item->state & item->stateMask);
  if (item->mask & TVIF_CHILDREN) n->children_flag = item->cChildren;
  if (item->mask & TVIF_PARAM) n->param = item->lParam;
  if (Window* w = FindWindowModel(m_hWnd)) NotifyWindowRepainted(*w);
  return TRUE;
}
UINT CTreeCtrl::GetItemState(HTREEITEM item, UINT mask) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  return n ? n->state & mask : 0;
}
BOOL CTreeCtrl::SetItemState(HTREEITEM item, UINT state, UINT mask) {
  TVITEMW it{};
  it.mask = TVIF_STATE;
  it.hItem = item;
  it.state = state;
  it.stateMask = mask;
  return SetItem(&it);
}
BOOL CTreeCtrl::GetItemImage(HTREEITEM item, int& image, int& selected_image) const {
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!n) return FALSE;
  image = n->image;
  selected_image = n->selected_image;
  return TRUE;
}
BOOL CTreeCtrl::SetItemImage(HTREEITEM item, int image, int selected_image) {
  TVITEMW it{};
  it.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  it.hItem = item;
  it.iImage = image;
  it.iSelectedImage = selected_image;
  return SetItem(&it);
}
BOOL CTreeCtrl::GetCheck(HTREEITEM item) const { return (GetItemState(item, TVIS_STATEIMAGEMASK) >> 12) == 2; }
BOOL CTreeCtrl::SetCheck(HTREEITEM item, BOOL check) {
  return SetItemState(item, INDEXTOSTATEIMAGEMASK(check ? 2 : 1), TVIS_STATEIMAGEMASK);
}
BOOL CTreeCtrl::Expand(HTREEITEM item, UINT code) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  return w && m && m->expand(*w, m->node(item), code, false) ? TRUE : FALSE;
}
BOOL CTreeCtrl::SelectItem(HTREEITEM item) {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  if (!w || !m) return FALSE;
  TreeNode* n = item ? m->node(item) : nullptr;
  if (item && !n) return FALSE;
  return m->select(*w, n, TVC_UNKNOWN) ? TRUE : FALSE;
}
HTREEITEM CTreeCtrl::HitTest(CPoint point, UINT* flags) const {
  TVHITTESTINFO info{point, 0, nullptr};
  HTREEITEM h = HitTest(&info);
  if (flags) *flags = info.flags;
  return h;
}
HTREEITEM CTreeCtrl::HitTest(TVHITTESTINFO* info) const {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  if (!w || !m || !info) return nullptr;
  TreeNode* n = nullptr;
  info->flags = m->hit_test(*w, info->pt, &n);
  info->hItem = n ? m->handle_of(n) : nullptr;
  return info->hItem;
}
CImageList* CTreeCtrl::SetImageList(CImageList* list, int which) {
  auto* m = tv(m_hWnd);
  return m ? set_image_list(m->images, list, which) : nullptr;
}
CImageList* CTreeCtrl::GetImageList(int which) const {
  auto* m = tv(m_hWnd);
  return m ? image_list(m->images, which) : nullptr;
}
UINT CTreeCtrl::GetCount() const {
  auto* m = tv(m_hWnd);
  if (!m) return 0;
  UINT count = 0;
  std::vector<TreeNode*> stack(m->root.children.begin(), m->root.children.end());
  while (!stack.empty()) {
    TreeNode* n = stack.back();
    stack.pop_back();
    ++count;
    stack.insert(stack.end(), n->children.begin(), n->children.end());
  }
  return count;
}
BOOL CTreeCtrl::GetItemRect(HTREEITEM item, LPRECT rect, BOOL) const {
  Window* w = FindWindowModel(m_hWnd);
  auto* m = tv(m_hWnd);
  TreeNode* n = m ? m->node(item) : nullptr;
  if (!w || !n || !rect) return FALSE;
  RECT r = m->state_icon_rect(*w, n);
  if (r.right == 0) return FALSE;
  RECT c = w->client_rect();
  *rect = {r.left, r.top, c.right, r.bottom};
  return TRUE;
}

void CProgressCtrl::SetRange32(int low, int high) { SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(low), high); }
void CProgressCtrl::GetRange(int& low, int& high) const {
  auto* m = ModelOf<ProgressModel>(m_hWnd);
  low = m ? m->low : 0;
  high = m ? m->high : 0;
}
int CProgressCtrl::SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(pos))); }
int CProgressCtrl::GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
int CProgressCtrl::OffsetPos(int delta) { return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(delta))); }
int CProgressCtrl::SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
int CProgressCtrl::StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }

void CSliderCtrl::SetRange(int low, int high, BOOL) {
  if (auto* m = ModelOf<SliderModel>(m_hWnd)) {
    m->low = low;
    m->high = high;
    m->pos = std::clamp(m->pos, low, std::max(low, high));
  }
}
void CSliderCtrl::GetRange(int& low, int& high) const {
  auto* m = ModelOf<SliderModel>(m_hWnd);
  low = m ? m->low : 0;
  high = m ? m->high : 0;
}
void CSliderCtrl::SetRangeMin(int low, BOOL r) { int l, h; GetRange(l, h); SetRange(low, h, r); }
void CSliderCtrl::SetRangeMax(int high, BOOL r) { int l, h; GetRange(l, h); SetRange(l, high, r); }
int CSliderCtrl::GetRangeMin() const { int l, h; GetRange(l, h); return l; }
int CSliderCtrl::GetRangeMax() const { int l, h; GetRange(l, h); return h; }
void CSliderCtrl::SetPos(int pos) { SendMessage(TBM_SETPOS, TRUE, pos); }
int CSliderCtrl::GetPos() const { return static_cast<int>(SendMessage(TBM_GETPOS)); }
