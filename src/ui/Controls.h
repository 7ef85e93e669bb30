// Small pieces the windows share: the fonts of the list and the dialogs, and the lamp square
// that blinks while a worker is busy.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QWidget>

#include <initializer_list>

class QLabel;

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

// The program's own icon NAME (":/icons/NAME.svg"), drawn sharp at the sizes a toolbar and a
// title bar use.
QIcon LoadIcon(const QString& Name);

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

// The left edge of a column of values beside Captions: X, or further right where a caption's
// text is wider than the room left for it, so that no caption runs into its value.
int ValueColumn(std::initializer_list<const QLabel*> Captions, int X);

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

}  // namespace kx::ui
