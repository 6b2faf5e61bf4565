// Rich edit fields: per-character formats over an edit field.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/controls/edit_control.h"

class QFont;
class QTextDocument;

constexpr UINT EM_EXGETSEL = WM_USER + 52;
constexpr UINT EM_EXSETSEL = WM_USER + 55;
constexpr UINT EM_GETCHARFORMAT = WM_USER + 58;
constexpr UINT EM_SETBKGNDCOLOR = WM_USER + 67;
constexpr UINT EM_SETCHARFORMAT = WM_USER + 68;

constexpr DWORD CFM_BOLD = 0x1;
constexpr DWORD CFM_ITALIC = 0x2;
constexpr DWORD CFM_UNDERLINE = 0x4;
constexpr DWORD CFM_WEIGHT = 0x400000;
constexpr DWORD CFM_FACE = 0x20000000;
constexpr DWORD CFM_COLOR = 0x40000000;
constexpr DWORD CFM_SIZE = 0x80000000;
constexpr DWORD CFE_BOLD = 0x1;
constexpr DWORD CFE_ITALIC = 0x2;
constexpr DWORD CFE_AUTOCOLOR = 0x40000000;
constexpr UINT SCF_DEFAULT = 0x0;
constexpr UINT SCF_SELECTION = 0x1;
constexpr UINT SCF_ALL = 0x4;

struct CHARRANGE {
  LONG cpMin;
  LONG cpMax;
};

struct CHARFORMAT2W {
  UINT cbSize;
  DWORD dwMask;
  DWORD dwEffects;
  LONG yHeight;  // twips
  LONG yOffset;
  COLORREF crTextColor;
  BYTE bCharSet;
  BYTE bPitchAndFamily;
  WCHAR szFaceName[32];
  WORD wWeight;
  SHORT sSpacing;
  COLORREF crBackColor;
  DWORD lcid;
};

namespace platform::ui {

struct CharFormat {
  COLORREF color = 0;
  bool auto_color = true;
  bool bold = false;
  bool italic = false;
  std::u16string face;
  LONG height_twips = 0;
  bool operator==(const CharFormat&) const = default;
};

class RichEditModel : public EditModel {
 public:
  std::vector<CharFormat> formats;  // one per character of the text
  CharFormat default_format;
  COLORREF background = RGB(255, 255, 255);
  bool system_background = true;
  bool handle(Window&, UINT, WPARAM, LPARAM, LRESULT&) override;
  void draw(Window&, QPainter&) override;
  // Runs of equal format: (start, length, format).
  struct Run {
    int start;
    int length;
    CharFormat format;
  };
  std::vector<Run> runs(const Window& w) const;
  // The colours it paints with, asked of the parent: WM_CTLCOLORSTATIC when
  // read-only or disabled, WM_CTLCOLOREDIT otherwise. `auto_text` is for
  // text whose format has no colour of its own (CFE_AUTOCOLOR). The
  // background is none for WS_EX_TRANSPARENT, a null brush or transparent
  // mode; the parent's own brush when it returns one; else the control's
  // (EM_SETBKGNDCOLOR, or the window colour).
  struct Colours {
    COLORREF auto_text = 0;
    bool has_background = true;
    COLORREF background = 0;
    bool alive = true;  // the control still exists after its parent was asked
  };
  Colours colours(Window& w) const;
  // A multi-line control (ES_MULTILINE without a horizontal scroll bar)
  // wraps its lines at the width of its rectangle; a single-line one keeps
  // its text on one line.
  static bool wraps(const Window& w);
  // The blank kept between the rectangle's edges and the text, in pixels.
  static constexpr int kTextMargin = 1;
  // Lays the text into `doc` as runs of their own face, size, weight, slant
  // and colour over `base` (the control's font); text of automatic colour
  // takes `auto_text`. The document's margin and wrapping are those the
  // control shows, for a rectangle `width` pixels wide.
  void layout_document(const Window& w, QTextDocument& doc, const QFont& base, COLORREF auto_text, int width) const;
};

}  // namespace platform::ui
