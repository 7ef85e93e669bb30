// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qvGauge.h"

#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QTest>

#include <cstdint>
#include <functional>
#include <limits>

namespace kx::ui {
namespace {

// Counts the paint events that really reach the gauge, so the repaint rule is checked on what the
// toolkit delivers rather than on an internal flag.
class CountingGauge : public TqvGauge {
 public:
  int Paints = 0;

 protected:
  void paintEvent(QPaintEvent* Event) override
  {
    ++Paints;
    TqvGauge::paintEvent(Event);
  }
};

// Shows the gauge and waits until its first paints are over, so that the count starts at 0 with
// no paint still on its way.
bool ShowAndSettle(CountingGauge& Gauge)
{
  Gauge.show();
  if (!QTest::qWaitForWindowExposed(&Gauge)) return false;
  if (!QTest::qWaitFor([&] { return Gauge.Paints > 0; })) return false;
  int seen = -1;
  while (seen != Gauge.Paints) {
    seen = Gauge.Paints;
    QTest::qWait(50);
  }
  Gauge.Paints = 0;
  return true;
}

const QColor Navy = WinColor(0x800000);
const QColor White = WinColor(0xFFFFFF);
const QColor Black = WinColor(0x000000);
// Shows in the corners outside a pie; distinct from every gauge colour.
const QColor Surround(0, 160, 0);

QImage Render(TqvGauge& Gauge) { return Gauge.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QColor Pixel(const QImage& Image, int X, int Y) { return Image.pixelColor(X, Y); }

void Configure(TqvGauge& Gauge, TqvGaugeKind Kind, int Width, int Height, int Min, int Max, int Progress)
{
  QPalette palette = Gauge.palette();
  palette.setColor(QPalette::Window, Surround);
  Gauge.setPalette(palette);
  Gauge.resize(Width, Height);
  Gauge.SetKind(Kind);
  Gauge.SetMinValue(Min);
  Gauge.SetMaxValue(Max);
  Gauge.SetProgress(Progress);
}

bool RowHas(const QImage& Image, int Y, const QColor& Colour)
{
  for (int x = 0; x < Image.width(); ++x)
    if (Image.pixelColor(x, Y) == Colour) return true;
  return false;
}

bool ColumnHas(const QImage& Image, int X, const QColor& Colour)
{
  for (int y = 0; y < Image.height(); ++y)
    if (Image.pixelColor(X, y) == Colour) return true;
  return false;
}

// The box around the pixels that differ between two renderings of the same gauge.
QRect ChangedBox(const QImage& A, const QImage& B)
{
  QRect box;
  for (int y = 0; y < A.height(); ++y)
    for (int x = 0; x < A.width(); ++x)
      if (A.pixel(x, y) != B.pixel(x, y)) box |= QRect(x, y, 1, 1);
  return box;
}

bool BoxHas(const QImage& Image, const QRect& Box, const QColor& Colour)
{
  for (int y = Box.top(); y <= Box.bottom(); ++y)
    for (int x = Box.left(); x <= Box.right(); ++x)
      if (Image.pixelColor(x, y) == Colour) return true;
  return false;
}

}  // namespace

class TqvGaugeTest : public QObject {
  Q_OBJECT

 private slots:
  void roundHalfEven_data();
  void roundHalfEven();
  void computeExtent_data();
  void computeExtent();
  void text_data();
  void text();
  void defaults();

  void progressRepaint_data();
  void progressRepaint();
  void propertyWritesRepaintOnlyOnChange();

  void horizontalBarFillEdgeAndFrame();
  void barWithEqualBoundsShowsOnlyBackAndFrame();
  void verticalBarGrowsFromTheTop();
  void pieOutlineStaysInsideAndCornersShowTheWindowColour();
  void pieQuadrants_data();
  void pieQuadrants();
  void pieOnAWideGaugeFollowsTheRadialOfTheExtents();
  void textIsInvertedOverFillAndBack();
  void textIsCentredInTheWidgetsFont();
};

void TqvGaugeTest::roundHalfEven_data()
{
  QTest::addColumn<double>("value");
  QTest::addColumn<int>("expected");
  QTest::newRow("2.5 down to even") << 2.5 << 2;
  QTest::newRow("3.5 up to even") << 3.5 << 4;
  QTest::newRow("0.5") << 0.5 << 0;
  QTest::newRow("1.5") << 1.5 << 2;
  QTest::newRow("-0.5") << -0.5 << 0;
  QTest::newRow("-1.5") << -1.5 << -2;
  QTest::newRow("-2.5") << -2.5 << -2;
  QTest::newRow("just below a half") << 2.4999999 << 2;
  QTest::newRow("just above a half") << 2.5000001 << 3;
  QTest::newRow("negative, not a half") << -2.6 << -3;
  QTest::newRow("whole") << 7.0 << 7;
}

void TqvGaugeTest::roundHalfEven()
{
  QFETCH(double, value);
  QFETCH(int, expected);
  QCOMPARE(RoundHalfEven(value), expected);
}

void TqvGaugeTest::computeExtent_data()
{
  QTest::addColumn<int>("minValue");
  QTest::addColumn<int>("maxValue");
  QTest::addColumn<int>("progress");
  QTest::addColumn<int>("kind");
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("height");
  QTest::addColumn<double>("fraction");
  QTest::addColumn<int>("extentX");
  QTest::addColumn<int>("extentY");

  constexpr int H = qvgHorizontal, V = qvgVertical, P = qvgPie;
  constexpr int IntMin = std::numeric_limits<std::int32_t>::min();
  constexpr int IntMax = std::numeric_limits<std::int32_t>::max();
  QTest::newRow("pie at a quarter") << 0 << 100 << 25 << P << 100 << 100 << 0.25 << 50 << 0;
  QTest::newRow("pie at a half") << 0 << 100 << 50 << P << 100 << 100 << 0.5 << 0 << -50;
  QTest::newRow("pie at three quarters") << 0 << 100 << 75 << P << 100 << 100 << 0.75 << -50 << 0;
  QTest::newRow("pie full") << 0 << 100 << 100 << P << 100 << 100 << 1.0 << 0 << 50;
  QTest::newRow("pie empty") << 0 << 100 << 0 << P << 100 << 100 << 0.0 << 0 << 50;
  QTest::newRow("pie on a wide gauge") << 0 << 1000 << 125 << P << 200 << 100 << 0.125 << 71 << 35;
  QTest::newRow("12.5 pixels round to 12") << 0 << 1000 << 125 << H << 100 << 25 << 0.125 << 12 << 0;
  QTest::newRow("37.5 pixels round to 38") << 0 << 1000 << 375 << H << 100 << 25 << 0.375 << 38 << 0;
  QTest::newRow("progress dialog at 20000") << 0 << 100000 << 20000 << H << 385 << 25 << 0.2 << 77 << 0;
  QTest::newRow("progress dialog at 20300") << 0 << 100000 << 20300 << H << 385 << 25 << 0.203 << 78 << 0;
  QTest::newRow("vertical uses the height") << 0 << 100 << 50 << V << 385 << 25 << 0.5 << 0 << 12;
  QTest::newRow("vertical 7.5 rounds to 8") << 0 << 100 << 30 << V << 385 << 25 << 0.3 << 0 << 8;
  QTest::newRow("equal bounds") << 5 << 5 << 10 << H << 100 << 25 << 0.0 << 0 << 0;
  QTest::newRow("inverted bounds, progress between") << 10 << 0 << 5 << H << 100 << 25 << 0.0 << 0 << 0;
  QTest::newRow("inverted bounds, progress above") << 10 << 0 << 20 << H << 100 << 25 << 0.0 << 0 << 0;
  QTest::newRow("progress above max") << 0 << 100 << 150 << H << 385 << 25 << 1.0 << 385 << 0;
  QTest::newRow("progress below min") << 0 << 100 << -5 << H << 385 << 25 << 0.0 << 0 << 0;
  QTest::newRow("negative bounds") << -100 << 100 << 0 << H << 100 << 25 << 0.5 << 50 << 0;
  QTest::newRow("bounds spanning the whole int range") << IntMin << IntMax << 0 << H << 100 << 25
                                                       << (2147483648.0 / 4294967295.0) << 50 << 0;
}

void TqvGaugeTest::computeExtent()
{
  QFETCH(int, minValue);
  QFETCH(int, maxValue);
  QFETCH(int, progress);
  QFETCH(int, kind);
  QFETCH(int, width);
  QFETCH(int, height);
  QFETCH(double, fraction);
  QFETCH(int, extentX);
  QFETCH(int, extentY);

  const TqvGaugeExtent e = ComputeExtent(minValue, maxValue, progress, static_cast<TqvGaugeKind>(kind), width, height);
  QCOMPARE(e.Fraction, fraction);
  QCOMPARE(e.ExtentX, extentX);
  QCOMPARE(e.ExtentY, extentY);

  // The widget computes the same from its own fields and size.
  TqvGauge gauge;
  Configure(gauge, static_cast<TqvGaugeKind>(kind), width, height, minValue, maxValue, progress);
  QCOMPARE(gauge.Extent().ExtentX, extentX);
  QCOMPARE(gauge.Extent().ExtentY, extentY);
}

void TqvGaugeTest::text_data()
{
  QTest::addColumn<int>("textKind");
  QTest::addColumn<int>("minValue");
  QTest::addColumn<int>("maxValue");
  QTest::addColumn<int>("progress");
  QTest::addColumn<QString>("expected");
  QTest::newRow("none") << int(qvgtNone) << 0 << 100 << 37 << QString();
  QTest::newRow("percent") << int(qvgtPercent) << 0 << 100 << 37 << QStringLiteral("37%");
  QTest::newRow("12.5 percent reads 12") << int(qvgtPercent) << 0 << 1000 << 125 << QStringLiteral("12%");
  QTest::newRow("37.5 percent reads 38") << int(qvgtPercent) << 0 << 1000 << 375 << QStringLiteral("38%");
  QTest::newRow("above max") << int(qvgtPercent) << 0 << 100 << 150 << QStringLiteral("100%");
  QTest::newRow("below min") << int(qvgtPercent) << 0 << 100 << -3 << QStringLiteral("0%");
  QTest::newRow("equal bounds") << int(qvgtPercent) << 5 << 5 << 9 << QStringLiteral("0%");
  QTest::newRow("inverted bounds") << int(qvgtPercent) << 10 << 0 << 20 << QStringLiteral("0%");
  QTest::newRow("raw progress beyond the bounds") << int(qvgtProgress) << 0 << 100 << 150 << QStringLiteral("150");
  QTest::newRow("raw negative progress") << int(qvgtProgress) << 0 << 100 << -7 << QStringLiteral("-7");
}

void TqvGaugeTest::text()
{
  QFETCH(int, textKind);
  QFETCH(int, minValue);
  QFETCH(int, maxValue);
  QFETCH(int, progress);
  QFETCH(QString, expected);
  TqvGauge gauge;
  Configure(gauge, qvgHorizontal, 100, 25, minValue, maxValue, progress);
  gauge.SetTextKind(static_cast<TqvGaugeTextKind>(textKind));
  QCOMPARE(gauge.Text(), expected);
}

void TqvGaugeTest::defaults()
{
  TqvGauge gauge;
  QCOMPARE(gauge.MinValue(), 0);
  QCOMPARE(gauge.MaxValue(), 100);
  QCOMPARE(gauge.Progress(), 0);
  QCOMPARE(gauge.Kind(), qvgHorizontal);
  QCOMPARE(gauge.BackColor(), QColor(255, 255, 255));
  QCOMPARE(gauge.ForeColor(), QColor(0, 0, 128));
  QCOMPARE(gauge.FrameColor(), QColor(0, 0, 0));
  QCOMPARE(gauge.TextKind(), qvgtNone);
  QVERIFY(gauge.Text().isEmpty());
  // The text uses the font the gauge inherits; the application sets it.
  QVERIFY(!gauge.testAttribute(Qt::WA_SetFont));
}

void TqvGaugeTest::progressRepaint_data()
{
  QTest::addColumn<int>("kind");
  QTest::addColumn<int>("width");
  QTest::addColumn<int>("height");
  QTest::addColumn<int>("maxValue");
  QTest::addColumn<int>("from");
  QTest::addColumn<int>("to");
  QTest::addColumn<bool>("repaints");
  QTest::addColumn<bool>("percent");
  constexpr int H = qvgHorizontal, V = qvgVertical, P = qvgPie;
  QTest::newRow("horizontal, ExtentX 77 to 78") << H << 385 << 25 << 100000 << 20000 << 20300 << true << false;
  QTest::newRow("horizontal, ExtentX stays 77") << H << 385 << 25 << 100000 << 20000 << 20001 << false << false;
  QTest::newRow("horizontal, same value") << H << 385 << 25 << 100000 << 20000 << 20000 << false << false;
  // 385 x 25: ExtentX would move, ExtentY (5) does not.
  QTest::newRow("vertical ignores ExtentX") << V << 385 << 25 << 100000 << 20000 << 20300 << false << false;
  QTest::newRow("vertical, ExtentY 77 to 78") << V << 25 << 385 << 100000 << 20000 << 20300 << true << false;
  QTest::newRow("pie, only ExtentY moves") << P << 100 << 100 << 100 << 25 << 26 << true << false;
  QTest::newRow("pie, only ExtentX moves") << P << 100 << 100 << 1000 << 0 << 10 << true << false;
  QTest::newRow("pie, neither moves") << P << 100 << 100 << 100000 << 25000 << 25001 << false << false;
  // With the percentage: a new text repaints though no extent moves, and so does a pie whose
  // disc fills while its extents come back to where they began (a scan of 1999 sectors).
  QTest::newRow("pie, 16% to 17%, extents stay") << P << 100 << 100 << 1000 << 165 << 166 << true << true;
  QTest::newRow("pie, empty to full, extents stay") << P << 100 << 100 << 1999 << 0 << 1999 << true << true;
  QTest::newRow("pie, empty to full, no text") << P << 100 << 100 << 1999 << 0 << 1999 << true << false;
  QTest::newRow("horizontal, 12% to 13%, ExtentX stays 48") << H << 385 << 25 << 10000 << 1245 << 1255 << true << true;
  QTest::newRow("pie, 25% stays, nothing moves") << P << 100 << 100 << 100000 << 25000 << 25001 << false << true;
}

void TqvGaugeTest::progressRepaint()
{
  QFETCH(int, kind);
  QFETCH(int, width);
  QFETCH(int, height);
  QFETCH(int, maxValue);
  QFETCH(int, from);
  QFETCH(int, to);
  QFETCH(bool, repaints);
  QFETCH(bool, percent);

  CountingGauge gauge;
  Configure(gauge, static_cast<TqvGaugeKind>(kind), width, height, 0, maxValue, from);
  if (percent) gauge.SetTextKind(qvgtPercent);
  QVERIFY(ShowAndSettle(gauge));

  gauge.SetProgress(to);
  QCOMPARE(gauge.Progress(), to);
  if (repaints) {
    QTRY_COMPARE(gauge.Paints, 1);
  } else {
    QTest::qWait(50);
    QCOMPARE(gauge.Paints, 0);
  }
}

void TqvGaugeTest::propertyWritesRepaintOnlyOnChange()
{
  struct Write {
    const char* Name;
    std::function<void(TqvGauge&)> Same;
    std::function<void(TqvGauge&)> Different;
  };
  const Write writes[] = {
      {"MinValue", [](TqvGauge& g) { g.SetMinValue(0); }, [](TqvGauge& g) { g.SetMinValue(1); }},
      {"MaxValue", [](TqvGauge& g) { g.SetMaxValue(100); }, [](TqvGauge& g) { g.SetMaxValue(99); }},
      {"Kind", [](TqvGauge& g) { g.SetKind(qvgHorizontal); }, [](TqvGauge& g) { g.SetKind(qvgPie); }},
      {"BackColor", [](TqvGauge& g) { g.SetBackColor(White); }, [](TqvGauge& g) { g.SetBackColor(Qt::yellow); }},
      {"ForeColor", [](TqvGauge& g) { g.SetForeColor(Navy); }, [](TqvGauge& g) { g.SetForeColor(Qt::red); }},
      {"FrameColor", [](TqvGauge& g) { g.SetFrameColor(Black); }, [](TqvGauge& g) { g.SetFrameColor(Qt::gray); }},
      {"TextKind", [](TqvGauge& g) { g.SetTextKind(qvgtNone); },
       [](TqvGauge& g) { g.SetTextKind(qvgtPercent); }},
      {"Progress", [](TqvGauge& g) { g.SetProgress(0); }, [](TqvGauge& g) { g.SetProgress(50); }},
  };
  for (const Write& write : writes) {
    CountingGauge gauge;
    gauge.resize(100, 25);
    QVERIFY(ShowAndSettle(gauge));

    write.Same(gauge);
    QTest::qWait(50);
    QVERIFY2(gauge.Paints == 0, write.Name);
    write.Different(gauge);
    QTRY_VERIFY2(gauge.Paints == 1, write.Name);
  }
}

void TqvGaugeTest::horizontalBarFillEdgeAndFrame()
{
  TqvGauge gauge;
  Configure(gauge, qvgHorizontal, 385, 25, 0, 100, 20);  // ExtentX 77
  const QImage image = Render(gauge);
  QCOMPARE(image.size(), QSize(385, 25));
  QCOMPARE(Pixel(image, 1, 12), Navy);
  QCOMPARE(Pixel(image, 76, 12), Navy);
  QCOMPARE(Pixel(image, 77, 12), White);
  QCOMPARE(Pixel(image, 383, 12), White);
  // The frame lies over the fill and the back along all four edges.
  QCOMPARE(Pixel(image, 0, 12), Black);
  QCOMPARE(Pixel(image, 384, 12), Black);
  QCOMPARE(Pixel(image, 40, 0), Black);
  QCOMPARE(Pixel(image, 40, 24), Black);
  QCOMPARE(Pixel(image, 200, 0), Black);
  QCOMPARE(Pixel(image, 200, 24), Black);
  QCOMPARE(Pixel(image, 40, 1), Navy);
  QCOMPARE(Pixel(image, 40, 23), Navy);

  gauge.SetProgress(150);
  const QImage full = Render(gauge);
  QCOMPARE(Pixel(full, 383, 12), Navy);
  QCOMPARE(Pixel(full, 384, 12), Black);
}

void TqvGaugeTest::barWithEqualBoundsShowsOnlyBackAndFrame()
{
  TqvGauge gauge;
  Configure(gauge, qvgHorizontal, 100, 25, 50, 50, 80);
  QImage image = Render(gauge);
  QCOMPARE(Pixel(image, 1, 12), White);
  QCOMPARE(Pixel(image, 98, 12), White);
  QCOMPARE(Pixel(image, 0, 12), Black);

  gauge.SetMinValue(60);  // inverted bounds: fraction 0 for every progress
  gauge.SetMaxValue(10);
  image = Render(gauge);
  QCOMPARE(Pixel(image, 1, 12), White);
  QCOMPARE(Pixel(image, 50, 12), White);
}

void TqvGaugeTest::verticalBarGrowsFromTheTop()
{
  TqvGauge gauge;
  Configure(gauge, qvgVertical, 30, 100, 0, 100, 25);  // ExtentY 25
  const QImage image = Render(gauge);
  QCOMPARE(Pixel(image, 15, 1), Navy);
  QCOMPARE(Pixel(image, 15, 24), Navy);
  QCOMPARE(Pixel(image, 15, 25), White);
  QCOMPARE(Pixel(image, 15, 98), White);
  QCOMPARE(Pixel(image, 15, 0), Black);
  QCOMPARE(Pixel(image, 15, 99), Black);
  QCOMPARE(Pixel(image, 0, 50), Black);
  QCOMPARE(Pixel(image, 29, 50), Black);
}

void TqvGaugeTest::pieOutlineStaysInsideAndCornersShowTheWindowColour()
{
  TqvGauge gauge;
  Configure(gauge, qvgPie, 100, 100, 0, 100, 0);
  const QImage image = Render(gauge);
  QCOMPARE(Pixel(image, 0, 0), Surround);
  QCOMPARE(Pixel(image, 99, 0), Surround);
  QCOMPARE(Pixel(image, 0, 99), Surround);
  QCOMPARE(Pixel(image, 99, 99), Surround);
  // The outline touches all four edges of the widget, so none of it was cut off.
  QVERIFY(RowHas(image, 0, Black));
  QVERIFY(RowHas(image, 99, Black));
  QVERIFY(ColumnHas(image, 0, Black));
  QVERIFY(ColumnHas(image, 99, Black));
  // An empty pie is symmetric: an outline drawn one pixel too large would lose its right and
  // bottom edges to the widget's border.
  QCOMPARE(image.mirrored(true, false), image);
  QCOMPARE(image.mirrored(false, true), image);
  QCOMPARE(Pixel(image, 50, 50), White);
}

void TqvGaugeTest::pieQuadrants_data()
{
  QTest::addColumn<int>("minValue");
  QTest::addColumn<int>("maxValue");
  QTest::addColumn<int>("progress");
  QTest::addColumn<bool>("upperRight");
  QTest::addColumn<bool>("lowerRight");
  QTest::addColumn<bool>("lowerLeft");
  QTest::addColumn<bool>("upperLeft");
  QTest::newRow("a quarter fills the upper right") << 0 << 100 << 25 << true << false << false << false;
  QTest::newRow("three quarters leave the upper left") << 0 << 100 << 75 << true << true << true << false;
  // At exactly one half ExtentX is 0 and 2 x Progress is not above the sum of the bounds; the
  // gauge draws the half disc there.
  QTest::newRow("one half fills the right half") << 0 << 100 << 50 << true << true << false << false;
  QTest::newRow("empty at fraction 0") << 0 << 100 << 0 << false << false << false << false;
  QTest::newRow("below min is empty") << 0 << 100 << -20 << false << false << false << false;
  QTest::newRow("full at max") << 0 << 100 << 100 << true << true << true << true;
  QTest::newRow("full above max") << 0 << 100 << 250 << true << true << true << true;
  QTest::newRow("full once ExtentX rounds to 0 near the end") << 0 << 1000 << 999 << true << true << true << true;
  QTest::newRow("equal bounds, progress above: full disc") << 40 << 40 << 41 << true << true << true << true;
  QTest::newRow("equal bounds, progress at them: empty") << 40 << 40 << 40 << false << false << false << false;
  QTest::newRow("inverted bounds past their middle: full disc") << 10 << 0 << 6 << true << true << true << true;
  QTest::newRow("inverted bounds below their middle: empty") << 10 << 0 << 4 << false << false << false << false;
}

void TqvGaugeTest::pieQuadrants()
{
  QFETCH(int, minValue);
  QFETCH(int, maxValue);
  QFETCH(int, progress);
  QFETCH(bool, upperRight);
  QFETCH(bool, lowerRight);
  QFETCH(bool, lowerLeft);
  QFETCH(bool, upperLeft);

  TqvGauge gauge;
  Configure(gauge, qvgPie, 100, 100, minValue, maxValue, progress);
  const QImage image = Render(gauge);
  // Points well inside each quadrant, away from the wedge's radial lines.
  QCOMPARE(Pixel(image, 75, 25), upperRight ? Navy : White);
  QCOMPARE(Pixel(image, 75, 75), lowerRight ? Navy : White);
  QCOMPARE(Pixel(image, 25, 75), lowerLeft ? Navy : White);
  QCOMPARE(Pixel(image, 25, 25), upperLeft ? Navy : White);
  QCOMPARE(Pixel(image, 0, 0), Surround);
}

void TqvGaugeTest::pieOnAWideGaugeFollowsTheRadialOfTheExtents()
{
  // 12.5% on 200 x 100: the wedge ends on the radial through (100 + 71, 50 - 35), about 26 degrees
  // above three o'clock, not at 45 degrees.
  TqvGauge gauge;
  Configure(gauge, qvgPie, 200, 100, 0, 1000, 125);
  const QImage image = Render(gauge);
  QCOMPARE(Pixel(image, 154, 17), Navy);   // just before the radial, 31 degrees above three o'clock
  QCOMPARE(Pixel(image, 160, 27), White);  // just past it
  QCOMPARE(Pixel(image, 110, 10), Navy);
  QCOMPARE(Pixel(image, 90, 10), White);
}

void TqvGaugeTest::textIsInvertedOverFillAndBack()
{
  TqvGauge gauge;
  Configure(gauge, qvgHorizontal, 385, 60, 0, 100, 100);
  QFont font = gauge.font();
  font.setPixelSize(30);
  gauge.setFont(font);
  const QImage plainFull = Render(gauge);
  gauge.SetTextKind(qvgtPercent);
  const QImage full = Render(gauge);
  const QRect glyphs = ChangedBox(plainFull, full);
  QVERIFY(!glyphs.isEmpty());
  // Over navy the glyphs show navy's complement; nothing else changed colour.
  QVERIFY(BoxHas(full, glyphs, QColor(255, 255, 127)));
  QVERIFY(!RowHas(plainFull, glyphs.center().y(), QColor(255, 255, 127)));
  QVERIFY(glyphs.width() < 385 / 2);
  QVERIFY(glyphs.height() < 60);

  gauge.SetProgress(0);
  gauge.SetTextKind(qvgtNone);
  const QImage plainEmpty = Render(gauge);
  gauge.SetTextKind(qvgtPercent);
  const QImage empty = Render(gauge);
  const QRect emptyGlyphs = ChangedBox(plainEmpty, empty);
  QVERIFY(!emptyGlyphs.isEmpty());
  QVERIFY(BoxHas(empty, emptyGlyphs, Black));
  QVERIFY(emptyGlyphs.width() < glyphs.width());  // "0%" is narrower than "100%"
}

void TqvGaugeTest::textIsCentredInTheWidgetsFont()
{
  const auto glyphBox = [](int PixelSize) {
    TqvGauge gauge;
    Configure(gauge, qvgHorizontal, 385, 80, 0, 100, 0);
    QFont font = gauge.font();
    font.setPixelSize(PixelSize);
    gauge.setFont(font);
    gauge.SetProgress(150);
    const QImage plain = Render(gauge);
    gauge.SetTextKind(qvgtProgress);
    return ChangedBox(plain, Render(gauge));
  };
  const QRect small = glyphBox(12);
  const QRect large = glyphBox(40);
  QVERIFY(!small.isEmpty());
  QVERIFY(large.height() > 2 * small.height());
  for (const QRect& box : {small, large}) {
    QVERIFY2(qAbs(box.center().x() - 192) <= 3, qPrintable(QString::number(box.center().x())));
    // Digits sit above the descent of the text cell that is centred, so allow a few pixels upward.
    QVERIFY2(box.center().y() <= 40 && box.center().y() >= 40 - box.height() / 2,
             qPrintable(QString::number(box.center().y())));
  }
}

}  // namespace kx::ui

QTEST_MAIN(kx::ui::TqvGaugeTest)
#include "qvGaugeTest.moc"
