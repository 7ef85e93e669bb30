// SPDX-License-Identifier: GPL-3.0-or-later
// A one-line edit that holds a number as its text: it lets in only the characters of a number,
// keeps the value within optional bounds, writes it back tidily when the focus leaves, and
// steps it with the mouse wheel.
#pragma once

#include <QLineEdit>

namespace kx::ui {

// The decimal separator of the user's locale as it is now.
char32_t LocaleDecimalSeparator();

class TNumberEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TNumberEdit(QWidget* Parent = nullptr);

  // The bounds apply only while Min < Max; a new edit has none.
  double Min = 0;
  double Max = 0;
  // One wheel notch, and one pixel of dragging on an attached adjust label.
  double Increment = 1;

  // The text read as a number in the user's locale, then bounded; the text is the value.
  double Value() const;
  // Bounds V and writes it in the general format with 15 significant digits.
  void SetValue(double V);

 protected:
  void keyPressEvent(QKeyEvent* Event) override;
  void inputMethodEvent(QInputMethodEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
};

}  // namespace kx::ui
