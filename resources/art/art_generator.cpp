// Draws every picture of Drummetworks: the tool pictures of the main dialog
// (normal, selected and hover, in an English and a Japanese set), the banner
// and its animation frames, the backgrounds, the splash, the menu icons and
// the program icon. Run at build time:
//
//   drum_art OUTPUT_FOLDER
//
// writes NNN.bmp (8 bits with a palette; the splash, the background tile, the
// strip and the 16 x 16 list pictures 24 bits per pixel) and NNN.ico (PNG entries) into the
// folder, and drummet_art.rc, a resource script with a BITMAP or ICON line
// for each, which the dialog scripts include.
#include <QByteArray>
#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QVector>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "resources/menu_commands.h"

namespace {

// One calm palette for every picture.
const QColor kNavy(16, 42, 78);
const QColor kDeep(24, 62, 108);
const QColor kTeal(0, 128, 140);
const QColor kSky(214, 232, 246);
const QColor kMist(244, 248, 252);
const QColor kInk(28, 40, 56);
const QColor kAccent(240, 176, 64);

enum class Glyph { OneClick, Duplicate, Delete, Scan, Partition, Files, Driver, Usb, Exit, Help, About, Program };

struct Tool {
  Glyph glyph;
  const char* english;
  const char* japanese;
  unsigned english_ids[3];  // normal, selected, hover
  unsigned other_ids[3];
  unsigned banner[3];
};

// The picture codes 1 to 6 of the main dialog, in order.
const Tool kTools[] = {
    {Glyph::Duplicate, "Duplicate Disk/\nPartition", "ディスク/パーティション\nの複製", {185, 187, 186}, {283, 285, 284}, {251, 252, 253}},
    {Glyph::Delete, "Delete Disk/\nPartition", "ディスク/パーティション\nの消去", {182, 184, 183}, {286, 199, 287}, {254, 255, 256}},
    {Glyph::Scan, "Scan New Disk/\nPartition", "新しいディスク/\nパーティションのスキャン", {188, 190, 189}, {292, 294, 293}, {257, 258, 259}},
    {Glyph::OneClick, "One Click Copy", "ワンクリック コピー", {222, 231, 230}, {289, 291, 290}, {260, 261, 262}},
    {Glyph::Partition, "Partition Manager", "パーティション管理", {250, 267, 266}, {295, 297, 296}, {263, 264, 265}},
    {Glyph::Files, "Files/Folders\nMigration", "ファイル/フォルダー\nの移行", {300, 302, 299}, {1204, 303, 301}, {304, 305, 306}},
};

struct MenuIcon {
  unsigned id;
  Glyph glyph;
};
const MenuIcon kMenuIcons[] = {
    {shell::kCmdDuplicate, Glyph::Duplicate},
    {shell::kCmdDelete, Glyph::Delete},
    {shell::kCmdViewer, Glyph::Scan},
    {shell::kCmdScan, Glyph::Scan},
    {shell::kCmdExit, Glyph::Exit},
    {shell::kCmdHelp, Glyph::Help},
    {shell::kCmdAbout, Glyph::About},
    {shell::kCmdDriverInstallation, Glyph::Driver},
    {shell::kCmdDiagnose, Glyph::About},
    {shell::kCmdOneClick, Glyph::OneClick},
    {shell::kCmdFilesMigration, Glyph::Files},
    {shell::kCmdPellimorTools, Glyph::Usb},
    {shell::kCmdUsbToolInstaller, Glyph::Usb},
    {shell::kCmdPartitionManager, Glyph::Partition},
    {shell::kCmdPellimorResources, Glyph::Usb},
};

QString q(const char* utf8) { return QString::fromUtf8(utf8); }

QFont font(bool japanese, double pixels, bool bold) {
  QFont f(japanese ? "IPAGothic" : "DejaVu Sans");
  f.setPixelSize(static_cast<int>(pixels));
  f.setBold(bold);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

// A disk drawn as a short cylinder inside `r`.
void draw_disk(QPainter& p, const QRectF& r, const QColor& body, const QColor& line) {
  double lip = r.height() * 0.28;
  QRectF top(r.left(), r.top(), r.width(), lip);
  QPainterPath path;
  path.moveTo(r.left(), r.top() + lip / 2);
  path.lineTo(r.left(), r.bottom() - lip / 2);
  path.arcTo(QRectF(r.left(), r.bottom() - lip, r.width(), lip), 180, 180);
  path.lineTo(r.right(), r.top() + lip / 2);
  path.arcTo(top, 0, -180);
  p.setPen(QPen(line, std::max(1.0, r.width() / 18)));
  p.setBrush(body);
  p.drawPath(path);
  p.setBrush(body.lighter(125));
  p.drawEllipse(top);
}

// The glyph of a tool or command, drawn to fill `r` (a square).
void draw_glyph(QPainter& p, Glyph g, const QRectF& r, const QColor& main, const QColor& line) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  double s = r.width();
  auto at = [&](double x, double y) { return QPointF(r.left() + x * s, r.top() + y * s); };
  auto box = [&](double x, double y, double w, double h) { return QRectF(at(x, y), QSizeF(w * s, h * s)); };
  QPen pen(line, std::max(1.0, s / 14), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  switch (g) {
    case Glyph::Duplicate:
      draw_disk(p, box(0.05, 0.08, 0.5, 0.5), main.lighter(140), line);
      draw_disk(p, box(0.45, 0.42, 0.5, 0.5), main, line);
      break;
    case Glyph::Delete:
      draw_disk(p, box(0.1, 0.15, 0.8, 0.7), main, line);
      p.setPen(QPen(QColor(200, 50, 50), std::max(1.5, s / 8), Qt::SolidLine, Qt::RoundCap));
      p.drawLine(at(0.3, 0.42), at(0.7, 0.78));
      p.drawLine(at(0.7, 0.42), at(0.3, 0.78));
      break;
    case Glyph::Scan:
      draw_disk(p, box(0.05, 0.1, 0.65, 0.6), main, line);
      p.setPen(QPen(line, std::max(1.5, s / 9), Qt::SolidLine, Qt::RoundCap));
      p.setBrush(QColor(255, 255, 255, 150));
      p.drawEllipse(box(0.42, 0.42, 0.38, 0.38));
      p.drawLine(at(0.76, 0.76), at(0.95, 0.95));
      break;
    case Glyph::OneClick: {
      p.setPen(pen);
      p.setBrush(main);
      QPolygonF bolt;
      bolt << at(0.58, 0.04) << at(0.18, 0.56) << at(0.46, 0.56) << at(0.36, 0.96) << at(0.82, 0.40)
           << at(0.54, 0.40) << at(0.66, 0.04);
      p.drawPolygon(bolt);
      break;
    }
    case Glyph::Partition:
      p.setPen(pen);
      p.setBrush(main.lighter(150));
      p.drawPie(box(0.08, 0.08, 0.84, 0.84), 90 * 16, 250 * 16);
      p.setBrush(main);
      p.drawPie(box(0.12, 0.04, 0.84, 0.84), 90 * 16, -110 * 16);
      break;
    case Glyph::Files: {
      p.setPen(pen);
      p.setBrush(kAccent);
      QPainterPath folder;
      folder.moveTo(at(0.06, 0.26));
      folder.lineTo(at(0.38, 0.26));
      folder.lineTo(at(0.46, 0.36));
      folder.lineTo(at(0.94, 0.36));
      folder.lineTo(at(0.94, 0.86));
      folder.lineTo(at(0.06, 0.86));
      folder.closeSubpath();
      p.drawPath(folder);
      // Navy reads on the orange folder in every state of the picture.
      p.setPen(QPen(kNavy, std::max(1.5, s / 10), Qt::SolidLine, Qt::RoundCap));
      p.drawLine(at(0.28, 0.61), at(0.70, 0.61));
      p.drawLine(at(0.58, 0.49), at(0.72, 0.61));
      p.drawLine(at(0.58, 0.73), at(0.72, 0.61));
      break;
    }
    case Glyph::Driver:
      p.setPen(pen);
      p.setBrush(main);
      p.drawRoundedRect(box(0.22, 0.22, 0.56, 0.56), s * 0.06, s * 0.06);
      for (int i = 0; i < 3; ++i) {
        double o = 0.32 + i * 0.18;
        p.drawLine(at(o, 0.06), at(o, 0.22));
        p.drawLine(at(o, 0.78), at(o, 0.94));
        p.drawLine(at(0.06, o), at(0.22, o));
        p.drawLine(at(0.78, o), at(0.94, o));
      }
      break;
    case Glyph::Usb:
      p.setPen(pen);
      p.setBrush(main);
      p.drawRoundedRect(box(0.28, 0.34, 0.44, 0.62), s * 0.06, s * 0.06);
      p.setBrush(QColor(210, 210, 215));
      p.drawRect(box(0.36, 0.06, 0.28, 0.28));
      break;
    case Glyph::Exit:
      p.setPen(pen);
      p.setBrush(main.lighter(150));
      p.drawRect(box(0.12, 0.08, 0.46, 0.84));
      p.setPen(QPen(QColor(200, 60, 40), std::max(1.5, s / 9), Qt::SolidLine, Qt::RoundCap));
      p.drawLine(at(0.42, 0.5), at(0.92, 0.5));
      p.drawLine(at(0.76, 0.34), at(0.92, 0.5));
      p.drawLine(at(0.76, 0.66), at(0.92, 0.5));
      break;
    case Glyph::Help:
    case Glyph::About: {
      p.setPen(pen);
      p.setBrush(main);
      p.drawEllipse(box(0.06, 0.06, 0.88, 0.88));
      QFont f("DejaVu Sans");
      f.setBold(true);
      f.setPixelSize(std::max(6, static_cast<int>(s * 0.66)));
      p.setFont(f);
      p.setPen(Qt::white);
      p.drawText(r, Qt::AlignCenter, g == Glyph::Help ? "?" : "i");
      break;
    }
    case Glyph::Program:
      draw_disk(p, box(0.08, 0.06, 0.84, 0.62), main, line);
      p.setPen(QPen(kAccent, std::max(1.5, s / 8), Qt::SolidLine, Qt::RoundCap));
      p.drawLine(at(0.2, 0.84), at(0.8, 0.84));
      p.drawLine(at(0.64, 0.72), at(0.8, 0.84));
      p.drawLine(at(0.64, 0.96), at(0.8, 0.84));
      break;
  }
  p.restore();
}

// A tool picture of the main dialog (240 x 60): 0 normal, 1 selected, 2 hover.
QImage tool_picture(const Tool& tool, bool japanese, int state) {
  QImage image(240, 60, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  image.fill(kDeep);
  QRectF frame(1.5, 1.5, 237, 57);
  QLinearGradient fill(0, 0, 0, 60);
  QColor text = kInk;
  QColor border = kSky.darker(140);
  if (state == 0) {
    fill.setColorAt(0, kMist);
    fill.setColorAt(1, kSky);
  } else if (state == 1) {
    fill.setColorAt(0, kTeal.lighter(115));
    fill.setColorAt(1, kTeal.darker(115));
    text = Qt::white;
    border = kAccent;
  } else {
    fill.setColorAt(0, Qt::white);
    fill.setColorAt(1, QColor(228, 242, 252));
    border = kTeal;
  }
  p.setPen(QPen(border, state == 0 ? 1.5 : 3));
  p.setBrush(fill);
  p.drawRoundedRect(frame, 10, 10);
  QColor glyph_main = state == 1 ? QColor(230, 244, 248) : kTeal;
  draw_glyph(p, tool.glyph, QRectF(10, 9, 42, 42), glyph_main, state == 1 ? Qt::white : kNavy);
  p.setPen(text);
  QString label = japanese ? q(tool.japanese) : q(tool.english);
  double size = japanese ? 16 : 15;
  QFont f = font(japanese, size, true);
  QRectF text_box(60, 4, 172, 52);
  // The labels carry their own line breaks; shrink until the lines fit.
  for (; size > 9; size -= 0.5) {
    f.setPixelSize(static_cast<int>(size));
    QFontMetricsF m(f);
    QRectF need = m.boundingRect(text_box, Qt::AlignVCenter | Qt::AlignLeft, label);
    if (need.height() <= text_box.height() && need.width() <= text_box.width()) break;
  }
  p.setFont(f);
  p.drawText(text_box, Qt::AlignVCenter | Qt::AlignLeft, label);
  return image;
}

void banner_backdrop(QPainter& p, int w, int h) {
  QLinearGradient g(0, 0, w, h);
  g.setColorAt(0, kNavy);
  g.setColorAt(1, kDeep);
  p.fillRect(0, 0, w, h, g);
  // Quiet arcs on the right, behind the description text.
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(255, 255, 255, 18), 2));
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 6; ++i) p.drawEllipse(QPointF(w * 0.92, h * 1.1), 120.0 + i * 70, 120.0 + i * 70);
  p.setPen(QPen(kAccent, 3));
  p.drawLine(0, h - 2, w, h - 2);
}

// A banner frame (796 x 230): the tool's glyph grows into place over three
// frames; the right part stays plain for the white description text.
QImage banner_frame(const Tool& tool, int frame) {
  QImage image(796, 230, QImage::Format_RGB32);
  QPainter p(&image);
  banner_backdrop(p, 796, 230);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(font(false, 22, true));
  p.setPen(Qt::white);
  // The product's name; the frames serve every language, so they carry no
  // tool names (the pictures and the description say which tool it is).
  p.drawText(QRectF(20, 10, 260, 30), Qt::AlignLeft | Qt::AlignVCenter, "Drummetworks");
  double scale = 0.6 + 0.2 * frame;
  double side = 130 * scale;
  QPointF centre(135, 120);
  QRadialGradient halo(centre, 95);
  halo.setColorAt(0, QColor(0, 160, 170, 40 + 40 * frame));
  halo.setColorAt(1, QColor(0, 0, 0, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(halo);
  p.drawEllipse(centre, 95, 95);
  draw_glyph(p, tool.glyph, QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side),
             kTeal.lighter(100 + 20 * frame), Qt::white);
  return image;
}

// The tile under the pictures: one flat colour, since a gradient would show
// a seam every tile and a palette would dither it into a mosaic.
QImage main_background() {
  QImage image(48, 48, QImage::Format_RGB32);
  image.fill(QColor((kDeep.red() + kNavy.red()) / 2, (kDeep.green() + kNavy.green()) / 2,
                    (kDeep.blue() + kNavy.blue()) / 2));
  return image;
}

// The tile behind the disk health page (240 x 60): a deep navy with a faint
// pulse line that meets itself at the tile's edges, so no seam shows. White
// text and the page's blue values (RGB 57, 158, 236) are drawn straight on
// it, so every pixel stays dark enough for both to keep a contrast of 4.5:1.
QImage health_tile() {
  const QColor base(12, 30, 56);
  const QColor pulse(18, 44, 80);
  QImage image(240, 60, QImage::Format_RGB32);
  image.fill(base);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(pulse, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const QPointF beat[] = {{0, 44},   {96, 44},  {104, 38}, {112, 44}, {122, 44}, {130, 14},
                          {140, 54}, {148, 40}, {156, 44}, {240, 44}};
  p.drawPolyline(beat, static_cast<int>(std::size(beat)));
  return image;
}

QImage bottom_strip() {
  QImage image(144, 21, QImage::Format_RGB32);
  QPainter p(&image);
  p.fillRect(0, 0, 144, 21, kNavy);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(font(false, 11, false));
  p.setPen(kSky);
  p.drawText(QRectF(0, 0, 144, 21), Qt::AlignCenter, "Drummetworks");
  return image;
}

// The splash window tiles this under its picture; only the row and column
// the picture leaves uncovered show, so it is the colour of the picture's
// frame and no seam appears there.
QImage splash_background() {
  QImage image(640, 480, QImage::Format_RGB32);
  image.fill(kNavy);
  return image;
}

QImage splash_picture() {
  QImage image(640, 480, QImage::Format_RGB32);
  QPainter p(&image);
  QLinearGradient g(0, 0, 0, 480);
  g.setColorAt(0, kDeep);
  g.setColorAt(1, kNavy);
  p.fillRect(0, 0, 640, 480, g);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(QPen(QColor(255, 255, 255, 22), 2));
  for (int i = 0; i < 7; ++i) p.drawEllipse(QPointF(600, 520), 140.0 + i * 60, 140.0 + i * 60);
  draw_glyph(p, Glyph::Program, QRectF(70, 120, 150, 150), kTeal, Qt::white);
  p.setPen(Qt::white);
  p.setFont(font(false, 40, true));
  p.drawText(QRectF(250, 130, 380, 70), Qt::AlignLeft | Qt::AlignVCenter, "Drummetworks");
  p.setFont(font(false, 20, false));
  p.setPen(kSky);
  p.drawText(QRectF(252, 200, 380, 30), Qt::AlignLeft | Qt::AlignVCenter, "Disk copy and migration tools");
  p.setFont(font(true, 18, false));
  p.drawText(QRectF(252, 232, 380, 30), Qt::AlignLeft | Qt::AlignVCenter, q("ディスクの複製と移行ツール"));
  p.setPen(QPen(kAccent, 3));
  p.drawLine(70, 330, 570, 330);
  p.setFont(font(false, 14, false));
  p.setPen(QColor(200, 214, 230));
  p.drawText(QRectF(70, 345, 500, 24), Qt::AlignLeft | Qt::AlignVCenter, "Starting, please wait...");
  // A frame in the background's colour, which the window's spare row and
  // column continue.
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::NoPen);
  p.setBrush(kNavy);
  p.drawRect(0, 0, 640, 3);
  p.drawRect(0, 477, 640, 3);
  p.drawRect(0, 0, 3, 480);
  p.drawRect(637, 0, 3, 480);
  return image;
}

QImage icon_image(Glyph g, int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  draw_glyph(p, g, QRectF(0, 0, size, size), kTeal, kNavy);
  return image;
}

// A palette made from the picture's own colours (median cut): each box of
// colours is split at the median of its widest channel until there are 256,
// and each box gives its mean. Gradients keep even steps instead of being
// dithered into the speckles a fixed palette gives.
QVector<QRgb> palette_of(const QImage& image) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  std::vector<QRgb> pixels;
  pixels.reserve(static_cast<size_t>(rgb.width()) * static_cast<size_t>(rgb.height()));
  for (int y = 0; y < rgb.height(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) pixels.push_back(line[x] | 0xFF000000u);
  }
  std::sort(pixels.begin(), pixels.end());
  std::vector<QRgb> distinct(pixels.begin(), std::unique(pixels.begin(), pixels.end()));
  if (distinct.size() <= 256) return QVector<QRgb>(distinct.begin(), distinct.end());
  struct Box {
    size_t begin, end;
  };
  auto channel = [](QRgb c, int k) { return k == 0 ? qRed(c) : k == 1 ? qGreen(c) : qBlue(c); };
  auto widest = [&](const Box& b, int* range) {
    int best = 0, best_range = -1;
    for (int k = 0; k < 3; ++k) {
      int lo = 255, hi = 0;
      for (size_t i = b.begin; i < b.end; ++i) {
        lo = std::min(lo, channel(pixels[i], k));
        hi = std::max(hi, channel(pixels[i], k));
      }
      if (hi - lo > best_range) best = k, best_range = hi - lo;
    }
    *range = best_range;
    return best;
  };
  std::vector<Box> boxes{{0, pixels.size()}};
  while (boxes.size() < 256) {
    // Split the box whose colours spread most (weighted by its size).
    size_t pick = boxes.size();
    long long pick_score = 0;
    int pick_channel = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      if (boxes[i].end - boxes[i].begin < 2) continue;
      int range = 0;
      int k = widest(boxes[i], &range);
      long long score = static_cast<long long>(range) * static_cast<long long>(boxes[i].end - boxes[i].begin);
      if (range > 0 && score > pick_score) pick = i, pick_score = score, pick_channel = k;
    }
    if (pick == boxes.size()) break;
    Box b = boxes[pick];
    auto first = pixels.begin() + static_cast<long>(b.begin), last = pixels.begin() + static_cast<long>(b.end);
    auto middle = first + (last - first) / 2;
    std::nth_element(first, middle, last,
                     [&](QRgb x, QRgb y) { return channel(x, pick_channel) < channel(y, pick_channel); });
    size_t cut = static_cast<size_t>(middle - pixels.begin());
    boxes[pick] = {b.begin, cut};
    boxes.push_back({cut, b.end});
  }
  QVector<QRgb> palette;
  for (const Box& b : boxes) {
    if (b.end == b.begin) continue;
    long long r = 0, g = 0, bl = 0;
    for (size_t i = b.begin; i < b.end; ++i) r += qRed(pixels[i]), g += qGreen(pixels[i]), bl += qBlue(pixels[i]);
    long long n = static_cast<long long>(b.end - b.begin);
    palette.push_back(qRgb(static_cast<int>(r / n), static_cast<int>(g / n), static_cast<int>(bl / n)));
  }
  return palette;
}

// 24 bits per pixel where the picture must be true colour (the splash);
// otherwise 8 bits with the picture's own palette, which keeps the
// compiled-in tables small.
bool write_bmp(const QImage& image, const QString& path, bool true_colour) {
  if (true_colour) return image.convertToFormat(QImage::Format_RGB888).save(path, "BMP");
  return image.convertToFormat(QImage::Format_Indexed8, palette_of(image), Qt::ThresholdDither | Qt::AvoidDither)
      .save(path, "BMP");
}

void put16(QByteArray& b, unsigned v) {
  b.append(static_cast<char>(v & 0xFF));
  b.append(static_cast<char>((v >> 8) & 0xFF));
}
void put32(QByteArray& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// An icon file whose entries hold PNG pictures of the given sizes.
bool write_ico(Glyph g, const std::vector<int>& sizes, const QString& path) {
  std::vector<QByteArray> pngs;
  for (int s : sizes) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!icon_image(g, s).save(&buffer, "PNG")) return false;
    pngs.push_back(png);
  }
  QByteArray out;
  put16(out, 0);
  put16(out, 1);
  put16(out, static_cast<unsigned>(sizes.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    out.append(static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]));
    out.append(static_cast<char>(sizes[i] >= 256 ? 0 : sizes[i]));
    out.append(static_cast<char>(0));  // no palette
    out.append(static_cast<char>(0));
    put16(out, 1);   // planes
    put16(out, 32);  // bits per pixel
    put32(out, static_cast<uint32_t>(pngs[i].size()));
    put32(out, offset);
    offset += static_cast<uint32_t>(pngs[i].size());
  }
  for (const auto& png : pngs) out.append(png);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly)) return false;
  return f.write(out) == out.size();
}

// The row pictures of the disk lists, 16 by 16 on white (the lists add them
// without a mask): a disk, a partition (a disk with one slice marked), and
// both greyed for rows that cannot be chosen.
QImage disk_list_picture(bool partition, bool disabled) {
  QImage image(16, 16, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor body = disabled ? QColor(190, 194, 200) : kTeal;
  const QColor line = disabled ? QColor(140, 146, 154) : kNavy;
  draw_disk(p, QRectF(1.5, 2.5, 13, 11), body, line);
  if (partition) {
    p.setPen(Qt::NoPen);
    p.setBrush(disabled ? QColor(150, 156, 164) : kAccent);
    p.drawRect(QRectF(4, 8, 4, 4));
  }
  return image;
}

// A colour swatch of the partition manager's legends (16 x 12, grey frame).
QImage swatch(QColor colour) {
  QImage image(16, 12, QImage::Format_RGB32);
  image.fill(QColor(125, 125, 125));
  QPainter p(&image);
  p.fillRect(1, 1, 14, 10, colour);
  return image;
}

// The check boxes of the migration's shell tree: a strip of 16 boxes, each
// 16 x 15 on white (the mask colour), indexed by the tree's tick states:
// 1 empty black box, 2/4/6/7/12/14 red empty boxes (partly chosen), 3 and 15
// red box with a tick, 5 black box with a red tick, 8 grey box (nothing to
// choose). Folder mode draws every box stacked on a second one.
QImage tick_state_strip(bool stacked) {
  QImage image(256, 15, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor red(200, 30, 30);
  for (int index = 1; index < 16; ++index) {
    QColor frame = Qt::black;
    bool tick = false;
    bool grey = false;
    switch (index) {
      case 1: break;
      case 3: case 15: frame = red; tick = true; break;
      case 5: tick = true; break;
      case 8: frame = QColor(150, 150, 150); grey = true; break;
      case 2: case 4: case 6: case 7: case 12: case 14: frame = red; break;
      default: continue;
    }
    const QRectF box(index * 16 + 2.5, 1.5, 11, 11);
    if (stacked) {
      p.setPen(QPen(frame, 1));
      p.setBrush(Qt::white);
      p.drawRect(box.translated(1.5, 1.5).adjusted(0, 0, -1, -1));
    }
    p.setPen(QPen(frame, index == 2 || index == 4 || index == 6 || index == 7 || index == 12 || index == 14 ? 1.6 : 1));
    p.setBrush(grey ? QColor(220, 220, 220) : QColor(254, 254, 254));
    p.drawRect(stacked ? box.adjusted(0, 0, -1, -1) : box);
    if (tick) {
      QPainterPath mark;
      mark.moveTo(box.left() + 2.5, box.center().y());
      mark.lineTo(box.left() + 4.8, box.bottom() - 2.5);
      mark.lineTo(box.right() - 2, box.top() + 2.5);
      p.setPen(QPen(red, 2));
      p.setBrush(Qt::NoBrush);
      p.drawPath(mark);
    }
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: drum_art OUTPUT_FOLDER\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QString dir = QString::fromLocal8Bit(argv[1]);
  std::string script =
      "// Generated by drum_art: every picture of Drummetworks.\n";
  bool ok = true;
  auto bitmap = [&](unsigned id, const QImage& image, const char* what, bool true_colour = false) {
    QString name = QString::number(id) + ".bmp";
    if (!write_bmp(image, dir + "/" + name, true_colour)) {
      std::fprintf(stderr, "drum_art: cannot write %s\n", qPrintable(dir + "/" + name));
      ok = false;
    }
    script += std::to_string(id) + " BITMAP \"" + name.toStdString() + "\"  // " + what + "\n";
  };
  auto icon = [&](unsigned id, Glyph g, const std::vector<int>& sizes, const char* what) {
    QString name = QString::number(id) + ".ico";
    if (!write_ico(g, sizes, dir + "/" + name)) {
      std::fprintf(stderr, "drum_art: cannot write %s\n", qPrintable(dir + "/" + name));
      ok = false;
    }
    script += std::to_string(id) + " ICON \"" + name.toStdString() + "\"  // " + what + "\n";
  };

  for (const Tool& t : kTools) {
    static const char* states[] = {"normal", "selected", "hover"};
    for (int s = 0; s < 3; ++s) {
      bitmap(t.english_ids[s], tool_picture(t, false, s), states[s]);
      bitmap(t.other_ids[s], tool_picture(t, true, s), states[s]);
    }
    for (int f = 0; f < 3; ++f) bitmap(t.banner[f], banner_frame(t, f), "banner frame");
  }
  bitmap(248, main_background(), "main dialog background", true);
  bitmap(274, bottom_strip(), "strip under the pictures", true);
  bitmap(1206, health_tile(), "disk health page background", true);
  bitmap(1205, splash_background(), "splash background", true);
  bitmap(307, splash_picture(), "splash picture", true);
  bitmap(143, disk_list_picture(false, false), "disk list: disk row", true);
  bitmap(144, disk_list_picture(true, false), "disk list: partition row", true);
  bitmap(180, disk_list_picture(false, true), "disk list: disk row that cannot be chosen", true);
  bitmap(181, disk_list_picture(true, true), "disk list: partition row that cannot be chosen", true);
  bitmap(178, swatch(QColor(25, 25, 25)), "partition legend: unallocated", true);
  bitmap(179, swatch(QColor(0, 0, 128)), "partition legend: primary", true);
  bitmap(177, swatch(QColor(0, 0, 255)), "partition legend: logical drive", true);
  bitmap(175, swatch(QColor(0, 255, 0)), "partition legend: free space in the extended partition", true);
  bitmap(240, swatch(QColor(255, 0, 255)), "properties legend: free space", true);
  bitmap(241, swatch(QColor(0, 0, 128)), "properties legend: used space", true);
  icon(142, Glyph::Program, {16, 32, 48}, "program icon");
  bitmap(573, tick_state_strip(false), "migration tree: check box states", true);
  bitmap(227, tick_state_strip(true), "folder chooser tree: check box states", true);
  for (const MenuIcon& m : kMenuIcons) icon(m.id, m.glyph, {16, 32}, "menu icon");

  QFile rc(dir + "/drummet_art.rc");
  if (!rc.open(QIODevice::WriteOnly) ||
      rc.write(script.data(), static_cast<qint64>(script.size())) != static_cast<qint64>(script.size())) {
    std::fprintf(stderr, "drum_art: cannot write the resource script\n");
    return 1;
  }
  return ok ? 0 : 1;
}
