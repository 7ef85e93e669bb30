// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/AdjustRes.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QImage>

#include <optional>

namespace kx::ui {

namespace {

std::optional<QCursor> Adjust;

// A cursor holds pixmaps, which must go before the application object does; a static's
// destructor would run after it.
void ReleaseAdjust() { Adjust.reset(); }

QCursor BuildAdjust()
{
  // One bit per pixel: in the picture 1 is black; in the mask 1 is drawn, 0 transparent.
  QImage picture(AdjustCursorSize, AdjustCursorSize, QImage::Format_MonoLSB);
  QImage mask(AdjustCursorSize, AdjustCursorSize, QImage::Format_MonoLSB);
  // Index 1 is black, which a bitmap takes as its set bit.
  const QList<QRgb> colours{qRgb(255, 255, 255), qRgb(0, 0, 0)};
  picture.setColorTable(colours);
  mask.setColorTable(colours);
  picture.fill(0);
  mask.fill(0);
  int y = 0;
  for (const char* row : AdjustCursorRows) {
    for (int x = 0; row[x] != '\0'; ++x) {
      if (row[x] == '.') continue;
      mask.setPixel(x, y, 1);
      if (row[x] == 'X') picture.setPixel(x, y, 1);
    }
    ++y;
  }
  return QCursor(QBitmap::fromImage(picture), QBitmap::fromImage(mask), AdjustHotX, AdjustHotY);
}

}  // namespace

const QCursor& AdjustCursor()
{
  if (!Adjust) {
    Adjust = BuildAdjust();
    qAddPostRoutine(ReleaseAdjust);
  }
  return *Adjust;
}

}  // namespace kx::ui
