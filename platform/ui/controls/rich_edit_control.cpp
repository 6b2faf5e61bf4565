// Rich edit fields.
#include "platform/ui/controls/rich_edit_control.h"

#include <QFontMetrics>
#include <QImage>
#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "platform/core/error.h"
#include "platform/ui/controls/control_support.h"
#include "platform/ui/font_faces.h"
#include "platform/ui/message_queue.h"
#include "platform/ui/resources.h"

namespace platform::ui {

using namespace control_support;

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
    case WM_SETFONT: {
      // The font becomes the default format of all the text: its weight and
      // slant replace those of every character (later EM_SETCHARFORMAT
      // calls change them again). The default procedure keeps the font.
      LOGFONTW lf{};
      if (wp && GetObjectW(reinterpret_cast<HGDIOBJ>(wp), sizeof(lf), &lf) == static_cast<int>(sizeof(lf))) {
        const bool bold = lf.lfWeight >= 600;
        const bool italic = lf.lfItalic != 0;
        default_format.bold = bold;
        default_format.italic = italic;
        for (CharFormat& f : formats) {
          f.bold = bold;
          f.italic = italic;
        }
      }
      return false;
    }
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

bool RichEditModel::wraps(const Window& w) { return (w.style & ES_MULTILINE) && !(w.style & WS_HSCROLL); }

void RichEditModel::layout_document(const Window& w, QTextDocument& doc, const QFont& base, COLORREF auto_text,
                                    int width) const {
  doc.clear();
  doc.setDocumentMargin(kTextMargin);
  doc.setDefaultFont(base);
  QTextOption option = doc.defaultTextOption();
  option.setWrapMode(wraps(w) ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  doc.setDefaultTextOption(option);
  doc.setTextWidth(wraps(w) ? std::max(width, 1) : -1);
  QTextCursor cursor(&doc);
  for (const Run& run : runs(w)) {
    QTextCharFormat f;
    QFont font = base;
    if (!run.format.face.empty()) font.setFamilies(QtFamiliesFor(run.format.face));
    if (run.format.height_twips > 0)  // twips to pixels at 96 per inch, within a sane size
      font.setPixelSize(static_cast<int>(std::clamp<long long>(run.format.height_twips * 96LL / 1440, 1, 1000)));
    font.setBold(run.format.bold);
    font.setItalic(run.format.italic);
    f.setFont(font);
    f.setForeground(qc(run.format.auto_color ? auto_text : run.format.color));
    // Line ends of either kind start a new paragraph.
    QString piece = qs(w.text.substr(static_cast<size_t>(run.start), static_cast<size_t>(run.length)));
    piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
    cursor.insertText(piece, f);
  }
}

void RichEditModel::draw(Window& w, QPainter& p) {
  QRect box = client_qrect(w);
  const Colours chosen = colours(w);
  if (!chosen.alive) return;
  if (chosen.has_background) p.fillRect(box, qc(chosen.background));
  QTextDocument doc;
  layout_document(w, doc, QtFontFor(w.font), chosen.auto_text, box.width());
  p.save();
  p.setClipRect(box, Qt::IntersectClip);
  QAbstractTextDocumentLayout::PaintContext context;
  context.palette.setColor(QPalette::Text, qc(chosen.auto_text));
  doc.documentLayout()->draw(&p, context);
  p.restore();
}

}  // namespace platform::ui
