// SPDX-License-Identifier: GPL-3.0-or-later
// The adjust cursor: a horizontal double arrow through two short bars, shown over the captions
// that change a number when dragged.
#pragma once

#include <QCursor>

namespace kx::ui {

// The cursor, built on first use and kept until the application object ends. Needs the
// application object.
const QCursor& AdjustCursor();

// The cursor's picture, one string per row from the top: 'X' black, 'o' white, '.' transparent.
// The picture lies in the top-left corner of the 32 x 32 cursor.
inline constexpr int AdjustCursorSize = 32;
inline constexpr int AdjustHotX = 9;
inline constexpr int AdjustHotY = 6;
inline constexpr const char* AdjustCursorRows[] = {
    ".......oooooo.......",
    ".......oXooXo.......",
    "...ooo.oXooXo.ooo...",
    "..ooXo.oXooXo.oXoo..",
    ".ooXXo.oXooXo.oXXoo.",
    "ooXXXoooXooXoooXXXoo",
    "oXXXXXXXXXXXXXXXXXXo",  // the shaft; the hotspot lies on it between the bars
    "ooXXXoooXooXoooXXXoo",
    ".ooXXo.oXooXo.oXXoo.",
    "..ooXo.oXooXo.oXoo..",
    "...ooo.oXooXo.ooo...",
    ".......oXooXo.......",
    ".......oooooo.......",
};

}  // namespace kx::ui
