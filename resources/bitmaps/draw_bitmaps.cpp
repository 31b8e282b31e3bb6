// Draws the configuration dialog's bitmaps into PNG files (for the Qt view)
// and BMP files (resources of K2TPendant.dll), the same pictures in both:
//   4034 the selector knob with its nine position marks
//   4037 the letter V, 4043 the letter C (the pendant's V and C modes)
//   4038, 4039, 4040 the key captions F1, F2, F3
// Letters are drawn as strokes rather than with a font, so the pictures are
// the same on every machine.
//
//   draw_bitmaps <output folder>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QString>
#include <QtMath>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const QColor kInk(0x20, 0x20, 0x20);
const QColor kKnobBody(0x3a, 0x3d, 0x42);
const QColor kKnobRim(0x9a, 0xa0, 0xa8);
const QColor kMark(0xd0, 0x30, 0x20);
const QColor kKeyCap(0xe4, 0xe6, 0xea);

QImage Blank(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QPen Stroke(const QColor& color, qreal width) {
  QPen pen(color, width);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

// Point at `degrees` (0 = up, clockwise) on a circle.
QPointF OnCircle(QPointF centre, qreal radius, qreal degrees) {
  const qreal a = qDegreesToRadians(degrees);
  return {centre.x() + radius * qSin(a), centre.y() - radius * qCos(a)};
}

// Nine marks over three quarters of a turn: position 1 at the lower left, 5 at
// the top, 9 at the lower right, as on the pendant's selector knobs.
QImage Knob() {
  QImage image = Blank(96, 96);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(48, 50);
  for (int position = 1; position <= 9; ++position) {
    const qreal degrees = -135.0 + (position - 1) * 33.75;
    p.setPen(Stroke(kMark, position == 5 ? 4.0 : 3.0));
    p.drawLine(OnCircle(c, 38, degrees), OnCircle(c, 45, degrees));
  }
  p.setPen(Stroke(kKnobRim, 3));
  p.setBrush(kKnobBody);
  p.drawEllipse(c, 30, 30);
  // Grip notches round the rim.
  p.setPen(Stroke(kKnobRim, 1.5));
  for (int i = 0; i < 24; ++i) p.drawLine(OnCircle(c, 26, i * 15.0), OnCircle(c, 30, i * 15.0));
  // The pointer, at position 5.
  p.setPen(Stroke(Qt::white, 4));
  p.drawLine(OnCircle(c, 6, 0), OnCircle(c, 22, 0));
  return image;
}

// One bold stroked letter, as the mode selector marks it.
QImage Letter(const QPainterPath& letter) {
  QImage image = Blank(32, 40);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Stroke(kInk, 5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(letter);
  return image;
}

QPainterPath LetterV() {
  QPainterPath v;
  v.moveTo(5, 6);
  v.lineTo(16, 34);
  v.lineTo(27, 6);
  return v;
}

QPainterPath LetterC() {
  QPainterPath c;
  const QRectF box(4, 6, 24, 28);
  c.arcMoveTo(box, 50);
  c.arcTo(box, 50, 260);
  return c;
}

// The letter F and a digit 1..3 in a 40 x 28 key cap.
QImage KeyCaption(int digit) {
  QImage image = Blank(40, 28);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Stroke(kInk, 1.5));
  p.setBrush(kKeyCap);
  p.drawRoundedRect(QRectF(1, 1, 38, 26), 5, 5);

  QPainterPath text;
  text.moveTo(17, 7);  // F
  text.lineTo(9, 7);
  text.lineTo(9, 21);
  text.moveTo(9, 14);
  text.lineTo(15, 14);
  switch (digit) {
    case 1:
      text.moveTo(22, 10);
      text.lineTo(26, 7);
      text.lineTo(26, 21);
      break;
    case 2:
      text.moveTo(21, 10);
      text.cubicTo(21, 5, 31, 5, 30, 10);
      text.cubicTo(30, 13, 22, 17, 21, 21);
      text.lineTo(31, 21);
      break;
    default:
      text.moveTo(21, 9);
      text.cubicTo(22, 5, 31, 6, 30, 10);
      text.cubicTo(29, 13, 26, 14, 25, 14);
      text.cubicTo(33, 14, 31, 22, 25.5, 21.5);
      text.cubicTo(23, 21.5, 21, 20, 21, 19);
      break;
  }
  p.setPen(Stroke(kInk, 2.5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(text);
  return image;
}

void Put16(std::vector<unsigned char>& out, std::uint16_t v) {
  out.push_back(static_cast<unsigned char>(v));
  out.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

// A 32-bit BMP whose fourth byte is the coverage, colours premultiplied by
// it, rows bottom-up: the DLL lays it over the dialog's own background
// colour, whatever the user's colour scheme makes that.
bool WriteBmp(const QImage& picture, const QString& path) {
  const QImage image = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const auto w = static_cast<std::uint32_t>(image.width()), h = static_cast<std::uint32_t>(image.height());
  std::vector<unsigned char> out;
  const std::uint32_t pixels = 4 * w * h;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 14 + 40 + pixels);
  Put32(out, 0);
  Put32(out, 14 + 40);
  Put32(out, 40);  // BITMAPINFOHEADER
  Put32(out, w);
  Put32(out, h);
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);  // BI_RGB
  Put32(out, pixels);
  Put32(out, 3780);  // 96 dots per inch
  Put32(out, 3780);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = image.height() - 1; y >= 0; --y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      out.push_back(static_cast<unsigned char>(qBlue(row[x])));
      out.push_back(static_cast<unsigned char>(qGreen(row[x])));
      out.push_back(static_cast<unsigned char>(qRed(row[x])));
      out.push_back(static_cast<unsigned char>(qAlpha(row[x])));
    }
  }
  std::FILE* f = std::fopen(qPrintable(path), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

bool Save(const QImage& image, const QString& folder, const char* name) {
  const QString base = folder + QLatin1Char('/') + QLatin1String(name);
  bool ok = image.save(base + QStringLiteral(".png"), "PNG");
  if (!ok) std::fprintf(stderr, "cannot write %s.png\n", qPrintable(base));
  if (!WriteBmp(image, base + QStringLiteral(".bmp"))) {
    std::fprintf(stderr, "cannot write %s.bmp\n", qPrintable(base));
    ok = false;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_bitmaps <output folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  bool ok = Save(Knob(), folder, "4034_knob");
  ok = Save(Letter(LetterV()), folder, "4037_v") && ok;
  ok = Save(KeyCaption(1), folder, "4038_f1") && ok;
  ok = Save(KeyCaption(2), folder, "4039_f2") && ok;
  ok = Save(KeyCaption(3), folder, "4040_f3") && ok;
  ok = Save(Letter(LetterC()), folder, "4043_c") && ok;
  return ok ? 0 : 1;
}
