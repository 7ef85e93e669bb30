// SPDX-License-Identifier: GPL-3.0-or-later
// Small pieces the windows share: the fonts of the list and the dialogs, and the lamp square
// that blinks while a worker is busy.
#pragma once

#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QWidget>

#include <cstdint>
#include <initializer_list>
#include <string>

class QPushButton;
class QTimer;

namespace kx::ui {


// The windows' font: Tahoma where it is installed, else the desktop's sans-serif family.
QFont SansFont(qreal PointSize = 8);
// The number columns' font: Courier New where installed, else the desktop's monospace family.
QFont MonoFont(qreal PointSize = 8);
// A named face where installed, else Fallback with that face's size.
QFont FontOrFallback(const QString& Family, const QFont& Fallback);

// What every dialog of the program shares: its name, caption, the windows' font, a client area of
// a fixed size, and, when given, its background colour.
void SetUpDialog(QWidget& Dialog, const QString& Name, const QString& Caption, QSize ClientSize,
                 const QColor& Background = QColor());

// A background colour of the form's own, and with it the colour of the text drawn on it (black),
// so that a dark desktop palette does not draw light text on a light window.
void FixBackground(QWidget& Widget, const QColor& Background);

// A group box as the forms show it: an etched frame whose top line runs through the middle of
// the caption, the caption on the frame, and nothing filled inside, so that what it holds stands
// on the window's own background.
class TGroupBox : public QGroupBox {
 public:
  TGroupBox(const QString& Title, QWidget* Parent);

 protected:
  void paintEvent(QPaintEvent* Event) override;
};

// Gives Window a client area of Wanted where its screen's free area has room for it with a frame
// around, else as much as there is (never below its minimum size), and places it centred there,
// or at the area's top left where even that is too large: at large scale factors a window of a
// fixed size would reach past the screen's edge with its buttons.
void PlaceOnScreen(QWidget& Window, QSize Wanted);

// The program's own icon NAME (":/icons/NAME.svg"), drawn sharp at the sizes a toolbar and a
// title bar use.
QIcon LoadIcon(const QString& Name);

// While it exists, the person's input reaches Window only through Allowed (a progress window),
// as if a command that runs on a worker ran on this thread: the window keeps painting, and what
// the command works on cannot change under it. Other windows of the program stay usable.
class TWindowInputBlocker : public QObject {
 public:
  TWindowInputBlocker(QWidget& Window_, QWidget* Allowed_);
  ~TWindowInputBlocker() override;
  TWindowInputBlocker(const TWindowInputBlocker&) = delete;
  TWindowInputBlocker& operator=(const TWindowInputBlocker&) = delete;

  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  QWidget& Window;
  QWidget* Allowed;
};

// Keeps Alt combinations from typing into the text fields of the program's windows: Alt+X, which
// no menu title takes, would otherwise put an "x" into the location field unseen. Installed on the
// application. Control keys pass (Alt+Backspace), and so does Ctrl+Alt, which is how AltGr reaches
// a program on some desktops.
class TAltTypingFilter : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
};

// The hourglass while it exists, on every way out of the scope.
class TWaitCursor {
 public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Where a face other than the one a window was laid out for is drawn (DejaVu Sans is wider than
// Tahoma and Arial), a word-wrapped label takes up to MaxHeight pixels and a smaller size of its
// face until its text fits its width.
void FitWrappedText(QLabel* Label, int MaxHeight);

// The controls of the forms, set up alike. Name, when given, is the object name by which tests
// and the end-to-end test find the control.
// An empty label of one line of text at Geometry, for text a window sets as it works.
// Its text is plain: the lines name files, which a label would otherwise take for rich text.
template <class TLabel = QLabel>
TLabel* MakeTextLine(QWidget* Parent, const QString& Name, const QRect& Geometry)
{
  auto* label = new TLabel(Parent);
  label->setObjectName(Name);
  label->setGeometry(Geometry);
  label->setTextFormat(Qt::PlainText);
  return label;
}
// A label at At, as wide and high as its text.
QLabel* MakeLabel(QWidget* Parent, const QString& Text, QPoint At, bool Bold = false, const QString& Name = {});

enum class TButtonRole : std::uint8_t {
  Normal,         // as the dialog has it
  Default,        // Enter presses it
  NotByEnter,     // Enter never presses it, even while it has the focus
};
QPushButton* MakeButton(QWidget* Parent, const QString& Name, const QString& Text, const QRect& Geometry,
                        TButtonRole Role = TButtonRole::Normal);


// The left edge of a column of values beside Captions: X, or further right where a caption's
// text is wider than the room left for it, so that no caption runs into its value.
int ValueColumn(std::initializer_list<const QLabel*> Captions, int X);

// A one-line label whose text, where it is wider than the label, is shown with its middle cut
// ("Source: 'D:', target: '/home/me/…/disk.iso' - Complete"), so that its start and its end stay
// in view; the whole text is then its tooltip.
class TFittedLabel : public QLabel {
 public:
  explicit TFittedLabel(QWidget* Parent) : QLabel(Parent) {}
  // The text as it is drawn.
  QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  bool event(QEvent* Event) override;
};

// A rectangle filled with Brush and outlined with a one-pixel black pen.
class TShape : public QWidget {
  Q_OBJECT

 public:
  explicit TShape(QWidget* Parent = nullptr);
  QColor Brush() const { return FBrush; }
  void SetBrush(const QColor& Color);

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  QColor FBrush;
};

// Colours the lamps and labels use, as the desktop colour names they stand for.
inline const QColor clSilver(0xC0, 0xC0, 0xC0);
inline const QColor clRed(0xFF, 0x00, 0x00);
inline const QColor clOrange(0xFF, 0x80, 0x00);  // Windows value 0x0080FF
inline const QColor clNavy(0x00, 0x00, 0x80);

// The next colour of a lamp that blinks while Busy: silver at rest, else red and orange in turn.
QColor NextLampColor(const QColor& Current, bool Busy);

// The lamp of a progress dialog, silver at rest, and the timer that makes it blink (every
// 250 ms, not started).
TShape* MakeLamp(QWidget* Parent, const QRect& Geometry);
QTimer* MakeBlinkTimer(QObject* Parent);

}  // namespace kx::ui
