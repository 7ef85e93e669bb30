// SPDX-License-Identifier: GPL-3.0-or-later
// The progress gauge of the two progress dialogs: a bar (horizontal or vertical) or a pie wedge
// showing where Progress lies between MinValue and MaxValue, with an optional centred text drawn
// in the inverse colour of whatever lies under it.
#pragma once

#include <QColor>
#include <QWidget>

#include <cstdint>

namespace kx::ui {

enum TqvGaugeKind : std::uint8_t { qvgHorizontal = 0, qvgVertical = 1, qvgPie = 2 };
enum TqvGaugeTextKind : std::uint8_t { qvgtNone = 0, qvgtPercent = 1, qvgtProgress = 2 };

// A colour given as a Windows colour value 0x00BBGGRR.
QColor WinColor(std::uint32_t BGR);

struct TqvGaugeExtent {
  double Fraction = 0;    // 0..1
  std::int32_t ExtentX = 0;
  std::int32_t ExtentY = 0;
};

// The fraction filled and the pixel extents of a gauge of the given size; only the extents the
// kind uses are computed, the other stays 0. Halves round to the even neighbour.
TqvGaugeExtent ComputeExtent(std::int32_t MinValue, std::int32_t MaxValue, std::int32_t Progress, TqvGaugeKind Kind,
                             std::int32_t Width, std::int32_t Height);

// rnd(v): the nearest integer, a half resolved to the even neighbour.
std::int32_t RoundHalfEven(double V);

class TqvGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TqvGauge(QWidget* Parent = nullptr);

  std::int32_t MinValue() const { return FMinValue; }
  std::int32_t MaxValue() const { return FMaxValue; }
  std::int32_t Progress() const { return FProgress; }
  TqvGaugeKind Kind() const { return FKind; }
  QColor BackColor() const { return FBackColor; }
  QColor ForeColor() const { return FForeColor; }
  QColor FrameColor() const { return FFrameColor; }
  TqvGaugeTextKind TextKind() const { return FTextKind; }

  // Each stores a different value and schedules a repaint; the same value does nothing.
  void SetMinValue(std::int32_t Value);
  void SetMaxValue(std::int32_t Value);
  void SetKind(TqvGaugeKind Value);
  void SetBackColor(const QColor& Value);
  void SetForeColor(const QColor& Value);
  void SetFrameColor(const QColor& Value);
  void SetTextKind(TqvGaugeTextKind Value);
  // Stored unclamped; repaints only when an extent that the kind draws, the pie's wedge or the
  // text has changed.
  void SetProgress(std::int32_t Value);

  // The fraction and extents for the current fields and size.
  TqvGaugeExtent Extent() const;
  // The text drawn over the gauge ("37%", "150"); empty for qvgtNone.
  QString Text() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  // Stores a different value and schedules a repaint.
  template <class T>
  void Change(T& Field, const T& Value);
  // Whether a pie with these extents shows a wedge (or the whole disc) at the current Progress.
  bool PieWedge(const TqvGaugeExtent& E) const;

  QColor FForeColor;
  std::int32_t FMinValue = 0;
  QColor FBackColor;
  TqvGaugeKind FKind = qvgHorizontal;
  std::int32_t FProgress = 0;
  std::int32_t FMaxValue = 100;
  QColor FFrameColor;
  TqvGaugeTextKind FTextKind = qvgtNone;
};

// The gauge of a progress dialog: white background, navy bar or pie, black frame, the
// percentage as its text, counting from 0.
TqvGauge* MakeProgressGauge(QWidget* Parent, const QString& Name, const QRect& Geometry, TqvGaugeKind Kind);

}  // namespace kx::ui
