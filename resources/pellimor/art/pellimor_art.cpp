// Pellimor's pictures, drawn at build time with QPainter into the folder
// given on the command line: the program icon (pellimor.ico, icon 128: an
// optical disc with a USB stick in front of it), the welcome page's side
// picture (welcome.bmp, bitmap 1433: the disc pouring onto the stick on a
// dusk-blue ground) and pellimor_art.rc, the resource lines that name them.
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

const QColor kDusk(22, 38, 78);
const QColor kSea(28, 112, 148);
const QColor kStickBody(236, 240, 246);
const QColor kStickEdge(60, 72, 96);
const QColor kPlug(176, 184, 196);
const QColor kAccent(242, 166, 46);

// An optical disc centred at `c` with radius `r`: a silver face with a
// rainbow sheen, the clear inner ring and the hole.
void DrawDisc(QPainter& p, QPointF c, qreal r) {
  QRadialGradient face(c, r);
  face.setColorAt(0.0, QColor(250, 252, 255));
  face.setColorAt(0.55, QColor(200, 214, 232));
  face.setColorAt(0.8, QColor(222, 200, 238));
  face.setColorAt(1.0, QColor(170, 190, 214));
  p.setPen(QPen(kStickEdge, qMax<qreal>(1.0, r / 16)));
  p.setBrush(face);
  p.drawEllipse(c, r, r);
  QLinearGradient sheen(c - QPointF(r, r), c + QPointF(r, r));
  sheen.setColorAt(0.3, QColor(255, 255, 255, 0));
  sheen.setColorAt(0.5, QColor(120, 220, 255, 90));
  sheen.setColorAt(0.7, QColor(255, 255, 255, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(sheen);
  p.drawEllipse(c, r * 0.95, r * 0.95);
  p.setBrush(QColor(230, 236, 244));
  p.setPen(QPen(kStickEdge, qMax<qreal>(0.8, r / 24)));
  p.drawEllipse(c, r * 0.3, r * 0.3);
  p.setBrush(kDusk);
  p.drawEllipse(c, r * 0.12, r * 0.12);
}

// A USB stick standing upright in `body`, its plug drawn above the
// rectangle.
void DrawStick(QPainter& p, QRectF body) {
  const qreal w = body.width();
  QRectF plug(body.center().x() - w * 0.32, body.top() - w * 0.55, w * 0.64, w * 0.6);
  p.setPen(QPen(kStickEdge, qMax<qreal>(1.0, w / 14)));
  p.setBrush(kPlug);
  p.drawRect(plug);
  p.setBrush(kStickEdge);
  const qreal hole = w * 0.12;
  p.drawRect(QRectF(plug.left() + w * 0.1, plug.top() + w * 0.14, hole, hole));
  p.drawRect(QRectF(plug.right() - w * 0.1 - hole, plug.top() + w * 0.14, hole, hole));
  QLinearGradient shade(body.topLeft(), body.topRight());
  shade.setColorAt(0.0, kStickBody);
  shade.setColorAt(1.0, QColor(196, 206, 222));
  p.setBrush(shade);
  p.drawRoundedRect(body, w * 0.18, w * 0.18);
  // The band that marks a boot stick, and its activity light.
  p.setPen(Qt::NoPen);
  p.setBrush(kSea);
  p.drawRect(QRectF(body.left() + w * 0.08, body.top() + body.height() * 0.38, w * 0.84, body.height() * 0.22));
  p.setBrush(kAccent);
  p.drawEllipse(QPointF(body.center().x(), body.bottom() - w * 0.28), w * 0.1, w * 0.1);
}

QImage Icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  DrawDisc(p, QPointF(s * 0.38, s * 0.4), s * 0.36);
  DrawStick(p, QRectF(s * 0.58, s * 0.42, s * 0.3, s * 0.54));
  return image;
}

QImage WelcomePicture() {
  QImage image(144, 316, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient ground(0, 0, 0, image.height());
  ground.setColorAt(0.0, kDusk);
  ground.setColorAt(1.0, kSea);
  p.fillRect(image.rect(), ground);
  // Faint rings behind, as the disc's tracks spreading out.
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 6; ++i) {
    p.setPen(QPen(QColor(255, 255, 255, 22), 1.5));
    p.drawEllipse(QPointF(72, 96), 40.0 + i * 16, 40.0 + i * 16);
  }
  DrawDisc(p, QPointF(72, 96), 50);
  // The stream of data from the disc down into the stick.
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 7; ++i) {
    p.setBrush(QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 230 - i * 25));
    p.drawEllipse(QPointF(72, 158 + i * 9), 3.2 - i * 0.25, 3.2 - i * 0.25);
  }
  DrawStick(p, QRectF(52, 236, 40, 66));
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: pellimor_art OUTPUT_FOLDER\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!Icon(32).save(folder + "/pellimor.ico", "ICO") ||
      !WelcomePicture().convertToFormat(QImage::Format_RGB888).save(folder + "/welcome.bmp", "BMP")) {
    std::fprintf(stderr, "pellimor_art: cannot write the pictures into %s\n", argv[1]);
    return 1;
  }
  QFile rc(folder + "/pellimor_art.rc");
  const QByteArray lines =
      "// Pellimor's pictures, drawn by pellimor_art.\n"
      "128 ICON \"pellimor.ico\"  // program icon\n"
      "1433 BITMAP \"welcome.bmp\"  // welcome page picture\n";
  if (!rc.open(QIODevice::WriteOnly) || rc.write(lines) != lines.size()) return 1;
  return 0;
}
