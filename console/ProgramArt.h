// The console's own pictures, drawn in code: the program icon and the
// decorative picture at the lower right of the main window (131 x 50 pixels).
//
// Thread safety: GUI thread only (pixmaps).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace console {

QIcon programIcon();
// The program icon drawn at size x size pixels (the desktop's icons come from it).
QPixmap programIconPixmap(int size);
// Exactly kPictureWidth x kPictureHeight pixels.
QPixmap unitPicture();
inline constexpr int kPictureWidth = 131;
inline constexpr int kPictureHeight = 50;

}  // namespace console
