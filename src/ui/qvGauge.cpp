#include "ui/qvGauge.h"

namespace kx::ui {

QColor WinColor(std::uint32_t BGR) { return QColor(BGR & 0xFF, (BGR >> 8) & 0xFF, (BGR >> 16) & 0xFF); }

TqvGauge::TqvGauge(QWidget* Parent) : QWidget(Parent) {}

}  // namespace kx::ui
