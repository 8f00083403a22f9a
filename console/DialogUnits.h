// Dialog units -> pixels, from the dialog font's metrics, so every window keeps
// the proportions of its layout table.
//
// The classic rule: the horizontal base unit is the font's average character
// width (the width of "A".."Z" "a".."z" divided by 52, rounded), the vertical one
// its character height; x and widths are dlu * base / 4, y and heights
// dlu * base / 8, each rounded to the nearest pixel.
//
// The fonts the layout tables name ("MS Shell Dlg" 8, "MS Sans Serif", "Arial",
// "Tahoma") are mapped to metric-compatible fonts (Liberation Sans).
//
// Thread safety: GUI thread only (fonts need the application's font database).
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

class DialogUnits {
public:
    // Base units of the dialog font of the layout tables ("MS Shell Dlg" 8).
    DialogUnits();
    explicit DialogUnits(const QFont& dialogFont);
    // Known base units (for a font measured elsewhere).
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    // The font the layout tables name, mapped to an installed metric-compatible
    // one. height follows the window system's rule: negative = character (em)
    // height in pixels, positive = cell height (ascent + descent) in pixels.
    static QFont mapFont(const QString& family, int height, int weight = QFont::Normal);
    // "MS Shell Dlg" 8 at 96 dots per inch: a character height of 11 pixels.
    static QFont dialogFont();

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }

    int x(int dlu) const;  // horizontal positions and widths
    int y(int dlu) const;  // vertical positions and heights
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

private:
    int baseX_;
    int baseY_;
};
