// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qvGauge.h"

#include "ui/Controls.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPointF>

#include <cmath>
#include <limits>
#include <numbers>

namespace kx::ui {

QColor WinColor(std::uint32_t BGR) { return QColor(BGR & 0xFF, (BGR >> 8) & 0xFF, (BGR >> 16) & 0xFF); }

std::int32_t RoundHalfEven(double V)
{
  if (std::isnan(V)) return 0;
  const double floor = std::floor(V);
  const double rest = V - floor;
  double r = floor;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(floor, 2.0) != 0)) r = floor + 1;
  // The callers scale fractions of 0..1 by a widget size or by 100; the clamp only keeps an
  // absurd input from being undefined behaviour on conversion.
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  if (r < lo) return std::numeric_limits<std::int32_t>::min();
  if (r > hi) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(r);
}

TqvGaugeExtent ComputeExtent(std::int32_t MinValue, std::int32_t MaxValue, std::int32_t Progress, TqvGaugeKind Kind,
                             std::int32_t Width, std::int32_t Height)
{
  // Clamped against the maximum first, so that inverted bounds leave p at MinValue.
  std::int32_t p = Progress;
  if (p > MaxValue) p = MaxValue;
  if (p < MinValue) p = MinValue;

  TqvGaugeExtent e;
  // The differences are taken in floating point: bounds far apart (MinValue near -2^31, MaxValue
  // near 2^31) would overflow a 32-bit subtraction.
  if (MaxValue > MinValue)
    e.Fraction = (static_cast<double>(p) - MinValue) / (static_cast<double>(MaxValue) - MinValue);

  switch (Kind) {
    case qvgHorizontal: e.ExtentX = RoundHalfEven(Width * e.Fraction); break;
    case qvgVertical: e.ExtentY = RoundHalfEven(Height * e.Fraction); break;
    case qvgPie: {
      const double angle = e.Fraction * 2 * std::numbers::pi;
      e.ExtentX = RoundHalfEven(std::sin(angle) * (Width * 0.5));
      e.ExtentY = RoundHalfEven(std::cos(angle) * (Height * 0.5));
      break;
    }
  }
  return e;
}

TqvGauge::TqvGauge(QWidget* Parent)
    : QWidget(Parent), FForeColor(WinColor(0x800000)), FBackColor(WinColor(0xFFFFFF)), FFrameColor(WinColor(0x000000))
{
  // paintEvent covers every pixel, so the toolkit need not erase the background first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

template <class T>
void TqvGauge::Change(T& Field, const T& Value)
{
  if (Value == Field) return;
  Field = Value;
  update();
}

void TqvGauge::SetMinValue(std::int32_t Value) { Change(FMinValue, Value); }
void TqvGauge::SetMaxValue(std::int32_t Value) { Change(FMaxValue, Value); }
void TqvGauge::SetKind(TqvGaugeKind Value) { Change(FKind, Value); }
void TqvGauge::SetBackColor(const QColor& Value) { Change(FBackColor, Value); }
void TqvGauge::SetForeColor(const QColor& Value) { Change(FForeColor, Value); }
void TqvGauge::SetFrameColor(const QColor& Value) { Change(FFrameColor, Value); }
void TqvGauge::SetTextKind(TqvGaugeTextKind Value) { Change(FTextKind, Value); }

void TqvGauge::SetProgress(std::int32_t Value)
{
  if (Value == FProgress) return;
  const TqvGaugeExtent before = Extent();
  const bool wedgeBefore = PieWedge(before);
  const QString textBefore = Text();
  FProgress = Value;
  const TqvGaugeExtent after = Extent();
  // The scan workers report progress far more often than the filled part moves by a pixel;
  // skipping those repaints keeps the dialogs cheap. A new text, or a pie's wedge that appears
  // or fills the disc with no extent moving (a scan of a few sectors ends so), is a change the
  // eye sees too: the gauge then repaints, so that it never shows "0%" at the end.
  bool moved = false;
  switch (FKind) {
    case qvgHorizontal: moved = before.ExtentX != after.ExtentX; break;
    case qvgVertical: moved = before.ExtentY != after.ExtentY; break;
    case qvgPie:
      moved = before.ExtentX != after.ExtentX || before.ExtentY != after.ExtentY || wedgeBefore != PieWedge(after);
      break;
  }
  if (moved || Text() != textBefore) update();
}

bool TqvGauge::PieWedge(const TqvGaugeExtent& E) const
{
  // The 2 x Progress test tells a full gauge from an empty one when the wedge's radials
  // coincide at twelve o'clock. At the half position ExtentX rounds to 0 too, but there the
  // start radial points to six o'clock (ExtentY < 0) and the radials do not coincide: the
  // right half disc is drawn, so that the pie does not flash empty just at and below the half
  // and agrees with its "50%" text. ExtentY < 0 implies a fraction above 1/4, so no empty
  // gauge gets a wedge from it.
  return E.ExtentX != 0 || E.ExtentY < 0 ||
         2 * static_cast<std::int64_t>(FProgress) > static_cast<std::int64_t>(FMinValue) + FMaxValue;
}

TqvGaugeExtent TqvGauge::Extent() const
{
  return ComputeExtent(FMinValue, FMaxValue, FProgress, FKind, width(), height());
}

QString TqvGauge::Text() const
{
  switch (FTextKind) {
    case qvgtNone: break;
    case qvgtPercent: return QString::number(RoundHalfEven(Extent().Fraction * 100)) + QLatin1Char('%');
    case qvgtProgress: return QString::number(FProgress);
  }
  return {};
}

namespace {

// The pie is defined by two radials through points given in the gauge's pixel coordinates, as
// the classic pie primitive takes them; Qt's drawPie wants angles instead. Qt measures an
// ellipse's angles parametrically (the point at angle t is (a cos t, b sin t)), so the radial
// through a point becomes the parametric angle of the scaled direction.
double RadialAngle(QPointF Direction, double HalfWidth, double HalfHeight)
{
  return std::atan2(-Direction.y() / HalfHeight, Direction.x() / HalfWidth) * 180 / std::numbers::pi;
}

void DrawWedge(QPainter& Painter, int Width, int Height, const TqvGaugeExtent& E)
{
  const QPointF centre(Width * 0.5, Height * 0.5);
  const QPointF start = QPointF(Width / 2 + E.ExtentX, Height / 2 - E.ExtentY) - centre;
  const QPointF end = QPointF(Width / 2, 0) - centre;

  // Counter-clockwise from the start radial to twelve o'clock, so the filled part runs clockwise
  // from twelve o'clock. When both radials coincide the primitive draws the whole disc, which is
  // how a full gauge appears once ExtentX has rounded back to 0. The coordinates are multiples of
  // one half, so the products below are exact.
  const double cross = start.x() * end.y() - start.y() * end.x();
  const double dot = start.x() * end.x() + start.y() * end.y();
  double startAngle = 90;
  double span = 360;
  if (cross != 0 || dot <= 0) {
    startAngle = RadialAngle(start, centre.x(), centre.y());
    span = RadialAngle(end, centre.x(), centre.y()) - startAngle;
    if (span <= 0) span += 360;
  }
  // Same rectangle as the outline, so the wedge's arc lies on it.
  Painter.drawPie(QRect(0, 0, Width - 1, Height - 1), static_cast<int>(std::lround(startAngle * 16)),
                  static_cast<int>(std::lround(span * 16)));
}

}  // namespace

void TqvGauge::paintEvent(QPaintEvent*)
{
  const int w = width();
  const int h = height();
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));

  const TqvGaugeExtent e = Extent();
  if (FKind == qvgPie) {
    // Qt's aliased outline of a w x h rectangle covers w + 1 x h + 1 pixels; one less keeps it
    // inside the widget, where the classic primitive puts it.
    painter.setPen(FFrameColor);
    painter.setBrush(FBackColor);
    painter.drawEllipse(QRect(0, 0, w - 1, h - 1));
    painter.setBrush(FForeColor);
    if (PieWedge(e)) DrawWedge(painter, w, h, e);
  } else {
    painter.fillRect(rect(), FBackColor);
    if (FMinValue != FMaxValue) {
      // QRect's right and bottom are inclusive: the fill covers Extent columns (or rows).
      QRect filled = rect();
      if (FKind == qvgHorizontal)
        filled.setRight(e.ExtentX - 1);
      else
        filled.setBottom(e.ExtentY - 1);
      painter.fillRect(filled, FForeColor);
    }
    painter.setPen(FFrameColor);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, w - 1, h - 1));
  }

  if (FTextKind == qvgtNone) return;
  // The text is inverted against whatever lies under it, so that it reads over both the filled
  // and the unfilled part: white glyphs on black, XORed onto the gauge, flip the pixels under
  // the glyphs and leave every other pixel as it was.
  const qreal ratio = devicePixelRatioF();
  QImage mask(size() * ratio, QImage::Format_RGB32);
  mask.setDevicePixelRatio(ratio);
  mask.fill(Qt::black);
  {
    QPainter maskPainter(&mask);
    maskPainter.setFont(font());
    maskPainter.setPen(Qt::white);
    const QString text = Text();
    const QFontMetrics metrics = maskPainter.fontMetrics();
    const int x = (w - metrics.horizontalAdvance(text)) / 2;
    const int y = (h - metrics.height()) / 2;
    maskPainter.drawText(x, y + metrics.ascent(), text);
  }
  painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  painter.drawImage(0, 0, mask);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

TqvGauge* MakeProgressGauge(QWidget* Parent, const QString& Name, const QRect& Geometry, TqvGaugeKind Kind)
{
  auto* gauge = new TqvGauge(Parent);
  gauge->setObjectName(Name);
  gauge->setGeometry(Geometry);
  gauge->SetKind(Kind);
  gauge->SetBackColor(Qt::white);
  gauge->SetForeColor(clNavy);
  gauge->SetFrameColor(Qt::black);
  gauge->SetTextKind(qvgtPercent);
  gauge->SetMinValue(0);
  return gauge;
}

}  // namespace kx::ui
