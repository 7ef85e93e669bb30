// SPDX-License-Identifier: GPL-3.0-or-later
// The caption of a number edit that changes the edit's value when dragged sideways: one
// increment of the edit per pixel, right raising it and left lowering it.
#pragma once

#include <QLabel>

namespace kx::ui {

class TNumberEdit;

class TAdjustLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TAdjustLabel(const QString& Caption, QWidget* Parent = nullptr);

  // Not owned, and not watched: the edit must outlive the label, as the two controls of a
  // dialog do. May be empty, and then a drag changes nothing.
  TNumberEdit* AttachedEdit = nullptr;

  bool Dragging = false;  // a drag with the left button is under way
  int LastX = 0;          // the pointer's x, in the label's coordinates, at the drag's last step

 protected:
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
};

}  // namespace kx::ui
